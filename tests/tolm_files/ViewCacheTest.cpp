// Reads of a nameless file through views, over a file in memory that keeps
// Windows' rules for them: no view past the file's end, no cut under a mapped
// view. The file window is checked against a byte-vector model; the view cache
// alone for its budget of address space and the order views go in.
#include "FileWindow.h"
#include "ViewCache.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <memory>
#include <random>
#include <vector>

namespace {

using Tolm::detail::FileCalls;
using Tolm::detail::FileWindow;
using Tolm::detail::SystemFile;
using Tolm::detail::SystemFileStatus;
using Tolm::detail::ViewBudget;
using Tolm::detail::ViewCache;
using Bytes = std::vector<unsigned char>;

constexpr std::int64_t kKiB = 1024;
constexpr std::int64_t kMiB = 1024 * kKiB;

// What the test watches of one file after the window took it over.
struct Disk {
    // Reserved once, so that a view stays where it was while the file grows.
    static constexpr std::size_t kRoom = 8 << 20;
    Disk() { bytes.reserve(kRoom); }
    explicit Disk(std::int64_t length) : Disk() {
        bytes.resize(static_cast<std::size_t>(length));
        for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<unsigned char>(i * 7 + i / 251);
    }

    Bytes bytes;
    bool hasName = false;
    int refuseNextViews = 0;
    bool refuseEveryView = false;
    int readCalls = 0;
    int viewRequests = 0;
    int viewsPastEnd = 0;
    int refusedCuts = 0;
    std::int64_t mappedBytes = 0;
    std::map<const unsigned char*, std::pair<std::int64_t, std::int64_t>> views;  // offset, count
    std::vector<std::int64_t> unmappedOffsets;
};

// Windows' rules: a view begins at a multiple of the allocation granularity
// and ends at or before the file's end; a file is not cut while a view of it
// is mapped.
class WindowsRulesFile final : public SystemFile {
public:
    explicit WindowsRulesFile(Disk& disk) : disk_(disk) {}
    std::int64_t readAt(void* bytes, std::int64_t count, std::int64_t offset, int&) override {
        ++disk_.readCalls;
        const auto size = static_cast<std::int64_t>(disk_.bytes.size());
        const std::int64_t n = offset >= size ? 0 : std::min(count, size - offset);
        if (n > 0) std::memcpy(bytes, disk_.bytes.data() + offset, static_cast<std::size_t>(n));
        return n;
    }
    std::int64_t writeAt(const void* bytes, std::int64_t count, std::int64_t offset, int& error) override {
        if (static_cast<std::size_t>(offset + count) > Disk::kRoom) {
            error = EFBIG;
            return -1;
        }
        if (disk_.bytes.size() < static_cast<std::size_t>(offset + count))
            disk_.bytes.resize(static_cast<std::size_t>(offset + count));
        std::memcpy(disk_.bytes.data() + offset, bytes, static_cast<std::size_t>(count));
        return count;
    }
    int setLength(std::int64_t length) override {
        if (static_cast<std::size_t>(length) > Disk::kRoom) return EFBIG;
        if (!disk_.views.empty() && static_cast<std::size_t>(length) < disk_.bytes.size()) {
            ++disk_.refusedCuts;
            return EACCES;
        }
        disk_.bytes.resize(static_cast<std::size_t>(length));
        return 0;
    }
    int status(SystemFileStatus& status) override {
        status.isRegular = true;
        status.hasName = disk_.hasName;
        status.length = static_cast<std::int64_t>(disk_.bytes.size());
        return 0;
    }
    int close() override { return 0; }
    const unsigned char* mapView(std::int64_t offset, std::int64_t count) override {
        ++disk_.viewRequests;
        if (offset + count > static_cast<std::int64_t>(disk_.bytes.size())) {
            ++disk_.viewsPastEnd;
            return nullptr;
        }
        if (offset % viewAlignment() != 0 || count <= 0) return nullptr;
        if (disk_.refuseEveryView) return nullptr;
        if (disk_.refuseNextViews > 0) {
            --disk_.refuseNextViews;
            return nullptr;
        }
        // A view of its own address, so that a wrong unmap is seen.
        const unsigned char* view = disk_.bytes.data() + offset;
        EXPECT_EQ(0u, disk_.views.count(view)) << "mapped twice at " << offset;
        disk_.views[view] = {offset, count};
        disk_.mappedBytes += count;
        return view;
    }
    void unmapView(const unsigned char* view, std::int64_t count) override {
        const auto found = disk_.views.find(view);
        ASSERT_NE(disk_.views.end(), found) << "unmapped what was not mapped";
        EXPECT_EQ(found->second.second, count) << "unmapped with another size";
        disk_.unmappedOffsets.push_back(found->second.first);
        disk_.mappedBytes -= count;
        disk_.views.erase(found);
    }
    std::int64_t viewAlignment() const override { return 64 * kKiB; }

private:
    Disk& disk_;
};

// A window over disk, for reading and writing, as CFile makes one.
std::unique_ptr<FileWindow> OpenWindow(Disk& disk) {
    return std::make_unique<FileWindow>(u"/fake/store", std::make_unique<WindowsRulesFile>(disk), true, true,
                                        static_cast<std::int64_t>(disk.bytes.size()));
}

Bytes ReadAt(FileWindow& window, std::int64_t at, int count) {
    Bytes got(static_cast<std::size_t>(count));
    window.moveTo(at);
    got.resize(static_cast<std::size_t>(window.read(got.data(), count)));
    return got;
}
Bytes Slice(const Bytes& bytes, std::int64_t at, std::int64_t count) {
    const auto end = std::min<std::int64_t>(at + count, static_cast<std::int64_t>(bytes.size()));
    return at >= end ? Bytes{} : Bytes(bytes.begin() + at, bytes.begin() + end);
}
// Offsets far enough apart that no read finds its bytes in the window.
std::int64_t ScatteredOffset(int i) {
    return (static_cast<std::int64_t>(i) * 300 * kKiB + 12345) % (3 * kMiB);
}

TEST(FileWindowViews, FileSmallerThanOneViewIsReadThroughViews) {
    Disk disk(3 * kMiB + 100);
    auto window = OpenWindow(disk);
    for (int i = 0; i < 8; ++i) {
        const std::int64_t at = ScatteredOffset(i);
        EXPECT_EQ(Slice(disk.bytes, at, 100), ReadAt(*window, at, 100)) << "at " << at;
    }
    EXPECT_EQ(Slice(disk.bytes, 3 * kMiB + 90, 10), ReadAt(*window, 3 * kMiB + 90, 50));
    EXPECT_EQ(0, disk.readCalls);
    EXPECT_EQ(0, disk.viewsPastEnd);
    window->close();
    EXPECT_TRUE(disk.views.empty());
}

// Its own writes move the file's end; the bytes beyond the old end are read
// through a view again, mapped anew up to the new end.
TEST(FileWindowViews, GrownFileIsReadThroughViewsPastItsOldEnd) {
    Disk disk(1 * kMiB);
    auto window = OpenWindow(disk);
    EXPECT_EQ(Slice(disk.bytes, 1000, 10), ReadAt(*window, 1000, 10));
    const Bytes more(300 * kKiB, 'm');  // straight to the disk, unknown to the window
    for (int round = 0; round < 3; ++round) {
        const std::int64_t end = window->lengthAsKnown();
        window->moveTo(end);
        window->write(more.data(), static_cast<int>(more.size()));
        EXPECT_EQ(Bytes(10, 'm'), ReadAt(*window, end + 1000, 10)) << "round " << round;
        EXPECT_EQ(Slice(disk.bytes, 2000, 10), ReadAt(*window, 2000, 10)) << "round " << round;
    }
    EXPECT_EQ(0, disk.readCalls);
    EXPECT_EQ(0, disk.viewsPastEnd);
    EXPECT_EQ(1u, disk.views.size()) << "the short view was let go when mapped anew";
}

TEST(FileWindowViews, RefusedViewIsTriedAgainLater) {
    Disk disk(3 * kMiB);
    disk.refuseNextViews = 1;
    auto window = OpenWindow(disk);
    EXPECT_EQ(Slice(disk.bytes, 5000, 10), ReadAt(*window, 5000, 10));
    EXPECT_LT(0, disk.readCalls) << "read at an offset after the refusal";
    for (int i = 1; i < 8; ++i) ReadAt(*window, ScatteredOffset(i), 10);
    const int readCallsBefore = disk.readCalls;
    for (int i = 0; i < 8; ++i) {
        const std::int64_t at = ScatteredOffset(i) + 777;
        EXPECT_EQ(Slice(disk.bytes, at, 10), ReadAt(*window, at, 10)) << "at " << at;
    }
    EXPECT_EQ(readCallsBefore, disk.readCalls) << "views again";
}

// A system that never gives a view is asked ever more rarely.
TEST(FileWindowViews, SystemThatAlwaysRefusesIsAskedRarely) {
    Disk disk(3 * kMiB);
    disk.refuseEveryView = true;
    auto window = OpenWindow(disk);
    for (int i = 0; i < 4000; ++i) {
        const std::int64_t at = ScatteredOffset(i) + i % 97;
        ASSERT_EQ(Slice(disk.bytes, at, 10), ReadAt(*window, at, 10)) << "at " << at;
    }
    EXPECT_LE(disk.viewRequests, 16);
}

// A file that keeps its name is read at an offset, and asked again later:
// it may lose the name.
TEST(FileWindowViews, NamedFileIsReadAtAnOffsetUntilItLosesItsName) {
    Disk disk(3 * kMiB);
    disk.hasName = true;
    auto window = OpenWindow(disk);
    for (int i = 0; i < 4; ++i) ReadAt(*window, ScatteredOffset(i), 10);
    EXPECT_EQ(0, disk.viewRequests);
    disk.hasName = false;
    for (int i = 0; i < 600; ++i) ReadAt(*window, ScatteredOffset(i), 10);
    EXPECT_LT(0, disk.viewRequests);
}

// A seeded mix of reads, writes, cuts, lengthenings and flushes, with views
// refused now and then: every read equals the model, every flush leaves the
// disk equal to it, and no view is ever asked past the file's end or stands
// in the way of a cut.
TEST(FileWindowViews, RandomOperationsWithRefusedViewsMatchByteVectorModel) {
    for (unsigned seed : {1u, 2u, 3u}) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        std::mt19937_64 random(seed);
        auto below = [&](std::int64_t n) { return static_cast<std::int64_t>(random() % n); };
        Disk disk(below(2 * kMiB));
        Bytes model = disk.bytes;
        auto window = OpenWindow(disk);
        auto pickSize = [&] {  // straight to the disk, within a window, a page, a few bytes
            const std::int64_t sizes[] = {256 * kKiB + below(100000), below(70000), 4096, 1 + below(16)};
            return static_cast<int>(sizes[below(4)]);
        };
        for (int step = 0; step < 1500; ++step) {
            const auto size = static_cast<std::int64_t>(model.size());
            const std::int64_t action = below(20);
            const std::int64_t at = std::min(below(size + 8192), 5 * kMiB);
            if (action < 10) {
                const int count = pickSize();
                ASSERT_EQ(Slice(model, at, count), ReadAt(*window, at, count))
                    << "step " << step << " at " << at;
            } else if (action < 15) {
                Bytes bytes(static_cast<std::size_t>(pickSize()));
                for (auto& byte : bytes) byte = static_cast<unsigned char>(random());
                window->moveTo(at);
                window->write(bytes.data(), static_cast<int>(bytes.size()));
                model.resize(std::max(model.size(), static_cast<std::size_t>(at) + bytes.size()), 0);
                std::copy(bytes.begin(), bytes.end(), model.begin() + at);
            } else if (action < 17) {
                const std::int64_t length =
                    std::clamp<std::int64_t>(size + below(600000) - 300000, 0, 6 * kMiB);
                window->setLength(length);
                model.resize(static_cast<std::size_t>(length), 0);
            } else if (action < 18) {
                disk.refuseNextViews = static_cast<int>(1 + below(3));
            } else {
                window->flush();
                ASSERT_EQ(model, disk.bytes) << "disk after flush, step " << step;
            }
            ASSERT_EQ(static_cast<std::int64_t>(model.size()), window->lengthAsKnown());
        }
        window->close();
        EXPECT_EQ(model, disk.bytes);
        EXPECT_EQ(0, disk.viewsPastEnd);
        EXPECT_EQ(0, disk.refusedCuts);
        EXPECT_TRUE(disk.views.empty());
        EXPECT_FALSE(disk.unmappedOffsets.empty()) << "read through views at all";
    }
}

