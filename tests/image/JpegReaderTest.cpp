// The JPEG reader on files of every coding that libjpeg writes (baseline,
// progressive, arithmetic), cut short or declaring frames the data cannot
// fill. The files are made with libjpeg itself, so that the reader meets
// codings its own writer never produces.
#include <Image/Image.h>
#include <Tolm/File.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>  // jpeglib.h needs FILE and size_t first
#include <cstdlib>
#include <string>

#include <jpeglib.h>

#include "ImageTestSupport.h"

using namespace ImageTest;

namespace {

enum class Coding { baseline, progressive, arithmetic };

// A smooth gradient in grey or R, G, B (no edges, so that 4:2:0 chroma
// loses little), different in every block.
Bytes gradient(int width, int height, int components) {
    Bytes pixels(static_cast<std::size_t>(width) * height * components);
    for (std::size_t i = 0; i < pixels.size(); ++i) {
        const int x = static_cast<int>(i / components % width), y = static_cast<int>(i / components / width);
        pixels[i] = static_cast<unsigned char>((x * 2 + y + static_cast<int>(i % components) * 30) % 256);
    }
    return pixels;
}

Bytes encode(const Bytes& pixels, int width, int height, int components, Coding coding) {
    jpeg_compress_struct info;
    jpeg_error_mgr errors;
    info.err = jpeg_std_error(&errors);
    jpeg_create_compress(&info);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&info, &buffer, &size);
    info.image_width = static_cast<JDIMENSION>(width);
    info.image_height = static_cast<JDIMENSION>(height);
    info.input_components = components;
    info.in_color_space = components == 1 ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, 90, TRUE);
    if (coding == Coding::progressive) jpeg_simple_progression(&info);
    info.arith_code = coding == Coding::arithmetic;
    jpeg_start_compress(&info, TRUE);
    while (info.next_scanline < info.image_height) {
        JSAMPROW row = const_cast<unsigned char*>(pixels.data()) +
                       static_cast<std::size_t>(info.next_scanline) * width * components;
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    Bytes file(buffer, buffer + size);
    jpeg_destroy_compress(&info);
    std::free(buffer);
    return file;
}

Bytes encodeGradient(Coding coding, int components = 3, int width = 64, int height = 48) {
    return encode(gradient(width, height, components), width, height, components, coding);
}

Tolm::CPtr<Image::IImage> load(const Bytes& bytes) {
    Tolm::CMemoryFile file;
    file.Write(bytes.data(), static_cast<int>(bytes.size()));
    file.SeekToBegin();
    return Image::LoadImageFile(file);
}
Bytes pixelsOf(const Image::IImage& image) {
    return Bytes(image.GetPixels(), image.GetPixels() + image.GetStride() * image.GetHeight());
}

// The file with its frame header (SOF0..SOF15 but DHT, JPG, DAC) declaring
// another size, and comment segments after SOI that bring it to `size` bytes.
Bytes withFrame(Bytes file, unsigned width, unsigned height, std::size_t size = 0) {
    for (std::size_t i = 2; i + 8 < file.size(); ++i) {
        const unsigned marker = file[i + 1];
        if (file[i] != 0xFF || marker < 0xC0 || marker > 0xCF || marker == 0xC4 || marker == 0xC8 ||
            marker == 0xCC)
            continue;
        // marker, length, precision, height, width
        file[i + 5] = static_cast<unsigned char>(height >> 8),
                 file[i + 6] = static_cast<unsigned char>(height);
        file[i + 7] = static_cast<unsigned char>(width >> 8), file[i + 8] = static_cast<unsigned char>(width);
        break;
    }
    while (file.size() < size) {
        const std::size_t length =
            std::min<std::size_t>(65535, std::max<std::size_t>(size - file.size(), 4) - 2);
        Bytes comment = {0xFF, 0xFE, static_cast<unsigned char>(length >> 8),
                         static_cast<unsigned char>(length)};
        comment.resize(length + 2, 'x');
        file.insert(file.begin() + 2, comment.begin(), comment.end());
    }
    return file;
}

std::string errorOf(const Bytes& file) {
    std::string message;
    const auto kind = thrownKind([&] { load(file); }, &message);
    return kind == Kind::file ? message : kind ? "an error of another kind: " + message : "no error";
}

