// Images of the image library.
//
// An image has a width, a height, a colority and rows of pixels:
//   colority 0  black and white, 1 bit a pixel, eight pixels a byte with the
//               leftmost in the high bit; a set bit is black (as in PBM)
//   colority 1  8-bit grey, 0 black .. 255 white
//   colority 2  24-bit colour, bytes R, G, B
// Rows are GetStride() bytes apart, the first row at the top; bits or bytes
// past the width in a row are padding and are zero in images made here.
//
// Images are reference counted (IObject) and may be read from several threads
// at once; writing pixels while others read is the caller's matter.
#pragma once

#include <Image/Export.h>
#include <Tolm/File.h>
#include <Tolm/Object.h>

namespace Image {

class IMAGE_API IImage : public virtual Tolm::IObject {
public:
    virtual int GetColority() const = 0;
    virtual int GetWidth() const = 0;
    virtual int GetHeight() const = 0;
    virtual int GetStride() const = 0;
    virtual const unsigned char* GetPixels() const = 0;
    virtual unsigned char* GetMutablePixels() = 0;

protected:
    ~IImage() override;
};

// A new image with all pixels zero. Width and height at least 1, colority
// 0..2, and a pixel buffer below 2 GiB; otherwise an argument error.
IMAGE_API Tolm::CPtr<IImage> CreateImage(int width, int height, int colority);

// Reads a PNG, PBM/PGM/PPM (binary P4/P5/P6 and plain P1/P2/P3) or JPEG image,
// told apart by their first bytes. PBM gives colority 0, PGM and grey PNG or
// JPEG colority 1, everything else colority 2 (alpha is dropped, 16-bit
// samples are cut to 8). An unknown or damaged file is a file error naming it:
// among others a JPEG scan whose data runs out (a missing EOI is accepted only
// after a single Huffman-coded scan, where it loses nothing), and a frame that
// would need more than 256 MiB to decode from a file under 1 MiB (256 bytes a
// byte of file for larger ones).
IMAGE_API Tolm::CPtr<IImage> LoadImageFile(Tolm::CBaseFile& file);

}  // namespace Image
