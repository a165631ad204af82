#include "FileWindow.h"

#include "FileCalls.h"
#include "ReadAhead.h"
#include "ViewCache.h"
#include "WriteBackWindow.h"

#include <Tolm/Memory.h>

#include <algorithm>
#include <cstring>

// Each concern of the window is a part of its own, so that each can be read
// and tested alone: the system calls (FileCalls), the write-back window and
// its rules (WriteBackWindow.cpp), how much a read loads (ReadAhead), and the
// views a nameless file is read through (ViewCache.cpp). Here each call is
// routed to them.

namespace Tolm::detail {

struct FileWindow::State {
    TOLM_HEAP_THROUGH_FRAMEWORK

    State(const CUnicodeString& path, std::unique_ptr<SystemFile> system, bool read, bool write,
          std::int64_t length)
        : calls(path, std::move(system)), canRead(read), canWrite(write), window(calls, write, length) {}

    // Declared first: the parts below use it to the end of their lives.
    FileCalls calls;
    bool canRead;
    bool canWrite;
    std::int64_t position = 0;
    WriteBackWindow window;
    ReadAhead readAhead;
    ViewCache views{calls};

    // Copies the file bytes [fileLow, fileLow + count) from views; false when
    // they cannot serve them.
    bool readFromViews(unsigned char* target, std::int64_t fileLow, std::int64_t count) {
        if (!views.mayServe()) return false;
        window.flushWithin(fileLow, fileLow + count);  // rule (3) of ViewCache.cpp
        const std::int64_t end = window.diskLength();
        return fileLow + count <= end && views.read(target, fileLow, count, end);
    }

    // Reads count bytes at the position, fewer when the file turns out to
    // end sooner (cut by someone else): never bytes that are not there.
    int readSlow(unsigned char* target, std::int64_t count) {
        const std::int64_t fileLow = position;
        if (!readFromViews(target, fileLow, count)) count = readPastViews(target, fileLow, count);
        // Known clean bytes of the window equal the file's; dirty ones were
        // written out before views were read.
        position = fileLow + count;
        return static_cast<int>(count);
    }

    // Reads through the window, or straight from the disk when the bytes are
    // many; the count read.
    std::int64_t readPastViews(unsigned char* target, std::int64_t fileLow, std::int64_t count) {
        if (count >= WriteBackWindow::kDirectIoBytes) return window.readDirect(target, fileLow, count);
        const unsigned char* known = loadIntoWindow(fileLow, count);
        count = std::min(count, std::max<std::int64_t>(0, window.length() - fileLow));
        CopyBytes(target, known, static_cast<std::size_t>(count));
        return count;
    }

    // Makes the window know [fileLow, fileLow + count) (fewer than
    // kDirectIoBytes) and gives where the bytes start in it.
    const unsigned char* loadIntoWindow(std::int64_t fileLow, std::int64_t count) {
        const std::int64_t fileHigh = fileLow + count;
        window.place(fileLow, fileHigh);
        if (!window.memory().knows(fileLow, fileHigh))
            readAhead.noteLoaded(window.load(readAhead.blockFor(fileLow, fileHigh), fileHigh));
        const WindowBuffer& memory = window.memory();
        return memory.buffer + (fileLow - memory.base);
    }

    // The bytes where they lie when they lie in one piece: the window's
    // known bytes where it holds any of them dirty (the newest), otherwise
    // one view (rule (3) of ViewCache.cpp), with the rest of the view around
    // them once nothing of it is dirty, otherwise the window's known bytes.
    // Null bytes when none holds them.
    Lent bytesInPlace(std::int64_t fileLow, int count) {
        const std::int64_t fileHigh = fileLow + count;
        const WindowBuffer& memory = window.memory();
        const bool isDirty = memory.isDirtyWithin(fileLow, fileHigh);
        if (isDirty && memory.knows(fileLow, fileHigh))
            return {memory.buffer + (fileLow - memory.base), count};
        if (views.mayServe()) {
            if (isDirty) window.flush();
            const std::int64_t end = window.diskLength();
            if (fileHigh <= end) {
                if (const unsigned char* bytes = views.lend(fileLow, count, end)) {
                    const FileRange view = views.lastLent();
                    if (memory.isDirtyWithin(view.low, view.high))
                        window.flush();  // the view's bytes are current
                    return {bytes, count, fileLow - view.low, std::min(view.high, end) - fileHigh, true};
                }
            }
        }
        if (memory.knows(fileLow, fileHigh)) return {memory.buffer + (fileLow - memory.base), count};
        return {nullptr, 0};
    }

