#include <Korvan/FileDataStorage.h>

#include "StoreTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <map>
#include <numeric>
#include <random>
#include <vector>

using Korvan::CArrayReadStream;
using Korvan::CFileDataStorage;
using storetest::Access;
using storetest::Catch;
using storetest::DWordAt;
using storetest::FileBytes;
using storetest::ReportRecorder;
using Kind = Tolm::CException::Kind;
using Bytes = std::vector<unsigned char>;

namespace {

constexpr const char* kStoreSource = "Src\\FileDataStorage";

struct Header {
    int next;
    int used;
    int recordSize;
};

class StoreTest : public ::testing::Test {
protected:
    explicit StoreTest(int pageSize = 4096, bool compress = false) : store(pageSize, compress) {}

    int Write(const Bytes& bytes) { return store.WriteRecord(bytes.data(), static_cast<int>(bytes.size())); }
    Bytes Read(int record) {
        Tolm::CArray<unsigned char> out;
        store.ReadRecord(record, out);
        return Bytes(out.GetData(), out.GetData() + out.GetSize());
    }
    std::int64_t FileLength() { return static_cast<std::int64_t>(FileBytes(store).size()); }
    Header HeaderOf(int page) {
        const Bytes bytes = FileBytes(store);
        const std::int64_t at = Access::PageStart(store, page);
        return {DWordAt(bytes, at), DWordAt(bytes, at + 4), DWordAt(bytes, at + 8)};
    }
    // Numbers of the pages the next n one-page records would get; takes them.
    std::vector<int> TakePages(int n) {
        std::vector<int> pages;
        for (int i = 0; i < n; ++i) pages.push_back(Access::GetFreePage(store)->index);
        return pages;
    }

    CFileDataStorage store;
};

Bytes Pattern(std::size_t count, unsigned seed = 1) {
    Bytes bytes(count);
    std::mt19937 random(seed);
    for (unsigned char& b : bytes) b = static_cast<unsigned char>(random());
    return bytes;
}

}  // namespace

// --- The array read stream --------------------------------------------------

TEST(ArrayReadStreamTest, ReadsSkipsAndResetsOverItsArray) {
    const unsigned char bytes[10] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
    Tolm::CPtr<CArrayReadStream> stream = new CArrayReadStream;
    EXPECT_TRUE(stream->GetName() == u"CArrayReadStream");
    stream->SetArray(bytes, 10);
    unsigned char target[10] = {};
    EXPECT_EQ(4, stream->Read(target, 4));
    EXPECT_EQ(4, stream->Skip(4));
    EXPECT_EQ(2, stream->Read(target, 4));
    EXPECT_EQ(8, target[0]);
    EXPECT_EQ(9, target[1]);
    EXPECT_EQ(0, stream->Read(target, 4));
    EXPECT_EQ(0, stream->Skip(4));
    EXPECT_EQ(0, stream->Read(target, -3));
    EXPECT_EQ(0, stream->Skip(-3));
    stream->Reset();
    EXPECT_EQ(10, stream->Read(target, 10));
    EXPECT_EQ(0, std::memcmp(bytes, target, 10));
}

TEST(ArrayReadStreamTest, ReadWithoutArrayIsReported) {
    ReportRecorder reports;
    Tolm::CPtr<CArrayReadStream> stream = new CArrayReadStream;
    unsigned char target[4];
    EXPECT_EQ(0, stream->Read(target, 4));
    EXPECT_EQ(1, reports.CountFrom(kStoreSource));
}

// --- Construction and the file ----------------------------------------------

TEST(StoreConstructionTest, PageSizesThatCannotWorkAreRejected) {
    for (int pageSize : {INT_MIN, -1, 0, 12, INT_MAX / 5 + 1, INT_MAX}) {
        const auto caught = Catch([&] { CFileDataStorage store(pageSize, false); });
        EXPECT_TRUE(caught.thrown) << pageSize;
        EXPECT_EQ(Kind::argument, caught.kind) << pageSize;
        EXPECT_NE(std::string::npos, caught.message.find(std::to_string(pageSize))) << caught.message;
    }
    for (int pageSize : {13, INT_MAX / 5}) {
        const auto caught = Catch([&] { CFileDataStorage store(pageSize, false); });
        EXPECT_FALSE(caught.thrown) << pageSize << ": " << caught.message;
    }
}

