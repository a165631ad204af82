// SaveImage of a 4000 x 3000 colour image beside libjpeg-turbo's own cjpeg
// at quality 100 on the same pixels (written once as a PPM), in one run; and
// the whole `gearset jpeg` command on that PPM, its grey PGM and a PNG of the
// same pixels, beside cjpeg on the PPM and the PGM (cjpeg does not read PNG).
// Goal: the command at most 1.1 times cjpeg with the same sampling, for
// every input cjpeg reads; both write to a file removed before each run.
//
// cjpeg subsamples chroma 2x2 by default at every quality, while the image
// library keeps chroma whole from quality 90 on; the 1x1 row runs cjpeg with
// the same sampling as SaveImage, the like-for-like comparison. cjpeg's time
// includes starting the process and reading the 36 MB PPM from the page cache.
#include <Image/Image.h>
#include <Korvan/ImageSaving.h>
#include <Tolm/String.h>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include <zlib.h>

#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

namespace fs = std::filesystem;

constexpr int kWidth = 4000;
constexpr int kHeight = 3000;

// A photograph stand-in: smooth gradients with fine noise, so that the
// encoder meets both flat areas and detail.
struct Fixture {
    Fixture() {
        dir = fs::temp_directory_path() / ("gearset-saveimage-bench-" + std::to_string(::getpid()));
        fs::create_directories(dir);
        image = Image::CreateImage(kWidth, kHeight, 2);
        std::mt19937 random(42);
        std::ofstream ppm(dir / "in.ppm", std::ios::binary);
        ppm << "P6\n" << kWidth << " " << kHeight << "\n255\n";
        for (int y = 0; y < kHeight; ++y) {
            unsigned char* row =
                image->GetMutablePixels() + static_cast<std::ptrdiff_t>(y) * image->GetStride();
            for (int x = 0; x < kWidth; ++x) {
                const int noise = static_cast<int>(random() % 24);
                row[3 * x] = static_cast<unsigned char>((x * 255 / kWidth + noise) & 0xFF);
                row[3 * x + 1] = static_cast<unsigned char>((y * 255 / kHeight + noise / 2) & 0xFF);
                row[3 * x + 2] = static_cast<unsigned char>(((x + y) / 30 % 256 + noise) & 0xFF);
            }
            ppm.write(reinterpret_cast<const char*>(row), 3 * kWidth);
        }
        writePgm();
        writePng();
    }
    // Grey: the green samples.
    void writePgm() const {
        std::ofstream pgm(dir / "in.pgm", std::ios::binary);
        pgm << "P5\n" << kWidth << " " << kHeight << "\n255\n";
        std::vector<char> grey(kWidth);
        for (int y = 0; y < kHeight; ++y) {
            const unsigned char* row =
                image->GetPixels() + static_cast<std::ptrdiff_t>(y) * image->GetStride();
            for (int x = 0; x < kWidth; ++x) grey[x] = static_cast<char>(row[3 * x + 1]);
            pgm.write(grey.data(), kWidth);
        }
    }
    // RGB, 8 bits, rows unfiltered, deflated at zlib's default level.
    void writePng() const {
        std::vector<unsigned char> raw;
        for (int y = 0; y < kHeight; ++y) {
            const unsigned char* row =
                image->GetPixels() + static_cast<std::ptrdiff_t>(y) * image->GetStride();
            raw.push_back(0);
            raw.insert(raw.end(), row, row + 3 * kWidth);
        }
        std::vector<unsigned char> deflated(compressBound(static_cast<uLong>(raw.size())));
        uLongf deflatedSize = static_cast<uLongf>(deflated.size());
        compress2(deflated.data(), &deflatedSize, raw.data(), static_cast<uLong>(raw.size()),
                  Z_DEFAULT_COMPRESSION);
        deflated.resize(deflatedSize);
        std::ofstream png(dir / "in.png", std::ios::binary);
        const auto chunk = [&png](const char* type, const std::vector<unsigned char>& data) {
            std::vector<unsigned char> bytes(type, type + 4);
            bytes.insert(bytes.end(), data.begin(), data.end());
            const auto put32 = [&png](std::uint32_t value) {
                const char big[] = {static_cast<char>(value >> 24), static_cast<char>(value >> 16),
                                    static_cast<char>(value >> 8), static_cast<char>(value)};
                png.write(big, 4);
            };
            put32(static_cast<std::uint32_t>(data.size()));
            png.write(reinterpret_cast<const char*>(bytes.data()),
                      static_cast<std::streamsize>(bytes.size()));
            put32(static_cast<std::uint32_t>(crc32(0, bytes.data(), static_cast<uInt>(bytes.size()))));
        };
        png.write("\x89PNG\r\n\x1a\n", 8);
        chunk("IHDR", {0, 0, kWidth >> 8, kWidth & 0xFF, 0, 0, kHeight >> 8, kHeight & 0xFF, 8, 2, 0, 0, 0});
        chunk("IDAT", deflated);
        chunk("IEND", {});
    }
    ~Fixture() { fs::remove_all(dir); }

