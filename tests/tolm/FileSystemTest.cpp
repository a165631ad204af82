#include <Tolm/FileSystem.h>

#include <gtest/gtest.h>

#include "PortableTesting.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "GearsetTesting.h"
#include "MemoryPort.h"

using Tolm::CUnicodeString;
namespace FileSystem = Tolm::FileSystem;

namespace {

// Ordinary paths are covered by the folder worker's tests; these are the edges.
// Each split lists its components joined by '|' (the first one the root of an
// absolute path) and the drive path; the long-path prefix is dropped.
struct SplitCase {
    const char16_t* path;
    const char16_t* parts;
    const char16_t* drive;
};
// Windows: either separator; a share is the root of a network path, as a drive is.
constexpr SplitCase kWindowsSplits[] = {
    {u"C:\\a\\b\\", u"C:\\|a|b", u"C:\\"},
    {u"c:/a//b", u"c:/|a|b", u"c:/"},
    {u"\\a\\b", u"\\|a|b", u"\\"},
    {u"\\\\srv\\share\\a\\b", u"\\\\srv\\share\\|a|b", u"\\\\srv\\share\\"},
    {u"\\\\?\\UNC\\srv\\share\\a", u"\\\\srv\\share\\|a", u"\\\\srv\\share\\"},
    {u"\\\\?\\C:\\x y", u"C:\\|x y", u"C:\\"},
    {u"a/b\\c", u"a|b|c", u"."},
    {u"", u"", u"."},
};
// POSIX: a backslash is part of a name.
constexpr SplitCase kPosixSplits[] = {
    {u"//tmp//a/", u"/|tmp|a", u"/"}, {u"", u"", u"."},
    {u"./a/../b", u".|a|..|b", u"."}, {u"a\\b", u"a\\b", u"."},
    {u"\\\\?\\/x y", u"/|x y", u"/"},
};

// Each system's path rules, on every system: the port in force decides.
TEST(Paths, SplitSkipsEmptyNamesAndJoiningPutsOneSeparatorBetween) {
    for (const auto rules :
         {Tolm::testing::MemoryPort::kPosixRules, Tolm::testing::MemoryPort::kWindowsRules}) {
        const bool windows = rules == Tolm::testing::MemoryPort::kWindowsRules;
        SCOPED_TRACE(windows ? "Windows" : "POSIX");
        Tolm::testing::MemoryPort port(rules);
        const auto check = [](const SplitCase& c) {
            FileSystem::CComponents components(1, CUnicodeString(u"left over"));
            const FileSystem::TPathType type = FileSystem::Split(c.path, components);
            std::u16string parts;
            for (const CUnicodeString& part : components)
                (parts += parts.empty() ? u"" : u"|") += part.GetString();
            EXPECT_EQ(c.parts, parts) << CUnicodeString(c.path).ToUtf8();
            EXPECT_EQ(std::u16string_view(c.drive) == u"." ? FileSystem::ptRelative : FileSystem::ptAbsolute,
                      type)
                << CUnicodeString(c.path).ToUtf8();
            EXPECT_EQ(c.drive, FileSystem::GetDrivePath(c.path)) << CUnicodeString(c.path).ToUtf8();
        };
        if (windows) {
            for (const SplitCase& c : kWindowsSplits) check(c);
            EXPECT_EQ(u"C:\\tmp\\a", FileSystem::CombinePath(u"C:\\tmp\\", u"\\a"));
            EXPECT_EQ(u"a\\", FileSystem::CombinePath(u"a", u""));
            EXPECT_EQ(u"\\\\srv\\share\\a", FileSystem::Merge(u"\\\\srv\\share\\", u"a"));
        } else {
            for (const SplitCase& c : kPosixSplits) check(c);
            EXPECT_EQ(u"/tmp/a", FileSystem::CombinePath(u"/tmp/", u"/a"));
            EXPECT_EQ(u"a/", FileSystem::CombinePath(u"a", u""));
        }
        EXPECT_EQ(u"a", FileSystem::Merge(u"", u"a"));
    }
}

TEST(Directories, MakeDirCreatesOnceAndFailuresNameThePathAndTheCause) {
    // The long path is formed with '/' and the folder's name goes beyond ASCII: the Win32 binding
    // completes the long-path form into the system's own.
    const std::string root = GearsetTesting::MakeTemporaryFolder("tolm-fs");
    ASSERT_FALSE(root.empty());
    const auto at = [&root](const std::string& name) { return CUnicodeString::FromUtf8(root + "/" + name); };

    const CUnicodeString path = at("new \u00E9");
    EXPECT_FALSE(FileSystem::AccessDir(path));
    EXPECT_TRUE(FileSystem::MakeDir(u"\\\\?\\" + path, true));
    const std::string made = path.ToUtf8();
    EXPECT_TRUE(std::filesystem::is_directory(std::u8string(made.begin(), made.end())));
    EXPECT_TRUE(FileSystem::AccessDir(u"\\\\?\\" + path));
    EXPECT_FALSE(FileSystem::MakeDir(path, true)) << "already there is no failure";

    std::ofstream(root + "/file") << "x";
    EXPECT_FALSE(FileSystem::AccessDir(at("file")));
    const struct {
        std::string name;
        int systemError;
    } cases[] = {{"file", EEXIST}, {"missing/child", ENOENT}, {"file/child", ENOTDIR}};
    for (const auto& c : cases) {
        EXPECT_FALSE(FileSystem::MakeDir(at(c.name), false)) << c.name;
        const auto thrown = GearsetTest::Catch([&] { FileSystem::MakeDir(at(c.name), true); });
        EXPECT_EQ(Tolm::CException::Kind::file, thrown.kind) << c.name;
        EXPECT_EQ(c.systemError, thrown.systemError) << c.name;
        EXPECT_NE(std::string::npos, thrown.message.find(root + "/" + c.name)) << thrown.message;
#ifdef _WIN32  // the system's own text and number, or the POSIX meaning where it made one
        EXPECT_TRUE(thrown.message.find("(system error ") != std::string::npos ||
                    thrown.message.find(std::strerror(c.systemError)) != std::string::npos)
            << thrown.message;
#else
        EXPECT_NE(std::string::npos, thrown.message.find(std::strerror(c.systemError))) << thrown.message;
#endif
    }
    std::filesystem::remove_all(root);
}

#ifdef _WIN32
// The Win32 binding answers with the reasons POSIX gives: a file where a
// parent folder should be is "not a folder", not "path not found".
TEST(Directories, WindowsMakeDirFailuresCarryThePosixReasons) {
    const std::filesystem::path root = GearsetTesting::MakeTemporaryFolder("tolm-fs");
    ASSERT_FALSE(root.empty());
    std::ofstream(root / "file") << "x";
    const struct {
        std::filesystem::path path;
        int systemError;
    } cases[] = {
        {root / "file", EEXIST}, {root / "missing" / "child", ENOENT}, {root / "file" / "child", ENOTDIR}};
    for (const auto& c : cases) {
        const CUnicodeString path = CUnicodeString::FromUtf8(c.path.string());
        const auto thrown = GearsetTest::Catch([&] { FileSystem::MakeDir(u"\\\\?\\" + path, true); });
        EXPECT_EQ(Tolm::CException::Kind::file, thrown.kind) << c.path;
        EXPECT_EQ(c.systemError, thrown.systemError) << c.path;
    }
    std::filesystem::remove_all(root);
}
#endif

}  // namespace
