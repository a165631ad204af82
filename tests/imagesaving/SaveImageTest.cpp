// SaveImage with the real image library, each file decoded back with
// libjpeg-turbo; and, in child processes, with an image-library object
// missing, where the report must return without anything being called on it.
#include <Korvan/ImageSaving.h>

#include "../families/TestSupport.h"

#include <Image/ImageServices.h>
#include <Image/Transform.h>
#include <Tolm/Error.h>
#include <Tolm/Object.h>

#include <gtest/gtest.h>

#include "PortableTesting.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include <jpeglib.h>

namespace {

namespace fs = std::filesystem;
using GearsetTest::ReportRecorder;

// Channel c at (x, y) of a picture that JPEG keeps closely at quality 100:
// smooth for grey and colour, 8x8 blocks of black (0) and white for colority 0.
int sample(int colority, int x, int y, int c) {
    if (colority == 0) return (x / 8 + y / 8) % 2 == 1 ? 0 : 255;
    if (colority == 1) return 40 + x * 3 + y * 2;
    return c == 0 ? 20 + x * 4 : c == 1 ? 30 + y * 5 : 200 - x * 2 - y;
}

int channels(int colority) { return colority == 2 ? 3 : 1; }

constexpr int kWidth = 37, kHeight = 23;

Tolm::CPtr<Image::IImage> makeImage(int colority) {
    Tolm::CPtr<Image::IImage> image = Image::CreateImage(kWidth, kHeight, colority);
    const int n = channels(colority);
    for (int y = 0; y < kHeight; ++y) {
        unsigned char* row = image->GetMutablePixels() + std::ptrdiff_t{y} * image->GetStride();
        for (int x = 0; x < kWidth; ++x) {
            if (colority == 0 && sample(0, x, y, 0) == 0)
                row[x / 8] |= static_cast<unsigned char>(0x80 >> (x % 8));
            for (int c = 0; colority > 0 && c < n; ++c)
                row[n * x + c] = static_cast<unsigned char>(sample(colority, x, y, c));
        }
    }
    return image;
}

std::vector<unsigned char> pixelBytes(const Image::IImage& image) {
    return {image.GetPixels(), image.GetPixels() + std::ptrdiff_t{image.GetStride()} * image.GetHeight()};
}

// The largest difference between the decoded file and the picture; 256 when
// the size or the channel count differ, or the tables are not quality 100's.
int decodedError(const fs::path& path, int colority) {
    std::ifstream in(path, std::ios::binary);
    const std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    jpeg_decompress_struct info{};
    jpeg_error_mgr errors{};
    info.err = jpeg_std_error(&errors);
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
    jpeg_read_header(&info, TRUE);
    jpeg_start_decompress(&info);
    const int n = channels(colority);
    int worst = info.output_width == JDIMENSION{kWidth} && info.output_height == JDIMENSION{kHeight} &&
                        info.output_components == n
                    ? 0
                    : 256;
    for (int i = 0; i < DCTSIZE2; ++i) worst = info.quant_tbl_ptrs[0]->quantval[i] == 1 ? worst : 256;
    std::vector<unsigned char> row(3 * kWidth);
    for (JSAMPROW rows = row.data(); worst < 256 && info.output_scanline < info.output_height;) {
        const int y = static_cast<int>(info.output_scanline);
        jpeg_read_scanlines(&info, &rows, 1);
        for (int i = 0; i < kWidth * n; ++i)
            worst = std::max(worst, std::abs(row[i] - sample(colority, i / n, y, i % n)));
    }
    jpeg_destroy_decompress(&info);
    return worst;
}

Tolm::CUnicodeString text(const fs::path& path) { return Tolm::CUnicodeString::FromUtf8(path.string()); }

// An image that answers a colority of its own choosing over real pixels.
struct ColorityOverride : Image::IImage {
    ColorityOverride(Tolm::CPtr<Image::IImage> image, int answer)
        : inner(std::move(image)), colority(answer) {}
    int GetColority() const override { return colority; }
    int GetWidth() const override { return inner->GetWidth(); }
    int GetHeight() const override { return inner->GetHeight(); }
    int GetStride() const override { return inner->GetStride(); }
    const unsigned char* GetPixels() const override { return inner->GetPixels(); }
    unsigned char* GetMutablePixels() override { return inner->GetMutablePixels(); }

