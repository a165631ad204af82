#include <Image/Transform.h>
#include <Tolm/Error.h>

#include <cstring>
#include <string>

#include "ImageInternal.h"

namespace Image {

IColorityConversionParams::~IColorityConversionParams() = default;
IAlgorithm::~IAlgorithm() = default;
IImageTransformer::~IImageTransformer() = default;

namespace {

constexpr int kToGreyMode = 0;

class CColorityConversionParams final : public IColorityConversionParams {
public:
    void SetMode(int mode) override {
        if (mode != kToGreyMode) {
            Tolm::ThrowArgumentError("colority conversion: mode " + std::to_string(mode) +
                                     " is unknown (only 0)");
        }
        mode_ = mode;
    }
    int GetMode() const override { return mode_; }

private:
    int mode_ = kToGreyMode;
};

class CAlgorithm final : public IAlgorithm {
public:
    Tolm::CUnicodeString GetTransformerName() const override { return transformerName_; }
    void SetTransformerName(const Tolm::CUnicodeString& name) override { transformerName_ = name; }
    Tolm::CPtr<Tolm::IObject> GetParams() const override { return params_; }
    void SetParams(Tolm::IObject* params) override { params_ = Tolm::CPtr<Tolm::IObject>(params); }

private:
    Tolm::CUnicodeString transformerName_;
    Tolm::CPtr<Tolm::IObject> params_;
};

// Always a new image, so that the caller's image is never touched.
class CToGreyTransformer final : public IImageTransformer {
public:
    Tolm::CPtr<IImage> Transform(const IImage* image, Tolm::IObject* params, void*) override {
        if (!image) Tolm::ThrowArgumentError("grey conversion: no image");
        if (params) {
            auto* conversion = dynamic_cast<IColorityConversionParams*>(params);
            if (!conversion)
                Tolm::ThrowArgumentError("grey conversion: the parameters are not conversion parameters");
            if (conversion->GetMode() != kToGreyMode) {
                Tolm::ThrowArgumentError("grey conversion: mode " + std::to_string(conversion->GetMode()) +
                                         " is unknown");
            }
        }
        const int width = image->GetWidth();
        const int height = image->GetHeight();
        const int colority = image->GetColority();
        if (colority < 0 || colority > 2 || !image->GetPixels()) {
            Tolm::ThrowArgumentError("grey conversion: image of colority " + std::to_string(colority) +
                                     " cannot be converted");
        }
        Tolm::CPtr<IImage> grey = CreateImage(width, height, 1);
        const unsigned char* source = image->GetPixels();
        unsigned char* target = grey->GetMutablePixels();
        for (int y = 0; y < height; ++y) {
            const unsigned char* from = source + static_cast<std::ptrdiff_t>(y) * image->GetStride();
            unsigned char* to = target + static_cast<std::ptrdiff_t>(y) * grey->GetStride();
            switch (colority) {
                case 0:
                    detail::expandBitsToGrey(from, width, to);
                    break;
                case 1:
                    std::memcpy(to, from, static_cast<std::size_t>(width));
                    break;
                default:
                    detail::convertRgbToGrey(from, width, to);
                    break;
            }
        }
        return grey;
    }
};

Tolm::IObject* createConversionParams() { return new CColorityConversionParams; }
Tolm::IObject* createAlgorithm() { return new CAlgorithm; }
Tolm::IObject* createToGreyTransformer() { return new CToGreyTransformer; }

const Tolm::CClassRegistration registerConversionParams(u"Image.ColorityConversionParams",
                                                        createConversionParams);
const Tolm::CClassRegistration registerAlgorithm(u"Image.AlgorithmClass", createAlgorithm);
const Tolm::CClassRegistration registerToGreyTransformer(u"Image.ColorityConversionToGrayTransformer",
                                                         createToGreyTransformer);

}  // namespace
}  // namespace Image
