// gearset copy | mkdir | jpeg: copying, directories and image saving.
#include "Commands.h"
#include "Platform.h"
#include "Progress.h"

#include <Image/Image.h>
#include <Korvan/BasicTools.h>
#include <Korvan/FolderWorker.h>
#include <Korvan/ImageSaving.h>
#include <Tolm/File.h>

#include <filesystem>

namespace gearset {
namespace {

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

bool isSameFile(const std::string& a, const std::string& b) {
    std::error_code error;
    return std::filesystem::equivalent(std::filesystem::path(a), std::filesystem::path(b), error) && !error;
}

int runCopy(const ParsedArguments& args, Context& context) {
    const std::string& sourcePath = args.Positionals()[0];
    const std::string& targetPath = args.Positionals()[1];
    Tolm::CFile source(ToUnicode(sourcePath), Tolm::CFile::modeRead);
    // Emptying the target first would destroy the source.
    if (isSameFile(sourcePath, targetPath))
        throw ToolFailure("'" + sourcePath + "' and '" + targetPath + "' are the same file");
    const std::int64_t length = source.GetLength();

    // Emptied first: CopyStream overwrites from the start and checks that the
    // lengths agree at the end.
    Tolm::CFile target(ToUnicode(targetPath), Tolm::CFile::modeCreate | Tolm::CFile::modeWrite);
    ProgressMeter meter("copy", length, ProgressMeter::Unit::bytes, context.showProgress);
    ProgressReadFile watchedSource(source, meter);
    Korvan::CopyStream(watchedSource, target);
    target.Close();  // a failure to write the last bytes must not pass for success
    meter.Finish();
    return 0;
}

int runMkdir(const ParsedArguments& args, Context& context) {
    const Tolm::CUnicodeString path = ToUnicode(args.Positionals()[0]);
    if (args.Has("stamped")) {
        const Tolm::CUnicodeString created = Korvan::CFolderWorker::CreateSubDirByCurrentTime(path);
        std::fprintf(context.out, "%s\n", created.ToUtf8().c_str());
    } else {
        Korvan::CFolderWorker::CreateDirRecursive(path);
    }
    return 0;
}

int runJpeg(const ParsedArguments& args, Context&) {
    Tolm::CPtr<Image::IImage> image;
    {
        Tolm::CFile input(ToUnicode(args.Positionals()[0]), Tolm::CFile::modeRead);
        image = Image::LoadImageFile(input);
    }
    Korvan::SaveImage(image.Get(), ToUnicode(args.Positionals()[1]));
    return 0;
}

const Command kCommands[] = {
    {{"copy",
      "SRC DST",
      "Copies a file, checking that the copy has the source's length.",
      {},
      {"SRC", "DST"},
      2,
      2,
      "DST is created, or emptied and overwritten; SRC and DST may not be the same file.\n"},
     runCopy},
    {{"mkdir",
      "[--stamped] PATH",
      "Creates a directory with all its missing parents.",
      {{"stamped", "", "create a new directory named after the current time under PATH, and print it"}},
      {"PATH"},
      1,
      1,
      "With --stamped, PATH is a root under which a directory such as\n"
      "'2026.12.04 11-56-20' is made ('(2)' and so on appended when it exists); the\n"
      "root is created when missing. Prints the directory created:\n"
      "  gearset mkdir --stamped /tmp/runs   /tmp/runs/2026.12.04 11-56-20\n"},
     runMkdir},
    {{"jpeg",
      "IN OUT",
      "Writes an image as a JPEG file at quality 100.",
      {},
      {"IN", "OUT"},
      2,
      2,
      "IN is a PNG, PBM/PGM/PPM or JPEG file. Black-and-white images are written in\n"
      "grey; grey and colour images as they are. OUT is created or overwritten.\n"},
     runJpeg},
};

}  // namespace

std::span<const Command> FileCommands() { return kCommands; }

}  // namespace gearset
