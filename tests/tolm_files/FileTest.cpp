// CFile against the disk: positions, lengths, open flags, the write-back
// window (checked against a byte-vector model and against the file on the
// disk), the fault seam, and temporary files.
#include <Tolm/File.h>

#include "FilesTestSupport.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <functional>
#include <memory>
#include <random>
#include <set>

#include <sys/stat.h>

namespace {

using filestest::Catch;
using filestest::Contains;
using Tolm::CException;
using Tolm::CFile;

class FileTest : public filestest::TempFolderTest {
protected:
    void TearDown() override {
        CFile::FailSystemWriteAfter(-1, 0);
        TempFolderTest::TearDown();
    }
    std::unique_ptr<CFile> Open(const std::string& name, unsigned flags = CFile::kNewReadWrite) {
        return std::make_unique<CFile>(U(PathOf(name)), flags);
    }
    static void Write(CFile& file, std::int64_t at, const std::string& text) {
        file.Seek(at, CFile::begin);
        file.Write(text.data(), static_cast<int>(text.size()));
    }
    static std::string Read(CFile& file, std::int64_t at, int count) {
        std::string text(static_cast<std::size_t>(count), '\0');
        file.Seek(at, CFile::begin);
        text.resize(static_cast<std::size_t>(file.Read(text.data(), count)));
        return text;
    }
};

TEST_F(FileTest, ReadIsShortOnlyAtTheEnd) {
    auto file = Open("a");
    Write(*file, 0, "0123456789");
    EXPECT_EQ("6789", Read(*file, 6, 10));
    EXPECT_EQ(10, file->GetPosition());
    char byte;
    EXPECT_EQ(0, file->Read(&byte, 1));
    EXPECT_EQ("", Read(*file, 50, 4));  // past the end
    EXPECT_EQ(50, file->GetPosition());
    EXPECT_EQ(0, file->Read(nullptr, 0));
}

TEST_F(FileTest, SeekOriginsAndBadSeeks) {
    auto file = Open("a");
    Write(*file, 0, "abcdef");
    EXPECT_EQ(2, file->Seek(2, CFile::begin));
    EXPECT_EQ(5, file->Seek(3, CFile::current));
    EXPECT_EQ(4, file->Seek(-2, CFile::end));
    EXPECT_EQ(100, file->Seek(94, CFile::end));  // past the end is allowed
    file->SeekToBegin();
    EXPECT_EQ(0, file->GetPosition());
    EXPECT_EQ(6, file->SeekToEnd());
    for (auto [offset, origin] : {std::pair{-1LL, 0}, {-7LL, 2}, {0LL, 3}}) {
        auto caught = Catch([&] { file->Seek(offset, origin); });
        ASSERT_TRUE(caught) << offset << " from " << origin;
        EXPECT_EQ(CException::Kind::argument, caught->kind);
    }
    EXPECT_EQ(6, file->GetPosition());  // a refused seek moves nothing
}

TEST_F(FileTest, PositionsAndLengthsAre64Bit) {
    const std::int64_t far = 5LL << 30;  // beyond 4 GB, sparse on the disk
    {
        auto file = Open("big");
        Write(*file, far, "tail");
        EXPECT_EQ(far + 4, file->GetLength());
        EXPECT_EQ("tail", Read(*file, far, 4));
        EXPECT_EQ(std::string(4, '\0'), Read(*file, far - 4, 4));
        auto caught = Catch([&] { file->GetLength32(); });
        ASSERT_TRUE(caught);
        EXPECT_EQ(CException::Kind::file, caught->kind);
        EXPECT_TRUE(Contains(caught->message, PathOf("big"))) << caught->message;
        file->SetLength(0xFFFFFFFFLL);
        EXPECT_EQ(0xFFFFFFFFu, file->GetLength32());
        file->SetLength(far + 4);
    }
    EXPECT_EQ(far + 4, FileLength(PathOf("big")));
}

TEST_F(FileTest, DWordsAreLittleEndian) {
    {
        auto file = Open("d");
        file->WriteDWord(0x11223344u);
        file->WriteDWord(0xFFFFFFFFu);
        file->SeekToBegin();
        EXPECT_EQ(0x11223344u, file->ReadDWord());
        EXPECT_EQ(0xFFFFFFFFu, file->ReadDWord());
    }
    EXPECT_EQ((std::vector<unsigned char>{0x44, 0x33, 0x22, 0x11, 0xFF, 0xFF, 0xFF, 0xFF}), Contents(PathOf("d")));
}

TEST_F(FileTest, ShortReadDWordIsUnexpectedEndNamingFileAndOffset) {
    auto file = Open("d");
    Write(*file, 0, "abcdef");
    file->Seek(4, CFile::begin);
    auto caught = Catch([&] { file->ReadDWord(); });
    ASSERT_TRUE(caught);
    EXPECT_EQ(CException::Kind::file, caught->kind);
    EXPECT_TRUE(Contains(caught->message, "unexpected end of file")) << caught->message;
    EXPECT_TRUE(Contains(caught->message, PathOf("d"))) << caught->message;
    EXPECT_TRUE(Contains(caught->message, "offset 4")) << caught->message;

    char bytes[8];
    file->SeekToBegin();
    EXPECT_FALSE(Catch([&] { file->ReadExactly(bytes, 6); }));
    file->SeekToBegin();
    EXPECT_TRUE(Catch([&] { file->ReadExactly(bytes, 7); }));
}

TEST_F(FileTest, NewReadWriteEmptiesAndOpensForBoth) {
    Put(PathOf("t"), {1, 2, 3, 4, 5});
    auto file = Open("t", 0x33);
    EXPECT_EQ(0, file->GetLength());
    Write(*file, 0, "xy");
    EXPECT_EQ("xy", Read(*file, 0, 2));
    file->Close();
    EXPECT_EQ(2, FileLength(PathOf("t")));
}

TEST_F(FileTest, CreateForWritingCreatesOrEmptiesAndCannotRead) {
    {
        auto file = Open("w", 0x1022);  // missing: created
        Write(*file, 0, "hello");
        char byte;
        auto caught = Catch([&] { file->Read(&byte, 1); });
        ASSERT_TRUE(caught);
        EXPECT_EQ(CException::Kind::file, caught->kind);
    }
    EXPECT_EQ(5, FileLength(PathOf("w")));
    Open("w", 0x1022)->Close();  // present: emptied
    EXPECT_EQ(0, FileLength(PathOf("w")));
}

TEST_F(FileTest, OpenFlagsTable) {
    Put(PathOf("present"), {'a', 'b', 'c'});
    struct Row {
        const char* name;
        unsigned flags;
        bool opens;
        long long lengthAfterOpen;  // -1: the file does not exist afterwards
    };
    const Row rows[] = {
        {"present", CFile::modeRead, true, 3},
        {"present", CFile::modeReadWrite, true, 3},
        {"present", CFile::modeReadWrite | CFile::modeCreate | CFile::modeNoTruncate, true, 3},
        {"present", CFile::modeWrite | CFile::modeCreate, true, 0},
        {"present", CFile::modeReadWrite | CFile::modeCreateNew, false, 0},
        {"missing1", CFile::modeRead, false, -1},
        {"missing2", CFile::modeReadWrite | CFile::modeCreateNew, true, 0},
        {"missing3", CFile::modeWrite | CFile::modeCreate | CFile::modeNoTruncate, true, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.name) + " flags " + std::to_string(row.flags));
        if (std::string(row.name) == "present") Put(PathOf("present"), {'a', 'b', 'c'});
        auto caught = Catch([&] { Open(row.name, row.flags)->Close(); });
        EXPECT_EQ(row.opens, !caught);
        if (caught) {
            EXPECT_EQ(CException::Kind::file, caught->kind);
            EXPECT_TRUE(Contains(caught->message, PathOf(row.name))) << caught->message;
            EXPECT_NE(0, caught->systemError);
        }
        if (row.opens) {
            EXPECT_EQ(row.lengthAfterOpen, FileLength(PathOf(row.name)));
        }
    }
    auto missing = Catch([&] { Open("nothing", CFile::modeRead); });
    ASSERT_TRUE(missing);
    EXPECT_TRUE(Contains(missing->message, "No such file or directory")) << missing->message;
    for (unsigned bad : {0u, 0x20u, 0x8003u}) {
        auto caught = Catch([&] { Open("x", bad); });
        ASSERT_TRUE(caught) << bad;
        EXPECT_EQ(CException::Kind::argument, caught->kind);
    }
    auto directory = Catch([&] { CFile(U(folder_), CFile::modeRead); });
    ASSERT_TRUE(directory);
    EXPECT_EQ(EISDIR, directory->systemError);
}

