// Fuzzes the record store over a damaged page file.
//
// Input layout (missing bytes read as zero):
//   byte 0      bit 0: page size 4096 (else 64); bit 1: compression;
//               bit 2: free the second record before the damage;
//               bit 3: bend one next-page link (below)
//   byte 1      records to write, 1..6
//   then        two bytes per record: its length, 1..4 pages' worth
//   then        with bit 3, four bytes: record and place in its chain of the
//               link to bend, record and place of the page it then names
//               (each modulo what there is), so that a chain can be led into
//               another record, live or freed, or back into itself
//   then        one byte: damage count, 0..15; per damage two bytes of offset
//               (taken modulo the file's length plus 16, so a write may also
//               lengthen the file) and four bytes written there
//   the rest    record numbers (signed bytes) to read and free as well
// The damage goes through the store's own file object, as the store tests do,
// so the store reads it back whether or not it reached the disk.
//
// Every written record is read and freed, then read once more (it is dead);
// the chosen numbers are read and freed too. Only a CException may come out.
// When no byte was damaged at random, a record whose own pages were left alone
// must read back as written whenever it is read, for as long as it is live:
// a bent link may break its own record, never another. And a record written
// after all that must read back as written.
//
// Reports of broken preconditions return: a page whose used size is zero is
// reported and must then still be handled safely, which is the path this
// target wants to exercise.
#include "FuzzSupport.h"
#include "StoreTestAccess.h"  // in tests/support

#include <Korvan/FileDataStorage.h>
#include <Tolm/Array.h>
#include <Tolm/File.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <map>
#include <utility>
#include <vector>

namespace {

using Access = Korvan::FileDataStorageTestAccess;

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

// A record's pages in chain order, read from the headers while they are sound.
std::vector<int> chainOf(Tolm::CFile& file, int pageSize, int record) {
    std::vector<int> chain;
    for (int page = record; page != -1 && chain.size() < 64;) {
        chain.push_back(page);
        file.Seek(static_cast<std::int64_t>(page) * pageSize, Tolm::CBaseFile::begin);
        page = static_cast<int>(file.ReadDWord());
    }
    return chain;
}

// Bends one next-page link of a written record to a page of another (or the
// same) record; returns the record whose chain now leads astray.
int bendLink(Korvan::CFileDataStorage& store, int pageSize, const std::vector<int>& records, CInput& input) {
    Tolm::CFile& file = *Access::File(store);
    const int from = records[input.Byte() % records.size()];
    const std::vector<int> fromChain = chainOf(file, pageSize, from);
    const int fromPage = fromChain[input.Byte() % fromChain.size()];
    const std::vector<int> toChain = chainOf(file, pageSize, records[input.Byte() % records.size()]);
    const int toPage = toChain[input.Byte() % toChain.size()];
    file.Seek(static_cast<std::int64_t>(fromPage) * pageSize, Tolm::CBaseFile::begin);
    file.WriteDWord(static_cast<std::uint32_t>(toPage));
    return from;
}

std::vector<unsigned char> pattern(int length, int seed) {
    std::vector<unsigned char> bytes(static_cast<std::size_t>(length));
    for (int i = 0; i < length; ++i) bytes[i] = static_cast<unsigned char>((i / 7 + seed * 31) & 0xFF);
    return bytes;
}

// Whether the call went through; a CException is what damage may cause.
template <class Call>
bool tolerate(Call&& call) {
    try {
        call();
        return true;
    } catch (Tolm::CException* error) {
        fuzzsupport::Dispose(error, false);
        return false;
    }
}

// Writes the input's damage into the file; whether there was any.
bool damage(Korvan::CFileDataStorage& store, CInput& input) {
    Tolm::CFile* file = Access::File(store);
    const unsigned count = input.Byte() % 16;
    for (unsigned i = 0; i < count && file; ++i) {
        const std::int64_t offset = input.Word() % (file->GetLength() + 16);
        unsigned char bytes[4];
        for (unsigned char& byte : bytes) byte = static_cast<unsigned char>(input.Byte());
        file->Seek(offset, Tolm::CBaseFile::begin);
        file->Write(bytes, 4);
    }
    return count > 0;
}

// Every live record but the one whose link was bent reads back as written.
void checkIntact(Korvan::CFileDataStorage& store, const std::map<int, std::vector<unsigned char>>& live,
                 int bent) {
    for (const auto& [record, bytes] : live) {
        if (record == bent) continue;
        Tolm::CArray<unsigned char> back;
        try {
            store.ReadRecord(record, back);
        } catch (Tolm::CException* error) {
            FUZZ_CHECK(false, "intact record %d does not read: %s", record, error->GetMessage());
        }
        FUZZ_CHECK(back.GetSize() == static_cast<int>(bytes.size()) &&
                       std::equal(bytes.begin(), bytes.end(), back.GetData()),
                   "intact record %d of %zu bytes read back as %d other bytes", record, bytes.size(),
                   back.GetSize());
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
    std::map<int, std::vector<unsigned char>> live;  // record -> the bytes written
    for (int i = 0; i < recordCount; ++i) {
        const int length = static_cast<int>(input.Word() % (4u * pageSize)) + 1;
        std::vector<unsigned char> bytes = pattern(length, i);
        records.push_back(store.WriteRecord(bytes.data(), length));
        live[records.back()] = std::move(bytes);
    }
    if (flags & 4 && recordCount > 1) {
        store.FreeRecord(records[1]);  // nothing is damaged yet: this must work
        live.erase(records[1]);
    }
    const int bent = flags & 8 ? bendLink(store, pageSize, records, input) : 0;
    // Random damage may hit any record's data, which the store cannot tell.
    if (damage(store, input)) live.clear();

    Tolm::CArray<unsigned char> out;
    for (const int record : records) {
        checkIntact(store, live, bent);
        tolerate([&] { store.ReadRecord(record, out); });
        if (tolerate([&] { store.FreeRecord(record); })) live.erase(record);
        tolerate([&] { store.ReadRecord(record, out); });
    }
    while (!input.AtEnd()) {
        const int record = static_cast<signed char>(input.Byte());
        tolerate([&] { store.ReadRecord(record, out); });
        if (tolerate([&] { store.FreeRecord(record); })) live.erase(record);
    }
    checkIntact(store, live, bent);

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
