#include <Korvan/BasicTools.h>
#include <Korvan/FolderWorker.h>
#include <Korvan/ImageSaving.h>

#include "Report.h"

#include <Image/ImageServices.h>
#include <Image/Transform.h>
#include <Tolm/FileSystem.h>
#include <Tolm/Object.h>

#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

// Byte instruments.
//
// The scans compare every candidate position in full after a cheap filter; no
// skip table is built, so nothing is allocated and the worst case is the
// buffer length times the pattern length. The filter looks at the pattern's
// first and last byte together, sixteen candidates at a time where the
// processor offers SSE2; elsewhere it is memchr (memrchr backwards) on one
// byte. Either way the answer is the one a plain position-by-position scan
// gives: the first match wholly inside the searched bytes for ScanTo, the one
// ending last for ScanBackTo. Only bytes inside the searched range are read.

namespace Korvan {
namespace {

constexpr int kCopyBlockBytes = 4096;

const unsigned char* bytesOf(const char* buffer) { return reinterpret_cast<const unsigned char*>(buffer); }

#if defined(__SSE2__)
constexpr std::ptrdiff_t kLanes = 16;

// Bit j of the answer is set when data[at + j] == first and
// data[at + j + span] == last, for j in 0..15. Reads data[at .. at + span + 15].
inline unsigned pairMask(const unsigned char* data, std::ptrdiff_t at, std::ptrdiff_t span, __m128i first,
                         __m128i last) {
    const __m128i head = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + at));
    const __m128i tail = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + at + span));
    return static_cast<unsigned>(
        _mm_movemask_epi8(_mm_and_si128(_mm_cmpeq_epi8(head, first), _mm_cmpeq_epi8(tail, last))));
}
#endif

// True when the k bytes at data equal the pattern; the first and last byte
// are known to match already.
inline bool innerMatches(const unsigned char* data, const unsigned char* pattern, std::ptrdiff_t k) {
    return k <= 2 || std::memcmp(data + 1, pattern + 1, static_cast<std::size_t>(k - 2)) == 0;
}

// First start in 0..lastStart where the k-byte pattern matches, or -1.
std::ptrdiff_t findForward(const unsigned char* data, std::ptrdiff_t lastStart, const unsigned char* pattern,
                           std::ptrdiff_t k) {
    std::ptrdiff_t start = 0;
#if defined(__SSE2__)
    const __m128i first = _mm_set1_epi8(static_cast<char>(pattern[0]));
    const __m128i last = _mm_set1_epi8(static_cast<char>(pattern[k - 1]));
    // A block of sixteen starts reads up to start + 15 + k - 1 <= lastStart + k - 1,
    // the last byte of the searched range.
    for (; start + kLanes - 1 <= lastStart; start += kLanes) {
        for (unsigned mask = pairMask(data, start, k - 1, first, last); mask != 0; mask &= mask - 1) {
            const std::ptrdiff_t at = start + __builtin_ctz(mask);
            if (innerMatches(data + at, pattern, k)) return at;
        }
    }
#endif
    while (start <= lastStart) {
        const void* hit =
            std::memchr(data + start, pattern[0], static_cast<std::size_t>(lastStart - start + 1));
        if (hit == nullptr) return -1;
        const std::ptrdiff_t at = static_cast<const unsigned char*>(hit) - data;
        if (data[at + k - 1] == pattern[k - 1] && innerMatches(data + at, pattern, k)) return at;
        start = at + 1;
    }
    return -1;
}

// Last byte equal to value in data[0 .. count - 1], or null.
inline const unsigned char* findLastByte(const unsigned char* data, unsigned char value, std::size_t count) {
#if defined(__GLIBC__)
    return static_cast<const unsigned char*>(memrchr(data, value, count));
#else
    while (count > 0) {
        --count;
        if (data[count] == value) return data + count;
    }
    return nullptr;
#endif
}

