// The framework's archives on a CMemoryFile: exact bytes, round trips through
// any buffer, and every way a damaged archive must fail as an archive error,
// never a crash.
#include <Tolm/Archive.h>
#include <Tolm/File.h>

#include "GearsetTesting.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <utility>
#include <vector>

namespace {

using GearsetTest::Catch;
using Tolm::CArchive;
using Tolm::CException;
using Tolm::CMemoryFile;
using Tolm::CPtr;
using Tolm::IObject;
using Bytes = std::vector<unsigned char>;

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

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
        archive << number << big << ratio << flag << label << bytes
                << static_cast<std::uint32_t>(children.size());
        for (const auto& child : children) archive.WriteObject(child.Get());
    } else {
        std::uint32_t count = 0;
        archive >> number >> big >> ratio >> flag >> label >> bytes >> count;
        for (std::uint32_t i = 0; i < count; ++i) children.push_back(archive.ReadObject());
    }
}

// Registered, but without a state to store.
class CPlainObject : public IObject {};
const Tolm::CClassRegistration plainRegistration(u"Test.Plain",
                                                 []() -> IObject* { return new CPlainObject(); });

// Values at their limits: -0.0, a NUL and a lone surrogate, a NUL byte, a
// text longer than any buffer, a NaN, a null child.
CPtr<CTestNode> MakeTree() {
    CPtr<CTestNode> root = new CTestNode, child = new CTestNode;
    root->number = std::numeric_limits<std::int32_t>::min();
    root->big = std::numeric_limits<std::int64_t>::max();
    root->ratio = -0.0;
    root->flag = true;
    root->label = Tolm::CUnicodeString(u"\0x\xD800", 3);
    root->bytes = Tolm::CString("a\0b", 3);
    child->number = std::numeric_limits<std::int32_t>::max();
    child->label = Tolm::CUnicodeString(std::u16string(3000, u'\u00E9'));
    child->ratio = std::numeric_limits<double>::quiet_NaN();
    root->children = {CPtr<IObject>(child.Get()), nullptr, CPtr<IObject>(new CTestNode)};
    return root;
}

// An object's marker and class name.
Bytes Header(const std::string& name) {
    Bytes bytes = {0x54, 0x4F, 0x42, 0x4A, static_cast<unsigned char>(name.size()), 0, 0, 0};
    bytes.insert(bytes.end(), name.begin(), name.end());
    return bytes;
}

Bytes Store(const IObject* object, int bufferSize = 1024) {
    CMemoryFile file;
    CArchive archive(&file, CArchive::store, bufferSize);
    archive.WriteObject(object);
    archive.Close();
    return Bytes(file.GetData(), file.GetData() + file.GetLength());
}

CPtr<IObject> Load(const Bytes& bytes, int bufferSize = 4096) {
    CMemoryFile file;
    if (!bytes.empty()) file.Write(bytes.data(), static_cast<int>(bytes.size()));
    file.SeekToBegin();
    return CArchive(&file, CArchive::load, bufferSize).ReadObject();
}

// With the stored bytes pinned, a load is right when storing what it made
// gives the same bytes again.
TEST(ArchiveTest, ExactBytesRoundTripThroughAnyBufferAndFile) {
    const CPtr<CTestNode> tree = MakeTree();
    const Bytes whole = Store(tree.Get());
    Bytes head = Header("Test.Node");
    head.insert(head.end(),
                {0, 0,   0,    0x80, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F, 0,    0,    0, 0, 0,
                 0, 0,   0x80, 1,    3,    0,    0,    0,    0,    0,    'x',  0,    0x00, 0xD8, 3, 0, 0,
                 0, 'a', 0,    'b',  3,    0,    0,    0,    0x54, 0x4F, 0x42, 0x4A, 9,    0,    0, 0});
    ASSERT_GE(whole.size(), head.size());
    EXPECT_EQ(head, Bytes(whole.begin(), whole.begin() + std::ssize(head)));
    EXPECT_EQ(Header(""), Store(nullptr));
    EXPECT_FALSE(Load(Store(nullptr)));
    for (int size : {1, 3, 7, 4096, 65536}) {
        SCOPED_TRACE(size);
        EXPECT_EQ(whole, Store(tree.Get(), size));
        EXPECT_EQ(whole, Store(Load(whole, size).Get()));
    }
    // Closing a loading archive leaves the file just past the object, whatever it read ahead.
    CMemoryFile file;
    CArchive(&file, CArchive::store, 64).WriteObject(tree.Get());
    file.WriteDWord(42);
    file.SeekToBegin();
    EXPECT_EQ(whole, Store(CArchive(&file, CArchive::load, 4096).ReadObject().Get()));
    EXPECT_EQ(42u, file.ReadDWord());
}

