#include "FileOutput.h"

#include "Platform.h"

#include <Korvan/BasicTools.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace gearset {
namespace {

constexpr std::size_t kOverwriteBlockBytes = 1 << 16;

Tolm::CUnicodeString unicodePath(const std::string& utf8) { return Tolm::CUnicodeString::FromUtf8(utf8); }

// A source file that reports how far CopyStream has read, so that a long copy
// can show progress although the library copies in one call.
class ProgressReadFile final : public Tolm::CBaseFile {
public:
    ProgressReadFile(Tolm::CBaseFile& inner, ProgressMeter& meter) : inner_(inner), meter_(meter) {}

    int Read(void* buffer, int count) override {
        const int got = inner_.Read(buffer, count);
        meter_.Update(inner_.GetPosition());
        return got;
    }
    void Write(const void* buffer, int count) override { inner_.Write(buffer, count); }
    std::int64_t Seek(std::int64_t offset, int origin) override { return inner_.Seek(offset, origin); }
    std::int64_t GetPosition() const override { return inner_.GetPosition(); }
    std::int64_t GetLength() const override { return inner_.GetLength(); }
    void SetLength(std::int64_t length) override { inner_.SetLength(length); }
    void Flush() override { inner_.Flush(); }
    Tolm::CUnicodeString GetFileName() const override { return inner_.GetFileName(); }

private:
    Tolm::CBaseFile& inner_;
    ProgressMeter& meter_;
};

// Deletes a temporary file, keeping quiet about a failure: the one that
// brought us here matters more.
void deleteQuietly(const Tolm::CUnicodeString& path) {
    try {
        Tolm::TempFile::Delete(path);
    } catch (Tolm::CException* error) {
        error->Delete();
    }
}

}  // namespace

TemporaryFile::TemporaryFile() {
    // A signal between the file's making and its noting would leave it behind.
    const SignalsHeld held;
    path_ = Tolm::TempFile::New(u"gearset", u"tmp");
    try {
        removal_ = std::make_unique<RemovedOnSignal>(path_.ToUtf8());
    } catch (...) {
        deleteQuietly(path_);
        throw;
    }
}

TemporaryFile::~TemporaryFile() {
    deleteQuietly(path_);
    removal_.reset();
}

ReplacedTarget::ReplacedTarget(const std::string& target) : target_(target) {
    const FileFacts facts = Examine(target);
    // As cp does: a file whose mode forbids writing is not replaced behind the
    // user's back (root may, as root's cp does).
    if (facts.kind == FileFacts::Kind::regular && !MayWrite(target))
        throw ToolFailure("cannot replace '" + target + "': its permissions forbid writing");
    const std::string system = SystemPath(target);
    if (facts.kind == FileFacts::Kind::danglingLink ||
        (facts.kind != FileFacts::Kind::missing && facts.kind != FileFacts::Kind::regular)) {
        writePath_ = unicodePath(system);
        return;
    }
    if (facts.kind == FileFacts::Kind::regular) {
        existingMode_ = facts.mode;
        finalPath_ = ResolvedPath(target);
    } else {
        finalPath_ = system;
    }
    // A signal between the temporary file's making and its noting would
    // leave it behind.
    const SignalsHeld held;
    // A short fixed prefix: the target's own name might leave no room.
    int systemError = 0;
    try {
        writePath_ = Tolm::TempFile::NewIn(unicodePath(FolderOf(finalPath_)), u".gearset", u"tmp");
    } catch (Tolm::CException* failure) {
        systemError = failure->GetSystemError();
        failure->Delete();
    }
    if (systemError != 0) {
        // Name the file the user asked for, not the temporary one.
        if (!existingMode_ || (systemError != EACCES && systemError != EPERM))
            throw ToolFailure("cannot create '" + target + "': " + std::strerror(systemError));
        // A file that may be written in a folder that may not: no rename can
        // replace it, so it is overwritten, but only with a content that is
        // already whole.
        writePath_ = Tolm::TempFile::New(u"gearset", u"tmp");
        overwrittenFile_ = finalPath_;
    }
    replacing_ = true;
    try {
        removal_ = std::make_unique<RemovedOnSignal>(writePath_.ToUtf8());
    } catch (...) {
        deleteQuietly(writePath_);
        throw;
    }
}

void ReplacedTarget::Write(const std::function<void()>& write) const {
    try {
        write();
    } catch (Tolm::CException* failure) {
        std::string message = failure->GetMessage();
        failure->Delete();
        for (const std::string& hidden : {writePath_.ToUtf8(), OrdinaryPath(writePath_.ToUtf8())}) {
            for (std::size_t at = message.find(hidden); !hidden.empty() && at != std::string::npos;
                 at = message.find(hidden, at + target_.size()))
                message.replace(at, hidden.size(), target_);
        }
        throw ToolFailure(InUserTerms(message));
    }
}

ReplacedTarget::~ReplacedTarget() {
    if (replacing_) deleteQuietly(writePath_);
}

void ReplacedTarget::Commit(unsigned mode) {
    if (!replacing_) return;  // a file that is neither regular nor missing, written in place
    if (!overwrittenFile_.empty()) {
        overwriteInPlace(mode);
        return;
    }
    // The new file takes the old one's owner where the system lets us (as
    // root, say), and the mode after that, since a change of owner may clear
    // mode bits.
    if (existingMode_) GiveOwnership(finalPath_, writePath_.ToUtf8());
    SetFileMode(writePath_.ToUtf8(), mode);
    Tolm::TempFile::Rename(writePath_, unicodePath(finalPath_));
    replacing_ = false;
}

// Written first and cut to length after, so that the old file's length is
// never lost to a failure before the last byte.
void ReplacedTarget::overwriteInPlace(unsigned mode) {
    Tolm::CFile whole(writePath_, Tolm::CFile::modeRead);
    const std::int64_t length = whole.GetLength();
    EnsureRoomFor(overwrittenFile_, length);
    {
        const SignalsHeld held;
        Tolm::CFile target(unicodePath(overwrittenFile_),
                           Tolm::CFile::modeWrite | Tolm::CFile::modeCreate | Tolm::CFile::modeNoTruncate);
        std::vector<char> block(kOverwriteBlockBytes);
        for (;;) {
            const int got = whole.Read(block.data(), static_cast<int>(block.size()));
            if (got <= 0) break;
            target.Write(block.data(), got);
        }
        target.SetLength(length);
        target.Close();
    }
    SetFileMode(overwrittenFile_, mode);
}

void CopyWhole(Tolm::CBaseFile& source, std::int64_t startLength, Tolm::CBaseFile& target,
               const std::string& sourceName, ProgressMeter& meter) {
    ProgressReadFile watchedSource(source, meter);
    const bool lengthKnown = startLength >= 0;
    const auto changedSize = [&] {
        return ToolFailure("'" + sourceName + "' changed size while it was copied");
    };
    try {
        Korvan::CopyStream(watchedSource, target);
    } catch (Tolm::CException* error) {
        // CopyStream's own check of the two lengths fails first when the
        // source was cut; say why.
        if (!lengthKnown || source.GetLength() == startLength) throw;
        error->Delete();
        throw changedSize();
    }
    if (lengthKnown && source.GetLength() != startLength) throw changedSize();
    meter.Finish();
}

}  // namespace gearset
