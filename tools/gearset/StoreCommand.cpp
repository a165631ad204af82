// gearset store bench: the record store's throughput on PDF-like records.
#include "Commands.h"
#include "Platform.h"
#include "Progress.h"

#include <Korvan/FileDataStorage.h>
#include <Tolm/Array.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <limits>
#include <numeric>
#include <random>
#include <vector>

namespace gearset {
namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kBatchBytes = std::size_t{256} << 10;

// Content like a PDF's: mostly text content streams, with runs of binary
// (fonts, images) that compress poorly, so that --compress means something.
class PdfLikeContent {
public:
    PdfLikeContent() {
        std::mt19937 random(20261206);
        static constexpr const char* kWords[] = {"Gearset", "invoice", "total", "page",
                                                 "chapter", "the",     "of",    "and"};
        while (pool_.size() < kPoolBytes) {
            const auto kind = random() % 8;
            std::string piece;
            if (kind == 0) {
                piece = "stream\n";
                const std::size_t count = 200 + random() % 600;
                for (std::size_t i = 0; i < count; ++i) piece += static_cast<char>(random() & 0xFF);
                piece += "\nendstream\n";
            } else if (kind == 1) {
                piece = "q 1 0 0 1 " + std::to_string(random() % 600) + " " + std::to_string(random() % 800) +
                        " cm 0 0 " + std::to_string(random() % 300) + " 20 re f Q\n";
            } else {
                piece = "BT /F" + std::to_string(1 + random() % 4) + " " + std::to_string(8 + random() % 8) +
                        " Tf " + std::to_string(72 + random() % 400) + " " + std::to_string(random() % 760) +
                        " Td (";
                const std::size_t words = 3 + random() % 9;
                for (std::size_t i = 0; i < words; ++i) {
                    piece += kWords[random() % 8];
                    piece += i + 1 < words ? " " : "";
                }
                piece += ") Tj ET\n";
            }
            pool_ += piece;
        }
        pool_.resize(kPoolBytes);
    }

