// Test images with known pixels, shared by the JPEG, reader and transform
// tests. Shapes are deliberately not multiples of 8 or 16.
#pragma once

#include <Image/Image.h>

#include <cstdlib>

namespace ImageTest {

// Colority 0: a pattern of 3 x 3 squares with a single-pixel border.
inline bool isBlackAt(int x, int y) { return x == 0 || y == 0 || ((x / 3) + (y / 3)) % 2 == 0; }
inline unsigned char greyAt(int x, int y, int width, int height) {
    return static_cast<unsigned char>((x + y) * 255 / (width + height - 2));
}
inline void rgbAt(int x, int y, int width, int height, unsigned char* rgb) {
    rgb[0] = static_cast<unsigned char>(x * 255 / (width - 1));
    rgb[1] = static_cast<unsigned char>(y * 255 / (height - 1));
    rgb[2] = static_cast<unsigned char>(255 - greyAt(x, y, width, height) / 2);
}

inline Tolm::CPtr<Image::IImage> makeTestImage(int colority, int width = 67, int height = 45) {
    auto image = Image::CreateImage(width, height, colority);
    unsigned char* pixels = image->GetMutablePixels();
    for (int y = 0; y < height; ++y) {
        unsigned char* row = pixels + static_cast<std::ptrdiff_t>(y) * image->GetStride();
        for (int x = 0; x < width; ++x) {
            if (colority == 0) {
                if (isBlackAt(x, y)) row[x / 8] |= static_cast<unsigned char>(0x80 >> (x % 8));
            } else if (colority == 1) {
                row[x] = greyAt(x, y, width, height);
            } else {
                rgbAt(x, y, width, height, row + 3 * x);
            }
        }
    }
    return image;
}

// The pixel of any image as R, G, B (black and white as 0 or 255).
inline void pixelAsRgb(const Image::IImage& image, int x, int y, unsigned char* rgb) {
    const unsigned char* row = image.GetPixels() + static_cast<std::ptrdiff_t>(y) * image.GetStride();
    switch (image.GetColority()) {
        case 0:
            rgb[0] = rgb[1] = rgb[2] = ((row[x / 8] >> (7 - x % 8)) & 1) ? 0 : 255;
            break;
        case 1:
            rgb[0] = rgb[1] = rgb[2] = row[x];
            break;
        default:
            rgb[0] = row[3 * x];
            rgb[1] = row[3 * x + 1];
            rgb[2] = row[3 * x + 2];
            break;
    }
}
inline int lumaOf(const unsigned char* rgb) { return (77 * rgb[0] + 150 * rgb[1] + 29 * rgb[2] + 128) >> 8; }

}  // namespace ImageTest
