// Images, grey conversion, the JPEG writer and the
// readers. Reference PNG files come from libpng directly.
#include <Image/Image.h>
#include <Image/ImageServices.h>
#include <Image/Streams.h>
#include <Image/Transform.h>
#include <Tolm/File.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdlib>
#include <random>

#include <png.h>
#include <zlib.h>

#include "ImageTestSupport.h"

using namespace ImageTest;
using namespace std::string_literals;
using Tolm::CPtr;

namespace {

Bytes bytesOf(const std::string& text) { return Bytes(text.begin(), text.end()); }
Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}
Bytes rowsOf(const Image::IImage& image) {
    return Bytes(image.GetPixels(), image.GetPixels() + image.GetStride() * image.GetHeight());
}
std::array<int, 3> shapeOf(const Image::IImage& image) {
    return {image.GetColority(), image.GetWidth(), image.GetHeight()};
}

// Black-and-white squares with a border, or gradients, on a shape that is
// deliberately no multiple of 8 or 16.
CPtr<Image::IImage> makeTestImage(int colority, int width = 67, int height = 45) {
    auto image = Image::CreateImage(width, height, colority);
    for (int y = 0; y < height; ++y) {
        unsigned char* row = image->GetMutablePixels() + y * image->GetStride();
        for (int x = 0; x < width; ++x) {
            const int grey = (x + y) * 255 / (width + height),
                      rgb[] = {x * 255 / width, y * 255 / height, 255 - grey / 2};
            if (colority == 0 && (x == 0 || y == 0 || (x / 3 + y / 3) % 2 == 0))
                row[x / 8] |= 0x80 >> (x % 8);
            if (colority == 1) row[x] = static_cast<unsigned char>(grey);
            for (int c = 0; colority == 2 && c < 3; ++c) row[3 * x + c] = static_cast<unsigned char>(rgb[c]);
        }
    }
    return image;
}

// The pixel of any image as R, G, B (black and white as 0 or 255).
int rgbAt(const Image::IImage& image, int x, int y, int c) {
    const unsigned char* row = image.GetPixels() + y * image.GetStride();
    if (image.GetColority() == 2) return row[3 * x + c];
    return image.GetColority() == 1 ? row[x] : (row[x / 8] << x % 8 & 0x80) ? 0 : 255;
}
// The largest difference between two images of the same shape, in R, G, B,
// or between the luma of `want` and grey `got`.
int worstDifference(const Image::IImage& want, const Image::IImage& got, bool asLuma) {
    int worst = 0;
    for (int i = 0; i < want.GetWidth() * want.GetHeight() * 3; ++i) {
        const int x = i / 3 % want.GetWidth(), y = i / 3 / want.GetWidth();
        const auto at = [x, y](const Image::IImage& image, int c) { return rgbAt(image, x, y, c); };
        const int luma = (77 * at(want, 0) + 150 * at(want, 1) + 29 * at(want, 2) + 128) >> 8;
        worst = std::max(worst, std::abs(at(got, i % 3) - (asLuma ? luma : at(want, i % 3))));
    }
    return worst;
}

// The JPEG writer's output, written into `file` (a memory file or one derived from it).
Bytes jpegOf(const Image::IImage& image, int quality = 75, int colority = 2,
             Tolm::CMemoryFile&& file = Tolm::CMemoryFile()) {
    auto services = Tolm::CreateObject<Image::IImageServices>(u"Image.ImageServices");
    auto* jpeg =
        dynamic_cast<Image::IJpegImageFileFormat*>(services->GetFileFormatRegistry()->GetFileFormat(5));
    auto params = jpeg->CreateSaveParams();
    params->SetQuality(quality);
    params->SetColority(colority);
    jpeg->CreateWriter(file)->Write(&image, params.Get());
    return Bytes(file.GetData(), file.GetData() + file.GetLength());
}
// Loads an image a few bytes into its file, as images sit inside others.
CPtr<Image::IImage> load(const Bytes& bytes) {
    Tolm::CMemoryFile file;
    file.Write("xyz", 3);
    file.Write(bytes.data(), static_cast<int>(bytes.size()));
    file.Seek(3, Tolm::CBaseFile::begin);
    return Image::LoadImageFile(file);
}

// Strides and blank new pixels show in the readers' output (see the PNM cases).
TEST(CreateImage, RefusesShapesWithoutPixelsOrTooLargeToHold) {
    const std::array<int, 3> cases[] = {{0, 1, 1}, {1, 0, 1},  {-4, 1, 1},
                                        {1, 1, 3}, {1, 1, -1}, {50000, 50000, 1}};
    for (const auto& shape : cases) {
        // Indexes, not a structured binding: clang 14 cannot capture a binding.
        EXPECT_EQ(Kind::argument, thrownKind([&] { Image::CreateImage(shape[0], shape[1], shape[2]); }))
            << shape[0] << " x " << shape[1] << " colority " << shape[2];
    }
}

