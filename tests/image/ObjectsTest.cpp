#include <Image/ImageServices.h>
#include <Image/Streams.h>
#include <Image/Transform.h>
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "ImageTestImages.h"
#include "ImageTestSupport.h"

using ImageTest::thrownKind;
using Tolm::CException;

namespace {

TEST(ImageFactory, EveryClassNameGivesItsInterface) {
    struct Case {
        const char16_t* name;
        std::function<bool(Tolm::IObject*)> offers;
    };
    const Case cases[] = {
        {u"Image.ImageServices",
         [](Tolm::IObject* o) { return Tolm::ObjectCast<Image::IImageServices>(o).Get(); }},
        {u"Image.ColorityConversionParams",
         [](Tolm::IObject* o) { return Tolm::ObjectCast<Image::IColorityConversionParams>(o).Get(); }},
        {u"Image.AlgorithmClass",
         [](Tolm::IObject* o) { return Tolm::ObjectCast<Image::IAlgorithm>(o).Get(); }},
        {u"Image.ColorityConversionToGrayTransformer",
         [](Tolm::IObject* o) { return Tolm::ObjectCast<Image::IImageTransformer>(o).Get(); }},
        {u"Image.StreamsToolkit",
         [](Tolm::IObject* o) { return Tolm::ObjectCast<Image::IStreamsToolkit>(o).Get(); }},
    };
    ImageTest::ReportRecorder reports;
    for (const Case& c : cases) {
        const Tolm::CPtr<Tolm::IObject> object = Tolm::DoCreateObject(c.name);
        ASSERT_TRUE(object) << Tolm::CUnicodeString(c.name).ToUtf8();
        EXPECT_TRUE(c.offers(object.Get())) << Tolm::CUnicodeString(c.name).ToUtf8();
        EXPECT_EQ(1, object->GetRefCount());
    }
    EXPECT_EQ(0, reports.count());
}

TEST(ImageFactory, AWrongCastIsReportedAndGivesNothing) {
    ImageTest::ReportRecorder reports;
    const auto services = Tolm::DoCreateObject(u"Image.ImageServices");
    const auto toolkit = Tolm::ObjectCast<Image::IStreamsToolkit>(services);
    EXPECT_TRUE(toolkit.IsEmpty());
    ASSERT_EQ(1, reports.count());
    EXPECT_EQ(Tolm::ieBrokenPrecondition, ImageTest::ReportRecorder::reports()[0].type);
    // The same cast through the one-step helper.
    EXPECT_TRUE(Tolm::CreateObject<Image::IAlgorithm>(u"Image.ColorityConversionParams").IsEmpty());
    EXPECT_EQ(2, reports.count());
}

TEST(Algorithm, GivesBackWhatWasStored) {
    auto algorithm = Tolm::CreateObject<Image::IAlgorithm>(u"Image.AlgorithmClass");
    EXPECT_TRUE(algorithm->GetTransformerName().IsEmpty());
    EXPECT_TRUE(algorithm->GetParams().IsEmpty());
    auto params = Tolm::CreateObject<Image::IColorityConversionParams>(u"Image.ColorityConversionParams");
    algorithm->SetTransformerName(u"Image.ColorityConversionToGrayTransformer");
    algorithm->SetParams(params.Get());
    EXPECT_EQ(u"Image.ColorityConversionToGrayTransformer", algorithm->GetTransformerName());
    EXPECT_EQ(static_cast<Tolm::IObject*>(params.Get()), algorithm->GetParams().Get());
    EXPECT_EQ(2, params->GetRefCount());  // ours and the algorithm's
    algorithm->SetParams(nullptr);
    EXPECT_EQ(1, params->GetRefCount());
}

TEST(ColorityConversionParams, ModeZeroIsTheOnlyMode) {
    auto params = Tolm::CreateObject<Image::IColorityConversionParams>(u"Image.ColorityConversionParams");
    EXPECT_EQ(0, params->GetMode());
    params->SetMode(0);
    EXPECT_EQ(CException::Kind::argument, thrownKind([&] { params->SetMode(1); }));
    EXPECT_EQ(0, params->GetMode());
}

class GreyTransformerTest : public ::testing::Test {
protected:
    Tolm::CPtr<Image::IImage> toGrey(const Image::IImage* image) {
        auto params = Tolm::CreateObject<Image::IColorityConversionParams>(u"Image.ColorityConversionParams");
        params->SetMode(0);
        return transformer->Transform(image, params.Get(), nullptr);
    }
    Tolm::CPtr<Image::IImageTransformer> transformer =
        Tolm::CreateObject<Image::IImageTransformer>(u"Image.ColorityConversionToGrayTransformer");
};

TEST_F(GreyTransformerTest, BlackAndWhiteBecomesGreyPixelByPixel) {
    // Widths around the byte boundary of a 1-bit row.
    for (int width : {1, 7, 8, 9, 67}) {
        SCOPED_TRACE("width " + std::to_string(width));
        const auto image = ImageTest::makeTestImage(0, width, 5);
        const auto grey = toGrey(image.Get());
        ASSERT_EQ(1, grey->GetColority());
        ASSERT_EQ(width, grey->GetWidth());
        ASSERT_EQ(5, grey->GetHeight());
        for (int y = 0; y < 5; ++y) {
            for (int x = 0; x < width; ++x) {
                const unsigned char got = grey->GetPixels()[y * grey->GetStride() + x];
                EXPECT_EQ(ImageTest::isBlackAt(x, y) ? 0 : 255, got) << x << "," << y;
            }
        }
        EXPECT_EQ(0, image->GetColority());  // the caller's image is left alone
    }
}

TEST_F(GreyTransformerTest, GreyIsCopiedAndColourBecomesLuma) {
    const auto grey = ImageTest::makeTestImage(1);
    const auto copy = toGrey(grey.Get());
    EXPECT_NE(grey.Get(), copy.Get());
    EXPECT_EQ(0, std::memcmp(grey->GetPixels(), copy->GetPixels(),
                             static_cast<std::size_t>(grey->GetStride()) * grey->GetHeight()));

    const auto colour = ImageTest::makeTestImage(2);
    const auto luma = toGrey(colour.Get());
    ASSERT_EQ(1, luma->GetColority());
    for (int y = 0; y < colour->GetHeight(); ++y) {
        for (int x = 0; x < colour->GetWidth(); ++x) {
            unsigned char rgb[3];
            ImageTest::pixelAsRgb(*colour, x, y, rgb);
            ASSERT_EQ(ImageTest::lumaOf(rgb), luma->GetPixels()[y * luma->GetStride() + x]) << x << "," << y;
        }
    }
    // The corners of the scale stay where they are.
    auto whiteThenBlack = Image::CreateImage(2, 1, 2);
    std::memset(whiteThenBlack->GetMutablePixels(), 255, 3);
    const auto ends = toGrey(whiteThenBlack.Get());
    EXPECT_EQ(255, ends->GetPixels()[0]);
    EXPECT_EQ(0, ends->GetPixels()[1]);
}

TEST_F(GreyTransformerTest, NullParamsAreAllowedAndForeignParamsAreNot) {
    const auto image = ImageTest::makeTestImage(0);
    EXPECT_EQ(1, transformer->Transform(image.Get(), nullptr, nullptr)->GetColority());
    auto algorithm = Tolm::CreateObject<Tolm::IObject>(u"Image.AlgorithmClass");
    EXPECT_EQ(CException::Kind::argument,
              thrownKind([&] { transformer->Transform(image.Get(), algorithm.Get(), nullptr); }));
    EXPECT_EQ(CException::Kind::argument,
              thrownKind([&] { transformer->Transform(nullptr, nullptr, nullptr); }));
}

TEST(CreateImage, ChecksItsShapeAndStartsBlank) {
    struct Case {
        int width, height, colority, stride;
    };
    const Case good[] = {{1, 1, 0, 1}, {8, 2, 0, 1}, {9, 2, 0, 2}, {5, 3, 1, 5}, {5, 3, 2, 15}};
    for (const Case& c : good) {
        const auto image = Image::CreateImage(c.width, c.height, c.colority);
        EXPECT_EQ(c.stride, image->GetStride()) << c.width << " colority " << c.colority;
        for (int i = 0; i < c.stride * c.height; ++i) EXPECT_EQ(0, image->GetPixels()[i]);
    }
    const Case bad[] = {{0, 1, 1, 0}, {1, 0, 1, 0},  {-4, 1, 1, 0},
                        {1, 1, 3, 0}, {1, 1, -1, 0}, {50000, 50000, 1, 0}};
    for (const Case& c : bad) {
        EXPECT_EQ(CException::Kind::argument,
                  thrownKind([&] { Image::CreateImage(c.width, c.height, c.colority); }))
            << c.width << " x " << c.height << " colority " << c.colority;
    }
}

}  // namespace
