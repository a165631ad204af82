// Windows' rules for paths and files, on every system: the framework's calls
// go through a port in memory that keeps them (MemoryPort), as a real
// Windows does and Wine does not.
#include <Tolm/File.h>
#include <Tolm/FileSystem.h>

#include <gtest/gtest.h>

#include "MemoryPort.h"
#include "PathGrammar.h"

#include <string>

using Tolm::CUnicodeString;
using Tolm::testing::MemoryPort;
namespace FileSystem = Tolm::FileSystem;

namespace {

std::string LongForm(const char16_t* path) {
    return CUnicodeString(Tolm::detail::windowsLongForm(path, u"C:\\work")).ToUtf8();
}

// The long form every path reaches the system in, from the folder C:\work.
TEST(WindowsPaths, EveryPathReachesTheSystemInTheLongForm) {
    struct Row {
        const char16_t* path;
        const char* longForm;
    };
    const Row rows[] = {
        {u"C:\\a\\b", R"(\\?\C:\a\b)"},
        {u"C:/a//b/", R"(\\?\C:\a\b)"},
        {u"rel\\sub", R"(\\?\C:\work\rel\sub)"},
        {u"\\top", R"(\\?\C:\top)"},
        {u"C:x", R"(\\?\C:\work\x)"},
        {u"D:x", R"(\\?\D:\x)"},
        {u".\\a\\.\\b", R"(\\?\C:\work\a\b)"},
        {u"..\\..\\..\\x", R"(\\?\C:\x)"},
        {u"C:\\a\\..\\..", R"(\\?\C:\)"},
        {u"C:\\", R"(\\?\C:\)"},
        // Windows trims trailing dots and spaces from each name of an ordinary path.
        {u"a./b ./c", R"(\\?\C:\work\a\b\c)"},
        {u"C:\\d. . \\f.txt.", R"(\\?\C:\d\f.txt)"},
        {u"\\\\srv\\share\\a/b", R"(\\?\UNC\srv\share\a\b)"},
        // Already in the long form: as it stands, dots and all.
        {u"\\\\?\\C:\\a.\\b ", R"(\\?\C:\a.\b )"},
        {u"\\\\?\\UNC\\srv\\share\\a", R"(\\?\UNC\srv\share\a)"},
        // The prefix before a path not in the long form: read as an ordinary path.
        {u"\\\\?\\C:/a/b", R"(\\?\C:\a\b)"},
        {u"\\\\?\\rel", R"(\\?\C:\work\rel)"},
        {u"\\\\?\\\\\\?\\C:\\a\\b", R"(\\?\C:\a\b)"},
        {u"\\\\?\\UNC/srv/share/a", R"(\\?\UNC\srv\share\a)"},
        // Devices.
        {u"NUL", R"(\\.\NUL)"},
        {u"C:\\dir\\con.txt", R"(\\.\con)"},
        {u"\\\\.\\pipe\\x", R"(\\.\pipe\x)"},
        {u"\\\\?\\Volume{1234}\\a", R"(\\?\Volume{1234}\a)"},
        {u"nul.d\\x", R"(\\?\C:\work\nul.d\x)"},
    };
    for (const Row& row : rows)
        EXPECT_EQ(row.longForm, LongForm(row.path)) << CUnicodeString(row.path).ToUtf8();
}

// Windows refuses an ordinary path of 260 characters or more; the framework
// hands it every path in the long form.
TEST(WindowsPaths, FoldersAndFilesBeyondTheOrdinaryLimitAreMadeAndUsed) {
    MemoryPort port(MemoryPort::kWindowsRules);
    CUnicodeString deep = u"C:\\work";
    for (char16_t name = u'a'; deep.GetLength() < 300; ++name) {
        deep += u"\\" + CUnicodeString(std::u16string(60, name));
        ASSERT_TRUE(FileSystem::MakeDir(deep, true)) << deep.ToUtf8();
        EXPECT_TRUE(FileSystem::AccessDir(deep));
    }
    const CUnicodeString path = deep + u"\\file.bin";
    {
        Tolm::CFile file(path, Tolm::CFile::kNewReadWrite);
        file.Write("deep", 4);
    }
    EXPECT_EQ(4u, port.Contents(path.ToUtf8()).size());
    const CUnicodeString temporary = Tolm::TempFile::NewIn(deep, u"t", u"tmp");
    EXPECT_TRUE(port.Exists(temporary.ToUtf8()));
    Tolm::TempFile::Rename(temporary, deep + u"\\renamed");
    EXPECT_TRUE(port.Exists((deep + u"\\renamed").ToUtf8()));
    Tolm::TempFile::Delete(deep + u"\\renamed");
    EXPECT_FALSE(port.Exists((deep + u"\\renamed").ToUtf8()));
}

// A name means the same with the prefix and without it, and trailing dots
// and spaces are dealt with one way: as Windows reads an ordinary path.
TEST(WindowsPaths, APathMeansOneFolderWithOrWithoutThePrefix) {
    MemoryPort port(MemoryPort::kWindowsRules);
    ASSERT_TRUE(FileSystem::MakeDir(u"a.", true));
    EXPECT_TRUE(FileSystem::AccessDir(u"C:\\work\\a"));
    EXPECT_FALSE(FileSystem::MakeDir(u"\\\\?\\a ", true)) << "the same folder";
    EXPECT_FALSE(FileSystem::MakeDir(u"\\\\?\\\\\\?\\C:\\work\\a", true)) << "the same folder";
    ASSERT_TRUE(FileSystem::MakeDir(u"\\\\?\\C:/work/a/b", true));
    EXPECT_TRUE(FileSystem::AccessDir(u"a\\b"));
    EXPECT_EQ((std::set<std::string>{"a"}), port.Listing("C:\\work"));
    // A file opened by either name is the one file.
    Tolm::CFile(u"\\\\?\\C:\\work\\a\\f", Tolm::CFile::kNewReadWrite).Write("1", 1);
    EXPECT_EQ(1, Tolm::CFile(u"a./f", Tolm::CFile::modeRead).GetLength());
}

}  // namespace
