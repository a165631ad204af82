#include <Korvan/BasicTools.h>

#include "GuardedBytes.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

namespace {

using GearsetTest::ReportRecorder;
using Korvan::testing::bytes;
using Korvan::testing::GuardedBytes;

TEST(CompareTest, OrdersByFirstDifferenceThenByCount) {
    const struct {
        std::vector<int> left, right;
        int expected;
    } cases[] = {
        {{}, {}, 0},         {{1, 2}, {1, 2, 3}, -1}, {{1, 2, 3, 4}, {1, 2}, 2},
        {{}, {9, 9, 9}, -3}, {{1}, {2, 0, 0}, -1},    {{0x80}, {0x7F}, 1},  // bytes are unsigned
    };
    for (const auto& c : cases) EXPECT_EQ(c.expected, Korvan::Compare(bytes(c.left), bytes(c.right)));
}

Tolm::CString pat(const std::string& text) {
    return Tolm::CString(text.data(), static_cast<int>(text.size()));
}

// A negative length reads nothing (a null buffer faults on any read), and an
// empty pattern is reported; shorter buffers than the pattern are left to the
// guard pages below.
TEST(ScanTest, NegativeLengthsAndEmptyPatternsReadNothing) {
    ReportRecorder recorder;
    for (const auto& [n, pattern] : {std::pair{-5, "a"}, {100, ""}}) {
        EXPECT_EQ(-1, Korvan::ScanTo(nullptr, n, pat(pattern)));
        EXPECT_EQ(-1, Korvan::ScanBackTo(nullptr, n - 1, pat(pattern)));
    }
    EXPECT_EQ(2, recorder.Count("Src\\BasicTools"));
}

// Buffers of up to 70 bytes against std::string's find and rfind at every
// length n (a match must end within the first n bytes): first the examples
// of the header, then random ones over a two-letter alphabet (near
// misses abound; some rounds are one letter only). Each is placed once after
// a leading and once before a trailing inaccessible page, so that a read
// before byte 0 or past the searched bytes faults.
TEST(ScanTest, AgreesWithFindAndRfindBetweenGuardPages) {
    GuardedBytes guarded(70);
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
            const auto length = static_cast<std::size_t>(n);
            for (const bool atEnd : {false, true}) {
                const char* at = guarded.Place(buffer, length, atEnd);
                const std::string head = buffer.substr(0, length);
                // npos converts to -1, the scans' "not found".
                ASSERT_EQ(static_cast<int>(head.find(pattern)), Korvan::ScanTo(at, n, pat(pattern)))
                    << buffer << " / " << pattern << " / " << n;
                ASSERT_EQ(static_cast<int>(head.rfind(pattern)), Korvan::ScanBackTo(at, n - 1, pat(pattern)))
                    << buffer << " / " << pattern << " / " << n - 1;
            }
        }
    }
}

// Self-similar data makes every position a candidate of the first-and-last
// byte filter, so the scans change method part-way; the answers must not
// change with it. Each row is one long run of a byte with a pattern that
// nearly matches everywhere, once with a match planted (at the start, inside,
// at the very end) and once without.
TEST(ScanTest, SelfSimilarDataGivesThePlainAnswers) {
    const std::string zeros(300, '\0'), as(300, 'a');
    const struct {
        const char* name;
        std::string text, pattern;
    } rows[] = {
        {"zeros around a one", std::string(20000, '\0'), zeros + '\1' + zeros},
        {"one letter then another", std::string(20000, 'a'), as + 'b'},
        {"another then one letter", std::string(20000, 'a'), 'b' + as},
        {"period two, odd tail",
         [] {
             std::string text;
             for (int i = 0; i < 10000; ++i) text += "ab";
             return text;
         }(),
         [] {
             std::string pattern;
             for (int i = 0; i < 150; ++i) pattern += "ab";
             return pattern + 'b';
         }()},
    };
    GuardedBytes guarded(20000);
    for (const auto& row : rows) {
        const std::size_t k = row.pattern.size();
        for (const std::size_t plant :
             {std::string::npos, std::size_t{0}, std::size_t{7777}, row.text.size() - k}) {
            std::string text = row.text;
            if (plant != std::string::npos) text.replace(plant, k, row.pattern);
            const int n = static_cast<int>(text.size());
            for (const bool atEnd : {false, true}) {
                const char* at = guarded.Place(text, text.size(), atEnd);
                EXPECT_EQ(static_cast<int>(text.find(row.pattern)), Korvan::ScanTo(at, n, pat(row.pattern)))
                    << row.name << ", planted at " << static_cast<long long>(plant);
                EXPECT_EQ(static_cast<int>(text.rfind(row.pattern)),
                          Korvan::ScanBackTo(at, n - 1, pat(row.pattern)))
                    << row.name << ", planted at " << static_cast<long long>(plant);
            }
        }
    }
}

