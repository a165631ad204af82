// The framework's files: CFile against the disk (the write-back window checked
// against a byte-vector model, exact lengths, open flags, the fault seam) and
// temporary files.
#include <Tolm/File.h>
#include <Tolm/FileSystem.h>

#include "CountingPort.h"
#include "GearsetTesting.h"
#include "MemoryPort.h"
#include "PortableTesting.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <random>
#include <set>
#include <vector>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

using Tolm::CException;
using Tolm::CFile;
using Tolm::CMemoryFile;
using Bytes = std::vector<unsigned char>;

using GearsetTest::Catch;
using GearsetTest::Caught;

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

long long FileLength(const std::string& path) {
    std::error_code error;
    const auto length = std::filesystem::file_size(path, error);
    return error ? -1 : static_cast<long long>(length);
}
Bytes Contents(const std::string& path) {
    Bytes bytes(static_cast<std::size_t>(std::max(0LL, FileLength(path))));
    std::ifstream(path, std::ios::binary)
        .read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return bytes;
}
#ifndef _WIN32
// The bytes of a file through a descriptor of it, which still reaches a file
// that lost its name.
Bytes ContentsOf(int fd) {
    struct stat status {};
    if (::fstat(fd, &status) != 0) return {};
    Bytes bytes(static_cast<std::size_t>(status.st_size));
    if (!bytes.empty() && ::pread(fd, bytes.data(), bytes.size(), 0) != static_cast<ssize_t>(bytes.size()))
        return {};
    return bytes;
}
#endif
void Put(const std::string& path, const Bytes& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// Each test gets a fresh folder, also set as TMPDIR for temporary files.
class FileTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (const char* tmp = std::getenv(GearsetTesting::kTemporaryFolderVariable)) oldTmp_ = tmp;
        folder_ = GearsetTesting::MakeTemporaryFolder("tolm-files");
        ASSERT_FALSE(folder_.empty());
        GearsetTesting::SetEnvironment(GearsetTesting::kTemporaryFolderVariable, folder_);
    }
    void TearDown() override {
        oldTmp_.empty() ? GearsetTesting::UnsetEnvironment(GearsetTesting::kTemporaryFolderVariable)
                        : GearsetTesting::SetEnvironment(GearsetTesting::kTemporaryFolderVariable, oldTmp_);
        std::filesystem::remove_all(folder_);
    }
    std::string PathOf(const std::string& name) const { return folder_ + "/" + name; }
    // Every file of a test is opened through it.
    Tolm::testing::CountingPort counting_;
    std::unique_ptr<CFile> Open(const std::string& name, unsigned flags = CFile::kNewReadWrite) {
        return std::make_unique<CFile>(Tolm::CUnicodeString::FromUtf8(PathOf(name)), flags);
    }
    // Write and SetLength through the file and on model_, the bytes the disk must hold.
    void Write(CFile& file, std::int64_t at, const std::string& text) {
        file.Seek(at, CFile::begin);
        file.Write(text.data(), static_cast<int>(text.size()));
        model_.resize(std::max(model_.size(), static_cast<std::size_t>(at) + text.size()), 0);
        std::copy(text.begin(), text.end(), model_.begin() + at);
    }
    void SetLength(CFile& file, std::int64_t length) {
        file.SetLength(length);
        model_.resize(static_cast<std::size_t>(length), 0);
    }

    std::string folder_, oldTmp_;
    Bytes model_;
};

