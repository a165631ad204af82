#include <Korvan/FileDataStorage.h>

#include "Report.h"

#include <Tolm/Error.h>

#include <climits>
#include <cstring>
#include <string>
#include <utility>

// Design notes on the record store.
//
// The temporary file is an array of page slots of pageSize bytes; slot n starts
// at n * pageSize (64-bit). A page is a 12-byte header and its data:
//
//     offset 0  next page    number of the record's next page, -1 on its last
//     offset 4  used size    record bytes in this page, 1..pageDataSize
//     offset 8  record size  the record's stored length on its first page, -1 elsewhere
//     offset 12 data         used-size bytes; the rest of the slot is never written
//
// A record number is the number of the record's first page. The store keeps
// these invariants:
//
//   (1) Slot 0 is never written: page numbers start at 1.
//   (2) Every page of a record but its last is full (used size = pageDataSize),
//       so byte i of a record lives in the chain's page i / pageDataSize.
//   (3) Only a record's first page carries the record size; the others carry -1.
//   (4) The file never shrinks: a refill lengthens it by five slots from its
//       current length, and page writes past its end lengthen it further.
//       Freed slots keep their old bytes.
//   (5) Freed pages come back last in, first out. A refill pushes five new
//       numbers in increasing order, so a new store hands out 5, 4, 3, 2, 1,
//       then 10 .. 6; a freed chain a, b, c is pushed in chain order and is
//       reused as c, b, a.
//   (6) Every page number from 1 to allocatedPagesCount is either on the free
//       stack or in exactly one live record's chain (between operations; a
//       write holds the pages it has taken until it ends).
//   (7) The store remembers in memory, not in the file, which live record owns
//       each page (pageOwners, 0 for a free page); a record number is live when
//       its page owns itself. A chain read from the file may only pass through
//       pages that its own record owns, and never back to its first page, so a
//       damaged link can neither free nor read another record's pages.
//
// The file is private to the store and lives no longer than it, but its bytes
// are still checked when read (used sizes, next pages, record sizes, chain
// length), so that a damaged page raises an error instead of writing past a
// buffer or looping.
//
// Failure part-way, per operation:
//   - WriteRecord: the pages it took go back on the free stack in the order
//     that they left it, so the next write takes the same pages; pages that a
//     refill added stay free; storedDataSize is unchanged; the file may hold
//     partly written pages in those free slots and be longer. The record
//     number is never returned.
//   - ReadRecord: the output array keeps its previous content.
//   - FreeRecord: the whole chain is read and checked before anything changes,
//     so a failure frees nothing.
//   - Compression and decompression always leave the toolkit streams reset and
//     the source stream holding no array.
//   - The file layer buffers writes: a system write may fail in a later call
//     than the one that made the bytes (at the latest when the file is closed).

