#include <Image/Image.h>
#include <Image/ImageServices.h>
#include <gtest/gtest.h>
#include <jpeglib.h>
#include <png.h>

#include <cstdio>  // jpeglib.h needs FILE and size_t first
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>

#include "ImageTestImages.h"
#include "ImageTestSupport.h"

using ImageTest::Bytes;
using ImageTest::thrownKind;
using Tolm::CException;

namespace {

Bytes bytesOf(const std::string& text) { return Bytes(text.begin(), text.end()); }
Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

Tolm::CPtr<Image::IImage> load(const Bytes& bytes) {
    Tolm::CMemoryFile file;
    file.Write(bytes.data(), static_cast<int>(bytes.size()));
    file.SeekToBegin();
    return Image::LoadImageFile(file);
}

// Loading must fail with a file error that names the file.
void expectDamaged(const Bytes& bytes, const std::string& what) {
    std::string message;
    const auto kind = thrownKind([&] { load(bytes); }, &message);
    ASSERT_TRUE(kind.has_value()) << what;
    EXPECT_EQ(CException::Kind::file, *kind) << what << ": " << message;
    EXPECT_NE(std::string::npos, message.find("memory file")) << what << ": " << message;
}

Bytes rowsOf(const Image::IImage& image) {
    const unsigned char* pixels = image.GetPixels();
    return Bytes(pixels, pixels + static_cast<std::size_t>(image.GetStride()) * image.GetHeight());
}

TEST(PnmReader, ReadsEveryKind) {
    struct Case {
        const char* what;
        Bytes file;
        int width, height, colority;
        Bytes pixels;
    };
    const Case cases[] = {
        {"plain PBM with a comment", bytesOf("P1\n# made by hand\n3 2\n1 0 1\n010\n"), 3, 2, 0, {0xA0, 0x40}},
        {"binary PBM with junk in the padding",
         bytesOf("P4 3 2\n") + Bytes{0xBF, 0x40},
         3,
         2,
         0,
         {0xA0, 0x40}},
        {"plain PGM with maxval 15", bytesOf("P2\n2 2\n15\n0 15\n7 8\n"), 2, 2, 1, {0, 255, 119, 136}},
        {"binary PGM", bytesOf("P5\n2 1\n255\n") + Bytes{10, 200}, 2, 1, 1, {10, 200}},
        {"binary PGM of 16 bits",
         bytesOf("P5 2 1 65535\n") + Bytes{0xFF, 0xFF, 0x80, 0x00},
         2,
         1,
         1,
         {255, 128}},
        {"plain PPM", bytesOf("P3\n1 1\n255\n1 2 3\n"), 1, 1, 2, {1, 2, 3}},
        {"binary PPM", bytesOf("P6\n2 1\n255\n") + Bytes{1, 2, 3, 4, 5, 6}, 2, 1, 2, {1, 2, 3, 4, 5, 6}},
        {"binary PGM whose raster starts with a blank byte",
         bytesOf("P5 1 1 255\n") + Bytes{' '},
         1,
         1,
         1,
         {' '}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const auto image = load(c.file);
        EXPECT_EQ(c.width, image->GetWidth());
        EXPECT_EQ(c.height, image->GetHeight());
        EXPECT_EQ(c.colority, image->GetColority());
        EXPECT_EQ(c.pixels, rowsOf(*image));
    }
}

TEST(PnmReader, DamagedHeadersAndDataAreFileErrors) {
    const std::pair<const char*, Bytes> cases[] = {
        {"nothing", {}},
        {"unknown magic", bytesOf("P7 1 1 255\n\n")},
        {"no width", bytesOf("P5")},
        {"no height", bytesOf("P5 2 ")},
        {"no maxval", bytesOf("P5 2 2")},
        {"negative width", bytesOf("P5 -2 2 255\n1234")},
        {"zero width", bytesOf("P5 0 2 255\n")},
        {"zero maxval", bytesOf("P5 2 2 0\n1234")},
        {"maxval above 65535", bytesOf("P5 1 1 70000\n12")},
        {"width too large for an int", bytesOf("P5 99999999999 1 255\n1")},
        {"junk after a number", bytesOf("P5 2x 2 255\n1234")},
        {"no blank before the raster", bytesOf("P5 2 2 255")},
        {"raster one byte short", bytesOf("P5 2 2 255\nabc")},
        {"16-bit raster one byte short", bytesOf("P5 1 1 65535\n") + Bytes{1}},
        {"binary sample above maxval", bytesOf("P5 2 1 200\n") + Bytes{201, 0}},
        {"huge PGM over ten bytes", bytesOf("P5 99999 99999 255\n0123456789")},
        {"huge PBM over ten bytes", bytesOf("P4 2147483647 2147483647\n0123456789")},
        {"huge PPM over ten bytes", bytesOf("P6 40000 40000 65535\n0123456789")},
        {"huge plain PGM", bytesOf("P2 100000 100000 255\n1 2 3")},
        {"plain PGM cut short", bytesOf("P2 2 2 255\n1 2 3")},
        {"plain PGM cut short after blanks", bytesOf("P2 2 2 255\n1 2 3 \n\n\n\n")},
        {"plain sample above maxval", bytesOf("P2 1 1 10\n11\n")},
        {"plain sample not a number", bytesOf("P3 1 1 255\n1 2 x\n")},
        {"plain PBM pixel not 0 or 1", bytesOf("P1 2 1\n12\n")},
        {"plain PBM cut short", bytesOf("P1 3 3\n1 0 1 0\n")},
        {"not an image at all", bytesOf("GIF89a........")},
    };
    for (const auto& [what, bytes] : cases) expectDamaged(bytes, what);
}

// ------------------------------------------------------------------------ PNG

struct PngSpec {
    int width, height, colorType, bitDepth;
    bool interlaced;
    std::function<void(int y, Bytes& row)> fillRow;
    std::vector<png_color> palette;
    Bytes transparency;
};

void appendToBytes(png_structp png, png_bytep data, std::size_t size) {
    auto* out = static_cast<Bytes*>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + size);
}

Bytes makePng(const PngSpec& spec) {
    Bytes out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_set_write_fn(png, &out, appendToBytes, nullptr);
    png_set_IHDR(png, info, static_cast<png_uint_32>(spec.width), static_cast<png_uint_32>(spec.height),
                 spec.bitDepth, spec.colorType, spec.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (!spec.palette.empty())
        png_set_PLTE(png, info, spec.palette.data(), static_cast<int>(spec.palette.size()));
    if (!spec.transparency.empty()) {
        png_set_tRNS(png, info, spec.transparency.data(), static_cast<int>(spec.transparency.size()),
                     nullptr);
    }
    png_write_info(png, info);
    std::vector<Bytes> rows(static_cast<std::size_t>(spec.height), Bytes(png_get_rowbytes(png, info)));
    std::vector<png_bytep> pointers;
    for (int y = 0; y < spec.height; ++y) {
        spec.fillRow(y, rows[static_cast<std::size_t>(y)]);
        pointers.push_back(rows[static_cast<std::size_t>(y)].data());
    }
    png_write_image(png, pointers.data());
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return out;
}

TEST(PngReader, ReadsGreyColourPaletteAndDropsAlpha) {
    struct Case {
        const char* what;
        PngSpec spec;
        int colority;
        std::function<void(int x, int y, unsigned char* expected)> pixelAt;
    };
    const Case cases[] = {
        {"grey, 8 bits",
         {13,
          5,
          PNG_COLOR_TYPE_GRAY,
          8,
          false,
          [](int y, Bytes& row) {
              for (int x = 0; x < 13; ++x) row[x] = static_cast<unsigned char>(x * 19 + y);
          },
          {},
          {}},
         1,
         [](int x, int y, unsigned char* e) { e[0] = static_cast<unsigned char>(x * 19 + y); }},
        {"grey, 1 bit",
         {10,
          3,
          PNG_COLOR_TYPE_GRAY,
          1,
          false,
          [](int y, Bytes& row) {
              row[0] = y == 1 ? 0xFF : 0x80;
              row[1] = 0;
          },
          {},
          {}},
         1,
         [](int x, int y, unsigned char* e) { e[0] = (y == 1 && x < 8) || x == 0 ? 255 : 0; }},
        {"colour, interlaced",
         {17,
          11,
          PNG_COLOR_TYPE_RGB,
          8,
          true,
          [](int y, Bytes& row) {
              for (int x = 0; x < 17; ++x) {
                  row[3 * x] = static_cast<unsigned char>(x * 15);
                  row[3 * x + 1] = static_cast<unsigned char>(y * 20);
                  row[3 * x + 2] = 77;
              }
          },
          {},
          {}},
         2,
         [](int x, int y, unsigned char* e) {
             e[0] = static_cast<unsigned char>(x * 15);
             e[1] = static_cast<unsigned char>(y * 20);
             e[2] = 77;
         }},
        {"palette with transparency",
         {4,
          2,
          PNG_COLOR_TYPE_PALETTE,
          8,
          false,
          [](int y, Bytes& row) {
              for (int x = 0; x < 4; ++x) row[x] = static_cast<unsigned char>((x + y) % 2);
          },
          {{10, 20, 30}, {200, 100, 0}},
          {0, 255}},
         2,
         [](int x, int y, unsigned char* e) {
             const bool second = (x + y) % 2 == 1;
             e[0] = second ? 200 : 10;
             e[1] = second ? 100 : 20;
             e[2] = second ? 0 : 30;
         }},
        {"grey with alpha, 16 bits",
         {3,
          2,
          PNG_COLOR_TYPE_GRAY_ALPHA,
          16,
          false,
          [](int, Bytes& row) {
              for (int x = 0; x < 3; ++x) {
                  row[4 * x] = static_cast<unsigned char>(0x40 * x);
                  row[4 * x + 1] = 0xCD;
                  row[4 * x + 2] = 0x12;
                  row[4 * x + 3] = 0x34;
              }
          },
          {},
          {}},
         1,
         [](int x, int, unsigned char* e) { e[0] = static_cast<unsigned char>(0x40 * x); }},
        {"colour with alpha",
         {2,
          2,
          PNG_COLOR_TYPE_RGB_ALPHA,
          8,
          false,
          [](int y, Bytes& row) {
              for (int x = 0; x < 2; ++x) {
                  row[4 * x] = 1;
                  row[4 * x + 1] = static_cast<unsigned char>(x);
                  row[4 * x + 2] = static_cast<unsigned char>(y);
                  row[4 * x + 3] = 9;
              }
          },
          {},
          {}},
         2,
         [](int x, int y, unsigned char* e) {
             e[0] = 1;
             e[1] = static_cast<unsigned char>(x);
             e[2] = static_cast<unsigned char>(y);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const auto image = load(makePng(c.spec));
        ASSERT_EQ(c.colority, image->GetColority());
        ASSERT_EQ(c.spec.width, image->GetWidth());
        ASSERT_EQ(c.spec.height, image->GetHeight());
        const int channels = c.colority == 1 ? 1 : 3;
        for (int y = 0; y < c.spec.height; ++y) {
            for (int x = 0; x < c.spec.width; ++x) {
                unsigned char expected[3];
                c.pixelAt(x, y, expected);
                const unsigned char* got = image->GetPixels() + y * image->GetStride() + x * channels;
                for (int k = 0; k < channels; ++k)
                    ASSERT_EQ(expected[k], got[k]) << x << "," << y << " channel " << k;
            }
        }
    }
}

std::uint32_t crc32Of(const unsigned char* data, std::size_t size) {
    std::uint32_t crc = 0xFFFFFFFFu;
    for (std::size_t i = 0; i < size; ++i) {
        crc ^= data[i];
        for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}
void putBigEndian(Bytes& bytes, std::size_t at, std::uint32_t value) {
    for (int k = 0; k < 4; ++k)
        bytes[at + static_cast<std::size_t>(k)] = static_cast<unsigned char>(value >> (24 - 8 * k));
}

TEST(PngReader, DamagedFilesAreFileErrors) {
    const PngSpec spec{40,
                       30,
                       PNG_COLOR_TYPE_RGB,
                       8,
                       false,
                       [](int y, Bytes& row) {
                           for (std::size_t i = 0; i < row.size(); ++i)
                               row[i] = static_cast<unsigned char>(i * y);
                       },
                       {},
                       {}};
    const Bytes good = makePng(spec);
    ASSERT_EQ(40, load(good)->GetWidth());

    expectDamaged(Bytes(good.begin(), good.begin() + static_cast<long>(good.size() / 2)), "cut in half");
    expectDamaged(Bytes(good.begin(), good.begin() + 20), "cut inside IHDR");
    Bytes badCrc = good;
    badCrc[good.size() - 20] ^= 0x01;  // inside IDAT's data or CRC
    expectDamaged(badCrc, "IDAT damaged");

    // IHDR (at 8: length, "IHDR", width, height, ...) claiming 60000 x 60000:
    // the bytes cannot hold that, and nothing that size may be allocated.
    Bytes huge = good;
    putBigEndian(huge, 16, 60000);
    putBigEndian(huge, 20, 60000);
    putBigEndian(huge, 29, crc32Of(huge.data() + 12, 17));
    expectDamaged(huge, "IHDR lying about the size");
}

// ----------------------------------------------------------------------- JPEG

Bytes smallJpeg(int colority) {
    auto services = Tolm::CreateObject<Image::IImageServices>(u"Image.ImageServices");
    auto* jpeg =
        dynamic_cast<Image::IJpegImageFileFormat*>(services->GetFileFormatRegistry()->GetFileFormat(5));
    auto params = jpeg->CreateSaveParams();
    params->SetColority(colority);
    Tolm::CMemoryFile file;
    jpeg->CreateWriter(file)->Write(ImageTest::makeTestImage(2, 64, 48).Get(), params.Get());
    return ImageTest::contentOf(file);
}

TEST(JpegReader, DamagedFilesAreFileErrors) {
    const Bytes good = smallJpeg(2);
    ASSERT_EQ(64, load(good)->GetWidth());
    expectDamaged(Bytes(good.begin(), good.begin() + static_cast<long>(good.size() / 2)), "cut in half");
    expectDamaged(Bytes(good.begin(), good.begin() + 40), "cut inside the header");
    expectDamaged(Bytes{0xFF, 0xD8, 0xFF, 0x00, 0x12, 0x34}, "junk after the start marker");

    // SOF0 claiming 60000 x 60000 on a file of a few hundred bytes.
    Bytes huge = good;
    for (std::size_t i = 2; i + 9 < huge.size(); ++i) {
        if (huge[i] == 0xFF && huge[i + 1] == 0xC0) {
            huge[i + 5] = huge[i + 7] = 60000 >> 8;
            huge[i + 6] = huge[i + 8] = 60000 & 0xFF;
            break;
        }
    }
    expectDamaged(huge, "SOF lying about the size");
}

// CMYK as Adobe writes it: every channel stored inverted (255 = no ink).
Bytes adobeCmykJpeg(const unsigned char (&stored)[4]) {
    constexpr int kSide = 16;
    jpeg_compress_struct info{};
    jpeg_error_mgr errors{};
    info.err = jpeg_std_error(&errors);
    jpeg_create_compress(&info);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&info, &buffer, &size);
    info.image_width = info.image_height = kSide;
    info.input_components = 4;
    info.in_color_space = JCS_CMYK;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, 100, TRUE);
    jpeg_start_compress(&info, TRUE);
    unsigned char row[4 * kSide];
    for (int x = 0; x < kSide; ++x) std::memcpy(row + 4 * x, stored, 4);
    JSAMPROW rowPointer = row;
    while (info.next_scanline < info.image_height) jpeg_write_scanlines(&info, &rowPointer, 1);
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    Bytes jpeg(buffer, buffer + size);
    std::free(buffer);
    return jpeg;
}

TEST(JpegReader, CmykBecomesRgb) {
    struct Case {
        const char* what;
        unsigned char stored[4];
        unsigned char rgb[3];
    };
    const Case cases[] = {
        {"paper", {255, 255, 255, 255}, {255, 255, 255}},
        {"magenta and yellow ink", {255, 0, 0, 255}, {255, 0, 0}},
        {"half black", {255, 255, 255, 127}, {127, 127, 127}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const auto image = load(adobeCmykJpeg(c.stored));
        ASSERT_EQ(2, image->GetColority());
        for (int k = 0; k < 3; ++k)
            EXPECT_NEAR(c.rgb[k], image->GetPixels()[5 * 3 + k], 3) << "channel " << k;
    }
}

TEST(ImageFile, ReadsFromTheFilesPosition) {
    Tolm::CMemoryFile file;
    file.Write("xyz", 3);
    const Bytes pgm = bytesOf("P5 1 1 255\n") + Bytes{42};
    file.Write(pgm.data(), static_cast<int>(pgm.size()));
    file.Seek(3, Tolm::CBaseFile::begin);
    EXPECT_EQ(42, Image::LoadImageFile(file)->GetPixels()[0]);
}

}  // namespace