// Logs what each Read returned and each Write was given.
class CLoggingFile final : public Tolm::CMemoryFile {
public:
    int Read(void* buffer, int count) override {
        return reads.emplace_back(CMemoryFile::Read(buffer, count));
    }
    void Write(const void* buffer, int count) override {
        CMemoryFile::Write(buffer, writes.emplace_back(count));
    }
    std::string Content() const {
        return std::string(reinterpret_cast<const char*>(GetData()), static_cast<std::size_t>(GetLength()));
    }
    std::vector<int> reads, writes;
};

// A file of a bare length that reads unset bytes and keeps nothing written,
// so that more than 4 GiB can pass through it.
class CHollowFile final : public Tolm::CBaseFile {
public:
    explicit CHollowFile(std::int64_t length) : length_(length) {}
    int Read(void*, int count) override {
        const auto got = static_cast<int>(std::clamp<std::int64_t>(length_ - position_, 0, count));
        return position_ += got, got;
    }
    void Write(const void*, int count) override { length_ = std::max(length_, position_ += count); }
    std::int64_t Seek(std::int64_t offset, int) override { return position_ = offset; }
    std::int64_t GetPosition() const override { return position_; }
    std::int64_t GetLength() const override { return length_; }
    void SetLength(std::int64_t length) override { length_ = length; }

private:
    std::int64_t length_, position_ = 0;
};

// A longer destination keeps its tail, and the difference is reported; more
// than 4 GiB pass as well.
TEST(CopyStreamTest, CopiesInBlocksOf4096) {
    const struct {
        std::size_t size;
        std::vector<int> blocks;  // what each Read returns and each Write is given
        std::string before;       // the destination's content
    } cases[] = {{0, {0}, ""}, {4096, {4096, 0}, ""}, {5000, {4096, 904}, ""}, {3, {3}, "old content"}};
    for (const auto& c : cases) {
        ReportRecorder recorder;
        std::string content(c.size, '\0');
        for (std::size_t i = 0; i < c.size; ++i) content[i] = static_cast<char>(i * 7 + i / 251);
        CLoggingFile source, destination;
        source.Write(content.data(), static_cast<int>(c.size));
        destination.Write(c.before.data(), static_cast<int>(c.before.size()));
        source.writes.clear(), destination.writes.clear();
        source.Seek(3, Tolm::CBaseFile::begin);  // positions before the call do not matter
        Korvan::CopyStream(source, destination);
        EXPECT_EQ(c.blocks, source.reads) << c.size;
        EXPECT_EQ(c.blocks, destination.writes) << c.size;
        EXPECT_EQ(content + (c.before.size() > c.size ? c.before.substr(c.size) : ""), destination.Content());
        EXPECT_EQ(static_cast<std::int64_t>(c.size), source.GetPosition());
        EXPECT_EQ(static_cast<std::int64_t>(c.size), destination.GetPosition());
        EXPECT_EQ(c.before.size() > c.size ? 1 : 0, recorder.Count("Src\\BasicTools"));
    }
    const std::int64_t size = (std::int64_t{1} << 32) + 904;  // beyond 32-bit lengths
    CHollowFile source(size), destination(0);
    Korvan::CopyStream(source, destination);
    EXPECT_EQ(size, destination.GetLength());
    EXPECT_EQ(size, source.GetPosition());
    EXPECT_EQ(size, destination.GetPosition());
}

}  // namespace
