// Readers of PNG and JPEG, and the entry point that tells every kind apart
// (PBM/PGM/PPM are read in PnmReader.cpp).
//
// A reader never believes a header's size before checking it against the
// bytes that are really there: the pixel buffer is only allocated once the
// data could plausibly fill it, so a small damaged file cannot make a reader
// allocate gigabytes. Every damage ends in a file error that names the file.
#include <Image/Image.h>
#include <Tolm/Error.h>
#include <Tolm/File.h>

#include <algorithm>
#include <climits>
#include <csetjmp>
#include <cstdio>  // before jpeglib.h, which needs FILE and size_t
#include <cstring>
#include <string>
#include <utility>

#include <jpeglib.h>

#include <jerror.h>  // after jpeglib.h, whose types it uses
#include <png.h>

#include "ImageInternal.h"
#include "PnmReader.h"

namespace Image {
namespace {

[[noreturn]] void throwDamaged(const std::string& name, const std::string& what) {
    Tolm::ThrowFileError("cannot read image '" + name + "': " + what, 0);
}

std::ptrdiff_t rowOffset(int y, int stride) noexcept { return static_cast<std::ptrdiff_t>(y) * stride; }

// An image for a reader to fill, with a file error rather than an argument
// error for an image too large to hold.
Tolm::CPtr<IImage> createImageFor(const std::string& name, long long width, long long height, int colority) {
    if (width > INT_MAX || height > INT_MAX || detail::rowBytesFor(width, colority) * height >= INT_MAX) {
        throwDamaged(name,
                     std::to_string(width) + " x " + std::to_string(height) + " pixels are too many to hold");
    }
    return detail::createImageToFill(static_cast<int>(width), static_cast<int>(height), colority);
}

// ------------------------------------------------------------------------ PNG
//
// libpng reports errors through a callback that must not return; it jumps
// back to the phase that called libpng. Both phases hold only plain data.
// The bytes come from memory, and past the head that LoadImageFile read
// first, from the file itself: a failure of the file is kept and thrown
// again once libpng has jumped back.

// deflate cannot expand its input more than 1032 times; a margin on top.
constexpr long long kMaxDeflateRatio = 1100;

struct PngDecoding {
    const unsigned char* data;
    std::size_t size;
    std::size_t position;
    Tolm::CBaseFile* file;  // null when data holds the whole file
    std::int64_t fileBytesLeft;
    Tolm::CException* fileFailure;
    png_structp png;
    png_infop info;
    std::jmp_buf jump;
    char message[256];
};

[[noreturn]] void onPngError(png_structp png, png_const_charp message) {
    auto& decoding = *static_cast<PngDecoding*>(png_get_error_ptr(png));
    std::snprintf(decoding.message, sizeof decoding.message, "%s", message ? message : "PNG error");
    std::longjmp(decoding.jump, 1);
}
void onPngWarning(png_structp, png_const_charp) {}

void onPngRead(png_structp png, png_bytep target, std::size_t count) {
    auto& decoding = *static_cast<PngDecoding*>(png_get_io_ptr(png));
    const std::size_t fromMemory = std::min(count, decoding.size - decoding.position);
    std::memcpy(target, decoding.data + decoding.position, fromMemory);
    decoding.position += fromMemory;
    const std::size_t rest = count - fromMemory;
    if (rest == 0) return;
    if (static_cast<std::int64_t>(rest) > decoding.fileBytesLeft) png_error(png, "the file is cut short");
    try {
        decoding.file->ReadExactly(target + fromMemory, static_cast<int>(rest));
        decoding.fileBytesLeft -= static_cast<std::int64_t>(rest);
        return;
    } catch (Tolm::CException* error) {
        decoding.fileFailure = error;
    }
    png_error(png, "the file cannot be read");
}

// Null when memory runs out: libpng turns that into its own "out of memory" error.
png_voidp allocateForPng(png_structp, png_alloc_size_t bytes) { return detail::allocateForC(bytes); }
void freeForPng(png_structp, png_voidp block) { Tolm::doFree(block); }

struct PngShape {
    png_uint_32 width;
    png_uint_32 height;
    int bitDepth;
    int colorType;
    int channels;  // after the transformations: 1 or 3
    long long nativeBytes;
};

bool readPngHeader(PngDecoding& decoding, PngShape& shape) {
    if (setjmp(decoding.jump)) return false;
    png_set_read_fn(decoding.png, &decoding, onPngRead);
    png_read_info(decoding.png, decoding.info);
    int interlace = 0;
    png_get_IHDR(decoding.png, decoding.info, &shape.width, &shape.height, &shape.bitDepth, &shape.colorType,
                 &interlace, nullptr, nullptr);
    const long long nativeRowBits =
        static_cast<long long>(shape.width) * png_get_channels(decoding.png, decoding.info) * shape.bitDepth;
    shape.nativeBytes = (nativeRowBits + 7) / 8 * shape.height;

    if (shape.bitDepth == 16) png_set_strip_16(decoding.png);
    if (shape.colorType == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(decoding.png);
    if (shape.colorType == PNG_COLOR_TYPE_GRAY && shape.bitDepth < 8)
        png_set_expand_gray_1_2_4_to_8(decoding.png);
    // Alpha, whether a channel or a palette's transparency, is dropped.
    png_set_strip_alpha(decoding.png);
    png_set_interlace_handling(decoding.png);
    png_read_update_info(decoding.png, decoding.info);
    shape.channels = png_get_channels(decoding.png, decoding.info);
    return true;
}

bool readPngPixels(PngDecoding& decoding, png_bytepp rows) {
    if (setjmp(decoding.jump)) return false;
    png_read_image(decoding.png, rows);
    return true;
}

// data holds the file's first size bytes; the rest of its length bytes, if
// any, follow in file.
Tolm::CPtr<IImage> decodePng(const unsigned char* data, std::size_t size, std::int64_t length,
                             Tolm::CBaseFile* file, const std::string& name) {
    PngDecoding decoding;
    std::memset(&decoding, 0, sizeof decoding);
    decoding.data = data;
    decoding.size = size;
    decoding.file = file;
    decoding.fileBytesLeft = file ? length - static_cast<std::int64_t>(size) : 0;
    // A failure of the file passes through as it came.
    struct FailureGuard {
        PngDecoding& decoding;
        void ThrowIfAny() {
            if (Tolm::CException* error = std::exchange(decoding.fileFailure, nullptr)) throw error;
        }
        ~FailureGuard() {
            if (decoding.fileFailure) decoding.fileFailure->Delete();
        }
    } failure{decoding};
    decoding.png = png_create_read_struct_2(PNG_LIBPNG_VER_STRING, &decoding, onPngError, onPngWarning,
                                            nullptr, allocateForPng, freeForPng);
    if (!decoding.png) Tolm::ThrowMemoryError(sizeof(png_struct*));
    decoding.info = png_create_info_struct(decoding.png);
    struct Guard {
        PngDecoding& decoding;
        ~Guard() {
            png_destroy_read_struct(&decoding.png, decoding.info ? &decoding.info : nullptr, nullptr);
        }
    } guard{decoding};
    if (!decoding.info) Tolm::ThrowMemoryError(sizeof(png_info*));

    PngShape shape{};
    if (!readPngHeader(decoding, shape)) {
        failure.ThrowIfAny();
        throwDamaged(name, std::string("PNG: ") + decoding.message);
    }
    if (shape.nativeBytes > kMaxDeflateRatio * static_cast<long long>(file ? length : size)) {
        throwDamaged(name, "PNG: the file is far too short for " + std::to_string(shape.width) + " x " +
                               std::to_string(shape.height) + " pixels");
    }
    if (shape.channels != 1 && shape.channels != 3) {
        throwDamaged(name, "PNG: unsupported layout of " + std::to_string(shape.channels) + " channels");
    }
    Tolm::CPtr<IImage> image = createImageFor(name, shape.width, shape.height, shape.channels == 1 ? 1 : 2);
    if (png_get_rowbytes(decoding.png, decoding.info) != static_cast<std::size_t>(image->GetStride())) {
        throwDamaged(name, "PNG: unexpected row size after conversion");
    }
    detail::HeapBlock rows(sizeof(png_bytep) * shape.height);
    auto* rowPointers = reinterpret_cast<png_bytepp>(rows.Get());
    for (int y = 0; y < image->GetHeight(); ++y) {
        rowPointers[y] = image->GetMutablePixels() + rowOffset(y, image->GetStride());
    }
    if (!readPngPixels(decoding, rowPointers)) {
        failure.ThrowIfAny();
        throwDamaged(name, std::string("PNG: ") + decoding.message);
    }
    return image;
}

// ----------------------------------------------------------------------- JPEG

// Baseline Huffman coding spends at least two bits on every 8 x 8 block of
// the fullest component, so the file bounds the pixel count. Progressive and
// arithmetic-coded files can go far below that on flat content, so they get
// a bound of 1024 blocks a byte, which no real image approaches but which
// stops a header of a few bytes from declaring a gigapixel.
constexpr long long kMaxPixelsPerJpegByte = 256;
constexpr long long kMaxPixelsPerCodedJpegByte = 1 << 16;
constexpr long long kJpegBoundSlack = 1 << 16;
// What decoding may hold: no file under 1 MiB more than 256 MiB, larger files
// 256 bytes a byte of file. The image and, for a file of several scans,
// libjpeg's coefficients of the whole frame (kept until the last scan) are
// counted exactly; libjpeg's row buffers, tables and the file's bytes get a
// fixed allowance, enough for rows of 65535 pixels of four components.
constexpr long long kMinJpegMemoryBudget = 256LL << 20;
constexpr long long kJpegMemoryBudgetPerByte = 256;
constexpr long long kJpegWorkingAllowance = 16LL << 20;
constexpr int kJpegRowsPerCall = 16;

long long jpegMemoryBudgetFor(std::size_t size) noexcept {
    return std::max(kMinJpegMemoryBudget, kJpegMemoryBudgetPerByte * static_cast<long long>(size));
}

struct JpegDecoding {
    jpeg_decompress_struct info;
    jpeg_error_mgr errors;
    std::jmp_buf jump;
    // Set once the header shows a single sequential Huffman-coded scan: then
    // the scan's own end tells whether every pixel came (see onJpegMessage).
    bool isEndWithoutEoiTolerable;
    char message[JMSG_LENGTH_MAX];
};

JpegDecoding& decodingOf(j_common_ptr info) { return *static_cast<JpegDecoding*>(info->client_data); }

[[noreturn]] void onJpegError(j_common_ptr info) {
    JpegDecoding& decoding = decodingOf(info);
    (*info->err->format_message)(info, decoding.message);
    std::longjmp(decoding.jump, 1);
}

// Most of libjpeg's warnings are about tolerable oddities. Two mean missing
// data, which libjpeg would decode as grey:
//  - JWRN_HIT_MARKER: a Huffman-coded scan needed bits beyond the end of its
//    data (a file cut inside a scan, even when an EOI follows the cut);
//  - JWRN_JPEG_EOF: the file ends without EOI. In a file of several scans the
//    cut may fall between scans, leaving later ones out without any other
//    sign, so that is refused. A single Huffman-coded scan that ends short
//    raises JWRN_HIT_MARKER on its own, so when it is the only scan a missing
//    EOI loses nothing. Arithmetic decoding reads zeros past its data by
//    design and says nothing, so it gets no such allowance.
void onJpegMessage(j_common_ptr info, int level) {
    if (level >= 0) return;
    const int code = info->err->msg_code;
    if (code == JWRN_HIT_MARKER || (code == JWRN_JPEG_EOF && !decodingOf(info).isEndWithoutEoiTolerable))
        onJpegError(info);
}

// The bytes of libjpeg's coefficient buffer for the whole frame, which it
// keeps only when the file has several scans.
long long jpegCoefficientBytes(const jpeg_decompress_struct& info) noexcept {
    long long bytes = 0;
    for (int c = 0; c < info.num_components; ++c) {
        const jpeg_component_info& component = info.comp_info[c];
        const auto roundUp = [](long long value, long long step) { return (value + step - 1) / step * step; };
        bytes += roundUp(component.width_in_blocks, component.h_samp_factor) *
                 roundUp(component.height_in_blocks, component.v_samp_factor) *
                 static_cast<long long>(sizeof(JBLOCK));
    }
    return bytes;
}

// Reads the header and starts decompressing. For a progressive file that
// already reads every scan, so damage and the memory budget show up before
// the image is allocated.
bool startJpeg(JpegDecoding& decoding, const unsigned char* data, std::size_t size) {
    jpeg_decompress_struct& info = decoding.info;
    if (setjmp(decoding.jump)) return false;
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, data, static_cast<unsigned long>(size));
    jpeg_read_header(&info, TRUE);
    const bool hasScans = jpeg_has_multiple_scans(&info);
    decoding.isEndWithoutEoiTolerable = !hasScans && !info.arith_code;
    if (info.num_components == 1) {
        info.out_color_space = JCS_GRAYSCALE;
    } else if (info.jpeg_color_space == JCS_CMYK || info.jpeg_color_space == JCS_YCCK) {
        info.out_color_space = JCS_CMYK;
    } else {
        info.out_color_space = JCS_RGB;
    }
    const long long pixels = static_cast<long long>(info.image_width) * info.image_height;
    const long long pixelsPerByte =
        info.progressive_mode || info.arith_code ? kMaxPixelsPerCodedJpegByte : kMaxPixelsPerJpegByte;
    if (pixels > pixelsPerByte * static_cast<long long>(size) + kJpegBoundSlack) {
        std::snprintf(decoding.message, sizeof decoding.message,
                      "the file is far too short for %u x %u pixels", info.image_width, info.image_height);
        return false;
    }
    const long long imageBytes =
        detail::rowBytesFor(info.image_width, info.out_color_space == JCS_GRAYSCALE ? 1 : 2) *
        info.image_height;
    const long long coefficientBytes = hasScans ? jpegCoefficientBytes(info) : 0;
    const long long budget = jpegMemoryBudgetFor(size);
    if (imageBytes + coefficientBytes + kJpegWorkingAllowance > budget) {
        std::snprintf(decoding.message, sizeof decoding.message,
                      "%u x %u pixels would take %lld MiB to decode, more than the %lld MiB allowed for a "
                      "file of %zu bytes",
                      info.image_width, info.image_height,
                      (imageBytes + coefficientBytes + kJpegWorkingAllowance) >> 20, budget >> 20, size);
        return false;
    }
    // What the count above leaves out stays within the allowance; libjpeg
    // checks its large buffers against this and fails rather than exceed it.
    info.mem->max_memory_to_use = static_cast<long>(budget - imageBytes);
    jpeg_start_decompress(&info);
    return true;
}

// CMYK as Adobe writes it (inverted) or plain, to RGB without a profile.
void convertCmykRow(const unsigned char* cmyk, int width, bool inverted, unsigned char* rgb) noexcept {
    for (int x = 0; x < width; ++x) {
        const unsigned k = inverted ? cmyk[4 * x + 3] : 255u - cmyk[4 * x + 3];
        for (int c = 0; c < 3; ++c) {
            const unsigned ink = inverted ? cmyk[4 * x + c] : 255u - cmyk[4 * x + c];
            rgb[3 * x + c] = static_cast<unsigned char>((ink * k + 127) / 255);
        }
    }
}

bool readJpegPixels(JpegDecoding& decoding, unsigned char* pixels, int stride, unsigned char* cmykRow) {
    jpeg_decompress_struct& info = decoding.info;
    if (setjmp(decoding.jump)) return false;
    JSAMPROW rows[kJpegRowsPerCall];
    while (info.output_scanline < info.output_height) {
        const int first = static_cast<int>(info.output_scanline);
        if (cmykRow) {
            rows[0] = cmykRow;
            jpeg_read_scanlines(&info, rows, 1);
            convertCmykRow(cmykRow, static_cast<int>(info.output_width), info.saw_Adobe_marker,
                           pixels + rowOffset(first, stride));
            continue;
        }
        int count = 0;
        while (count < kJpegRowsPerCall && first + count < static_cast<int>(info.output_height)) {
            rows[count] = pixels + rowOffset(first + count, stride);
            ++count;
        }
        jpeg_read_scanlines(&info, rows, static_cast<JDIMENSION>(count));
    }
    // Whatever follows the last row (normally just EOI) is not needed.
    return true;
}

Tolm::CPtr<IImage> decodeJpeg(const unsigned char* data, std::size_t size, const std::string& name) {
    JpegDecoding decoding;
    std::memset(&decoding, 0, sizeof decoding);
    // Both survive jpeg_create_decompress, so a failure inside it finds its way back.
    decoding.info.err = jpeg_std_error(&decoding.errors);
    decoding.errors.error_exit = onJpegError;
    decoding.errors.emit_message = onJpegMessage;
    decoding.info.client_data = &decoding;
    struct Guard {
        jpeg_decompress_struct& info;
        ~Guard() { jpeg_destroy_decompress(&info); }
    } guard{decoding.info};

    if (!startJpeg(decoding, data, size)) throwDamaged(name, std::string("JPEG: ") + decoding.message);
    const long long width = decoding.info.output_width;
    const long long height = decoding.info.output_height;
    const bool isCmyk = decoding.info.out_color_space == JCS_CMYK;
    Tolm::CPtr<IImage> image =
        createImageFor(name, width, height, decoding.info.out_color_space == JCS_GRAYSCALE ? 1 : 2);
    detail::HeapBlock cmykRow(isCmyk ? 4 * static_cast<std::size_t>(width) : 0);
    if (!readJpegPixels(decoding, image->GetMutablePixels(), image->GetStride(),
                        isCmyk ? cmykRow.Get() : nullptr)) {
        throwDamaged(name, std::string("JPEG: ") + decoding.message);
    }
    return image;
}

bool startsWith(const unsigned char* data, std::size_t size, const char* magic, std::size_t length) noexcept {
    return size >= length && std::memcmp(data, magic, length) == 0;
}
bool isPng(const unsigned char* data, std::size_t size) noexcept {
    return startsWith(data, size, "\x89PNG\r\n\x1a\n", 8);
}
bool isPnm(const unsigned char* data, std::size_t size) noexcept {
    return size >= 2 && data[0] == 'P' && data[1] >= '1' && data[1] <= '6';
}

// What LoadImageFile reads first to tell the kind of file; a PNM header
// longer than this (long comments) is read from the whole file in memory.
constexpr std::size_t kFileHeadBytes = 64 * 1024;

}  // namespace

Tolm::CPtr<IImage> detail::decodeImage(const unsigned char* data, std::size_t size, const std::string& name) {
    if (isPng(data, size)) return decodePng(data, size, static_cast<std::int64_t>(size), nullptr, name);
    if (startsWith(data, size, "\xFF\xD8\xFF", 3)) return decodeJpeg(data, size, name);
    if (isPnm(data, size)) return detail::readPnm(data, size, static_cast<std::int64_t>(size), nullptr, name);
    throwDamaged(name, size == 0 ? "the file is empty" : "not a PNG, PBM, PGM, PPM or JPEG image");
}

Tolm::CPtr<IImage> LoadImageFile(Tolm::CBaseFile& file) {
    const std::string name = file.GetFileName().ToUtf8();
    const std::int64_t length = file.GetLength() - file.GetPosition();
    if (length > INT_MAX) throwDamaged(name, "the file is too large (" + std::to_string(length) + " bytes)");
    if (length <= 0) throwDamaged(name, "the file is empty");
    // A PNG file and a binary PNM raster go from the file straight into the
    // decoder; every other file is decoded from memory.
    const std::size_t headSize = std::min<std::size_t>(static_cast<std::size_t>(length), kFileHeadBytes);
    detail::HeapBlock head(headSize);
    file.ReadExactly(head.Get(), static_cast<int>(headSize));
    if (isPng(head.Get(), headSize)) return decodePng(head.Get(), headSize, length, &file, name);
    if (isPnm(head.Get(), headSize)) {
        if (auto image = detail::readPnm(head.Get(), headSize, length, &file, name)) return image;
    }
    if (headSize == static_cast<std::size_t>(length)) return detail::decodeImage(head.Get(), headSize, name);
    detail::HeapBlock data(static_cast<std::size_t>(length));
    std::memcpy(data.Get(), head.Get(), headSize);
    file.ReadExactly(data.Get() + headSize, static_cast<int>(length - static_cast<std::int64_t>(headSize)));
    return detail::decodeImage(data.Get(), data.GetSize(), name);
}

}  // namespace Image