// Every proper prefix of a stored tree is a damaged archive; flipping any one
// byte may change a value, but must never crash or throw anything else.
TEST(ArchiveTest, EveryTruncationAndCorruptionIsAnArchiveError) {
    const Bytes whole = Store(MakeTree().Get());
    for (std::size_t at = 0; at < whole.size(); ++at) {
        for (int loadBuffer : {1, 4096}) {
            auto caught = Catch([&] { Load(Bytes(whole.begin(), whole.begin() + at), loadBuffer); });
            ASSERT_EQ(CException::Kind::archive, caught.kind) << "cut at " << at << ": " << caught.message;
        }
        for (unsigned char mask : {0x01, 0x80, 0xFF}) {
            Bytes damaged = whole;
            damaged[at] ^= mask;
            auto caught = Catch([&] { Load(damaged); });
            ASSERT_TRUE(!caught.thrown || caught.kind == CException::Kind::archive)
                << at << ": " << caught.message;
        }
    }
}

// Unknown and non-serialisable classes, impossible values, nesting beyond the
// limit both ways.
TEST(ArchiveTest, EachKindOfDamageIsNamedInTheArchiveError) {
    auto node = [](Bytes rest) {  // number, big, ratio: 20 bytes of zero, then the rest
        Bytes bytes = Header("Test.Node");
        bytes.insert(bytes.end(), 20, 0);
        bytes.insert(bytes.end(), rest.begin(), rest.end());
        return bytes;
    };
    Bytes deep;
    for (int i = 0; i <= CArchive::kMaxObjectDepth; ++i) {
        const Bytes one = node({0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0});  // flag, two empty texts, one child
        deep.insert(deep.end(), one.begin(), one.end());
    }
    const std::pair<Bytes, const char*> rows[] = {
        {{0x54, 0x4F, 0x42, 0x4B, 0, 0, 0, 0}, "0x4A424F54"},
        {Header("NoX"), "unknown class 'NoX'"},
        {{0x54, 0x4F, 0x42, 0x4A, 0xFF, 0xFF, 0xFF, 0x7F}, "longer than"},
        {Header("Test.Plain"), "not serialisable"},
        {node({2}), "boolean"},
        {node({1, 0xF0, 0xFF, 0xFF, 0x3F}), "left"},              // text count beyond the data
        {node({1, 0, 0, 0, 0, 0xF0, 0xFF, 0xFF, 0x7F}), "left"},  // byte count beyond the data
        {deep, "nested"},
    };
    for (const auto& [bytes, inMessage] : rows) {
        auto caught = Catch([&archive = bytes] { Load(archive); });  // clang 14 cannot capture a binding
        EXPECT_TRUE(caught.kind == CException::Kind::archive && Contains(caught.message, inMessage) &&
                    Contains(caught.message, "memory file"))
            << inMessage << ": " << caught.message;
    }
    CPtr<CTestNode> loop = new CTestNode;  // holds itself: storing it would never end
    loop->children.push_back(CPtr<IObject>(loop.Get()));
    EXPECT_EQ(CException::Kind::archive, Catch([&] { Store(loop.Get()); }).kind);
    loop->children.clear();
}

}  // namespace
