#include <Tolm/File.h>

#include "FileSupport.h"
#include "FileWindow.h"
#include "LittleEndian.h"
#include "SystemPort.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <limits>

namespace Tolm {

namespace detail {

std::string quotedPath(const CUnicodeString& path) {
    // Built by appending: GCC 12 warns falsely (-Wrestrict) on "'" + text + "'".
    std::string quoted(1, '\'');
    quoted.append(ToNativePath(path));  // the name the system was given
    quoted.push_back('\'');
    return quoted;
}

void throwSystemFileError(const std::string& what, int systemError) {
    const SystemErrorDescription said = systemPort().describe(systemError);
    // The system's own number tells more than its text where it has one.
    std::string text = said.text;
    if (said.systemCode != 0) text += " (system error " + std::to_string(said.systemCode) + ")";
    ThrowFileError(what + ": " + text, systemError);
}

}  // namespace detail

using detail::quotedPath;
using detail::throwSystemFileError;

// --- CBaseFile -------------------------------------------------------------

CBaseFile::~CBaseFile() = default;

CUnicodeString CBaseFile::GetFileName() const { return u"memory file"; }

std::uint32_t CBaseFile::GetLength32() const {
    const std::int64_t length = GetLength();
    if (length > static_cast<std::int64_t>(0xFFFFFFFFu)) {
        ThrowFileError(quotedPath(GetFileName()) + " is " + std::to_string(length) +
                           " bytes long, more than a 32-bit length can hold",
                       EFBIG);
    }
    return static_cast<std::uint32_t>(length);
}

void CBaseFile::ReadExactly(void* buffer, int count) {
    if (count < 0) ThrowArgumentError("negative byte count " + std::to_string(count) + " to read");
    const std::int64_t start = GetPosition();
    auto* target = static_cast<unsigned char*>(buffer);
    int done = 0;
    while (done < count) {
        const int got = Read(target + done, count - done);
        if (got <= 0) {
            ThrowFileError("unexpected end of file in " + quotedPath(GetFileName()) + " at offset " +
                               std::to_string(start) + ": wanted " + std::to_string(count) +
                               " bytes, found " + std::to_string(done),
                           0);
        }
        done += got;
    }
}

std::uint32_t CBaseFile::ReadDWord() {
    unsigned char bytes[4];
    ReadExactly(bytes, 4);
    return detail::loadLittleEndian32(bytes);
}

void CBaseFile::WriteDWord(std::uint32_t value) {
    unsigned char bytes[4];
    detail::storeLittleEndian32(value, bytes);
    Write(bytes, 4);
}

// --- CFile ----------------------------------------------------------------------

namespace {

std::string accessText(unsigned flags) {
    if ((flags & CFile::modeReadWrite) == CFile::modeReadWrite) return "reading and writing";
    return (flags & CFile::modeWrite) ? "writing" : "reading";
}

}  // namespace

struct CFile::Impl {
    TOLM_HEAP_THROUGH_FRAMEWORK

    Impl(const CUnicodeString& name, std::unique_ptr<detail::SystemFile> system, bool read, bool write,
         std::int64_t length)
        : path(name), canRead(read), canWrite(write), window(name, std::move(system), read, write, length) {}

    CUnicodeString path;
    bool canRead;
    bool canWrite;
    detail::FileWindow window;

