#include <Tolm/FileSystem.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "TestSupport.h"

using Tolm::CUnicodeString;
namespace FileSystem = Tolm::FileSystem;

namespace {

std::vector<std::string> utf8Parts(const FileSystem::CComponents& components) {
    std::vector<std::string> parts;
    for (const CUnicodeString& part : components) parts.push_back(part.ToUtf8());
    return parts;
}

TEST(Paths, SplitGivesRootThenNamesSkippingEmptyOnes) {
    struct Case {
        const char16_t* path;
        FileSystem::TPathType type;
        std::vector<std::string> parts;
    };
    const Case cases[] = {
        {u"/tmp/a/b", FileSystem::ptAbsolute, {"/", "tmp", "a", "b"}},
        {u"a/b", FileSystem::ptRelative, {"a", "b"}},
        {u"//tmp//a/", FileSystem::ptAbsolute, {"/", "tmp", "a"}},
        {u"/", FileSystem::ptAbsolute, {"/"}},
        {u"", FileSystem::ptRelative, {}},
        {u"a\\b", FileSystem::ptRelative, {"a\\b"}},  // a backslash is part of a name
        {u"\\\\?\\/tmp/x y", FileSystem::ptAbsolute, {"/", "tmp", "x y"}},
        {u"./a/../b", FileSystem::ptRelative, {".", "a", "..", "b"}},
    };
    for (const Case& c : cases) {
        FileSystem::CComponents components(1, CUnicodeString(u"left over"));
        EXPECT_EQ(c.type, FileSystem::Split(c.path, components)) << CUnicodeString(c.path).ToUtf8();
        EXPECT_EQ(c.parts, utf8Parts(components)) << CUnicodeString(c.path).ToUtf8();
    }
}

TEST(Paths, CombineAndMergePutOneSeparatorBetween) {
    struct Case {
        const char16_t* directory;
        const char16_t* name;
        const char16_t* expected;
    };
    const Case cases[] = {
        {u"/tmp", u"a b", u"/tmp/a b"}, {u"/tmp/", u"a", u"/tmp/a"}, {u"", u"a", u"a"},
        {u"/", u"tmp", u"/tmp"},        {u"a", u"", u"a/"},          {u"/tmp/", u"/a", u"/tmp/a"},
        {u"/tmp", u"/a", u"/tmp/a"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.expected, FileSystem::CombinePath(c.directory, c.name))
            << CUnicodeString(c.directory).ToUtf8();
        EXPECT_EQ(c.expected, FileSystem::Merge(c.directory, c.name));
    }
    // Split then Merge rebuilds the path.
    FileSystem::CComponents components;
    FileSystem::Split(u"/var/tmp/deep/er", components);
    CUnicodeString rebuilt;
    for (const CUnicodeString& part : components) rebuilt = FileSystem::Merge(rebuilt, part);
    EXPECT_EQ(u"/var/tmp/deep/er", rebuilt);
}

TEST(Paths, DrivePath) {
    EXPECT_EQ(u"/", FileSystem::GetDrivePath(u"/tmp/a"));
    EXPECT_EQ(u"/", FileSystem::GetDrivePath(u"\\\\?\\/tmp/a"));
    EXPECT_EQ(u".", FileSystem::GetDrivePath(u"a/b"));
    EXPECT_EQ(u".", FileSystem::GetDrivePath(u""));
}

class Directories : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (std::filesystem::temp_directory_path() / "tolm-fs-XXXXXX").string();
        ASSERT_NE(nullptr, ::mkdtemp(pattern.data())) << std::strerror(errno);
        root_ = pattern;
    }
    void TearDown() override {
        std::error_code ignored;
        std::filesystem::remove_all(root_, ignored);
    }
    CUnicodeString at(const std::string& name) const { return CUnicodeString::FromUtf8(root_ + "/" + name); }
    void makeFile(const std::string& name) const { std::ofstream(root_ + "/" + name) << "x"; }

    std::string root_;
};

TEST_F(Directories, MakeDirCreatesOnceThenAnswersFalse) {
    const CUnicodeString path = at("new");
    EXPECT_FALSE(FileSystem::AccessDir(path));
    EXPECT_TRUE(FileSystem::MakeDir(path, true));
    EXPECT_TRUE(FileSystem::AccessDir(path));
    EXPECT_FALSE(FileSystem::MakeDir(path, true));
    EXPECT_FALSE(FileSystem::MakeDir(path, false));
    EXPECT_TRUE(FileSystem::AccessDir(u"\\\\?\\" + path));
}

TEST_F(Directories, LongPathPrefixIsDropped) {
    const CUnicodeString path = at("long \u00E9");
    EXPECT_TRUE(FileSystem::MakeDir(u"\\\\?\\" + path, true));
    EXPECT_TRUE(std::filesystem::is_directory(path.ToUtf8()));
}

TEST_F(Directories, FailuresThrowFileErrorsNamingThePath) {
    makeFile("file");
    struct Case {
        std::string name;
        int systemError;
    };
    const Case cases[] = {{"file", EEXIST}, {"missing/child", ENOENT}, {"file/child", ENOTDIR}};
    for (const Case& c : cases) {
        EXPECT_FALSE(FileSystem::MakeDir(at(c.name), false)) << c.name;
        try {
            FileSystem::MakeDir(at(c.name), true);
            ADD_FAILURE() << "no error for " << c.name;
        } catch (Tolm::CException* error) {
            EXPECT_EQ(Tolm::CException::Kind::file, error->GetKind());
            EXPECT_EQ(c.systemError, error->GetSystemError()) << c.name;
            const std::string message = error->GetMessage();
            EXPECT_NE(message.find(root_ + "/" + c.name), std::string::npos) << message;
            EXPECT_NE(message.find(std::strerror(c.systemError)), std::string::npos) << message;
            error->Delete();
        }
    }
    EXPECT_FALSE(FileSystem::AccessDir(at("file")));
    EXPECT_FALSE(FileSystem::AccessDir(at("missing")));
}

}  // namespace