// A seeded mix of seeks, reads, writes, length changes and flushes, small and
// large, forwards and backwards, across windows, on a file with content of its
// own: each read compared with a byte vector, the disk after each flush. From
// seed 4 on the file loses its name once open, so reads go through views.
#ifndef _WIN32  // a second descriptor watches the disk, and an open file loses its name
TEST_F(FileTest, RandomOperationsMatchByteVectorModel) {
    for (unsigned seed : {1u, 2u, 3u, 4u, 5u}) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        std::mt19937_64 random(seed);
        const std::string path = PathOf("model" + std::to_string(seed));
        auto below = [&](std::uint64_t n) { return static_cast<std::int64_t>(random() % n); };
        Bytes model(static_cast<std::size_t>(below(200000)));
        for (auto& byte : model) byte = static_cast<unsigned char>(random());
        Put(path, model);
        CFile file(Tolm::CUnicodeString::FromUtf8(path), CFile::modeReadWrite);
        const int shadow = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        ASSERT_LE(0, shadow);
        if (seed >= 4) ::unlink(path.c_str());
        std::int64_t position = 0;
        auto pickSize = [&] {  // straight to the disk, within a window, a page, a few bytes
            const std::int64_t sizes[] = {300000 + below(100000), below(70000), 4084, 4096, 1 + below(16)};
            return static_cast<int>(sizes[std::min<std::int64_t>(below(10), 4)]);
        };
        for (int step = 0; step < 1000; ++step) {
            const auto size = static_cast<std::int64_t>(model.size());
            const std::int64_t action = below(24);
            if (action < 2) {  // seek near, back, to a page, far, or to the end
                const std::int64_t choices[] = {position + below(20000) - 10000, below(size + 8192),
                                                below(2000) * 4096, position + (1 << 20) - below(2 << 20),
                                                size};
                position = std::clamp<std::int64_t>(choices[below(5)], 0, 2 << 20);
                ASSERT_EQ(position, file.Seek(position, CFile::begin));
            } else if (action < 9) {
                const int count = pickSize();
                Bytes got(static_cast<std::size_t>(count) + 1);
                const int n = file.Read(got.data(), count);
                ASSERT_EQ(std::clamp<std::int64_t>(size - position, 0, count), n) << "read at " << position;
                ASSERT_TRUE(std::equal(got.begin(), got.begin() + n, model.begin() + position))
                    << "read of " << count << " at " << position;
                position += n;
            } else if (action < 17) {
                Bytes bytes(static_cast<std::size_t>(pickSize()));
                for (auto& byte : bytes) byte = static_cast<unsigned char>(random());
                file.Write(bytes.data(), static_cast<int>(bytes.size()));
                model.resize(std::max(model.size(), position + bytes.size()), 0);
                std::copy(bytes.begin(), bytes.end(), model.begin() + position);
                position += static_cast<std::int64_t>(bytes.size());
            } else if (action < 22) {
                const auto length = std::max<std::int64_t>(0, size + below(40000) - 15000);
                file.SetLength(length);
                model.resize(static_cast<std::size_t>(length), 0);
            } else {
                file.Flush();
                ASSERT_EQ(model, ContentsOf(shadow)) << "disk after flush, step " << step;
            }
            ASSERT_EQ(static_cast<std::int64_t>(model.size()), file.GetLength());
            ASSERT_EQ(position, file.GetPosition());
        }
        file.Close();
        EXPECT_EQ(model, ContentsOf(shadow));
        ::close(shadow);
    }
}
#endif

// A file without a name is read through views of 64 MiB, without a read call:
// across a view boundary, after a write there not yet written out, past a view
// the file grew into, and short at an end its own cut made (never beyond it).
TEST_F(FileTest, NamelessFileReadsThroughViewsExactlyAndStopsAtItsEnd) {
    constexpr std::int64_t kView = 64 << 20;
    const Tolm::CUnicodeString path = Tolm::TempFile::New(u"views", u"tmp");
    CFile file(path, CFile::kNewReadWrite);
    ASSERT_TRUE(Tolm::TempFile::RemoveName(path));
    const std::string big(300 << 10, 'b');  // straight to the disk, unknown to the window
    file.Seek(kView - 1000, CFile::begin);
    file.Write(big.data(), static_cast<int>(big.size()));
    file.Seek(kView - 3, CFile::begin);
    file.Write("XYZ12", 5);  // in the window, not written out
    file.Seek(3 * kView + 7, CFile::begin);
    file.Write(big.data(), static_cast<int>(big.size()));  // far past the views mapped so far
    file.Flush();
    file.SetLength(3 * kView + 100);  // a cut of its own

    struct Row {
        std::int64_t at;
        int count;
        std::string expected;
    };
    const Row rows[] = {
        {kView - 1002, 4, std::string(2, '\0') + "bb"},
        {kView - 5, 10, "bbXYZ12bbb"},
        {3 * kView + 5, 4, std::string(2, '\0') + "bb"},
        {3 * kView + 98, 10, "bb"},
        {3 * kView + 100, 10, ""},
    };
    counting_.ResetCounts();
    for (const Row& row : rows) {
        std::string got(static_cast<std::size_t>(row.count), '?');
        file.Seek(row.at, CFile::begin);
        got.resize(static_cast<std::size_t>(file.Read(got.data(), row.count)));
        EXPECT_EQ(row.expected, got) << "at " << row.at;
    }
#ifndef _WIN32  // Wine reports no pending delete for the file: it is read through calls there
    EXPECT_EQ(0, counting_.counts().reads);
#endif
}

