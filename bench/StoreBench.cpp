// Record store against the peers a user would reach for instead (SQLite, a
// blob table in a temporary database; LMDB, a memory-mapped B-tree with integer
// keys, each value copied out) and against the limit of its own file layout
// (LayoutModel.h: the layout driven by plain C, 4 MiB pwrites, reads through a
// map). For each size the engines run in rounds, the model first in each, and
// every engine's row carries its rates over the model's of the same round:
//   wr_x_model, rd_x_model, free_x_model   1.0 = the layout's limit
// The machine is shared and its memory at times slow to hand out, so one run
// of an engine can be far off: after the rows, a table gives each engine's
// median ratios over the rounds (STORE_BENCH_ROUNDS, 3 by default). The store
// runs twice: reading each record on its own, and hinted, each read naming the
// next one first (PrefetchRecord) as a caller that knows its order can.
//
// For each record size (100 B, 4 KiB, 64 KiB, 1 MiB) every engine writes
// STORE_BENCH_MIB MiB of records (256 by default), reads them all back in one
// random order, then frees them all in that order. Each phase is timed on its
// own, in process CPU time, and reported as a counter:
//   wr_MBps   record bytes written per second (uncompressed bytes), MB = 1e6
//   rd_MBps   record bytes read back per second
//   free_kps  thousands of records freed (deleted) per second
//   sys_wr, sys_rd  system calls of the framework's files per MiB of records
// The benchmark's own time is the wall time of the three phases.
//
//     STORE_BENCH_MIB=64 STORE_BENCH_ROUNDS=5 bench_store --benchmark_filter=/65536
#include <Korvan/FileDataStorage.h>

#include <Tolm/Array.h>
#include <Tolm/File.h>

#include "CountingPort.h"
#include "LayoutModel.h"
#include "PdfLikeContent.h"

#include <benchmark/benchmark.h>
#include <lmdb.h>
#include <sqlite3.h>

#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <numeric>
#include <random>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace {

// Phases are timed in the process's CPU time (user and system): the machine
// the suite runs on is shared, and wall time there mostly measures the other
// processes. Wall time is the benchmark's own time.
struct Clock {
    using time_point = double;
    static double now() {
        timespec ts{};
        clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
        return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
    }
};
using WallClock = std::chrono::steady_clock;
using Bytes = std::vector<unsigned char>;

constexpr std::size_t kPoolBytes = 16u << 20;

// A positive number from the environment, or fallback.
long settingOr(const char* name, long fallback) {
    const char* text = std::getenv(name);
    const long value = text != nullptr ? std::atol(text) : fallback;
    return value > 0 ? value : fallback;
}

std::size_t totalBytes() {
    static const std::size_t total = static_cast<std::size_t>(settingOr("STORE_BENCH_MIB", 256)) << 20;
    return total;
}

double seconds(double from, double to) { return to - from; }
double wallSeconds(WallClock::time_point from) {
    return std::chrono::duration<double>(WallClock::now() - from).count();
}

// Random bytes: stored as they are, the worst case for compression.
const Bytes& randomPool() {
    static const Bytes pool = [] {
        Bytes bytes(kPoolBytes);
        std::mt19937_64 random(42);
        for (std::size_t i = 0; i + 8 <= bytes.size(); i += 8) {
            const std::uint64_t word = random();
            std::memcpy(&bytes[i], &word, 8);
        }
        return bytes;
    }();
    return pool;
}

// Bytes that look like the inside of a PDF, for the compressing store.
const Bytes& pdfLikePool() {
    static const Bytes pool = bench::pdfLikeContent(kPoolBytes);
    return pool;
}

// Record i's bytes: a window of the pool that moves with i.
const unsigned char* recordBytes(const Bytes& pool, std::size_t i, std::size_t size) {
    const std::size_t span = pool.size() - size;
    return pool.data() + (i * 7919u * 64u) % span;
}

