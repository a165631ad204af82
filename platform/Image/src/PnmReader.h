// The PBM/PGM/PPM reader, for the image readers' entry points; not installed.
#pragma once

#include <Image/Image.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace Tolm {
class CBaseFile;
}

namespace Image::detail {

// Reads a PBM/PGM/PPM image whose first size bytes are in data; name is for
// messages. Without a file, data is the whole image file. With one, data is
// only the head of a file of length bytes whose rest follows at the file's
// position: a binary raster is then read from the file straight into the
// image. An empty result (only with a file, and before anything was read from
// it) says that the whole file is needed in memory: a plain (text) file, or a
// header that runs on past the head.
Tolm::CPtr<IImage> readPnm(const unsigned char* data, std::size_t size, std::int64_t length,
                           Tolm::CBaseFile* file, const std::string& name);

}  // namespace Image::detail
