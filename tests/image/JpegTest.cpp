#include <Image/ImageServices.h>
#include <Image/Transform.h>
#include <gtest/gtest.h>
#include <jpeglib.h>

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "ImageTestImages.h"
#include "ImageTestSupport.h"

using ImageTest::Bytes;
using ImageTest::thrownKind;
using Tolm::CException;

namespace {

// libjpeg-turbo's own view of a JPEG, independent of the library's reader.
struct Decoded {
    bool ok = false;
    int width = 0;
    int height = 0;
    int components = 0;
    Bytes pixels;
};

struct JumpingErrors {
    jpeg_error_mgr manager;
    std::jmp_buf jump;
};

[[noreturn]] void jumpOnError(j_common_ptr info) {
    std::longjmp(reinterpret_cast<JumpingErrors*>(info->err)->jump, 1);
}

bool runDecoder(const Bytes& jpeg, jpeg_decompress_struct& info, JumpingErrors& errors,
                unsigned char*& pixels) {
    if (setjmp(errors.jump)) return false;
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, jpeg.data(), static_cast<unsigned long>(jpeg.size()));
    jpeg_read_header(&info, TRUE);
    jpeg_start_decompress(&info);
    const std::size_t rowBytes =
        std::size_t{info.output_width} * static_cast<std::size_t>(info.output_components);
    pixels = static_cast<unsigned char*>(std::malloc(rowBytes * info.output_height));
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = pixels + rowBytes * info.output_scanline;
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    return true;
}

Decoded decodeWithLibjpeg(const Bytes& jpeg) {
    jpeg_decompress_struct info{};
    JumpingErrors errors{};
    info.err = jpeg_std_error(&errors.manager);
    errors.manager.error_exit = jumpOnError;
    unsigned char* pixels = nullptr;
    Decoded decoded;
    decoded.ok = runDecoder(jpeg, info, errors, pixels);
    if (decoded.ok) {
        decoded.width = static_cast<int>(info.output_width);
        decoded.height = static_cast<int>(info.output_height);
        decoded.components = info.output_components;
        decoded.pixels.assign(pixels, pixels + std::size_t{info.output_width} * info.output_height *
                                                   static_cast<std::size_t>(info.output_components));
    }
    std::free(pixels);
    jpeg_destroy_decompress(&info);
    return decoded;
}

class JpegWriterTest : public ::testing::Test {
protected:
    JpegWriterTest() {
        services = Tolm::CreateObject<Image::IImageServices>(u"Image.ImageServices");
        jpeg = dynamic_cast<Image::IJpegImageFileFormat*>(
            services->GetFileFormatRegistry()->GetFileFormat(Image::kJpegFormatId));
    }

    Bytes write(const Image::IImage* image, const Tolm::IObject* params) {
        Tolm::CMemoryFile file;
        jpeg->CreateWriter(file)->Write(image, params);
        return ImageTest::contentOf(file);
    }
    Tolm::CPtr<Image::IJpegSaveParams> params(int quality, int colority) {
        auto made = jpeg->CreateSaveParams();
        made->SetQuality(quality);
        made->SetColority(colority);
        return made;
    }

    Tolm::CPtr<Image::IImageServices> services;
    Image::IJpegImageFileFormat* jpeg = nullptr;
};

TEST_F(JpegWriterTest, TheRegistryKnowsJpegAsFormatFiveAndNothingElse) {
    ASSERT_NE(nullptr, jpeg);
    EXPECT_EQ(5, jpeg->GetId());
    EXPECT_EQ(u"JPEG", jpeg->GetName());
    auto* registry = services->GetFileFormatRegistry();
    EXPECT_EQ(registry->GetFileFormat(5), registry->GetFileFormat(5));
    for (int id : {-1, 0, 1, 4, 6, 1000}) EXPECT_EQ(nullptr, registry->GetFileFormat(id)) << id;
}

// Every image colority into either JPEG colority, checked by libjpeg-turbo.
// At quality 100 with full-resolution chroma the loss is rounding only.
TEST_F(JpegWriterTest, EveryColorityDecodesBackWithinJpegLossAtQuality100) {
    constexpr int kTolerance = 4;
    for (int colority : {0, 1, 2}) {
        for (int outColority : {1, 2}) {
            SCOPED_TRACE("image colority " + std::to_string(colority) + " as JPEG colority " +
                         std::to_string(outColority));
            const auto image = ImageTest::makeTestImage(colority);
            const Decoded decoded = decodeWithLibjpeg(write(image.Get(), params(100, outColority).Get()));
            ASSERT_TRUE(decoded.ok);
            EXPECT_EQ(image->GetWidth(), decoded.width);
            EXPECT_EQ(image->GetHeight(), decoded.height);
            ASSERT_EQ(outColority == 1 ? 1 : 3, decoded.components);
            int worst = 0;
            for (int y = 0; y < decoded.height; ++y) {
                for (int x = 0; x < decoded.width; ++x) {
                    unsigned char rgb[3];
                    ImageTest::pixelAsRgb(*image, x, y, rgb);
                    const unsigned char* got =
                        &decoded
                             .pixels[(static_cast<std::size_t>(y) * decoded.width + x) * decoded.components];
                    if (decoded.components == 1) {
                        worst = std::max(worst, std::abs(got[0] - ImageTest::lumaOf(rgb)));
                    } else {
                        for (int c = 0; c < 3; ++c) worst = std::max(worst, std::abs(got[c] - rgb[c]));
                    }
                }
            }
            EXPECT_LE(worst, kTolerance);
        }
    }
}

