// CMemoryFile: growth, contiguous bytes, positions and lengths.
#include <Tolm/File.h>

#include "FilesTestSupport.h"

#include <vector>

namespace {

using filestest::Catch;
using Tolm::CException;
using Tolm::CMemoryFile;

TEST(MemoryFileTest, EmptyFileHasNoBytes) {
    CMemoryFile file;
    EXPECT_EQ(nullptr, file.GetData());
    EXPECT_EQ(0, file.GetLength());
    char byte;
    EXPECT_EQ(0, file.Read(&byte, 1));
    EXPECT_EQ(u"memory file", file.GetFileName());
}

TEST(MemoryFileTest, SmallWritesGrowOneContiguousBlock) {
    for (int growStep : {1, 16, 1024, 100000}) {
        SCOPED_TRACE(growStep);
        CMemoryFile file(growStep);
        std::vector<unsigned char> model;
        for (int i = 0; i < 20000; ++i) {
            const unsigned char piece[7] = {static_cast<unsigned char>(i), static_cast<unsigned char>(i >> 8), 1, 2,
                                            3, 4, static_cast<unsigned char>(i * 7)};
            file.Write(piece, 7);
            model.insert(model.end(), piece, piece + 7);
        }
        ASSERT_EQ(static_cast<std::int64_t>(model.size()), file.GetLength());
        EXPECT_EQ(model, std::vector<unsigned char>(file.GetData(), file.GetData() + model.size()));
        EXPECT_EQ(model.size(), file.GetLength32());
    }
}

TEST(MemoryFileTest, GapsAndLengtheningReadAsZero) {
    CMemoryFile file(8);
    file.Write("abc", 3);
    file.SetLength(1);
    file.Seek(4, CMemoryFile::begin);
    file.Write("z", 1);  // bytes 1..3 were cut, then skipped over
    EXPECT_EQ(std::string("a\0\0\0z", 5), std::string(reinterpret_cast<const char*>(file.GetData()), 5));
    file.SetLength(9);
    EXPECT_EQ(std::string(4, '\0'), std::string(reinterpret_cast<const char*>(file.GetData()) + 5, 4));
    EXPECT_EQ(5, file.GetPosition());
}

TEST(MemoryFileTest, ReadsAreShortAtTheEndAndDWordsLittleEndian) {
    CMemoryFile file;
    file.WriteDWord(0xA1B2C3D4u);
    file.Write("xy", 2);
    file.SeekToBegin();
    EXPECT_EQ(0xD4, file.GetData()[0]);
    EXPECT_EQ(0xA1B2C3D4u, file.ReadDWord());
    char bytes[8];
    EXPECT_EQ(2, file.Read(bytes, 8));
    EXPECT_EQ(0, file.Read(bytes, 8));
    file.Seek(-1, CMemoryFile::end);
    auto caught = Catch([&] { file.ReadDWord(); });
    ASSERT_TRUE(caught);
    EXPECT_EQ(CException::Kind::file, caught->kind);
    EXPECT_NE(std::string::npos, caught->message.find("memory file"));
}

TEST(MemoryFileTest, BadArgumentsAreRefused) {
    EXPECT_TRUE(Catch([] { CMemoryFile file(0); }));
    CMemoryFile file;
    char byte = 0;
    for (auto call : {+[](CMemoryFile& f, char& b) { f.Read(&b, -1); },
                      +[](CMemoryFile& f, char&) { f.Write(nullptr, 1); },
                      +[](CMemoryFile& f, char&) { f.Seek(-1, CMemoryFile::begin); },
                      +[](CMemoryFile& f, char&) { f.SetLength(-5); },
                      +[](CMemoryFile& f, char&) { f.SetLength(1LL << 40); }}) {
        auto caught = Catch([&] { call(file, byte); });
        ASSERT_TRUE(caught);
    }
    EXPECT_EQ(0, file.GetLength());
}

}  // namespace