std::vector<std::size_t> randomOrder(std::size_t count) {
    std::vector<std::size_t> order(count);
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::shuffle(order.begin(), order.end(), std::mt19937(2026));
    return order;
}

struct Phases {
    double write = 0, read = 0, free = 0;
    std::int64_t sysWrites = 0, sysReads = 0;
};

// The layout model's rates by record size, for the rows that follow it.
struct Rates {
    double write = 0, read = 0, free = 0;
};
std::map<std::size_t, Rates>& modelRates() {
    static std::map<std::size_t, Rates> rates;
    return rates;
}
// Every round's rates over the model, by engine and record size.
std::map<std::pair<std::string, std::size_t>, std::vector<Rates>>& ratiosByEngine() {
    static std::map<std::pair<std::string, std::size_t>, std::vector<Rates>> ratios;
    return ratios;
}

void report(benchmark::State& state, const char* engine, const Phases& phases, std::size_t recordSize,
            std::size_t count, bool isModel = false) {
    const double iterations = static_cast<double>(state.iterations());
    const double bytes = static_cast<double>(recordSize * count) * iterations;
    const Rates rates{bytes / phases.write / 1e6, bytes / phases.read / 1e6,
                      phases.free > 0 ? static_cast<double>(count) * iterations / phases.free / 1e3 : 0};
    state.counters["wr_MBps"] = rates.write;
    state.counters["rd_MBps"] = rates.read;
    state.counters["free_kps"] = rates.free;
    if (isModel) modelRates()[recordSize] = rates;
    const auto model = modelRates().find(recordSize);
    if (model != modelRates().end()) {
        state.counters["wr_x_model"] = rates.write / model->second.write;
        state.counters["rd_x_model"] = rates.read / model->second.read;
        state.counters["free_x_model"] = model->second.free > 0 ? rates.free / model->second.free : 0;
        ratiosByEngine()[{engine, recordSize}].push_back(
            {state.counters["wr_x_model"], state.counters["rd_x_model"], state.counters["free_x_model"]});
    }
    const double mib = bytes / (1 << 20);
    state.counters["sys_wr"] = static_cast<double>(phases.sysWrites) / mib;
    state.counters["sys_rd"] = static_cast<double>(phases.sysReads) / mib;
    state.SetBytesProcessed(static_cast<std::int64_t>(bytes));
}

// hinted: each read names the next one first (PrefetchRecord), as a caller
// that knows its order can; the processor then overlaps the two as it does
// the model's, which sees the whole order in one loop.
void runStore(benchmark::State& state, bool compress, bool hinted = false) {
    const std::size_t size = static_cast<std::size_t>(state.range(0));
    const std::size_t count = totalBytes() / size;
    const Bytes& pool = compress ? pdfLikePool() : randomPool();
    const std::vector<std::size_t> order = randomOrder(count);
    std::vector<int> records(count);
    Phases phases;
    Tolm::testing::CountingPort counting;  // every store file of the run is opened through it
    for (auto _ : state) {
        Korvan::CFileDataStorage store(4096, compress);
        counting.ResetCounts();
        const auto wall = WallClock::now();
        const auto t0 = Clock::now();
        for (std::size_t i = 0; i < count; ++i)
            records[i] = store.WriteRecord(recordBytes(pool, i, size), static_cast<int>(size));
        const auto t1 = Clock::now();
        // One output for every record, emptied before each read as callers
        // do: its room is reused, as the other engines reuse theirs.
        Tolm::CArray<unsigned char> out;
        for (std::size_t n = 0; n < count; ++n) {
            if (hinted && n + 1 < count) store.PrefetchRecord(records[order[n + 1]]);
            out.RemoveAll();
            store.ReadRecord(records[order[n]], out);
            if (static_cast<std::size_t>(out.GetSize()) != size) throw std::runtime_error("short record");
        }
        const auto t2 = Clock::now();
        for (std::size_t i : order) store.FreeRecord(records[i]);
        const auto t3 = Clock::now();
        const Tolm::testing::CountingPort::Counts io = counting.counts();
        phases.write += seconds(t0, t1);
        phases.read += seconds(t1, t2);
        phases.free += seconds(t2, t3);
        phases.sysWrites += io.writes;
        phases.sysReads += io.reads;
        state.SetIterationTime(wallSeconds(wall));
    }
    report(state, compress ? "store, compressed" : hinted ? "store, hinted" : "store", phases, size, count);
}

