// Image saving: any image of the image library written as a JPEG file.
//
//     Tolm::CPtr<Image::IImage> page = Image::LoadImageFile(scan);
//     Korvan::SaveImage(page.Get(), u"/tmp/page-1.jpg");  // quality 100
//
// Grey (colority 1) and colour (colority 2) images are written as they are; a
// black-and-white image (colority 0) is written from a grey copy, and the
// caller's image is never changed. The file is created, or emptied and
// overwritten. SaveImage keeps nothing: every image-library object it makes is
// released, and the file closed, before it returns.
//
// Failures of the framework (the file cannot be created or written: a missing
// folder, no permission, a full disk) and of the image library are thrown as
// they come, as a Tolm::CException*; a file already created stays. A folder
// whose drive is inaccessible, a missing JPEG format, a grey conversion that
// gives no image and a colority the writer cannot take are broken
// preconditions, reported as "Src\BasicTools". The grey copy is made before
// the file is opened, so a failed conversion leaves the path untouched.
//
// Any thread may call SaveImage; calls share nothing.
#pragma once

#include <Korvan/Export.h>

#include <Image/Image.h>
#include <Tolm/String.h>

namespace Korvan {

// Writes image to path as a JPEG file at quality 100. A null image does
// nothing: no file is touched and nothing is reported.
KORVAN_API void SaveImage(const Image::IImage* image, const Tolm::CUnicodeString& path);

}  // namespace Korvan
