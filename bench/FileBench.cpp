// CFile against plain pread/pwrite of the same bytes, on the record store's
// pattern and on a sequential write.
//
// The store's pattern, per 4 KiB page: a seek, three 4-byte header words and
// one 4084-byte data write (reads likewise); pages in descending order within
// each group of five (5,4,3,2,1, 10,9,8,7,6, ...), the file lengthened by five
// pages before each group. Peers:
//   Pwrite/PreadPerCall  one system call per CFile call an unbuffered file
//                        would make (3 header words and the data apart)
//   Pwrite/PreadPerPage  one system call per page, header and data together:
//                        the best an unbuffered store could do
// Counters: bytes/s, and system calls per page ("calls/page") or per MiB.
#include <Tolm/File.h>

#include "CountingPort.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr int kPageSize = 4096;
constexpr int kHeaderSize = 12;
constexpr int kDataSize = kPageSize - kHeaderSize;
constexpr int kPagesPerGroup = 5;

const std::string& BenchFolder() {
    static const std::string folder = [] {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/tolm-filebench-XXXXXX";
        if (::mkdtemp(pattern.data()) == nullptr) std::abort();
        std::atexit([] { std::system(("rm -rf '" + BenchFolder() + "'").c_str()); });
        return pattern;
    }();
    return folder;
}

std::string PathOf(const char* name) { return BenchFolder() + "/" + name; }
Tolm::CUnicodeString U(const std::string& path) { return Tolm::CUnicodeString::FromUtf8(path); }

// Page numbers in the order the store writes them: 5,4,3,2,1,10,9,...
std::vector<int> StoreOrder(int pages) {
    std::vector<int> order;
    for (int group = 0; group < pages / kPagesPerGroup; ++group) {
        for (int page = (group + 1) * kPagesPerGroup; page > group * kPagesPerGroup; --page)
            order.push_back(page);
    }
    return order;
}

int PagesOf(const benchmark::State& state) { return static_cast<int>(state.range(0) << 20) / kPageSize; }

const std::vector<unsigned char>& PageData() {
    static const std::vector<unsigned char> data = [] {
        std::vector<unsigned char> bytes(kDataSize);
        std::mt19937 random(1);
        for (auto& byte : bytes) byte = static_cast<unsigned char>(random());
        return bytes;
    }();
    return data;
}

void PutWord(unsigned char* at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) at[i] = static_cast<unsigned char>(value >> (8 * i));
}

void SystemWrite(int fd, const void* bytes, std::size_t count, off_t at, std::int64_t& calls) {
    ++calls;
    if (::pwrite(fd, bytes, count, at) != static_cast<ssize_t>(count)) std::abort();
}
void SystemRead(int fd, void* bytes, std::size_t count, off_t at, std::int64_t& calls) {
    ++calls;
    if (::pread(fd, bytes, count, at) != static_cast<ssize_t>(count)) std::abort();
}

void ReportPerPage(benchmark::State& state, int pages, std::int64_t calls) {
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(pages) * kPageSize);
    state.counters["calls/page"] = static_cast<double>(calls) /
                                   static_cast<double>(state.iterations() * static_cast<std::int64_t>(pages));
}

// Counts the system calls of every file the benchmarks open; installed by the
// first benchmark that asks, before it opens a file.
Tolm::testing::CountingPort& Counting() {
    static auto* port = new Tolm::testing::CountingPort;
    return *port;
}

std::int64_t SystemCallsSince(const Tolm::testing::CountingPort::Counts& before) {
    const Tolm::testing::CountingPort::Counts now = Counting().counts();
    return (now.reads - before.reads) + (now.writes - before.writes) +
           (now.lengthChanges - before.lengthChanges);
}

// --- writing in the store's pattern -------------------------------------------

void BM_StoreWrite_CFile(benchmark::State& state) {
    const int pages = PagesOf(state);
    const std::vector<int> order = StoreOrder(pages);
    const auto& data = PageData();
    const Tolm::testing::CountingPort::Counts before = Counting().counts();
    for (auto _ : state) {
        Tolm::CFile file(U(PathOf("store-cfile")), Tolm::CFile::kNewReadWrite);
        for (std::size_t i = 0; i < order.size(); ++i) {
            if (i % kPagesPerGroup == 0) file.SetLength(file.GetLength() + kPagesPerGroup * kPageSize);
            const int page = order[i];
            file.Seek(static_cast<std::int64_t>(page) * kPageSize, Tolm::CFile::begin);
            file.WriteDWord(i % kPagesPerGroup == kPagesPerGroup - 1 ? 0xFFFFFFFFu
                                                                     : static_cast<std::uint32_t>(page - 1));
            file.WriteDWord(kDataSize);
            file.WriteDWord(0xFFFFFFFFu);
            file.Write(data.data(), kDataSize);
        }
        file.Close();
    }
    ReportPerPage(state, pages, SystemCallsSince(before));
}

