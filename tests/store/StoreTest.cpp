#include <Korvan/FileDataStorage.h>
#include <Korvan/ObjectsFileCache.h>
#include <Tolm/Archive.h>
#include <Tolm/Error.h>
#include <Tolm/File.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <fstream>
#include <iterator>
#include <map>
#include <numeric>
#include <random>
#include <string>
#include <vector>

namespace Korvan {

// A look inside the store: its file, free stack and pages.
struct FileDataStorageTestAccess {
    static Tolm::CFile* File(CFileDataStorage& store) { return store.file.get(); }
    static const Tolm::CUnicodeString& FileName(const CFileDataStorage& store) { return store.fileName; }
    static int AllocatedPagesCount(const CFileDataStorage& store) { return store.allocatedPagesCount; }
    static std::vector<int> FreePages(const CFileDataStorage& store) {
        return {store.freePages.GetData(), store.freePages.GetData() + store.freePages.GetSize()};
    }
    static bool SourceHoldsArray(const CFileDataStorage& store) {
        return store.sourceStream && store.sourceStream->HasArray();
    }
    static Tolm::CPtr<CFileDataStorage::CPage> LoadPageHeader(CFileDataStorage& store, int page) {
        return store.loadPageHeader(page);
    }
    // Writes a page of `used` bytes at slot `index`, however far past the file's end.
    static void WritePageAt(CFileDataStorage& store, int index, int used) {
        store.initFile();
        const Tolm::CPtr<CFileDataStorage::CPage> page = store.getFreePage();
        page->index = index;
        page->usedSize = used;
        store.writePage(page.Get());
    }
};

}  // namespace Korvan

using Korvan::CFileDataStorage;
using Korvan::CObjectsFileCache;
using Access = Korvan::FileDataStorageTestAccess;
using Kind = Tolm::CException::Kind;
using Bytes = std::vector<unsigned char>;