TEST(StoreConstructionTest, SmallestPageSizeStoresRecords) {
    CFileDataStorage store(13, false);
    const Bytes bytes = Pattern(100);
    const int record = store.WriteRecord(bytes.data(), 100);
    Tolm::CArray<unsigned char> out;
    store.ReadRecord(record, out);
    EXPECT_EQ(bytes, Bytes(out.GetData(), out.GetData() + out.GetSize()));
}

TEST_F(StoreTest, NoFileUntilTheFirstWriteThenOneFileDeletedWithTheStore) {
    EXPECT_TRUE(Access::FileName(store).IsEmpty());
    EXPECT_EQ(nullptr, Access::File(store));
    EXPECT_FALSE(Access::HasStreams(store));
    Write(Pattern(10));
    const Tolm::CUnicodeString name = Access::FileName(store);
    EXPECT_FALSE(name.IsEmpty());
    Write(Pattern(10));
    EXPECT_TRUE(Access::FileName(store) == name);

    std::string path;
    {
        CFileDataStorage other(64, false);
        const Bytes one = Pattern(1);
        other.WriteRecord(one.data(), 1);
        path = Tolm::ToNativePath(Access::FileName(other));
        EXPECT_TRUE(std::ifstream(path).good());
    }
    EXPECT_FALSE(std::ifstream(path).good());
}

// --- Layout read from the file's bytes --------------------------------------

TEST_F(StoreTest, TenThousandByteRecordTakesPagesFiveFourThree) {
    const Bytes record = Pattern(10000);
    EXPECT_EQ(5, Write(record));
    EXPECT_EQ(10000, store.GetStoredDataSize());

    const Bytes file = FileBytes(store);
    const Header five = HeaderOf(5), four = HeaderOf(4), three = HeaderOf(3);
    EXPECT_EQ(4, five.next);
    EXPECT_EQ(4084, five.used);
    EXPECT_EQ(10000, five.recordSize);
    EXPECT_EQ(3, four.next);
    EXPECT_EQ(4084, four.used);
    EXPECT_EQ(-1, four.recordSize);
    EXPECT_EQ(-1, three.next);
    EXPECT_EQ(1832, three.used);
    EXPECT_EQ(-1, three.recordSize);

    // Data in chain order right after each header; the rest of a slot and
    // slot 0 are never written.
    EXPECT_EQ(0, std::memcmp(&file[5 * 4096 + 12], &record[0], 4084));
    EXPECT_EQ(0, std::memcmp(&file[4 * 4096 + 12], &record[4084], 4084));
    EXPECT_EQ(0, std::memcmp(&file[3 * 4096 + 12], &record[8168], 1832));
    for (int i = 3 * 4096 + 12 + 1832; i < 4 * 4096; ++i) ASSERT_EQ(0, file[i]) << i;
    for (int i = 0; i < 4096; ++i) ASSERT_EQ(0, file[i]) << i;
    // Page 5 begins at the end of the first refill's five slots and ends the file.
    EXPECT_EQ(6 * 4096, static_cast<std::int64_t>(file.size()));
}

TEST_F(StoreTest, PageDataSizeFitsOnePageAndOneMoreByteTakesTwo) {
    EXPECT_EQ(5, Write(Pattern(4084)));
    EXPECT_EQ(-1, HeaderOf(5).next);
    EXPECT_EQ(4084, HeaderOf(5).used);
    EXPECT_EQ(4, Write(Pattern(4085)));
    EXPECT_EQ(3, HeaderOf(4).next);
    EXPECT_EQ(4085, HeaderOf(4).recordSize);
    EXPECT_EQ(1, HeaderOf(3).used);
    EXPECT_EQ(-1, HeaderOf(3).next);
    EXPECT_EQ(4084 + 4085, store.GetStoredDataSize());
}

TEST_F(StoreTest, ShortPageLoadsWithFullDataArray) {
    const Bytes bytes = Pattern(100);
    const int record = Write(bytes);
    const auto page = Access::LoadPage(store, record);
    EXPECT_EQ(record, page->index);
    EXPECT_EQ(100, page->usedSize);
    EXPECT_EQ(100, page->recordSize);
    EXPECT_EQ(-1, page->nextPage);
    ASSERT_EQ(4084, page->data.GetSize());
    EXPECT_EQ(0, std::memcmp(page->data.GetData(), bytes.data(), 100));
    EXPECT_EQ(0, Access::LoadPageHeader(store, record)->data.GetSize());
}