// The system caches a block of 2 MiB whole (one entry in a view) only when
// the first write that touches it covers it whole. A file written front to
// back as the record store writes one (the length set five pages ahead, each
// group of five pages written last page first, slot 0 never written) reaches
// the disk so: the first write into every block covers all of it.
TEST_F(FileTest, AFileWrittenFrontToBackReachesTheDiskInWholeBlocks) {
    constexpr std::int64_t kBlock = 2 << 20, kPage = 4096, kBlocks = 6;
    auto file = Open("blocks");
    counting_.ResetCounts();
    const std::string data(kPage - 12, 'd');
    for (std::int64_t group = 0; (group + 1) * 5 * kPage < kBlocks * kBlock; ++group) {
        SetLength(*file, (group + 1) * 5 * kPage + kPage);
        for (std::int64_t page = group * 5 + 5; page > group * 5; --page) Write(*file, page * kPage, data);
    }
    file->Close();
    EXPECT_EQ(model_, Contents(PathOf("blocks")));
    const std::vector<Tolm::detail::FileRange> writes = counting_.WrittenRanges();
    for (std::int64_t block = 0; block + 1 < kBlocks; ++block) {
        const auto first = std::find_if(writes.begin(), writes.end(), [&](const Tolm::detail::FileRange& w) {
            return w.low < (block + 1) * kBlock && w.high > block * kBlock;
        });
        ASSERT_NE(writes.end(), first) << "block " << block;
        EXPECT_TRUE(first->low <= block * kBlock && first->high >= (block + 1) * kBlock)
            << "block " << block << " first written at [" << first->low << ", " << first->high << ")";
    }
}

// A growing file has disk room set aside ahead of its end, in pieces of 8 MiB
// or more, where the system grants it (Linux does), but only once it has lost
// its name: a named file would keep that room beyond its end for good.
TEST_F(FileTest, ANamelessGrowingFileHasRoomSetAsideAheadOfItsEndAndANamedOneNone) {
    constexpr std::int64_t kPiece = 64 << 10, kLength = 40 << 20, kRoom = 8 << 20;
    const std::string data(kPiece, 'r');
    for (const bool nameless : {false, true}) {
        SCOPED_TRACE(nameless ? "nameless" : "named");
        const Tolm::CUnicodeString path = Tolm::TempFile::New(u"room", u"tmp");
        CFile file(path, CFile::kNewReadWrite);
        if (nameless) {
            ASSERT_TRUE(Tolm::TempFile::RemoveName(path));
        }
        counting_.ResetCounts();
        for (std::int64_t at = 0; at < kLength; at += kPiece) file.Write(data.data(), kPiece);
        file.Flush();
        const std::vector<Tolm::detail::FileRange> reserved = counting_.ReservedRanges();
        if (!nameless) {
            EXPECT_TRUE(reserved.empty());
            continue;
        }
#ifdef __linux__
        ASSERT_FALSE(reserved.empty());
#endif
        std::int64_t end = 0;
        for (const Tolm::detail::FileRange& room : reserved) {
            EXPECT_GE(room.low, end) << "room set aside twice";
            EXPECT_GE(room.high - room.low, kRoom);
            end = room.high;
        }
        EXPECT_LE(reserved.size(), static_cast<std::size_t>(kLength / kRoom + 1));
        if (!reserved.empty()) {
            EXPECT_GE(end, kLength);
        }
    }
}