    Tolm::CPtr<Image::IImage> inner;
    int colority;
};

class SaveImageTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = GearsetTesting::MakeTemporaryFolder("saveimage");
        ASSERT_FALSE(dir_.empty());
    }
    void TearDown() override { fs::remove_all(dir_); }

    fs::path dir_;
};

// Each over an older, longer file, at a path beyond the ordinary length limit;
// colority 0 is written from a grey copy.
TEST_F(SaveImageTest, EachColorityIsWrittenAndTheCallersImageStays) {
    GEARSET_SKIP_ON_WINDOWS("the clean-up cannot remove a path beyond 260 characters");
    fs::path file = dir_;
    for (char c = 'a'; c < 'g'; ++c) file /= std::string(60, c);
    fs::create_directories(file);
    file /= "page.jpg";
    for (const int colority : {0, 1, 2}) {
        SCOPED_TRACE(colority);
        std::ofstream(file, std::ios::binary) << std::string(1 << 20, 'x');
        const Tolm::CPtr<Image::IImage> image = makeImage(colority);
        const std::vector<unsigned char> before = pixelBytes(*image);
        const ReportRecorder recorder;
        Korvan::SaveImage(image.Get(), text(file));
        EXPECT_EQ(0, recorder.Count());
        EXPECT_EQ(colority, image->GetColority());
        EXPECT_EQ(before, pixelBytes(*image));
        EXPECT_LT(fs::file_size(file), 1u << 20);
        EXPECT_LE(decodedError(file, colority), 6);  // JPEG's loss at quality 100: a few levels
    }
}

// A null image touches nothing, whatever the path.
TEST_F(SaveImageTest, NullImageTouchesNothingAndBadPathsRaiseTheFileError) {
    const Tolm::CPtr<Image::IImage> image = makeImage(2);
    for (const fs::path& target : {dir_ / "no/such/folder/a.jpg", dir_}) {
        const ReportRecorder recorder;
        Korvan::SaveImage(nullptr, text(target / "never.jpg"));
        const auto caught = GearsetTest::Catch([&] { Korvan::SaveImage(image.Get(), text(target)); });
        EXPECT_TRUE(caught.thrown && caught.kind == Tolm::CException::Kind::file) << target;
        EXPECT_NE(std::string::npos, caught.message.find(target.string())) << caught.message;
        EXPECT_EQ(0, recorder.Count());
    }
    EXPECT_TRUE(fs::is_empty(dir_));
}

// With the report raising, the file is still there: it was opened first.
TEST_F(SaveImageTest, ColorityOutsideTheRangeIsReportedOnceTheFileIsOpen) {
    const Tolm::CPtr<Image::IImage> odd(new ColorityOverride(makeImage(2), 3));
    {
        const ReportRecorder recorder;
        // The writer may refuse the image; the report is what counts.
        GearsetTest::Catch([&] { Korvan::SaveImage(odd.Get(), text(dir_ / "odd.jpg")); });
        EXPECT_EQ(1, recorder.Count());
        EXPECT_EQ(1, recorder.Count("Src\\BasicTools"));
    }
    const auto raised = GearsetTest::Catch([&] { Korvan::SaveImage(odd.Get(), text(dir_ / "raised.jpg")); });
    EXPECT_TRUE(raised.thrown && raised.kind == Tolm::CException::Kind::internal) << raised.message;
    EXPECT_TRUE(fs::exists(dir_ / "raised.jpg"));
}

// Stand-ins for the image services, registered in child processes only: a
// registration replaces the real class for the rest of the process.
enum class Missing { format, jpegFormat, saveParams, greyTransformer, greyImage } missing;