namespace Korvan {

namespace {

constexpr int kChunkBytes = 4096;

// storedDataSize is 32 bits: keep its arithmetic defined past 2 GiB of live data.
int addWrapping(int a, int b) noexcept {
    return static_cast<int>(static_cast<std::uint32_t>(a) + static_cast<std::uint32_t>(b));
}

std::string pathOf(const Tolm::CUnicodeString& fileName) { return fileName.ToUtf8(); }

[[noreturn]] void throwDamagedPage(const Tolm::CUnicodeString& fileName, int record, int page,
                                   const std::string& what) {
    std::string message = "damaged page " + std::to_string(page);
    if (record > 0) message += " of record " + std::to_string(record);
    message += " in record store file '" + pathOf(fileName) + "': " + what;
    Tolm::ThrowFileError(message, 0);
}

// A page must hold its header and a byte, and a refill's pageSize * 5 must
// stay a 32-bit number.
int checkedPageSize(int pageSize) {
    if (pageSize < CFileDataStorage::kMinPageSize || pageSize > CFileDataStorage::kMaxPageSize) {
        Tolm::ThrowArgumentError("record store page size " + std::to_string(pageSize) + " is outside " +
                                 std::to_string(CFileDataStorage::kMinPageSize) + ".." +
                                 std::to_string(CFileDataStorage::kMaxPageSize));
    }
    return pageSize;
}

}  // namespace

// --- CArrayReadStream -------------------------------------------------------

CArrayReadStream::~CArrayReadStream() = default;

void CArrayReadStream::Reset() { position = 0; }

int CArrayReadStream::Read(void* target, int count) {
    if (buffer == nullptr) {
        KORVAN_REPORT_BROKEN_PRECONDITION();
        return 0;
    }
    if (count <= 0) return 0;
    const int n = count < size - position ? count : size - position;
    std::memcpy(target, buffer + position, static_cast<std::size_t>(n));
    position += n;
    return n;
}

int CArrayReadStream::Skip(int count) {
    if (count <= 0) return 0;
    const int n = count < size - position ? count : size - position;
    position += n;
    return n;
}

Tolm::CUnicodeString CArrayReadStream::GetName() const { return u"CArrayReadStream"; }

void CArrayReadStream::SetArray(const unsigned char* bytes, int count) noexcept {
    buffer = bytes;
    size = bytes != nullptr && count > 0 ? count : 0;
    position = 0;
}

// --- Pages ------------------------------------------------------------------

CFileDataStorage::CPage::~CPage() = default;

// --- Construction -----------------------------------------------------------

CFileDataStorage::CFileDataStorage(int requestedPageSize, bool compress)
    : pageSize(checkedPageSize(requestedPageSize)),
      pageDataSize(pageSize - kPageHeaderSize),
      useCompression(compress),
      pagesPerGrowth(kPagesPerGrowth),
      allocatedPagesCount(0),
      storedDataSize(0) {
    if (!useCompression) return;

    const Tolm::CPtr<Tolm::IObject> object = Tolm::DoCreateObject(u"Image.StreamsToolkit");
    Image::IStreamsToolkit* toolkit = dynamic_cast<Image::IStreamsToolkit*>(object.Get());
    if (toolkit == nullptr) {
        KORVAN_REPORT_BROKEN_PRECONDITION();
        Tolm::ThrowArgumentError("'Image.StreamsToolkit' gives no stream toolkit for a compressing store");
    }
    sourceStream = new CArrayReadStream;
    decompressStream = toolkit->CreateDecompressingStream(sourceStream.Get());
    compressStream = toolkit->CreateCompressingStream(sourceStream.Get());
}

CFileDataStorage::~CFileDataStorage() {
    if (file) {
        try {
            file->Close();
        } catch (Tolm::CException* error) {
            error->Delete();
        }
        file.reset();
    }
    if (!fileName.IsEmpty()) {
        try {
            Tolm::TempFile::Delete(fileName);
        } catch (Tolm::CException* error) {
            error->Delete();
        }
    }
    sourceStream.Reset();
    decompressStream.Reset();
    compressStream.Reset();
    freePages.FreeMemory();
    fileName.Empty();
}

// --- Page file --------------------------------------------------------------

void CFileDataStorage::initFile() {
    if (file) return;
    const Tolm::CUnicodeString name = Tolm::TempFile::New(u"fileChunksFile", u"tmp");
    try {
        file = std::make_unique<Tolm::CFile>(name, unsigned{Tolm::CFile::kNewReadWrite});
        // Nameless, the file lives only while it is open: none outlives its
        // process, however the process ends. The destructor's delete then
        // finds no file and goes on.
        Tolm::TempFile::RemoveName(name);
    } catch (...) {
        file.reset();
        // Do not leave a stray temporary file behind for every failed attempt.
        try {
            Tolm::TempFile::Delete(name);
        } catch (Tolm::CException* error) {
            error->Delete();
        }
        throw;
    }
    fileName = name;
}

std::int64_t CFileDataStorage::getPageStart(int page) const {
    return static_cast<std::int64_t>(page) * pageSize;
}

Tolm::CFile& CFileDataStorage::openFile() const {
    if (!file) {
        KORVAN_REPORT_BROKEN_PRECONDITION();
        Tolm::ThrowArgumentError("the record store has no file yet: nothing was written to it");
    }
    return *file;
}

Tolm::CPtr<CFileDataStorage::CPage> CFileDataStorage::loadPageHeader(int page) {
    Tolm::CPtr<CPage> result = new CPage;
    readPageHeader(page, *result);
    return result;
}

void CFileDataStorage::readPageHeader(int page, CPage& into) {
    Tolm::CFile& f = openFile();
    f.Seek(getPageStart(page), Tolm::CBaseFile::begin);
    into.nextPage = static_cast<int>(f.ReadDWord());
    into.usedSize = static_cast<int>(f.ReadDWord());
    into.recordSize = static_cast<int>(f.ReadDWord());
    into.index = page;
}

// The single-page forms of what the record operations do for whole chains
// (walkChain, WriteRecord): a page with its data, and the page that follows.
Tolm::CPtr<CFileDataStorage::CPage> CFileDataStorage::loadPage(int page) {
    Tolm::CPtr<CPage> result = loadPageHeader(page);
    if (result->usedSize < 0 || result->usedSize > pageDataSize) {
        throwDamagedPage(fileName, -1, page,
                         "used size " + std::to_string(result->usedSize) + " is outside 1.." +
                             std::to_string(pageDataSize));
    }
    if (result->nextPage != -1 && !isHandedOutPage(result->nextPage)) {
        throwDamagedPage(fileName, -1, page,
                         "next page " + std::to_string(result->nextPage) + " was never handed out");
    }
    result->data.SetSize(pageDataSize);
    readPageData(result.Get(), result->data.GetData());
    if (result->usedSize == 0) KORVAN_REPORT_BROKEN_PRECONDITION();
    return result;
}

// Reads the page's used-size data bytes; the file must stand just past the
// page's header.
void CFileDataStorage::readPageData(const CPage* page, unsigned char* target) {
    const int got = file->Read(target, page->usedSize);
    if (got != page->usedSize) {
        Tolm::ThrowFileError("page " + std::to_string(page->index) + " of record store file '" +
                                 pathOf(fileName) + "' is cut short: " + std::to_string(got) + " of " +
                                 std::to_string(page->usedSize) + " data bytes are there",
                             0);
    }
}

void CFileDataStorage::writePage(const CPage* page) {
    if (page == nullptr) {
        KORVAN_REPORT_BROKEN_PRECONDITION();
        return;
    }
    if (page->usedSize > page->data.GetSize()) {
        KORVAN_REPORT_BROKEN_PRECONDITION();
        return;
    }
    writePageFrom(page, page->data.IsEmpty() ? nullptr : page->data.GetData());
}

void CFileDataStorage::writePageFrom(const CPage* page, const unsigned char* bytes) {
    if (page == nullptr) {
        KORVAN_REPORT_BROKEN_PRECONDITION();
        return;
    }
    if (page->index == page->nextPage) {
        KORVAN_REPORT_BROKEN_PRECONDITION();
        return;
    }
    if (page->usedSize < 0 || page->usedSize > pageDataSize || (bytes == nullptr && page->usedSize > 0)) {
        KORVAN_REPORT_BROKEN_PRECONDITION();
        return;
    }
    Tolm::CFile& f = openFile();
    f.Seek(getPageStart(page->index), Tolm::CBaseFile::begin);
    f.WriteDWord(static_cast<std::uint32_t>(page->nextPage));
    f.WriteDWord(static_cast<std::uint32_t>(page->usedSize));
    f.WriteDWord(static_cast<std::uint32_t>(page->recordSize));
    f.Write(bytes, page->usedSize);
}

// --- Free-page management ---------------------------------------------------

void CFileDataStorage::allocateFreePages() {
    Tolm::CFile& f = openFile();
    if (allocatedPagesCount > INT_MAX - pagesPerGrowth) {
        Tolm::ThrowFileError("record store file '" + pathOf(fileName) + "' is full: all " +
                                 std::to_string(allocatedPagesCount) + " page numbers are in use",
                             0);
    }
    // Everything that can fail for memory comes first, so that a failure
    // leaves the stack and the counter as they were.
    const int newCount = allocatedPagesCount + pagesPerGrowth;
    if (pageOwners.GetSize() <= newCount) pageOwners.SetSize(newCount + 1);
    freePages.Reserve(freePages.GetSize() + pagesPerGrowth);

    const std::int64_t length = f.GetLength();
    f.SetLength(length + static_cast<std::int64_t>(pageSize * pagesPerGrowth));
    for (int i = 0; i < pagesPerGrowth; ++i) {
        ++allocatedPagesCount;
        freePages.Add(allocatedPagesCount);
    }
}

int CFileDataStorage::takeFreePageNumber() {
    if (freePages.IsEmpty()) allocateFreePages();
    if (freePages.IsEmpty()) {
        KORVAN_REPORT_BROKEN_PRECONDITION();
        Tolm::ThrowArgumentError("the record store's refill added no free page");
    }
    const int page = freePages.GetLast();
    freePages.RemoveLast();
    return page;
}

Tolm::CPtr<CFileDataStorage::CPage> CFileDataStorage::getFreePage() {
    Tolm::CPtr<CPage> page = new CPage;
    page->data.SetSize(pageDataSize);
    page->index = takeFreePageNumber();
    return page;
}

Tolm::CPtr<CFileDataStorage::CPage> CFileDataStorage::allocateNextFreePage(CPage* previous) {
    Tolm::CPtr<CPage> page = getFreePage();
    previous->nextPage = page->index;
    return page;
}

// Pushes pages back in reverse of the order given, so that pages taken in
// that order leave the stack as they were before they were taken.
void CFileDataStorage::returnPages(const int* pages, int count) {
    for (int i = count - 1; i >= 0; --i) freePages.Add(pages[i]);
}

bool CFileDataStorage::isHandedOutPage(int page) const noexcept {
    return page >= 1 && page <= allocatedPagesCount;
}

// For the message about a refused link: what the page is.
std::string CFileDataStorage::describeOwner(int page) const {
    if (!isHandedOutPage(page)) return "never handed out";
    const int owner = pageOwners[page];
    if (owner == 0) return "a free page";
    if (owner == page) return "the first page of record " + std::to_string(owner);
    return "a page of record " + std::to_string(owner);
}

// --- Record operations ------------------------------------------------------

void CFileDataStorage::checkLiveRecord(int record, const char* operation) const {
    if (!isHandedOutPage(record)) {
        Tolm::ThrowArgumentError(std::string("cannot ") + operation + " record " + std::to_string(record) +
                                 ": the record store has handed out record numbers 1.." +
                                 std::to_string(allocatedPagesCount) + " only");
    }
    if (pageOwners[record] != record) {
        Tolm::ThrowArgumentError(std::string("cannot ") + operation + " record " + std::to_string(record) +
                                 ": it is not a live record of the store (never written, or already freed)");
    }
}

// Follows the chain of a live record, checking every header against the
// invariants before trusting it. Gathers the pages' numbers into chain and/or
// their data into data (sized to the record's stored length); returns that
// length. Throws a file error naming the record and page on the first header
// that breaks an invariant; the bound on the chain's length (from the record
// size) keeps a cycle from looping. This is loadPage for every page of a
// chain, with the checks only a chain can make, and without its copy: one
// page object serves the walk and the data goes straight to the output.
int CFileDataStorage::walkChain(int record, Tolm::CFastArray<int, 16>* chain,
                                Tolm::CArray<unsigned char>* data) {
    const Tolm::CPtr<CPage> page = loadPageHeader(record);
    const int recordSize = page->recordSize;
    const std::int64_t pagesInUse = static_cast<std::int64_t>(allocatedPagesCount) - freePages.GetSize();
    const std::int64_t maxRecordSize = pagesInUse * pageDataSize;
    if (recordSize < 1 || recordSize > maxRecordSize) {
        throwDamagedPage(fileName, record, record,
                         "record size " + std::to_string(recordSize) + " is outside 1.." +
                             std::to_string(maxRecordSize < INT_MAX ? maxRecordSize : INT_MAX));
    }
    const int pageCount = (recordSize - 1) / pageDataSize + 1;
    if (chain != nullptr) chain->Reserve(pageCount);
    // Every byte is written below, page by page; on a failure part-way the
    // caller drops the array.
    if (data != nullptr) data->SetSizeForOverwrite(recordSize);

    for (int place = 0;; ++place) {
        const bool isLastPage = place == pageCount - 1;
        const int expectedUsed = isLastPage ? recordSize - place * pageDataSize : pageDataSize;
        if (page->usedSize != expectedUsed) {
            if (page->usedSize == 0 && data != nullptr) KORVAN_REPORT_BROKEN_PRECONDITION();
            throwDamagedPage(fileName, record, page->index,
                             "used size " + std::to_string(page->usedSize) + " where page " +
                                 std::to_string(place + 1) + " of " + std::to_string(pageCount) +
                                 " must hold " + std::to_string(expectedUsed));
        }
        if (place > 0 && page->recordSize != -1) {
            throwDamagedPage(fileName, record, page->index,
                             "record size " + std::to_string(page->recordSize) +
                                 " on a page that is not the record's first");
        }
        const int next = page->nextPage;
        if (isLastPage && next != -1) {
            throwDamagedPage(fileName, record, page->index,
                             "the chain goes on to page " + std::to_string(next) + " beyond the " +
                                 std::to_string(pageCount) + " pages that record size " +
                                 std::to_string(recordSize) + " needs");
        }
        if (!isLastPage && (!isHandedOutPage(next) || next == record || pageOwners[next] != record)) {
            throwDamagedPage(fileName, record, page->index,
                             "next page " + std::to_string(next) + " is not a later page of this record (" +
                                 describeOwner(next) + ")");
        }
        if (chain != nullptr) chain->Add(page->index);
        if (data != nullptr) readPageData(page.Get(), data->GetData() + place * pageDataSize);
        if (isLastPage) return recordSize;

        readPageHeader(next, *page);
    }
}

int CFileDataStorage::WriteRecord(const unsigned char* data, int length) {
    if (length <= 0 || data == nullptr) {
        KORVAN_REPORT_BROKEN_PRECONDITION();
        return -1;
    }
    initFile();

    Tolm::CArray<unsigned char> compressed;
    const unsigned char* stored = data;
    int storedLength = length;
    if (useCompression) {
        compressData(data, length, compressed);
        stored = compressed.GetData();
        storedLength = compressed.GetSize();
        if (storedLength == 0) {
            Tolm::ThrowArchiveError("compressing a record of " + std::to_string(length) +
                                    " bytes gave no bytes to store");
        }
    }

    const int pageCount = (storedLength - 1) / pageDataSize + 1;
    // Reserved up front so that neither taking pages nor giving them back on
    // failure needs memory half-way.
    Tolm::CFastArray<int, 16> taken;
    taken.Reserve(pageCount);
    freePages.Reserve(freePages.GetSize() + pageCount + pagesPerGrowth);

    // allocateNextFreePage's steps, without a page object and a copy of the
    // data for every page: two page objects serve the whole chain, a page is
    // written from the caller's bytes as soon as its successor's number is
    // known, and its object then carries the next page.
    Tolm::CPtr<CPage> current = new CPage;
    Tolm::CPtr<CPage> following = new CPage;
    try {
        current->index = takeFreePageNumber();
        taken.Add(current->index);
        current->recordSize = storedLength;
        int offset = 0;
        current->usedSize = storedLength < pageDataSize ? storedLength : pageDataSize;
        while (offset + current->usedSize < storedLength) {
            const int remaining = storedLength - offset - current->usedSize;
            following->index = takeFreePageNumber();
            taken.Add(following->index);
            following->recordSize = -1;
            following->nextPage = -1;
            following->usedSize = remaining < pageDataSize ? remaining : pageDataSize;
            current->nextPage = following->index;
            writePageFrom(current.Get(), stored + offset);
            offset += current->usedSize;
            std::swap(current, following);
        }
        current->nextPage = -1;
        writePageFrom(current.Get(), stored + offset);
    } catch (...) {
        returnPages(taken.GetData(), taken.GetSize());
        throw;
    }

    const int record = taken[0];
    for (int i = 0; i < taken.GetSize(); ++i) pageOwners[taken[i]] = record;
    storedDataSize = addWrapping(storedDataSize, storedLength);
    return record;
}

void CFileDataStorage::ReadRecord(int record,
                                  Tolm::CArray<unsigned char, Tolm::CurrentMemoryManager>& output) {
    checkLiveRecord(record, "read");
    Tolm::CArray<unsigned char> stored;
    walkChain(record, nullptr, &stored);
    if (!useCompression) {
        output = std::move(stored);
        return;
    }
    const int sizeBefore = output.GetSize();
    try {
        decompressData(stored.GetData(), stored.GetSize(), output);
    } catch (...) {
        output.SetSize(sizeBefore);
        throw;
    }
}

void CFileDataStorage::FreeRecord(int record) {
    checkLiveRecord(record, "free");
    Tolm::CFastArray<int, 16> chain;
    const int recordSize = walkChain(record, &chain, nullptr);
    freePages.Reserve(freePages.GetSize() + chain.GetSize());

    storedDataSize = addWrapping(storedDataSize, -recordSize);
    for (int i = 0; i < chain.GetSize(); ++i) {
        freePages.Add(chain[i]);
        pageOwners[chain[i]] = 0;
    }
}

// --- Compression ------------------------------------------------------------

void CFileDataStorage::compressData(const unsigned char* bytes, int count,
                                    Tolm::CArray<unsigned char>& output) {
    pumpStream(*compressStream, bytes, count, output);
}

void CFileDataStorage::decompressData(const unsigned char* bytes, int count,
                                      Tolm::CArray<unsigned char>& output) {
    pumpStream(*decompressStream, bytes, count, output);
}

// Appends everything the stream delivers for the bytes to output. The end is
// the first read that delivers fewer than the chunk asked for. The streams are
// reset afterwards even on failure, so that a failed pass cannot leak its
// state into the next record.
void CFileDataStorage::pumpStream(Image::CReadImageStream& stream, const unsigned char* bytes, int count,
                                  Tolm::CArray<unsigned char>& output) {
    if (bytes == nullptr) {
        KORVAN_REPORT_BROKEN_PRECONDITION();
        return;
    }
    sourceStream->SetArray(bytes, count);
    try {
        for (;;) {
            const int size = output.GetSize();
            const int room = outputRoom(size);
            if (room == 0) {
                checkStreamEnded(stream);
                break;
            }
            output.SetSize(size + room);
            const int got = stream.Read(output.GetData() + size, room);
            output.SetSize(size + (got > 0 ? got : 0));
            if (got != room) break;
        }
    } catch (...) {
        resetCompressStreams();
        throw;
    }
    resetCompressStreams();
}

// An array holds at most INT_MAX bytes: near that bound the reads ask for
// only what still fits, so that an output of exactly INT_MAX bytes can be
// held and nothing is added past it.
int CFileDataStorage::outputRoom(int size) noexcept {
    return size <= INT_MAX - kChunkBytes ? kChunkBytes : INT_MAX - size;
}

// For an output that has no room left: a stream that still delivers a byte
// makes a record larger than the store can hold.
void CFileDataStorage::checkStreamEnded(Image::CReadImageStream& stream) {
    unsigned char extra = 0;
    if (stream.Read(&extra, 1) > 0) {
        Tolm::ThrowArchiveError("stream '" + stream.GetName().ToUtf8() + "' gives a record of more than " +
                                std::to_string(INT_MAX) + " bytes, more than the record store can hold");
    }
}

void CFileDataStorage::resetCompressStreams() {
    compressStream->Reset();
    decompressStream->Reset();
    sourceStream->SetArray(nullptr, 0);
}

}  // namespace Korvan
