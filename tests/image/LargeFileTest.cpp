// Image files larger than the head that the reader looks at first: binary
// PBM/PGM/PPM rasters then come from the file straight into the image, and
// everything else from the whole file in memory. And the JPEG files that
// such inputs make, held to the bytes the writer has always produced.
#include <Image/Image.h>
#include <Image/ImageServices.h>
#include <Tolm/File.h>
#include <gtest/gtest.h>

#include <string>

#include <zlib.h>

#include "ImageTestSupport.h"

using namespace ImageTest;

namespace {

constexpr int kWidth = 403, kHeight = 301;  // rasters of 118 KB and more, rows no multiple of 8

Tolm::CPtr<Image::IImage> load(const Bytes& bytes) {
    Tolm::CMemoryFile file;
    file.Write(bytes.data(), static_cast<int>(bytes.size()));
    file.SeekToBegin();
    return Image::LoadImageFile(file);
}

// Sample value of channel c at (x, y) below maxval: smooth with some noise,
// reaching maxval itself.
unsigned sampleAt(int x, int y, int c, unsigned maxval) {
    const unsigned noise = (static_cast<unsigned>(x) * 2654435761u ^ static_cast<unsigned>(y) * 40503u) >> 27;
    return (static_cast<unsigned>(x + 2 * y + 60 * c) * maxval / (kWidth + 2 * kHeight + 120) + noise) %
           (maxval + 1);
}

// A binary PNM file of kind 4, 5 or 6 and the pixels the reader must give
// for it (samples scaled to 0..255 with rounding, bits as they are).
struct Pnm {
    Bytes file;
    Bytes pixels;
};
Pnm makePnm(int kind, unsigned maxval, const std::string& comment = "") {
    const int channels = kind == 6 ? 3 : 1;
    std::string header = "P" + std::to_string(kind) + "\n" + comment + std::to_string(kWidth) + " " +
                         std::to_string(kHeight) + "\n";
    if (kind != 4) header += std::to_string(maxval) + "\n";
    Pnm pnm{Bytes(header.begin(), header.end()), {}};
    for (int y = 0; y < kHeight; ++y) {
        if (kind == 4) {
            for (int x = 0; x < kWidth; x += 8) {
                const auto byte = static_cast<unsigned char>(sampleAt(x, y, 0, 255));
                pnm.file.push_back(byte);
                pnm.pixels.push_back(x + 8 <= kWidth ? byte : byte & (0xFF << (8 - kWidth % 8)));
            }
            continue;
        }
        for (int i = 0; i < kWidth * channels; ++i) {
            const unsigned value = sampleAt(i / channels, y, i % channels, maxval);
            if (maxval > 255) pnm.file.push_back(static_cast<unsigned char>(value >> 8));
            pnm.file.push_back(static_cast<unsigned char>(value));
            pnm.pixels.push_back(static_cast<unsigned char>((value * 255 + maxval / 2) / maxval));
        }
    }
    return pnm;
}

// An RGB PNG of the same samples, rows unfiltered, and its pixels.
Pnm makePng() {
    Pnm png{{}, makePnm(6, 255).pixels};
    Bytes raw;
    for (int y = 0; y < kHeight; ++y) {
        raw.push_back(0);
        raw.insert(raw.end(), png.pixels.begin() + y * kWidth * 3, png.pixels.begin() + (y + 1) * kWidth * 3);
    }
    Bytes deflated(compressBound(static_cast<uLong>(raw.size())));
    uLongf deflatedSize = static_cast<uLongf>(deflated.size());
    compress2(deflated.data(), &deflatedSize, raw.data(), static_cast<uLong>(raw.size()), 1);
    deflated.resize(deflatedSize);
    const auto chunk = [&png](const char* type, const Bytes& data) {
        const auto put32 = [&png](std::uint32_t value) {
            for (int shift = 24; shift >= 0; shift -= 8)
                png.file.push_back(static_cast<unsigned char>(value >> shift));
        };
        put32(static_cast<std::uint32_t>(data.size()));
        const std::size_t start = png.file.size();
        png.file.insert(png.file.end(), type, type + 4);
        png.file.insert(png.file.end(), data.begin(), data.end());
        put32(static_cast<std::uint32_t>(
            crc32(0, png.file.data() + start, static_cast<uInt>(png.file.size() - start))));
    };
    const Bytes signature = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    png.file = signature;
    chunk("IHDR", {0, 0, kWidth >> 8, kWidth & 0xFF, 0, 0, kHeight >> 8, kHeight & 0xFF, 8, 2, 0, 0, 0});
    chunk("IDAT", deflated);
    chunk("IEND", {});
    return png;
}

Bytes pixelsOf(const Image::IImage& image) {
    return Bytes(image.GetPixels(), image.GetPixels() + image.GetStride() * image.GetHeight());
}

// A PNG file goes through libpng in pieces of the file, a binary raster
// straight into the image.
TEST(LargeImageFile, PngFilesAndBinaryRastersReadAsTheyStand) {
    const std::string longComment = "# " + std::string(70000, 'c') + "\n";  // past the reader's head
    const struct {
        int kind;
        unsigned maxval;
        std::string comment;
    } cases[] = {{4, 1, ""},     {5, 255, ""},  {6, 255, ""},          {5, 100, ""},          {6, 1, ""},
                 {5, 65535, ""}, {6, 1000, ""}, {5, 255, longComment}, {6, 1000, longComment}};
    const Pnm png = makePng();
    ASSERT_GT(png.file.size(), 100000u);
    EXPECT_EQ(png.pixels, pixelsOf(*load(png.file)));
    for (const auto& c : cases) {
        SCOPED_TRACE("P" + std::to_string(c.kind) + " maxval " + std::to_string(c.maxval) +
                     (c.comment.empty() ? "" : " long comment"));
        const Pnm pnm = makePnm(c.kind, c.maxval, c.comment);
        const auto image = load(pnm.file);
        ASSERT_EQ(kWidth, image->GetWidth());
        ASSERT_EQ(kHeight, image->GetHeight());
        EXPECT_EQ(pnm.pixels, pixelsOf(*image));
    }
}

// Damage in the part of the file that the reader takes from the file.
TEST(LargeImageFile, DamageFarIntoTheRasterIsAFileError) {
    Pnm wide = makePnm(6, 1000);
    wide.file[wide.file.size() - 2] = 0x03, wide.file.back() = 0xE9;  // 1001 in the last sample
    Pnm narrow = makePnm(5, 100);
    narrow.file.back() = 101;
    Pnm cut = makePnm(5, 255);
    cut.file.pop_back();
    Pnm png = makePng(), cutPng = png;
    png.file[png.file.size() - 100] ^= 0x10;  // in the compressed data
    cutPng.file.resize(cutPng.file.size() - 100);
    for (const Bytes& file : {wide.file, narrow.file, cut.file, png.file, cutPng.file}) {
        std::string message;
        EXPECT_EQ(Kind::file, thrownKind([&] { load(file); }, &message));
        EXPECT_NE(std::string::npos, message.find("memory file")) << message;
    }
}

// A memory file whose reads fail once `bytes` bytes have been read.
class CFailingFile final : public Tolm::CMemoryFile {
public:
    explicit CFailingFile(std::int64_t bytes) : bytesLeft_(bytes) {}
    int Read(void* buffer, int count) override {
        if (count > bytesLeft_) Tolm::ThrowFileError("cannot read 'failing file': Input/output error", 5);
        bytesLeft_ -= count;
        return CMemoryFile::Read(buffer, count);
    }

private:
    std::int64_t bytesLeft_;
};

// The file's own error passes through, whichever reader meets it.
TEST(LargeImageFile, AFailingFilePassesItsErrorThrough) {
    for (const Bytes& bytes : {makePng().file, makePnm(6, 255).file, makePnm(5, 1000).file}) {
        CFailingFile file(100000);
        file.Write(bytes.data(), static_cast<int>(bytes.size()));
        file.SeekToBegin();
        std::string message;
        EXPECT_EQ(Kind::file, thrownKind([&] { Image::LoadImageFile(file); }, &message));
        EXPECT_NE(std::string::npos, message.find("Input/output error")) << message;
    }
}

// The CRC-32 of the JPEG file written at quality 100 from each input, as the
// writer made it before rasters were read in bulk; the reader and the writer
// may change how they work, never what they produce.
TEST(LargeImageFile, JpegFilesOfEachInputKindKeepTheirBytes) {
    const struct {
        const char* name;
        Bytes input;
        int colority;
        unsigned long crc;
    } cases[] = {{"P4", makePnm(4, 1).file, 1, 2086706689},
                 {"P5 maxval 255", makePnm(5, 255).file, 1, 4084158615},
                 {"P6 maxval 255", makePnm(6, 255).file, 2, 2654314513},
                 {"PNG of the same pixels", makePng().file, 2, 2654314513},
                 {"P5 maxval 1000", makePnm(5, 1000).file, 1, 3578379860},
                 {"P6 maxval 100", makePnm(6, 100).file, 2, 1418533278}};
    auto services = Tolm::CreateObject<Image::IImageServices>(u"Image.ImageServices");
    auto* jpeg =
        dynamic_cast<Image::IJpegImageFileFormat*>(services->GetFileFormatRegistry()->GetFileFormat(5));
    for (const auto& c : cases) {
        Tolm::CMemoryFile file;
        auto params = jpeg->CreateSaveParams();
        params->SetQuality(100);
        params->SetColority(c.colority);
        jpeg->CreateWriter(file)->Write(load(c.input).Get(), params.Get());
        EXPECT_EQ(c.crc, crc32(0, file.GetData(), static_cast<unsigned>(file.GetLength()))) << c.name;
    }
}

}  // namespace
