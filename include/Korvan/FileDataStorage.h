// The record store: byte records of any length parked in a private temporary
// file and fetched back by record number.
//
//     Korvan::CFileDataStorage store(4096, false);
//     const int record = store.WriteRecord(bytes, 10000);   // 5 on a new store
//     Tolm::CArray<unsigned char> back;
//     store.ReadRecord(record, back);                         // the 10000 bytes
//     store.FreeRecord(record);                               // the number is dead now
//
// The store owns its temporary file from the first WriteRecord until it is
// destroyed; the destructor closes and deletes it, and records still live are
// lost with it. A record is kept in a chain of fixed-size pages (a 12-byte
// header, then data); with compression on, the whole record is compressed
// first through the image library's stream toolkit. Record numbers are the
// caller's only handle: a number that does not name a live record is rejected
// with a framework CException (kind argument), and a damaged page with one of
// kind file; neither changes the store.
//
// A store is used by one thread at a time; it takes no locks.
#pragma once

#include <Image/Streams.h>
#include <Korvan/Export.h>
#include <Tolm/Array.h>
#include <Tolm/File.h>
#include <Tolm/Memory.h>
#include <Tolm/Object.h>
#include <Tolm/String.h>

#include <climits>
#include <cstdint>
#include <memory>
#include <string>

namespace Korvan {

// A read stream over a byte array that it does not own: the source that the
// store hands to the image library's compressing and decompressing streams.
//
//     CArrayReadStream stream;
//     stream.SetArray(bytes, 10);
//     stream.Read(target, 4);   // 4
//     stream.Skip(4);           // 4
//     stream.Read(target, 4);   // 2, the last two bytes
//
// A negative count reads or skips nothing and returns 0.
class KORVAN_API CArrayReadStream : public Image::CReadImageStream {
public:
    CArrayReadStream() noexcept = default;
    ~CArrayReadStream() override;
    CArrayReadStream(const CArrayReadStream&) = delete;
    CArrayReadStream& operator=(const CArrayReadStream&) = delete;

    void Reset() override;
    int Read(void* target, int count) override;
    int Skip(int count) override;
    // "CArrayReadStream"
    Tolm::CUnicodeString GetName() const override;

    // Points the stream at count bytes from bytes and rewinds it; (nullptr, 0)
    // leaves it holding no array. The bytes must outlive their use.
    void SetArray(const unsigned char* bytes, int count) noexcept;
    bool HasArray() const noexcept { return buffer != nullptr; }

private:
    const unsigned char* buffer = nullptr;
    int size = 0;
    int position = 0;
};

class KORVAN_API CFileDataStorage {
public:
    // A page in memory: its number, its header and its data. A page copies
    // nothing: data points at the usedSize bytes where they lie, in the file
    // (lent by the file, good until the store's next call on it) or in the
    // record being written. Pages live only as long as the operation that
    // made them.
    struct CPage {
        int index = -1;
        int usedSize = -1;
        int recordSize = -1;
        int nextPage = -1;
        const unsigned char* data = nullptr;  // null in a header alone
    };

    // Bytes of the header at the start of every page slot: next page, used
    // size, record size, each a little-endian 32-bit word.
    static constexpr int kPageHeaderSize = 12;
    // Page numbers and file slots added each time the free-page stack runs dry.
    static constexpr int kPagesPerGrowth = 5;
    // The page sizes a store takes: the header and one byte, up to the size at
    // which one growth's pages still fit 32 bits.
    static constexpr int kMinPageSize = kPageHeaderSize + 1;
    static constexpr int kMaxPageSize = INT_MAX / kPagesPerGrowth;

    // requestedPageSize must leave room for the header and one byte (at least
    // 13) and five pages must fit 32 bits (at most 429496729); anything else
    // is a CException of kind argument. With compress the image library's
    // stream toolkit ("Image.StreamsToolkit") must be registered.
    CFileDataStorage(int requestedPageSize, bool compress);
    // Closes and deletes the temporary file; failures to do so are swallowed.
    virtual ~CFileDataStorage();
    CFileDataStorage(const CFileDataStorage&) = delete;
    CFileDataStorage& operator=(const CFileDataStorage&) = delete;

    // Stores length bytes (length >= 1) and returns the record number (>= 1).
    // A length of 0 or less, or null data, is a broken precondition (and
    // returns -1 when the report returns). A failure part-way (disk full,
    // compression) passes through: no record is made and the stored size is
    // unchanged, and the pages taken are free again in their order, but a
    // refill's new pages stay free and the file may be longer, with parts of
    // the record in free slots.
    int WriteRecord(const unsigned char* data, int length);
    // The record's bytes. Without compression the output's content is
    // replaced; with compression the bytes are appended to it. On failure the
    // output keeps its previous content.
    void ReadRecord(int record, Tolm::CArray<unsigned char, Tolm::CurrentMemoryManager>& output);
    // A hint from a caller that knows its next read while it makes this one:
    // the processor starts fetching the record's first page now, and the
    // read finds it on its way instead of waiting for memory. Reads, maps
    // and changes nothing; a number that is no record is ignored.
    //
    //     for (std::size_t i = 0; i < wanted.size(); ++i) {
    //         if (i + 1 < wanted.size()) store.PrefetchRecord(wanted[i + 1]);
    //         store.ReadRecord(wanted[i], out);
    //     }
    void PrefetchRecord(int record) const noexcept;
    // Gives the record's pages back for reuse; the number is dead afterwards.
    void FreeRecord(int record);

