#include <Korvan/BasicTools.h>

#include "ReportRecorder.h"

#include <Tolm/File.h>

#include <gtest/gtest.h>

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <random>
#include <string>
#include <vector>

namespace {

using Korvan::CByteArray;
using Korvan::testing::CReportRecorder;

CByteArray bytes(std::initializer_list<int> values) {
    CByteArray array;
    for (const int value : values) array.Add(static_cast<unsigned char>(value));
    return array;
}

// ---------------------------------------------------------------- Compare

TEST(CompareTest, OrdersByFirstDifferenceThenByCount) {
    struct Case {
        CByteArray left, right;
        int expected;
    };
    const Case cases[] = {
        {bytes({}), bytes({}), 0},
        {bytes({1, 2}), bytes({1, 2}), 0},
        {bytes({1, 2}), bytes({1, 2, 3}), -1},
        {bytes({1, 2, 3, 4}), bytes({1, 2}), 2},
        {bytes({}), bytes({9, 9, 9}), -3},
        {bytes({1}), bytes({2, 0, 0}), -1},
        {bytes({0x80}), bytes({0x7F}), 1},
        {bytes({0xFF, 0}), bytes({0x00, 0xFF}), 1},
    };
    for (const Case& c : cases) EXPECT_EQ(c.expected, Korvan::Compare(c.left, c.right));
}

TEST(CompareTest, ComparesArraysBeyondTheirInlineRoom) {
    CByteArray left;
    CByteArray right;
    for (int i = 0; i < 100; ++i) {
        left.Add(static_cast<unsigned char>(i));
        right.Add(static_cast<unsigned char>(i));
    }
    EXPECT_EQ(0, Korvan::Compare(left, right));
    right[70] = 200;
    EXPECT_EQ(-1, Korvan::Compare(left, right));
    EXPECT_EQ(1, Korvan::Compare(right, left));
}

// ---------------------------------------------------------------- Scans

// The plain position-by-position scans the fast ones must agree with.
int naiveScanTo(const std::string& buffer, int length, const std::string& pattern) {
    const int k = static_cast<int>(pattern.size());
    for (int i = 0; i + k <= length; ++i) {
        if (buffer.compare(static_cast<std::size_t>(i), pattern.size(), pattern) == 0) return i;
    }
    return -1;
}

int naiveScanBackTo(const std::string& buffer, int position, const std::string& pattern) {
    const int k = static_cast<int>(pattern.size());
    for (int start = position - k + 1; start >= 0; --start) {
        if (buffer.compare(static_cast<std::size_t>(start), pattern.size(), pattern) == 0) return start;
    }
    return -1;
}

Tolm::CString pat(const std::string& text) {
    return Tolm::CString(text.data(), static_cast<int>(text.size()));
}

TEST(ScanTest, ForwardCases) {
    struct Case {
        std::string buffer;
        int length;
        std::string pattern;
        int expected;
    };
    const Case cases[] = {
        {"abcabc", 6, "bc", 1},
        {"abcabc", 2, "bc", -1},  // the match would end at byte 2
        {"abcabc", 3, "bc", 1},
        {"abcabc", 6, "abcabc", 0},
        {"abcabc", 6, "abcabcd", -1},
        {"abcabc", 6, "c", 2},
        {"abcabc", 6, "x", -1},
        {"aaab", 4, "aab", 1},
        {std::string("\0\xff\0\xff", 4), 4, std::string("\xff\0", 2), 1},
        {std::string(40, 'a') + "startxref", 49, "startxref", 40},
        {std::string(40, 'a') + "startxref", 48, "startxref", -1},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.expected, Korvan::ScanTo(c.buffer.data(), c.length, pat(c.pattern)))
            << c.buffer << " / " << c.pattern << " / " << c.length;
    }
}

TEST(ScanTest, BackwardCases) {
    struct Case {
        std::string buffer;
        int position;
        std::string pattern;
        int expected;
    };
    const Case cases[] = {
        {"abcabc", 5, "bc", 4},
        {"abcabc", 4, "bc", 1},  // the match at 4 ends after the position
        {"abx", 2, "ab", 0},
        {"abx", 0, "ab", -1},  // position below the pattern length minus one
        {"abcabc", 5, "abcabc", 0},
        {"abcabc", 5, "a", 3},
        {"baaa", 3, "baa", 0},
        {std::string("\0\xff\0\xff", 4), 3, std::string("\0\xff", 2), 2},
        {"%%EOF" + std::string(40, 'x') + "%%EOF", 49, "%%EOF", 45},
        {"%%EOF" + std::string(40, 'x') + "%%EOF", 48, "%%EOF", 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.expected, Korvan::ScanBackTo(c.buffer.data(), c.position, pat(c.pattern)))
            << c.buffer << " / " << c.pattern << " / " << c.position;
    }
}