TEST_F(StoreTest, PageBeyondFourGigabytesLandsAtItsSlot) {
    Access::InitFile(store);
    const auto page = Access::GetFreePage(store);
    page->index = 1100000;  // 1100000 * 4096 > 2^32
    page->usedSize = 3;
    page->data[0] = 'a';
    Access::WritePage(store, page.Get());
    Access::File(store)->Flush();
    EXPECT_EQ(std::int64_t{1100000} * 4096 + 15, Access::File(store)->GetLength());
    EXPECT_EQ(3, Access::LoadPageHeader(store, 1100000)->usedSize);
}

TEST_F(StoreTest, PageChainedToItselfIsReportedAndNotWritten) {
    ReportRecorder reports;
    Access::InitFile(store);
    const auto page = Access::GetFreePage(store);
    page->nextPage = page->index;
    page->usedSize = 1;
    const std::int64_t before = FileLength();
    Access::WritePage(store, page.Get());
    EXPECT_EQ(1, reports.CountFrom(kStoreSource));
    EXPECT_EQ(before, FileLength());
}

// --- The free-page stack ----------------------------------------------------

TEST_F(StoreTest, RefillsHandOutFiveDownToOneThenTen) {
    Access::InitFile(store);
    EXPECT_EQ(5, Access::GetFreePage(store)->index);
    EXPECT_EQ(5 * 4096, FileLength());
    EXPECT_EQ(5, Access::AllocatedPagesCount(store));
    EXPECT_EQ(4084, Access::GetFreePage(store)->data.GetSize());
    EXPECT_EQ((std::vector<int>{3, 2, 1, 10}), TakePages(4));
    EXPECT_EQ(10, Access::AllocatedPagesCount(store));
    EXPECT_EQ((std::vector<int>{6, 7, 8, 9}), Access::FreePages(store));
}

TEST_F(StoreTest, NextPageIsLinkedInMemoryOnly) {
    Access::InitFile(store);
    const auto first = Access::GetFreePage(store);
    first->usedSize = 1;
    Access::WritePage(store, first.Get());
    const auto second = Access::AllocateNextFreePage(store, first.Get());
    EXPECT_EQ(second->index, first->nextPage);
    EXPECT_EQ(-1, HeaderOf(first->index).next);
}

TEST_F(StoreTest, FreedChainIsReusedFromItsLastPage) {
    const int record = Write(Pattern(10000));  // pages 5, 4, 3
    store.FreeRecord(record);
    EXPECT_EQ(0, store.GetStoredDataSize());
    EXPECT_EQ((std::vector<int>{1, 2, 5, 4, 3}), Access::FreePages(store));
    EXPECT_EQ((std::vector<int>{3, 4, 5, 2, 1}), TakePages(5));
}

TEST_F(StoreTest, OnePageRecordsAfterAFreeGetThreeFourFiveTwoOne) {
    store.FreeRecord(Write(Pattern(10000)));
    std::vector<int> numbers;
    for (int i = 0; i < 6; ++i) numbers.push_back(Write(Pattern(10)));
    EXPECT_EQ((std::vector<int>{3, 4, 5, 2, 1, 10}), numbers);
}

// --- Records ----------------------------------------------------------------

class RecordSizeTest : public ::testing::TestWithParam<std::tuple<int, bool>> {};

TEST_P(RecordSizeTest, RoundTripsAndReadsTwice) {
    const auto [size, compress] = GetParam();
    CFileDataStorage store(4096, compress);
    const Bytes bytes = compress ? storetest::PdfLikeBytes(size, 7) : Pattern(size, 7);
    const Bytes other = Pattern(3000, 8);
    const int record = store.WriteRecord(bytes.data(), size);
    const int neighbour = store.WriteRecord(other.data(), 3000);
    for (int pass = 0; pass < 2; ++pass) {
        Tolm::CArray<unsigned char> out;
        store.ReadRecord(record, out);
        ASSERT_EQ(bytes, Bytes(out.GetData(), out.GetData() + out.GetSize())) << "pass " << pass;
        EXPECT_FALSE(Access::SourceHoldsArray(store));
    }
    Tolm::CArray<unsigned char> out;
    store.ReadRecord(neighbour, out);
    EXPECT_EQ(other, Bytes(out.GetData(), out.GetData() + out.GetSize()));
    if (!compress) {
        EXPECT_EQ(size + 3000, store.GetStoredDataSize());
    }
    EXPECT_EQ(compress, Access::HasStreams(store));
}