// Last start in 0..lastStart where the k-byte pattern matches, or -1.
std::ptrdiff_t findBackward(const unsigned char* data, std::ptrdiff_t lastStart, const unsigned char* pattern,
                            std::ptrdiff_t k) {
    std::ptrdiff_t top = lastStart;  // highest start not yet examined
#if defined(__SSE2__)
    const __m128i first = _mm_set1_epi8(static_cast<char>(pattern[0]));
    const __m128i last = _mm_set1_epi8(static_cast<char>(pattern[k - 1]));
    // The block of starts top - 15 .. top reads up to top + k - 1, at most the
    // position the caller allowed.
    for (; top - (kLanes - 1) >= 0; top -= kLanes) {
        const std::ptrdiff_t base = top - (kLanes - 1);
        unsigned mask = pairMask(data, base, k - 1, first, last);
        while (mask != 0) {
            const int bit = 31 - __builtin_clz(mask);
            if (innerMatches(data + base + bit, pattern, k)) return base + bit;
            mask &= ~(1u << bit);
        }
    }
#endif
    // Ends run from top + k - 1 down to k - 1: filter on the last byte.
    while (top >= 0) {
        const unsigned char* hit =
            findLastByte(data + k - 1, pattern[k - 1], static_cast<std::size_t>(top + 1));
        if (hit == nullptr) return -1;
        const std::ptrdiff_t at = hit - (data + k - 1);
        if (data[at] == pattern[0] && innerMatches(data + at, pattern, k)) return at;
        top = at - 1;
    }
    return -1;
}

}  // namespace

int Compare(const CByteArray& left, const CByteArray& right) {
    const int common = left.GetSize() < right.GetSize() ? left.GetSize() : right.GetSize();
    const unsigned char* a = left.GetData();
    const unsigned char* b = right.GetData();
    for (int i = 0; i < common; ++i) {
        if (a[i] < b[i]) return -1;
        if (a[i] > b[i]) return 1;
    }
    return left.GetSize() - right.GetSize();
}

int ScanTo(const char* buffer, int length, const Tolm::CString& pattern) {
    const std::ptrdiff_t k = pattern.GetLength();
    if (k == 0) {
        KORVAN_REPORT_BROKEN_PRECONDITION();
        return -1;
    }
    const std::ptrdiff_t lastStart = static_cast<std::ptrdiff_t>(length) - k;
    if (lastStart < 0) return -1;
    return static_cast<int>(findForward(bytesOf(buffer), lastStart, bytesOf(pattern.GetString()), k));
}

int ScanBackTo(const char* buffer, int position, const Tolm::CString& pattern) {
    const std::ptrdiff_t k = pattern.GetLength();
    if (k == 0) {
        KORVAN_REPORT_BROKEN_PRECONDITION();
        return -1;
    }
    if (position < 0) return -1;
    // A match must end at or before position and start at or after byte 0.
    const std::ptrdiff_t lastStart = static_cast<std::ptrdiff_t>(position) - k + 1;
    if (lastStart < 0) return -1;
    return static_cast<int>(findBackward(bytesOf(buffer), lastStart, bytesOf(pattern.GetString()), k));
}

// The running total and the length check are 64-bit, so sources of 2 GiB and
// more copy like small ones. The block lives inside the array object on the
// stack: no heap allocation per copy.
void CopyStream(Tolm::CBaseFile& source, Tolm::CBaseFile& destination) {
    Tolm::CFastArray<unsigned char, kCopyBlockBytes, Tolm::CurrentMemoryManager> block;
    block.SetSize(kCopyBlockBytes);

    source.SeekToBegin();
    destination.SeekToBegin();
    std::int64_t copied = 0;
    int got = 0;
    do {
        got = source.Read(block.GetData(), kCopyBlockBytes);
        destination.Write(block.GetData(), got);
        copied += got;
        source.Seek(copied, Tolm::CBaseFile::begin);
        destination.Seek(copied, Tolm::CBaseFile::begin);
    } while (got == kCopyBlockBytes);

    if (source.GetLength() != destination.GetLength()) KORVAN_REPORT_BROKEN_PRECONDITION();
}

}  // namespace Korvan

// Image saving.
//
// Every image-library object comes from the factory by class name and is held
// in a CPtr; the JPEG format alone is a plain pointer, owned by the services
// object that outlives its use here. Where a broken precondition is reported
// and the report returns, the missing object is never used: the call skips
// what needed it and releases what it holds.

