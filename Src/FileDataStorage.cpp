#include <Korvan/FileDataStorage.h>

#include "Report.h"

#include <Tolm/Error.h>
#include <Tolm/Memory.h>

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
// One page path: the record operations are built from loadPage,
// loadPageHeader, getFreePage, allocateNextFreePage and writePage, and every
// header read is checked in one place (checkPageHeader). A page copies
// nothing: a loaded page points at bytes the file lends (a view of the file
// or its write-back window, good until the next call on the file), a page
// being written at the caller's record; the only copy of a read is into the
// output, and of a write into the file.
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

// Bytes of a page still to be copied out (readChain).
struct PendingCopy {
    unsigned char* target = nullptr;
    const unsigned char* source = nullptr;
    int count = 0;
    void finish() noexcept {
        if (count > 0) Tolm::CopyBytes(target, source, static_cast<std::size_t>(count));
    }
};
// Pages with fewer data bytes are copied whole: there is little to overlap
// with the wait for the next header.
constexpr int kSplitCopyBytes = 1024;

// A header word: 32 bits, little-endian, as CBaseFile::WriteDWord puts them.
int loadHeaderWord(const unsigned char* bytes) noexcept {
    return static_cast<int>(std::uint32_t{bytes[0]} | std::uint32_t{bytes[1]} << 8 |
                            std::uint32_t{bytes[2]} << 16 | std::uint32_t{bytes[3]} << 24);
}

