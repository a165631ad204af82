#include <Korvan/FileDataStorage.h>
#include <Korvan/ObjectsFileCache.h>
#include <Tolm/Archive.h>
#include <Tolm/Error.h>
#include <Tolm/File.h>

#include "CountingPort.h"
#include "GearsetTesting.h"
#include "MemoryPort.h"
#include "StoreTestAccess.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <fstream>
#include <iterator>
#include <map>
#include <numeric>
#include <random>
#include <set>
#include <string>
#include <vector>

using Korvan::CFileDataStorage;
using Korvan::CObjectsFileCache;
using Access = Korvan::FileDataStorageTestAccess;
using Kind = Tolm::CException::Kind;
using Bytes = std::vector<unsigned char>;

namespace {

using GearsetTest::Catch;
using GearsetTest::ReportRecorder;

constexpr const char* kStoreSource = "Src\\FileDataStorage";
// The page size of most tests, and what a page of it holds.
constexpr int kPage = 4096;
constexpr int kHeader = CFileDataStorage::kPageHeaderSize;
constexpr int kData = kPage - kHeader;

// Random bytes, or with pdfLike bytes that compress like a PDF page.
Bytes Pattern(std::size_t count, unsigned seed = 1, bool pdfLike = false) {
    return pdfLike ? GearsetTest::PdfLikeBytes(count, seed) : GearsetTest::RandomBytes(count, seed);
}

Bytes ToBytes(const Tolm::CArray<unsigned char>& array) {
    return Bytes(array.GetData(), array.GetData() + array.GetSize());
}

int Write(CFileDataStorage& store, const Bytes& bytes) {
    return store.WriteRecord(bytes.data(), static_cast<int>(bytes.size()));
}

Bytes Read(CFileDataStorage& store, int record) {
    Tolm::CArray<unsigned char> out;
    store.ReadRecord(record, out);
    return ToBytes(out);
}

// The store's file as it stands on disk, after its buffer is written out.
// The file has no name any more: it is read through the store's own handle.
Bytes FileBytes(CFileDataStorage& store) {
    Tolm::CFile& file = *Access::File(store);
    file.Flush();
    const std::int64_t position = file.GetPosition();
    Bytes bytes(static_cast<std::size_t>(file.GetLength()));
    file.SeekToBegin();
    file.ReadExactly(bytes.data(), static_cast<int>(bytes.size()));
    file.Seek(position, Tolm::CBaseFile::begin);
    return bytes;
}

std::int64_t FileLength(CFileDataStorage& store) {
    Access::File(store)->Flush();
    return Access::File(store)->GetLength();
}

// A page's header as the file holds it.
struct PageHeader {
    std::int32_t nextPage, usedSize, recordSize;
    bool operator==(const PageHeader&) const = default;
};
std::ostream& operator<<(std::ostream& out, const PageHeader& h) {
    return out << "{next " << h.nextPage << ", used " << h.usedSize << ", record " << h.recordSize << "}";
}
PageHeader HeaderOf(CFileDataStorage& store, int page) {
    Tolm::CFile& file = *Access::File(store);
    file.Flush();
    const std::int64_t position = file.GetPosition();
    file.Seek(std::int64_t{page} * store.GetPageSize(), Tolm::CBaseFile::begin);
    PageHeader header{};
    for (std::int32_t* word : {&header.nextPage, &header.usedSize, &header.recordSize})
        *word = static_cast<std::int32_t>(file.ReadDWord());
    file.Seek(position, Tolm::CBaseFile::begin);
    return header;
}

}  // namespace

// Reads through the compressing streams cover the rest.
TEST(ArrayReadStreamTest, ReadWithoutArrayIsReportedAndNegativeCountsDoNothing) {
    ReportRecorder reports;
    unsigned char bytes[4] = {};
    Tolm::CPtr<Korvan::CArrayReadStream> stream = new Korvan::CArrayReadStream;
    EXPECT_EQ(0, stream->Read(bytes, 4));
    EXPECT_EQ(1, reports.Count(kStoreSource));
    stream->SetArray(bytes, 4);
    EXPECT_EQ(0, stream->Read(bytes, -3));
    EXPECT_EQ(0, stream->Skip(-3));
}

