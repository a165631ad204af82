#include <Image/ImageServices.h>
#include <Tolm/Error.h>

#include <string>

#include "ImageInternal.h"

namespace Image {

IImageFileFormat::~IImageFileFormat() = default;
IImageFileFormatRegistry::~IImageFileFormatRegistry() = default;
IJpegSaveParams::~IJpegSaveParams() = default;
IImageWriter::~IImageWriter() = default;
IJpegImageFileFormat::~IJpegImageFileFormat() = default;
IImageServices::~IImageServices() = default;

namespace {

constexpr int kDefaultQuality = 75;
constexpr int kDefaultColority = 2;

class CJpegSaveParams final : public IJpegSaveParams {
public:
    void SetColority(int colority) override {
        if (colority != 1 && colority != 2) {
            Tolm::ThrowArgumentError("JPEG save parameters: colority " + std::to_string(colority) +
                                     " is neither 1 (grey) nor 2 (colour)");
        }
        colority_ = colority;
    }
    void SetQuality(int quality) override {
        if (quality < 1 || quality > 100) {
            Tolm::ThrowArgumentError("JPEG save parameters: quality " + std::to_string(quality) +
                                     " is outside 1..100");
        }
        quality_ = quality;
    }
    int GetColority() const override { return colority_; }
    int GetQuality() const override { return quality_; }

private:
    int colority_ = kDefaultColority;
    int quality_ = kDefaultQuality;
};

class CJpegFileFormat final : public IJpegImageFileFormat {
public:
    int GetId() const override { return kJpegFormatId; }
    Tolm::CUnicodeString GetName() const override { return u"JPEG"; }
    Tolm::CPtr<IImageWriter> CreateWriter(Tolm::CBaseFile& file) override {
        return detail::createJpegWriter(file);
    }
    Tolm::CPtr<IJpegSaveParams> CreateSaveParams() override { return detail::createJpegSaveParams(); }
};

// JPEG is the one format that can be written; the readers need no format
// object (LoadImageFile tells formats apart by their first bytes).
class CFileFormatRegistry final : public IImageFileFormatRegistry {
public:
    CFileFormatRegistry() : jpeg_(new CJpegFileFormat) {}
    ~CFileFormatRegistry() override = default;
    CFileFormatRegistry(const CFileFormatRegistry&) = delete;
    CFileFormatRegistry& operator=(const CFileFormatRegistry&) = delete;

    IImageFileFormat* GetFileFormat(int id) const override {
        return id == kJpegFormatId ? jpeg_.Get() : nullptr;
    }

private:
    Tolm::CPtr<CJpegFileFormat> jpeg_;
};

class CImageServices final : public IImageServices {
public:
    IImageFileFormatRegistry* GetFileFormatRegistry() override { return &registry_; }

private:
    CFileFormatRegistry registry_;
};

Tolm::IObject* createImageServices() { return new CImageServices; }

const Tolm::CClassRegistration registerImageServices(u"Image.ImageServices", createImageServices);

}  // namespace

Tolm::CPtr<IJpegSaveParams> detail::createJpegSaveParams() {
    return Tolm::CPtr<IJpegSaveParams>(new CJpegSaveParams);
}

}  // namespace Image
