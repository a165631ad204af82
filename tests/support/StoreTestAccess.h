// A look inside the record store for its tests and its fuzz target: its file,
// free stack and pages. The store befriends this name.
#pragma once

#include <Korvan/FileDataStorage.h>
#include <Tolm/File.h>

#include <vector>

namespace Korvan {

// A look inside the store: its file, free stack and pages.
struct FileDataStorageTestAccess {
    // The store's own handle. The store forgets what the file lent it, as at
    // any call of its own on the file: a test that writes through the handle
    // after a read of the store's asks for it again.
    static Tolm::CFile* File(CFileDataStorage& store) {
        store.lastLent = {};
        store.keptViews = {};
        return store.file.get();
    }
    static const Tolm::CUnicodeString& FileName(const CFileDataStorage& store) { return store.fileName; }
    static int AllocatedPagesCount(const CFileDataStorage& store) { return store.allocatedPagesCount; }
    static std::vector<int> FreePages(const CFileDataStorage& store) {
        return {store.freePages.GetData(), store.freePages.GetData() + store.freePages.GetSize()};
    }
    static bool SourceHoldsArray(const CFileDataStorage& store) {
        return store.sourceStream && store.sourceStream->HasArray();
    }
    static int OutputRoom(int size) { return CFileDataStorage::outputRoom(size); }
    static void CheckStreamEnded(Image::CReadImageStream& stream) {
        CFileDataStorage::checkStreamEnded(stream);
    }
    // Writes a page of `used` bytes at slot `index`, however far past the file's end.
    static void WritePageAt(CFileDataStorage& store, int index, int used) {
        store.initFile();
        const std::vector<unsigned char> data(static_cast<std::size_t>(used), 0xA5);
        CFileDataStorage::CPage page;
        page.index = index;
        page.usedSize = used;
        page.data = data.data();
        store.writePage(page);
    }
};

}  // namespace Korvan
