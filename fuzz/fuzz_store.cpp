// Fuzzes the record store over a damaged page file.
//
// Input layout (missing bytes read as zero):
//   byte 0      bit 0: page size 4096 (else 64); bit 1: compression;
//               bit 2: free the second record before the damage
//   byte 1      records to write, 1..6
//   then        two bytes per record: its length, 1..4 pages' worth
//   then        one byte: damage count, 0..15; per damage two bytes of offset
//               (taken modulo the file's length plus 16, so a write may also
//               lengthen the file) and four bytes written there
//   the rest    record numbers (signed bytes) to read and free as well
// The damage goes through the store's own file object, as the store tests do,
// so the store reads it back whether or not it reached the disk.
//
// Every written record is read and freed, then read once more (it is dead);
// the chosen numbers are read and freed too. Only a CException may come out,
// and a record written after all that must read back as written.
//
// Reports of broken preconditions return: a page whose used size is zero is
// reported and must then still be handled safely, which is the path this
// target wants to exercise.
#include "FuzzSupport.h"

#include <Korvan/FileDataStorage.h>
#include <Tolm/Array.h>
#include <Tolm/File.h>

#include <cstddef>
#include <cstdint>
#include <vector>

namespace Korvan {

// The store befriends this name for looks inside; the fuzzer needs its file.
struct FileDataStorageTestAccess {
    static Tolm::CFile* File(CFileDataStorage& store) { return store.file.get(); }
};

}  // namespace Korvan

namespace {

class CInput {
public:
    CInput(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    unsigned Byte() { return position_ < size_ ? data_[position_++] : 0u; }
    unsigned Word() { return Byte() | Byte() << 8; }
    bool AtEnd() const { return position_ >= size_; }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t position_ = 0;
};

std::vector<unsigned char> pattern(int length, int seed) {
    std::vector<unsigned char> bytes(static_cast<std::size_t>(length));
    for (int i = 0; i < length; ++i) bytes[i] = static_cast<unsigned char>((i / 7 + seed * 31) & 0xFF);
    return bytes;
}

template <class Call>
void tolerate(Call&& call) {
    try {
        call();
    } catch (Tolm::CException* error) {
        fuzzsupport::Dispose(error, false);
    }
}

void damage(Korvan::CFileDataStorage& store, CInput& input) {
    Tolm::CFile* file = Korvan::FileDataStorageTestAccess::File(store);
    const unsigned count = input.Byte() % 16;
    for (unsigned i = 0; i < count && file; ++i) {
        const std::int64_t offset = input.Word() % (file->GetLength() + 16);
        unsigned char bytes[4];
        for (unsigned char& byte : bytes) byte = static_cast<unsigned char>(input.Byte());
        file->Seek(offset, Tolm::CBaseFile::begin);
        file->Write(bytes, 4);
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzsupport::ReturningReports();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > 4096) return 0;
    CInput input(data, size);
    const unsigned flags = input.Byte();
    const int pageSize = flags & 1 ? 4096 : 64;
    Korvan::CFileDataStorage store(pageSize, (flags & 2) != 0);

    const int recordCount = static_cast<int>(input.Byte() % 6) + 1;
    std::vector<int> records;
    for (int i = 0; i < recordCount; ++i) {
        const int length = static_cast<int>(input.Word() % (4u * pageSize)) + 1;
        const std::vector<unsigned char> bytes = pattern(length, i);
        records.push_back(store.WriteRecord(bytes.data(), length));
    }
    if (flags & 4 && recordCount > 1) tolerate([&] { store.FreeRecord(records[1]); });
    damage(store, input);

    Tolm::CArray<unsigned char> out;
    for (const int record : records) {
        tolerate([&] { store.ReadRecord(record, out); });
        tolerate([&] { store.FreeRecord(record); });
        tolerate([&] { store.ReadRecord(record, out); });
    }
    while (!input.AtEnd()) {
        const int record = static_cast<signed char>(input.Byte());
        tolerate([&] { store.ReadRecord(record, out); });
        tolerate([&] { store.FreeRecord(record); });
    }

    // Fresh pages are written whole, so damage elsewhere must not reach them.
    const std::vector<unsigned char> fresh = pattern(3 * pageSize / 2, 99);
    const int record = store.WriteRecord(fresh.data(), static_cast<int>(fresh.size()));
    Tolm::CArray<unsigned char> back;
    store.ReadRecord(record, back);
    FUZZ_CHECK(back.GetSize() == static_cast<int>(fresh.size()) &&
                   std::equal(fresh.begin(), fresh.end(), back.GetData()),
               "a record of %zu bytes written after the damage read back as %d bytes", fresh.size(),
               back.GetSize());
    return 0;
}