    fs::path dir;
    Tolm::CPtr<Image::IImage> image;
};

Fixture& fixture() {
    static Fixture instance;
    return instance;
}

double childCpuSeconds() {
    rusage usage{};
    ::getrusage(RUSAGE_CHILDREN, &usage);
    const auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// Runs the command once an iteration; its output file is removed before
// each run, outside the timing.
void runCommand(benchmark::State& state, std::vector<std::string> args, const fs::path& out) {
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    double childSeconds = 0;
    for (auto _ : state) {
        state.PauseTiming();
        fs::remove(out);
        const double before = childCpuSeconds();
        state.ResumeTiming();
        pid_t child = 0;
        if (::posix_spawnp(&child, argv[0], nullptr, nullptr, argv.data(), environ) != 0) {
            state.SkipWithError(("cannot run " + args[0] + " (cjpeg: package libjpeg-turbo-progs)").c_str());
            return;
        }
        int status = 0;
        ::waitpid(child, &status, 0);
        childSeconds += childCpuSeconds() - before;
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            state.SkipWithError((args[0] + " failed").c_str());
            return;
        }
    }
    state.counters["jpeg_bytes"] = static_cast<double>(fs::file_size(out));
    // The CPU time column shows only this process; the command's own time is here.
    state.counters["child_cpu_ms"] =
        benchmark::Counter(childSeconds * 1000.0 / static_cast<double>(state.iterations()));
}

void runCjpeg(benchmark::State& state, std::vector<std::string> options, const char* input = "in.ppm") {
    Fixture& f = fixture();
    const fs::path out = f.dir / "cjpeg.jpg";
    std::vector<std::string> args{"cjpeg", "-quality", "100"};
    args.insert(args.end(), options.begin(), options.end());
    args.insert(args.end(), {"-outfile", out.string(), (f.dir / input).string()});
    runCommand(state, args, out);
}

#ifdef GEARSET_TOOL
void BM_GearsetJpeg(benchmark::State& state, const char* input) {
    Fixture& f = fixture();
    const fs::path out = f.dir / "gearset.jpg";
    runCommand(state, {GEARSET_TOOL, "jpeg", "-q", (f.dir / input).string(), out.string()}, out);
}
BENCHMARK_CAPTURE(BM_GearsetJpeg, ppm, "in.ppm")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_GearsetJpeg, pgm, "in.pgm")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_GearsetJpeg, png, "in.png")->Unit(benchmark::kMillisecond)->UseRealTime();
#endif

void BM_SaveImage(benchmark::State& state) {
    Fixture& f = fixture();
    const fs::path out = f.dir / "saveimage.jpg";
    const Tolm::CUnicodeString path = Tolm::CUnicodeString::FromUtf8(out.string());
    for (auto _ : state) Korvan::SaveImage(f.image.Get(), path);
    state.counters["jpeg_bytes"] = static_cast<double>(fs::file_size(out));
}

void BM_CjpegQuality100(benchmark::State& state) { runCjpeg(state, {}); }
void BM_CjpegQuality100Sample1x1(benchmark::State& state) { runCjpeg(state, {"-sample", "1x1"}); }
void BM_CjpegQuality100Grey(benchmark::State& state) { runCjpeg(state, {}, "in.pgm"); }

BENCHMARK(BM_SaveImage)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_CjpegQuality100)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_CjpegQuality100Sample1x1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_CjpegQuality100Grey)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