void BM_Store(benchmark::State& state) { runStore(state, false); }
void BM_StoreHinted(benchmark::State& state) { runStore(state, false, true); }
void BM_StoreCompressed(benchmark::State& state) { runStore(state, true); }

// What each engine's run writes, reads back and frees: count records of size
// bytes from the pool, read in one random order, written in batches of about
// 16 MiB or 10,000 records where an engine has transactions.
struct Workload {
    std::size_t size, count;
    const Bytes& pool;
    std::vector<std::size_t> order;
    std::size_t batch;
};
Workload workload(const benchmark::State& state, const Bytes& pool) {
    const auto size = static_cast<std::size_t>(state.range(0));
    const std::size_t count = totalBytes() / size;
    return {size, count, pool, randomOrder(count),
            std::max<std::size_t>(1, std::min<std::size_t>(10000, (16u << 20) / size))};
}

void check(int rc, int expected, sqlite3* db, const char* what) {
    if (rc != expected) throw std::runtime_error(std::string(what) + ": " + sqlite3_errmsg(db));
}

std::string tempPath(const char* stem) {
    const char* dir = std::getenv("TMPDIR");
    return std::string(dir != nullptr && *dir != '\0' ? dir : "/tmp") + "/" + stem + "-" +
           std::to_string(static_cast<long>(getpid()));
}

void BM_SQLite(benchmark::State& state) {
    const Workload work = workload(state, randomPool());
    const auto& [size, count, pool, order, batch] = work;
    Bytes out;
    Phases phases;
    for (auto _ : state) {
        const std::string path = tempPath("store-bench.sqlite");
        std::remove(path.c_str());
        sqlite3* db = nullptr;
        check(sqlite3_open(path.c_str(), &db), SQLITE_OK, db, "open");
        check(sqlite3_exec(db,
                           "PRAGMA page_size=4096; PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF;"
                           "CREATE TABLE t(id INTEGER PRIMARY KEY, data BLOB);",
                           nullptr, nullptr, nullptr),
              SQLITE_OK, db, "set up");
        sqlite3_stmt* insert = nullptr;
        sqlite3_stmt* select = nullptr;
        sqlite3_stmt* remove = nullptr;
        check(sqlite3_prepare_v2(db, "INSERT INTO t(id, data) VALUES(?, ?)", -1, &insert, nullptr), SQLITE_OK,
              db, "prepare insert");
        check(sqlite3_prepare_v2(db, "SELECT data FROM t WHERE id = ?", -1, &select, nullptr), SQLITE_OK, db,
              "prepare select");
        check(sqlite3_prepare_v2(db, "DELETE FROM t WHERE id = ?", -1, &remove, nullptr), SQLITE_OK, db,
              "prepare delete");

        const auto wall = WallClock::now();
        const auto t0 = Clock::now();
        for (std::size_t i = 0; i < count; ++i) {
            if (i % batch == 0)
                check(sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr), SQLITE_OK, db, "begin");
            sqlite3_bind_int64(insert, 1, static_cast<sqlite3_int64>(i + 1));
            sqlite3_bind_blob(insert, 2, recordBytes(pool, i, size), static_cast<int>(size), SQLITE_STATIC);
            check(sqlite3_step(insert), SQLITE_DONE, db, "insert");
            sqlite3_reset(insert);
            if (i % batch == batch - 1 || i == count - 1)
                check(sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr), SQLITE_OK, db, "commit");
        }
        const auto t1 = Clock::now();
        for (std::size_t i : order) {
            sqlite3_bind_int64(select, 1, static_cast<sqlite3_int64>(i + 1));
            check(sqlite3_step(select), SQLITE_ROW, db, "select");
            const void* blob = sqlite3_column_blob(select, 0);
            const int bytes = sqlite3_column_bytes(select, 0);
            out.assign(static_cast<const unsigned char*>(blob),
                       static_cast<const unsigned char*>(blob) + bytes);
            sqlite3_reset(select);
            if (out.size() != size) throw std::runtime_error("short row");
        }
        const auto t2 = Clock::now();
        for (std::size_t n = 0; n < count; ++n) {
            if (n % batch == 0)
                check(sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr), SQLITE_OK, db, "begin");
            sqlite3_bind_int64(remove, 1, static_cast<sqlite3_int64>(order[n] + 1));
            check(sqlite3_step(remove), SQLITE_DONE, db, "delete");
            sqlite3_reset(remove);
            if (n % batch == batch - 1 || n == count - 1)
                check(sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr), SQLITE_OK, db, "commit");
        }
        const auto t3 = Clock::now();
        sqlite3_finalize(insert);
        sqlite3_finalize(select);
        sqlite3_finalize(remove);
        sqlite3_close(db);
        std::remove(path.c_str());
        phases.write += seconds(t0, t1);
        phases.read += seconds(t1, t2);
        phases.free += seconds(t2, t3);
        state.SetIterationTime(wallSeconds(wall));
    }
    report(state, "SQLite", phases, size, count);
}