// Bytes lent by the window: where they lie, or through scratch; and a sample
// of the bytes lent around them (those next to them and some further off),
// by their offsets.
struct Lent {
    Bytes bytes;
    const unsigned char* where;
    std::vector<std::pair<std::int64_t, unsigned char>> around;
    bool isInView = false;
};
Lent LendAt(FileWindow& window, std::int64_t at, int count, Bytes& scratch) {
    scratch.assign(static_cast<std::size_t>(count), 0);
    const FileWindow::Lent lent = window.lend(at, count, scratch.data());
    Lent result{Bytes(lent.bytes, lent.bytes + lent.count), lent.bytes, {}, lent.isInView};
    const std::int64_t low = -lent.before, high = lent.count + lent.after;
    for (std::int64_t k = low; k < high; k += k < -4096 || k >= lent.count + 4096 ? 65537 : 509)
        result.around.emplace_back(at + k, lent.bytes[k]);
    if (high > low) result.around.emplace_back(at + high - 1, lent.bytes[high - 1]);
    return result;
}
std::vector<std::pair<std::int64_t, unsigned char>> Around(const Bytes& model, const Lent& lent) {
    std::vector<std::pair<std::int64_t, unsigned char>> expected;
    for (const auto& [at, byte] : lent.around)
        expected.emplace_back(at, at < static_cast<std::int64_t>(model.size()) ? model[at] : '?');
    return expected;
}
bool IsWithin(const unsigned char* where, const Bytes& bytes) {
    return where >= bytes.data() && where < bytes.data() + bytes.size();
}

