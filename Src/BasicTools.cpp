#include <Korvan/BasicTools.h>
#include <Korvan/FolderWorker.h>
#include <Korvan/ImageSaving.h>

#include "PatternSearch.h"
#include "Report.h"

#include <Image/ImageServices.h>
#include <Image/Transform.h>
#include <Tolm/FileSystem.h>
#include <Tolm/Object.h>

#include <cstddef>
#include <cstdint>
#include <cstring>

// Byte instruments.
//
// The scans' search lives in PatternSearch.h: a first-and-last-byte filter
// while it pays, Two-Way once it does not, so that the worst case is linear in
// the buffer and the answer is the plain scan's. Only bytes inside the
// searched range are read, and nothing is allocated.

namespace Korvan {
namespace {

constexpr int kCopyBlockBytes = 4096;

const unsigned char* bytesOf(const char* buffer) { return reinterpret_cast<const unsigned char*>(buffer); }

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
    return static_cast<int>(search::FindFirst(bytesOf(buffer), lastStart, bytesOf(pattern.GetString()), k));
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
    return static_cast<int>(search::FindLast(bytesOf(buffer), lastStart, bytesOf(pattern.GetString()), k));
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