namespace Korvan {
namespace {

constexpr int kJpegQuality = 100;
constexpr int kGrayConversionMode = 0;
// Write access, creating the file or emptying an existing one.
constexpr unsigned kJpegOpenFlags = Tolm::CFile::kCreateForWriting;

// The image that the named transformer makes from image with params; empty,
// and reported, when the algorithm or the transformer cannot be made or the
// transformer gives no image.
Tolm::CPtr<Image::IImage> transformImage(const Image::IImage* image,
                                         const Tolm::CUnicodeString& transformerName, Tolm::IObject* params) {
    const Tolm::CPtr<Image::IAlgorithm> algorithm =
        Tolm::CreateObject<Image::IAlgorithm>(u"Image.AlgorithmClass");
    if (!algorithm) return {};
    algorithm->SetTransformerName(transformerName);
    algorithm->SetParams(params);
    const Tolm::CPtr<Image::IImageTransformer> transformer =
        Tolm::CreateObject<Image::IImageTransformer>(algorithm->GetTransformerName());
    if (!transformer) return {};
    const Tolm::CPtr<Tolm::IObject> transformParams = algorithm->GetParams();
    Tolm::CPtr<Image::IImage> result = transformer->Transform(image, transformParams.Get(), nullptr);
    if (!result) KORVAN_REPORT_BROKEN_PRECONDITION();
    return result;
}

// A new grey image made from image; empty as for transformImage.
Tolm::CPtr<Image::IImage> convertToGray(const Image::IImage* image) {
    const Tolm::CPtr<Image::IColorityConversionParams> params =
        Tolm::CreateObject<Image::IColorityConversionParams>(u"Image.ColorityConversionParams");
    if (!params) return {};
    params->SetMode(kGrayConversionMode);
    return transformImage(image, u"Image.ColorityConversionToGrayTransformer", params.Get());
}

}  // namespace

void SaveImage(const Image::IImage* image, const Tolm::CUnicodeString& path) {
    if (image == nullptr) return;

    if (!Tolm::FileSystem::AccessDir(Tolm::FileSystem::GetDrivePath(path)))
        KORVAN_REPORT_BROKEN_PRECONDITION();

    // Declared in the order of creation, so that they are released in the
    // opposite order: writer, file, grey copy, save parameters, services.
    const Tolm::CPtr<Image::IImageServices> services =
        Tolm::CreateObject<Image::IImageServices>(u"Image.ImageServices");
    if (!services) return;
    Image::IImageFileFormatRegistry* registry = services->GetFileFormatRegistry();
    Image::IImageFileFormat* format = registry ? registry->GetFileFormat(Image::kJpegFormatId) : nullptr;
    if (format == nullptr) {
        KORVAN_REPORT_BROKEN_PRECONDITION();
        return;
    }
    auto* jpeg = dynamic_cast<Image::IJpegImageFileFormat*>(format);
    if (jpeg == nullptr) {
        KORVAN_REPORT_BROKEN_PRECONDITION();
        return;
    }
    const Tolm::CPtr<Image::IJpegSaveParams> saveParams = jpeg->CreateSaveParams();
    if (!saveParams) {
        KORVAN_REPORT_BROKEN_PRECONDITION();
        return;
    }
    saveParams->SetQuality(kJpegQuality);

    // The grey copy is made before the file is opened: a conversion that
    // fails (reported, and normally raised) then leaves no empty file behind,
    // and an older file at path stays whole.
    Tolm::CPtr<Image::IImage> grayCopy;
    const Image::IImage* imageToWrite = image;
    if (image->GetColority() == 0) {
        grayCopy = convertToGray(image);
        if (!grayCopy) return;
        imageToWrite = grayCopy.Get();
    }

    Tolm::CFile file(CFolderWorker::MakeLongPath(path), kJpegOpenFlags);
    Tolm::CPtr<Image::IImageWriter> writer = jpeg->CreateWriter(file);
    if (!writer) KORVAN_REPORT_BROKEN_PRECONDITION();

    const int colority = imageToWrite->GetColority();
    if (colority == 1 || colority == 2) {
        saveParams->SetColority(colority);
    } else {
        KORVAN_REPORT_BROKEN_PRECONDITION();
    }
    if (writer) writer->Write(imageToWrite, saveParams.Get());

    writer.Reset();
    // Closed here rather than by the destructor, which would swallow a failure
    // to write the file's last bytes.
    file.Close();
}

}  // namespace Korvan