TEST_F(FileTest, LongPathPrefixIsDropped) {
    Put(PathOf("long"), {'o', 'k'});
    CFile file(U("\\\\?\\" + PathOf("long")), CFile::modeRead);
    EXPECT_EQ(2, file.GetLength());
    EXPECT_EQ("\\\\?\\" + PathOf("long"), file.GetFileName().ToUtf8());
}

TEST_F(FileTest, AccessAfterCloseIsFileErrorAndCloseTwiceIsHarmless) {
    auto file = Open("c");
    file->Close();
    file->Close();
    for (const auto& call : std::vector<std::function<void()>>{
             [&] { file->Write("x", 1); }, [&] { file->GetLength(); }, [&] { file->Seek(0, 0); },
             [&] { file->Flush(); }, [&] { file->SetLength(3); }}) {
        auto caught = Catch(call);
        ASSERT_TRUE(caught);
        EXPECT_EQ(CException::Kind::file, caught->kind);
    }
}

// Each row: what a sequence of calls leaves on the disk after Close.
TEST_F(FileTest, LengthOnDiskEndsAtLastByteWrittenOrLengthSet) {
    struct Row {
        const char* name;
        std::function<void(CFile&)> calls;
        long long length;
    };
    const std::string page(4096 - 12, 'p');
    const Row rows[] = {
        {"a 4-byte write at 8192", [](CFile& f) { Write(f, 8192, "abcd"); }, 8196},
        {"refill then a short page at its end",
         [&](CFile& f) {
             f.SetLength(5 * 4096);
             f.Seek(5 * 4096, CFile::begin);
             f.WriteDWord(0xFFFFFFFF);
             f.WriteDWord(100);
             f.WriteDWord(100);
             f.Write(page.data(), 100);
         },
         5 * 4096 + 112},
        {"refill beyond the pages written",
         [&](CFile& f) {
             f.SetLength(5 * 4096);
             Write(f, 4096, std::string(4096, 'q'));
         },
         5 * 4096},
        {"cut after buffered writes", [](CFile& f) { Write(f, 0, "0123456789"), f.SetLength(5); }, 5},
        {"cut then lengthen", [](CFile& f) { f.SetLength(100), f.SetLength(50), Write(f, 10, "abcde"); }, 50},
        {"nothing", [](CFile&) {}, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        auto file = Open(row.name);
        row.calls(*file);
        const long long logical = file->GetLength();
        file->Close();
        EXPECT_EQ(row.length, logical);
        EXPECT_EQ(row.length, FileLength(PathOf(row.name)));
    }
}

// Bytes between buffered writes were never written through this object: the
// file's own content there must survive every write-out.
TEST_F(FileTest, GapsBetweenWritesKeepTheFileContent) {
    std::vector<unsigned char> model(300000, 'A');
    Put(PathOf("g"), model);
    {
        auto file = Open("g", CFile::modeReadWrite);
        std::mt19937 random(7);
        for (int i = 0; i < 400; ++i) {
            const std::int64_t at = random() % (model.size() + 5000);
            const std::string text(1 + random() % 40, static_cast<char>('a' + i % 26));
            Write(*file, at, text);
            if (at + text.size() > model.size()) model.resize(at + text.size(), 0);
            std::copy(text.begin(), text.end(), model.begin() + at);
            if (i % 97 == 0) file->Flush();
        }
    }
    EXPECT_EQ(model, Contents(PathOf("g")));
}

TEST_F(FileTest, SetLengthDropsBufferedBytesBeyondTheNewEnd) {
    auto file = Open("s");
    Write(*file, 0, std::string(1000, 'x'));
    file->SetLength(10);
    file->SetLength(20);
    EXPECT_EQ(1000, file->GetPosition());  // the position stays
    EXPECT_EQ(std::string(10, 'x') + std::string(10, '\0'), Read(*file, 0, 100));
    file->Flush();
    EXPECT_EQ(20, FileLength(PathOf("s")));
    file->SetLength(3);  // a cut reaches the disk at once
    EXPECT_EQ(3, FileLength(PathOf("s")));
}

// The reference model: a seeded mix of seeks, reads, writes, length changes
// and flushes, small and large, forwards and backwards, across windows, each
// read compared with a byte vector and the disk compared after each flush.
TEST_F(FileTest, RandomOperationsMatchByteVectorModel) {
    for (unsigned seed : {1u, 2u, 3u, 4u, 5u}) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        std::mt19937_64 random(seed);
        const std::string path = PathOf("model" + std::to_string(seed));
        std::vector<unsigned char> model(static_cast<std::size_t>(random() % 200000));
        for (auto& byte : model) byte = static_cast<unsigned char>(random());
        Put(path, model);
        CFile file(U(path), CFile::modeReadWrite);
        std::int64_t position = 0;
        auto pickSize = [&]() -> int {
            switch (random() % 10) {
            case 0: return static_cast<int>(300000 + random() % 100000);  // straight to the disk
            case 1: return static_cast<int>(random() % 70000);
            case 2: return 4084;
            case 3: return 4096;
            default: return static_cast<int>(1 + random() % 16);
            }
        };
        for (int step = 0; step < 2000; ++step) {
            const auto size = static_cast<std::int64_t>(model.size());
            switch (random() % 24) {
            case 0:
            case 1: {  // seek near, back, to a page, far, or to the end
                const std::int64_t choices[] = {
                    position + static_cast<std::int64_t>(random() % 20000) - 10000,
                    static_cast<std::int64_t>(random() % (size + 8192)),
                    static_cast<std::int64_t>(random() % 2000) * 4096,
                    position + (5 << 20) - static_cast<std::int64_t>(random() % (10 << 20)), size};
                position = std::max<std::int64_t>(0, choices[random() % 5]);
                position = std::min<std::int64_t>(position, 10 << 20);
                ASSERT_EQ(position, file.Seek(position, CFile::begin));
                break;
            }
            case 2: case 3: case 4: case 5: case 6: case 7: case 8: {
                const int count = pickSize();
                std::vector<unsigned char> got(static_cast<std::size_t>(count) + 1);
                const int n = file.Read(got.data(), count);
                const std::int64_t expected = std::clamp<std::int64_t>(size - position, 0, count);
                ASSERT_EQ(expected, n) << "read at " << position;
                ASSERT_TRUE(std::equal(got.begin(), got.begin() + n, model.begin() + position))
                    << "read of " << count << " at " << position;
                position += n;
                break;
            }
            case 9: case 10: case 11: case 12: case 13: case 14: case 15: case 16: {
                const int count = pickSize();
                std::vector<unsigned char> bytes(static_cast<std::size_t>(count));
                for (auto& byte : bytes) byte = static_cast<unsigned char>(random());
                file.Write(bytes.data(), count);
                if (position + count > size) model.resize(static_cast<std::size_t>(position + count), 0);
                std::copy(bytes.begin(), bytes.end(), model.begin() + position);
                position += count;
                break;
            }
            case 17: case 18: case 19: case 20: case 21: {
                const std::int64_t length =
                    std::max<std::int64_t>(0, size + static_cast<std::int64_t>(random() % 40000) - 15000);
                file.SetLength(length);
                model.resize(static_cast<std::size_t>(length), 0);
                break;
            }
            default:
                file.Flush();
                ASSERT_EQ(model, Contents(path)) << "disk after flush, step " << step;
            }
            ASSERT_EQ(static_cast<std::int64_t>(model.size()), file.GetLength());
            ASSERT_EQ(position, file.GetPosition());
        }
        file.Close();
        EXPECT_EQ(model, Contents(path));
    }
}

