#include <Korvan/ObjectsFileCache.h>

#include "StoreTestSupport.h"

#include <Tolm/Archive.h>

#include <gtest/gtest.h>

#include <string>

using Korvan::CObjectsFileCache;
using storetest::Access;
using storetest::Catch;
using storetest::ReportRecorder;

namespace {

class CTestShape : public Tolm::ISerializable {
public:
    TOLM_DECLARE_SERIAL

    std::int32_t width = 0;
    Tolm::CUnicodeString name;
    std::string payload;
};

TOLM_IMPLEMENT_SERIAL(CTestShape, u"StoreTest.Shape");

void CTestShape::Serialize(Tolm::CArchive& archive) {
    if (archive.IsStoring()) {
        archive << width << name << Tolm::CString(payload);
    } else {
        Tolm::CString bytes;
        archive >> width >> name >> bytes;
        payload = std::string(bytes.View());
    }
}

Tolm::CPtr<CTestShape> MakeShape(int width, std::size_t payloadBytes = 10) {
    Tolm::CPtr<CTestShape> shape = new CTestShape;
    shape->width = width;
    shape->name = u"shape " + Tolm::UnicodeStr(width);
    shape->payload.assign(payloadBytes, static_cast<char>('a' + width % 26));
    return shape;
}

}  // namespace

TEST(ObjectsFileCacheTest, DefaultsArePageSize4096CompressionAndArchiveBuffer1024) {
    CObjectsFileCache cache;
    EXPECT_EQ(4096, cache.GetPageSize());
    EXPECT_TRUE(cache.IsCompressing());
    EXPECT_EQ(1024, cache.GetArchiveBufferSize());
}

TEST(ObjectsFileCacheTest, SaveThenLoadGivesTheSameClassAndState) {
    for (bool compress : {true, false}) {
        CObjectsFileCache cache(4096, 1024, compress);
        const auto shape = MakeShape(42, 20000);
        const int record = cache.Save(shape.Get());
        EXPECT_EQ(5, record);
        const Tolm::CPtr<CTestShape> back = Tolm::ObjectCast<CTestShape>(cache.Load(record));
        ASSERT_TRUE(back);
        EXPECT_EQ(42, back->width);
        EXPECT_TRUE(back->name == u"shape 42");
        EXPECT_EQ(shape->payload, back->payload);
        // Load is destructive: the number is dead now.
        EXPECT_EQ(Tolm::CException::Kind::argument, Catch([&] { cache.Load(record); }).kind);
        EXPECT_EQ(0, cache.GetStoredDataSize());
    }
}

TEST(ObjectsFileCacheTest, SaveAfterLoadReusesTheLoadedRecordsLastPage) {
    CObjectsFileCache cache(64, 1024, false);
    const int record = cache.Save(MakeShape(1, 200).Get());  // several 52-byte pages
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

    // The class is unknown while the record is loaded: the rebuild fails.
    Tolm::UnregisterClass(u"StoreTest.Shape");
    const auto caught = Catch([&] { cache.Load(record); });
    Tolm::RegisterClass(u"StoreTest.Shape", []() -> Tolm::IObject* { return new CTestShape(); });
    EXPECT_TRUE(caught.thrown);
    EXPECT_EQ(Tolm::CException::Kind::archive, caught.kind) << caught.message;
    EXPECT_EQ(stored, cache.GetStoredDataSize());

    const Tolm::CPtr<CTestShape> back = Tolm::ObjectCast<CTestShape>(cache.Load(record));
    ASSERT_TRUE(back);
    EXPECT_EQ(7, back->width);
    EXPECT_EQ(shape->payload, back->payload);
}