void checkLmdb(int rc, const char* what) {
    if (rc != MDB_SUCCESS) throw std::runtime_error(std::string(what) + ": " + mdb_strerror(rc));
}

// No sync, integer keys, transactions as large as SQLite's, each value copied
// out of the map as the store's reader does.
void BM_LMDB(benchmark::State& state) {
    const Workload work = workload(state, randomPool());
    const auto& [size, count, pool, order, batch] = work;
    Bytes out;
    Phases phases;
    for (auto _ : state) {
        const std::string path = tempPath("store-bench.lmdb");
        std::remove(path.c_str());
        MDB_env* env = nullptr;
        checkLmdb(mdb_env_create(&env), "create");
        // Room for every record with its pages and the tree, twice over.
        checkLmdb(mdb_env_set_mapsize(env, 2 * (count * (size + 64)) + (64u << 20)), "map size");
        checkLmdb(mdb_env_open(env, path.c_str(), MDB_NOSUBDIR | MDB_NOSYNC | MDB_NOMETASYNC, 0600), "open");
        MDB_dbi dbi = 0;
        MDB_txn* txn = nullptr;
        checkLmdb(mdb_txn_begin(env, nullptr, 0, &txn), "begin");
        checkLmdb(mdb_dbi_open(txn, nullptr, MDB_INTEGERKEY, &dbi), "open table");
        checkLmdb(mdb_txn_commit(txn), "commit");
        const auto keyOf = [](std::size_t& id) { return MDB_val{sizeof id, &id}; };

        const auto wall = WallClock::now();
        const auto t0 = Clock::now();
        for (std::size_t i = 0; i < count; ++i) {
            if (i % batch == 0) checkLmdb(mdb_txn_begin(env, nullptr, 0, &txn), "begin");
            std::size_t id = i + 1;
            MDB_val key = keyOf(id);
            MDB_val value{size, const_cast<unsigned char*>(recordBytes(pool, i, size))};
            checkLmdb(mdb_put(txn, dbi, &key, &value, MDB_APPEND), "put");
            if (i % batch == batch - 1 || i == count - 1) checkLmdb(mdb_txn_commit(txn), "commit");
        }
        const auto t1 = Clock::now();
        checkLmdb(mdb_txn_begin(env, nullptr, MDB_RDONLY, &txn), "begin read");
        for (std::size_t i : order) {
            std::size_t id = i + 1;
            MDB_val key = keyOf(id);
            MDB_val value{};
            checkLmdb(mdb_get(txn, dbi, &key, &value), "get");
            const auto* bytes = static_cast<const unsigned char*>(value.mv_data);
            out.assign(bytes, bytes + value.mv_size);
            if (out.size() != size) throw std::runtime_error("short value");
        }
        mdb_txn_abort(txn);
        const auto t2 = Clock::now();
        for (std::size_t n = 0; n < count; ++n) {
            if (n % batch == 0) checkLmdb(mdb_txn_begin(env, nullptr, 0, &txn), "begin");
            std::size_t id = order[n] + 1;
            MDB_val key = keyOf(id);
            checkLmdb(mdb_del(txn, dbi, &key, nullptr), "delete");
            if (n % batch == batch - 1 || n == count - 1) checkLmdb(mdb_txn_commit(txn), "commit");
        }
        const auto t3 = Clock::now();
        mdb_env_close(env);
        std::remove(path.c_str());
        std::remove((path + "-lock").c_str());
        phases.write += seconds(t0, t1);
        phases.read += seconds(t1, t2);
        phases.free += seconds(t2, t3);
        state.SetIterationTime(wallSeconds(wall));
    }
    report(state, "LMDB", phases, size, count);
}

