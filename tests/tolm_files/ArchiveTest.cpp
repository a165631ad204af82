// CArchive: values and nested objects round trip, the byte format, and every
// way a damaged archive must fail (as an archive error, never a crash).
#include <Tolm/Archive.h>

#include "FilesTestSupport.h"

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

namespace {

using filestest::Catch;
using filestest::Contains;
using Tolm::CArchive;
using Tolm::CException;
using Tolm::CMemoryFile;
using Tolm::CPtr;
using Tolm::IObject;

// A node with one of each value kind and child objects, some of them null.
class CTestNode : public Tolm::ISerializable {
public:
    TOLM_DECLARE_SERIAL

    std::int32_t number = 0;
    std::int64_t big = 0;
    double ratio = 0;
    bool flag = false;
    Tolm::CUnicodeString label;
    Tolm::CString bytes;
    std::vector<CPtr<IObject>> children;
};

TOLM_IMPLEMENT_SERIAL(CTestNode, u"Test.Node");

void CTestNode::Serialize(CArchive& archive) {
    if (archive.IsStoring()) {
        archive << number << big << ratio << flag << label << bytes << static_cast<std::uint32_t>(children.size());
        for (const auto& child : children) archive.WriteObject(child.Get());
    } else {
        std::uint32_t count = 0;
        archive >> number >> big >> ratio >> flag >> label >> bytes >> count;
        for (std::uint32_t i = 0; i < count; ++i) children.push_back(archive.ReadObject());
    }
}

// Registered, but without a state to store.
class CPlainObject : public IObject {};
const Tolm::CClassRegistration plainRegistration(u"Test.Plain", []() -> IObject* { return new CPlainObject(); });

CPtr<CTestNode> MakeTree() {
    CPtr<CTestNode> root = new CTestNode;
    root->number = -7;
    root->big = std::numeric_limits<std::int64_t>::min();
    root->ratio = -0.5;
    root->flag = true;
    root->label = u"root \U0001F600 text";
    root->bytes = Tolm::CString("a\0b", 3);
    CPtr<CTestNode> child = new CTestNode;
    child->number = std::numeric_limits<std::int32_t>::max();
    child->label = Tolm::CUnicodeString(std::u16string(3000, u'\u00E9'));
    root->children.push_back(CPtr<IObject>(child.Get()));
    root->children.push_back(nullptr);
    root->children.push_back(CPtr<IObject>(new CTestNode));
    return root;
}

std::vector<unsigned char> Store(const IObject* object, int bufferSize = 1024) {
    CMemoryFile file;
    {
        CArchive archive(&file, CArchive::store, bufferSize);
        archive.WriteObject(object);
        archive.Close();
    }
    return std::vector<unsigned char>(file.GetData(), file.GetData() + file.GetLength());
}

CPtr<IObject> Load(const std::vector<unsigned char>& bytes, int bufferSize = 4096) {
    CMemoryFile file;
    if (!bytes.empty()) file.Write(bytes.data(), static_cast<int>(bytes.size()));
    file.SeekToBegin();
    CArchive archive(&file, CArchive::load, bufferSize);
    return archive.ReadObject();
}

void ExpectSameTree(const CTestNode& expected, const IObject* actualObject) {
    const auto* actual = dynamic_cast<const CTestNode*>(actualObject);
    ASSERT_NE(nullptr, actual);
    EXPECT_EQ(expected.number, actual->number);
    EXPECT_EQ(expected.big, actual->big);
    EXPECT_EQ(std::signbit(expected.ratio), std::signbit(actual->ratio));
    EXPECT_EQ(expected.ratio, actual->ratio);
    EXPECT_EQ(expected.flag, actual->flag);
    EXPECT_TRUE(expected.label == actual->label);
    EXPECT_TRUE(expected.bytes == actual->bytes);
    ASSERT_EQ(expected.children.size(), actual->children.size());
    for (std::size_t i = 0; i < expected.children.size(); ++i) {
        if (!expected.children[i]) {
            EXPECT_FALSE(actual->children[i]);
        } else {
            ExpectSameTree(dynamic_cast<const CTestNode&>(*expected.children[i]), actual->children[i].Get());
        }
    }
}

TEST(ArchiveTest, NestedObjectsRoundTripThroughAnyBufferSize) {
    const CPtr<CTestNode> tree = MakeTree();
    for (int storeBuffer : {1, 3, 1024, 65536}) {
        for (int loadBuffer : {1, 7, 4096}) {
            SCOPED_TRACE(std::to_string(storeBuffer) + "/" + std::to_string(loadBuffer));
            const CPtr<IObject> loaded = Load(Store(tree.Get(), storeBuffer), loadBuffer);
            ExpectSameTree(*tree, loaded.Get());
        }
    }
}

TEST(ArchiveTest, ValuesRoundTripAtTheirLimits) {
    CMemoryFile file;
    const double nan = std::numeric_limits<double>::quiet_NaN();
    {
        CArchive archive(&file, CArchive::store, 5);
        archive << std::numeric_limits<std::int32_t>::min() << std::numeric_limits<std::uint32_t>::max()
                << std::numeric_limits<std::int64_t>::max() << nan << -0.0 << 1e308 << false << true
                << Tolm::CUnicodeString() << Tolm::CUnicodeString(u"\0x\xD800", 3) << Tolm::CString();
    }
    file.SeekToBegin();
    CArchive archive(&file, CArchive::load, 3);
    std::int32_t i32;
    std::uint32_t u32;
    std::int64_t i64;
    double d1, d2, d3;
    bool b1, b2;
    Tolm::CUnicodeString s1 = u"old", s2;
    Tolm::CString c1 = "old";
    archive >> i32 >> u32 >> i64 >> d1 >> d2 >> d3 >> b1 >> b2 >> s1 >> s2 >> c1;
    EXPECT_EQ(std::numeric_limits<std::int32_t>::min(), i32);
    EXPECT_EQ(std::numeric_limits<std::uint32_t>::max(), u32);
    EXPECT_EQ(std::numeric_limits<std::int64_t>::max(), i64);
    EXPECT_TRUE(std::isnan(d1));
    EXPECT_TRUE(std::signbit(d2));
    EXPECT_EQ(1e308, d3);
    EXPECT_FALSE(b1);
    EXPECT_TRUE(b2);
    EXPECT_TRUE(s1.IsEmpty());
    EXPECT_TRUE(s2 == Tolm::CUnicodeString(u"\0x\xD800", 3));
    EXPECT_TRUE(c1.IsEmpty());
    EXPECT_TRUE(Catch([&] { archive >> b1; }));  // nothing is left
}

TEST(ArchiveTest, ObjectBytesFollowTheDocumentedFormat) {
    CTestNode node;
    node.number = 7;
    const std::vector<unsigned char> bytes = Store(&node);
    const std::vector<unsigned char> head = {0x54, 0x4F, 0x42, 0x4A, 9, 0, 0, 0, 'T', 'e', 's', 't', '.', 'N', 'o',
                                             'd', 'e', 7, 0, 0, 0};
    ASSERT_GE(bytes.size(), head.size());
    EXPECT_EQ(head, std::vector<unsigned char>(bytes.begin(), bytes.begin() + head.size()));
    EXPECT_EQ((std::vector<unsigned char>{0x54, 0x4F, 0x42, 0x4A, 0, 0, 0, 0}), Store(nullptr));
    EXPECT_FALSE(Load(Store(nullptr)));
}

// Every proper prefix of a stored tree is a damaged archive.
TEST(ArchiveTest, EveryTruncationIsAnArchiveError) {
    const std::vector<unsigned char> whole = Store(MakeTree().Get());
    for (std::size_t cut = 0; cut < whole.size(); ++cut) {
        const std::vector<unsigned char> part(whole.begin(), whole.begin() + cut);
        for (int loadBuffer : {1, 4096}) {
            auto caught = Catch([&] { Load(part, loadBuffer); });
            ASSERT_TRUE(caught) << "cut at " << cut;
            ASSERT_EQ(CException::Kind::archive, caught->kind) << "cut at " << cut << ": " << caught->message;
        }
    }
}

// Flipping any one byte may change a value, but must never crash or throw
// anything but an archive error.
TEST(ArchiveTest, CorruptedBytesNeverCrash) {
    const std::vector<unsigned char> whole = Store(MakeTree().Get());
    for (std::size_t at = 0; at < whole.size(); ++at) {
        for (unsigned char mask : {0x01, 0x80, 0xFF}) {
            std::vector<unsigned char> damaged = whole;
            damaged[at] ^= mask;
            auto caught = Catch([&] { Load(damaged); });
            if (caught) {
                ASSERT_EQ(CException::Kind::archive, caught->kind) << at << ": " << caught->message;
            }
        }
    }
}

TEST(ArchiveTest, DamageTable) {
    struct Row {
        const char* name;
        std::vector<unsigned char> bytes;
        const char* inMessage;
    };
    auto object = [](std::vector<unsigned char> state) {
        std::vector<unsigned char> bytes = {0x54, 0x4F, 0x42, 0x4A, 9, 0, 0, 0, 'T', 'e', 's', 't', '.', 'N', 'o', 'd', 'e'};
        bytes.insert(bytes.end(), state.begin(), state.end());
        return bytes;
    };
    // number, big, ratio: 4 + 8 + 8 bytes of zero
    const std::vector<unsigned char> zeros(20, 0);
    auto after = [&](std::vector<unsigned char> rest) {
        std::vector<unsigned char> state = zeros;
        state.insert(state.end(), rest.begin(), rest.end());
        return object(state);
    };
    const Row rows[] = {
        {"wrong marker", {0x54, 0x4F, 0x42, 0x4B, 0, 0, 0, 0}, "0x4A424F54"},
        {"unknown class", {0x54, 0x4F, 0x42, 0x4A, 3, 0, 0, 0, 'N', 'o', 'X'}, "unknown class 'NoX'"},
        {"name too long", {0x54, 0x4F, 0x42, 0x4A, 0xFF, 0xFF, 0xFF, 0x7F}, "longer than"},
        {"not serialisable", {0x54, 0x4F, 0x42, 0x4A, 10, 0, 0, 0, 'T', 'e', 's', 't', '.', 'P', 'l', 'a', 'i', 'n'},
         "not serialisable"},
        {"boolean 2", after({2}), "boolean"},
        {"text count beyond the data", after({1, 0xF0, 0xFF, 0xFF, 0x3F}), "left"},
        {"byte count beyond the data", after({1, 0, 0, 0, 0, 0xF0, 0xFF, 0xFF, 0x7F}), "left"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        auto caught = Catch([&] { Load(row.bytes); });
        ASSERT_TRUE(caught);
        EXPECT_EQ(CException::Kind::archive, caught->kind);
        EXPECT_TRUE(Contains(caught->message, row.inMessage)) << caught->message;
        EXPECT_TRUE(Contains(caught->message, "memory file")) << caught->message;
    }
}

TEST(ArchiveTest, NestingBeyondTheLimitIsRefusedBothWays) {
    // A node that holds itself: storing it would never end.
    CPtr<CTestNode> loop = new CTestNode;
    loop->children.push_back(CPtr<IObject>(loop.Get()));
    auto caught = Catch([&] { Store(loop.Get()); });
    loop->children.clear();
    ASSERT_TRUE(caught);
    EXPECT_EQ(CException::Kind::archive, caught->kind);

    // A crafted chain of nested headers deeper than the limit.
    std::vector<unsigned char> deep;
    for (int i = 0; i <= CArchive::kMaxObjectDepth; ++i) {
        const std::vector<unsigned char> header = {0x54, 0x4F, 0x42, 0x4A, 9, 0, 0, 0, 'T', 'e', 's', 't', '.', 'N', 'o', 'd', 'e'};
        deep.insert(deep.end(), header.begin(), header.end());
        deep.insert(deep.end(), 21, 0);  // number, big, ratio, flag
        deep.insert(deep.end(), 8, 0);   // two empty texts
        deep.insert(deep.end(), {1, 0, 0, 0});
    }
    auto deepCaught = Catch([&] { Load(deep); });
    ASSERT_TRUE(deepCaught);
    EXPECT_TRUE(Contains(deepCaught->message, "nested")) << deepCaught->message;
}

TEST(ArchiveTest, WrongDirectionClosedUseAndNonSerialisableObjectsAreErrors) {
    CMemoryFile file;
    CArchive storing(&file, CArchive::store, 16);
    std::int32_t value = 0;
    EXPECT_TRUE(Catch([&] { storing >> value; }));
    CPlainObject plain;
    auto caught = Catch([&] { storing.WriteObject(&plain); });
    ASSERT_TRUE(caught);
    EXPECT_EQ(CException::Kind::archive, caught->kind);
    storing.Close();
    EXPECT_TRUE(Catch([&] { storing << value; }));
    EXPECT_TRUE(Catch([&] { CArchive(&file, 3, 16); }));
    EXPECT_TRUE(Catch([&] { CArchive(nullptr, CArchive::load, 16); }));
    EXPECT_TRUE(Catch([&] { CArchive(&file, CArchive::load, 0); }));
}

TEST(ArchiveTest, ClosingALoadArchiveLeavesTheFileJustPastItsData) {
    CMemoryFile file;
    const CPtr<CTestNode> tree = MakeTree();
    {
        CArchive archive(&file, CArchive::store, 64);
        archive.WriteObject(tree.Get());
        archive << std::int32_t{42};
    }
    const std::int64_t objectEnd = file.GetLength() - 4;
    file.SeekToBegin();
    {
        CArchive archive(&file, CArchive::load, 4096);  // reads everything ahead
        ExpectSameTree(*tree, archive.ReadObject().Get());
    }
    EXPECT_EQ(objectEnd, file.GetPosition());
    EXPECT_EQ(42u, file.ReadDWord());
}

TEST(ArchiveTest, ObjectsRoundTripThroughADiskFile) {
    char pattern[] = "/tmp/tolm-archive-XXXXXX";
    const int fd = ::mkstemp(pattern);
    ASSERT_GE(fd, 0);
    ::close(fd);
    const CPtr<CTestNode> tree = MakeTree();
    {
        Tolm::CFile file(Tolm::CUnicodeString::FromUtf8(pattern), Tolm::CFile::kNewReadWrite);
        CArchive(&file, CArchive::store, 1024).WriteObject(tree.Get());
        file.SeekToBegin();
        CArchive archive(&file, CArchive::load, 4096);
        ExpectSameTree(*tree, archive.ReadObject().Get());
    }
    ::unlink(pattern);
}

}  // namespace
