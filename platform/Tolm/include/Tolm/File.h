// Files of the framework.
//
// CBaseFile is the abstract byte stream with a position; CFile is a file on
// disk, CMemoryFile a growable block of memory. Positions and lengths are
// 64-bit. Read returns the count delivered, short only at the end of the file.
// Every failure throws a CException of kind file whose message names the path
// and the system's error text.
//
// CFile keeps a bounded write-back buffer (at most kMaxBufferBytes) over a
// window of the file: writes to nearby offsets, not only appends, are gathered
// into few system calls, and reads of nearby data are served from one read.
// Reads always see earlier writes. SetLength works with the buffer: a cut
// drops buffered bytes beyond the new end at once, a lengthening reaches the
// disk with the next write-out. The buffer is written out on Flush, on Close and
// when the window moves on; the destructor closes and swallows a failure (call
// Close to see it). Write failures (a full disk) may therefore surface only at
// Flush or Close. Bytes that were never written (gaps between writes) are never
// written out, and the file on the disk ends where the last byte written or the
// last length set puts it: a 4-byte write at offset 8192 of an empty file gives
// a file of 8196 bytes.
//
// Paths: a path that starts with the long-path prefix "\\?\" is accepted; on
// POSIX the prefix is dropped before the system call. Paths are UTF-16 here and
// UTF-8 on POSIX file systems.
//
// A file object is used by one thread at a time.
#pragma once

#include <Tolm/Error.h>
#include <Tolm/String.h>

#include <cstdint>
#include <memory>

namespace Tolm {

class TOLM_API CBaseFile {
public:
    enum SeekOrigin { begin = 0, current = 1, end = 2 };

    CBaseFile() = default;
    CBaseFile(const CBaseFile&) = delete;
    CBaseFile& operator=(const CBaseFile&) = delete;
    virtual ~CBaseFile();

    // Reads up to count bytes at the position and moves past them; returns the
    // count read, fewer than count only at the end. A negative count is an
    // argument error.
    virtual int Read(void* buffer, int count) = 0;
    // Writes count bytes at the position (lengthening the file as needed).
    // A null buffer is allowed with count 0.
    virtual void Write(const void* buffer, int count) = 0;
    // Moves the position; returns the new position. A position before the
    // start is an argument error; one past the end is allowed.
    virtual std::int64_t Seek(std::int64_t offset, int origin) = 0;
    virtual std::int64_t GetPosition() const = 0;
    virtual std::int64_t GetLength() const = 0;
    // Cuts or lengthens the file (new bytes read as zero). The position stays.
    virtual void SetLength(std::int64_t length) = 0;
    virtual void Flush() {}

    void SeekToBegin() { Seek(0, begin); }
    std::int64_t SeekToEnd() { return Seek(0, end); }
    // The length as 32 bits; a length above 0xFFFFFFFF is a file error.
    std::uint32_t GetLength32() const;
    // Four bytes, little-endian. A short read is a file error
    // ("unexpected end of file").
    std::uint32_t ReadDWord();
    void WriteDWord(std::uint32_t value);
    // Reads exactly count bytes or throws (unexpected end of file).
    void ReadExactly(void* buffer, int count);

    // A name for messages: the path of a CFile, "memory file" otherwise.
    virtual CUnicodeString GetFileName() const;

    TOLM_HEAP_THROUGH_FRAMEWORK
};

class TOLM_API CFile : public CBaseFile {
public:
    // Open flags. modeRead and modeWrite may be combined. modeCreate creates a
    // missing file and empties an existing one, unless modeNoTruncate is also
    // given; modeCreateNew fails when the file exists. The share flags are
    // accepted and have no effect on POSIX.
    enum OpenFlags : unsigned {
        modeRead = 0x0001,
        modeWrite = 0x0002,
        modeReadWrite = 0x0003,
        shareExclusive = 0x0010,
        modeCreate = 0x0020,
        shareDenyNone = 0x1000,
        modeNoTruncate = 0x2000,
        modeCreateNew = 0x4000,
    };
    // 0x33: read and write a new (created or emptied) file, e.g. a temporary file.
    static constexpr unsigned kNewReadWrite = modeReadWrite | shareExclusive | modeCreate;
    // 0x1022: write, creating the file when missing and emptying it otherwise.
    static constexpr unsigned kCreateForWriting = shareDenyNone | modeCreate | modeWrite;

    static constexpr int kMaxBufferBytes = 4 << 20;

    CFile(const CUnicodeString& path, unsigned openFlags);
    ~CFile() override;

    int Read(void* buffer, int count) override;
    void Write(const void* buffer, int count) override;
    std::int64_t Seek(std::int64_t offset, int origin) override;
    std::int64_t GetPosition() const override;
    std::int64_t GetLength() const override;
    void SetLength(std::int64_t length) override;
    void Flush() override;