// A (de)compressed record grows by chunks, and near the largest array (INT_MAX
// bytes) by what still fits, so that the size never overflows; a stream with
// more to give at that bound is an error, not a wrapped size.
TEST(ArrayReadStreamTest, OutputRoomStopsAtTheLargestArray) {
    const int rows[][2] = {
        {0, 4096},   {INT_MAX - 8192, 4096}, {INT_MAX - 4096, 4096}, {INT_MAX - 4095, 4095}, {INT_MAX - 1, 1},
        {INT_MAX, 0}};
    for (const auto& [size, room] : rows) EXPECT_EQ(room, Access::OutputRoom(size)) << size;

    unsigned char byte = 1;
    Tolm::CPtr<Korvan::CArrayReadStream> stream = new Korvan::CArrayReadStream;
    stream->SetArray(&byte, 1);
    const auto more = Catch([&] { Access::CheckStreamEnded(*stream); });
    EXPECT_EQ(Kind::archive, more.kind);
    EXPECT_NE(std::string::npos, more.message.find("more than 2147483647 bytes")) << more.message;
    EXPECT_FALSE(Catch([&] { Access::CheckStreamEnded(*stream); }).thrown);  // now at its end
}

// Pages 5, 4, 3 hold a 10000-byte record; a record of exactly the page's data
// size takes one page and one byte more takes two. The file goes with the store.
TEST(StoreLayoutTest, PagesAndHeadersReadFromTheFileBytes) {
    std::string path;
    {
        CFileDataStorage store(kPage, false);
        EXPECT_TRUE(Access::FileName(store).IsEmpty());
        const Bytes all = Pattern(10000 + kData + kData + 1);
        EXPECT_EQ(5, store.WriteRecord(all.data(), 10000));
        // Page 5 lies just past the first refill's five slots and ends the file.
        EXPECT_EQ(6 * kPage, FileLength(store));
        EXPECT_EQ(2, store.WriteRecord(all.data() + 10000, kData));
        EXPECT_EQ(1, store.WriteRecord(all.data() + 10000 + kData, kData + 1));
        EXPECT_EQ(10000 + kData + kData + 1, store.GetStoredDataSize());

        const Bytes file = FileBytes(store);
        // Each page's header, in the order of the data.
        const std::pair<int, PageHeader> chain[] = {{5, {4, kData, 10000}},           {4, {3, kData, -1}},
                                                    {3, {-1, 10000 - 2 * kData, -1}}, {2, {-1, kData, kData}},
                                                    {1, {10, kData, kData + 1}},      {10, {-1, 1, -1}}};
        std::size_t offset = 0;
        for (const auto& [page, header] : chain) {
            EXPECT_EQ(header, HeaderOf(store, page)) << page;
            const auto data = static_cast<std::size_t>(page * kPage + kHeader);
            EXPECT_TRUE(std::equal(&all[offset], &all[offset] + header.usedSize, &file[data])) << page;
            offset += static_cast<std::size_t>(header.usedSize);
        }
        // Slot 0 and the unused tail of a slot are never written.
        EXPECT_EQ(kPage, std::count(file.begin(), file.begin() + kPage, 0));
        const int tail = 3 * kPage + kHeader + (10000 - 2 * kData);
        EXPECT_EQ(4 * kPage - tail, std::count(file.begin() + tail, file.begin() + 4 * kPage, 0));
        path = Tolm::ToNativePath(Access::FileName(store));
#ifndef _WIN32
        // The file has already lost its name: a killed process leaves nothing
        // behind. (Windows deletes it when its last handle closes, however the
        // process ends; Wine still opens it by name meanwhile.)
        EXPECT_FALSE(std::ifstream(path).good());
#endif
    }
    EXPECT_FALSE(std::ifstream(path).good());
}

TEST(StoreLayoutTest, PageBeyondFourGigabytesLandsAtItsSlot) {
    CFileDataStorage store(kPage, false);
    constexpr int kFarPage = 1100000;  // its slot starts past 2^32
    Access::WritePageAt(store, kFarPage, 3);
    EXPECT_EQ(std::int64_t{kFarPage} * kPage + kHeader + 3, FileLength(store));
    EXPECT_EQ((PageHeader{-1, 3, -1}), HeaderOf(store, kFarPage));
}

