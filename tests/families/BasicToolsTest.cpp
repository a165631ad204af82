#include <Korvan/BasicTools.h>

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

namespace {

using Korvan::testing::bytes;
using Korvan::testing::CReportRecorder;

TEST(CompareTest, OrdersByFirstDifferenceThenByCount) {
    const struct {
        std::vector<int> left, right;
        int expected;
    } cases[] = {
        {{}, {}, 0},         {{1, 2}, {1, 2}, 0},  {{1, 2}, {1, 2, 3}, -1}, {{1, 2, 3, 4}, {1, 2}, 2},
        {{}, {9, 9, 9}, -3}, {{1}, {2, 0, 0}, -1}, {{0x80}, {0x7F}, 1},     {{0xFF, 0}, {0x00, 0xFF}, 1},
    };
    for (const auto& c : cases) EXPECT_EQ(c.expected, Korvan::Compare(bytes(c.left), bytes(c.right)));
    std::vector<int> left(100, 7), right = left;  // past the inline room of 32 bytes
    right[70] = 200;
    EXPECT_EQ(-1, Korvan::Compare(bytes(left), bytes(right)));
    EXPECT_EQ(1, Korvan::Compare(bytes(right), bytes(left)));
}

// The plain position-by-position scans the fast ones must agree with.
int plainScanTo(const std::string& buffer, int length, const std::string& pattern) {
    for (int i = 0; i + static_cast<int>(pattern.size()) <= length; ++i)
        if (buffer.compare(static_cast<std::size_t>(i), pattern.size(), pattern) == 0) return i;
    return -1;
}

int plainScanBackTo(const std::string& buffer, int position, const std::string& pattern) {
    for (int start = position - static_cast<int>(pattern.size()) + 1; start >= 0; --start)
        if (buffer.compare(static_cast<std::size_t>(start), pattern.size(), pattern) == 0) return start;
    return -1;
}

Tolm::CString pat(const std::string& text) {
    return Tolm::CString(text.data(), static_cast<int>(text.size()));
}

TEST(ScanTest, ExamplesOfTheHeader) {
    EXPECT_EQ(1, Korvan::ScanTo("abcabc", 6, pat("bc")));
    EXPECT_EQ(-1, Korvan::ScanTo("abcabc", 2, pat("bc")));  // the match would end at byte 2
    EXPECT_EQ(4, Korvan::ScanBackTo("abcabc", 5, pat("bc")));
    EXPECT_EQ(1, Korvan::ScanBackTo("abcabc", 4, pat("bc")));  // the match at 4 ends after the position
    EXPECT_EQ(0, Korvan::ScanBackTo("abx", 2, pat("ab")));
}

// A null buffer faults on any read; an empty pattern is reported as well.
TEST(ScanTest, NothingIsReadWhereNoMatchCanBe) {
    CReportRecorder recorder;
    for (const auto& [n, pattern] : {std::pair{2, "abc"}, {0, "a"}, {-5, "a"}, {100, ""}}) {
        EXPECT_EQ(-1, Korvan::ScanTo(nullptr, n, pat(pattern)));
        EXPECT_EQ(-1, Korvan::ScanBackTo(nullptr, n - 1, pat(pattern)));
    }
    EXPECT_EQ(2, recorder.Count());
    EXPECT_EQ(2, recorder.Count("Src\\BasicTools"));
}

// Buffers of up to 70 bytes against the plain scans at every length: first
// the documented examples, then random ones over a two-letter alphabet (near
// misses abound; some rounds are one letter only). Each is placed once after
// a leading and once before a trailing inaccessible page, so that a read
// before byte 0 or past the searched bytes faults.
TEST(ScanTest, AgreesWithPlainScanBetweenGuardPages) {
    const std::size_t page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    auto* base = static_cast<char*>(
        mmap(nullptr, 3 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    ASSERT_NE(MAP_FAILED, static_cast<void*>(base));
    mprotect(base, page, PROT_NONE);
    mprotect(base + 2 * page, page, PROT_NONE);
    const std::pair<std::string, std::string> examples[] = {
        {"abcabc", "bc"}, {"abx", "ab"}, {std::string("\0\xff\0\xff", 4), std::string("\0\xff", 2)}};
    std::mt19937 random(20261206);
    for (int round = -3; round < 300; ++round) {
        const unsigned rate = random() % 4;  // in quarters: how often a 'b'
        std::string buffer(random() % 70, 'a');
        for (char& c : buffer) c = random() % 4 < rate ? 'b' : 'a';
        std::string pattern(1 + random() % 20, 'a');
        for (char& c : pattern) c = random() % 4 == 0 ? 'b' : 'a';
        if (buffer.size() >= pattern.size() && random() % 2 == 0)  // let long patterns match too
            buffer.replace(random() % (buffer.size() - pattern.size() + 1), pattern.size(), pattern);
        if (round < 0) std::tie(buffer, pattern) = examples[round + 3];
        for (int n = 0; n <= static_cast<int>(buffer.size()); ++n) {
            for (char* at : {base + page, base + 2 * page - n}) {
                std::memcpy(at, buffer.data(), static_cast<std::size_t>(n));
                ASSERT_EQ(plainScanTo(buffer, n, pattern), Korvan::ScanTo(at, n, pat(pattern)))
                    << buffer << " / " << pattern << " / " << n;
                ASSERT_EQ(plainScanBackTo(buffer, n - 1, pattern),
                          Korvan::ScanBackTo(at, n - 1, pat(pattern)))
                    << buffer << " / " << pattern << " / " << n - 1;
            }
        }
    }
    munmap(base, 3 * page);
}

// A file that logs what each Read returned and each Write was given. Made
// with a bare length it reads unset bytes and keeps nothing written, so that
// more than 4 GiB can pass through it.
class CModelFile : public Tolm::CBaseFile {
public:
    explicit CModelFile(std::string content) : content_(std::move(content)), length_(std::ssize(content_)) {}
    explicit CModelFile(std::int64_t length) : holds_(false), length_(length) {}
    int Read(void* buffer, int count) override {
        const auto got = static_cast<int>(std::clamp<std::int64_t>(length_ - position_, 0, count));
        if (holds_) std::memcpy(buffer, content_.data() + position_, static_cast<std::size_t>(got));
        position_ += got;
        return reads.emplace_back(got);
    }
    void Write(const void* buffer, int count) override {
        if (holds_)
            content_.replace(static_cast<std::size_t>(position_), static_cast<std::size_t>(count),
                             static_cast<const char*>(buffer), static_cast<std::size_t>(count));
        length_ = std::max(length_, position_ += writes.emplace_back(count));
    }
    std::int64_t Seek(std::int64_t offset, int origin) override {
        EXPECT_EQ(begin, origin);
        return position_ = offset;
    }
    std::int64_t GetPosition() const override { return position_; }
    std::int64_t GetLength() const override { return length_; }
    void SetLength(std::int64_t length) override { length_ = length; }
    const std::string& Content() const { return content_; }

    std::vector<int> reads, writes;

private:
    std::string content_;
    bool holds_ = true;
    std::int64_t length_, position_ = 0;
};

// A longer destination keeps its tail, and the difference is reported.
TEST(CopyStreamTest, CopiesInBlocksOf4096) {
    const struct {
        std::size_t size;
        std::vector<int> blocks;  // what each Read returns and each Write is given
        std::string before;       // the destination's content
    } cases[] = {{0, {0}, ""},
                 {1, {1}, ""},
                 {4096, {4096, 0}, ""},
                 {5000, {4096, 904}, ""},
                 {8192, {4096, 4096, 0}, ""},
                 {3, {3}, "old content"}};
    for (const auto& c : cases) {
        CReportRecorder recorder;
        std::string content(c.size, '\0');
        for (std::size_t i = 0; i < c.size; ++i) content[i] = static_cast<char>(i * 7 + i / 251);
        CModelFile source(content);
        CModelFile destination(c.before);
        source.Seek(3, Tolm::CBaseFile::begin);  // positions before the call do not matter
        Korvan::CopyStream(source, destination);
        EXPECT_EQ(c.blocks, source.reads) << c.size;
        EXPECT_EQ(c.blocks, destination.writes) << c.size;
        EXPECT_EQ(content + (c.before.size() > c.size ? c.before.substr(c.size) : ""), destination.Content());
        EXPECT_EQ(static_cast<std::int64_t>(c.size), source.GetPosition());
        EXPECT_EQ(static_cast<std::int64_t>(c.size), destination.GetPosition());
        EXPECT_EQ(c.before.size() > c.size ? 1 : 0, recorder.Count("Src\\BasicTools"));
        EXPECT_EQ(recorder.Count("Src\\BasicTools"), recorder.Count());
    }
}

TEST(CopyStreamTest, CopiesSourcesBeyond32BitLengths) {
    CReportRecorder recorder;
    const std::int64_t size = (std::int64_t{1} << 32) + 904;
    CModelFile source(size);
    CModelFile destination(std::int64_t{0});
    Korvan::CopyStream(source, destination);
    EXPECT_EQ(size, destination.GetLength());
    EXPECT_EQ(size, source.GetPosition());
    EXPECT_EQ(size, destination.GetPosition());
    EXPECT_EQ(0, recorder.Count());
}

}  // namespace
