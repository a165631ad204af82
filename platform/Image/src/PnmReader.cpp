// The reader of PBM/PGM/PPM files.
//
//   "P1".."P6", blanks and '#' comments, width, height, maxval (not for P1 and
//   P4), then the raster. P4..P6 are binary and start after exactly one blank;
//   P1..P3 are decimal text. Samples above 255 take two bytes, high first.
//
// A binary raster of 8-bit samples is the image's own pixel layout (rows of
// width x channels bytes, or of whole bytes of bits for P4, without padding),
// so it is read from the file straight into the image in one piece and only
// checked or scaled there when maxval is not 255: the raster is the bulk of
// the file, and it is copied once. Sizes are checked against the file's
// length before the image is made, as in every reader.
#include "PnmReader.h"

#include <Tolm/Error.h>
#include <Tolm/File.h>

#include <algorithm>
#include <array>
#include <climits>
#include <cstring>

#include "ImageInternal.h"

namespace Image::detail {
namespace {

// Two-byte samples are read through a block of this size.
constexpr std::size_t kWideSampleBlockBytes = 64 * 1024;
// The most that one Read of the framework is asked for.
constexpr std::size_t kMaxReadBytes = 1 << 30;

class PnmReader {
public:
    PnmReader(const unsigned char* data, std::size_t size, std::int64_t length, Tolm::CBaseFile* file,
              const std::string& name) noexcept
        : data_(data), size_(size), length_(length), file_(file), name_(name) {}
    PnmReader(const PnmReader&) = delete;
    PnmReader& operator=(const PnmReader&) = delete;

    Tolm::CPtr<IImage> Read() {
        const int kind = data_[1] - '0';
        const bool isBitmap = kind == 1 || kind == 4;
        const bool isBinary = kind >= 4;
        const int colority = isBitmap ? 0 : (kind == 2 || kind == 5) ? 1 : 2;
        const int channels = colority == 2 ? 3 : 1;

        if (!readHeader(isBitmap)) return {};
        if (width_ < 1 || height_ < 1) damaged("width and height must be at least 1");
        if (maxval_ < 1 || maxval_ > 65535)
            damaged("maxval " + std::to_string(maxval_) + " is outside 1..65535");
        if (!isBinary && isHeadOnly()) return {};  // text is read from memory only

        const long long available = length_ - static_cast<long long>(position_);
        if (isBinary) {
            // Exactly one blank separates the header from the raster.
            if (position_ >= size_ || !isBlank(data_[position_])) damaged("no blank after the header");
            ++position_;
            const long long bytesPerSample = maxval_ > 255 ? 2 : 1;
            const long long rowBytes =
                isBitmap ? (width_ + 7LL) / 8 : static_cast<long long>(width_) * channels * bytesPerSample;
            if (height_ > (available - 1) / rowBytes) damaged(truncationText(rowBytes, available - 1));
        } else {
            // Every sample takes at least one character, and all but P1's
            // need a blank after them.
            const long long samplesPerRow = static_cast<long long>(width_) * channels;
            const long long room = isBitmap ? available : (available + 1) / 2;
            if (samplesPerRow > room || height_ > room / samplesPerRow) {
                damaged("the pixel data is too short for " + std::to_string(width_) + " x " +
                        std::to_string(height_) + " pixels");
            }
        }

        // Only a plain bitmap sets bits into cleared rows; every other kind
        // writes each byte.
        Tolm::CPtr<IImage> image =
            kind == 1 ? CreateImage(width_, height_, colority) : createImageToFill(width_, height_, colority);
        if (isBinary) {
            readBinaryRaster(*image, isBitmap);
            return image;
        }
        unsigned char* pixels = image->GetMutablePixels();
        const int stride = image->GetStride();
        for (int y = 0; y < height_; ++y) {
            unsigned char* row = pixels + static_cast<std::ptrdiff_t>(y) * stride;
            if (kind == 1) {
                readPlainBitmapRow(row);
            } else {
                for (int i = 0; i < width_ * channels; ++i) row[i] = readPlainSample();
            }
        }
        return image;
    }

private:
    static bool isBlank(unsigned char c) noexcept {
        return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
    }
    static bool isDigit(unsigned char c) noexcept { return c >= '0' && c <= '9'; }

    // The bytes in memory are the file's first bytes only, the rest in file_.
    bool isHeadOnly() const noexcept { return static_cast<std::int64_t>(size_) < length_; }

    [[noreturn]] void damaged(const std::string& what) const {
        Tolm::ThrowFileError("cannot read image '" + name_ + "': " + what, 0);
    }
    // Rows and row size are named apart: their product may not fit 64 bits.
    std::string truncationText(long long rowBytes, long long present) const {
        return "the pixel data is cut short: " + std::to_string(width_) + " x " + std::to_string(height_) +
               " pixels need " + std::to_string(height_) + " rows of " + std::to_string(rowBytes) +
               " bytes, " + std::to_string(present) + " are there";
    }

    // Width, height and maxval (1 for bitmaps). False when the header runs on
    // past the bytes in memory while the file holds more: only the whole file
    // can tell then whether the header is good.
    bool readHeader(bool isBitmap) {
        position_ = 2;
        int* const fields[] = {&width_, &height_, &maxval_};
        const char* const names[] = {"width", "height", "maxval"};
        maxval_ = 1;
        for (int i = 0; i < (isBitmap ? 2 : 3); ++i) {
            skipBlanksAndComments();
            if (position_ >= size_ && isHeadOnly()) return false;
            *fields[i] = readHeaderNumber(names[i]);
            if (position_ >= size_ && isHeadOnly()) return false;
        }
        return true;
    }