// Room set aside changes neither a file's length nor what it reads.
TEST_F(FileTest, RoomSetAsideLeavesTheFileAsItWas) {
    int error = 0;
    Tolm::detail::SystemOpenRequest request;
    request.read = request.write = request.create = true;
    const auto system = Tolm::detail::systemPort().open(PathOf("room"), request, error);
    if (system == nullptr) FAIL() << "cannot open: error " << error;
    ASSERT_EQ(3, system->writeAt("abc", 3, 0, error));
    if (!system->reserve(3, 16 << 20)) GTEST_SKIP() << "this system sets no room aside";
    Tolm::detail::SystemFileStatus status;
    ASSERT_EQ(0, system->status(status));
    EXPECT_EQ(3, status.length);
    char bytes[8] = {};
    EXPECT_EQ(3, system->readAt(bytes, sizeof bytes, 0, error));
    EXPECT_EQ(0, system->close());
    EXPECT_EQ(3, FileLength(PathOf("room")));
}

// Each row: the exact length a sequence of calls leaves on the disk, and the disk's bytes.
TEST_F(FileTest, DiskEndsAtLastByteWrittenOrLengthSet) {
    const struct {
        const char* name;
        std::function<void(CFile&)> calls;
        long long length;
    } rows[] = {
        {"refill, then header words and a short page at its end",
         [&](CFile& f) {
             SetLength(f, 5 * 4096);
             for (int i = 0; i < 12; i += 4)
                 Write(f, 5 * 4096 + i, std::string(i ? "d\0\0\0" : "\xFF\xFF\xFF\xFF", 4));
             Write(f, 5 * 4096 + 12, std::string(100, 'p'));
         },
         5 * 4096 + 112},
        {"refill beyond the page written",
         [&](CFile& f) { SetLength(f, 5 * 4096), Write(f, 4096, std::string(4096, 'q')); }, 5 * 4096},
        {"cut buffered writes, then lengthen",
         [&](CFile& f) { Write(f, 0, std::string(1000, 'x')), SetLength(f, 10), SetLength(f, 20); }, 20},
        {"cut, lengthen, write", [&](CFile& f) { SetLength(f, 100), SetLength(f, 50), Write(f, 9, "ab"); },
         50},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        model_.clear();
        auto file = Open(row.name);
        row.calls(*file);
        EXPECT_EQ(static_cast<std::int64_t>(model_.size()), file->GetLength());
        file->Close();
        EXPECT_EQ(row.length, FileLength(PathOf(row.name)));
        EXPECT_EQ(model_, Contents(PathOf(row.name)));
    }
}

TEST_F(FileTest, SixtyFourBitPositionsSeeksAndRefusedCalls) {
    const std::int64_t beyond = 5LL << 30;  // beyond 4 GB, sparse on the disk
    auto file = Open("big");
    file->Write("head", 4);
    EXPECT_EQ(beyond, (file->Seek(2, CFile::begin), file->Seek(beyond - 2, CFile::current)));
    file->Write("tail", 4);
    EXPECT_EQ(beyond, file->Seek(-4, CFile::end));
    EXPECT_EQ(beyond + 100, file->Seek(96, CFile::end));  // past the end is allowed
    char bytes[8];
    EXPECT_EQ(0, file->Read(bytes, 8));
    EXPECT_EQ(8, (file->Seek(beyond - 4, CFile::begin), file->Read(bytes, 8)));
    EXPECT_EQ(std::string("\0\0\0\0tail", 8), std::string(bytes, 8));
    const std::pair<std::function<void()>, const char*> rows[] = {
        // argument errors first: no move
        {[&] { file->Seek(-1, CFile::begin); }, nullptr},
        {[&] { file->Seek(0, 3); }, nullptr},
        {[&] { file->GetLength32(); }, "5368709124"},
        {[&] { file->Seek(beyond + 2, CFile::begin), file->ReadDWord(); }, "offset 5368709122"},
        {[&] { file->Seek(beyond, CFile::begin), file->ReadExactly(bytes, 5); }, "unexpected end of file"},
    };
    for (const auto& [call, part] : rows) {
        SCOPED_TRACE(part ? part : "argument");
        auto caught = Catch(call);
        EXPECT_EQ(part ? CException::Kind::file : CException::Kind::argument, caught.kind);
        EXPECT_TRUE(part ? Contains(caught.message, part) && Contains(caught.message, PathOf(""))
                         : file->GetPosition() == beyond + 4)
            << caught.message;
    }
    file->SetLength(0xFFFFFFFFLL);
    EXPECT_EQ(0xFFFFFFFFu, file->GetLength32());
    file->SetLength(beyond + 4);
    file->Close();
    EXPECT_EQ(beyond + 4, FileLength(PathOf("big")));
}

