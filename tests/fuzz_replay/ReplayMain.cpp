// Replays committed fuzz inputs through a fuzz target without libFuzzer, so
// that every ordinary build (GCC included) runs them as a test.
//
//     fuzz_store_replay fuzz/corpus/fuzz_store         every file in the folder
//     fuzz_store_replay fuzz/corpus/fuzz_store/seed-00  one input
//
// Each input goes once through the target's LLVMFuzzerTestOneInput, after one
// LLVMFuzzerInitialize, in name order. A target signals a finding by
// aborting, so a finding ends the run with the input's name printed just
// before it; an input that cannot be read fails the run, as does a folder
// with nothing in it (a path that went wrong must not pass as "no findings").
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv);
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

namespace fs = std::filesystem;

// The inputs a command-line argument names: the file itself, or the regular
// files of a folder in name order.
bool collectInputs(const fs::path& argument, std::vector<fs::path>& inputs) {
    std::error_code error;
    if (!fs::is_directory(argument, error)) {
        inputs.push_back(argument);
        return true;
    }
    std::vector<fs::path> found;
    for (const fs::directory_entry& entry : fs::directory_iterator(argument, error)) {
        if (entry.is_regular_file()) found.push_back(entry.path());
    }
    if (error || found.empty()) {
        std::fprintf(stderr, "replay: no inputs in folder '%s'\n", argument.string().c_str());
        return false;
    }
    std::sort(found.begin(), found.end());
    inputs.insert(inputs.end(), found.begin(), found.end());
    return true;
}

bool readInput(const fs::path& path, std::vector<std::uint8_t>& bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s FILE-OR-FOLDER...\n", argv[0]);
        return 2;
    }
    std::vector<fs::path> inputs;
    for (int i = 1; i < argc; ++i) {
        if (!collectInputs(argv[i], inputs)) return 1;
    }
    LLVMFuzzerInitialize(&argc, &argv);
    std::vector<std::uint8_t> bytes;
    for (const fs::path& input : inputs) {
        if (!readInput(input, bytes)) {
            std::fprintf(stderr, "replay: cannot read '%s'\n", input.string().c_str());
            return 1;
        }
        std::printf("replaying %s (%zu bytes)\n", input.string().c_str(), bytes.size());
        std::fflush(stdout);
        // A block of exactly the input's size, as libFuzzer gives, so that the
        // address sanitizer sees a read one byte past the end.
        const std::unique_ptr<std::uint8_t[]> exact(new std::uint8_t[bytes.size() + (bytes.empty() ? 1 : 0)]);
        std::copy(bytes.begin(), bytes.end(), exact.get());
        LLVMFuzzerTestOneInput(exact.get(), bytes.size());
    }
    std::printf("replayed %zu inputs\n", inputs.size());
    return 0;
}