    // The content of the index-th record, `size` bytes; different records
    // start at different places of the pool and carry their index.
    void Fill(std::size_t index, unsigned char* out, std::size_t size) const {
        std::size_t from = index * 7919 % kPoolBytes;
        std::size_t done = 0;
        while (done < size) {
            const std::size_t run = std::min(size - done, kPoolBytes - from);
            std::memcpy(out + done, pool_.data() + from, run);
            done += run;
            from = 0;
        }
        const std::string stamp = "% record " + std::to_string(index) + "\n";
        std::memcpy(out, stamp.data(), std::min(size, stamp.size()));
    }

private:
    static constexpr std::size_t kPoolBytes = 1 << 20;
    std::string pool_;
};

// One phase's rates: a line of text, or, when `json` is given, one more object
// of the document that is printed at the end.
void printRate(Context& context, std::string* json, const char* phase, std::size_t records,
               std::int64_t bytes, Clock::duration elapsed) {
    const double seconds = std::max(std::chrono::duration<double>(elapsed).count(), 1e-9);
    const double recordRate = static_cast<double>(records) / seconds;
    const double megabyteRate = static_cast<double>(bytes) / 1e6 / seconds;
    if (!json) {
        Print(context.out, "%s %.0f records/s", phase, recordRate);
        if (bytes >= 0) Print(context.out, " %.1f MB/s", megabyteRate);
        Print(context.out, "\n");
        return;
    }
    char item[160];
    std::snprintf(item, sizeof item, "%s{\"phase\":\"%s\",\"records_per_second\":%.0f",
                  json->empty() ? "" : ",", phase, recordRate);
    *json += item;
    if (bytes >= 0) {
        std::snprintf(item, sizeof item, ",\"megabytes_per_second\":%.1f", megabyteRate);
        *json += item;
    }
    *json += "}";
}

int runBench(const ParsedArguments& args, Context& context) {
    const auto count = static_cast<std::size_t>(
        ParseInteger(args.Value("count").value_or("10000"), "--count", 1, 100'000'000));
    const auto size =
        static_cast<std::size_t>(ParseInteger(args.Value("size").value_or("4096"), "--size", 1, 1 << 30));
    const auto pageSize = static_cast<int>(ParseInteger(args.Value("page-size").value_or("4096"),
                                                        "--page-size", Korvan::CFileDataStorage::kMinPageSize,
                                                        Korvan::CFileDataStorage::kMaxPageSize));
    // The store keeps the total of its live records' bytes in 32 bits.
    if (static_cast<double>(count) * static_cast<double>(size) > std::numeric_limits<std::int32_t>::max()) {
        throw UsageError("--count times --size must stay below 2 GiB");
    }
    const std::int64_t totalBytes = static_cast<std::int64_t>(count * size);

    std::string phases;
    std::string* const json = args.Has("json") ? &phases : nullptr;
    const PdfLikeContent content;
    // Records go to and come from the store in batches of about kBatchBytes,
    // each batch timed as a whole: a clock read per record would weigh on
    // small records, and on some systems (Wine) costs as much as one. A batch
    // stays small enough for the processor's cache, as one record did.
    const std::size_t batch = std::max<std::size_t>(1, std::min(count, kBatchBytes / size));
    std::vector<unsigned char> expected(size);
    std::vector<unsigned char> pending(batch * size);
    std::vector<int> numbers(count);
    Korvan::CFileDataStorage store(pageSize, args.Has("compress"));

    {
        ProgressMeter meter("write", static_cast<std::int64_t>(count), ProgressMeter::Unit::records,
                            context.showProgress);
        Clock::duration elapsed{};
        for (std::size_t first = 0; first < count; first += batch) {
            const std::size_t end = std::min(count, first + batch);
            for (std::size_t i = first; i < end; ++i)
                content.Fill(i, pending.data() + (i - first) * size, size);
            const auto start = Clock::now();
            for (std::size_t i = first; i < end; ++i)
                numbers[i] = store.WriteRecord(pending.data() + (i - first) * size, static_cast<int>(size));
            elapsed += Clock::now() - start;
            meter.Update(static_cast<std::int64_t>(end));
        }
        meter.Finish();
        printRate(context, json, "write", count, totalBytes, elapsed);
    }

    std::vector<std::size_t> order(count);
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::shuffle(order.begin(), order.end(), std::mt19937(1));
    {
        ProgressMeter meter("read", static_cast<std::int64_t>(count), ProgressMeter::Unit::records,
                            context.showProgress);
        std::vector<Tolm::CArray<unsigned char, Tolm::CurrentMemoryManager>> records(batch);
        Clock::duration elapsed{};
        for (std::size_t first = 0; first < count; first += batch) {
            const std::size_t end = std::min(count, first + batch);
            for (auto& record : records) record.RemoveAll();
            const auto start = Clock::now();
            for (std::size_t done = first; done < end; ++done) {
                // The next read is known: the store starts on it during this one.
                if (done + 1 < end) store.PrefetchRecord(numbers[order[done + 1]]);
                store.ReadRecord(numbers[order[done]], records[done - first]);
            }
            elapsed += Clock::now() - start;
            for (std::size_t done = first; done < end; ++done) {
                const std::size_t i = order[done];
                const auto& record = records[done - first];
                content.Fill(i, expected.data(), size);
                if (static_cast<std::size_t>(record.GetSize()) != size ||
                    std::memcmp(record.GetData(), expected.data(), size) != 0) {
                    throw ToolFailure("record " + std::to_string(numbers[i]) +
                                      " did not read back as written (" + std::to_string(record.GetSize()) +
                                      " bytes, " + std::to_string(size) + " written)");
                }
            }
            meter.Update(static_cast<std::int64_t>(end));
        }
        meter.Finish();
        printRate(context, json, "read", count, totalBytes, elapsed);
    }

    {
        ProgressMeter meter("free", static_cast<std::int64_t>(count), ProgressMeter::Unit::records,
                            context.showProgress);
        const auto start = Clock::now();
        for (std::size_t i = 0; i < count; ++i) {
            store.FreeRecord(numbers[i]);
            meter.Update(static_cast<std::int64_t>(i + 1));
        }
        const auto elapsed = Clock::now() - start;
        meter.Finish();
        printRate(context, json, "free", count, -1, elapsed);
    }
    if (json) Print(context.out, "{\"phases\":[%s]}\n", phases.c_str());
    return 0;
}

const Command kCommands[] = {
    {{"store bench",
      "[--count N] [--size BYTES] [--page-size N] [--compress] [--json]",
      "Measures the record store: write, read back in random order, free.",
      {{"count", "N", "number of records (default 10000)"},
       {"size", "BYTES", "bytes of each record (default 4096)"},
       {"page-size", "N", "page size of the store (default 4096; 13 to 429496729)"},
       {"compress", "", "compress the records"},
       {"json", "",
        "print one JSON document: {\"phases\":[{\"phase\":\"write\",\"records_per_second\":N,...}]}"}},
      {},
      0,
      0,
      "Records hold PDF-like bytes (text content streams with some binary). Every\n"
      "record read is compared with what was written; each read names the next one\n"
      "to the store first (PrefetchRecord), as a caller that knows its order can.\n"
      "Prints one line per phase, with MB/s of record bytes (1 MB = 1,000,000\n"
      "bytes):\n"
      "  write 30531 records/s 125.1 MB/s\n"
      "  read 28012 records/s 114.7 MB/s\n"
      "  free 190210 records/s\n"},
     runBench},
};

}  // namespace

std::span<const Command> StoreCommands() { return kCommands; }

}  // namespace gearset