TEST_F(FileTest, EachOpenModeLeavesItsLengthAndRefusesTheDirectionsNotAsked) {
    const struct {
        const char* name;
        unsigned flags;
        int error;              // 0 opens, -1 argument error, else the file error's system error
        long long lengthAfter;  // -1: no such file afterwards
    } rows[] = {
        {"present", CFile::modeRead, 0, 3},
        {"present", 0x33, 0, 0},    // new for reading and writing
        {"present", 0x1022, 0, 0},  // create for writing
        {"present", CFile::modeReadWrite | CFile::modeCreate | CFile::modeNoTruncate, 0, 3},
        {"present", CFile::modeReadWrite | CFile::modeCreateNew, EEXIST, 3},
        {".", CFile::modeRead, EISDIR, -1},
        {"x", 0, -1, -1},
        {"x", 0x8003, -1, -1},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.name) + " flags " + std::to_string(row.flags));
        Put(PathOf("present"), {'a', 'b', 'c'});
        std::unique_ptr<CFile> file;
        auto caught = Catch([&] { file = Open(row.name, row.flags); });
        if (row.error == 0) {
            ASSERT_FALSE(caught.thrown) << caught.message;
            char byte;  // a direction not asked for is refused
            EXPECT_EQ(!(row.flags & CFile::modeRead), Catch([&] { file->Read(&byte, 1); }).thrown);
            EXPECT_EQ(!(row.flags & CFile::modeWrite), Catch([&] { file->Write("x", 0); }).thrown);
            file->Close();
        } else {
            EXPECT_EQ(row.error < 0 ? CException::Kind::argument : CException::Kind::file, caught.kind);
            EXPECT_EQ(std::max(row.error, 0), caught.systemError);
            EXPECT_TRUE(Contains(caught.message, PathOf(row.name)) &&
                        (row.error < 0 || Contains(caught.message, std::strerror(row.error))))
                << caught.message;
        }
        EXPECT_EQ(row.lengthAfter, FileLength(PathOf(row.name)));
    }
}

TEST_F(FileTest, FailingSystemWriteSurfacesAsFileErrorAndCanBeRetried) {
    auto file = Open("full");
    file->Write("buffered", 8);
    counting_.FailWriteAfter(0, ENOSPC);
    auto caught = Catch([&] { file->Flush(); });
    EXPECT_TRUE(caught.kind == CException::Kind::file && caught.systemError == ENOSPC &&
                Contains(caught.message, PathOf("full")) && Contains(caught.message, std::strerror(ENOSPC)))
        << caught.message;
    file->Flush();  // the fault fired once; the bytes are still waiting
    EXPECT_EQ((Bytes{'b', 'u', 'f', 'f', 'e', 'r', 'e', 'd'}), Contents(PathOf("full")));

    const std::string big(1 << 20, 'b');  // large writes go straight to the disk
    counting_.FailWriteAfter(1, EIO);
    EXPECT_FALSE(Catch([&] { file->Write(big.data(), 1 << 20); }).thrown);
    EXPECT_EQ(EIO, Catch([&] { file->Write(big.data(), 1 << 20); }).systemError);

    file->Write("x", 1);  // Close reports a failed write-out and closes all the same
    counting_.FailWriteAfter(0, ENOSPC);
    EXPECT_EQ(ENOSPC, Catch([&] { file->Close(); }).systemError);
    EXPECT_TRUE(Catch([&] { file->GetLength(); }).thrown);
    file = Open("quiet");
    file->Write("x", 1);
    counting_.FailWriteAfter(0, ENOSPC);
    file.reset();  // no throw out of the destructor
}

