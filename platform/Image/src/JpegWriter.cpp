#include <Image/ImageServices.h>
#include <Tolm/Error.h>
#include <Tolm/File.h>

#include <csetjmp>
#include <cstdio>  // before jpeglib.h, which needs FILE and size_t
#include <cstring>
#include <string>

#include <jpeglib.h>

#include "ImageInternal.h"

namespace Image {
namespace {

// Compressed bytes reach the file in blocks of this size: large enough that
// a framework file passes them to the system as they are, rather than
// copying them into its own buffer first (it does so from 256 KiB on).
constexpr std::size_t kOutputBlockBytes = 256 * 1024;
// From this quality on chroma is kept at full resolution: subsampling would
// cost more than the quantisation does.
constexpr int kFullChromaQuality = 90;
// Rows handed to libjpeg per call when they come straight from the image.
constexpr int kRowsPerCall = 16;

// Everything the C side of one encoding touches. It holds no C++ object that
// needs destroying, so libjpeg may longjmp out of any callback.
struct JpegEncoding {
    jpeg_compress_struct info;
    jpeg_error_mgr errors;
    jpeg_destination_mgr destination;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];

    Tolm::CBaseFile* file;
    unsigned char* block;
    // A failure of the file, kept to be thrown once back in C++ frames.
    Tolm::CException* fileFailure;
    bool otherFailure;

