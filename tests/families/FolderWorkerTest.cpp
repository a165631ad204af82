#include <Korvan/FolderWorker.h>

#include "TestSupport.h"

#include <Tolm/FileSystem.h>
#include <Tolm/Time.h>

#include <gtest/gtest.h>

#include "ChildProcess.h"
#include "MemoryPort.h"
#include "PortableTesting.h"

#include <chrono>
#include <cstdio>
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

const Tolm::CTime kNow(2026, 12, 4, 11, 56, 20, 0, 0);  // the clock stands still here

// Tests that need a second process start this program again with kChildRole
// set: before any test runs, the child does that role's work under the folder
// kChildFolder names, and exits with 0 when it held.
constexpr const char* kChildRole = "GEARSET_FOLDER_WORKER_CHILD";
constexpr const char* kChildFolder = "GEARSET_FOLDER_WORKER_FOLDER";
constexpr int kRaceThreads = 3, kRaceCallsEach = 5;

// Waits until the file exists; false after half a minute.
bool awaitFile(const fs::path& path) {
    for (int wait = 0; wait < 30'000 && !fs::exists(path); ++wait)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return fs::exists(path);
}

// Threads that share no lock make stamped directories under folder/race:
// only the atomic creation keeps them apart. A failure aborts the process.
void raceForStampedDirectories(const fs::path& folder) {
    std::vector<std::thread> threads;
    for (int thread = 0; thread < kRaceThreads; ++thread) {
        threads.emplace_back([&] {
            for (int call = 0; call < kRaceCallsEach; ++call)
                CFolderWorker::CreateSubDirByCurrentTime(upath(folder / "race"));
        });
    }
    for (std::thread& thread : threads) thread.join();
}

int runChildRole(const std::string& role, const fs::path& folder) {
    const Tolm::CFixedCurrentTime now(kNow);
    try {
        if (role == "relative") {  // in a process of its own, so that the tests keep their folder
            fs::current_path(folder);
            CFolderWorker::CreateDirRecursive(u"out/sub");
            CFolderWorker::CreateDirRecursive(u"single");
            return 0;
        }
        if (role == "race") {  // says it is ready, and starts when told
            std::ofstream(folder / "ready") << "ready";
            if (!awaitFile(folder / "go")) return 3;
            raceForStampedDirectories(folder);
            return 0;
        }
    } catch (Tolm::CException* error) {
        std::fprintf(stderr, "%s\n", error->GetMessage());
        error->Delete();
        return 1;
    }
    return 2;
}

[[maybe_unused]] const bool isChild = [] {
    const char* role = std::getenv(kChildRole);
    const char* folder = std::getenv(kChildFolder);
    if (role == nullptr || folder == nullptr) return false;
    const std::string folderText(folder);
    std::exit(runChildRole(role, fs::path(std::u8string(folderText.begin(), folderText.end()))));
}();

// Runs a role in a second process of this program.
GearsetTesting::ChildResult RunChildRole(const std::string& role, const fs::path& folder) {
    GearsetTesting::ChildRequest request;
    request.program = GearsetTesting::ThisProgram();
    const std::u8string folderText = folder.u8string();
    request.environment = {{kChildRole, role},
                           {kChildFolder, std::string(folderText.begin(), folderText.end())}};
    return GearsetTesting::RunChild(request);
}

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
    Tolm::CFixedCurrentTime now_{kNow};
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

TEST_F(FolderWorkerTest, ARelativePathIsMadeFromTheWorkingDirectoryFirstComponentIncluded) {
    const GearsetTesting::ChildResult child = RunChildRole("relative", root_);
    EXPECT_EQ(0, child.status) << child.startError << child.err;
    EXPECT_EQ((std::set<std::string>{"out", "out/sub", "single"}), Tree());
}

TEST_F(FolderWorkerTest, APathWithNoComponentIsReportedAndMakesNothing) {
    const GearsetTest::ReportRecorder recorder;
    CFolderWorker::CreateSubDirs(u"");
    EXPECT_EQ(1, recorder.Count("Src\\FolderWorker"));
    EXPECT_TRUE(Tree().empty());
}

// Threads in two processes share no lock: only the atomic creation keeps them
// apart, so that together they make as many directories as they made calls.
TEST_F(FolderWorkerTest, ThreadsOfTwoProcessesEachGetADirectoryOfTheirOwn) {
    GearsetTesting::ChildResult child;
    std::thread second([&] { child = RunChildRole("race", root_); });
    const bool ready = awaitFile(root_ / "ready");  // a process start may take a while
    std::ofstream(root_ / "go") << "go";
    if (ready) raceForStampedDirectories(root_);
    second.join();
    ASSERT_TRUE(ready) << child.startError << child.err;
    EXPECT_EQ(0, child.status) << child.err;
    std::set<std::string> made;  // a name handed out twice leaves one short
    for (const auto& entry : fs::directory_iterator(root_ / "race")) made.insert(entry.path().string());
    EXPECT_EQ(Stamped(root_ / "race", 2 * kRaceThreads * kRaceCallsEach),
              std::vector<std::string>(made.begin(), made.end()));
}

}  // namespace

// Windows' rules on every system, through a port in memory that keeps them.
namespace {

using Tolm::testing::MemoryPort;

// Every folder below C:\work, as paths relative to it with '/'.
std::set<std::string> WindowsTree(const MemoryPort& port, const std::string& folder = "C:\\work",
                                  const std::string& prefix = "") {
    std::set<std::string> tree;
    for (const std::string& name : port.Listing(folder)) {
        tree.insert(prefix + name);
        for (const std::string& below : WindowsTree(port, folder + "\\" + name, prefix + name + "/"))
            tree.insert(below);
    }
    return tree;
}

TEST(FolderWorkerOnWindowsTest, AncestorsBeyondTheOrdinaryPathLimitAreMade) {
    MemoryPort port(MemoryPort::kWindowsRules);
    std::u16string path = u"C:\\work";
    for (char16_t name = u'a'; path.size() < 320; ++name) path += u"\\" + std::u16string(70, name);
    CFolderWorker::CreateDirRecursive(Tolm::CUnicodeString(path));
    EXPECT_TRUE(Tolm::FileSystem::AccessDir(Tolm::CUnicodeString(path)));
    EXPECT_EQ(5u, WindowsTree(port).size());
}

// "\\?\" before a path the user gave in the long form already is not doubled;
// trailing dots and spaces go from every name alike, as Windows reads an
// ordinary path, so that the last folder is no different from its parents.
TEST(FolderWorkerOnWindowsTest, LongFormsAndTrailingDotsMeanOneFolderThroughout) {
    MemoryPort port(MemoryPort::kWindowsRules);
    CFolderWorker::CreateDirRecursive(u"\\\\?\\C:\\work\\long\\form");
    CFolderWorker::CreateDirRecursive(u"a./b ./c.");
    CFolderWorker::CreateDirRecursive(u"C:/work/s/t");
    EXPECT_EQ((std::set<std::string>{"long", "long/form", "a", "a/b", "a/b/c", "s", "s/t"}),
              WindowsTree(port));
    const Tolm::CUnicodeString stamped = CFolderWorker::CreateSubDirByCurrentTime(u"r1/r2");
    EXPECT_TRUE(Tolm::FileSystem::AccessDir(stamped)) << stamped.ToUtf8();
    EXPECT_EQ(1u, port.Listing("C:\\work\\r1\\r2").size());
}

}  // namespace
