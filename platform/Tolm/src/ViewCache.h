// Read-only views of one file, for the reads its write-back window does not
// know: slots of kViewBytes mapped when first needed and kept, within the
// process's budget of address space, by the rules (1)-(6) of ViewCache.cpp.
// Private to Tolmbase (exported for the framework's own tests); one per open
// file, not thread-safe (the budget it shares is).
#pragma once

#include "FileCalls.h"
#include "ViewBudget.h"

#include <cstdint>
#include <vector>

namespace Tolm::detail {

class TOLM_API ViewCache {
public:
    // Large, so that few views cover a store; small enough that a 32-bit
    // process holds several within its budget.
    static constexpr std::int64_t kViewBytes = 64 << 20;
    // Reads in a row that a slot without a view must ask for before a view
    // of this file is let go to make room for it (rule 5).
    static constexpr int kAskedBeforeEviction = 8;

    // viewBytes must be a power of two and a multiple of the file's
    // viewAlignment() (views are off otherwise); tests pass small ones, with
    // a small budget.
    explicit ViewCache(FileCalls& calls, ViewBudget& budget = ViewBudget::forProcess(),
                       std::int64_t viewBytes = kViewBytes);
    ~ViewCache() { releaseAll(); }
    ViewCache(const ViewCache&) = delete;
    ViewCache& operator=(const ViewCache&) = delete;

    // True when views may serve the read about to be made (rules 1 and 4);
    // call once per read, before read().
    bool mayServe() {
        if (isEligible_ && readsUntilRetry_ == 0 && !isNeverMapped_ && calls_.isOpen()) return true;
        return mayServeAfterChecks();
    }
    // Copies the file bytes [fileLow, fileLow + count) from views, the file
    // ending at fileEnd on the disk (fileLow + count <= fileEnd); false when
    // views cannot serve them now, with target partly written.
    bool read(unsigned char* target, std::int64_t fileLow, std::int64_t count, std::int64_t fileEnd);
    // As read, without the copy: where the bytes lie in their view, good
    // until the next call of this object; null when views cannot serve them
    // now or they lie across two views. A mapped view that holds them is
    // found inline.
    const unsigned char* lend(std::int64_t fileLow, std::int64_t count, std::int64_t fileEnd) {
        const auto slot = static_cast<std::size_t>(fileLow >> viewShift_);
        const std::int64_t inView = fileLow & (viewBytes_ - 1);
        if (slot < views_.size() && inView + count <= views_[slot].count) return lentFrom(slot, inView);
        return lendFromSlot(fileLow, count, fileEnd);
    }
    // The file bytes the view of the last lend holds (none after a release
    // of it): all of them may be read as the lent ones, until the next call.
    FileRange lastLent() const { return {last_.low, last_.high}; }
    // A hint: the first bytes at fileLow are fetched into the processor's
    // cache when a view already mapped holds them. Maps nothing and lets no
    // view go, so bytes lent before stay good.
    void prefetch(std::int64_t fileLow) const {
        const auto slot = static_cast<std::size_t>(fileLow >> viewShift_);
        const std::int64_t inView = fileLow & (viewBytes_ - 1);
        if (slot < views_.size() && inView < views_[slot].count)
            __builtin_prefetch(views_[slot].bytes + inView);
    }
    // Lets every view go: before a cut, and before the file closes.
    void releaseAll() noexcept;
    std::int64_t mappedBytes() const { return mappedBytes_; }
    // Views let go so far: a lend from a view stays good while this holds.
    std::uint64_t viewsLetGo() const noexcept { return viewsLetGo_; }

private:
    struct View {
        const unsigned char* bytes = nullptr;
        std::int64_t count = 0;
        std::uint64_t lastUse = 0;
    };
    bool mayServeAfterChecks();
    const unsigned char* lentFrom(std::size_t slot, std::int64_t inView) {
        View& view = views_[slot];
        view.lastUse = ++clock_;
        const std::int64_t low = static_cast<std::int64_t>(slot) << viewShift_;
        last_ = {low, low + view.count, view.bytes};
        return view.bytes + inView;
    }
    const unsigned char* lendFromSlot(std::int64_t fileLow, std::int64_t count, std::int64_t fileEnd);
    const unsigned char* viewReaching(std::int64_t slot, std::int64_t fileHigh, std::int64_t fileEnd);
    bool makeRoom(std::int64_t bytes, std::int64_t slot);
    void release(View& view) noexcept;
    void noteRefusal();

    // The view of the last lend: the bytes around the lent ones.
    struct LastLent {
        std::int64_t low = 0, high = 0;  // file bytes the view holds
        const unsigned char* bytes = nullptr;
    };

    FileCalls& calls_;
    ViewBudget& budget_;
    LastLent last_;
    const std::int64_t viewBytes_;
    const int viewShift_;      // viewBytes_ is 1 << viewShift_ where views are used
    std::vector<View> views_;  // by slot: offset >> viewShift_
    std::int64_t mappedBytes_ = 0;
    std::uint64_t clock_ = 0;  // ticks once per use, for least recently used
    std::uint64_t viewsLetGo_ = 0;
    bool isEligible_ = false;  // seen regular and nameless (rule 1)
    bool isNeverMapped_ = false;
    int readsUntilNameCheck_ = 0;
    int refusals_ = 0;  // in a row
    int readsUntilRetry_ = 0;
    // The slot last asked for without room, how often in a row, and the
    // clock then (a view used since breaks the row).
    std::int64_t askedSlot_ = -1;
    int askedInARow_ = 0;
    std::uint64_t askedAt_ = 0;
};

}  // namespace Tolm::detail
