// Fuzzes the reading of archived objects.
//
// Input: the first byte chooses the archive's buffer size (so reads that
// straddle refills are explored); the rest is the archive. Two classes are
// registered: "Fuzz.Node", whose state is one value of every kind followed by
// a count of child objects and the children themselves (nested objects, null
// ones included), and "Fuzz.Plain", which is not serialisable.
//
// Only a CException is allowed out of ReadObject. A node that was read is
// written again, read back and written once more: the two writings must be
// the same bytes.
//
// Reports of broken preconditions throw; a report of kind internal reaching
// the target is a finding (an archive must be rejected by checks, not by
// broken preconditions).
#include "FuzzSupport.h"

#include <Tolm/Archive.h>
#include <Tolm/File.h>
#include <Tolm/Object.h>
#include <Tolm/String.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace {

class CFuzzNode final : public Tolm::ISerializable {
public:
    TOLM_DECLARE_SERIAL

private:
    std::int32_t small = 0;
    std::uint32_t unsignedSmall = 0;
    std::int64_t large = 0;
    double real = 0;
    bool flag = false;
    Tolm::CUnicodeString text;
    Tolm::CString bytes;
    std::vector<Tolm::CPtr<Tolm::IObject>> children;
};

TOLM_IMPLEMENT_SERIAL(CFuzzNode, u"Fuzz.Node");

void CFuzzNode::Serialize(Tolm::CArchive& archive) {
    if (archive.IsStoring()) {
        archive << small << unsignedSmall << large << real << flag << text << bytes;
        archive << static_cast<std::uint32_t>(children.size());
        for (const auto& child : children) archive.WriteObject(child.Get());
        return;
    }
    // The value is kept as bits: a NaN read into a double and written out
    // again must give the same bytes.
    std::int64_t realBits = 0;
    archive >> small >> unsignedSmall >> large >> realBits >> flag >> text >> bytes;
    std::memcpy(&real, &realBits, sizeof real);
    std::uint32_t count = 0;
    archive >> count;
    // Every child takes at least eight bytes, so a huge count ends at the
    // archive's end with an exception.
    for (std::uint32_t i = 0; i < count; ++i) children.push_back(archive.ReadObject());
}

class CFuzzPlain final : public Tolm::IObject {};

const Tolm::CClassRegistration plainRegistration(u"Fuzz.Plain",
                                                 []() -> Tolm::IObject* { return new CFuzzPlain(); });

std::vector<unsigned char> write(const Tolm::IObject* object) {
    Tolm::CMemoryFile file;
    Tolm::CArchive archive(&file, Tolm::CArchive::store, 512);
    archive.WriteObject(object);
    archive.Close();
    const unsigned char* data = file.GetData();
    return data ? std::vector<unsigned char>(data, data + file.GetLength()) : std::vector<unsigned char>();
}

Tolm::CPtr<Tolm::IObject> read(const unsigned char* data, std::size_t size, int bufferSize) {
    Tolm::CMemoryFile file;
    file.Write(data, static_cast<int>(size));
    file.SeekToBegin();
    Tolm::CArchive archive(&file, Tolm::CArchive::load, bufferSize);
    Tolm::CPtr<Tolm::IObject> object = archive.ReadObject();
    archive.Close();
    FUZZ_CHECK(file.GetPosition() <= static_cast<std::int64_t>(size), "position %lld past %zu bytes",
               static_cast<long long>(file.GetPosition()), size);
    return object;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzsupport::ThrowingReports();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1 || size > 1 << 20) return 0;
    static constexpr int kBufferSizes[] = {1, 3, 16, 4096};
    const int bufferSize = kBufferSizes[data[0] % 4];
    try {
        const Tolm::CPtr<Tolm::IObject> object = read(data + 1, size - 1, bufferSize);
        const std::vector<unsigned char> first = write(object.Get());
        const Tolm::CPtr<Tolm::IObject> again = read(first.data(), first.size(), 4096);
        FUZZ_CHECK(write(again.Get()) == first, "a rewritten archive of %zu bytes changed", first.size());
    } catch (Tolm::CException* error) {
        fuzzsupport::Dispose(error, true);
    }
    return 0;
}
