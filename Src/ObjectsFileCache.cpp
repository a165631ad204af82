#include <Korvan/ObjectsFileCache.h>

#include "Report.h"

#include <Tolm/Archive.h>
#include <Tolm/Array.h>
#include <Tolm/Error.h>
#include <Tolm/File.h>

#include <climits>
#include <string>

namespace Korvan {

namespace {
constexpr int kMemoryFileGrowStep = 1024;
constexpr int kLoadArchiveBufferSize = 4096;
}  // namespace

CObjectsFileCache::CObjectsFileCache(int pageBytes, int archiveBytes, bool compress)
    : CFileDataStorage(pageBytes, compress), archiveBufferSize(archiveBytes) {}

CObjectsFileCache::~CObjectsFileCache() = default;

int CObjectsFileCache::Save(Tolm::IObject* object) {
    if (object == nullptr) {
        KORVAN_REPORT_BROKEN_PRECONDITION();
        return -1;
    }
    Tolm::CMemoryFile memory(kMemoryFileGrowStep);
    {
        Tolm::CArchive archive(&memory, Tolm::CArchive::store, archiveBufferSize);
        archive.WriteObject(object);
        // Close, not the destructor, so that a failed flush is seen.
        archive.Close();
    }
    const std::uint32_t length = memory.GetLength32();
    if (length > static_cast<std::uint32_t>(INT_MAX)) {
        Tolm::ThrowArgumentError("a serialised object of " + std::to_string(length) +
                                 " bytes is too large for one record");
    }
    return WriteRecord(memory.GetData(), static_cast<int>(length));
}

Tolm::CPtr<Tolm::IObject> CObjectsFileCache::Load(int record) {
    Tolm::CArray<unsigned char> bytes;
    ReadRecord(record, bytes);

    Tolm::CMemoryFile memory(kMemoryFileGrowStep);
    memory.Write(bytes.IsEmpty() ? nullptr : bytes.GetData(), bytes.GetSize());
    memory.SeekToBegin();
    Tolm::CPtr<Tolm::IObject> object;
    {
        Tolm::CArchive archive(&memory, Tolm::CArchive::load, kLoadArchiveBufferSize);
        object = archive.ReadObject();
    }
    // Only now that the object stands is the record given up: a failed rebuild
    // keeps it, and the caller may try again.
    FreeRecord(record);
    return object;
}

}  // namespace Korvan