// A lend copies nothing where the bytes lie in one piece: in a view of a
// nameless file (with the rest of the view around them), in the window when
// it holds them dirty (the newest bytes, not written out for the lend). In a
// file with a name they come from the window, or through scratch past its
// reach; at the end fewer.
TEST(FileWindowLends, BytesComeFromWhereTheyLieAndThroughScratchOtherwise) {
    Disk disk(3 * kMiB);
    auto window = OpenWindow(disk);
    Bytes scratch;
    const Lent fromView = LendAt(*window, 5000, 100, scratch);
    EXPECT_EQ(Slice(disk.bytes, 5000, 100), fromView.bytes);
    EXPECT_EQ(disk.bytes.data() + 5000, fromView.where) << "a pointer into the view";

    const Bytes newer(4096, 'n');
    window->moveTo(200 * kKiB);
    window->write(newer.data(), static_cast<int>(newer.size()));
    const Bytes before = disk.bytes;
    const Lent dirty = LendAt(*window, 200 * kKiB + 10, 100, scratch);
    EXPECT_EQ(Bytes(100, 'n'), dirty.bytes);
    EXPECT_FALSE(IsWithin(dirty.where, disk.bytes) || IsWithin(dirty.where, scratch));
    EXPECT_EQ(before, disk.bytes) << "nothing written out for a lend the window serves";
    EXPECT_EQ(200 * kKiB + 4096, window->position()) << "a lend does not move the position";

    // Straddling the window's dirty bytes: written out, then lent from the view.
    const Lent around = LendAt(*window, 200 * kKiB - 50, 100, scratch);
    Bytes expected = Slice(before, 200 * kKiB - 50, 50);
    expected.insert(expected.end(), 50, 'n');
    EXPECT_EQ(expected, around.bytes);
    EXPECT_TRUE(IsWithin(around.where, disk.bytes));

    // Lent from a view, the bytes around are lent too, the whole view below
    // the file's end, and current: dirty bytes of the window there are
    // written out first.
    window->moveTo(kMiB);
    window->write(newer.data(), static_cast<int>(newer.size()));
    const FileWindow::Lent withView = window->lend(5000, 100, scratch.data());
    ASSERT_EQ(disk.bytes.data() + 5000, withView.bytes);
    EXPECT_EQ(5000, withView.before);
    EXPECT_EQ(3 * kMiB - 5100, withView.after);
    EXPECT_EQ(newer, Bytes(withView.bytes - 5000 + kMiB, withView.bytes - 5000 + kMiB + 4096));

    const Lent atEnd = LendAt(*window, 3 * kMiB - 30, 100, scratch);
    EXPECT_EQ(Slice(disk.bytes, 3 * kMiB - 30, 30), atEnd.bytes);
    EXPECT_TRUE(LendAt(*window, 3 * kMiB + 5, 10, scratch).bytes.empty());
    EXPECT_EQ(0, disk.readCalls);
    EXPECT_EQ(0, disk.viewsPastEnd);

    Disk named(3 * kMiB);
    named.hasName = true;
    auto namedWindow = OpenWindow(named);
    const Lent small = LendAt(*namedWindow, 7000, 100, scratch);
    EXPECT_EQ(Slice(named.bytes, 7000, 100), small.bytes);
    EXPECT_FALSE(IsWithin(small.where, named.bytes)) << "from the window, not a view";
    const Lent large = LendAt(*namedWindow, 100, 300 * kKiB, scratch);
    EXPECT_EQ(Slice(named.bytes, 100, 300 * kKiB), large.bytes);
    EXPECT_EQ(scratch.data(), large.where) << "too large for the window: read into scratch";
    EXPECT_EQ(0, named.viewRequests);
}