// A new store hands out 5 .. 1 and then 10 after the next refill; a freed
// chain 5, 4, 3 comes back as 3, 4, 5.
TEST(StoreFreeStackTest, RefillsAndFreedChainsComeBackLastInFirstOut) {
    for (bool freeChainFirst : {false, true}) {
        CFileDataStorage store(kPage, false);
        if (freeChainFirst) {
            store.FreeRecord(Write(store, Pattern(10000)));
            EXPECT_EQ((std::vector<int>{1, 2, 5, 4, 3}), Access::FreePages(store));
        }
        std::vector<int> numbers;
        for (int i = 0; i < 6; ++i) numbers.push_back(Write(store, Pattern(10)));
        EXPECT_EQ(
            (freeChainFirst ? std::vector<int>{3, 4, 5, 2, 1, 10} : std::vector<int>{5, 4, 3, 2, 1, 10}),
            numbers);
        EXPECT_EQ((std::vector<int>{6, 7, 8, 9}), Access::FreePages(store));
        EXPECT_EQ(10, Access::AllocatedPagesCount(store));
    }
}

class RecordSizeTest : public ::testing::TestWithParam<std::tuple<int, bool>> {};

TEST_P(RecordSizeTest, RoundTripsAndReadsTwice) {
    const auto [size, compress] = GetParam();
    CFileDataStorage store(kPage, compress);
    const Bytes bytes = Pattern(static_cast<std::size_t>(size), 7, compress), other = Pattern(3000, 8);
    const int record = Write(store, bytes), neighbour = Write(store, other);
    // With compression the read appends to the output; without, it replaces it.
    Tolm::CArray<unsigned char> out;
    out.Add(0xAB);
    store.ReadRecord(record, out);
    Bytes expected = compress ? Bytes{0xAB} : Bytes{};
    expected.insert(expected.end(), bytes.begin(), bytes.end());
    EXPECT_TRUE(expected == ToBytes(out));
    EXPECT_TRUE(bytes == Read(store, record));
    EXPECT_FALSE(Access::SourceHoldsArray(store));
    EXPECT_EQ(other, Read(store, neighbour));
    // The stored size counts compressed lengths, as the first pages record them.
    const int stored = HeaderOf(store, record).recordSize;
    EXPECT_EQ(compress ? stored + HeaderOf(store, neighbour).recordSize : size + 3000,
              store.GetStoredDataSize());
    EXPECT_TRUE(!compress || size < 100000 || stored < size / 2) << stored;
    if (compress) {  // damaged compressed bytes fail the read and leave the output as it was
        Tolm::CFile& disk = *Access::File(store);
        disk.Seek(std::int64_t{record} * kPage + kHeader, Tolm::CBaseFile::begin);
        const unsigned char garbage[16] = {0xFF, 0x00, 0x13, 0x37};
        disk.Write(garbage, 16);
        EXPECT_TRUE(Catch([&] { store.ReadRecord(record, out); }).thrown);
        EXPECT_TRUE(expected == ToBytes(out));
        EXPECT_FALSE(Access::SourceHoldsArray(store));
        EXPECT_EQ(other, Read(store, neighbour));
    }
}

INSTANTIATE_TEST_SUITE_P(Sizes, RecordSizeTest,
                         ::testing::Combine(::testing::Values(1, kData, kData + 1, 3 * 1024 * 1024 + 7),
                                            ::testing::Bool()));

// A caller that empties one output between reads has its room reused: the
// record goes straight into it, not into an array of the store's that then
// replaces it. Read before the store's window wrote anything out, and after.
TEST(StoreReadTest, AnEmptiedOutputIsFilledInItsOwnRoom) {
    CFileDataStorage store(kPage, false);
    std::vector<std::pair<int, Bytes>> records;
    for (const std::size_t size :
         {std::size_t{1}, std::size_t{kData}, std::size_t{kData + 1}, std::size_t{200000}})
        records.emplace_back(Write(store, Pattern(size, static_cast<unsigned>(size))),
                             Pattern(size, static_cast<unsigned>(size)));
    for (const bool flushed : {false, true}) {
        if (flushed) Access::File(store)->Flush();
        Tolm::CArray<unsigned char> out;
        out.Reserve(300000);
        const unsigned char* room = out.GetData();
        for (const auto& [number, bytes] : records) {
            out.RemoveAll();
            store.ReadRecord(number, out);
            EXPECT_TRUE(bytes == ToBytes(out)) << number << (flushed ? " flushed" : "");
            EXPECT_EQ(room, out.GetData()) << number;
        }
    }
}

class StoreModelTest : public ::testing::TestWithParam<std::tuple<int, bool>> {};