    // Sum of the stored lengths (compressed lengths with compression) of all
    // live records. 32 bits, as the store keeps it.
    int GetStoredDataSize() const noexcept { return storedDataSize; }
    int GetPageSize() const noexcept { return pageSize; }
    bool IsCompressing() const noexcept { return useCompression; }

private:
    friend struct FileDataStorageTestAccess;  // tests look at pages and the file

    // Where a page stands in the chain being walked, and what the record's
    // first page said; the first page's check fills in the record's size.
    struct ChainPlace {
        int record;
        int place = 0;
        int recordSize = 0;
        int pageCount = 0;
    };
    // The file bytes [low, high) that the last lend made readable at bytes
    // (the view around a page, or the file's window).
    struct LentRange {
        const unsigned char* bytes = nullptr;
        std::int64_t low = 0;
        std::int64_t high = 0;
        bool holds(std::int64_t offset, int count) const { return offset >= low && offset + count <= high; }
    };
    // Views the file lent before, good while it lets none go
    // (Tolm::CFile::ViewsLetGo): a store larger than one view asks the file
    // for each view once, not at every hop between them.
    struct KeptViews {
        static constexpr int kKept = 8;
        LentRange views[kKept];
        int next = 0;  // where the next one goes
        std::uint64_t viewsLetGoWhenKept = 0;
        const LentRange* holding(std::int64_t offset, int count) const;
        void note(const LentRange& lent, bool isInView, std::uint64_t viewsLetGo);
    };

    // Page file.
    void initFile();
    std::int64_t getPageStart(int page) const;
    CPage loadPage(int page, ChainPlace& where);
    CPage loadPageFromFile(int page, ChainPlace& where);
    CPage loadPageHeader(int page, ChainPlace& where, bool withData = false);
    CPage loadPageHeaderFromFile(int page, ChainPlace& where, bool withData);
    CPage readPageHeader(int page, const unsigned char* bytes, ChainPlace& where, bool withData);
    const unsigned char* lentPage(int page) const;
    const unsigned char* lendData(const CPage& page, std::int64_t offset);
    void checkPageHeader(const CPage& page, ChainPlace& where, bool withData);
    void writePage(const CPage& page);
    Tolm::CFile::LentBytes lendBytes(std::int64_t offset, int count);
    Tolm::CFile::LentBytes lendFromFile(std::int64_t offset, int count);
    // The messages of failed checks, made only when one fails.
    [[noreturn]] void throwShortHeader(int page, int count, const ChainPlace& where) const;
    [[noreturn]] void throwCutPage(const CPage& page, int count) const;
    enum class HeaderFault {
        recordSize,
        recordSizePastFirstPage,
        usedSize,
        chainPastLastPage,
        foreignNextPage
    };
    [[noreturn]] void throwBadHeader(const CPage& page, const ChainPlace& where, HeaderFault fault,
                                     std::int64_t bound) const;
    [[noreturn]] void throwNotLive(int record, const char* operation) const;
    void prefetchPage(int page) const;
    void prefetchFromFile(int page) const;
    Tolm::CFile& openFile();
    Tolm::CFile& existingFile() const;

    // Free-page management.
    CPage getFreePage();
    CPage allocateNextFreePage(CPage& previous);
    void allocateFreePages();
    void returnTakenPages() noexcept;

    // Records.
    void checkLiveRecord(int record, const char* operation) const;
    int readChain(int record, Tolm::CArray<unsigned char>& data);
    bool isHandedOutPage(int page) const noexcept;
    std::string describeOwner(int page) const;

    // Compression.
    void compressData(const unsigned char* bytes, int count, Tolm::CArray<unsigned char>& output);
    void decompressData(const unsigned char* bytes, int count, Tolm::CArray<unsigned char>& output);
    void pumpStream(Image::CReadImageStream& stream, const unsigned char* bytes, int count,
                    Tolm::CArray<unsigned char>& output);
    static int outputRoom(int size) noexcept;
    static void checkStreamEnded(Image::CReadImageStream& stream);
    void resetCompressStreams();

    Tolm::CUnicodeString fileName;
    int pageSize;
    int pageDataSize;
    bool useCompression;
    int pagesPerGrowth;
    std::unique_ptr<Tolm::CFile> file;
    Tolm::CArray<int> freePages;
    int allocatedPagesCount;
    int storedDataSize;
    Tolm::CPtr<Image::CReadImageStream> compressStream;
    Tolm::CPtr<Image::CReadImageStream> decompressStream;
    Tolm::CPtr<CArrayReadStream> sourceStream;
    // Indexed by page number 0..allocatedPagesCount: the live record whose
    // chain holds the page, 0 while the page is free (or being written).
    Tolm::CArray<int> pageOwners;
    // The pages of the chain being written (in the order taken) or freed;
    // kept between records so that a record allocates nothing for them.
    Tolm::CArray<int> chainPages;
    // Room for bytes the file cannot lend in place (a page of pageSize bytes).
    Tolm::CArray<unsigned char> lendScratch;
    // What the last lend made readable. Later pages there, of the same chain
    // or of the next record read, are taken without a call on the file: the
    // pages of a store mostly share a few views. Every other call on the
    // file goes through openFile, which forgets it, since that call may
    // write what was lent or let it go.
    LentRange lastLent;
    KeptViews keptViews;
    // Whether a read copies a page in two halves around the load of the next
    // (readChain): where the file layer's copy splits cheaply.
    bool splitsPageCopies = Tolm::CopyBytesSplitsCheaply();
    // Stored bytes of a record on their way to the decompressor or to an
    // output that must keep its content until the read succeeds.
    Tolm::CArray<unsigned char> gathered;
};

}  // namespace Korvan