// Every class the image library registers is made by name and offers its
// interface; a cast to an interface the object lacks is reported once.
TEST(Factory, EveryClassNameMakesItsInterfaceAndAWrongCastIsReported) {
    EXPECT_TRUE(Tolm::CreateObject<Image::IImageServices>(u"Image.ImageServices"));
    EXPECT_TRUE(Tolm::CreateObject<Image::IColorityConversionParams>(u"Image.ColorityConversionParams"));
    EXPECT_TRUE(Tolm::CreateObject<Image::IAlgorithm>(u"Image.AlgorithmClass"));
    EXPECT_TRUE(Tolm::CreateObject<Image::IImageTransformer>(u"Image.ColorityConversionToGrayTransformer"));
    EXPECT_TRUE(Tolm::CreateObject<Image::IStreamsToolkit>(u"Image.StreamsToolkit"));
    EXPECT_EQ(Kind::internal,
              thrownKind([] { Tolm::CreateObject<Image::IAlgorithm>(u"Image.StreamsToolkit"); }));
}

// Every colority, at widths around the byte boundary of a 1-bit row, into
// grey pixel by pixel, with white and black kept at the ends of the scale.
TEST(GreyTransformer, EveryColorityBecomesGreyPixelByPixel) {
    auto transformer =
        Tolm::CreateObject<Image::IImageTransformer>(u"Image.ColorityConversionToGrayTransformer");
    auto params = Tolm::CreateObject<Image::IColorityConversionParams>(u"Image.ColorityConversionParams");
    for (int colority : {0, 1, 2}) {
        for (int width : {1, 7, 8, 9, 67}) {
            auto image = makeTestImage(colority, width, 5);
            unsigned char* firstPixels = image->GetMutablePixels();
            if (colority == 2)
                std::fill_n(firstPixels, 3, 255), std::fill_n(firstPixels + 3, width > 1 ? 3 : 0, 0);
            const auto grey = transformer->Transform(image.Get(), params.Get(), nullptr);
            ASSERT_EQ((std::array{1, width, 5}), shapeOf(*grey));
            EXPECT_EQ(0, worstDifference(*image, *grey, true))
                << "colority " << colority << ", width " << width;
        }
    }
    const auto image = makeTestImage(0);
    EXPECT_EQ(1, transformer->Transform(image.Get(), nullptr, nullptr)->GetColority());
}

// ----------------------------------------------------------------------- JPEG

// Every image colority into either JPEG colority. At quality 100 with
// full-resolution chroma the loss is rounding only.
TEST(JpegFile, EveryColorityDecodesBackWithinJpegLossAtQuality100) {
    for (int colority : {0, 1, 2}) {
        for (int outColority : {1, 2}) {
            SCOPED_TRACE("colority " + std::to_string(colority) + " as " + std::to_string(outColority));
            const auto image = makeTestImage(colority);
            const auto loaded = load(jpegOf(*image, 100, outColority));
            ASSERT_EQ((std::array{outColority, 67, 45}), shapeOf(*loaded));
            EXPECT_LE(worstDifference(*image, *loaded, outColority == 1), 4);
        }
    }
}

// A memory file whose writes fail once `writes` writes have gone.
class CFailingFile final : public Tolm::CMemoryFile {
public:
    explicit CFailingFile(int writes) : writesLeft_(writes) {}
    void Write(const void* buffer, int count) override {
        if (writesLeft_-- <= 0)
            Tolm::ThrowFileError("cannot write 'failing file': No space left on device", 28);
        CMemoryFile::Write(buffer, count);
    }

private:
    int writesLeft_;
};

TEST(JpegFile, AFailingFilePassesItsErrorThrough) {
    const auto image = makeTestImage(2, 1200, 900);  // several 64 KiB blocks at quality 100
    for (int writesBeforeFailure : {0, 1}) {
        std::string message;
        EXPECT_EQ(Kind::file,
                  thrownKind([&] { jpegOf(*image, 100, 2, CFailingFile(writesBeforeFailure)); }, &message));
        EXPECT_NE(std::string::npos, message.find("No space left")) << message;
    }
}

// -------------------------------------------------------------------- readers