    void checkOpen() const {
        if (!window.isOpen()) ThrowFileError("file " + quotedPath(path) + " is closed", EBADF);
    }
};

CFile::CFile(const CUnicodeString& path, unsigned openFlags) {
    constexpr unsigned kKnownFlags =
        modeReadWrite | shareExclusive | modeCreate | shareDenyNone | modeNoTruncate | modeCreateNew;
    if ((openFlags & ~kKnownFlags) != 0 || (openFlags & modeReadWrite) == 0) {
        char hex[16];
        std::snprintf(hex, sizeof hex, "0x%X", openFlags);
        ThrowArgumentError(std::string("open flags ") + hex + " for " + quotedPath(path) +
                           ": name read, write or both, and no unknown flag");
    }
    const bool canRead = (openFlags & modeRead) != 0;
    const bool canWrite = (openFlags & modeWrite) != 0;
    detail::SystemOpenRequest request;
    request.read = canRead;
    request.write = canWrite;
    request.create = (openFlags & (modeCreate | modeCreateNew)) != 0;
    request.exclusive = (openFlags & modeCreateNew) != 0;
    request.truncate =
        !request.exclusive && (openFlags & modeCreate) && !(openFlags & modeNoTruncate) && canWrite;
    const std::string native = ToNativePath(path);
    const auto cannotOpen = [&](int error) {
        throwSystemFileError("cannot open " + quotedPath(path) + " for " + accessText(openFlags), error);
    };
    // A temporary file of ours is opened as the file it was created as: no
    // link is followed, nothing is created, and it is emptied only once it
    // proved to be that file.
    detail::CreatedTempFile created;
    const bool isOwnTempFile = detail::findCreatedTempFile(native, created);
    const bool emptyAfterCheck = isOwnTempFile && request.truncate;
    if (isOwnTempFile) {
        request.create = request.exclusive = request.truncate = false;
        request.noFollow = true;
    }
    int error = 0;
    std::unique_ptr<detail::SystemFile> system = detail::systemPort().open(native, request, error);
    if (!system) cannotOpen(error);
    detail::SystemFileStatus status;
    error = system->status(status);
    if (error == 0 && status.isDirectory) error = EISDIR;
    if (error != 0) cannotOpen(error);  // the file closes with system
    if (isOwnTempFile &&
        (!status.isRegular || status.device != created.device || status.inode != created.inode)) {
        ThrowFileError("cannot open " + quotedPath(path) + " for " + accessText(openFlags) +
                           ": it is no longer the temporary file created under that name",
                       EEXIST);
    }
    impl_ = std::make_unique<Impl>(path, std::move(system), canRead, canWrite, status.length);
    if (emptyAfterCheck && status.length != 0) impl_->window.setLength(0);
}

CFile::~CFile() {
    if (impl_ && impl_->window.isOpen()) {
        try {
            Close();
        } catch (CException* error) {
            error->Delete();
        }
    }
}

int CFile::Read(void* buffer, int count) {
    Impl& f = *impl_;
    f.checkOpen();
    if (!f.canRead) ThrowFileError("file " + quotedPath(f.path) + " is not open for reading", EBADF);
    if (count <= 0) {
        if (count < 0) ThrowArgumentError("negative byte count " + std::to_string(count) + " to read");
        return 0;
    }
    if (buffer == nullptr) ThrowArgumentError("no buffer to read into");
    return f.window.read(buffer, count);
}

CFile::LentBytes CFile::Lend(std::int64_t offset, int count, unsigned char* scratch) {
    Impl& f = *impl_;
    f.checkOpen();
    if (!f.canRead) ThrowFileError("file " + quotedPath(f.path) + " is not open for reading", EBADF);
    if (offset < 0 || count < 0) {
        ThrowArgumentError("cannot lend " + std::to_string(count) + " bytes at offset " +
                           std::to_string(offset) + " of " + quotedPath(f.path));
    }
    if (count == 0) return {scratch, 0};
    if (scratch == nullptr) ThrowArgumentError("no scratch room to lend bytes through");
    const detail::FileWindow::Lent lent = f.window.lend(offset, count, scratch);
    return {lent.bytes, lent.count, lent.before, lent.after, lent.isInView};
}

void CFile::Prefetch(std::int64_t offset) const noexcept {
    if (impl_->window.isOpen()) impl_->window.prefetch(offset);
}

std::uint64_t CFile::ViewsLetGo() const noexcept { return impl_->window.viewsLetGo(); }

void CFile::Write(const void* buffer, int count) {
    Impl& f = *impl_;
    f.checkOpen();
    if (!f.canWrite) ThrowFileError("file " + quotedPath(f.path) + " is not open for writing", EBADF);
    if (count <= 0) {
        if (count < 0) ThrowArgumentError("negative byte count " + std::to_string(count) + " to write");
        return;
    }
    if (buffer == nullptr) ThrowArgumentError("no bytes to write");
    if (f.window.position() > std::numeric_limits<std::int64_t>::max() - count) {
        ThrowFileError("write past the largest offset of " + quotedPath(f.path), EFBIG);
    }
    f.window.write(buffer, count);
}

std::int64_t CFile::Seek(std::int64_t offset, int origin) {
    Impl& f = *impl_;
    f.checkOpen();
    const std::int64_t target = detail::seekTarget(
        offset, origin, f.window.position(), [&f] { return f.window.lengthAsKnown(); },
        [&f] { return quotedPath(f.path); });
    f.window.moveTo(target);
    return target;
}

std::int64_t CFile::GetPosition() const {
    impl_->checkOpen();
    return impl_->window.position();
}

std::int64_t CFile::GetLength() const {
    impl_->checkOpen();
    return impl_->window.length();
}

void CFile::SetLength(std::int64_t length) {
    Impl& f = *impl_;
    f.checkOpen();
    if (!f.canWrite) ThrowFileError("file " + quotedPath(f.path) + " is not open for writing", EBADF);
    if (length < 0)
        ThrowArgumentError("negative length " + std::to_string(length) + " for " + quotedPath(f.path));
    f.window.setLength(length);
}

void CFile::Flush() {
    impl_->checkOpen();
    impl_->window.flush();
}

void CFile::Close() { impl_->window.close(); }

CUnicodeString CFile::GetFileName() const { return impl_->path; }

}  // namespace Tolm