TEST_P(StoreModelTest, AgreesWithAMapOverThousandsOfOperations) {
    const auto [pageSize, compress] = GetParam();
    CFileDataStorage store(pageSize, compress);
    std::map<int, Bytes> model;
    std::mt19937 random(20261206u + static_cast<unsigned>(pageSize));
    long long storedSum = 0;

    for (int step = 0; step < (compress ? 1500 : 4000); ++step) {
        const unsigned pick = random() % 10;
        if (model.empty() || pick < 4) {
            // Mostly short records, some of a few pages, now and then many.
            const unsigned shape = random() % 20;
            const unsigned data = static_cast<unsigned>(pageSize - kHeader);
            const unsigned limit = shape < 12 ? data : shape < 19 ? data * 6 : 70000;
            const Bytes bytes = Pattern(1 + random() % limit, random(), compress);
            const int record = Write(store, bytes);
            ASSERT_GE(record, 1);
            ASSERT_TRUE(model.emplace(record, bytes).second) << "record " << record << " handed out twice";
            storedSum += compress ? 0 : static_cast<long long>(bytes.size());
        } else {
            auto it = std::next(model.begin(), static_cast<long>(random() % model.size()));
            if (pick < 8) {
                ASSERT_EQ(it->second, Read(store, it->first))
                    << "record " << it->first << " at step " << step;
            } else {
                const int record = it->first;
                store.FreeRecord(record);
                storedSum -= compress ? 0 : static_cast<long long>(it->second.size());
                model.erase(it);
                ASSERT_TRUE(Catch([&] { store.FreeRecord(record); }).thrown) << "second free of " << record;
            }
        }
        if (!compress) {
            ASSERT_EQ(storedSum, store.GetStoredDataSize()) << "step " << step;
        }
    }
    // The check must see a difference: one byte changed on the disk under a
    // live record makes its read differ from the model (or fail, compressed).
    ASSERT_FALSE(model.empty());
    const auto& [planted, plantedBytes] = *model.begin();
    Tolm::CFile& disk = *Access::File(store);
    disk.Seek(std::int64_t{planted} * pageSize + kHeader, Tolm::CBaseFile::begin);
    unsigned char byte = 0;
    disk.ReadExactly(&byte, 1);
    const unsigned char flipped = static_cast<unsigned char>(byte ^ 0x40);
    disk.Seek(-1, Tolm::CBaseFile::current);
    disk.Write(&flipped, 1);
    Bytes readBack;
    Catch([&] { readBack = Read(store, planted); });
    EXPECT_NE(plantedBytes, readBack) << "a planted fault went unseen";
    Tolm::CFile& mended = *Access::File(store);  // asked again after the store's read
    mended.Seek(std::int64_t{planted} * pageSize + kHeader, Tolm::CBaseFile::begin);
    mended.Write(&byte, 1);

    for (const auto& [record, bytes] : model) {
        ASSERT_EQ(bytes, Read(store, record)) << "record " << record;
        store.FreeRecord(record);
    }
    EXPECT_EQ(0, store.GetStoredDataSize());
    // Every page handed out is back on the stack exactly once: none was lost,
    // none was given to two records.
    std::vector<int> free = Access::FreePages(store);
    std::sort(free.begin(), free.end());
    std::vector<int> all(static_cast<std::size_t>(Access::AllocatedPagesCount(store)));
    std::iota(all.begin(), all.end(), 1);
    EXPECT_EQ(all, free);
}

INSTANTIATE_TEST_SUITE_P(PageSizes, StoreModelTest,
                         ::testing::Combine(::testing::Values(kPage, 64), ::testing::Bool()));

TEST(StoreRefusalTest, PageSizesThatCannotWorkAreRejected) {
    for (int pageSize : {INT_MIN, -1, 0, kHeader, CFileDataStorage::kMaxPageSize + 1, INT_MAX}) {
        const auto caught = Catch([&] { CFileDataStorage store(pageSize, false); });
        EXPECT_EQ(Kind::argument, caught.kind) << pageSize;
        EXPECT_NE(std::string::npos, caught.message.find(std::to_string(pageSize))) << caught.message;
    }
    EXPECT_FALSE(Catch([&] { CFileDataStorage store(CFileDataStorage::kMaxPageSize, false); }).thrown);
    CFileDataStorage smallest(CFileDataStorage::kMinPageSize, false);  // one data byte a page
    EXPECT_EQ(Pattern(100), Read(smallest, Write(smallest, Pattern(100))));
}