// A fault at every system call of a sequence, through the in-memory binding:
// the call that meets it throws (never a silent success), and retrying that
// call loses nothing: every Flush that returns leaves the file equal to the
// model, as does the end. Once on a named file, once on a nameless one, which
// is read through views.
TEST(FileFaults, EveryFailedSystemCallThrowsThereAndARetryLosesNothing) {
    struct Step {
        enum { write, setLength, read, flush, close } kind;
        std::int64_t at;
        std::int64_t count;
    };
    const std::vector<Step> steps = {
        {Step::write, 0, 100},      {Step::write, 5000, 10},     {Step::setLength, 20000, 0},
        {Step::read, 4990, 50},     {Step::flush, 0, 0},         {Step::write, 8192, 300 << 10},
        {Step::write, 10 << 20, 8}, {Step::read, 8190, 16},      {Step::setLength, 9 << 20, 0},
        {Step::write, 9000, 4097},  {Step::read, 8000, 2 << 10}, {Step::flush, 0, 0},
        {Step::close, 0, 0},
    };
    for (long fault = 0, nameless = 0; nameless < 2; ++fault) {
        SCOPED_TRACE("failing call " + std::to_string(fault) + (nameless ? " of a nameless file" : ""));
        Tolm::testing::MemoryPort system;
        if (nameless) system.Nameless();
        Bytes model;
        auto file = std::make_unique<CFile>(u"/mem/f", unsigned{CFile::kNewReadWrite});
        system.FailCall(system.Calls() + fault, ENOSPC);
        for (std::size_t i = 0; i < steps.size(); ++i) {
            const Step& step = steps[i];
            Bytes bytes(static_cast<std::size_t>(step.count));
            for (std::size_t k = 0; k < bytes.size(); ++k) bytes[k] = static_cast<unsigned char>(i * 31 + k);
            const auto run = [&] {
                switch (step.kind) {
                    case Step::write:
                        file->Seek(step.at, CFile::begin);
                        file->Write(bytes.data(), static_cast<int>(step.count));
                        break;
                    case Step::setLength:
                        file->SetLength(step.at);
                        break;
                    case Step::read: {
                        file->Seek(step.at, CFile::begin);
                        file->ReadExactly(bytes.data(), static_cast<int>(step.count));
                        EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), model.begin() + step.at)) << i;
                        break;
                    }
                    case Step::flush:
                        file->Flush();
                        EXPECT_EQ(model, system.Contents("/mem/f")) << i;
                        break;
                    case Step::close:
                        file->Close();
                        break;
                }
            };
            const bool failedBefore = system.Failed();
            const Caught caught = Catch(run);
            EXPECT_EQ(!failedBefore && system.Failed(), caught.thrown) << "step " << i;
            if (caught.thrown) {
                EXPECT_EQ(ENOSPC, caught.systemError) << caught.message;
                if (step.kind != Step::close) run();  // a closed file stays closed
            }
            if (step.kind == Step::write) {
                model.resize(std::max<std::size_t>(model.size(), step.at + step.count));
                std::copy(bytes.begin(), bytes.end(), model.begin() + step.at);
            } else if (step.kind == Step::setLength) {
                model.resize(static_cast<std::size_t>(step.at));
            }
        }
        EXPECT_EQ(model, system.Contents("/mem/f"));
        if (!system.Failed()) {  // past the last call: the next kind of file
            ++nameless;
            fault = -1;
        }
    }
}

