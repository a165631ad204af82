#include "WindowedScan.h"

#include <gtest/gtest.h>

#include <unistd.h>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

namespace gearset {
namespace {

namespace fs = std::filesystem;

// A file of random bytes from a small alphabet, so that partial matches
// abound, with the pattern planted where windows meet.
class WindowedScanTest : public ::testing::Test {
protected:
    void SetUp() override {
        path_ = fs::temp_directory_path() / ("gearset-scan-test-" + std::to_string(::getpid()) + ".bin");
    }
    void TearDown() override { fs::remove(path_); }

    void Write(const std::string& bytes) {
        std::ofstream(path_, std::ios::binary) << bytes;
        content_ = bytes;
    }

    // What a plain scan of the whole content answers.
    std::int64_t ExpectedFirst(const std::string& pattern) const {
        const std::size_t at = content_.find(pattern);
        return at == std::string::npos ? -1 : static_cast<std::int64_t>(at);
    }
    std::int64_t ExpectedLast(const std::string& pattern, std::int64_t lastByte) const {
        if (lastByte < 0) return -1;
        const auto end = static_cast<std::size_t>(
            std::min<std::int64_t>(lastByte, static_cast<std::int64_t>(content_.size()) - 1));
        if (end + 1 < pattern.size()) return -1;
        const std::size_t at = content_.rfind(pattern, end + 1 - pattern.size());
        return at == std::string::npos ? -1 : static_cast<std::int64_t>(at);
    }

    fs::path path_;
    std::string content_;
};

TEST_F(WindowedScanTest, AgreesWithAPlainScanForEveryWindowSize) {
    std::mt19937 random(7);
    std::string bytes(5000, '\0');
    for (char& c : bytes) c = "abc"[random() % 3];
    const std::string pattern = "abcab";
    bytes.replace(1021, pattern.size(), pattern);  // across a 1024-byte window edge
    bytes.replace(4093, pattern.size(), pattern);
    Write(bytes);

    FileWindows file(path_.string());
    for (const std::string& wanted :
         {pattern, std::string("c"), std::string("aaaaaaaa"), std::string("abcabcabcx")}) {
        const Tolm::CString cpattern(wanted.data(), static_cast<int>(wanted.size()));
        for (std::int64_t window : {1, 7, 64, 1024, 1 << 20}) {
            EXPECT_EQ(FindFirst(file, cpattern, window), ExpectedFirst(wanted))
                << wanted << " window " << window;
            for (std::int64_t lastByte : {-1, 4, 1025, 4097, 1 << 30}) {
                EXPECT_EQ(FindLast(file, cpattern, lastByte, window), ExpectedLast(wanted, lastByte))
                    << wanted << " window " << window << " last byte " << lastByte;
            }
        }
    }
}

TEST_F(WindowedScanTest, MatchesAtTheVeryEdgesOfTheFile) {
    Write("xyzxyz");
    FileWindows file(path_.string());
    EXPECT_EQ(FindFirst(file, Tolm::CString("xyz"), 2), 0);
    EXPECT_EQ(FindLast(file, Tolm::CString("xyz"), 5, 2), 3);
    EXPECT_EQ(FindLast(file, Tolm::CString("xyz"), 4, 2), 0);
    EXPECT_EQ(FindFirst(file, Tolm::CString("xyzxyzx"), 2), -1);
}

TEST_F(WindowedScanTest, EmptyFileHasNoMatch) {
    Write("");
    FileWindows file(path_.string());
    EXPECT_EQ(FindFirst(file, Tolm::CString("a")), -1);
    EXPECT_EQ(FindLast(file, Tolm::CString("a"), 100), -1);
}

TEST_F(WindowedScanTest, ProgressCountsUpToTheBytesSearched) {
    Write(std::string(1000, 'a'));
    FileWindows file(path_.string());
    std::vector<std::int64_t> seen;
    FindFirst(file, Tolm::CString("b"), 300, [&](std::int64_t done) { seen.push_back(done); });
    EXPECT_EQ(seen, (std::vector<std::int64_t>{300, 600, 900, 1000}));
}

TEST_F(WindowedScanTest, MissingOrSpecialFilesFailWithTheirPath) {
    try {
        FileWindows missing((path_.string() + ".missing"));
        FAIL() << "opened a missing file";
    } catch (const ToolFailure& error) {
        EXPECT_NE(std::string(error.what()).find(".missing': No such file or directory"), std::string::npos)
            << error.what();
    }
    EXPECT_THROW(FileWindows(fs::temp_directory_path().string()), ToolFailure);
}

}  // namespace
}  // namespace gearset
