#include <Korvan/FolderWorker.h>

#include "TestSupport.h"

#include <Tolm/Time.h>

#include <gtest/gtest.h>

#include "PortableTesting.h"

#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>
#endif

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

Tolm::CUnicodeString upath(const fs::path& path) { return Tolm::CUnicodeString::FromUtf8(path.string()); }

// A fresh directory under the system's temporary folder, removed afterwards;
// the clock stands still, so that every time-stamped name is the same.
class FolderWorkerTest : public ::testing::Test {
protected:
    void SetUp() override {
        root_ = GearsetTesting::MakeTemporaryFolder("folderworker");
        ASSERT_FALSE(root_.empty());
    }
    void TearDown() override { fs::remove_all(root_); }

    // Every entry below the root, relative to it.
    std::set<std::string> Tree() const {
        std::set<std::string> found;
        for (const auto& entry : fs::recursive_directory_iterator(root_))
            found.insert(fs::relative(entry.path(), root_).generic_string());
        return found;
    }
    // The paths a run of count same-second calls under dir must produce, in order
    // (which is also their sorted order: each name extends the one before).
    static std::vector<std::string> Stamped(const fs::path& dir, int count) {
        std::vector<std::string> paths;
        std::string name = "2026.12.04 11-56-20";
        for (int n = 1; n <= count; name += "(" + std::to_string(++n) + ")")
            paths.push_back((dir / name).string());
        return paths;
    }

    fs::path root_;
    Tolm::CFixedCurrentTime now_{Tolm::CTime(2026, 12, 4, 11, 56, 20, 0, 0)};
};

TEST_F(FolderWorkerTest, CreateDirRecursiveMakesTheMissingAncestorsAndLeavesExistingOnesAlone) {
    CFolderWorker::CreateDirRecursive(upath(root_ / "a" / "b" / "c"));
    std::ofstream(root_ / "a" / "b" / "keep.txt") << "kept";
    CFolderWorker::CreateDirRecursive(upath(root_ / "a" / "b"));
    EXPECT_EQ((std::set<std::string>{"a", "a/b", "a/b/c", "a/b/keep.txt"}), Tree());
}

TEST_F(FolderWorkerTest, CreateSubDirsMakesEveryComponentButTheLast) {
    CFolderWorker::CreateSubDirs(upath(root_ / "x" / "y" / "file.txt"));
    CFolderWorker::CreateSubDirs(upath(root_ / "z"));
    EXPECT_EQ((std::set<std::string>{"x", "x/y"}), Tree());
}

TEST_F(FolderWorkerTest, StampedDirectoriesOfOneSecondTakeSuffixesUnderAParentMadeOnTheWay) {
    for (const std::string& path : Stamped(root_ / "n" / "m", 2))
        EXPECT_EQ(path, CFolderWorker::CreateSubDirByCurrentTime(upath(root_ / "n" / "m")).ToUtf8());
    EXPECT_EQ((std::set<std::string>{"n", "n/m", "n/m/2026.12.04 11-56-20", "n/m/2026.12.04 11-56-20(2)"}),
              Tree());
}

TEST_F(FolderWorkerTest, AFileInTheWayIsAFileErrorNamingIt) {
    std::ofstream(root_ / "f") << "a file";
    const auto caught =
        GearsetTest::Catch([&] { CFolderWorker::CreateDirRecursive(upath(root_ / "f" / "d" / "e")); });
    EXPECT_EQ(caught.kind, Tolm::CException::Kind::file);
    EXPECT_NE(std::string::npos, caught.message.find((root_ / "f").string())) << caught.message;
    EXPECT_EQ((std::set<std::string>{"f"}), Tree());
}

// The next two run a child process through fork; Windows has no fork, and
// the race of two processes there is not written yet.
#ifndef _WIN32

// In a child process, so that this process keeps its working directory.
TEST_F(FolderWorkerTest, ARelativePathIsMadeFromTheWorkingDirectoryFirstComponentIncluded) {
    const pid_t child = fork();
    ASSERT_NE(-1, child);
    if (child == 0) {
        int status = ::chdir(root_.c_str()) == 0 ? 0 : 2;
        try {
            CFolderWorker::CreateDirRecursive(u"out/sub");
            CFolderWorker::CreateDirRecursive(u"single");
        } catch (Tolm::CException* error) {
            error->Delete();
            status = 1;
        }
        _exit(status);
    }
    int status = -1;
    ASSERT_EQ(child, waitpid(child, &status, 0));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_EQ((std::set<std::string>{"out", "out/sub", "single"}), Tree());
}

#endif

TEST_F(FolderWorkerTest, APathWithNoComponentIsReportedAndMakesNothing) {
    const GearsetTest::ReportRecorder recorder;
    CFolderWorker::CreateSubDirs(u"");
    EXPECT_EQ(1, recorder.Count("Src\\FolderWorker"));
    EXPECT_TRUE(Tree().empty());
}

#ifndef _WIN32

// Threads in two processes share no lock: only the atomic creation keeps them
// apart, so that together they make as many directories as they made calls.
TEST_F(FolderWorkerTest, ThreadsOfTwoProcessesEachGetADirectoryOfTheirOwn) {
    constexpr int kThreads = 3, kCallsEach = 5;
    const auto race = [&] {
        std::vector<std::thread> threads;
        for (int thread = 0; thread < kThreads; ++thread) {
            threads.emplace_back([&] {
                for (int call = 0; call < kCallsEach; ++call)
                    CFolderWorker::CreateSubDirByCurrentTime(upath(root_));
            });
        }
        for (std::thread& thread : threads) thread.join();
    };
    int start[2];  // the child waits here until the parent is ready to race
    ASSERT_EQ(0, pipe(start));
    const pid_t child = fork();
    ASSERT_NE(-1, child);
    if (child == 0) {  // leaves without the parent's clean-up
        char go = 0;
        if (read(start[0], &go, 1) != 1) _exit(3);
        race();  // a failure in a thread aborts the child
        _exit(0);
    }
    ASSERT_EQ(1, write(start[1], "1", 1));
    race();
    close(start[0]);
    close(start[1]);
    int status = 0;
    ASSERT_EQ(child, waitpid(child, &status, 0));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    std::set<std::string> made;  // a name handed out twice leaves one short
    for (const auto& entry : fs::directory_iterator(root_)) made.insert(entry.path().string());
    EXPECT_EQ(Stamped(root_, 2 * kThreads * kCallsEach), std::vector<std::string>(made.begin(), made.end()));
}

#endif  // !_WIN32

}  // namespace