#ifdef _WIN32
// GetTempPathW refuses a folder longer than MAX_PATH; temporary files still go
// into the folder TMP names, not into the working folder.
TEST_F(FileTest, TemporaryFilesGoIntoAFolderBeyondTheOldPathLimit) {
    std::string deep = folder_;
    for (char c = 'a'; deep.size() <= 300; ++c) {
        deep += "\\" + std::string(60, c);
        ASSERT_TRUE(Tolm::FileSystem::MakeDir(u"\\\\?\\" + Tolm::CUnicodeString::FromUtf8(deep), true));
    }
    GearsetTesting::SetEnvironment("TMP", deep);
    const std::string made = Tolm::TempFile::New(u"deep", u"tmp").ToUtf8();
    EXPECT_TRUE(made.starts_with(deep + "\\deep")) << made;
    Tolm::TempFile::Delete(Tolm::CUnicodeString::FromUtf8(made));
    GearsetTesting::SetEnvironment("TMP", folder_);
    GearsetTesting::RemoveTree(folder_);
}
#endif

#ifdef _WIN32
// Windows' errors keep the system's own number and text beside their POSIX meaning.
TEST_F(FileTest, WindowsErrorsKeepTheSystemsNumberAndText) {
    const auto caught = Catch([&] { Open("missing", CFile::modeRead); });
    EXPECT_EQ(ENOENT, caught.systemError);
    EXPECT_TRUE(Contains(caught.message, "(system error 2)")) << caught.message;
}
#endif

// Windows refuses to cut a file under a mapped view, and the in-memory files
// do too: a cut of a nameless file that was read through views must still be
// made, and reads then stop at it.
TEST(FileFaults, ACutAfterReadsThroughViewsIsMadeAndReadsStopThere) {
    Tolm::testing::MemoryPort system;
    system.Nameless();
    Tolm::testing::CountingPort counting;
    CFile file(u"/mem/v", unsigned{CFile::kNewReadWrite});
    const std::string big(300 << 10, 'v');  // straight to the system, unknown to the window
    file.Write(big.data(), static_cast<int>(big.size()));
    std::string got(10, '?');
    counting.ResetCounts();
    file.Seek(1000, CFile::begin);
    ASSERT_EQ(10, file.Read(got.data(), 10));
    ASSERT_EQ(0, counting.counts().reads) << "read through a view";
    file.SetLength(2000);
    file.Seek(1995, CFile::begin);
    EXPECT_EQ(5, file.Read(got.data(), 10));
    EXPECT_EQ(2000u, system.Contents("/mem/v").size());
}

#ifndef _WIN32  // POSIX mode bits, symbolic links, and a name that goes while open
TEST_F(FileTest, TemporaryFilesAreFreshPrivateAndNamedFromTheirParts) {
    std::set<std::string> names;
    for (int i = 0; i < 200; ++i) {
        const std::string path = Tolm::TempFile::New(u"fileChunksFile", u"tmp").ToUtf8();
        EXPECT_TRUE(names.insert(path).second) << path;
        const std::string stem = PathOf("fileChunksFile-");  // then six characters
        EXPECT_TRUE(path.starts_with(stem) && path.ends_with(".tmp") && path.size() == stem.size() + 10)
            << path;
        struct stat status {};
        ASSERT_EQ(0, ::stat(path.c_str(), &status));
        EXPECT_EQ(0600u, status.st_mode & 0777u);
    }
    Tolm::TempFile::Delete(Tolm::CUnicodeString::FromUtf8(*names.begin()));
    EXPECT_EQ(-1, FileLength(*names.begin()));
    for (const char16_t* bad : {u"../escape", u"a/b"})
        EXPECT_EQ(CException::Kind::argument, Catch([&] { Tolm::TempFile::New(bad, u"tmp"); }).kind);
}

