#include "ViewCache.h"

#include <Tolm/Memory.h>

#include <algorithm>
#include <bit>
#include <cstring>

// Design notes on the views.
//
// Reads the write-back window does not know are served from read-only views
// of the file where that is safe, and by reads at an offset otherwise. The
// rules are Windows', the strictest of the systems; Wine does not enforce
// them, a Windows host does.
//
//  (1) Touching a mapped byte the file no longer holds kills the process, so
//      views serve only a regular file that has lost its name (the record
//      store's file): nobody but its holders can cut it, and this object's
//      holder cuts it only after rule (6). A file with a name may be cut by
//      anyone at any moment; it is asked again every kNameCheckInterval reads,
//      since it may lose its name after it was opened.
//  (2) Slot i stands for the file bytes [i * viewBytes, (i + 1) * viewBytes),
//      whose start is a multiple of viewAlignment(). Its view ends at the end
//      of the slot or of the file on the disk, whichever comes first: Windows
//      maps no view past the file's end. A read past the end of a short view
//      (the file grew since) maps the slot again, up to the new end.
//  (3) Views are read only below the file's end on the disk as the caller
//      knows it, after the caller wrote out the bytes of the read it holds
//      dirty, so a read sees every earlier write.
//  (4) A refusal is not forever: the read that met it goes to reads at an
//      offset, and views are tried again after 2, 4, 8 ... reads, at most
//      1 << kMaxRetryShift, so that a system that always refuses is asked
//      rarely. A view mapped ends the count.
//  (5) The views of all files hold at most the process's budget of address
//      space (ViewBudget). A file that needs room lets its own least recently
//      used views go, never another file's (another thread may be reading
//      them); when it has none left, the read goes to reads at an offset.
//      It lets one go only for a slot asked for kAskedBeforeEviction times in
//      a row, with no view used between: reads at random over more slots
//      than the budget holds would otherwise map and unmap a view for most
//      reads, while a run through the file still maps each slot it reaches.
//  (6) Every view is let go before the file is cut: Windows cuts no file
//      under a mapped view.
//  (7) A lend hands out a pointer into a view instead of copying: it is good
//      until the next call of this object, which may let that view go (2, 5),
//      and beyond while viewsLetGo() stays as it was.

namespace Tolm::detail {

namespace {

// Whole views fill the budget, and a 32-bit process keeps most of its 2 GiB.
static_assert(kViewBudgetBytes % ViewCache::kViewBytes == 0);
static_assert(sizeof(void*) != 4 || kViewBudgetBytes <= std::int64_t{256} << 20);

constexpr int kNameCheckInterval = 256;
constexpr int kMaxRetryShift = 10;

bool isPowerOfTwo(std::int64_t n) { return n > 0 && (n & (n - 1)) == 0; }

}  // namespace

ViewCache::ViewCache(FileCalls& calls, ViewBudget& budget, std::int64_t viewBytes)
    : calls_(calls),
      budget_(budget),
      viewBytes_(viewBytes),
      viewShift_(std::countr_zero(static_cast<std::uint64_t>(viewBytes))) {}

// The eligible file's common case is answered inline (mayServe).
bool ViewCache::mayServeAfterChecks() {
    if (isNeverMapped_ || !calls_.isOpen()) return false;
    if (readsUntilRetry_ > 0) {
        --readsUntilRetry_;
        return false;
    }
    if (isEligible_) return true;
    if (readsUntilNameCheck_ > 0) {
        --readsUntilNameCheck_;
        return false;
    }
    const SystemFileStatus status = calls_.status("get the status of");
    if (!status.isRegular || !isPowerOfTwo(viewBytes_) || viewBytes_ % calls_.system().viewAlignment() != 0) {
        isNeverMapped_ = true;
        return false;
    }
    if (status.hasName) {
        readsUntilNameCheck_ = kNameCheckInterval;
        return false;
    }
    isEligible_ = true;
    return true;
}

bool ViewCache::read(unsigned char* target, std::int64_t fileLow, std::int64_t count, std::int64_t fileEnd) {
    for (std::int64_t done = 0; done < count;) {
        const std::int64_t at = fileLow + done;
        const std::int64_t slot = at / viewBytes_;
        const std::int64_t inView = at - slot * viewBytes_;
        const std::int64_t n = std::min(count - done, viewBytes_ - inView);
        const unsigned char* view = viewReaching(slot, at + n, fileEnd);
        if (!view) return false;  // the bytes copied so far are read again
        CopyBytes(target + done, view + inView, static_cast<std::size_t>(n));
        done += n;
    }
    return true;
}

const unsigned char* ViewCache::lendFromSlot(std::int64_t fileLow, std::int64_t count, std::int64_t fileEnd) {
    const std::int64_t slot = fileLow / viewBytes_;
    const std::int64_t inView = fileLow - slot * viewBytes_;
    if (inView + count > viewBytes_) return nullptr;
    const unsigned char* view = viewReaching(slot, fileLow + count, fileEnd);
    if (!view) return nullptr;
    return lentFrom(static_cast<std::size_t>(slot), inView);
}

// The view of slot that reaches fileHigh, mapped (again) if need be; null
// when refused or without room.
const unsigned char* ViewCache::viewReaching(std::int64_t slot, std::int64_t fileHigh, std::int64_t fileEnd) {
    const auto index = static_cast<std::size_t>(slot);
    if (views_.size() <= index) views_.resize(index + 1);
    const std::int64_t start = slot * viewBytes_;
    if (views_[index].bytes && start + views_[index].count >= fileHigh) {
        views_[index].lastUse = ++clock_;
        return views_[index].bytes;
    }
    release(views_[index]);  // short: the file grew past it (2)
    const std::int64_t count = std::min(viewBytes_, fileEnd - start);
    if (!makeRoom(count, slot)) return nullptr;
    const unsigned char* bytes = calls_.system().mapView(start, count);
    if (!bytes) {
        budget_.giveBack(count);
        noteRefusal();
        return nullptr;
    }
    refusals_ = 0;
    views_[index] = {bytes, count, ++clock_};
    mappedBytes_ += count;
    return bytes;
}

// Takes bytes of the budget for slot, letting this file's least recently used
// views go while they do not fit, once the slot was asked for in a row (5);
// false, with nothing taken, until then or when none is left.
bool ViewCache::makeRoom(std::int64_t bytes, std::int64_t slot) {
    if (budget_.tryTake(bytes)) return true;
    if (slot != askedSlot_ || clock_ != askedAt_) askedInARow_ = 0;
    askedSlot_ = slot;
    askedAt_ = clock_;
    if (++askedInARow_ < kAskedBeforeEviction) return false;
    askedInARow_ = 0;
    while (!budget_.tryTake(bytes)) {
        View* oldest = nullptr;
        for (View& view : views_) {
            if (view.bytes && (!oldest || view.lastUse < oldest->lastUse)) oldest = &view;
        }
        if (!oldest) return false;
        release(*oldest);
    }
    return true;
}

void ViewCache::noteRefusal() {
    refusals_ = std::min(refusals_ + 1, kMaxRetryShift);
    readsUntilRetry_ = 1 << refusals_;
}

void ViewCache::release(View& view) noexcept {
    if (!view.bytes) return;
    if (view.bytes == last_.bytes) last_ = LastLent{};
    calls_.system().unmapView(view.bytes, view.count);
    ++viewsLetGo_;
    budget_.giveBack(view.count);
    mappedBytes_ -= view.count;
    view = View{};
}

void ViewCache::releaseAll() noexcept {
    for (View& view : views_) release(view);
    views_.clear();
}

}  // namespace Tolm::detail