// A prefetch is a hint alone: it maps nothing, reads nothing and lets no
// view go, inside the last lend's view or anywhere else, open or closed.
TEST(FileWindowLends, APrefetchChangesNothingALendSees) {
    Disk disk(3 * kMiB);
    auto window = OpenWindow(disk);
    Bytes scratch(100);
    const FileWindow::Lent lent = window->lend(5000, 100, scratch.data());
    const Bytes before(lent.bytes, lent.bytes + lent.count);
    const int viewRequests = disk.viewRequests;
    for (const std::int64_t at : {std::int64_t{0}, std::int64_t{8192}, 3 * kMiB - 1, 3 * kMiB, 100 * kMiB})
        window->prefetch(at);
    EXPECT_EQ(before, Bytes(lent.bytes, lent.bytes + lent.count));
    EXPECT_EQ(viewRequests, disk.viewRequests);
    EXPECT_EQ(0, disk.readCalls);
    window->close();
    window->prefetch(5000);
    EXPECT_TRUE(disk.views.empty());
}

// Lends mixed into the byte-vector model's random operations, for a file
// with a name (the window alone) and without (views, refused now and then):
// every lend equals the model and leaves the position alone. A lend from a
// view stays good through later lends while no view was let go: it still
// lies in a mapped view and still equals the model.
TEST(FileWindowLends, RandomLendsWritesAndCutsMatchByteVectorModel) {
    for (const bool hasName : {false, true}) {
        for (unsigned seed : {4u, 5u}) {
            SCOPED_TRACE(std::string(hasName ? "named" : "nameless") + ", seed " + std::to_string(seed));
            std::mt19937_64 random(seed);
            auto below = [&](std::int64_t n) { return static_cast<std::int64_t>(random() % n); };
            Disk disk(below(2 * kMiB));
            disk.hasName = hasName;
            Bytes model = disk.bytes;
            auto window = OpenWindow(disk);
            Bytes scratch;
            struct KeptLend {
                std::int64_t at;
                const unsigned char* where;
                int count;
                std::uint64_t viewsLetGo;
            };
            std::vector<KeptLend> kept;  // from views, since the last call other than a lend
            int keptChecks = 0;
            for (int step = 0; step < 1500; ++step) {
                const auto size = static_cast<std::int64_t>(model.size());
                const std::int64_t action = below(20);
                const std::int64_t at = std::min(below(size + 8192), 5 * kMiB);
                const std::int64_t sizes[] = {256 * kKiB + below(100000), below(70000), 4096, 1 + below(16)};
                const int count = static_cast<int>(sizes[below(4)]);
                if (action >= 10) kept.clear();
                if (action < 10) {
                    const std::int64_t position = window->position();
                    const Lent lent = LendAt(*window, at, count, scratch);
                    ASSERT_EQ(Slice(model, at, count), lent.bytes) << "step " << step << " at " << at;
                    ASSERT_EQ(Around(model, lent), lent.around) << "step " << step << " at " << at;
                    ASSERT_EQ(position, window->position());
                    ASSERT_TRUE(!lent.isInView || IsWithin(lent.where, disk.bytes)) << "step " << step;
                    std::erase_if(kept,
                                  [&](const KeptLend& k) { return k.viewsLetGo != window->viewsLetGo(); });
                    for (const KeptLend& k : kept) {
                        const bool isMapped =
                            std::any_of(disk.views.begin(), disk.views.end(), [&](const auto& v) {
                                return k.where >= v.first && k.where + k.count <= v.first + v.second.second;
                            });
                        ASSERT_TRUE(isMapped) << "a kept lend's view was let go, step " << step;
                        ASSERT_EQ(Slice(model, k.at, k.count), Bytes(k.where, k.where + k.count))
                            << "step " << step;
                        ++keptChecks;
                    }
                    if (lent.isInView && !lent.bytes.empty())
                        kept.push_back(
                            {at, lent.where, static_cast<int>(lent.bytes.size()), window->viewsLetGo()});
                } else if (action < 15) {
                    Bytes bytes(static_cast<std::size_t>(count));
                    for (auto& byte : bytes) byte = static_cast<unsigned char>(random());
                    window->moveTo(at);
                    window->write(bytes.data(), count);
                    model.resize(std::max(model.size(), static_cast<std::size_t>(at) + bytes.size()), 0);
                    std::copy(bytes.begin(), bytes.end(), model.begin() + at);
                } else if (action < 17) {
                    const std::int64_t length =
                        std::clamp<std::int64_t>(size + below(600000) - 300000, 0, 6 * kMiB);
                    window->setLength(length);
                    model.resize(static_cast<std::size_t>(length), 0);
                } else if (action < 18) {
                    disk.refuseNextViews = static_cast<int>(1 + below(3));
                } else {
                    window->flush();
                    ASSERT_EQ(model, disk.bytes) << "disk after flush, step " << step;
                }
            }
            window->close();
            EXPECT_EQ(model, disk.bytes);
            EXPECT_EQ(0, disk.viewsPastEnd);
            EXPECT_EQ(0, disk.refusedCuts);
            EXPECT_EQ(hasName, disk.unmappedOffsets.empty()) << "views for the nameless file alone";
            EXPECT_EQ(hasName, keptChecks == 0) << "lends kept from views, for the nameless file alone";
        }
    }
}