TEST_F(JpegWriterTest, WritesAtTheFilesPositionAndLeavesWhatIsBefore) {
    Tolm::CMemoryFile file;
    file.Write("head", 4);
    const auto image = ImageTest::makeTestImage(2);
    jpeg->CreateWriter(file)->Write(image.Get(), nullptr);
    const Bytes content = ImageTest::contentOf(file);
    ASSERT_GT(content.size(), 8u);
    EXPECT_EQ(Bytes({'h', 'e', 'a', 'd', 0xFF, 0xD8}), Bytes(content.begin(), content.begin() + 6));
    EXPECT_EQ(file.GetLength(), file.GetPosition());
}

TEST_F(JpegWriterTest, NullParamsMeanQuality75InColourAndQualityShowsInTheSize) {
    const auto image = ImageTest::makeTestImage(1, 300, 200);
    const Bytes byDefault = write(image.Get(), nullptr);
    EXPECT_EQ(3, decodeWithLibjpeg(byDefault).components);
    EXPECT_EQ(byDefault, write(image.Get(), params(75, 2).Get()));
    EXPECT_LT(write(image.Get(), params(30, 1).Get()).size(),
              write(image.Get(), params(100, 1).Get()).size());
}

TEST_F(JpegWriterTest, SaveParamsRefuseValuesOutsideTheirRange) {
    auto made = jpeg->CreateSaveParams();
    EXPECT_EQ(75, made->GetQuality());
    EXPECT_EQ(2, made->GetColority());
    for (int quality : {0, -5, 101}) {
        EXPECT_EQ(CException::Kind::argument, thrownKind([&] { made->SetQuality(quality); })) << quality;
    }
    for (int colority : {0, 3, -1}) {
        EXPECT_EQ(CException::Kind::argument, thrownKind([&] { made->SetColority(colority); })) << colority;
    }
    EXPECT_EQ(75, made->GetQuality());
    EXPECT_EQ(2, made->GetColority());
    made->SetQuality(1);
    made->SetColority(1);
    EXPECT_EQ(1, made->GetQuality());
    EXPECT_EQ(1, made->GetColority());
}

TEST_F(JpegWriterTest, BadArgumentsAreArgumentErrorsAndWriteNothing) {
    Tolm::CMemoryFile file;
    auto writer = jpeg->CreateWriter(file);
    const auto image = ImageTest::makeTestImage(2);
    auto notJpegParams = Tolm::CreateObject<Tolm::IObject>(u"Image.ColorityConversionParams");
    EXPECT_EQ(CException::Kind::argument, thrownKind([&] { writer->Write(nullptr, nullptr); }));
    EXPECT_EQ(CException::Kind::argument,
              thrownKind([&] { writer->Write(image.Get(), notJpegParams.Get()); }));
    EXPECT_EQ(0, file.GetLength());
}

TEST_F(JpegWriterTest, AFailingFilePassesItsErrorThrough) {
    const auto image = ImageTest::makeTestImage(2, 1200, 900);  // several 64 KiB blocks at quality 100
    for (int writesBeforeFailure : {0, 1}) {
        ImageTest::CFailingFile file(writesBeforeFailure);
        auto writer = jpeg->CreateWriter(file);
        std::string message;
        EXPECT_EQ(CException::Kind::file,
                  thrownKind([&] { writer->Write(image.Get(), params(100, 2).Get()); }, &message));
        EXPECT_NE(std::string::npos, message.find("No space left")) << message;
    }
}

TEST_F(JpegWriterTest, TheReaderLoadsWhatTheWriterWrote) {
    for (int outColority : {1, 2}) {
        const auto image = ImageTest::makeTestImage(2);
        Tolm::CMemoryFile file;
        jpeg->CreateWriter(file)->Write(image.Get(), params(100, outColority).Get());
        file.SeekToBegin();
        const auto loaded = Image::LoadImageFile(file);
        EXPECT_EQ(outColority, loaded->GetColority());
        EXPECT_EQ(image->GetWidth(), loaded->GetWidth());
        EXPECT_EQ(image->GetHeight(), loaded->GetHeight());
        unsigned char want[3];
        unsigned char got[3];
        ImageTest::pixelAsRgb(*image, 30, 20, want);
        ImageTest::pixelAsRgb(*loaded, 30, 20, got);
        const int expected = outColority == 1 ? ImageTest::lumaOf(want) : want[0];
        EXPECT_NEAR(expected, got[0], 6);
    }
}

}  // namespace
