// Speed of the stateless families, each beside a peer measured in the same run:
//   - ScanTo / ScanBackTo over a 64 MiB PDF-like buffer against glibc memmem;
//   - CopyStream of a large file against cp and a plain read/write loop (warm
//     page cache);
//   - date formatting and parsing per call, per form;
//   - PDF text-string conversions of 10, 100 and 10,000 characters.
//
// Environment: GEARSET_BENCH_COPY_MIB sets the size of the copied file
// (default 1024); GEARSET_BENCH_DIR the folder for it (default the system's
// temporary folder).
#include <Korvan/BasicTools.h>
#include <Korvan/EncodingInstr.h>
#include <Korvan/PdfDateFormats.h>

#include <Tolm/File.h>
#include <Tolm/Time.h>

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace {

// ---------------------------------------------------------------- Scans

constexpr std::size_t kScanBytes = 64u << 20;

// One large page-content stream of text operators with binary runs (as an
// inline image would bring) between them, then the end of a PDF file: the
// patterns searched occur only in that tail.
struct CPdfLikeBuffer {
    std::string bytes;
    int bodyLength = 0;  // up to the "endstream" of the big stream

    CPdfLikeBuffer() {
        bytes.reserve(kScanBytes);
        bytes += "%PDF-1.7\n%\xE2\xE3\xCF\xD3\n4 0 obj\n<< /Length 67108000 >>\nstream\n";
        std::mt19937 random(7);
        const auto draw = [&random](unsigned below) { return static_cast<unsigned>(random() % below); };
        const char* words[] = {"The", "quick",  "brown", "fox",       "jumps", "over",   "the",  "lazy",
                               "dog", "stream", "end",   "reference", "table", "offset", "page", "xref"};
        char line[160];
        const std::size_t tailRoom = 4096;
        while (bytes.size() + tailRoom < kScanBytes) {
            if (random() % 16 == 0) {
                // A binary run of 1..4 KiB.
                const std::size_t run = 1024 + random() % 3072;
                for (std::size_t i = 0; i < run; ++i) bytes += static_cast<char>(random());
                bytes += '\n';
                continue;
            }
            std::string text;
            for (int w = 0; w < 6; ++w) {
                text += words[random() % 16];
                text += ' ';
            }
            std::snprintf(line, sizeof line, "BT /F%u %u Tf %u %u Td (%s) Tj ET\n", draw(4) + 1, draw(20) + 6,
                          draw(500), draw(800), text.c_str());
            bytes += line;
        }
        bodyLength = static_cast<int>(bytes.size());
        bytes +=
            "\nendstream\nendobj\nxref\n0 5\n0000000000 65535 f \n0000000015 00000 n \n"
            "0000000074 00000 n \n0000000120 00000 n \n0000000179 00000 n \n"
            "trailer\n<< /Size 5 /Root 1 0 R >>\nstartxref\n";
        bytes += std::to_string(bodyLength + 18);
        bytes += "\n%%EOF\n";
    }
};

const CPdfLikeBuffer& pdfLike() {
    static const CPdfLikeBuffer buffer;
    return buffer;
}

const char* const kPatterns[] = {"startxref", "endstream", "%%EOF"};

// Arguments: pattern index, and 1 to search the whole buffer (match near the
// end) or 0 to search only the body (no match).
void scanArguments(benchmark::internal::Benchmark* bench) {
    for (int pattern = 0; pattern < 3; ++pattern) {
        bench->Args({pattern, 1});
        bench->Args({pattern, 0});
    }
}

void labelScan(benchmark::State& state) {
    state.SetLabel(std::string(kPatterns[state.range(0)]) + (state.range(1) ? " near end" : " absent"));
}

int scanLength(benchmark::State& state) {
    const CPdfLikeBuffer& buffer = pdfLike();
    return state.range(1) ? static_cast<int>(buffer.bytes.size()) : buffer.bodyLength;
}

void BM_ScanTo(benchmark::State& state) {
    const CPdfLikeBuffer& buffer = pdfLike();
    const Tolm::CString pattern(kPatterns[state.range(0)]);
    const int length = scanLength(state);
    int found = 0;
    for (auto _ : state) {
        found = Korvan::ScanTo(buffer.bytes.data(), length, pattern);
        benchmark::DoNotOptimize(found);
    }
    const void* peer = memmem(buffer.bytes.data(), static_cast<std::size_t>(length), pattern.GetString(),
                              static_cast<std::size_t>(pattern.GetLength()));
    const int expected = peer ? static_cast<int>(static_cast<const char*>(peer) - buffer.bytes.data()) : -1;
    if (found != expected) state.SkipWithError("ScanTo and memmem disagree");
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * length);
    labelScan(state);
}
BENCHMARK(BM_ScanTo)->Apply(scanArguments)->Unit(benchmark::kMillisecond);