struct PnmCase {
    std::string file;
    int width, height, colority;
    Bytes pixels;
};
const PnmCase kPnmCases[] = {
    {"P1\n# made by hand\n3 2\n1 0 1\n010\n", 3, 2, 0, {0xA0, 0x40}},
    {"P4 10 2\n\xBF\xFF\x40\x7F", 10, 2, 0, {0xBF, 0xC0, 0x40, 0x40}},  // junk in the padding
    {"P2\n2 2\n15\n0 15\n7 8\n", 2, 2, 1, {0, 255, 119, 136}},
    {"P5\n2 1\n255\n\x0A\xC8", 2, 1, 1, {10, 200}},
    {"P5 2 1 65535\n\xFF\xFF\x80\x00"s, 2, 1, 1, {255, 128}},
    {"P5 1 1 255\n ", 1, 1, 1, {' '}},  // the raster starts with a blank
    {"P3\n1 1\n255\n1 2 3\n", 1, 1, 2, {1, 2, 3}},
    {"P6\n2 1\n255\n\x01\x02\x03\x04\x05\x06", 2, 1, 2, {1, 2, 3, 4, 5, 6}}};

TEST(PnmReader, ReadsEveryKind) {
    for (const PnmCase& c : kPnmCases) {
        const auto image = load(bytesOf(c.file));
        EXPECT_EQ((std::array{c.colority, c.width, c.height}), shapeOf(*image));
        EXPECT_EQ(c.pixels, rowsOf(*image)) << c.file;
    }
}

// PNG that libpng writes from random rows; palettes have 256 entries, the
// first three transparent to some degree.
struct PngLayout {
    int width, height, colorType, bitDepth, interlace;
};
const PngLayout kPngLayouts[] = {
    {13, 5, PNG_COLOR_TYPE_GRAY, 8, 0},      {10, 3, PNG_COLOR_TYPE_GRAY, 1, 0},
    {9, 4, PNG_COLOR_TYPE_GRAY, 2, 1},       {11, 3, PNG_COLOR_TYPE_GRAY, 4, 0},
    {17, 11, PNG_COLOR_TYPE_RGB, 8, 1},      {6, 5, PNG_COLOR_TYPE_RGB, 16, 0},
    {7, 3, PNG_COLOR_TYPE_PALETTE, 8, 0},    {3, 2, PNG_COLOR_TYPE_GRAY_ALPHA, 16, 0},
    {5, 4, PNG_COLOR_TYPE_GRAY_ALPHA, 8, 0}, {4, 3, PNG_COLOR_TYPE_RGB_ALPHA, 16, 1}};
png_byte paletteSample(int index, int c) {
    return static_cast<png_byte>(c == 0 ? index : c == 1 ? ~index : index * 7);
}
void appendPng(png_structp png, png_bytep data, std::size_t size) {
    static_cast<Bytes*>(png_get_io_ptr(png))
        ->insert(static_cast<Bytes*>(png_get_io_ptr(png))->end(), data, data + size);
}

