// Helpers shared by the record store and object cache tests: a look inside the
// store (pages, free stack, its file's bytes) and a recorder of broken
// precondition reports.
#pragma once

#include <Korvan/FileDataStorage.h>
#include <Tolm/Error.h>
#include <Tolm/File.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace Korvan {

struct FileDataStorageTestAccess {
    using CPage = CFileDataStorage::CPage;

    static void InitFile(CFileDataStorage& store) { store.initFile(); }
    static Tolm::CFile* File(CFileDataStorage& store) { return store.file.get(); }
    static const Tolm::CUnicodeString& FileName(const CFileDataStorage& store) { return store.fileName; }
    static int PageDataSize(const CFileDataStorage& store) { return store.pageDataSize; }
    static int AllocatedPagesCount(const CFileDataStorage& store) { return store.allocatedPagesCount; }
    static std::vector<int> FreePages(const CFileDataStorage& store) {
        return std::vector<int>(store.freePages.GetData(),
                                store.freePages.GetData() + store.freePages.GetSize());
    }
    static bool SourceHoldsArray(const CFileDataStorage& store) {
        return store.sourceStream && store.sourceStream->HasArray();
    }
    static bool HasStreams(const CFileDataStorage& store) {
        return store.sourceStream && store.compressStream && store.decompressStream;
    }
    static std::int64_t PageStart(const CFileDataStorage& store, int page) {
        return store.getPageStart(page);
    }
    static Tolm::CPtr<CPage> GetFreePage(CFileDataStorage& store) { return store.getFreePage(); }
    static Tolm::CPtr<CPage> AllocateNextFreePage(CFileDataStorage& store, CPage* previous) {
        return store.allocateNextFreePage(previous);
    }
    static Tolm::CPtr<CPage> LoadPage(CFileDataStorage& store, int page) { return store.loadPage(page); }
    static Tolm::CPtr<CPage> LoadPageHeader(CFileDataStorage& store, int page) {
        return store.loadPageHeader(page);
    }
    static void WritePage(CFileDataStorage& store, const CPage* page) { store.writePage(page); }
};

}  // namespace Korvan

namespace storetest {

using Access = Korvan::FileDataStorageTestAccess;

// Records broken precondition reports and lets the code after the check run.
class ReportRecorder {
public:
    ReportRecorder() {
        previous_ = Tolm::SetInternalErrorHandler(&ReportRecorder::record);
        reports().clear();
    }
    ~ReportRecorder() { Tolm::SetInternalErrorHandler(previous_); }
    ReportRecorder(const ReportRecorder&) = delete;
    ReportRecorder& operator=(const ReportRecorder&) = delete;

    int CountFrom(const std::string& file) const {
        int count = 0;
        for (const Tolm::InternalErrorReport& report : reports()) count += report.file == file ? 1 : 0;
        return count;
    }
    int Count() const { return static_cast<int>(reports().size()); }

private:
    static std::vector<Tolm::InternalErrorReport>& reports() {
        static std::vector<Tolm::InternalErrorReport> all;
        return all;
    }
    static bool record(const Tolm::InternalErrorReport& report) {
        reports().push_back(report);
        return false;
    }
    Tolm::InternalErrorHandler previous_;
};

// Runs the call and returns the framework exception it throws (kind and
// message), failing the test when it throws none.
struct Caught {
    bool thrown = false;
    Tolm::CException::Kind kind = Tolm::CException::Kind::internal;
    std::string message;
    int systemError = 0;
};

template <class Call>
Caught Catch(Call&& call) {
    Caught caught;
    try {
        call();
    } catch (Tolm::CException* error) {
        caught.thrown = true;
        caught.kind = error->GetKind();
        caught.message = error->GetMessage();
        caught.systemError = error->GetSystemError();
        error->Delete();
    }
    return caught;
}

// The store's file as it stands on disk, after its buffer is written out.
inline std::vector<unsigned char> FileBytes(Korvan::CFileDataStorage& store) {
    Access::File(store)->Flush();
    std::ifstream in(Tolm::ToNativePath(Access::FileName(store)), std::ios::binary);
    return std::vector<unsigned char>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline std::int32_t DWordAt(const std::vector<unsigned char>& bytes, std::int64_t offset) {
    const auto at = static_cast<std::size_t>(offset);
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(bytes.at(at)) |
                                     static_cast<std::uint32_t>(bytes.at(at + 1)) << 8 |
                                     static_cast<std::uint32_t>(bytes.at(at + 2)) << 16 |
                                     static_cast<std::uint32_t>(bytes.at(at + 3)) << 24);
}

// Overwrites one 32-bit header field of a page in the store's file: 0 next
// page, 1 used size, 2 record size.
inline void DamageHeader(Korvan::CFileDataStorage& store, int page, int field, std::int32_t value) {
    Tolm::CFile& file = *Access::File(store);
    file.Seek(Access::PageStart(store, page) + 4 * field, Tolm::CBaseFile::begin);
    file.WriteDWord(static_cast<std::uint32_t>(value));
}

// Bytes that compress like a PDF page: text operators with a run of binary
// data now and then. Deterministic for a seed.
inline std::vector<unsigned char> PdfLikeBytes(std::size_t count, std::uint32_t seed) {
    static const std::string kText =
        "BT /F1 12 Tf 72 712 Td (Hello, record store) Tj ET\nq 1 0 0 1 0 0 cm Q\n";
    std::vector<unsigned char> bytes(count);
    std::uint32_t state = seed * 2654435761u + 1;
    for (std::size_t i = 0; i < count; ++i) {
        state = state * 1664525u + 1013904223u;
        const bool binary = (i / 256) % 8 == seed % 8;  // one block of 256 in 8
        bytes[i] = binary ? static_cast<unsigned char>(state >> 24)
                          : static_cast<unsigned char>(kText[i % kText.size()]);
    }
    return bytes;
}

}  // namespace storetest