// The view cache alone, with views of kSmallView bytes, so that a file of a
// few MiB has many slots and a small budget runs out.
constexpr std::int64_t kSmallView = 64 * kKiB;

struct CachedFile {
    explicit CachedFile(std::int64_t length, ViewBudget& budget)
        : disk(length),
          calls(u"/fake/cached", std::make_unique<WindowsRulesFile>(disk)),
          views(calls, budget, kSmallView) {}
    // Through views, or empty when they cannot serve it.
    Bytes Read(std::int64_t at, std::int64_t count) {
        Bytes got(static_cast<std::size_t>(count));
        if (!views.mayServe() ||
            !views.read(got.data(), at, count, static_cast<std::int64_t>(disk.bytes.size())))
            return {};
        return got;
    }
    Disk disk;
    FileCalls calls;
    ViewCache views;
};

// A lend is one pointer: bytes across two views are not lent (the window
// then reads them), and a lent pointer is the view's own.
TEST(ViewCache, LendsWithinOneViewOnly) {
    ViewBudget budget(4 * kSmallView);
    CachedFile file(3 * kSmallView, budget);
    ASSERT_TRUE(file.views.mayServe());
    const std::int64_t end = 3 * kSmallView;
    EXPECT_EQ(nullptr, file.views.lend(kSmallView - 10, 20, end));
    const unsigned char* lent = file.views.lend(kSmallView + 10, 20, end);
    EXPECT_EQ(file.disk.bytes.data() + kSmallView + 10, lent);
    EXPECT_EQ(file.disk.bytes.data() + kSmallView - 20, file.views.lend(kSmallView - 20, 20, end));
}

