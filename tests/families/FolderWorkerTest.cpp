#include <Korvan/FolderWorker.h>

#include "ReportRecorder.h"

#include <Tolm/Error.h>
#include <Tolm/Time.h>

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;
using Korvan::CFolderWorker;
using Korvan::testing::CReportRecorder;

Tolm::CUnicodeString upath(const fs::path& path) { return Tolm::CUnicodeString::FromUtf8(path.string()); }

// A fresh directory under the system's temporary folder, removed afterwards.
class FolderWorkerTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "folderworker-XXXXXX").string();
        ASSERT_NE(nullptr, mkdtemp(pattern.data()));
        root_ = pattern;
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(root_, ignored);
    }

    const fs::path& Root() const { return root_; }
    // Every directory below the root, as paths relative to it.
    std::set<std::string> Tree() const {
        std::set<std::string> found;
        for (const auto& entry : fs::recursive_directory_iterator(root_))
            found.insert(fs::relative(entry.path(), root_).string());
        return found;
    }

private:
    fs::path root_;
};

TEST(MakeLongPathTest, PutsThePrefixInFrontOfAnything) {
    EXPECT_EQ(Tolm::CUnicodeString(u"\\\\?\\"), CFolderWorker::MakeLongPath(u""));
    EXPECT_EQ(Tolm::CUnicodeString(u"\\\\?\\C:\\a"), CFolderWorker::MakeLongPath(u"C:\\a"));
    EXPECT_EQ(Tolm::CUnicodeString(u"\\\\?\\\\\\?\\C:\\a"), CFolderWorker::MakeLongPath(u"\\\\?\\C:\\a"));
    EXPECT_EQ(Tolm::CUnicodeString(u"\\\\?\\/tmp/a"), CFolderWorker::MakeLongPath(u"/tmp/a"));
}

TEST_F(FolderWorkerTest, CreateDirRecursiveMakesEveryMissingAncestor) {
    CFolderWorker::CreateDirRecursive(upath(Root() / "a" / "b" / "c"));
    EXPECT_EQ((std::set<std::string>{"a", "a/b", "a/b/c"}), Tree());
}

TEST_F(FolderWorkerTest, CreateDirRecursiveLeavesAnExistingDirectoryAlone) {
    fs::create_directories(Root() / "a" / "b");
    std::ofstream(Root() / "a" / "b" / "keep.txt") << "kept";
    CFolderWorker::CreateDirRecursive(upath(Root() / "a" / "b"));
    CFolderWorker::CreateDirRecursive(upath(Root() / "a" / "b"));
    EXPECT_EQ((std::set<std::string>{"a", "a/b", "a/b/keep.txt"}), Tree());
}

TEST_F(FolderWorkerTest, CreateSubDirsNeverMakesTheLastComponent) {
    CFolderWorker::CreateSubDirs(upath(Root() / "x" / "y" / "file.txt"));
    EXPECT_EQ((std::set<std::string>{"x", "x/y"}), Tree());
    CFolderWorker::CreateSubDirs(upath(Root() / "z"));
    EXPECT_EQ((std::set<std::string>{"x", "x/y"}), Tree());
}

TEST_F(FolderWorkerTest, RelativePathsGetTheirFirstComponentToo) {
    const fs::path previous = fs::current_path();
    fs::current_path(Root());
    CFolderWorker::CreateDirRecursive(u"out/sub/leaf");
    CFolderWorker::CreateDirRecursive(u"single");
    fs::current_path(previous);
    EXPECT_EQ((std::set<std::string>{"out", "out/sub", "out/sub/leaf", "single"}), Tree());
}

TEST_F(FolderWorkerTest, AFileInTheWayIsAFileError) {
    std::ofstream(Root() / "f") << "a file";
    try {
        CFolderWorker::CreateDirRecursive(upath(Root() / "f" / "d" / "e"));
        ADD_FAILURE() << "no error raised";
    } catch (Tolm::CException* error) {
        EXPECT_EQ(Tolm::CException::Kind::file, error->GetKind());
        EXPECT_NE(std::string::npos, std::string(error->GetMessage()).find((Root() / "f").string()))
            << error->GetMessage();
        error->Delete();
    }
    EXPECT_EQ((std::set<std::string>{"f"}), Tree());
}

TEST_F(FolderWorkerTest, AnEmptyPathIsReportedAndCreatesNothing) {
    CReportRecorder recorder;
    CFolderWorker::CreateSubDirs(u"");
    EXPECT_EQ(1, recorder.CountFrom("Src\\FolderWorker"));
    EXPECT_TRUE(Tree().empty());
}