void storeHeaderWord(int value, unsigned char* bytes) noexcept {
    const auto word = static_cast<std::uint32_t>(value);
    for (int i = 0; i < 4; ++i) bytes[i] = static_cast<unsigned char>(word >> (8 * i));
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

// The file for any call but a lend: that call may write what was lent or let
// it go, so the store forgets every lend it kept.
Tolm::CFile& CFileDataStorage::openFile() {
    lastLent = LentRange{};
    keptViews = KeptViews{};
    return existingFile();
}

Tolm::CFile& CFileDataStorage::existingFile() const {
    if (!file) {
        KORVAN_REPORT_BROKEN_PRECONDITION();
        Tolm::ThrowArgumentError("the record store has no file yet: nothing was written to it");
    }
    return *file;
}

// Bytes of the file where they lie (a view, the write-back window), read
// into lendScratch only where they cannot be lent: a page is never copied
// into a page object of its own.
Tolm::CFile::LentBytes CFileDataStorage::lendBytes(std::int64_t offset, int count) {
    if (lastLent.holds(offset, count)) return {lastLent.bytes + (offset - lastLent.low), count};
    return lendFromFile(offset, count);
}

// A view lent earlier serves the bytes when one holds them; otherwise the
// file lends them, and a view it lends them from is kept.
Tolm::CFile::LentBytes CFileDataStorage::lendFromFile(std::int64_t offset, int count) {
    if (const LentRange* view = keptViews.holding(offset, count)) {
        lastLent = *view;
        return {view->bytes + (offset - view->low), count};
    }
    Tolm::CFile& f = existingFile();
    if (lendScratch.GetSize() < count) lendScratch.SetSizeForOverwrite(pageSize);
    const Tolm::CFile::LentBytes bytes = f.Lend(offset, count, lendScratch.GetData());
    lastLent = {bytes.bytes - bytes.before, offset - bytes.before, offset + bytes.count + bytes.after};
    keptViews.note(lastLent, bytes.isInView, f.ViewsLetGo());
    return bytes;
}

const CFileDataStorage::LentRange* CFileDataStorage::KeptViews::holding(std::int64_t offset,
                                                                        int count) const {
    for (const LentRange& view : views) {
        if (view.holds(offset, count)) return &view;
    }
    return nullptr;
}

// After a lend: the views kept are forgotten once the file let any go, and
// the lent range is kept when a view holds it (the oldest kept gives way).
void CFileDataStorage::KeptViews::note(const LentRange& lent, bool isInView, std::uint64_t viewsLetGo) {
    if (viewsLetGo != viewsLetGoWhenKept) {
        *this = KeptViews{};
        viewsLetGoWhenKept = viewsLetGo;
    }
    if (!isInView) return;
    views[next] = lent;
    next = (next + 1) % kKept;
}

// Where the whole of the page lies among the bytes lent last; null when it
// does not, and the file must be called on.
[[gnu::always_inline]] inline const unsigned char* CFileDataStorage::lentPage(int page) const {
    const std::int64_t start = getPageStart(page);
    return lastLent.holds(start, pageSize) ? lastLent.bytes + (start - lastLent.low) : nullptr;
}

// The processor starts fetching the page's header: the first page of a
// record while its owner is looked up, the next page of a chain while this
// one is copied.
[[gnu::always_inline]] inline void CFileDataStorage::prefetchPage(int page) const {
    if (const unsigned char* at = lentPage(page)) {
        __builtin_prefetch(at);
    } else {
        prefetchFromFile(page);
    }
}

void CFileDataStorage::prefetchFromFile(int page) const {
    const std::int64_t start = getPageStart(page);
    if (const LentRange* view = keptViews.holding(start, 1)) {
        __builtin_prefetch(view->bytes + (start - view->low));
    } else {
        file->Prefetch(start);
    }
}

// The page path below runs a few times per record read or freed, and a
// record of a few pages costs little more than its copy: each instruction on
// it delays the processor's start on the caller's next record. So a page
// whose bytes lie in what was lent last is loaded inline, and only the others
// take the calls on the file (loadPageHeaderFromFile, loadPageFromFile).

// The header at bytes, checked (checkPageHeader) before anything trusts it;
// withData for a page whose data is to be read. data stays null.
[[gnu::always_inline]] inline CFileDataStorage::CPage CFileDataStorage::readPageHeader(
    int page, const unsigned char* bytes, ChainPlace& where, bool withData) {
    CPage result;
    result.index = page;
    result.nextPage = loadHeaderWord(bytes);
    result.usedSize = loadHeaderWord(bytes + 4);
    result.recordSize = loadHeaderWord(bytes + 8);
    checkPageHeader(result, where, withData);
    return result;
}

// The header of the page at its place in the chain being walked, checked.
[[gnu::always_inline]] inline CFileDataStorage::CPage CFileDataStorage::loadPageHeader(int page,
                                                                                       ChainPlace& where,
                                                                                       bool withData) {
    if (const unsigned char* at = lentPage(page)) return readPageHeader(page, at, where, withData);
    return loadPageHeaderFromFile(page, where, withData);
}

[[gnu::noinline]] CFileDataStorage::CPage CFileDataStorage::loadPageHeaderFromFile(int page,
                                                                                   ChainPlace& where,
                                                                                   bool withData) {
    const Tolm::CFile::LentBytes lent = lendBytes(getPageStart(page), kPageHeaderSize);
    if (lent.count < kPageHeaderSize) throwShortHeader(page, lent.count, where);
    return readPageHeader(page, lent.bytes, where, withData);
}

// A checked header and its usedSize data bytes, lent by the file: they may be
// read until the store's next call on the file.
[[gnu::always_inline]] inline CFileDataStorage::CPage CFileDataStorage::loadPage(int page,
                                                                                 ChainPlace& where) {
    if (const unsigned char* at = lentPage(page)) {
        CPage result = readPageHeader(page, at, where, true);
        result.data = at + kPageHeaderSize;
        return result;
    }
    return loadPageFromFile(page, where);
}

// Past the first page the chain says how many bytes the page must hold, and
// header and data are lent in one piece; a header that says otherwise fails
// its check before its data is used.
[[gnu::noinline]] CFileDataStorage::CPage CFileDataStorage::loadPageFromFile(int page, ChainPlace& where) {
    const std::int64_t start = getPageStart(page);
    CPage result;
    if (where.place == 0) {
        result = loadPageHeaderFromFile(page, where, true);
        result.data = lendData(result, start + kPageHeaderSize);
        return result;
    }
    const bool isLastPage = where.place == where.pageCount - 1;
    const int expectedUsed = isLastPage ? where.recordSize - where.place * pageDataSize : pageDataSize;
    const Tolm::CFile::LentBytes lent = lendBytes(start, kPageHeaderSize + expectedUsed);
    if (lent.count < kPageHeaderSize) throwShortHeader(page, lent.count, where);
    result = readPageHeader(page, lent.bytes, where, true);
    if (lent.count < kPageHeaderSize + result.usedSize) {
        result.data = lendData(result, start + kPageHeaderSize);  // throws: the file ends inside the data
    } else {
        result.data = lent.bytes + kPageHeaderSize;
    }
    return result;
}

// The page's usedSize data bytes at offset, lent.
const unsigned char* CFileDataStorage::lendData(const CPage& page, std::int64_t offset) {
    const Tolm::CFile::LentBytes data = lendBytes(offset, page.usedSize);
    if (data.count != page.usedSize) throwCutPage(page, data.count);
    return data.bytes;
}

[[gnu::cold]] void CFileDataStorage::throwShortHeader(int page, int count, const ChainPlace& where) const {
    throwDamagedPage(fileName, where.record, page,
                     "the file ends inside its header, " + std::to_string(count) + " of " +
                         std::to_string(kPageHeaderSize) + " bytes are there");
}

[[gnu::cold]] void CFileDataStorage::throwCutPage(const CPage& page, int count) const {
    Tolm::ThrowFileError("page " + std::to_string(page.index) + " of record store file '" + pathOf(fileName) +
                             "' is cut short: " + std::to_string(count) + " of " +
                             std::to_string(page.usedSize) + " data bytes are there",
                         0);
}

// Every check of a page header, against invariants (2), (3) and (7): the
// first page's record size must fit the pages in use, every page its used
// size, only the first page may carry a record size, and a link may only lead
// on to a later page of the same record. The bound on the chain's length
// (from the record size) keeps a cycle from looping. On the first page it
// notes the record's size and page count in where. The checks are a few
// comparisons on every page read; the message is made only for a page that
// fails them (throwBadHeader).
[[gnu::always_inline]] inline void CFileDataStorage::checkPageHeader(const CPage& page, ChainPlace& where,
                                                                     bool withData) {
    if (where.place == 0) {
        const std::int64_t pagesInUse = static_cast<std::int64_t>(allocatedPagesCount) - freePages.GetSize();
        const std::int64_t maxRecordSize = pagesInUse * pageDataSize;
        if (page.recordSize < 1 || page.recordSize > maxRecordSize)
            throwBadHeader(page, where, HeaderFault::recordSize, maxRecordSize);
        where.recordSize = page.recordSize;
        where.pageCount = (page.recordSize - 1) / pageDataSize + 1;
    } else if (page.recordSize != -1) {
        throwBadHeader(page, where, HeaderFault::recordSizePastFirstPage, 0);
    }
    const bool isLastPage = where.place == where.pageCount - 1;
    const int expectedUsed = isLastPage ? where.recordSize - where.place * pageDataSize : pageDataSize;
    if (page.usedSize != expectedUsed) {
        // A loaded page whose used size is 0 is also a broken precondition.
        if (page.usedSize == 0 && withData) KORVAN_REPORT_BROKEN_PRECONDITION();
        throwBadHeader(page, where, HeaderFault::usedSize, expectedUsed);
    }
    const int next = page.nextPage;
    if (isLastPage && next != -1) throwBadHeader(page, where, HeaderFault::chainPastLastPage, 0);
    if (!isLastPage && (!isHandedOutPage(next) || next == where.record || pageOwners[next] != where.record))
        throwBadHeader(page, where, HeaderFault::foreignNextPage, 0);
}

// The message of a header that failed checkPageHeader; bound is the largest
// record size or the used size expected, for the faults that have one.
[[gnu::cold]] void CFileDataStorage::throwBadHeader(const CPage& page, const ChainPlace& where,
                                                    HeaderFault fault, std::int64_t bound) const {
    std::string what;
    switch (fault) {
        case HeaderFault::recordSize:
            what = "record size " + std::to_string(page.recordSize) + " is outside 1.." +
                   std::to_string(bound < INT_MAX ? bound : INT_MAX);
            break;
        case HeaderFault::recordSizePastFirstPage:
            what = "record size " + std::to_string(page.recordSize) +
                   " on a page that is not the record's first";
            break;
        case HeaderFault::usedSize:
            what = "used size " + std::to_string(page.usedSize) + " where page " +
                   std::to_string(where.place + 1) + " of " + std::to_string(where.pageCount) +
                   " must hold " + std::to_string(bound);
            break;
        case HeaderFault::chainPastLastPage:
            what = "the chain goes on to page " + std::to_string(page.nextPage) + " beyond the " +
                   std::to_string(where.pageCount) + " pages that record size " +
                   std::to_string(where.recordSize) + " needs";
            break;
        case HeaderFault::foreignNextPage:
            what = "next page " + std::to_string(page.nextPage) + " is not a later page of this record (" +
                   describeOwner(page.nextPage) + ")";
            break;
    }
    throwDamagedPage(fileName, where.record, page.index, what);
}

// One header write and one data write; the rest of the slot is never written.
void CFileDataStorage::writePage(const CPage& page) {
    if (page.index == page.nextPage) {
        KORVAN_REPORT_BROKEN_PRECONDITION();
        return;
    }
    if (page.usedSize < 0 || page.usedSize > pageDataSize || (page.data == nullptr && page.usedSize > 0)) {
        KORVAN_REPORT_BROKEN_PRECONDITION();
        return;
    }
    unsigned char header[kPageHeaderSize];
    storeHeaderWord(page.nextPage, header);
    storeHeaderWord(page.usedSize, header + 4);
    storeHeaderWord(page.recordSize, header + 8);
    Tolm::CFile& f = openFile();
    f.Seek(getPageStart(page.index), Tolm::CBaseFile::begin);
    f.Write(header, kPageHeaderSize);
    f.Write(page.data, page.usedSize);
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

// A page taken from the top of the free stack (refilled when empty), noted in
// chainPages; its data is for the caller to point at the bytes it will hold.
CFileDataStorage::CPage CFileDataStorage::getFreePage() {
    if (freePages.IsEmpty()) allocateFreePages();
    if (freePages.IsEmpty()) {
        KORVAN_REPORT_BROKEN_PRECONDITION();
        Tolm::ThrowArgumentError("the record store's refill added no free page");
    }
    chainPages.Reserve(chainPages.GetSize() + 1);  // before the page leaves the stack
    CPage page;
    page.index = freePages.GetLast();
    freePages.RemoveLast();
    chainPages.Add(page.index);
    return page;
}

// Links previous to the new page in memory only: previous is written after.
CFileDataStorage::CPage CFileDataStorage::allocateNextFreePage(CPage& previous) {
    CPage page = getFreePage();
    previous.nextPage = page.index;
    return page;
}

// Pushes the pages a failed write took back in reverse of the order taken,
// so that the stack is as it was before they were taken (refills aside).
// The room was reserved when the stack grew: nothing here can fail.
void CFileDataStorage::returnTakenPages() noexcept {
    for (int i = chainPages.GetSize() - 1; i >= 0; --i) freePages.Add(chainPages[i]);
    chainPages.RemoveAll();
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
    if (!isHandedOutPage(record) || pageOwners[record] != record) throwNotLive(record, operation);
}

[[gnu::cold]] void CFileDataStorage::throwNotLive(int record, const char* operation) const {
    if (!isHandedOutPage(record)) {
        Tolm::ThrowArgumentError(std::string("cannot ") + operation + " record " + std::to_string(record) +
                                 ": the record store has handed out record numbers 1.." +
                                 std::to_string(allocatedPagesCount) + " only");
    }
    Tolm::ThrowArgumentError(std::string("cannot ") + operation + " record " + std::to_string(record) +
                             ": it is not a live record of the store (never written, or already freed)");
}

// The stored bytes of a live record, copied page by page from where the file
// lends them straight into data, sized to the record's stored length (every
// byte is written, so it is not zeroed first). Returns that length. On a
// failure part-way data holds part of the record: the caller drops it.
//
// A page whose successor is loaded without a call on the file (a call could
// let this page's bytes go) is copied in two halves: the first while the
// successor's header is on its way, the second after it was loaded and
// checked. So the wait for each header is spent copying, and a read ends in
// copying, which the processor carries on with while it starts on the
// caller's next call. Random reads of 4 KiB records went from 0.72 to 0.85
// of the layout model's rate with it (in one process); deferring a quarter
// or three quarters of the page gained less. Where the copy is the
// processor's string move (Tolm::CopyBytesSplitsCheaply), the halves made
// reads slower (Wine, 32-bit: from 7,500 to 6,200 MB/s), and pages are
// copied whole.
int CFileDataStorage::readChain(int record, Tolm::CArray<unsigned char>& data) {
    ChainPlace where{record};
    CPage page = loadPage(record, where);
    data.SetSizeForOverwrite(where.recordSize);
    unsigned char* target = data.GetData();
    PendingCopy secondHalf;  // of the page before
    while (page.nextPage != -1) {
        prefetchPage(page.nextPage);
        secondHalf.finish();
        const int now = splitsPageCopies && lentPage(page.nextPage) && page.usedSize >= kSplitCopyBytes
                            ? page.usedSize / 2
                            : page.usedSize;
        Tolm::CopyBytes(target, page.data, static_cast<std::size_t>(now));
        secondHalf = {target + now, page.data + now, page.usedSize - now};
        target += page.usedSize;
        ++where.place;
        page = loadPage(page.nextPage, where);
    }
    Tolm::CopyBytes(target, page.data, static_cast<std::size_t>(page.usedSize));
    secondHalf.finish();
    return where.recordSize;
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

    // Reserved up front so that giving pages back on failure needs no memory.
    const int pageCount = (storedLength - 1) / pageDataSize + 1;
    chainPages.RemoveAll();
    chainPages.Reserve(pageCount);
    freePages.Reserve(freePages.GetSize() + pageCount + pagesPerGrowth);

    // Each page points into the stored bytes and is written as soon as its
    // successor's number is known: two pages in memory, nothing copied.
    try {
        CPage current = getFreePage();
        current.recordSize = storedLength;
        current.data = stored;
        current.usedSize = storedLength < pageDataSize ? storedLength : pageDataSize;
        for (int offset = current.usedSize; offset < storedLength; offset += pageDataSize) {
            CPage next = allocateNextFreePage(current);
            const int remaining = storedLength - offset;
            next.data = stored + offset;
            next.usedSize = remaining < pageDataSize ? remaining : pageDataSize;
            writePage(current);
            current = next;
        }
        writePage(current);
    } catch (...) {
        returnTakenPages();
        throw;
    }

    const int record = chainPages[0];
    for (int i = 0; i < chainPages.GetSize(); ++i) pageOwners[chainPages[i]] = record;
    chainPages.RemoveAll();
    storedDataSize = addWrapping(storedDataSize, storedLength);
    return record;
}

void CFileDataStorage::ReadRecord(int record,
                                  Tolm::CArray<unsigned char, Tolm::CurrentMemoryManager>& output) {
    PrefetchRecord(record);  // on its way while the record's owner is looked up
    checkLiveRecord(record, "read");
    if (!useCompression && output.IsEmpty()) {
        // Straight into the caller's array, whose room is reused; a failure
        // leaves it empty, as it came.
        try {
            readChain(record, output);
        } catch (...) {
            output.RemoveAll();
            throw;
        }
        return;
    }
    readChain(record, gathered);
    if (!useCompression) {
        output = std::move(gathered);  // the output's content goes only once the read succeeded
        return;
    }
    const int sizeBefore = output.GetSize();
    try {
        decompressData(gathered.GetData(), gathered.GetSize(), output);
    } catch (...) {
        output.SetSize(sizeBefore);
        throw;
    }
}

void CFileDataStorage::PrefetchRecord(int record) const noexcept {
    if (file && isHandedOutPage(record)) prefetchPage(record);
}

// Reads only the headers of the chain, all of them checked before anything
// changes, so that a damaged chain frees nothing.
void CFileDataStorage::FreeRecord(int record) {
    checkLiveRecord(record, "free");
    ChainPlace where{record};
    CPage page = loadPageHeader(record, where);
    chainPages.RemoveAll();
    chainPages.Reserve(where.pageCount);
    for (;;) {
        chainPages.Add(page.index);
        if (page.nextPage == -1) break;
        ++where.place;
        page = loadPageHeader(page.nextPage, where);
    }
    freePages.Reserve(freePages.GetSize() + chainPages.GetSize());

    storedDataSize = addWrapping(storedDataSize, -where.recordSize);
    for (int i = 0; i < chainPages.GetSize(); ++i) {
        freePages.Add(chainPages[i]);
        pageOwners[chainPages[i]] = 0;
    }
    chainPages.RemoveAll();
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