void BM_Memmem(benchmark::State& state) {
    const CPdfLikeBuffer& buffer = pdfLike();
    const char* pattern = kPatterns[state.range(0)];
    const int length = scanLength(state);
    for (auto _ : state) {
        const void* found =
            memmem(buffer.bytes.data(), static_cast<std::size_t>(length), pattern, std::strlen(pattern));
        benchmark::DoNotOptimize(found);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * length);
    labelScan(state);
}
BENCHMARK(BM_Memmem)->Apply(scanArguments)->Unit(benchmark::kMillisecond);

// Backwards the tail is met first, so the telling cases are the whole body
// with no match, and a match at the very start ("%PDF-") found from the end.
void BM_ScanBackTo(benchmark::State& state) {
    const CPdfLikeBuffer& buffer = pdfLike();
    const bool atStart = state.range(0) == 3;
    const Tolm::CString pattern(atStart ? "%PDF-" : kPatterns[state.range(0)]);
    const int position = (atStart ? static_cast<int>(buffer.bytes.size()) : buffer.bodyLength) - 1;
    int found = 0;
    for (auto _ : state) {
        found = Korvan::ScanBackTo(buffer.bytes.data(), position, pattern);
        benchmark::DoNotOptimize(found);
    }
    if (found != (atStart ? 0 : -1)) state.SkipWithError("unexpected ScanBackTo result");
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * (position + 1));
    state.SetLabel(atStart ? "%PDF- at start" : std::string(kPatterns[state.range(0)]) + " absent");
}
BENCHMARK(BM_ScanBackTo)->DenseRange(0, 3)->Unit(benchmark::kMillisecond);

// ---------------------------------------------------------------- CopyStream

struct CCopyFiles {
    std::string source;
    std::string destination;
    std::int64_t bytes = 0;

    CCopyFiles() {
        const char* mib = std::getenv("GEARSET_BENCH_COPY_MIB");
        bytes = std::int64_t{mib ? std::atoi(mib) : 1024} << 20;
        const char* dir = std::getenv("GEARSET_BENCH_DIR");
        const std::filesystem::path folder =
            dir ? std::filesystem::path(dir) : std::filesystem::temp_directory_path();
        source = (folder / "gearset-bench-copy-source.bin").string();
        destination = (folder / "gearset-bench-copy-destination.bin").string();
        std::vector<char> block(1 << 20);
        std::mt19937 random(11);
        for (char& c : block) c = static_cast<char>(random());
        if (std::FILE* file = std::fopen(source.c_str(), "wb")) {
            for (std::int64_t done = 0; done < bytes; done += static_cast<std::int64_t>(block.size()))
                std::fwrite(block.data(), 1, block.size(), file);
            std::fclose(file);
        }
    }
    ~CCopyFiles() {
        std::remove(source.c_str());
        std::remove(destination.c_str());
    }
    CCopyFiles(const CCopyFiles&) = delete;
    CCopyFiles& operator=(const CCopyFiles&) = delete;
};

const CCopyFiles& copyFiles() {
    static const CCopyFiles files;
    return files;
}

void BM_CopyStream(benchmark::State& state) {
    const CCopyFiles& files = copyFiles();
    for (auto _ : state) {
        Tolm::CFile source(Tolm::CUnicodeString::FromUtf8(files.source), Tolm::CFile::modeRead);
        Tolm::CFile destination(Tolm::CUnicodeString::FromUtf8(files.destination),
                                Tolm::CFile::modeCreate | Tolm::CFile::modeReadWrite);
        Korvan::CopyStream(source, destination);
        destination.Close();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * files.bytes);
}
BENCHMARK(BM_CopyStream)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

