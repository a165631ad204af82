// Image services: the registry of file formats and JPEG writing.
//
// Made by class name: DoCreateObject(u"Image.ImageServices"), cast to
// IImageServices. The registry and the formats belong to the services object
// and live as long as it does. Format id 5 is JPEG and its object is also an
// IJpegImageFileFormat:
//
//     auto services = Tolm::CreateObject<Image::IImageServices>(u"Image.ImageServices");
//     auto* jpeg = dynamic_cast<Image::IJpegImageFileFormat*>(
//         services->GetFileFormatRegistry()->GetFileFormat(Image::kJpegFormatId));
//     auto params = jpeg->CreateSaveParams();  params->SetQuality(100);
//     jpeg->CreateWriter(file)->Write(image, params.Get());
#pragma once

#include <Image/Export.h>
#include <Image/Image.h>
#include <Tolm/File.h>
#include <Tolm/Object.h>

namespace Image {

inline constexpr int kJpegFormatId = 5;

class IMAGE_API IImageFileFormat : public virtual Tolm::IObject {
public:
    virtual int GetId() const = 0;
    virtual Tolm::CUnicodeString GetName() const = 0;

protected:
    ~IImageFileFormat() override;
};

class IMAGE_API IImageFileFormatRegistry {
public:
    // The format of that id, owned by the registry, or null.
    virtual IImageFileFormat* GetFileFormat(int id) const = 0;

protected:
    virtual ~IImageFileFormatRegistry();
};

// Save parameters of JPEG: quality 1..100 (default 75) and the colority of the
// output, 1 grey or 2 colour (default 2). Values outside are argument errors.
class IMAGE_API IJpegSaveParams : public virtual Tolm::IObject {
public:
    virtual void SetColority(int colority) = 0;
    virtual void SetQuality(int quality) = 0;
    virtual int GetColority() const = 0;
    virtual int GetQuality() const = 0;

protected:
    ~IJpegSaveParams() override;
};

class IMAGE_API IImageWriter : public virtual Tolm::IObject {
public:
    // Encodes the image into the writer's file at its position. Params are the
    // format's save parameters (null: defaults). An image of colority 0, or one
    // whose colority does not fit the parameters, is converted on the way.
    virtual void Write(const IImage* image, const Tolm::IObject* params) = 0;

protected:
    ~IImageWriter() override;
};

class IMAGE_API IJpegImageFileFormat : public virtual IImageFileFormat {
public:
    // A writer bound to the open file, which must outlive it.
    virtual Tolm::CPtr<IImageWriter> CreateWriter(Tolm::CBaseFile& file) = 0;
    virtual Tolm::CPtr<IJpegSaveParams> CreateSaveParams() = 0;

protected:
    ~IJpegImageFileFormat() override;
};

class IMAGE_API IImageServices : public virtual Tolm::IObject {
public:
    virtual IImageFileFormatRegistry* GetFileFormatRegistry() = 0;

protected:
    ~IImageServices() override;
};

}  // namespace Image