Bytes makePng(const PngLayout& layout, std::vector<Bytes>* rowsMade = nullptr) {
    Bytes out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_set_write_fn(png, &out, appendPng, nullptr);
    png_set_IHDR(png, info, static_cast<png_uint_32>(layout.width), static_cast<png_uint_32>(layout.height),
                 layout.bitDepth, layout.colorType, layout.interlace, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_color palette[256];
    png_byte transparency[] = {0, 128, 255};
    for (int i = 0; i < 256; ++i)
        palette[i] = {paletteSample(i, 0), paletteSample(i, 1), paletteSample(i, 2)};
    if (layout.colorType == PNG_COLOR_TYPE_PALETTE) png_set_PLTE(png, info, palette, 256);
    if (layout.colorType == PNG_COLOR_TYPE_PALETTE) png_set_tRNS(png, info, transparency, 3, nullptr);
    png_write_info(png, info);
    std::mt19937 random(static_cast<unsigned>(layout.width));
    std::vector<Bytes> rows(static_cast<std::size_t>(layout.height), Bytes(png_get_rowbytes(png, info)));
    std::vector<png_bytep> pointers;
    for (Bytes& row : rows) {
        for (auto& byte : row) byte = static_cast<unsigned char>(random());
        pointers.push_back(row.data());
    }
    png_write_image(png, pointers.data());
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    if (rowsMade) *rowsMade = rows;
    return out;
}

// What the reader makes of sample i of a row: grey below 8 bits scaled to
// 0..255, 16 bits cut to their high byte, palette entries looked up, alpha dropped.
int expectedSample(const PngLayout& layout, const Bytes& row, int i) {
    const int channels = layout.colorType & PNG_COLOR_MASK_COLOR ? 3 : 1, x = i / channels;
    if (layout.colorType == PNG_COLOR_TYPE_PALETTE) return paletteSample(row[x], i % 3);
    const int index = x * (channels + (layout.colorType & PNG_COLOR_MASK_ALPHA ? 1 : 0)) + i % channels;
    if (layout.bitDepth >= 8) return row[index * layout.bitDepth / 8];
    const int max = (1 << layout.bitDepth) - 1, perByte = 8 / layout.bitDepth;
    return (row[index / perByte] >> (8 - layout.bitDepth * (index % perByte + 1)) & max) * 255 / max;
}

TEST(PngReader, ReadsEveryColourTypeAndDepth) {
    for (const PngLayout& layout : kPngLayouts) {
        SCOPED_TRACE("colour type " + std::to_string(layout.colorType) + ", " +
                     std::to_string(layout.bitDepth) + " bits");
        std::vector<Bytes> rows;
        const auto image = load(makePng(layout, &rows));
        const int channels = layout.colorType & PNG_COLOR_MASK_COLOR ? 3 : 1;
        ASSERT_EQ((std::array{channels == 1 ? 1 : 2, layout.width, layout.height}), shapeOf(*image));
        for (int i = 0; i < layout.width * channels * layout.height; ++i) {
            const int x = i % (layout.width * channels), y = i / (layout.width * channels);
            ASSERT_EQ(expectedSample(layout, rows[static_cast<std::size_t>(y)], x),
                      image->GetPixels()[y * image->GetStride() + x])
                << "sample " << x << " of row " << y;
        }
    }
}

void putBigEndian(Bytes& bytes, std::size_t at, std::uint32_t value) {
    for (int k = 0; k < 4; ++k)
        bytes[at + static_cast<std::size_t>(k)] = static_cast<unsigned char>(value >> (24 - 8 * k));
}

// Every cut of every valid file before its pixel data ends (plain PNM also
// with blanks after the cut), damaged data and headers that promise far more
// pixels than the file holds: a file error naming the file, raised before a
// buffer of the promised size is made.
TEST(ImageFile, DamagedFilesAndLyingHeadersAreFileErrors) {
    // Unknown kinds, bad numbers and samples, and sizes far beyond the bytes.
    std::vector<Bytes> cases;
    for (const std::string& text :
         {""s, "P7 1 1 255\n\n"s, "GIF89a........"s, "\xFF\xD8\xFF\x00\x12\x34"s, "P5 -2 2 255\n1234"s,
          "P5 0 2 255\n"s, "P5 2 2 0\n1234"s, "P5 1 1 70000\n12"s, "P5 99999999999 1 255\n1"s,
          "P5 2x 2 255\n1234"s, "P5 2 1 200\n\xC9\x00"s, "P2 1 1 10\n11\n"s, "P3 1 1 255\n1 2 x\n"s,
          "P1 2 1\n12\n"s, "P5 99999 99999 255\n0123456789"s, "P4 2147483647 2147483647\n0123456789"s,
          "P6 40000 40000 65535\n0123456789"s, "P2 100000 100000 255\n1 2 3"s})
        cases.push_back(bytesOf(text));
    auto addCuts = [&cases](const Bytes& file, std::size_t end, bool withBlanks) {
        for (std::size_t keep = 0; keep < end; ++keep) {
            cases.emplace_back(file.begin(), file.begin() + static_cast<long>(keep));
            if (withBlanks) cases.push_back(cases.back() + bytesOf(" \n\n"));
        }
    };
    for (const PnmCase& c : kPnmCases) {
        const bool isPlain = c.file[1] <= '3';
        std::size_t end = c.file.size();  // plain: just past the start of the last sample
        while (isPlain && std::isspace(c.file[end - 1])) --end;
        while (isPlain && !std::isspace(c.file[end - 1])) --end;
        addCuts(bytesOf(c.file), isPlain ? end + 1 : end, isPlain);
    }
    for (const PngLayout& layout : kPngLayouts)
        addCuts(makePng(layout), makePng(layout).size() - 12, false);  // IEND unread
    Bytes png = makePng(kPngLayouts[4]);
    png[png.size() - 20] ^= 0x01;  // inside IDAT's data or CRC
    cases.push_back(png);
    png[png.size() - 20] ^= 0x01;
    putBigEndian(png, 16, 60000);  // IHDR at 8: length, "IHDR", width, height, ...
    putBigEndian(png, 20, 60000);
    putBigEndian(png, 29, static_cast<std::uint32_t>(crc32(0, png.data() + 12, 17)));
    cases.push_back(png);

    Bytes jpeg = jpegOf(*makeTestImage(2, 40, 24));
    addCuts(jpeg, jpeg.size() - 2, false);  // EOI unread
    const std::size_t sof0 = std::string(jpeg.begin(), jpeg.end()).find("\xFF\xC0");
    putBigEndian(jpeg, sof0 + 5, 60000u * 65537u);  // SOF0: marker, length, precision, height, width
    cases.push_back(jpeg);

    for (const Bytes& bytes : cases) {
        std::string message;
        EXPECT_EQ(Kind::file, thrownKind([&] { load(bytes); }, &message))
            << std::string(bytes.begin(), bytes.end());
        EXPECT_NE(std::string::npos, message.find("memory file")) << message;
    }
}

}  // namespace