TEST(StoreRefusalTest, AWriteOfNoBytesOrFromNullIsReportedAndMakesNoFile) {
    const ReportRecorder reports;
    CFileDataStorage store(kPage, false);
    const unsigned char byte = 1;
    for (int length : {0, -5, INT_MIN}) EXPECT_EQ(-1, store.WriteRecord(&byte, length)) << length;
    EXPECT_EQ(-1, store.WriteRecord(nullptr, 10));
    EXPECT_EQ(4, reports.Count(kStoreSource));
    EXPECT_TRUE(Access::FileName(store).IsEmpty());
    EXPECT_EQ(0, Access::AllocatedPagesCount(store) + store.GetStoredDataSize());
    // Before any write there is no file: every number is refused cleanly.
    EXPECT_EQ(Kind::argument, Catch([&] { Read(store, 5); }).kind);
    EXPECT_EQ(Kind::argument, Catch([&] { store.FreeRecord(5); }).kind);
}

// Pages that are not a record's first (4, 3), never handed out (6, 11), a
// freed record's, and numbers no page can have. A prefetch of them is a hint
// ignored, on a store with a file and on one without.
TEST(StoreRefusalTest, NumbersThatAreNotLiveRecordsAreRefusedAndChangeNothing) {
    CFileDataStorage store(kPage, false);
    const Bytes first = Pattern(10000);
    const int record = Write(store, first);  // pages 5, 4, 3
    const int freed = Write(store, Pattern(10));
    store.FreeRecord(freed);
    const std::vector<int> freeBefore = Access::FreePages(store);
    CFileDataStorage fileless(kPage, false);

    for (int number : {0, -1, INT_MIN, 4, 3, 6, 11, INT_MAX, freed}) {
        store.PrefetchRecord(number);
        fileless.PrefetchRecord(number);
        Tolm::CArray<unsigned char> out;
        out.Add(7);
        const auto read = Catch([&] { store.ReadRecord(number, out); });
        EXPECT_EQ(Kind::argument, read.kind) << number;
        EXPECT_NE(std::string::npos, read.message.find("record " + std::to_string(number))) << read.message;
        EXPECT_EQ(1, out.GetSize());
        EXPECT_EQ(Kind::argument, Catch([&] { store.FreeRecord(number); }).kind) << number;
    }
    EXPECT_EQ(freeBefore, Access::FreePages(store));
    store.PrefetchRecord(record);
    EXPECT_EQ(first, Read(store, record));
    EXPECT_EQ(nullptr, Access::File(fileless));
}

TEST(StoreRefusalTest, ASecondFreeIsRefusedAndGivesNoPageTwice) {
    CFileDataStorage store(kPage, false);
    const int record = Write(store, Pattern(10000));  // pages 5, 4, 3
    store.FreeRecord(record);
    const auto twice = Catch([&] { store.FreeRecord(record); });
    EXPECT_NE(std::string::npos, twice.message.find("already freed")) << twice.message;
    EXPECT_EQ((std::vector<int>{1, 2, 5, 4, 3}), Access::FreePages(store));
    EXPECT_EQ(0, store.GetStoredDataSize());
}

struct Damage {
    const char* what;
    int page;   // of the record 5 -> 4 -> 3; page 2 is free
    int field;  // 0 next, 1 used, 2 record size
    std::int32_t value;
    int blamed;  // the page the error names
};

class DamagedHeaderTest : public ::testing::TestWithParam<Damage> {};