// A grey transformer that gives no image.
int transformCalls = 0;
struct TransformerWithoutImage : Image::IImageTransformer {
    Tolm::CPtr<Image::IImage> Transform(const Image::IImage*, Tolm::IObject*, void*) override {
        ++transformCalls;
        return {};
    }
};

struct NotJpegFormat : Image::IImageFileFormat {
    int GetId() const override { return Image::kJpegFormatId; }
    Tolm::CUnicodeString GetName() const override { return u"not JPEG"; }
};

struct JpegFormatWithoutParams : Image::IJpegImageFileFormat {
    int GetId() const override { return Image::kJpegFormatId; }
    Tolm::CUnicodeString GetName() const override { return u"JPEG"; }
    Tolm::CPtr<Image::IImageWriter> CreateWriter(Tolm::CBaseFile&) override {
        ADD_FAILURE() << "a writer was made";
        return {};
    }
    Tolm::CPtr<Image::IJpegSaveParams> CreateSaveParams() override { return {}; }
};

struct FakeServices : Image::IImageServices, private Image::IImageFileFormatRegistry {
    Image::IImageFileFormatRegistry* GetFileFormatRegistry() override { return this; }
    Image::IImageFileFormat* GetFileFormat(int) const override {
        return missing == Missing::format       ? nullptr
               : missing == Missing::jpegFormat ? notJpeg.Get()
                                                : jpeg.Get();
    }
    Tolm::CPtr<Image::IImageFileFormat> notJpeg{new NotJpegFormat};
    Tolm::CPtr<Image::IImageFileFormat> jpeg{new JpegFormatWithoutParams};
};

// The file is never made, whether the report returns or raises: without a
// format or save parameters, without the grey transformer (the factory
// reports it) or with one that gives no image (reported here, once).
TEST_F(SaveImageTest, AMissingObjectIsReportedAndNothingIsCalledOnIt) {
    for (const Missing kind : {Missing::format, Missing::jpegFormat, Missing::saveParams,
                               Missing::greyTransformer, Missing::greyImage}) {
        const bool grey = kind == Missing::greyTransformer || kind == Missing::greyImage;
        for (const bool raising : {false, true}) {
            const auto inChild = [&] {
                missing = kind;
                if (kind == Missing::greyTransformer)
                    Tolm::UnregisterClass(u"Image.ColorityConversionToGrayTransformer");
                if (kind == Missing::greyImage)
                    Tolm::RegisterClass(
                        u"Image.ColorityConversionToGrayTransformer",
                        +[]() -> Tolm::IObject* { return new TransformerWithoutImage; });
                if (!grey)
                    Tolm::RegisterClass(
                        u"Image.ImageServices", +[]() -> Tolm::IObject* { return new FakeServices; });
                std::optional<ReportRecorder> recorder;
                if (!raising) recorder.emplace();
                try {
                    Korvan::SaveImage(makeImage(grey ? 0 : 2).Get(), text(dir_ / "out.jpg"));
                    EXPECT_FALSE(raising) << "the report did not raise";
                } catch (Tolm::CException* error) {
                    EXPECT_TRUE(raising && error->GetKind() == Tolm::CException::Kind::internal)
                        << error->GetMessage();
                    error->Delete();
                }
                if (recorder) {
                    EXPECT_EQ(1, recorder->Count());
                    EXPECT_EQ(kind == Missing::greyTransformer ? 0 : 1, recorder->Count("Src\\BasicTools"));
                }
                EXPECT_EQ(kind == Missing::greyImage ? 1 : 0, transformCalls);
                EXPECT_FALSE(fs::exists(dir_ / "out.jpg"));
                std::exit(::testing::Test::HasFailure() ? 1 : 0);
            };
            EXPECT_EXIT(inChild(), ::testing::ExitedWithCode(0), "")
                << static_cast<int>(kind) << (raising ? ", raising" : ", returning");
        }
    }
}

}  // namespace