TEST(ScanTest, RangesThatHoldNoMatchAreNotRead) {
    // A null buffer would fault on any read.
    EXPECT_EQ(-1, Korvan::ScanTo(nullptr, 2, pat("abc")));
    EXPECT_EQ(-1, Korvan::ScanTo(nullptr, 0, pat("a")));
    EXPECT_EQ(-1, Korvan::ScanTo(nullptr, -5, pat("a")));
    EXPECT_EQ(-1, Korvan::ScanBackTo(nullptr, -1, pat("a")));
    EXPECT_EQ(-1, Korvan::ScanBackTo(nullptr, 1, pat("abc")));
}

TEST(ScanTest, EmptyPatternIsReportedAndReadsNothing) {
    CReportRecorder recorder;
    EXPECT_EQ(-1, Korvan::ScanTo(nullptr, 100, Tolm::CString()));
    EXPECT_EQ(-1, Korvan::ScanBackTo(nullptr, 100, Tolm::CString()));
    EXPECT_EQ(2, recorder.Count());
    EXPECT_EQ(2, recorder.CountFrom("Src\\BasicTools"));
}

// Buffers of every length up to a few vector blocks, over a two-letter
// alphabet so that near-misses abound, against the plain scans at every
// length and position.
TEST(ScanTest, AgreesWithPlainScanOnRandomBuffers) {
    std::mt19937 random(20261206);
    for (int round = 0; round < 300; ++round) {
        const int size = static_cast<int>(random() % 70);
        std::string buffer(static_cast<std::size_t>(size), 'a');
        for (char& c : buffer) c = random() % 3 == 0 ? 'b' : 'a';
        const int k = 1 + static_cast<int>(random() % 20);
        std::string pattern(static_cast<std::size_t>(k), 'a');
        for (char& c : pattern) c = random() % 4 == 0 ? 'b' : 'a';
        // Sometimes plant the pattern so that long ones match too.
        if (size >= k && random() % 2 == 0)
            buffer.replace(random() % static_cast<unsigned>(size - k + 1), pattern.size(), pattern);
        for (int limit = 0; limit <= size; ++limit) {
            ASSERT_EQ(naiveScanTo(buffer, limit, pattern), Korvan::ScanTo(buffer.data(), limit, pat(pattern)))
                << buffer << " / " << pattern << " / " << limit;
            ASSERT_EQ(naiveScanBackTo(buffer, limit - 1, pattern),
                      Korvan::ScanBackTo(buffer.data(), limit - 1, pat(pattern)))
                << buffer << " / " << pattern << " / " << limit - 1;
        }
    }
}

// Pages on both sides of the buffer are inaccessible: a read before byte 0 or
// after the last allowed byte faults.
class CGuardedBuffer {
public:
    explicit CGuardedBuffer(const std::string& content) : size_(content.size()) {
        page_ = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
        span_ = ((size_ + page_ - 1) / page_ + 2) * page_;
        void* block = mmap(nullptr, span_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        base_ = static_cast<char*>(block);
        mprotect(base_, page_, PROT_NONE);
        mprotect(base_ + span_ - page_, page_, PROT_NONE);
        std::memcpy(AtEnd(), content.data(), size_);
    }
    ~CGuardedBuffer() { munmap(base_, span_); }
    CGuardedBuffer(const CGuardedBuffer&) = delete;
    CGuardedBuffer& operator=(const CGuardedBuffer&) = delete;

    // The content ending right before the trailing guard page.
    char* AtEnd() { return base_ + span_ - page_ - size_; }
    // The content starting right after the leading guard page.
    char* AtStart() {
        std::memmove(base_ + page_, AtEnd(), size_);
        return base_ + page_;
    }

private:
    std::size_t size_;
    std::size_t page_ = 0;
    std::size_t span_ = 0;
    char* base_ = nullptr;
};

TEST(ScanTest, NeverReadsOutsideTheSearchedBytes) {
    for (int size = 1; size <= 48; ++size) {
        for (const std::string& pattern : {std::string("q"), std::string("qz"), std::string("startxref")}) {
            const std::string content(static_cast<std::size_t>(size), 'q');
            CGuardedBuffer guarded(content);
            EXPECT_EQ(naiveScanTo(content, size, pattern),
                      Korvan::ScanTo(guarded.AtEnd(), size, pat(pattern)));
            const char* start = guarded.AtStart();
            EXPECT_EQ(naiveScanBackTo(content, size - 1, pattern),
                      Korvan::ScanBackTo(start, size - 1, pat(pattern)));
        }
    }
}

// ---------------------------------------------------------------- CopyStream

// A memory file that logs what each Read returned and each Write was given.
class CLoggingFile : public Tolm::CMemoryFile {
public:
    int Read(void* buffer, int count) override {
        const int got = CMemoryFile::Read(buffer, count);
        reads.push_back(got);
        return got;
    }
    void Write(const void* buffer, int count) override {
        writes.push_back(count);
        CMemoryFile::Write(buffer, count);
    }
    std::string Content() const {
        const auto* data = reinterpret_cast<const char*>(GetData());
        return data == nullptr ? std::string() : std::string(data, static_cast<std::size_t>(GetLength()));
    }
    void Fill(const std::string& content) {
        CMemoryFile::Write(content.data(), static_cast<int>(content.size()));
    }