// With room for three views, a fourth slot read in a row lets the least
// recently used go; until then its reads go to reads at an offset.
TEST(ViewCache, LeastRecentlyUsedViewGoesWhenTheBudgetIsFull) {
    ViewBudget budget(3 * kSmallView);
    CachedFile file(8 * kSmallView, budget);
    const struct {
        std::int64_t slot;
        bool needsRoom;
    } reads[] = {{0, false}, {1, false}, {2, false}, {0, false}, {3, true}, {4, true}, {0, false}, {2, true}};
    for (const auto& [slot, needsRoom] : reads) {
        const std::int64_t at = slot * kSmallView + 100;
        for (int ask = 1; ask < ViewCache::kAskedBeforeEviction && needsRoom; ++ask)
            ASSERT_TRUE(file.Read(at + ask, 10).empty()) << "slot " << slot << ", read " << ask;
        ASSERT_EQ(Slice(file.disk.bytes, at, 10), file.Read(at, 10)) << "slot " << slot;
        ASSERT_LE(budget.used(), budget.limit());
    }
    const std::vector<std::int64_t> letGo = {1 * kSmallView, 2 * kSmallView, 3 * kSmallView};
    EXPECT_EQ(letGo, file.disk.unmappedOffsets);
    EXPECT_EQ(letGo.size(), file.views.viewsLetGo());
    EXPECT_EQ(3 * kSmallView, budget.used());
    file.views.releaseAll();
    EXPECT_EQ(0, budget.used());
    EXPECT_EQ(letGo.size() + 3, file.views.viewsLetGo());
}