// Slots of a record store: seek, three header words, data; pages in
// descending groups of five, the file lengthened five pages at a time.
TEST_F(FileTest, StorePatternIsGatheredIntoFewSystemCalls) {
    auto file = Open("store");
    constexpr int kPages = 1000;
    const std::vector<unsigned char> data(4084, 0x5A);
    CFile::ResetIoStats();
    for (int group = 0; group < kPages / 5; ++group) {
        file->SetLength(file->GetLength() + 5 * 4096);
        for (int page = group * 5 + 5; page > group * 5; --page) {
            file->Seek(static_cast<std::int64_t>(page) * 4096, CFile::begin);
            file->WriteDWord(page - 1);
            file->WriteDWord(4084);
            file->WriteDWord(0xFFFFFFFF);
            file->Write(data.data(), 4084);
        }
    }
    for (int page = 1; page <= kPages; ++page) {
        file->Seek(static_cast<std::int64_t>(page) * 4096, CFile::begin);
        ASSERT_EQ(static_cast<std::uint32_t>(page - 1), file->ReadDWord());
        ASSERT_EQ(4084u, file->ReadDWord());
        ASSERT_EQ(0xFFFFFFFFu, file->ReadDWord());
    }
    file->Close();
    const CFile::IoStats stats = CFile::GetIoStats();
    EXPECT_LE(stats.writes, 10);
    EXPECT_LE(stats.lengthChanges, 10);
    EXPECT_LE(stats.reads, kPages * 4096 / (64 << 10) + 10);
    EXPECT_EQ((kPages + 1) * 4096LL, FileLength(PathOf("store")));
}

