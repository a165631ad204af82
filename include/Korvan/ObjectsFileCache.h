// The object cache: framework objects parked in serialised form in a record
// store and rebuilt once.
//
//     Korvan::CObjectsFileCache cache;              // 4096-byte pages, compressed
//     const int record = cache.Save(object.Get());  // 5 on a new cache
//     Tolm::CPtr<Tolm::IObject> back = cache.Load(record);  // the record is gone now
//
// Objects are written with a framework archive (so their classes must be
// serialisable and registered with the factory) into one record each. The
// cache is a record store and owns its temporary file; objects not loaded are
// lost with it. Load is destructive only when it succeeds: a failed rebuild
// leaves the record in place.
//
// A cache is used by one thread at a time.
#pragma once

#include <Korvan/Export.h>
#include <Korvan/FileDataStorage.h>
#include <Tolm/Object.h>

namespace Korvan {

class KORVAN_API CObjectsFileCache : public CFileDataStorage {
public:
    explicit CObjectsFileCache(int pageSize = 4096, int archiveBufferSize = 1024, bool useCompression = true);
    ~CObjectsFileCache() override;
    CObjectsFileCache(const CObjectsFileCache&) = delete;
    CObjectsFileCache& operator=(const CObjectsFileCache&) = delete;

    // Serialises the object into a new record and returns its number. A null
    // object is a broken precondition (and gives -1 when the report returns).
    int Save(Tolm::IObject* object);
    // Rebuilds the object saved under the number, then frees the record. A
    // number that is not a live record, a damaged record or a failed rebuild
    // throws, and the record stays as it was.
    Tolm::CPtr<Tolm::IObject> Load(int record);

    int GetArchiveBufferSize() const noexcept { return archiveBufferSize; }

private:
    int archiveBufferSize;
};

}  // namespace Korvan
