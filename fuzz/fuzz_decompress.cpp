// Fuzzes the decompressing stream of the stream toolkit ("Image.StreamsToolkit").
//
// Input: compressed bytes, read through the decompressing stream in pulls of
// 4096 bytes until it delivers nothing (at most 16 MiB, so that small inputs
// that expand hugely do not stall the search). Only a CException is allowed
// out. Reset must make the stream deliver the same bytes again, and an input
// that does not start like a frame, compressed and then decompressed, must
// come back unchanged.
//
// Reports of broken preconditions throw; a report of kind internal reaching
// the target is a finding (damaged bytes must fail as archive errors).
#include "FuzzSupport.h"

#include <Image/Streams.h>
#include <Korvan/FileDataStorage.h>
#include <Tolm/Object.h>

#include <cstddef>
#include <cstdint>
#include <vector>

namespace {

constexpr int kPull = 4096;
constexpr std::size_t kMaxOutput = 16u << 20;

// All the stream delivers, or the message of what it threw.
struct Outcome {
    std::vector<unsigned char> bytes;
    bool failed = false;
};

Outcome drain(Image::CReadImageStream& stream) {
    Outcome outcome;
    unsigned char chunk[kPull];
    try {
        while (outcome.bytes.size() < kMaxOutput) {
            const int got = stream.Read(chunk, kPull);
            FUZZ_CHECK(got >= 0 && got <= kPull, "a pull of %d delivered %d", kPull, got);
            if (got == 0) break;
            outcome.bytes.insert(outcome.bytes.end(), chunk, chunk + got);
        }
    } catch (Tolm::CException* error) {
        fuzzsupport::Dispose(error, true);
        outcome.failed = true;
    }
    return outcome;
}

Image::IStreamsToolkit& toolkit() {
    static const Tolm::CPtr<Image::IStreamsToolkit> made =
        Tolm::CreateObject<Image::IStreamsToolkit>(u"Image.StreamsToolkit");
    return *made;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzsupport::ThrowingReports();
    toolkit();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > 1 << 20) return 0;
    const int count = static_cast<int>(size);

    const Tolm::CPtr<Korvan::CArrayReadStream> source = new Korvan::CArrayReadStream;
    source->SetArray(data, count);
    const Tolm::CPtr<Image::CReadImageStream> decompressing =
        toolkit().CreateDecompressingStream(source.Get());
    const Outcome first = drain(*decompressing);
    decompressing->Reset();
    const Outcome second = drain(*decompressing);
    FUZZ_CHECK(first.failed == second.failed && first.bytes == second.bytes,
               "after Reset: %zu bytes (failed %d), before: %zu bytes (failed %d)", second.bytes.size(),
               second.failed, first.bytes.size(), first.failed);

    // A compressing stream costs several times a decompressing one, so the
    // round trip takes only inputs that do not open like a frame (28 B5 2F
    // FD); frames are left to the decompressor alone.
    if (size > 0 && data[0] == 0x28) return 0;
    const Tolm::CPtr<Korvan::CArrayReadStream> plain = new Korvan::CArrayReadStream;
    plain->SetArray(data, count);
    const Tolm::CPtr<Image::CReadImageStream> compressing = toolkit().CreateCompressingStream(plain.Get());
    const Outcome packed = drain(*compressing);
    FUZZ_CHECK(!packed.failed, "compressing %zu bytes failed", size);
    const Tolm::CPtr<Korvan::CArrayReadStream> packedSource = new Korvan::CArrayReadStream;
    packedSource->SetArray(packed.bytes.data(), static_cast<int>(packed.bytes.size()));
    const Tolm::CPtr<Image::CReadImageStream> unpacking =
        toolkit().CreateDecompressingStream(packedSource.Get());
    const Outcome unpacked = drain(*unpacking);
    FUZZ_CHECK(!unpacked.failed && unpacked.bytes == std::vector<unsigned char>(data, data + size),
               "%zu bytes compressed to %zu came back as %zu (failed %d)", size, packed.bytes.size(),
               unpacked.bytes.size(), unpacked.failed);
    return 0;
}