    // Bytes of the file lent for reading in place.
    struct LentBytes {
        const unsigned char* bytes;
        int count;  // fewer than asked only at the end of the file
        // The memory lent may hold more of the file in order around them:
        // the file bytes [offset - before, offset + count + after) lie at
        // bytes - before onwards, lent alike (a page's neighbours in a view).
        std::int64_t before = 0;
        std::int64_t after = 0;
        // Lent from a view of the file: see the lifetime below.
        bool isInView = false;
    };
    // Lends the file bytes [offset, offset + count) without copying them
    // where it can: a pointer into the write-back window (which holds the
    // newest bytes, written or not) or into a view of the file (Windows'
    // rules kept: only a file that lost its name, never past its end).
    // Otherwise the bytes are read into scratch, which must have room for
    // count bytes, and scratch is lent. The position does not move.
    //
    // Lifetime: the bytes (and those around them that before and after
    // name) may be read until the next call on this file,
    // whatever it is (a write changes them, a read moves the window or lets
    // a view go), and are never written through. Bytes lent from a view
    // (isInView) last longer: through later Lend and Prefetch calls, for as
    // long as ViewsLetGo() returns what it returned when they were lent. So a
    // reader that hops between the views of a large file asks for each once.
    //
    //     const CFile::LentBytes header = file.Lend(pageStart, 12, scratch);
    LentBytes Lend(std::int64_t offset, int count, unsigned char* scratch);
    // A hint that the bytes at offset are to be lent soon (the next page of a
    // chain while this one is copied): where they lie in a view of the file
    // already mapped, the processor starts fetching them. Nothing is read,
    // mapped or written for it, and bytes lent before stay good. A closed
    // file ignores it.
    void Prefetch(std::int64_t offset) const noexcept;
    // How many views of this file have been let go since it was opened: one
    // goes when the file is cut or closed, when the file grew past it, or
    // when the process's address space for views is needed by another.
    std::uint64_t ViewsLetGo() const noexcept;
    // Writes out the buffer and closes; later calls are file errors.
    void Close();

    CUnicodeString GetFileName() const override;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

class TOLM_API CMemoryFile : public CBaseFile {
public:
    explicit CMemoryFile(int growStep = 1024);
    ~CMemoryFile() override;

    int Read(void* buffer, int count) override;
    void Write(const void* buffer, int count) override;
    std::int64_t Seek(std::int64_t offset, int origin) override;
    std::int64_t GetPosition() const override { return position_; }
    std::int64_t GetLength() const override { return length_; }
    void SetLength(std::int64_t length) override;

    // The bytes, contiguous and readable in place until the next write or
    // length change. Null when the file is empty and never grew.
    const unsigned char* GetData() const noexcept { return data_; }

private:
    void reserve(std::int64_t capacity);

    unsigned char* data_ = nullptr;
    std::int64_t length_ = 0;
    std::int64_t capacity_ = 0;
    std::int64_t position_ = 0;
    int growStep_;
};

namespace TempFile {
// Creates a fresh, uniquely named empty file in the system's temporary folder
// (TMPDIR honoured on POSIX), exclusively and readable and writable by its
// owner alone, and returns its full path: <tmp>/<prefix>-XXXXXX.<extension>.
// A CFile opened on that path later is that very file or fails: a name that
// meanwhile leads elsewhere (a symbolic link, another file) is refused, and
// nothing is emptied before the check.
TOLM_API CUnicodeString New(const CUnicodeString& prefix, const CUnicodeString& extension);
// As New, in the given folder instead: for a file that is to replace another
// one there by Rename, which cannot cross file systems.
TOLM_API CUnicodeString NewIn(const CUnicodeString& directory, const CUnicodeString& prefix,
                              const CUnicodeString& extension);
// Gives the temporary file the name newPath in one step, replacing any file
// of that name, so that a reader of newPath sees the old file or the new one
// and never a part. The file is then no longer a temporary file.
TOLM_API void Rename(const CUnicodeString& path, const CUnicodeString& newPath);
// Removes the file; a missing file is a file error. A removal that another
// opener refuses for a moment (a virus scanner on Windows) is tried again a
// few times first.
TOLM_API void Delete(const CUnicodeString& path);
// Removes the name of a temporary file that is open: the file then lives on
// until its last handle closes and never outlives the process, however it
// ends (on Windows the name itself goes with the last handle). Returns false
// when another opener refused the removal for longer than a few tries: the
// name then stays, and Delete removes the file as usual. After true, a later
// Delete finds no file (a file error).
TOLM_API bool RemoveName(const CUnicodeString& path);
}  // namespace TempFile

// The path as the operating system takes it: long-path prefix dropped, UTF-8
// on POSIX.
TOLM_API std::string ToNativePath(const CUnicodeString& path);

}  // namespace Tolm
