// gearset copy | mkdir | jpeg: copying, directories and image saving.
#include "Commands.h"
#include "FileOutput.h"
#include "Output.h"
#include "Platform.h"
#include "Progress.h"
#include "StreamFile.h"

#include <Image/Image.h>
#include <Korvan/BasicTools.h>
#include <Korvan/FolderWorker.h>
#include <Korvan/ImageSaving.h>
#include <Tolm/File.h>

#include <climits>
#include <memory>

namespace gearset {
namespace {

// Checked before anything is written: a target that is its own source would
// be read while it grows or is emptied. Standard output counts as the file
// it was opened on, however it is spelt ('-', /dev/stdout).
void refuseSameFile(const std::string& in, const std::string& out) {
    if (in == "-") return;
    if (out == "-" ? IsStandardOutput(in) : IsSameFile(in, out))
        throw ToolFailure("'" + in + "' and '" + out + "' are the same file");
}

// Standard input held in memory, named as the user knows it in the image
// readers' messages.
class StandardInputFile final : public Tolm::CMemoryFile {
public:
    Tolm::CUnicodeString GetFileName() const override { return ToUnicode(kStandardInputName); }
};

int runCopy(const ParsedArguments& args, Context& context) {
    const std::string sourcePath = PathArgument(args.Positionals()[0], "SRC");
    const std::string targetPath = PathArgument(args.Positionals()[1], "DST");
    const FileFacts sourceFacts = sourcePath == "-" ? FileFacts{FileFacts::Kind::other} : Examine(sourcePath);
    if (sourceFacts.kind == FileFacts::Kind::directory)
        throw ToolFailure("'" + sourcePath + "' is a directory");
    // Emptying the target first would destroy the source.
    refuseSameFile(sourcePath, targetPath);

    // A regular file of known length is read through the framework; anything
    // else (a pipe, a FIFO, a device, a /proc file that says it is empty) can
    // only be read once from start to end.
    const bool knownLength = sourceFacts.kind == FileFacts::Kind::regular && sourceFacts.length > 0;
    std::unique_ptr<Tolm::CBaseFile> source;
    if (knownLength)
        source = std::make_unique<Tolm::CFile>(ToUnicode(SystemPath(sourcePath)), Tolm::CFile::modeRead);
    else
        source = OpenSequentialFile(sourcePath);
    const std::int64_t startLength = knownLength ? source->GetLength() : -1;

    // A device or a pipe (NUL, /dev/null, a FIFO) cannot be replaced by a
    // rename, and has no folder to write beside it: it takes the bytes as
    // standard output does.
    if (targetPath == "-" || IsStreamTarget(Examine(targetPath))) {
        const std::unique_ptr<Tolm::CBaseFile> output = OpenSequentialOutput(targetPath);
        ProgressMeter meter("copy", startLength, ProgressMeter::Unit::bytes,
                            context.showProgress && knownLength);
        CopyWhole(*source, startLength, *output, sourcePath, meter);
        return 0;
    }
    ReplacedTarget target(targetPath);
    target.Write([&] {
        Tolm::CFile output(target.WritePath(), Tolm::CFile::modeCreate | Tolm::CFile::modeWrite);
        ProgressMeter meter("copy", startLength, ProgressMeter::Unit::bytes,
                            context.showProgress && knownLength);
        CopyWhole(*source, startLength, output, sourcePath, meter);
        output.Close();  // a failure to write the last bytes must not pass for success
    });
    // Never more permissive than the source, nor than the file it replaces.
    const unsigned sourceMode = sourceFacts.kind == FileFacts::Kind::regular ? sourceFacts.mode & 0777 : 0666;
    target.Commit(target.ExistingMode() ? *target.ExistingMode() & sourceMode : NewFileMode(sourceMode));
    return 0;
}

int runMkdir(const ParsedArguments& args, Context& context) {
    // The library would take an empty path for the current folder, or fail inside.
    if (args.Positionals()[0].empty()) throw UsageError("PATH may not be empty");
    const std::string path = PathArgument(args.Positionals()[0], "PATH");
    const Tolm::CUnicodeString systemPath = ToUnicode(OrdinaryPath(SystemPath(path)));
    if (args.Has("stamped")) {
        const Tolm::CUnicodeString created = Korvan::CFolderWorker::CreateSubDirByCurrentTime(systemPath);
        Print(context.out, "%s\n", InUserTerms(created.ToUtf8()).c_str());
    } else {
        Korvan::CFolderWorker::CreateDirRecursive(systemPath);
    }
    return 0;
}

int runJpeg(const ParsedArguments& args, Context&) {
    const std::string inputPath = PathArgument(args.Positionals()[0], "IN");
    const std::string outputPath = PathArgument(args.Positionals()[1], "OUT");
    refuseSameFile(inputPath, outputPath);
    Tolm::CPtr<Image::IImage> image;
    if (inputPath == "-") {
        // The readers seek; standard input may be a pipe.
        const std::string bytes = ReadStandardInput();
        if (bytes.size() > static_cast<std::size_t>(INT_MAX))
            throw ToolFailure("standard input holds more than 2 GiB, too much for an image file");
        StandardInputFile input;
        input.Write(bytes.data(), static_cast<int>(bytes.size()));
        input.SeekToBegin();
        image = Image::LoadImageFile(input);
    } else {
        Tolm::CFile input(ToUnicode(SystemPath(inputPath)), Tolm::CFile::modeRead);
        image = Image::LoadImageFile(input);
    }
    if (outputPath == "-" || IsStreamTarget(Examine(outputPath))) {
        // The library writes a named file: write one aside, then pass it on.
        const TemporaryFile written;
        Korvan::SaveImage(image.Get(), written.Path());
        Tolm::CFile file(written.Path(), Tolm::CFile::modeRead);
        Korvan::CopyStream(file, *OpenSequentialOutput(outputPath));
        return 0;
    }
    ReplacedTarget target(outputPath);
    target.Write(
        [&] { Korvan::SaveImage(image.Get(), ToUnicode(OrdinaryPath(target.WritePath().ToUtf8()))); });
    target.Commit(target.ExistingMode().value_or(NewFileMode(0666)));
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
      "SRC may be a pipe, a device or '-' for standard input, read to its end. DST is\n"
      "written under a temporary name beside it and replaces the old file only when\n"
      "complete, with the source's permissions at most. In a folder that may not be\n"
      "written, a DST that may is written whole in TMPDIR first and then copied over\n"
      "the old file, with signals held off and the room checked. DST '-' is standard\n"
      "output, and a device or a pipe (/dev/stdout, /dev/null, NUL) is written as\n"
      "standard output is. SRC and DST may not be the same file. An interrupt, a\n"
      "termination, a hang-up or a closed pipe removes the temporary file.\n"},
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
      "grey; grey and colour images as they are. OUT replaces the old file only when\n"
      "complete, as DST of copy does (a closed folder, a pipe, a signal alike); IN\n"
      "and OUT may not be the same file. IN '-' is standard input, OUT '-' standard\n"
      "output.\n"},
     runJpeg},
};

}  // namespace

std::span<const Command> FileCommands() { return kCommands; }

}  // namespace gearset