// A second peer: the plain user-space copy loop (read and write of 128 KiB)
// that cp would run without an in-kernel copy call.
void BM_ReadWriteLoop(benchmark::State& state) {
    const CCopyFiles& files = copyFiles();
    std::vector<char> block(128 << 10);
    for (auto _ : state) {
        const int in = open(files.source.c_str(), O_RDONLY);
        const int out = open(files.destination.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        for (ssize_t got; (got = read(in, block.data(), block.size())) > 0;) {
            if (write(out, block.data(), static_cast<std::size_t>(got)) != got)
                state.SkipWithError("write failed");
        }
        close(in);
        close(out);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * files.bytes);
}
BENCHMARK(BM_ReadWriteLoop)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

double childrenCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    const auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

void BM_cp(benchmark::State& state) {
    const CCopyFiles& files = copyFiles();
    const std::string command = "cp '" + files.source + "' '" + files.destination + "'";
    const double cpuBefore = childrenCpuSeconds();
    for (auto _ : state) {
        if (std::system(command.c_str()) != 0) state.SkipWithError("cp failed");
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * files.bytes);
    // cp's own processor time, which the process clock of the benchmark does
    // not see.
    state.counters["child_cpu_ms"] = benchmark::Counter(1000 * (childrenCpuSeconds() - cpuBefore) /
                                                        static_cast<double>(state.iterations()));
}
BENCHMARK(BM_cp)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

// ---------------------------------------------------------------- Dates

// Every call measures the local offset once. The argument picks the process's
// real zone (0; the framework then consults the system's zone data) or the
// framework's fixed-offset seam (1), which leaves the library's own work.
class CZoneChoice {
public:
    CZoneChoice(const benchmark::State& state, int argument) {
        if (state.range(argument) != 0) fixed_.emplace(180);
    }
    const char* Label() const { return fixed_ ? "fixed zone" : "system zone"; }

private:
    std::optional<Tolm::CFixedLocalZoneOffset> fixed_;
};

void BM_ConvertTimeToDocInfoFormat(benchmark::State& state) {
    const CZoneChoice zone(state, 0);
    const Tolm::CTime time(2024, 1, 2, 3, 4, 5, 0, 0);
    for (auto _ : state) benchmark::DoNotOptimize(Korvan::ConvertTimeToDocInfoFormat(time));
    state.SetLabel(zone.Label());
}
BENCHMARK(BM_ConvertTimeToDocInfoFormat)->Arg(0)->Arg(1);

void BM_ConvertTimeToISOFormat(benchmark::State& state) {
    const CZoneChoice zone(state, 0);
    const Tolm::CTime time(2024, 1, 2, 3, 4, 5, 0, 0);
    for (auto _ : state) benchmark::DoNotOptimize(Korvan::ConvertTimeToISOFormat(time));
    state.SetLabel(zone.Label());
}
BENCHMARK(BM_ConvertTimeToISOFormat)->Arg(0)->Arg(1);

void BM_ConvertTimeStringToTime(benchmark::State& state) {
    const CZoneChoice zone(state, 1);
    const char16_t* const texts[] = {u"D:20240102030405+03'00'", u"20240102030405+0530",
                                     u"2024-01-02T03:04:05.123+03:00"};
    const char* const labels[] = {"form A (D:...), ", "form B (bare digits), ", "form C (ISO 8601), "};
    const Tolm::CUnicodeString text(texts[state.range(0)]);
    for (auto _ : state) benchmark::DoNotOptimize(Korvan::ConvertTimeStringToTime(text));
    state.SetLabel(std::string(labels[state.range(0)]) + zone.Label());
}
BENCHMARK(BM_ConvertTimeStringToTime)->ArgsProduct({{0, 1, 2}, {0, 1}});

// ---------------------------------------------------------------- Text strings

Tolm::CUnicodeString sampleText(int length, bool wide) {
    std::u16string units(static_cast<std::size_t>(length), u'a');
    for (int i = 0; i < length; ++i)
        units[static_cast<std::size_t>(i)] =
            static_cast<char16_t>((wide && i % 7 == 3 ? 0x00E0 : 0x61) + i % 26);
    return Tolm::CUnicodeString(units);
}

void textArguments(benchmark::internal::Benchmark* bench) {
    for (const int length : {10, 100, 10000}) {
        bench->Args({length, 0});
        bench->Args({length, 1});
    }
}

void BM_UnicodeStringToBytes(benchmark::State& state) {
    const Tolm::CUnicodeString text = sampleText(static_cast<int>(state.range(0)), state.range(1) != 0);
    Korvan::CByteArray output;
    for (auto _ : state) {
        benchmark::DoNotOptimize(Korvan::UnicodeStringToBytes(text, false, output));
        benchmark::ClobberMemory();
    }
    state.SetLabel(state.range(1) ? "UTF-16BE" : "single bytes");
}
BENCHMARK(BM_UnicodeStringToBytes)->Apply(textArguments);

void BM_BytesToUnicodeString(benchmark::State& state) {
    Korvan::CByteArray bytes;
    Korvan::UnicodeStringToBytes(sampleText(static_cast<int>(state.range(0)), state.range(1) != 0), false,
                                 bytes);
    for (auto _ : state) benchmark::DoNotOptimize(Korvan::BytesToUnicodeString(bytes));
    state.SetLabel(state.range(1) ? "UTF-16BE" : "single bytes");
}
BENCHMARK(BM_BytesToUnicodeString)->Apply(textArguments);

}  // namespace
