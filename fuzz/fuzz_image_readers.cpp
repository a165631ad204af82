// Fuzzes the image file readers (PNG, PBM/PGM/PPM, JPEG) through the one
// entry point that tells them apart by their first bytes.
//
// Only a CException is allowed out. An image that was read must be
// consistent (positive sizes, colority 0..2, a stride that holds a row) and
// every byte of its pixels is touched so that a short pixel buffer shows.
//
// Reports of broken preconditions throw; a report of kind internal reaching
// the target is a finding (damaged files must fail as file errors).
#include "FuzzSupport.h"

#include <Image/Image.h>
#include <Tolm/File.h>

#include <cstddef>
#include <cstdint>

namespace {

// Progressive and arithmetic-coded JPEG files may declare up to 65536 pixels
// a byte of file and still decode (the missing data reads as zero), so a
// kilobyte can legitimately ask for tens of megapixels: slow under the
// sanitizers by design, not a fault. The search skips any input whose frame
// headers declare more than this many pixels; smaller frames reach the same
// code.
constexpr long long kMaxJpegPixels = 1 << 22;

bool declaresHugeJpegFrame(const std::uint8_t* data, std::size_t size) {
    if (size < 2 || data[0] != 0xFF || data[1] != 0xD8) return false;
    for (std::size_t i = 0; i + 8 < size; ++i) {
        const unsigned marker = data[i + 1];
        if (data[i] != 0xFF || marker < 0xC0 || marker > 0xCF || marker == 0xC4 || marker == 0xC8 ||
            marker == 0xCC)
            continue;
        const long long height = data[i + 5] << 8 | data[i + 6], width = data[i + 7] << 8 | data[i + 8];
        if (width * height > kMaxJpegPixels) return true;
    }
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzsupport::ThrowingReports();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > 1 << 20 || declaresHugeJpegFrame(data, size)) return 0;
    try {
        Tolm::CMemoryFile file;
        file.Write(data, static_cast<int>(size));
        file.SeekToBegin();
        const Tolm::CPtr<Image::IImage> image = Image::LoadImageFile(file);
        FUZZ_CHECK(image, "no image and no exception");
        const int width = image->GetWidth(), height = image->GetHeight(), colority = image->GetColority();
        FUZZ_CHECK(width > 0 && height > 0 && colority >= 0 && colority <= 2, "image %dx%d colority %d",
                   width, height, colority);
        const long long rowBytes = colority == 0   ? (width + 7LL) / 8
                                   : colority == 1 ? static_cast<long long>(width)
                                                   : 3LL * width;
        FUZZ_CHECK(image->GetStride() >= rowBytes, "stride %d for rows of %lld bytes", image->GetStride(),
                   rowBytes);
        const unsigned char* pixels = image->GetPixels();
        unsigned sum = 0;
        for (long long i = 0, n = static_cast<long long>(image->GetStride()) * height; i < n; ++i)
            sum += pixels[i];
        volatile unsigned sink = sum;
        (void)sink;
    } catch (Tolm::CException* error) {
        fuzzsupport::Dispose(error, true);
    }
    return 0;
}
