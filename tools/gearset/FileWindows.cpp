#include "FileWindows.h"

#include "Platform.h"
#include "StreamFile.h"

namespace gearset {

const char* FileWindows::View(std::int64_t offset, std::size_t length) {
    if (buffer_.size() < length) buffer_.resize(length);
    for (std::size_t done = 0; done < length;) {
        std::size_t got = 0;
        try {
            got = readAt(start_ + offset + static_cast<std::int64_t>(done), buffer_.data() + done,
                         length - done);
        } catch (const StreamRefusal& refusal) {
            throw ToolFailure("cannot read '" + path_ + "': " + refusal.what());
        }
        // The length was taken when the file opened: another has cut it since.
        if (got == 0) throw ToolFailure("'" + path_ + "' became shorter while it was read");
        done += got;
    }
    return buffer_.data();
}

}  // namespace gearset
