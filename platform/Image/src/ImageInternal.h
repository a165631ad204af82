// Helpers shared by the sources of the image library; not installed.
//
// Codec callbacks run inside C libraries (libjpeg, libpng) that cannot carry a
// C++ exception; the readers and the writer therefore keep every framework
// object (images, heap blocks, files) in their outer C++ frames and let the C
// parts jump back with setjmp/longjmp to a frame that holds nothing that needs
// destroying.
#pragma once

#include <Image/Image.h>
#include <Tolm/Memory.h>

#include <cstddef>
#include <string>

namespace Tolm {
class CBaseFile;
}

namespace Image {
class IImageWriter;
class IJpegSaveParams;
}  // namespace Image

namespace Image::detail {

// The framework's heap for a C library (libpng, zstd), which wants null when
// memory runs out, not an exception.
void* allocateForC(std::size_t bytes) noexcept;

// A block of framework heap, freed when the owner goes.
class HeapBlock {
public:
    HeapBlock() noexcept = default;
    explicit HeapBlock(std::size_t bytes)
        : data_(static_cast<unsigned char*>(Tolm::doAlloc(bytes))), size_(bytes) {}
    ~HeapBlock() { Tolm::doFree(data_); }
    HeapBlock(const HeapBlock&) = delete;
    HeapBlock& operator=(const HeapBlock&) = delete;

    unsigned char* Get() const noexcept { return data_; }
    std::size_t GetSize() const noexcept { return size_; }

private:
    unsigned char* data_ = nullptr;
    std::size_t size_ = 0;
};

// As CreateImage, but the pixels are left as the heap gives them: for readers
// that write every byte of every row (a reader that fails part-way drops the
// image), so that large images are not cleared only to be overwritten.
Tolm::CPtr<IImage> createImageToFill(int width, int height, int colority);

// Bytes in one row of an image of that width and colority.
constexpr long long rowBytesFor(long long width, int colority) noexcept {
    return colority == 0 ? (width + 7) / 8 : colority == 1 ? width : 3 * width;
}

// One row of 1-bit pixels (set bit black, leftmost in the high bit) as grey
// bytes, black 0 and white 255.
void expandBitsToGrey(const unsigned char* bits, int width, unsigned char* grey) noexcept;
// One row of grey bytes as R, G, B triples.
void expandGreyToRgb(const unsigned char* grey, int width, unsigned char* rgb) noexcept;
// One row of R, G, B triples as grey bytes with integer luma weights that keep
// white at 255: (77 R + 150 G + 29 B + 128) / 256.
void convertRgbToGrey(const unsigned char* rgb, int width, unsigned char* grey) noexcept;

// The JPEG writer over an open file that must outlive it (JpegWriter.cpp).
Tolm::CPtr<IImageWriter> createJpegWriter(Tolm::CBaseFile& file);
// Fresh JPEG save parameters: quality 75, colority 2 (ImageServices.cpp).
Tolm::CPtr<IJpegSaveParams> createJpegSaveParams();

// Decodes a whole image file held in memory (ImageReaders.cpp); name is for
// messages. Kept free of files and of state so that it can be fed directly.
Tolm::CPtr<IImage> decodeImage(const unsigned char* data, std::size_t size, const std::string& name);

}  // namespace Image::detail