    // Lets go of the views and the window and closes the file; the system's
    // error, or 0.
    int closeAll() noexcept {
        views.releaseAll();
        const int error = calls.close();
        window.release();
        return error;
    }
};

FileWindow::FileWindow(const CUnicodeString& path, std::unique_ptr<SystemFile> system, bool canRead,
                       bool canWrite, std::int64_t length)
    : s_(std::make_unique<State>(path, std::move(system), canRead, canWrite, length)) {}

FileWindow::~FileWindow() = default;

bool FileWindow::isOpen() const { return s_->calls.isOpen(); }
std::int64_t FileWindow::position() const { return s_->position; }
void FileWindow::moveTo(std::int64_t position) { s_->position = position; }
std::int64_t FileWindow::lengthAsKnown() const { return s_->window.length(); }
std::int64_t FileWindow::length() {
    s_->window.refreshLength();
    return s_->window.length();
}

int FileWindow::read(void* buffer, int count) {
    State& f = *s_;
    std::int64_t available = f.window.length() - f.position;
    if (available <= 0) {
        // The end as last seen; a reader's file may have grown since.
        f.window.refreshLength();
        available = f.window.length() - f.position;
        if (available <= 0) return 0;
    }
    const std::int64_t n = std::min<std::int64_t>(count, available);
    // The common case: the bytes are known to the window.
    const WindowBuffer& memory = f.window.memory();
    if (memory.knows(f.position, f.position + n)) {
        std::memcpy(buffer, memory.buffer + (f.position - memory.base), static_cast<std::size_t>(n));
        f.position += n;
        return static_cast<int>(n);
    }
    return f.readSlow(static_cast<unsigned char*>(buffer), n);
}

void FileWindow::write(const void* buffer, int count) {
    State& f = *s_;
    f.window.write(static_cast<const unsigned char*>(buffer), f.position, count);
    f.position += count;
}

FileWindow::Lent FileWindow::lend(std::int64_t offset, int count, unsigned char* scratch) {
    State& f = *s_;
    if (offset >= f.window.length()) f.window.refreshLength();  // a reader's file may have grown
    const std::int64_t n = std::clamp<std::int64_t>(f.window.length() - offset, 0, count);
    if (n == 0) return {scratch, 0};
    if (const Lent inPlace = f.bytesInPlace(offset, static_cast<int>(n)); inPlace.bytes) return inPlace;
    if (n < WriteBackWindow::kDirectIoBytes) {
        const unsigned char* bytes = f.loadIntoWindow(offset, n);
        // The file may have turned out shorter than known while loading.
        const std::int64_t got = std::clamp<std::int64_t>(f.window.length() - offset, 0, n);
        return {bytes, static_cast<int>(got)};
    }
    return {scratch, static_cast<int>(f.window.readDirect(scratch, offset, n))};
}

void FileWindow::prefetch(std::int64_t offset) const noexcept { s_->views.prefetch(offset); }

std::uint64_t FileWindow::viewsLetGo() const noexcept { return s_->views.viewsLetGo(); }

void FileWindow::setLength(std::int64_t length) {
    State& f = *s_;
    if (length < f.window.diskLength()) f.views.releaseAll();  // rule (6) of ViewCache.cpp
    f.window.setLength(length);
}

void FileWindow::flush() { s_->window.flushAll(); }

void FileWindow::close() {
    State& f = *s_;
    if (!f.calls.isOpen()) return;
    try {
        if (f.canWrite) f.window.flushAll();
    } catch (...) {
        f.closeAll();
        throw;
    }
    if (const int error = f.closeAll()) f.calls.fail("cannot close", error);
}

}  // namespace Tolm::detail
