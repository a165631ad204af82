// The limit line of the record store's benchmark: its file layout driven by
// plain C calls, with nothing but the work the layout itself demands.
//
// Pages of pageSize bytes, a 12-byte header (next page, used size, record
// size) and data; pages handed out as the store hands them out on a new
// store: groups of five taken 5, 4, 3, 2, 1, then 10 .. 6, and so on.
//   write  the file image is made block by block, and each 4 MiB block goes
//          to the page cache with one pwrite; only the pwrites are timed, of
//          a second pass after the file was emptied (the first one touches
//          memory the page cache may never have used)
//   read   the file, warm in the page cache, mapped (and its pages entered
//          into the map) before the clock starts; a read walks the chain and
//          copies each page's data into a buffer reused from record to record
//   free   a free walks the chain's headers through the map and pushes the
//          page numbers on a stack
#pragma once

#include <cstddef>
#include <functional>
#include <vector>

namespace bench {

struct ModelSeconds {
    double write = 0, read = 0, free = 0;
};

// Runs the three phases over records[i] = recordBytes(i), each `size` bytes,
// read and freed in `order`, in a file at path (removed afterwards). clock
// gives the time in seconds.
ModelSeconds runLayoutModel(const char* path, std::size_t size, std::size_t count,
                            const std::function<const unsigned char*(std::size_t)>& recordBytes,
                            const std::vector<std::size_t>& order, const std::function<double()>& clock);

}  // namespace bench