namespace {

// Counts broken precondition reports by source file and lets the code after
// the check run.
class ReportRecorder {
public:
    ReportRecorder() { files.clear(); }
    ~ReportRecorder() { Tolm::SetInternalErrorHandler(previous); }
    ReportRecorder(const ReportRecorder&) = delete;
    ReportRecorder& operator=(const ReportRecorder&) = delete;
    int CountFrom(const std::string& file) const {
        return static_cast<int>(std::count(files.begin(), files.end(), file));
    }

private:
    static inline std::vector<std::string> files;
    Tolm::InternalErrorHandler previous =
        Tolm::SetInternalErrorHandler([](const Tolm::InternalErrorReport& r) {
            files.push_back(r.file);
            return false;
        });
};

struct Caught {
    bool thrown = false;
    Kind kind = Kind::internal;
    std::string message;
    int systemError = 0;
};

// The framework exception a call throws, if any.
template <class Call>
Caught Catch(Call&& call) {
    try {
        call();
    } catch (Tolm::CException* error) {
        Caught caught{true, error->GetKind(), error->GetMessage(), error->GetSystemError()};
        error->Delete();
        return caught;
    }
    return {};
}

constexpr const char* kStoreSource = "Src\\FileDataStorage";

// Random bytes; with pdfLike, text operators with one 256-byte binary run in
// eight, which compresses like a PDF page.
Bytes Pattern(std::size_t count, unsigned seed = 1, bool pdfLike = false) {
    static const std::string kText =
        "BT /F1 12 Tf 72 712 Td (Hello, record store) Tj ET\nq 1 0 0 1 0 0 cm Q\n";
    Bytes bytes(count);
    std::mt19937 random(seed);
    for (std::size_t i = 0; i < count; ++i) {
        const bool text = pdfLike && (i / 256) % 8 != seed % 8;
        bytes[i] =
            static_cast<unsigned char>(text ? static_cast<unsigned>(kText[i % kText.size()]) : random());
    }
    return bytes;
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
Bytes FileBytes(CFileDataStorage& store) {
    Access::File(store)->Flush();
    std::ifstream in(Tolm::ToNativePath(Access::FileName(store)), std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::int32_t DWordAt(const Bytes& bytes, std::size_t at) {
    return static_cast<std::int32_t>(bytes.at(at) | bytes.at(at + 1) << 8 | bytes.at(at + 2) << 16 |
                                     static_cast<std::uint32_t>(bytes.at(at + 3)) << 24);
}

}  // namespace

// The source the store hands to the compressing streams.
TEST(ArrayReadStreamTest, ReadsSkipsAndResetsAndReportsAReadWithoutArray) {
    ReportRecorder reports;
    const unsigned char bytes[10] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
    Tolm::CPtr<Korvan::CArrayReadStream> stream = new Korvan::CArrayReadStream;
    unsigned char target[10] = {};
    EXPECT_EQ(0, stream->Read(target, 4));
    EXPECT_EQ(1, reports.CountFrom(kStoreSource));
    stream->SetArray(bytes, 10);
    EXPECT_EQ(0, stream->Read(target, -3) + stream->Skip(-3));
    EXPECT_EQ(4, stream->Skip(4));
    EXPECT_EQ(6, stream->Read(target, 10));
    EXPECT_EQ(4, target[0]);
    EXPECT_EQ(0, stream->Read(target, 4) + stream->Skip(4));
    stream->Reset();
    EXPECT_EQ(10, stream->Read(target, 10));
    EXPECT_TRUE(std::equal(bytes, bytes + 10, target));
}

// Pages 5, 4, 3 hold a 10000-byte record; a record of exactly the page's data
// size takes one page and one byte more takes two.
TEST(StoreLayoutTest, PagesAndHeadersReadFromTheFileBytes) {
    std::string path;
    {
        CFileDataStorage store(4096, false);
        EXPECT_TRUE(Access::FileName(store).IsEmpty());
        const Bytes a = Pattern(10000, 1), b = Pattern(4084, 2), c = Pattern(4085, 3);
        EXPECT_EQ(5, Write(store, a));
        // Page 5 lies just past the first refill's five slots and ends the file.
        EXPECT_EQ(6 * 4096u, FileBytes(store).size());
        EXPECT_EQ(2, Write(store, b));
        EXPECT_EQ(1, Write(store, c));
        EXPECT_EQ(10000 + 4084 + 4085, store.GetStoredDataSize());

        Bytes all = a;
        all.insert(all.end(), b.begin(), b.end());
        all.insert(all.end(), c.begin(), c.end());
        const Bytes file = FileBytes(store);
        const struct {
            int page, next, used, recordSize;
        } chain[] = {{5, 4, 4084, 10000}, {4, 3, 4084, -1},    {3, -1, 1832, -1},
                     {2, -1, 4084, 4084}, {1, 10, 4084, 4085}, {10, -1, 1, -1}};
        std::size_t offset = 0;
        for (const auto& page : chain) {
            const std::size_t at = static_cast<std::size_t>(page.page) * 4096;
            EXPECT_EQ(page.next, DWordAt(file, at)) << page.page;
            EXPECT_EQ(page.used, DWordAt(file, at + 4)) << page.page;
            EXPECT_EQ(page.recordSize, DWordAt(file, at + 8)) << page.page;
            EXPECT_TRUE(std::equal(&all[offset], &all[offset] + page.used, &file[at + 12])) << page.page;
            offset += static_cast<std::size_t>(page.used);
        }
        // Slot 0 and the unused tail of a slot are never written.
        EXPECT_EQ(4096, std::count(file.begin(), file.begin() + 4096, 0));
        EXPECT_EQ(4096 - 12 - 1832,
                  std::count(file.begin() + 3 * 4096 + 12 + 1832, file.begin() + 4 * 4096, 0));
        path = Tolm::ToNativePath(Access::FileName(store));
    }
    EXPECT_FALSE(std::ifstream(path).good());
}

TEST(StoreLayoutTest, PageBeyondFourGigabytesLandsAtItsSlot) {
    CFileDataStorage store(4096, false);
    Access::WritePageAt(store, 1100000, 3);  // 1100000 * 4096 > 2^32
    Access::File(store)->Flush();
    EXPECT_EQ(std::int64_t{1100000} * 4096 + 15, Access::File(store)->GetLength());
    EXPECT_EQ(3, Access::LoadPageHeader(store, 1100000)->usedSize);
}

// A new store hands out 5 .. 1 and then 10 after the next refill; a freed
// chain 5, 4, 3 comes back as 3, 4, 5.
TEST(StoreFreeStackTest, RefillsAndFreedChainsComeBackLastInFirstOut) {
    for (bool freeChainFirst : {false, true}) {
        CFileDataStorage store(4096, false);
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
    CFileDataStorage store(4096, compress);
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
    const int headers = Access::LoadPageHeader(store, record)->recordSize +
                        Access::LoadPageHeader(store, neighbour)->recordSize;
    EXPECT_EQ(compress ? headers : size + 3000, store.GetStoredDataSize());
    if (compress && size > 100000) {
        EXPECT_LT(Access::LoadPageHeader(store, record)->recordSize, size / 2);
    }
}

INSTANTIATE_TEST_SUITE_P(Sizes, RecordSizeTest,
                         ::testing::Combine(::testing::Values(1, 4084, 4085, 3 * 1024 * 1024 + 7),
                                            ::testing::Bool()));

class StoreModelTest : public ::testing::TestWithParam<std::tuple<int, bool>> {};

TEST_P(StoreModelTest, AgreesWithAMapOverThousandsOfOperations) {
    const auto [pageSize, compress] = GetParam();
    CFileDataStorage store(pageSize, compress);
    const int pageData = pageSize - CFileDataStorage::kPageHeaderSize;
    std::map<int, Bytes> model;
    std::mt19937 random(20261206u + static_cast<unsigned>(pageSize));
    long long storedSum = 0;

    for (int step = 0; step < (compress ? 1500 : 4000); ++step) {
        const unsigned pick = random() % 10;
        if (model.empty() || pick < 4) {
            // Mostly short records, some of a few pages, now and then many.
            const unsigned shape = random() % 20;
            const unsigned limit = shape < 12 ? pageData : shape < 19 ? pageData * 6 : 70000;
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
                         ::testing::Combine(::testing::Values(4096, 64), ::testing::Bool()));

TEST(StoreRefusalTest, PageSizesThatCannotWorkAreRejected) {
    for (int pageSize : {INT_MIN, -1, 0, 12, INT_MAX / 5 + 1, INT_MAX}) {
        const auto caught = Catch([&] { CFileDataStorage store(pageSize, false); });
        EXPECT_EQ(Kind::argument, caught.kind) << pageSize;
        EXPECT_NE(std::string::npos, caught.message.find(std::to_string(pageSize))) << caught.message;
    }
    EXPECT_FALSE(Catch([&] { CFileDataStorage store(INT_MAX / 5, false); }).thrown);
    CFileDataStorage smallest(13, false);  // one data byte a page
    EXPECT_EQ(Pattern(100), Read(smallest, Write(smallest, Pattern(100))));
}

TEST(StoreRefusalTest, BadLengthsNumbersThatAreNotLiveRecordsAndDoubleFreesChangeNothing) {
    CFileDataStorage store(4096, false);
    {
        ReportRecorder reports;
        const unsigned char byte = 1;
        for (int length : {0, -5, INT_MIN}) EXPECT_EQ(-1, store.WriteRecord(&byte, length)) << length;
        EXPECT_EQ(-1, store.WriteRecord(nullptr, 10));
        EXPECT_EQ(4, reports.CountFrom(kStoreSource));
    }
    EXPECT_TRUE(Access::FileName(store).IsEmpty());
    EXPECT_EQ(0, Access::AllocatedPagesCount(store) + store.GetStoredDataSize());
    // Before any write there is no file: every number is rejected cleanly.
    EXPECT_EQ(Kind::argument, Catch([&] { Read(store, 5); }).kind);
    EXPECT_EQ(Kind::argument, Catch([&] { store.FreeRecord(5); }).kind);

    const Bytes first = Pattern(10000);
    const int record = Write(store, first);  // pages 5, 4, 3
    const int freed = Write(store, Pattern(10));
    store.FreeRecord(freed);
    const std::vector<int> freeBefore = Access::FreePages(store);

    for (int number : {0, -1, INT_MIN, 4, 3, 6, 11, INT_MAX, freed}) {
        Tolm::CArray<unsigned char> out;
        out.Add(7);
        const auto read = Catch([&] { store.ReadRecord(number, out); });
        EXPECT_EQ(Kind::argument, read.kind) << number;
        EXPECT_NE(std::string::npos, read.message.find("record " + std::to_string(number))) << read.message;
        EXPECT_EQ(1, out.GetSize());
        EXPECT_EQ(Kind::argument, Catch([&] { store.FreeRecord(number); }).kind) << number;
    }
    EXPECT_EQ(freeBefore, Access::FreePages(store));
    EXPECT_EQ(first, Read(store, record));
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
    CFileDataStorage store(4096, false);
    const int record = Write(store, Pattern(10000));
    const Bytes small = Pattern(20);
    store.FreeRecord(Write(store, small));
    Tolm::CFile& file = *Access::File(store);
    file.Seek(std::int64_t{damage.page} * 4096 + 4 * damage.field, Tolm::CBaseFile::begin);
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
    // The damage stays with its record; other records are unaffected.
    const int next = Write(store, small);
    EXPECT_EQ(2, next);
    EXPECT_EQ(small, Read(store, next));
    EXPECT_EQ(damage.field == 1 && damage.value == 0 ? 1 : 0, reports.CountFrom(kStoreSource));
}

INSTANTIATE_TEST_SUITE_P(
    Headers, DamagedHeaderTest,
    ::testing::Values(Damage{"UsedAbovePageData", 5, 1, 5000, 5}, Damage{"UsedNegative", 4, 1, -7, 4},
                      Damage{"UsedZero", 4, 1, 0, 4}, Damage{"UsedShortInTheMiddle", 4, 1, 100, 4},
                      Damage{"LastPageOverlong", 3, 1, 4084, 3},
                      Damage{"RecordSizeHuge", 5, 2, 0x7FFFFFFF, 5},
                      Damage{"RecordSizeNegative", 5, 2, -2, 5}, Damage{"RecordSizeZero", 5, 2, 0, 5},
                      Damage{"RecordSizeTooShortForChain", 5, 2, 5000, 4},
                      Damage{"RecordSizeOnSecondPage", 4, 2, 10000, 4},
                      Damage{"CycleToFirstPage", 4, 0, 5, 4}, Damage{"CycleToItself", 4, 0, 4, 4},
                      Damage{"NextIsFreePage", 4, 0, 2, 4}, Damage{"NextNeverHandedOut", 4, 0, 1000, 4},
                      Damage{"NextNegative", 4, 0, -9, 4}, Damage{"ChainEndsEarly", 4, 0, -1, 4},
                      Damage{"ChainGoesOnPastLastPage", 3, 0, 1, 3}),
    [](const ::testing::TestParamInfo<Damage>& param) { return std::string(param.param.what); });

TEST(StoreFailureTest, TruncatedFileIsAnErrorNotStaleBytes) {
    CFileDataStorage store(4096, false);
    const int record = Write(store, Pattern(10000));  // pages 5 (the file's end), 4, 3
    const int low = Write(store, Pattern(100));       // page 2
    Tolm::CFile& file = *Access::File(store);
    Tolm::CArray<unsigned char> out;
    // Cut inside page 5's data, then inside its header, then inside page 2's data.
    file.SetLength(5 * 4096 + 12 + 100);
    const auto data = Catch([&] { store.ReadRecord(record, out); });
    EXPECT_EQ(Kind::file, data.kind);
    EXPECT_NE(std::string::npos, data.message.find("cut short")) << data.message;
    EXPECT_NE(std::string::npos, data.message.find("page 5")) << data.message;
    file.SetLength(5 * 4096 + 6);
    EXPECT_EQ(Kind::file, Catch([&] { store.ReadRecord(record, out); }).kind);
    EXPECT_EQ(Kind::file, Catch([&] { store.FreeRecord(record); }).kind);
    file.SetLength(2 * 4096 + 12 + 50);
    EXPECT_EQ(Kind::file, Catch([&] { store.ReadRecord(low, out); }).kind);
    EXPECT_EQ(0, out.GetSize());
    EXPECT_EQ(10100, store.GetStoredDataSize());
}

TEST(StoreFailureTest, DiskFullMidWriteLeavesTheStoreAsItWas) {
    for (bool compress : {false, true}) {
        CFileDataStorage store(4096, compress);
        const Bytes early = Pattern(9000, 2), big = Pattern(9 * 1024 * 1024, 3);
        EXPECT_EQ(5, Write(store, early));
        store.FreeRecord(store.WriteRecord(early.data(), 100));
        Access::File(store)->Flush();
        const int storedBefore = store.GetStoredDataSize();
        const std::vector<int> freeBefore = Access::FreePages(store);

        Tolm::CFile::FailSystemWriteAfter(1, ENOSPC);  // the second of its system writes
        const auto caught = Catch([&] { Write(store, big); });
        Tolm::CFile::FailSystemWriteAfter(-1, 0);
        EXPECT_EQ(Kind::file, caught.kind) << compress;
        EXPECT_EQ(ENOSPC, caught.systemError) << caught.message;
        EXPECT_EQ(storedBefore, store.GetStoredDataSize());
        // The stack is as before, with the refills' new pages underneath.
        const std::vector<int> freeAfter = Access::FreePages(store);
        ASSERT_GE(freeAfter.size(), freeBefore.size());
        EXPECT_TRUE(std::equal(freeBefore.rbegin(), freeBefore.rend(), freeAfter.rbegin()));
        EXPECT_FALSE(Access::SourceHoldsArray(store));
        // The next write starts where the failed one did, on the stack's top.
        const int again = Write(store, big);
        EXPECT_EQ(freeBefore.back(), again);
        EXPECT_TRUE(big == Read(store, again));
        EXPECT_TRUE(early == Read(store, 5));
    }
}

TEST(StoreFailureTest, DamagedCompressedBytesFailTheReadAndTheNextReadWorks) {
    CFileDataStorage store(4096, true);
    const Bytes bytes = Pattern(50000, 4, true);
    const int damaged = Write(store, bytes), sound = Write(store, bytes);
    Tolm::CFile& file = *Access::File(store);
    file.Seek(std::int64_t{damaged} * 4096 + 12, Tolm::CBaseFile::begin);
    const unsigned char garbage[64] = {0xFF, 0x00, 0x13, 0x37};
    file.Write(garbage, 64);

    Tolm::CArray<unsigned char> out;
    out.Add(1);
    EXPECT_TRUE(Catch([&] { store.ReadRecord(damaged, out); }).thrown);
    EXPECT_EQ(1, out.GetSize());
    EXPECT_FALSE(Access::SourceHoldsArray(store));
    EXPECT_TRUE(bytes == Read(store, sound));
}

// --- The object cache on top of the store ------------------------------------

namespace {

class CTestShape : public Tolm::ISerializable {
public:
    TOLM_DECLARE_SERIAL

    std::int32_t width = 0;
    std::string payload;
};

TOLM_IMPLEMENT_SERIAL(CTestShape, u"StoreTest.Shape");

void CTestShape::Serialize(Tolm::CArchive& archive) {
    if (archive.IsStoring()) {
        archive << width << Tolm::CString(payload);
    } else {
        Tolm::CString bytes;
        archive >> width >> bytes;
        payload = std::string(bytes.View());
    }
}

Tolm::CPtr<CTestShape> MakeShape(int width, std::size_t payloadBytes) {
    Tolm::CPtr<CTestShape> shape = new CTestShape;
    shape->width = width;
    shape->payload.assign(payloadBytes, static_cast<char>('a' + width % 26));
    return shape;
}

void ExpectSameShape(const CTestShape& expected, const Tolm::CPtr<Tolm::IObject>& loaded) {
    const Tolm::CPtr<CTestShape> back = Tolm::ObjectCast<CTestShape>(loaded);
    ASSERT_TRUE(back);
    EXPECT_EQ(expected.width, back->width);
    EXPECT_EQ(expected.payload, back->payload);
}

}  // namespace

TEST(ObjectsFileCacheTest, DefaultsAndARoundTripThatFreesTheRecord) {
    const CObjectsFileCache defaults;
    EXPECT_EQ(4096, defaults.GetPageSize());
    EXPECT_TRUE(defaults.IsCompressing());
    EXPECT_EQ(1024, defaults.GetArchiveBufferSize());
    for (bool compress : {true, false}) {
        CObjectsFileCache cache(4096, 1024, compress);
        const auto shape = MakeShape(42, 20000);
        const int record = cache.Save(shape.Get());
        EXPECT_EQ(5, record);
        ExpectSameShape(*shape, cache.Load(record));
        EXPECT_EQ(Tolm::CException::Kind::argument, Catch([&] { cache.Load(record); }).kind);
        EXPECT_EQ(0, cache.GetStoredDataSize());
    }
}

TEST(ObjectsFileCacheTest, SaveAfterLoadReusesTheLoadedRecordsLastPage) {
    CObjectsFileCache cache(64, 1024, false);
    const int record = cache.Save(MakeShape(1, 200).Get());
    const int pages = (cache.GetStoredDataSize() + 51) / 52;
    ASSERT_GT(pages, 1);
    int lastPage = record;
    for (int i = 1; i < pages; ++i) lastPage = Access::LoadPageHeader(cache, lastPage)->nextPage;
    cache.Load(record);
    EXPECT_EQ(lastPage, cache.Save(MakeShape(2, 1).Get()));
}

TEST(ObjectsFileCacheTest, NullObjectIsReportedBeforeAnythingIsWritten) {
    ReportRecorder reports;
    CObjectsFileCache cache;
    EXPECT_EQ(-1, cache.Save(nullptr));
    EXPECT_EQ(1, reports.CountFrom("Src\\ObjectsFileCache"));
    EXPECT_TRUE(Access::FileName(cache).IsEmpty());
}

TEST(ObjectsFileCacheTest, FailedRebuildKeepsTheRecordForAnotherLoad) {
    CObjectsFileCache cache;
    const auto shape = MakeShape(7, 5000);
    const int record = cache.Save(shape.Get());
    const int stored = cache.GetStoredDataSize();

    Tolm::UnregisterClass(u"StoreTest.Shape");
    const auto caught = Catch([&] { cache.Load(record); });
    Tolm::RegisterClass(u"StoreTest.Shape", []() -> Tolm::IObject* { return new CTestShape(); });
    EXPECT_EQ(Tolm::CException::Kind::archive, caught.kind) << caught.message;
    EXPECT_EQ(stored, cache.GetStoredDataSize());
    ExpectSameShape(*shape, cache.Load(record));
}