TEST_P(DamagedHeaderTest, ReadAndFreeRaiseAndChangeNothing) {
    const Damage damage = GetParam();
    CFileDataStorage store(kPage, false);
    const int record = Write(store, Pattern(10000));
    const Bytes small = Pattern(20);
    store.FreeRecord(Write(store, small));
    Tolm::CFile& file = *Access::File(store);
    file.Seek(std::int64_t{damage.page} * kPage + 4 * damage.field, Tolm::CBaseFile::begin);
    file.WriteDWord(static_cast<std::uint32_t>(damage.value));

    ReportRecorder reports;
    Tolm::CArray<unsigned char> out;
    out.Add(9);
    const auto read = Catch([&] { store.ReadRecord(record, out); });
    EXPECT_EQ(Kind::file, read.kind);
    EXPECT_NE(std::string::npos, read.message.find("record 5")) << read.message;
    EXPECT_NE(std::string::npos, read.message.find("page " + std::to_string(damage.blamed))) << read.message;
    EXPECT_EQ(1, out.GetSize());

    const std::vector<int> freeBefore = Access::FreePages(store);
    EXPECT_EQ(Kind::file, Catch([&] { store.FreeRecord(record); }).kind);
    EXPECT_EQ(freeBefore, Access::FreePages(store));
    EXPECT_EQ(10000, store.GetStoredDataSize());
    EXPECT_EQ(small, Read(store, Write(store, small)));  // other records are unaffected
    EXPECT_EQ(damage.field == 1 && damage.value == 0 ? 1 : 0, reports.Count(kStoreSource));
}

INSTANTIATE_TEST_SUITE_P(
    Headers, DamagedHeaderTest,
    ::testing::Values(Damage{"UsedAbovePageData", 5, 1, 5000, 5}, Damage{"UsedNegative", 4, 1, -7, 4},
                      Damage{"UsedZero", 4, 1, 0, 4}, Damage{"UsedShortInTheMiddle", 4, 1, 100, 4},
                      Damage{"LastPageOverlong", 3, 1, kData, 3},
                      Damage{"RecordSizeHuge", 5, 2, 0x7FFFFFFF, 5},
                      Damage{"RecordSizeNegative", 5, 2, -2, 5}, Damage{"RecordSizeZero", 5, 2, 0, 5},
                      Damage{"RecordSizeTooShortForChain", 5, 2, 5000, 4},
                      Damage{"RecordSizeOnSecondPage", 4, 2, 10000, 4},
                      Damage{"CycleToFirstPage", 4, 0, 5, 4}, Damage{"CycleToItself", 4, 0, 4, 4},
                      Damage{"NextIsFreePage", 4, 0, 2, 4}, Damage{"NextNeverHandedOut", 4, 0, 1000, 4},
                      Damage{"NextNegative", 4, 0, -9, 4}, Damage{"ChainEndsEarly", 4, 0, -1, 4},
                      Damage{"ChainGoesOnPastLastPage", 3, 0, 1, 3}),
    [](const ::testing::TestParamInfo<Damage>& param) { return std::string(param.param.what); });

// Record B's first next link is bent into live record A, at a page from which
// A's chain has just B's remaining length, so every used size and record size
// along the way looks right: only the page's owner gives the damage away.
TEST(DamagedHeaderTest, LinkIntoAnotherLiveRecordIsRefused) {
    struct Row {
        const char* what;
        int bLength;  // A is 10000 bytes on pages 5 -> 4 -> 3
        int target;
    };
    for (const Row row : {Row{"IntoMiddlePage", 10000, 4}, Row{"IntoLastPage", 10000 - kData, 3}}) {
        CFileDataStorage store(kPage, false);
        const Bytes a = Pattern(10000, 1), b = Pattern(static_cast<std::size_t>(row.bLength), 2);
        const int recordA = Write(store, a), recordB = Write(store, b);
        ASSERT_EQ(5, recordA) << row.what;
        Tolm::CFile& file = *Access::File(store);
        file.Seek(std::int64_t{recordB} * kPage, Tolm::CBaseFile::begin);
        file.WriteDWord(static_cast<std::uint32_t>(row.target));

        const std::vector<int> freeBefore = Access::FreePages(store);
        const auto freed = Catch([&] { store.FreeRecord(recordB); });
        EXPECT_EQ(Kind::file, freed.kind) << row.what << ": " << freed.message;
        EXPECT_NE(std::string::npos, freed.message.find("record " + std::to_string(recordB)))
            << freed.message;
        EXPECT_EQ(Kind::file, Catch([&] { Read(store, recordB); }).kind) << row.what;
        EXPECT_EQ(freeBefore, Access::FreePages(store)) << row.what;
        // A's pages were not handed to the next record.
        const Bytes c = Pattern(10000, 3);
        const int recordC = Write(store, c);
        EXPECT_EQ(a, Read(store, recordA)) << row.what;
        EXPECT_EQ(c, Read(store, recordC)) << row.what;
    }
}