INSTANTIATE_TEST_SUITE_P(Sizes, RecordSizeTest,
                         ::testing::Combine(::testing::Values(1, 4084, 4085, 3 * 1024 * 1024 + 7),
                                            ::testing::Bool()));

TEST(StoreOutputTest, WithoutCompressionReadReplacesWithCompressionItAppends) {
    const Bytes bytes = Pattern(50);
    for (bool compress : {false, true}) {
        CFileDataStorage store(4096, compress);
        const int record = store.WriteRecord(bytes.data(), 50);
        Tolm::CArray<unsigned char> out;
        out.Add(0xAB);
        out.Add(0xCD);
        store.ReadRecord(record, out);
        Bytes expected = compress ? Bytes{0xAB, 0xCD} : Bytes{};
        expected.insert(expected.end(), bytes.begin(), bytes.end());
        EXPECT_EQ(expected, Bytes(out.GetData(), out.GetData() + out.GetSize())) << compress;
    }
}

TEST(StoreCompressionTest, StoredSizeIsTheCompressedLength) {
    CFileDataStorage store(4096, true);
    const Bytes bytes = storetest::PdfLikeBytes(100000, 3);
    const int record = store.WriteRecord(bytes.data(), 100000);
    EXPECT_GT(store.GetStoredDataSize(), 0);
    EXPECT_LT(store.GetStoredDataSize(), 100000);
    EXPECT_EQ(store.GetStoredDataSize(), Access::LoadPageHeader(store, record)->recordSize);
}

// --- Model-based: random writes, reads and frees against a std::map ---------

class StoreModelTest : public ::testing::TestWithParam<std::tuple<int, bool>> {};

TEST_P(StoreModelTest, AgreesWithAMapOverThousandsOfOperations) {
    const auto [pageSize, compress] = GetParam();
    CFileDataStorage store(pageSize, compress);
    const int pageData = pageSize - CFileDataStorage::kPageHeaderSize;
    std::map<int, Bytes> model;
    std::mt19937 random(20261206u + static_cast<unsigned>(pageSize));
    long long storedSum = 0;
    const int operations = compress ? 1500 : 4000;

    for (int step = 0; step < operations; ++step) {
        const unsigned pick = random() % 10;
        if (model.empty() || pick < 4) {
            // Mostly short records, some of a few pages, now and then many.
            const unsigned shape = random() % 20;
            const int size = shape < 12   ? 1 + static_cast<int>(random() % pageData)
                             : shape < 19 ? 1 + static_cast<int>(random() % (pageData * 6))
                                          : 1 + static_cast<int>(random() % 70000);
            const Bytes bytes = compress ? storetest::PdfLikeBytes(size, random()) : Pattern(size, random());
            const int record = store.WriteRecord(bytes.data(), size);
            ASSERT_GE(record, 1);
            ASSERT_EQ(0u, model.count(record)) << "record " << record << " handed out twice";
            model[record] = bytes;
            if (!compress) storedSum += size;
        } else {
            auto it = model.begin();
            std::advance(it, static_cast<long>(random() % model.size()));
            if (pick < 8) {
                Tolm::CArray<unsigned char> out;
                store.ReadRecord(it->first, out);
                ASSERT_EQ(it->second, Bytes(out.GetData(), out.GetData() + out.GetSize()))
                    << "record " << it->first << " at step " << step;
            } else {
                const int record = it->first;
                store.FreeRecord(record);
                if (!compress) storedSum -= static_cast<long long>(it->second.size());
                model.erase(it);
                ASSERT_TRUE(Catch([&] { store.FreeRecord(record); }).thrown) << "second free of " << record;
            }
        }
        if (!compress) {
            ASSERT_EQ(storedSum, store.GetStoredDataSize()) << "step " << step;
        }
    }
    for (const auto& [record, bytes] : model) {
        Tolm::CArray<unsigned char> out;
        store.ReadRecord(record, out);
        ASSERT_EQ(bytes, Bytes(out.GetData(), out.GetData() + out.GetSize())) << "record " << record;
    }
    for (const auto& entry : model) store.FreeRecord(entry.first);
    EXPECT_EQ(0, store.GetStoredDataSize());
    // With every record freed, the stack holds each page handed out exactly
    // once: no page was lost, none was given to two records.
    std::vector<int> free = Access::FreePages(store);
    std::sort(free.begin(), free.end());
    std::vector<int> all(static_cast<std::size_t>(Access::AllocatedPagesCount(store)));
    std::iota(all.begin(), all.end(), 1);
    EXPECT_EQ(all, free);
}