    std::vector<int> reads;
    std::vector<int> writes;
};

std::string patternedBytes(std::size_t size) {
    std::string content(size, '\0');
    for (std::size_t i = 0; i < size; ++i) content[i] = static_cast<char>(i * 7 + i / 251);
    return content;
}

TEST(CopyStreamTest, CopiesInBlocksOf4096) {
    struct Case {
        std::size_t size;
        std::vector<int> reads;
        std::vector<int> writes;
    };
    const Case cases[] = {
        {0, {0}, {0}},
        {1, {1}, {1}},
        {4096, {4096, 0}, {4096, 0}},
        {5000, {4096, 904}, {4096, 904}},
        {8192, {4096, 4096, 0}, {4096, 4096, 0}},
    };
    for (const Case& c : cases) {
        CReportRecorder recorder;
        CLoggingFile source;
        CLoggingFile destination;
        const std::string content = patternedBytes(c.size);
        source.Fill(content);
        source.Seek(3, Tolm::CBaseFile::begin);  // positions before the call do not matter
        Korvan::CopyStream(source, destination);
        EXPECT_EQ(c.reads, source.reads) << c.size;
        EXPECT_EQ(c.writes, destination.writes) << c.size;
        EXPECT_EQ(content, destination.Content());
        EXPECT_EQ(static_cast<std::int64_t>(c.size), source.GetPosition());
        EXPECT_EQ(static_cast<std::int64_t>(c.size), destination.GetPosition());
        EXPECT_EQ(0, recorder.Count());
    }
}

TEST(CopyStreamTest, LongerDestinationKeepsItsTailAndIsReported) {
    CReportRecorder recorder;
    CLoggingFile source;
    CLoggingFile destination;
    source.Fill("new");
    destination.Fill("old content");
    Korvan::CopyStream(source, destination);
    EXPECT_EQ("new content", destination.Content());
    EXPECT_EQ(1, recorder.CountFrom("Src\\BasicTools"));
}

TEST(CopyStreamTest, CopiesFilesOnDisk) {
    const Tolm::CUnicodeString sourcePath = Tolm::TempFile::New(u"copysrc", u"bin");
    const Tolm::CUnicodeString destinationPath = Tolm::TempFile::New(u"copydst", u"bin");
    const std::string content = patternedBytes(3 * 4096 + 17);
    {
        Tolm::CFile source(sourcePath, Tolm::CFile::kNewReadWrite);
        source.Write(content.data(), static_cast<int>(content.size()));
        Tolm::CFile destination(destinationPath, Tolm::CFile::kNewReadWrite);
        Korvan::CopyStream(source, destination);
        destination.Close();
    }
    {
        Tolm::CFile copy(destinationPath, Tolm::CFile::modeRead);
        std::string back(content.size(), '\0');
        ASSERT_EQ(static_cast<int>(back.size()), copy.Read(back.data(), static_cast<int>(back.size())));
        EXPECT_EQ(content, back);
        EXPECT_EQ(static_cast<std::int64_t>(content.size()), copy.GetLength());
    }
    Tolm::TempFile::Delete(sourcePath);
    Tolm::TempFile::Delete(destinationPath);
}

// Streams that only count: a source of any length that yields unset bytes,
// and a sink that keeps no data. Together they push more than 4 GiB through
// CopyStream without holding it anywhere.
class CCountingFile : public Tolm::CBaseFile {
public:
    explicit CCountingFile(std::int64_t length = 0) : length_(length) {}
    int Read(void*, int count) override {
        const std::int64_t got =
            std::min<std::int64_t>(count, std::max<std::int64_t>(0, length_ - position_));
        position_ += got;
        return static_cast<int>(got);
    }
    void Write(const void*, int count) override {
        position_ += count;
        length_ = std::max(length_, position_);
    }
    std::int64_t Seek(std::int64_t offset, int origin) override {
        if (offset < 0 || origin != begin) Tolm::ThrowArgumentError("unexpected seek in the counting file");
        position_ = offset;
        return position_;
    }
    std::int64_t GetPosition() const override { return position_; }
    std::int64_t GetLength() const override { return length_; }
    void SetLength(std::int64_t length) override { length_ = length; }

private:
    std::int64_t length_;
    std::int64_t position_ = 0;
};

TEST(CopyStreamTest, CopiesSourcesBeyond32BitLengths) {
    CReportRecorder recorder;
    const std::int64_t size = (std::int64_t{1} << 32) + 904;
    CCountingFile source(size);
    CCountingFile destination;
    Korvan::CopyStream(source, destination);
    EXPECT_EQ(size, destination.GetLength());
    EXPECT_EQ(size, source.GetPosition());
    EXPECT_EQ(size, destination.GetPosition());
    EXPECT_EQ(0, recorder.Count());
}

}  // namespace