// Every coding, grey and colour, decodes to the source within the loss of
// quality 90.
TEST(JpegReader, ReadsEveryCoding) {
    for (Coding coding : {Coding::baseline, Coding::progressive, Coding::arithmetic}) {
        for (int components : {1, 3}) {
            SCOPED_TRACE("coding " + std::to_string(static_cast<int>(coding)) + ", components " +
                         std::to_string(components));
            const Bytes source = gradient(64, 48, components);
            const auto image = load(encode(source, 64, 48, components, coding));
            ASSERT_EQ(components == 1 ? 1 : 2, image->GetColority());
            ASSERT_EQ(64 * components, image->GetStride());
            int worst = 0;
            const Bytes pixels = pixelsOf(*image);
            for (std::size_t i = 0; i < source.size(); ++i)
                worst = std::max(worst, std::abs(pixels[i] - source[i]));
            EXPECT_LE(worst, 8);
        }
    }
}

// A scan whose data runs out is a file error whether or not an EOI follows
// the cut; a file that lacks only its EOI after a single Huffman-coded scan
// has every pixel and reads like the whole file. With several scans a cut
// between two scans cannot be told from a missing EOI, and arithmetic
// decoding cannot tell its data ran out, so there a missing EOI stays an error.
TEST(JpegReader, ScansThatRunOutAreErrorsAndOnlyAMissingEoiOfOneScanIsNot) {
    const auto cutInside = [](Bytes file) {  // half-way through the data of the last scan
        std::size_t sos = file.size();
        while (!(file[sos - 2] == 0xFF && file[sos - 1] == 0xDA)) --sos;
        const std::size_t dataStart = sos + (file[sos] << 8 | file[sos + 1]);
        file.resize((dataStart + file.size() - 2) / 2);
        file.insert(file.end(), {0xFF, 0xD9});
        return file;
    };
    const auto withoutEoi = [](Bytes file) {
        file.resize(file.size() - 2);
        return file;
    };
    const Bytes baseline = encodeGradient(Coding::baseline),
                progressive = encodeGradient(Coding::progressive),
                arithmetic = encodeGradient(Coding::arithmetic);
    const struct {
        const char* name;
        Bytes file;
        const char* error;  // a part of the message, or null: reads like the whole file
    } cases[] = {
        {"baseline cut inside its scan, EOI after the cut", cutInside(baseline),
         "premature end of data segment"},
        {"progressive cut inside a scan, EOI after the cut", cutInside(progressive),
         "premature end of data segment"},
        {"grey baseline cut inside its scan", cutInside(encodeGradient(Coding::baseline, 1)),
         "premature end of data segment"},
        {"baseline without its EOI", withoutEoi(baseline), nullptr},
        {"grey baseline without its EOI", withoutEoi(encodeGradient(Coding::baseline, 1)), nullptr},
        {"baseline without its EOI and the last byte of data", withoutEoi(withoutEoi(baseline)),
         "premature end of data segment"},
        {"progressive without its EOI", withoutEoi(progressive), "Premature end of JPEG file"},
        {"arithmetic without its EOI", withoutEoi(arithmetic), "Premature end of JPEG file"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.error) {
            const std::string message = errorOf(c.file);
            EXPECT_NE(std::string::npos, message.find(c.error)) << message;
        } else {
            Bytes whole = c.file;
            whole.insert(whole.end(), {0xFF, 0xD9});
            EXPECT_EQ(pixelsOf(*load(whole)), pixelsOf(*load(c.file)));
        }
    }
}

// Files well under 1 MiB whose frames would need more than 256 MiB to decode
// (the image, plus the coefficients of the whole frame for a file of several
// scans) are refused from the header, before anything of that size is made.
TEST(JpegReader, SmallFilesCannotAskForMoreThan256MiB) {
    const struct {
        const char* name;
        Bytes file;
    } cases[] = {
        // 144 MB of grey and 288 MB of coefficients; far fewer pixels than
        // the bound of pixels a byte lets through.
        {"progressive grey 12000 x 12000 in 4 KB",
         withFrame(encodeGradient(Coding::progressive, 1, 16, 16), 12000, 12000, 4000)},
        // 147 MB of RGB and as many of coefficients at 4:2:0.
        {"progressive colour 7000 x 7000 in 2 KB",
         withFrame(encodeGradient(Coding::progressive, 3, 16, 16), 7000, 7000, 2000)},
        // 300 MB of RGB, under the baseline bound of 256 pixels a byte.
        {"baseline colour 10000 x 10000 in 600 KB",
         withFrame(encodeGradient(Coding::baseline, 3, 16, 16), 10000, 10000, 600000)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_LT(c.file.size(), 1u << 20);
        const std::string message = errorOf(c.file);
        EXPECT_NE(std::string::npos, message.find("MiB allowed")) << message;
    }
}

}  // namespace