INSTANTIATE_TEST_SUITE_P(PageSizes, StoreModelTest,
                         ::testing::Values(std::make_tuple(4096, false), std::make_tuple(64, false),
                                           std::make_tuple(4096, true), std::make_tuple(64, true)));

// --- Mended faults ----------------------------------------------------------

TEST_F(StoreTest, ZeroOrNegativeLengthOrNullDataIsReportedBeforeAnythingChanges) {
    ReportRecorder reports;
    const unsigned char byte = 1;
    EXPECT_EQ(-1, store.WriteRecord(&byte, 0));
    EXPECT_EQ(-1, store.WriteRecord(&byte, -5));
    EXPECT_EQ(-1, store.WriteRecord(&byte, INT_MIN));
    EXPECT_EQ(-1, store.WriteRecord(nullptr, 10));
    EXPECT_EQ(4, reports.CountFrom(kStoreSource));
    EXPECT_TRUE(Access::FileName(store).IsEmpty());
    EXPECT_EQ(0, Access::AllocatedPagesCount(store));
    EXPECT_EQ(0, store.GetStoredDataSize());
}

TEST_F(StoreTest, NumbersThatAreNotLiveRecordsAreRejectedAndChangeNothing) {
    // Before any write there is no file: every number is rejected cleanly.
    EXPECT_EQ(Kind::argument, Catch([&] { Read(5); }).kind);
    EXPECT_EQ(Kind::argument, Catch([&] { store.FreeRecord(5); }).kind);

    const Bytes first = Pattern(10000);
    const int record = Write(first);  // pages 5, 4, 3
    const int freed = Write(Pattern(10));
    store.FreeRecord(freed);
    const std::vector<int> freeBefore = Access::FreePages(store);

    for (int number : {0, -1, INT_MIN, 4, 3, 6, 11, INT_MAX, freed}) {
        Tolm::CArray<unsigned char> out;
        out.Add(7);
        const auto read = Catch([&] { store.ReadRecord(number, out); });
        EXPECT_TRUE(read.thrown) << number;
        EXPECT_EQ(Kind::argument, read.kind) << number;
        EXPECT_NE(std::string::npos, read.message.find("record " + std::to_string(number))) << read.message;
        EXPECT_EQ(1, out.GetSize());
        const auto freeing = Catch([&] { store.FreeRecord(number); });
        EXPECT_EQ(Kind::argument, freeing.kind) << number;
    }
    EXPECT_EQ(freeBefore, Access::FreePages(store));
    EXPECT_EQ(10000, store.GetStoredDataSize());
    EXPECT_EQ(first, Read(record));
}

TEST_F(StoreTest, DoubleFreeIsRejectedAndPagesGoToOneRecordOnly) {
    const int record = Write(Pattern(10000));
    store.FreeRecord(record);
    const auto caught = Catch([&] { store.FreeRecord(record); });
    EXPECT_EQ(Kind::argument, caught.kind);
    EXPECT_NE(std::string::npos, caught.message.find("already freed")) << caught.message;
    EXPECT_EQ((std::vector<int>{1, 2, 5, 4, 3}), Access::FreePages(store));
    EXPECT_EQ(0, store.GetStoredDataSize());
}

struct Damage {
    const char* what;
    int page;   // of the record 5 -> 4 -> 3
    int field;  // 0 next, 1 used, 2 record size
    std::int32_t value;
    int blamed;  // the page the error names
};

class DamagedHeaderTest : public StoreTest, public ::testing::WithParamInterface<Damage> {};