    const unsigned char* pixels;
    int stride;
    int colority;        // of the image
    int outColority;     // of the JPEG
    unsigned char* row;  // conversion scratch: 4 bytes a pixel
};

JpegEncoding& encodingOf(j_common_ptr info) { return *static_cast<JpegEncoding*>(info->client_data); }

[[noreturn]] void onJpegError(j_common_ptr info) {
    JpegEncoding& encoding = encodingOf(info);
    (*info->err->format_message)(info, encoding.message);
    std::longjmp(encoding.jump, 1);
}

// Warnings of the compressor concern only odd parameters; they are not shown.
void onJpegMessage(j_common_ptr, int) {}

// Writes count bytes of the block; on failure leaves through the error jump.
void writeBlock(JpegEncoding& encoding, std::size_t count) {
    bool written = false;
    try {
        encoding.file->Write(encoding.block, static_cast<int>(count));
        written = true;
    } catch (Tolm::CException* error) {
        encoding.fileFailure = error;
    } catch (...) {
        encoding.otherFailure = true;
    }
    if (!written) std::longjmp(encoding.jump, 1);
}

void onInitDestination(j_compress_ptr info) {
    JpegEncoding& encoding = encodingOf(reinterpret_cast<j_common_ptr>(info));
    encoding.destination.next_output_byte = encoding.block;
    encoding.destination.free_in_buffer = kOutputBlockBytes;
}

boolean onBlockFull(j_compress_ptr info) {
    JpegEncoding& encoding = encodingOf(reinterpret_cast<j_common_ptr>(info));
    writeBlock(encoding, kOutputBlockBytes);
    encoding.destination.next_output_byte = encoding.block;
    encoding.destination.free_in_buffer = kOutputBlockBytes;
    return TRUE;
}

void onTermDestination(j_compress_ptr info) {
    JpegEncoding& encoding = encodingOf(reinterpret_cast<j_common_ptr>(info));
    const std::size_t used = kOutputBlockBytes - encoding.destination.free_in_buffer;
    if (used > 0) writeBlock(encoding, used);
}

// A row of the image in the form libjpeg was told to expect.
JSAMPROW convertRow(JpegEncoding& encoding, const unsigned char* source, int width) {
    unsigned char* grey = encoding.row;
    unsigned char* rgb = encoding.row + width;
    if (encoding.colority == 0) {
        detail::expandBitsToGrey(source, width, grey);
        if (encoding.outColority == 1) return grey;
        detail::expandGreyToRgb(grey, width, rgb);
        return rgb;
    }
    // A grey image written in colour; every other pairing is taken as it is.
    detail::expandGreyToRgb(source, width, rgb);
    return rgb;
}

bool needsConversion(int colority, int outColority) {
    return colority == 0 || (colority == 1 && outColority == 2);
}

// The C part: returns false when libjpeg or the file failed (jump taken).
bool runEncoding(JpegEncoding& encoding, int width, int height, int quality) {
    jpeg_compress_struct& info = encoding.info;
    if (setjmp(encoding.jump)) return false;

    jpeg_create_compress(&info);
    info.dest = &encoding.destination;
    info.image_width = static_cast<JDIMENSION>(width);
    info.image_height = static_cast<JDIMENSION>(height);
    const bool rgbInput = encoding.colority == 2 || encoding.outColority == 2;
    info.input_components = rgbInput ? 3 : 1;
    info.in_color_space = rgbInput ? JCS_RGB : JCS_GRAYSCALE;
    jpeg_set_defaults(&info);
    if (encoding.outColority == 1 && rgbInput) jpeg_set_colorspace(&info, JCS_GRAYSCALE);
    jpeg_set_quality(&info, quality, TRUE);
    if (quality >= kFullChromaQuality && info.num_components == 3) {
        info.comp_info[0].h_samp_factor = 1;
        info.comp_info[0].v_samp_factor = 1;
    }
    jpeg_start_compress(&info, TRUE);

    const bool convert = needsConversion(encoding.colority, encoding.outColority);
    JSAMPROW rows[kRowsPerCall];
    while (info.next_scanline < info.image_height) {
        const int first = static_cast<int>(info.next_scanline);
        int count = 0;
        if (convert) {
            rows[count++] = convertRow(
                encoding, encoding.pixels + static_cast<std::ptrdiff_t>(first) * encoding.stride, width);
        } else {
            // libjpeg takes non-const rows but only reads them.
            while (count < kRowsPerCall && first + count < height) {
                rows[count] = const_cast<JSAMPROW>(
                    encoding.pixels + static_cast<std::ptrdiff_t>(first + count) * encoding.stride);
                ++count;
            }
        }
        jpeg_write_scanlines(&info, rows, static_cast<JDIMENSION>(count));
    }
    jpeg_finish_compress(&info);
    return true;
}

void encodeJpeg(Tolm::CBaseFile& file, const IImage& image, int quality, int outColority) {
    const int width = image.GetWidth();
    const int height = image.GetHeight();
    const int colority = image.GetColority();
    if (width < 1 || height < 1 || colority < 0 || colority > 2 || !image.GetPixels()) {
        Tolm::ThrowArgumentError("JPEG writer: cannot write an image of " + std::to_string(width) + " x " +
                                 std::to_string(height) + " pixels, colority " + std::to_string(colority));
    }
    // JPEG's own limit on either side.
    if (width > JPEG_MAX_DIMENSION || height > JPEG_MAX_DIMENSION) {
        Tolm::ThrowArgumentError("JPEG writer: " + std::to_string(width) + " x " + std::to_string(height) +
                                 " pixels exceed JPEG's limit of " + std::to_string(JPEG_MAX_DIMENSION));
    }

    detail::HeapBlock block(kOutputBlockBytes);
    detail::HeapBlock row(needsConversion(colority, outColority) ? 4 * static_cast<std::size_t>(width) : 0);

    JpegEncoding encoding;
    std::memset(&encoding, 0, sizeof encoding);
    // Both survive jpeg_create_compress, so a failure inside it finds its way back.
    encoding.info.err = jpeg_std_error(&encoding.errors);
    encoding.info.client_data = &encoding;
    encoding.errors.error_exit = onJpegError;
    encoding.errors.emit_message = onJpegMessage;
    encoding.destination.init_destination = onInitDestination;
    encoding.destination.empty_output_buffer = onBlockFull;
    encoding.destination.term_destination = onTermDestination;
    encoding.file = &file;
    encoding.block = block.Get();
    encoding.pixels = image.GetPixels();
    encoding.stride = image.GetStride();
    encoding.colority = colority;
    encoding.outColority = outColority;
    encoding.row = row.Get();

    const bool encoded = runEncoding(encoding, width, height, quality);
    jpeg_destroy_compress(&encoding.info);
    if (encoded) return;
    if (encoding.fileFailure) throw encoding.fileFailure;
    const std::string where = "cannot write JPEG to '" + file.GetFileName().ToUtf8() + "': ";
    if (encoding.otherFailure) Tolm::ThrowFileError(where + "the file failed", 0);
    Tolm::ThrowFileError(where + encoding.message, 0);
}

class CJpegWriter final : public IImageWriter {
public:
    explicit CJpegWriter(Tolm::CBaseFile& file) noexcept : file_(file) {}

    void Write(const IImage* image, const Tolm::IObject* params) override {
        if (!image) Tolm::ThrowArgumentError("JPEG writer: no image to write");
        Tolm::CPtr<IJpegSaveParams> defaults;
        const IJpegSaveParams* saveParams = nullptr;
        if (params) {
            saveParams = dynamic_cast<const IJpegSaveParams*>(params);
            if (!saveParams)
                Tolm::ThrowArgumentError("JPEG writer: the parameters are not JPEG save parameters");
        } else {
            defaults = detail::createJpegSaveParams();
            saveParams = defaults.Get();
        }
        encodeJpeg(file_, *image, saveParams->GetQuality(), saveParams->GetColority());
    }

private:
    Tolm::CBaseFile& file_;
};

}  // namespace

Tolm::CPtr<IImageWriter> detail::createJpegWriter(Tolm::CBaseFile& file) {
    return Tolm::CPtr<IImageWriter>(new CJpegWriter(file));
}

}  // namespace Image