// Reads at random over twice the slots the budget holds map few views beyond
// the first ones (a view let go for most reads cost a mapping, an unmapping
// and its faults each time), while a run through the file maps each slot once.
TEST(ViewCache, ReadsBeyondTheBudgetMapViewsForRunsNotForEachMiss) {
    ViewBudget budget(3 * kSmallView);
    CachedFile scattered(6 * kSmallView, budget);
    std::mt19937_64 random(11);
    int served = 0;
    for (int i = 0; i < 2000; ++i) {
        const auto at = static_cast<std::int64_t>(random() % (6 * kSmallView - 10));
        const Bytes got = scattered.Read(at, 10);
        if (got.empty()) continue;
        ++served;
        ASSERT_EQ(Slice(scattered.disk.bytes, at, 10), got) << "at " << at;
    }
    EXPECT_LT(scattered.disk.unmappedOffsets.size(), 20u);
    EXPECT_LT(2000 * 2 / 5, served) << "the slots mapped still serve their reads";
    scattered.views.releaseAll();

    CachedFile scanned(6 * kSmallView, budget);
    for (std::int64_t at = 0; at < 6 * kSmallView; at += 4096) scanned.Read(at, 4096);
    EXPECT_EQ(6, scanned.disk.viewRequests);
}

// A file whose budget another file holds whole reads at an offset, and maps
// views again once that file let them go; a read across two slots is served
// by both.
TEST(ViewCache, FileWithoutRoomReadsAtAnOffsetUntilRoomIsGiven) {
    ViewBudget budget(2 * kSmallView);
    CachedFile holder(4 * kSmallView, budget);
    CachedFile other(4 * kSmallView, budget);
    ASSERT_FALSE(holder.Read(kSmallView - 5, 10).empty());
    EXPECT_EQ(budget.limit(), budget.used());
    EXPECT_TRUE(other.Read(100, 10).empty());
    EXPECT_EQ(0, other.disk.viewRequests) << "no view asked without room";
    holder.views.releaseAll();
    EXPECT_EQ(Slice(other.disk.bytes, kSmallView - 5, 10), other.Read(kSmallView - 5, 10));
}

// Two files read at random through one small budget while they grow: every
// read equals the file, the budget holds exactly what is mapped and never
// more than its limit, and no view reaches past a file's end.
TEST(ViewCache, RandomReadsOfGrowingFilesStayExactAndWithinTheBudget) {
    std::mt19937_64 random(7);
    auto below = [&](std::int64_t n) { return static_cast<std::int64_t>(random() % n); };
    ViewBudget budget(5 * kSmallView + 1000);  // room for five whole views, or more short ones
    CachedFile a(1000, budget);
    CachedFile b(3 * kSmallView + 17, budget);
    int reads = 0;
    int served = 0;
    for (int step = 0; step < 3000; ++step) {
        CachedFile& file = below(2) ? a : b;
        const auto size = static_cast<std::int64_t>(file.disk.bytes.size());
        if (below(10) == 0 && size < 40 * kSmallView) {
            file.disk.bytes.resize(static_cast<std::size_t>(size + below(kSmallView)), 0x5a);
            continue;
        }
        if (below(50) == 0) file.disk.refuseNextViews = 1;
        const std::int64_t at = below(size);
        const std::int64_t count = 1 + below(std::min<std::int64_t>(size - at, 2 * kSmallView));
        const Bytes got = file.Read(at, count);
        ++reads;
        if (!got.empty()) {
            ++served;
            ASSERT_EQ(Slice(file.disk.bytes, at, count), got) << "step " << step << " at " << at;
        }
        ASSERT_EQ(budget.used(), a.disk.mappedBytes + b.disk.mappedBytes);
        ASSERT_LE(budget.used(), budget.limit());
    }
    EXPECT_LT(reads / 20, served) << "reads through views";
    EXPECT_EQ(0, a.disk.viewsPastEnd + b.disk.viewsPastEnd);
}

}  // namespace