TEST_P(DamagedHeaderTest, ReadAndFreeRaiseAndChangeNothing) {
    const Damage damage = GetParam();
    const Bytes bytes = Pattern(10000);
    const int record = Write(bytes);  // 5 -> 4 -> 3
    const Bytes small = Pattern(20);
    const int neighbour = Write(small);  // 2
    store.FreeRecord(neighbour);         // 2 is free now
    storetest::DamageHeader(store, damage.page, damage.field, damage.value);

    ReportRecorder reports;
    Tolm::CArray<unsigned char> out;
    out.Add(9);
    const auto read = Catch([&] { store.ReadRecord(record, out); });
    EXPECT_TRUE(read.thrown);
    EXPECT_EQ(Kind::file, read.kind);
    EXPECT_NE(std::string::npos, read.message.find("record 5")) << read.message;
    EXPECT_NE(std::string::npos, read.message.find("page " + std::to_string(damage.blamed))) << read.message;
    EXPECT_EQ(1, out.GetSize());

    const std::vector<int> freeBefore = Access::FreePages(store);
    EXPECT_EQ(Kind::file, Catch([&] { store.FreeRecord(record); }).kind);
    EXPECT_EQ(freeBefore, Access::FreePages(store));
    EXPECT_EQ(10000, store.GetStoredDataSize());
    // The damage stays with its record; other records are unaffected.
    const int next = Write(small);
    EXPECT_EQ(2, next);
    EXPECT_EQ(small, Read(next));
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

TEST_F(StoreTest, TruncatedFileIsAnErrorNotStaleBytes) {
    const int record = Write(Pattern(10000));  // pages 5 (the file's end), 4, 3
    const int low = Write(Pattern(100));       // page 2
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
        CFileDataStorage twin(4096, compress);
        const Bytes early = Pattern(9000, 2);
        const Bytes big = Pattern(9 * 1024 * 1024, 3);
        for (CFileDataStorage* s : {&store, &twin}) {
            const int first = s->WriteRecord(early.data(), 9000);
            s->FreeRecord(s->WriteRecord(early.data(), 100));
            EXPECT_EQ(5, first);
        }
        Access::File(store)->Flush();
        const int storedBefore = store.GetStoredDataSize();
        const std::vector<int> freeBefore = Access::FreePages(store);

        Tolm::CFile::FailSystemWriteAfter(1, ENOSPC);  // the second of its system writes
        const auto caught = Catch([&] { store.WriteRecord(big.data(), static_cast<int>(big.size())); });
        Tolm::CFile::FailSystemWriteAfter(-1, 0);
        ASSERT_TRUE(caught.thrown) << compress;
        EXPECT_EQ(Kind::file, caught.kind);
        EXPECT_EQ(ENOSPC, caught.systemError) << caught.message;

        EXPECT_EQ(storedBefore, store.GetStoredDataSize());
        const std::vector<int> freeAfter = Access::FreePages(store);
        ASSERT_GE(freeAfter.size(), freeBefore.size());
        // The stack is as before, with the refills' new pages underneath.
        EXPECT_TRUE(std::equal(freeBefore.rbegin(), freeBefore.rend(), freeAfter.rbegin()));
        EXPECT_FALSE(Access::SourceHoldsArray(store));

        // The next writes take exactly the pages a store that never failed takes.
        const int again = store.WriteRecord(big.data(), static_cast<int>(big.size()));
        EXPECT_EQ(twin.WriteRecord(big.data(), static_cast<int>(big.size())), again);
        Tolm::CArray<unsigned char> out;
        store.ReadRecord(again, out);
        EXPECT_TRUE(big == Bytes(out.GetData(), out.GetData() + out.GetSize()));
        Tolm::CArray<unsigned char> earlyOut;
        store.ReadRecord(5, earlyOut);
        EXPECT_TRUE(early == Bytes(earlyOut.GetData(), earlyOut.GetData() + earlyOut.GetSize()));
    }
}

TEST(StoreFailureTest, DamagedCompressedBytesFailTheReadAndTheNextReadWorks) {
    CFileDataStorage store(4096, true);
    const Bytes bytes = storetest::PdfLikeBytes(50000, 4);
    const int damaged = store.WriteRecord(bytes.data(), 50000);
    const int sound = store.WriteRecord(bytes.data(), 50000);
    Tolm::CFile& file = *Access::File(store);
    file.Seek(Access::PageStart(store, damaged) + 12, Tolm::CBaseFile::begin);
    const unsigned char garbage[64] = {0xFF, 0x00, 0x13, 0x37};
    file.Write(garbage, 64);

    Tolm::CArray<unsigned char> out;
    out.Add(1);
    const auto caught = Catch([&] { store.ReadRecord(damaged, out); });
    EXPECT_TRUE(caught.thrown);
    EXPECT_EQ(1, out.GetSize());
    EXPECT_FALSE(Access::SourceHoldsArray(store));
    Tolm::CArray<unsigned char> good;
    store.ReadRecord(sound, good);
    EXPECT_TRUE(bytes == Bytes(good.GetData(), good.GetData() + good.GetSize()));
}
