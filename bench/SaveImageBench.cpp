// SaveImage of a 4000 x 3000 colour image beside libjpeg-turbo's own cjpeg
// at quality 100 on the same pixels (written once as a PPM), in one run.
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

void runCjpeg(benchmark::State& state, std::vector<std::string> options) {
    Fixture& f = fixture();
    const std::string out = (f.dir / "cjpeg.jpg").string();
    std::vector<std::string> args{"cjpeg", "-quality", "100"};
    args.insert(args.end(), options.begin(), options.end());
    args.insert(args.end(), {"-outfile", out, (f.dir / "in.ppm").string()});
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    const double childSecondsBefore = childCpuSeconds();
    for (auto _ : state) {
        pid_t child = 0;
        if (::posix_spawnp(&child, "cjpeg", nullptr, nullptr, argv.data(), environ) != 0) {
            state.SkipWithError("cannot run cjpeg (package libjpeg-turbo-progs)");
            return;
        }
        int status = 0;
        ::waitpid(child, &status, 0);
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            state.SkipWithError("cjpeg failed");
            return;
        }
    }
    state.counters["jpeg_bytes"] = static_cast<double>(fs::file_size(out));
    // The CPU time column shows only this process; cjpeg's own time is here.
    state.counters["child_cpu_ms"] = benchmark::Counter((childCpuSeconds() - childSecondsBefore) * 1000.0 /
                                                        static_cast<double>(state.iterations()));
}

void BM_SaveImage(benchmark::State& state) {
    Fixture& f = fixture();
    const fs::path out = f.dir / "saveimage.jpg";
    const Tolm::CUnicodeString path = Tolm::CUnicodeString::FromUtf8(out.string());
    for (auto _ : state) Korvan::SaveImage(f.image.Get(), path);
    state.counters["jpeg_bytes"] = static_cast<double>(fs::file_size(out));
}

void BM_CjpegQuality100(benchmark::State& state) { runCjpeg(state, {}); }
void BM_CjpegQuality100Sample1x1(benchmark::State& state) { runCjpeg(state, {"-sample", "1x1"}); }

BENCHMARK(BM_SaveImage)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_CjpegQuality100)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_CjpegQuality100Sample1x1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