TEST_F(FileTest, FailingSystemWriteSurfacesAsFileErrorAndCanBeRetried) {
    auto file = Open("full");
    Write(*file, 0, "buffered");
    CFile::FailSystemWriteAfter(0, ENOSPC);
    auto caught = Catch([&] { file->Flush(); });
    ASSERT_TRUE(caught);
    EXPECT_EQ(CException::Kind::file, caught->kind);
    EXPECT_EQ(ENOSPC, caught->systemError);
    EXPECT_TRUE(Contains(caught->message, PathOf("full"))) << caught->message;
    EXPECT_TRUE(Contains(caught->message, "No space left on device")) << caught->message;
    file->Flush();  // the fault fired once; the bytes are still waiting
    const std::vector<unsigned char> onDisk = Contents(PathOf("full"));
    EXPECT_EQ("buffered", std::string(onDisk.begin(), onDisk.end()));

    // Large writes go straight to the disk: the second one fails at once.
    const std::string big(1 << 20, 'b');
    CFile::FailSystemWriteAfter(1, EIO);
    EXPECT_FALSE(Catch([&] { Write(*file, 0, big); }));
    auto second = Catch([&] { Write(*file, 1 << 20, big); });
    ASSERT_TRUE(second);
    EXPECT_EQ(EIO, second->systemError);
}