template <bool kPerPage>
void storeWritePlain(benchmark::State& state) {
    const int pages = PagesOf(state);
    const std::vector<int> order = StoreOrder(pages);
    const auto& data = PageData();
    std::vector<unsigned char> page(kPageSize);
    std::int64_t calls = 0;
    for (auto _ : state) {
        const int fd = ::open(PathOf("store-plain").c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        off_t length = 0;
        for (std::size_t i = 0; i < order.size(); ++i) {
            if (i % kPagesPerGroup == 0) {
                length += kPagesPerGroup * kPageSize;
                ++calls;
                if (::ftruncate(fd, length) != 0) std::abort();
            }
            const off_t at = static_cast<off_t>(order[i]) * kPageSize;
            PutWord(page.data(), i % kPagesPerGroup == kPagesPerGroup - 1
                                     ? 0xFFFFFFFFu
                                     : static_cast<std::uint32_t>(order[i] - 1));
            PutWord(page.data() + 4, kDataSize);
            PutWord(page.data() + 8, 0xFFFFFFFFu);
            if (kPerPage) {
                std::memcpy(page.data() + kHeaderSize, data.data(), kDataSize);
                SystemWrite(fd, page.data(), kPageSize, at, calls);
            } else {
                for (int word = 0; word < 3; ++word)
                    SystemWrite(fd, page.data() + 4 * word, 4, at + 4 * word, calls);
                SystemWrite(fd, data.data(), kDataSize, at + kHeaderSize, calls);
            }
            length = std::max<off_t>(length, at + kPageSize);
        }
        ::close(fd);
    }
    ReportPerPage(state, pages, calls);
}
void BM_StoreWrite_PwritePerCall(benchmark::State& state) { storeWritePlain<false>(state); }
void BM_StoreWrite_PwritePerPage(benchmark::State& state) { storeWritePlain<true>(state); }

// --- reading in the store's pattern ---------------------------------------------

// The file to read: pages as the store writes them, groups of five chained
// 5->4->3->2->1 so that each group is one record.
const std::string& ReadFile(int pages) {
    static std::string path;
    static int made = 0;
    if (made != pages) {
        path = PathOf("store-read");
        Tolm::CFile file(U(path), Tolm::CFile::kNewReadWrite);
        const std::vector<int> order = StoreOrder(pages);
        for (std::size_t i = 0; i < order.size(); ++i) {
            file.Seek(static_cast<std::int64_t>(order[i]) * kPageSize, Tolm::CFile::begin);
            file.WriteDWord(i % kPagesPerGroup == kPagesPerGroup - 1
                                ? 0xFFFFFFFFu
                                : static_cast<std::uint32_t>(order[i] - 1));
            file.WriteDWord(kDataSize);
            file.WriteDWord(0xFFFFFFFFu);
            file.Write(PageData().data(), kDataSize);
        }
        file.Close();
        made = pages;
    }
    return path;
}

// Pages to read: every record once, in write order or in a random order of
// records, each record's pages in chain order.
std::vector<int> ReadOrder(int pages, bool randomRecords) {
    std::vector<int> records(static_cast<std::size_t>(pages / kPagesPerGroup));
    std::iota(records.begin(), records.end(), 0);
    if (randomRecords) std::shuffle(records.begin(), records.end(), std::mt19937(42));
    std::vector<int> order;
    for (int record : records) {
        for (int page = (record + 1) * kPagesPerGroup; page > record * kPagesPerGroup; --page)
            order.push_back(page);
    }
    return order;
}

void storeReadCFile(benchmark::State& state, bool randomRecords) {
    const int pages = PagesOf(state);
    const std::string& path = ReadFile(pages);
    const std::vector<int> order = ReadOrder(pages, randomRecords);
    std::vector<unsigned char> data(kDataSize);
    const Tolm::testing::CountingPort::Counts before = Counting().counts();
    for (auto _ : state) {
        Tolm::CFile file(U(path), Tolm::CFile::modeRead);
        for (int page : order) {
            file.Seek(static_cast<std::int64_t>(page) * kPageSize, Tolm::CFile::begin);
            benchmark::DoNotOptimize(file.ReadDWord());
            const std::uint32_t used = file.ReadDWord();
            benchmark::DoNotOptimize(file.ReadDWord());
            if (file.Read(data.data(), static_cast<int>(used)) != static_cast<int>(used)) std::abort();
        }
        benchmark::ClobberMemory();
    }
    ReportPerPage(state, pages, SystemCallsSince(before));
}

template <bool kPerPage>
void storeReadPlain(benchmark::State& state, bool randomRecords) {
    const int pages = PagesOf(state);
    const std::string& path = ReadFile(pages);
    const std::vector<int> order = ReadOrder(pages, randomRecords);
    std::vector<unsigned char> page(kPageSize);
    std::int64_t calls = 0;
    for (auto _ : state) {
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        for (int number : order) {
            const off_t at = static_cast<off_t>(number) * kPageSize;
            if (kPerPage) {
                SystemRead(fd, page.data(), kPageSize, at, calls);
            } else {
                for (int word = 0; word < 3; ++word)
                    SystemRead(fd, page.data() + 4 * word, 4, at + 4 * word, calls);
                SystemRead(fd, page.data() + kHeaderSize, kDataSize, at + kHeaderSize, calls);
            }
        }
        benchmark::ClobberMemory();
        ::close(fd);
    }
    ReportPerPage(state, pages, calls);
}

void BM_StoreReadInOrder_CFile(benchmark::State& state) { storeReadCFile(state, false); }
void BM_StoreReadInOrder_PreadPerCall(benchmark::State& state) { storeReadPlain<false>(state, false); }
void BM_StoreReadInOrder_PreadPerPage(benchmark::State& state) { storeReadPlain<true>(state, false); }
void BM_StoreReadRandomRecords_CFile(benchmark::State& state) { storeReadCFile(state, true); }
void BM_StoreReadRandomRecords_PreadPerCall(benchmark::State& state) { storeReadPlain<false>(state, true); }
void BM_StoreReadRandomRecords_PreadPerPage(benchmark::State& state) { storeReadPlain<true>(state, true); }

// --- sequential write ------------------------------------------------------------

// range(0): MiB in all, range(1): bytes per Write call.
void BM_SequentialWrite_CFile(benchmark::State& state) {
    const std::int64_t total = state.range(0) << 20;
    const std::vector<unsigned char> chunk(static_cast<std::size_t>(state.range(1)), 0xA5);
    const Tolm::testing::CountingPort::Counts before = Counting().counts();
    for (auto _ : state) {
        Tolm::CFile file(U(PathOf("seq-cfile")), Tolm::CFile::kCreateForWriting);
        for (std::int64_t done = 0; done < total; done += state.range(1)) {
            file.Write(chunk.data(), static_cast<int>(chunk.size()));
        }
        file.Close();
    }
    state.SetBytesProcessed(state.iterations() * total);
    state.counters["calls/MiB"] = static_cast<double>(SystemCallsSince(before)) /
                                  static_cast<double>(state.iterations() * state.range(0));
}

void BM_SequentialWrite_Pwrite(benchmark::State& state) {
    const std::int64_t total = state.range(0) << 20;
    const std::vector<unsigned char> chunk(static_cast<std::size_t>(state.range(1)), 0xA5);
    std::int64_t calls = 0;
    for (auto _ : state) {
        const int fd = ::open(PathOf("seq-plain").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        for (std::int64_t done = 0; done < total; done += state.range(1)) {
            SystemWrite(fd, chunk.data(), chunk.size(), static_cast<off_t>(done), calls);
        }
        ::close(fd);
    }
    state.SetBytesProcessed(state.iterations() * total);
    state.counters["calls/MiB"] =
        static_cast<double>(calls) / static_cast<double>(state.iterations() * state.range(0));
}

constexpr std::int64_t kStoreMiB = 64;

}  // namespace

BENCHMARK(BM_StoreWrite_CFile)->Arg(kStoreMiB)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_StoreWrite_PwritePerCall)->Arg(kStoreMiB)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_StoreWrite_PwritePerPage)->Arg(kStoreMiB)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_StoreReadInOrder_CFile)->Arg(kStoreMiB)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_StoreReadInOrder_PreadPerCall)->Arg(kStoreMiB)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_StoreReadInOrder_PreadPerPage)->Arg(kStoreMiB)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_StoreReadRandomRecords_CFile)->Arg(kStoreMiB)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_StoreReadRandomRecords_PreadPerCall)
    ->Arg(kStoreMiB)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_StoreReadRandomRecords_PreadPerPage)
    ->Arg(kStoreMiB)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_SequentialWrite_CFile)
    ->Args({128, 64 << 10})
    ->Args({128, 1 << 20})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_SequentialWrite_Pwrite)
    ->Args({128, 64 << 10})
    ->Args({128, 1 << 20})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
