#include <Image/Image.h>
#include <Tolm/Error.h>

#include <cstring>
#include <string>

#include "ImageInternal.h"

namespace Image {

IImage::~IImage() = default;

namespace {

// Pixels live in one framework heap block owned by the image.
class CImage final : public IImage {
public:
    CImage(int width, int height, int colority, int stride, unsigned char* pixels) noexcept
        : width_(width), height_(height), colority_(colority), stride_(stride), pixels_(pixels) {}
    ~CImage() override { Tolm::doFree(pixels_); }

    int GetColority() const override { return colority_; }
    int GetWidth() const override { return width_; }
    int GetHeight() const override { return height_; }
    int GetStride() const override { return stride_; }
    const unsigned char* GetPixels() const override { return pixels_; }
    unsigned char* GetMutablePixels() override { return pixels_; }

private:
    int width_;
    int height_;
    int colority_;
    int stride_;
    unsigned char* pixels_;
};

constexpr long long kMaxPixelBytes = 0x7FFFFFFFLL;

}  // namespace

Tolm::CPtr<IImage> detail::createImageToFill(int width, int height, int colority) {
    if (width < 1 || height < 1 || colority < 0 || colority > 2) {
        Tolm::ThrowArgumentError("CreateImage: bad image shape " + std::to_string(width) + " x " +
                                 std::to_string(height) + ", colority " + std::to_string(colority));
    }
    const long long stride = detail::rowBytesFor(width, colority);
    if (stride * height >= kMaxPixelBytes) {
        Tolm::ThrowArgumentError("CreateImage: " + std::to_string(width) + " x " + std::to_string(height) +
                                 " pixels of colority " + std::to_string(colority) + " need 2 GiB or more");
    }
    auto* pixels = static_cast<unsigned char*>(Tolm::doAlloc(static_cast<std::size_t>(stride * height)));
    IImage* image = nullptr;
    try {
        image = new CImage(width, height, colority, static_cast<int>(stride), pixels);
    } catch (...) {
        Tolm::doFree(pixels);
        throw;
    }
    return Tolm::CPtr<IImage>(image);
}

Tolm::CPtr<IImage> CreateImage(int width, int height, int colority) {
    Tolm::CPtr<IImage> image = detail::createImageToFill(width, height, colority);
    std::memset(image->GetMutablePixels(), 0, static_cast<std::size_t>(image->GetStride()) * height);
    return image;
}

namespace detail {

void* allocateForC(std::size_t bytes) noexcept {
    try {
        return Tolm::doAlloc(bytes);
    } catch (Tolm::CException* error) {
        error->Delete();
        return nullptr;
    } catch (...) {
        return nullptr;
    }
}

void expandBitsToGrey(const unsigned char* bits, int width, unsigned char* grey) noexcept {
    for (int x = 0; x < width; ++x) {
        const bool black = (bits[x >> 3] >> (7 - (x & 7))) & 1;
        grey[x] = black ? 0 : 255;
    }
}

void expandGreyToRgb(const unsigned char* grey, int width, unsigned char* rgb) noexcept {
    for (int x = 0; x < width; ++x) {
        rgb[3 * x] = rgb[3 * x + 1] = rgb[3 * x + 2] = grey[x];
    }
}

void convertRgbToGrey(const unsigned char* rgb, int width, unsigned char* grey) noexcept {
    for (int x = 0; x < width; ++x) {
        const unsigned sum = 77u * rgb[3 * x] + 150u * rgb[3 * x + 1] + 29u * rgb[3 * x + 2] + 128u;
        grey[x] = static_cast<unsigned char>(sum >> 8);
    }
}

}  // namespace detail
}  // namespace Image