TEST_F(FileTest, CloseReportsAFailedWriteOutAndTheDestructorSwallowsIt) {
    {
        auto file = Open("c1");
        Write(*file, 0, "x");
        CFile::FailSystemWriteAfter(0, ENOSPC);
        auto caught = Catch([&] { file->Close(); });
        ASSERT_TRUE(caught);
        EXPECT_EQ(ENOSPC, caught->systemError);
        EXPECT_TRUE(Catch([&] { file->GetLength(); }));  // closed all the same
    }
    {
        auto file = Open("c2");
        Write(*file, 0, "x");
        CFile::FailSystemWriteAfter(0, ENOSPC);
    }  // no throw out of the destructor
}

// Points TMPDIR elsewhere for one scope.
class TemporaryFolderSetting {
public:
    explicit TemporaryFolderSetting(const std::string& folder) {
        if (const char* old = std::getenv("TMPDIR")) old_ = old;
        ::setenv("TMPDIR", folder.c_str(), 1);
    }
    ~TemporaryFolderSetting() {
        if (old_) ::setenv("TMPDIR", old_->c_str(), 1);
        else ::unsetenv("TMPDIR");
    }
    TemporaryFolderSetting(const TemporaryFolderSetting&) = delete;
    TemporaryFolderSetting& operator=(const TemporaryFolderSetting&) = delete;

private:
    std::optional<std::string> old_;
};

TEST_F(FileTest, TemporaryFilesAreFreshPrivateAndNamedFromTheirParts) {
    TemporaryFolderSetting tmpdir(folder_);
    std::set<std::string> names;
    for (int i = 0; i < 200; ++i) {
        const std::string path = Tolm::TempFile::New(u"fileChunksFile", u"tmp").ToUtf8();
        EXPECT_TRUE(names.insert(path).second) << path;
        ASSERT_EQ(folder_ + "/fileChunksFile-", path.substr(0, folder_.size() + 16));
        EXPECT_EQ(".tmp", path.substr(path.size() - 4));
        EXPECT_EQ(folder_.size() + 16 + 6 + 4, path.size()) << path;
        struct stat status {};
        ASSERT_EQ(0, ::stat(path.c_str(), &status));
        EXPECT_EQ(0600u, status.st_mode & 0777u);
        EXPECT_EQ(0, status.st_size);
    }
    const Tolm::CUnicodeString first = U(*names.begin());
    Tolm::TempFile::Delete(first);
    EXPECT_EQ(-1, FileLength(first.ToUtf8()));
    auto again = Catch([&] { Tolm::TempFile::Delete(first); });
    ASSERT_TRUE(again);
    EXPECT_EQ(CException::Kind::file, again->kind);
    EXPECT_EQ(ENOENT, again->systemError);
    EXPECT_TRUE(Contains(again->message, first.ToUtf8())) << again->message;
    for (const char16_t* bad : {u"../escape", u"a/b"}) {
        auto caught = Catch([&] { Tolm::TempFile::New(bad, u"tmp"); });
        ASSERT_TRUE(caught);
        EXPECT_EQ(CException::Kind::argument, caught->kind);
    }
}

TEST_F(FileTest, TemporaryFileInAMissingFolderIsFileError) {
    std::optional<filestest::Caught> caught;
    {
        TemporaryFolderSetting tmpdir(PathOf("no/such/folder"));
        caught = Catch([] { Tolm::TempFile::New(u"x", u"tmp"); });
    }
    ASSERT_TRUE(caught);
    EXPECT_EQ(CException::Kind::file, caught->kind);
    EXPECT_EQ(ENOENT, caught->systemError);
}

}  // namespace