// Whoever can write the temporary folder may swap the name between its
// creation and the open: the open must refuse what it finds, and empty nothing.
TEST_F(FileTest, TemporaryFileSwappedForALinkOrAnotherFileIsRefusedAndNothingEmptied) {
    const Bytes victimBytes = {'k', 'e', 'e', 'p'};
    Put(PathOf("victim"), victimBytes);
    const std::function<void(const std::string&)> swaps[] = {
        [&](const std::string& name) { std::filesystem::create_symlink(PathOf("victim"), name); },
        [&](const std::string& name) {
            Put(PathOf("other"), victimBytes);
            std::filesystem::rename(PathOf("other"), name);
        },
    };
    for (const auto& swap : swaps) {
        const Tolm::CUnicodeString name = Tolm::TempFile::New(u"fileChunksFile", u"tmp");
        std::filesystem::rename(name.ToUtf8(), PathOf("aside"));  // kept, so that its inode stays taken
        swap(name.ToUtf8());
        const Caught caught = Catch([&] { CFile file(name, CFile::kNewReadWrite); });
        EXPECT_EQ(CException::Kind::file, caught.kind) << caught.message;
        EXPECT_EQ(victimBytes, Contents(name.ToUtf8()));
        EXPECT_EQ(victimBytes, Contents(PathOf("victim")));
        Tolm::TempFile::Delete(name);
    }
    // The genuine file opens, and without its name lives on while open.
    const Tolm::CUnicodeString name = Tolm::TempFile::New(u"fileChunksFile", u"tmp");
    CFile file(name, CFile::kNewReadWrite);
    EXPECT_TRUE(Tolm::TempFile::RemoveName(name));
    EXPECT_EQ(-1, FileLength(name.ToUtf8()));
    file.Write("abc", 3);
    file.SeekToBegin();
    char back[3] = {};
    EXPECT_EQ(3, file.Read(back, 3));
    EXPECT_EQ(0, std::memcmp(back, "abc", 3));
    EXPECT_EQ(CException::Kind::file, Catch([&] { Tolm::TempFile::Delete(name); }).kind);
}
#endif

// A file open for reading that another process cuts or lengthens: reads give
// the bytes that are there, short only at the real end, never made-up zeros.
TEST_F(FileTest, ReaderSeesTheFileCutOrGrownUnderIt) {
    // Read on in pieces through the window, and in one direct transfer.
    for (const auto& [size, piece] : {std::pair{256 << 10, 4096}, std::pair{1 << 20, 1 << 20}}) {
        Bytes bytes(static_cast<std::size_t>(size));
        for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<unsigned char>(1 + i % 251);
        Put(PathOf("changing"), bytes);
        auto file = Open("changing", CFile::modeRead);
        Bytes got(bytes.size());
        ASSERT_EQ(100, file->Read(got.data(), 100));
        std::filesystem::resize_file(PathOf("changing"), size / 2);
        int rest = 0;
        for (int n = 1; n > 0 && 100 + rest < size; rest += n) {
            n = file->Read(got.data() + 100 + rest, std::min(piece, size - 100 - rest));
        }
        EXPECT_EQ(size / 2 - 100, rest) << size;
        EXPECT_TRUE(std::equal(got.begin(), got.begin() + size / 2, bytes.begin())) << size;
        EXPECT_EQ(size / 2, file->GetLength()) << size;
        EXPECT_EQ(0, file->Read(got.data(), 1));
        std::ofstream(PathOf("changing"), std::ios::binary | std::ios::app).write("xyz", 3);
        EXPECT_EQ(size / 2 + 3, file->GetLength()) << size;
        char tail[8] = {};
        EXPECT_EQ(3, file->Read(tail, 8)) << size;
        EXPECT_EQ(0, std::memcmp(tail, "xyz", 3)) << size;
    }
}

#ifndef _WIN32  // on Windows the long-path form is the system's own
// Messages name the path the system was given, not the long-path form.
TEST_F(FileTest, MessagesNameThePathWithoutTheLongPathPrefix) {
    const std::string missing = PathOf("no/such/file");
    const Caught caught =
        Catch([&] { CFile file(Tolm::CUnicodeString::FromUtf8("\\\\?\\" + missing), CFile::modeRead); });
    EXPECT_TRUE(Contains(caught.message, "'" + missing + "'")) << caught.message;
    EXPECT_FALSE(Contains(caught.message, "?")) << caught.message;
}

#endif

}  // namespace
