#include "LayoutModel.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>

namespace bench {

namespace {

constexpr std::size_t kPageSize = 4096;
constexpr std::size_t kHeaderSize = 12;
constexpr std::size_t kDataSize = kPageSize - kHeaderSize;
constexpr std::size_t kGroup = 5;
constexpr std::size_t kBlockBytes = 4u << 20;

// The n-th page handed out (from 0) on a new store: 5, 4, 3, 2, 1, 10, ...
std::size_t pageTaken(std::size_t n) { return n / kGroup * kGroup + kGroup - n % kGroup; }
// When page was handed out: the inverse of pageTaken (page 5 first, page 1 fifth).
std::size_t takenAt(std::size_t page) { return pageTaken(page - 1) - 1; }

void put32(unsigned char* at, std::uint32_t value) { std::memcpy(at, &value, 4); }
std::uint32_t get32(const unsigned char* at) {
    std::uint32_t value;
    std::memcpy(&value, at, 4);
    return value;
}

struct Layout {
    std::size_t size, count, pagesPerRecord;
    std::size_t firstPage(std::size_t record) const { return pageTaken(record * pagesPerRecord); }
    std::size_t slots() const { return count * pagesPerRecord + kGroup + 1; }
};

// Slot `page` as the store leaves it: header and data of the record page it
// holds, zero where nothing was written.
void fillSlot(const Layout& layout, std::size_t page, unsigned char* slot,
              const std::function<const unsigned char*(std::size_t)>& recordBytes) {
    std::memset(slot, 0, kPageSize);
    if (page == 0) return;
    const std::size_t n = takenAt(page);
    const std::size_t record = n / layout.pagesPerRecord, place = n % layout.pagesPerRecord;
    if (record >= layout.count) return;
    const bool isLast = place == layout.pagesPerRecord - 1;
    const std::size_t used = isLast ? layout.size - place * kDataSize : kDataSize;
    put32(slot, isLast ? 0xFFFFFFFFu : static_cast<std::uint32_t>(pageTaken(n + 1)));
    put32(slot + 4, static_cast<std::uint32_t>(used));
    put32(slot + 8, place == 0 ? static_cast<std::uint32_t>(layout.size) : 0xFFFFFFFFu);
    std::memcpy(slot + kHeaderSize, recordBytes(record) + place * kDataSize, used);
}

}  // namespace

ModelSeconds runLayoutModel(const char* path, std::size_t size, std::size_t count,
                            const std::function<const unsigned char*(std::size_t)>& recordBytes,
                            const std::vector<std::size_t>& order, const std::function<double()>& clock) {
    const Layout layout{size, count, (size - 1) / kDataSize + 1};
    const int fd = ::open(path, O_RDWR | O_CREAT | O_TRUNC, 0600);
    if (fd < 0) throw std::runtime_error(std::string("cannot open ") + path);
    ModelSeconds seconds;

    const std::size_t fileBytes = layout.slots() * kPageSize;
    std::vector<unsigned char> block(kBlockBytes);
    // Written twice, timed the second time: a machine's memory that no page
    // has used yet (a new virtual machine's) costs far more on first touch
    // than the page cache's recycled pages the engines then write into.
    for (const bool timed : {false, true}) {
        if (timed && ::ftruncate(fd, 0) != 0) throw std::runtime_error("cannot empty the model's file");
        for (std::size_t low = 0; low < fileBytes; low += kBlockBytes) {
            const std::size_t bytes = std::min(kBlockBytes, fileBytes - low);
            for (std::size_t at = 0; at < bytes; at += kPageSize)
                fillSlot(layout, (low + at) / kPageSize, block.data() + at, recordBytes);
            const double start = clock();
            if (::pwrite(fd, block.data(), bytes, static_cast<off_t>(low)) != static_cast<ssize_t>(bytes))
                throw std::runtime_error("short write");
            if (timed) seconds.write += clock() - start;
        }
    }

    void* map = ::mmap(nullptr, fileBytes, PROT_READ, MAP_SHARED | MAP_POPULATE, fd, 0);
    if (map == MAP_FAILED) throw std::runtime_error("cannot map the model's file");
    const auto* file = static_cast<const unsigned char*>(map);
    std::vector<unsigned char> out(size);
    unsigned sum = 0;
    double start = clock();
    for (std::size_t record : order) {
        std::size_t page = layout.firstPage(record), done = 0;
        for (;;) {
            const unsigned char* slot = file + page * kPageSize;
            const std::uint32_t next = get32(slot), used = get32(slot + 4);
            std::memcpy(out.data() + done, slot + kHeaderSize, used);
            done += used;
            if (next == 0xFFFFFFFFu) break;
            page = next;
        }
        sum += out[done - 1];
    }
    seconds.read = clock() - start;
    // The last record read must come back as written, or the line is no limit.
    if (!order.empty() && std::memcmp(out.data(), recordBytes(order.back()), size) != 0)
        throw std::runtime_error("the layout model read back other bytes than it wrote");

    std::vector<std::uint32_t> freePages;
    freePages.reserve(layout.slots());
    start = clock();
    for (std::size_t record : order) {
        std::uint32_t page = static_cast<std::uint32_t>(layout.firstPage(record));
        for (;;) {
            freePages.push_back(page);
            const std::uint32_t next = get32(file + std::size_t{page} * kPageSize);
            if (next == 0xFFFFFFFFu) break;
            page = next;
        }
    }
    seconds.free = clock() - start;
    ::munmap(map, fileBytes);
    ::close(fd);
    ::unlink(path);
    if (sum == 1 && freePages.empty()) throw std::runtime_error("unreachable");  // keeps the copies
    return seconds;
}

}  // namespace bench
