#include <Tolm/FileSystem.h>

#include <gtest/gtest.h>

#include "PortableTesting.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "GearsetTesting.h"

using Tolm::CUnicodeString;
namespace FileSystem = Tolm::FileSystem;

namespace {

// Ordinary paths are covered by the folder worker's tests; these are the edges.
TEST(Paths, SplitSkipsEmptyNamesAndJoiningPutsOneSeparatorBetween) {
    GEARSET_SKIP_ON_WINDOWS("the table has POSIX roots and separators; Windows joins with a backslash");
    // The components joined by '|'; a backslash is part of a name, and the
    // long-path prefix is dropped.
    const struct {
        const char16_t* path;
        const char* parts;
    } splits[] = {
        {u"//tmp//a/", "/|tmp|a"}, {u"", ""}, {u"./a/../b", ".|a|..|b"}, {u"a\\b", "a\\b"},
        {u"\\\\?\\/x y", "/|x y"},
    };
    for (const auto& c : splits) {
        FileSystem::CComponents components(1, CUnicodeString(u"left over"));
        const bool absolute = c.parts[0] == '/';
        EXPECT_EQ(absolute ? FileSystem::ptAbsolute : FileSystem::ptRelative,
                  FileSystem::Split(c.path, components));
        std::string parts;
        for (const CUnicodeString& part : components) parts += (parts.empty() ? "" : "|") + part.ToUtf8();
        EXPECT_EQ(c.parts, parts);
        EXPECT_EQ(absolute ? u"/" : u".", FileSystem::GetDrivePath(c.path)) << c.parts;
    }
    EXPECT_EQ(u"/tmp/a", FileSystem::CombinePath(u"/tmp/", u"/a"));
    EXPECT_EQ(u"a/", FileSystem::CombinePath(u"a", u""));
    EXPECT_EQ(u"a", FileSystem::Merge(u"", u"a"));
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
        EXPECT_NE(std::string::npos, thrown.message.find(std::strerror(c.systemError))) << thrown.message;
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
    } cases[] = {{root / "file", EEXIST}, {root / "missing" / "child", ENOENT}, {root / "file" / "child", ENOTDIR}};
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