    void skipBlanksAndComments() noexcept {
        while (position_ < size_) {
            if (isBlank(data_[position_])) {
                ++position_;
            } else if (data_[position_] == '#') {
                while (position_ < size_ && data_[position_] != '\n' && data_[position_] != '\r') ++position_;
            } else {
                break;
            }
        }
    }

    // A decimal number below INT_MAX, ended by a blank or a comment.
    int readHeaderNumber(const char* what) {
        if (position_ >= size_) damaged(std::string("the header ends before the ") + what);
        if (!isDigit(data_[position_])) damaged(std::string("the header has no number for the ") + what);
        long long value = 0;
        while (position_ < size_ && isDigit(data_[position_])) {
            value = value * 10 + (data_[position_++] - '0');
            if (value > INT_MAX) damaged(std::string("the ") + what + " is too large");
        }
        if (position_ < size_ && !isBlank(data_[position_]) && data_[position_] != '#') {
            damaged(std::string("the ") + what + " is followed by junk");
        }
        return static_cast<int>(value);
    }

    unsigned char scaled(unsigned value) const noexcept {
        if (maxval_ == 255) return static_cast<unsigned char>(value);
        const unsigned max = static_cast<unsigned>(maxval_);
        return static_cast<unsigned char>((value * 255u + max / 2) / max);
    }
    [[noreturn]] void sampleTooLarge() const {
        damaged("a sample exceeds maxval " + std::to_string(maxval_));
    }

    // The next count bytes of the raster: what memory holds, then the file.
    // The sizes were checked against the file's length before.
    void take(unsigned char* target, std::size_t count) {
        const std::size_t inMemory = std::min(count, size_ - position_);
        std::memcpy(target, data_ + position_, inMemory);
        position_ += inMemory;
        for (std::size_t done = inMemory; done < count;) {
            const std::size_t part = std::min(count - done, kMaxReadBytes);
            file_->ReadExactly(target + done, static_cast<int>(part));
            done += part;
        }
    }

    void readBinaryRaster(IImage& image, bool isBitmap) {
        unsigned char* pixels = image.GetMutablePixels();
        const std::size_t rowBytes = static_cast<std::size_t>(image.GetStride());
        const std::size_t bytes = rowBytes * static_cast<std::size_t>(height_);
        if (maxval_ > 255) {
            readWideSamples(pixels, bytes);
        } else {
            take(pixels, bytes);
            if (isBitmap && width_ % 8 != 0) {
                const auto padding = static_cast<unsigned char>(0xFF << (8 - width_ % 8));
                for (std::size_t end = rowBytes; end <= bytes; end += rowBytes) pixels[end - 1] &= padding;
            } else if (!isBitmap && maxval_ != 255) {
                scaleInPlace(pixels, bytes);
            }
        }
    }

    void scaleInPlace(unsigned char* samples, std::size_t count) const {
        if (*std::max_element(samples, samples + count) > maxval_) sampleTooLarge();
        std::array<unsigned char, 256> table{};
        for (int value = 0; value <= maxval_; ++value) table[value] = scaled(static_cast<unsigned>(value));
        for (std::size_t i = 0; i < count; ++i) samples[i] = table[samples[i]];
    }

    void readWideSamples(unsigned char* samples, std::size_t count) {
        HeapBlock block(kWideSampleBlockBytes);
        for (std::size_t done = 0; done < count;) {
            const std::size_t part = std::min(count - done, kWideSampleBlockBytes / 2);
            take(block.Get(), 2 * part);
            for (std::size_t i = 0; i < part; ++i) {
                const unsigned value =
                    static_cast<unsigned>(block.Get()[2 * i]) << 8 | block.Get()[2 * i + 1];
                if (value > static_cast<unsigned>(maxval_)) sampleTooLarge();
                samples[done + i] = scaled(value);
            }
            done += part;
        }
    }

    void readPlainBitmapRow(unsigned char* row) {
        for (int x = 0; x < width_; ++x) {
            skipBlanksAndComments();
            if (position_ >= size_) damaged("the pixel data is cut short");
            const unsigned char c = data_[position_++];
            if (c != '0' && c != '1') damaged("a PBM pixel is neither 0 nor 1");
            if (c == '1') row[x >> 3] |= static_cast<unsigned char>(0x80 >> (x & 7));
        }
    }
    unsigned char readPlainSample() {
        skipBlanksAndComments();
        if (position_ >= size_) damaged("the pixel data is cut short");
        if (!isDigit(data_[position_])) damaged("a sample is not a number");
        unsigned value = 0;
        while (position_ < size_ && isDigit(data_[position_])) {
            value = value * 10 + (data_[position_++] - '0');
            if (value > static_cast<unsigned>(maxval_)) sampleTooLarge();
        }
        return scaled(value);
    }

    const unsigned char* data_;
    std::size_t size_;
    std::int64_t length_;
    Tolm::CBaseFile* file_;
    const std::string& name_;
    std::size_t position_ = 0;
    int width_ = 0;
    int height_ = 0;
    int maxval_ = 0;
};

}  // namespace

Tolm::CPtr<IImage> readPnm(const unsigned char* data, std::size_t size, std::int64_t length,
                           Tolm::CBaseFile* file, const std::string& name) {
    return PnmReader(data, size, file ? length : static_cast<std::int64_t>(size), file, name).Read();
}

}  // namespace Image::detail