TEST(StoreFailureTest, TruncatedFileIsAnErrorNotStaleBytes) {
    CFileDataStorage store(kPage, false);
    const int record = Write(store, Pattern(10000));  // pages 5 (the file's end), 4, 3
    const int low = Write(store, Pattern(100));       // page 2
    Tolm::CFile& file = *Access::File(store);
    Tolm::CArray<unsigned char> out;
    // Cut inside page 5's data, then inside its header, then inside page 2's data.
    file.SetLength(5 * kPage + kHeader + 100);
    const auto data = Catch([&] { store.ReadRecord(record, out); });
    EXPECT_EQ(Kind::file, data.kind);
    EXPECT_NE(std::string::npos, data.message.find("cut short")) << data.message;
    EXPECT_NE(std::string::npos, data.message.find("page 5")) << data.message;
    file.SetLength(5 * kPage + 6);
    EXPECT_EQ(Kind::file, Catch([&] { store.ReadRecord(record, out); }).kind);
    EXPECT_EQ(Kind::file, Catch([&] { store.FreeRecord(record); }).kind);
    file.SetLength(2 * kPage + kHeader + 50);
    EXPECT_EQ(Kind::file, Catch([&] { store.ReadRecord(low, out); }).kind);
    EXPECT_EQ(0, out.GetSize());
    EXPECT_EQ(10100, store.GetStoredDataSize());
}

// Windows maps no view that reaches past a file's end, and Wine never says
// that the store's file lost its name: under Windows' rules a store smaller
// than one view, and its newest records, are read through views all the same.
TEST(StoreLayoutTest, UnderWindowsRulesEveryRecordIsReadThroughViews) {
    Tolm::testing::MemoryPort port(Tolm::testing::MemoryPort::kWindowsRules);
    Tolm::testing::CountingPort counting;
    CFileDataStorage store(kPage, false);
    std::vector<std::pair<int, Bytes>> records;
    const auto writeAndReadAll = [&](unsigned seed) {
        for (unsigned i = 0; i < 64; ++i) {
            Bytes bytes = Pattern(20000 + 977 * i, seed + i);
            records.emplace_back(Write(store, bytes), std::move(bytes));
        }
        Access::File(store)->Flush();
        counting.ResetCounts();
        for (const auto& [number, bytes] : records) EXPECT_EQ(bytes, Read(store, number)) << number;
        EXPECT_EQ(0, counting.counts().reads) << "reads at an offset";
    };
    writeAndReadAll(10);
    writeAndReadAll(100);  // the file grew past the views of its old end
    EXPECT_GT(port.MappedViews(), 0);
}

// On Windows a virus scanner or an indexer that opens the new file may refuse
// the removal of its name for a while, or for as long as the store lives.
TEST(StoreFailureTest, ARefusedRemovalOfTheFileNameFailsNoWriteAndLeavesNothingBehind) {
    for (const int refusals : {2, -1}) {
        SCOPED_TRACE(refusals < 0 ? "held throughout" : "held for a moment");
        Tolm::testing::MemoryPort port(Tolm::testing::MemoryPort::kWindowsRules);
        port.HoldNewFiles(refusals);
        {
            CFileDataStorage store(kPage, false);
            const Bytes record = Pattern(10000, 4);
            const int number = Write(store, record);
            EXPECT_EQ(record, Read(store, number));
            EXPECT_GT(port.PausedMilliseconds(), 0) << "tried again after a pause";
            const std::set<std::string> names = port.Listing("C:\\temp");
            ASSERT_EQ(1u, names.size());
            if (refusals < 0) port.Release("C:\\temp\\" + *names.begin());
        }
        EXPECT_TRUE(port.Listing("C:\\temp").empty());
    }
}

