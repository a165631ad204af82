// Image transformations, made by class name.
//
//   "Image.ColorityConversionParams"           IColorityConversionParams
//   "Image.AlgorithmClass"                     IAlgorithm
//   "Image.ColorityConversionToGrayTransformer" IImageTransformer
//
// An algorithm names a transformer class and carries its parameters; the grey
// transformer turns an image of colority 0 into colority 1 (black 0, white
// 255), keeps colority 1, and turns colority 2 into 1 with the usual luma
// weights. Mode 0 is the only conversion mode.
#pragma once

#include <Image/Export.h>
#include <Image/Image.h>
#include <Tolm/Object.h>
#include <Tolm/String.h>

namespace Image {

class IMAGE_API IColorityConversionParams : public virtual Tolm::IObject {
public:
    virtual void SetMode(int mode) = 0;
    virtual int GetMode() const = 0;

protected:
    ~IColorityConversionParams() override;
};

class IMAGE_API IAlgorithm : public virtual Tolm::IObject {
public:
    virtual Tolm::CUnicodeString GetTransformerName() const = 0;
    virtual void SetTransformerName(const Tolm::CUnicodeString& name) = 0;
    virtual Tolm::CPtr<Tolm::IObject> GetParams() const = 0;
    virtual void SetParams(Tolm::IObject* params) = 0;

protected:
    ~IAlgorithm() override;
};

class IMAGE_API IImageTransformer : public virtual Tolm::IObject {
public:
    // A new image made from the image with the parameters; progress may be null.
    virtual Tolm::CPtr<IImage> Transform(const IImage* image, Tolm::IObject* params, void* progress) = 0;

protected:
    ~IImageTransformer() override;
};

}  // namespace Image