void BM_LayoutModel(benchmark::State& state) {
    const Workload work = workload(state, randomPool());
    const auto& [size, count, pool, order, batch] = work;
    Phases phases;
    for (auto _ : state) {
        const auto wall = WallClock::now();
        const bench::ModelSeconds seconds = bench::runLayoutModel(
            tempPath("store-bench.model").c_str(), size, count,
            [&pool = pool, size = size](std::size_t i) { return recordBytes(pool, i, size); }, order,
            Clock::now);
        phases.write += seconds.write;
        phases.read += seconds.read;
        phases.free += seconds.free;
        state.SetIterationTime(wallSeconds(wall));
    }
    report(state, "layout model", phases, size, count, true);
}

// Side by side: for each record size, rounds of the model and then every
// engine, so that a change in the machine's load hits one round rather than
// one engine.
const bool kRegistered = [] {
    const long rounds = settingOr("STORE_BENCH_ROUNDS", 3);
    for (int size : {100, 4096, 65536, 1 << 20}) {
        for (long round = 1; round <= rounds; ++round) {
            for (const auto& [name, function] :
                 {std::pair{"BM_LayoutModel", &BM_LayoutModel}, std::pair{"BM_Store", &BM_Store},
                  std::pair{"BM_StoreHinted", &BM_StoreHinted},
                  std::pair{"BM_StoreCompressed", &BM_StoreCompressed}, std::pair{"BM_SQLite", &BM_SQLite},
                  std::pair{"BM_LMDB", &BM_LMDB}}) {
                benchmark::RegisterBenchmark((std::string(name) + "/round:" + std::to_string(round)).c_str(),
                                             function)
                    ->Arg(size)
                    ->Iterations(1)
                    ->UseManualTime()
                    ->Unit(benchmark::kMillisecond);
            }
        }
    }
    return true;
}();

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

void printMedians() {
    if (ratiosByEngine().empty()) return;
    std::printf("\nMedians over the rounds of each engine's rates over the layout model's:\n");
    std::printf("%-18s %8s %7s %7s %7s %7s\n", "engine", "record", "rounds", "write", "read", "free");
    for (const auto& [key, rounds] : ratiosByEngine()) {
        std::vector<double> write, read, free;
        for (const Rates& r : rounds) {
            write.push_back(r.write);
            read.push_back(r.read);
            free.push_back(r.free);
        }
        std::printf("%-18s %8zu %7zu %7.2f %7.2f %7.2f\n", key.first.c_str(), key.second, rounds.size(),
                    median(write), median(read), median(free));
    }
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    printMedians();
    return 0;
}