TEST(StoreFailureTest, DiskFullMidWriteLeavesTheStoreAsItWas) {
    for (bool compress : {false, true}) {
        Tolm::testing::CountingPort counting;  // before the store opens its file
        CFileDataStorage store(kPage, compress);
        const Bytes early = Pattern(9000, 2), big = Pattern(9 * 1024 * 1024, 3);
        EXPECT_EQ(5, Write(store, early));
        store.FreeRecord(store.WriteRecord(early.data(), 100));
        Access::File(store)->Flush();
        const int storedBefore = store.GetStoredDataSize();
        const std::vector<int> freeBefore = Access::FreePages(store);

        counting.FailWriteAfter(1, ENOSPC);  // the second of its system writes
        const auto caught = Catch([&] { Write(store, big); });
        counting.FailWriteAfter(-1, 0);
        EXPECT_EQ(Kind::file, caught.kind) << compress;
        EXPECT_EQ(ENOSPC, caught.systemError) << caught.message;
        EXPECT_EQ(storedBefore, store.GetStoredDataSize());
        // The stack is as before, with the refills' new pages underneath.
        const std::vector<int> after = Access::FreePages(store);
        EXPECT_TRUE(after.size() >= freeBefore.size() &&
                    std::equal(freeBefore.rbegin(), freeBefore.rend(), after.rbegin()));
        EXPECT_FALSE(Access::SourceHoldsArray(store));
        // The next write starts where the failed one did, on the stack's top.
        const int again = Write(store, big);
        EXPECT_EQ(freeBefore.back(), again);
        EXPECT_TRUE(big == Read(store, again));
        EXPECT_TRUE(early == Read(store, 5));
    }
}

// --- The object cache on top of the store ------------------------------------

namespace {

class CTestShape : public Tolm::ISerializable {
public:
    TOLM_DECLARE_SERIAL

    std::string payload;
};

TOLM_IMPLEMENT_SERIAL(CTestShape, u"StoreTest.Shape");

void CTestShape::Serialize(Tolm::CArchive& archive) {
    Tolm::CString bytes(payload);
    if (archive.IsStoring()) {
        archive << bytes;
    } else {
        archive >> bytes;
        payload = std::string(bytes.View());
    }
}

Tolm::CPtr<CTestShape> Shape(std::size_t count, char fill) {
    Tolm::CPtr<CTestShape> shape = new CTestShape;
    shape->payload.assign(count, fill);
    return shape;
}

std::string PayloadOf(const Tolm::CPtr<Tolm::IObject>& object) {
    const Tolm::CPtr<CTestShape> shape = Tolm::ObjectCast<CTestShape>(object);
    return shape ? shape->payload : "(not a shape)";
}

}  // namespace

TEST(ObjectsFileCacheTest, DefaultsNullObjectAndARoundTripThatFreesTheRecord) {
    ReportRecorder reports;
    CObjectsFileCache defaults;
    EXPECT_EQ(-1, defaults.Save(nullptr));
    EXPECT_EQ(1, reports.Count("Src\\ObjectsFileCache"));
    EXPECT_TRUE(Access::FileName(defaults).IsEmpty());
    EXPECT_EQ(kPage, defaults.GetPageSize());
    EXPECT_TRUE(defaults.IsCompressing());
    EXPECT_EQ(1024, defaults.GetArchiveBufferSize());
    for (bool compress : {true, false}) {
        CObjectsFileCache cache(kPage, 1024, compress);
        const int record = cache.Save(Shape(20000, 'a').Get());
        EXPECT_EQ(5, record);
        EXPECT_EQ(std::string(20000, 'a'), PayloadOf(cache.Load(record)));
        EXPECT_EQ(Tolm::CException::Kind::argument, Catch([&] { cache.Load(record); }).kind);
        EXPECT_EQ(0, cache.GetStoredDataSize());
    }
}

TEST(ObjectsFileCacheTest, SaveAfterLoadReusesTheLoadedRecordsLastPage) {
    CObjectsFileCache cache(64, 1024, false);
    const int record = cache.Save(Shape(200, 'b').Get());
    int lastPage = record;
    while (HeaderOf(cache, lastPage).nextPage != -1) lastPage = HeaderOf(cache, lastPage).nextPage;
    ASSERT_NE(record, lastPage);
    cache.Load(record);
    EXPECT_EQ(lastPage, cache.Save(Shape(1, 'c').Get()));
}

TEST(ObjectsFileCacheTest, FailedRebuildKeepsTheRecordForAnotherLoad) {
    CObjectsFileCache cache;
    const int record = cache.Save(Shape(5000, 'd').Get());
    const int stored = cache.GetStoredDataSize();

    Tolm::UnregisterClass(u"StoreTest.Shape");
    const auto caught = Catch([&] { cache.Load(record); });
    Tolm::RegisterClass(u"StoreTest.Shape", []() -> Tolm::IObject* { return new CTestShape(); });
    EXPECT_EQ(Tolm::CException::Kind::archive, caught.kind) << caught.message;
    EXPECT_EQ(stored, cache.GetStoredDataSize());
    EXPECT_EQ(std::string(5000, 'd'), PayloadOf(cache.Load(record)));
}