// The names a run of same-second calls must produce, in order.
std::vector<std::string> timeStampedNames(const std::string& stem, int count) {
    std::vector<std::string> names{stem};
    std::string name = stem;
    for (int counter = 2; counter <= count; ++counter) {
        name += "(" + std::to_string(counter) + ")";
        names.push_back(name);
    }
    return names;
}

TEST_F(FolderWorkerTest, SameSecondCallsAccumulateSuffixes) {
    Tolm::CFixedCurrentTime now(Tolm::CTime(2026, 12, 4, 11, 56, 20, 0, 0));
    const fs::path parent = Root() / "not" / "yet";  // created on the way
    std::vector<std::string> got;
    for (int call = 0; call < 4; ++call)
        got.push_back(CFolderWorker::CreateSubDirByCurrentTime(upath(parent)).ToUtf8());
    const std::vector<std::string> names = timeStampedNames("2026.12.04 11-56-20", 4);
    for (std::size_t i = 0; i < names.size(); ++i) {
        EXPECT_EQ((parent / names[i]).string(), got[i]);
        EXPECT_TRUE(fs::is_directory(got[i]));
    }
}

TEST_F(FolderWorkerTest, ConcurrentThreadsEachGetADirectoryOfTheirOwn) {
    constexpr int kThreads = 6;
    constexpr int kCallsEach = 5;
    Tolm::CFixedCurrentTime now(Tolm::CTime(2026, 12, 4, 11, 56, 20, 0, 0));
    const Tolm::CUnicodeString root = upath(Root());
    std::vector<std::vector<std::string>> got(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int call = 0; call < kCallsEach; ++call)
                got[t].push_back(CFolderWorker::CreateSubDirByCurrentTime(root).ToUtf8());
        });
    }
    for (std::thread& thread : threads) thread.join();

    std::set<std::string> distinct;
    for (const auto& paths : got) distinct.insert(paths.begin(), paths.end());
    std::set<std::string> expected;
    for (const std::string& name : timeStampedNames("2026.12.04 11-56-20", kThreads * kCallsEach))
        expected.insert((Root() / name).string());
    EXPECT_EQ(expected, distinct);
}

TEST_F(FolderWorkerTest, TwoProcessesEachGetDirectoriesOfTheirOwn) {
    constexpr int kCallsEach = 15;
    Tolm::CFixedCurrentTime now(Tolm::CTime(2026, 12, 4, 11, 56, 20, 0, 0));
    const Tolm::CUnicodeString root = upath(Root());
    int pipeEnds[2];
    int startEnds[2];  // the child waits here until the parent is ready to race
    ASSERT_EQ(0, pipe(pipeEnds));
    ASSERT_EQ(0, pipe(startEnds));
    const pid_t child = fork();
    ASSERT_NE(-1, child);
    if (child == 0) {
        // The child reports its paths, one per line, and leaves without
        // running the parent's clean-up.
        close(pipeEnds[0]);
        close(startEnds[1]);
        char go = 0;
        if (read(startEnds[0], &go, 1) != 1) _exit(4);
        std::string lines;
        try {
            for (int call = 0; call < kCallsEach; ++call)
                lines += CFolderWorker::CreateSubDirByCurrentTime(root).ToUtf8() + "\n";
        } catch (Tolm::CException* error) {
            error->Delete();
            _exit(2);
        }
        const bool written =
            write(pipeEnds[1], lines.data(), lines.size()) == static_cast<ssize_t>(lines.size());
        _exit(written ? 0 : 3);
    }
    close(pipeEnds[1]);
    close(startEnds[0]);
    const char go = 1;
    ASSERT_EQ(1, write(startEnds[1], &go, 1));
    close(startEnds[1]);
    std::vector<std::string> paths;
    for (int call = 0; call < kCallsEach; ++call)
        paths.push_back(CFolderWorker::CreateSubDirByCurrentTime(root).ToUtf8());

    std::string fromChild;
    char chunk[4096];
    for (ssize_t got; (got = read(pipeEnds[0], chunk, sizeof chunk)) > 0;)
        fromChild.append(chunk, static_cast<std::size_t>(got));
    close(pipeEnds[0]);
    int status = 0;
    ASSERT_EQ(child, waitpid(child, &status, 0));
    ASSERT_TRUE(WIFEXITED(status));
    ASSERT_EQ(0, WEXITSTATUS(status));
    for (std::size_t from = 0, end; (end = fromChild.find('\n', from)) != std::string::npos; from = end + 1)
        paths.push_back(fromChild.substr(from, end - from));

    const std::set<std::string> distinct(paths.begin(), paths.end());
    EXPECT_EQ(static_cast<std::size_t>(2 * kCallsEach), paths.size());
    EXPECT_EQ(paths.size(), distinct.size());
    for (const std::string& path : distinct) EXPECT_TRUE(fs::is_directory(path)) << path;
}

}  // namespace
