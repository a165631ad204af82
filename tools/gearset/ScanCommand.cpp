// gearset scan: the byte instruments' forward and backward pattern search,
// over files of any size.
#include "Commands.h"
#include "Formats.h"
#include "Output.h"
#include "Platform.h"
#include "Progress.h"
#include "WindowedScan.h"

#include <limits>

namespace gearset {
namespace {

int runScan(const ParsedArguments& args, Context& context) {
    const bool last = args.Has("last");
    const std::optional<std::string> before = args.Value("before");
    if (before && !last) throw UsageError("--before works with --last only");
    const std::int64_t lastByte =
        before ? ParseInteger(*before, "--before", 0, std::numeric_limits<std::int64_t>::max())
               : std::numeric_limits<std::int64_t>::max();
    const std::string patternBytes = ParsePattern(args.Positionals()[1]);
    const Tolm::CString pattern(patternBytes.data(), static_cast<int>(patternBytes.size()));

    FileWindows file(PathArgument(args.Positionals()[0], "FILE"));
    // Files of one window are done before a person could read a meter.
    ProgressMeter meter("scan", last ? std::min(lastByte, file.Size() - 1) + 1 : file.Size(),
                        ProgressMeter::Unit::bytes, context.showProgress && file.Size() > kScanWindowBytes);
    const ScanProgress progress = [&meter](std::int64_t done) { meter.Update(done); };

    const std::int64_t offset = last ? FindLast(file, pattern, lastByte, kScanWindowBytes, progress)
                                     : FindFirst(file, pattern, kScanWindowBytes, progress);
    meter.Finish();
    if (args.Has("json")) {
        Print(context.out, "{\"offset\":%lld,\"found\":%s}\n", static_cast<long long>(offset),
              offset >= 0 ? "true" : "false");
    } else {
        Print(context.out, "%lld\n", static_cast<long long>(offset));
    }
    return offset >= 0 ? 0 : 1;
}

const Command kCommands[] = {
    {{"scan",
      "[--last] [--before N] [--json] FILE PATTERN",
      "Finds a byte pattern in a file of any size.",
      {{"last", "", "find the last match instead of the first"},
       {"before", "N", "with --last: the match must end at or before byte N (counted from 0)"},
       {"json", "", "print one JSON document: {\"offset\":N,\"found\":true or false}"}},
      {"FILE", "PATTERN"},
      2,
      2,
      "FILE '-' is standard input, from where it stands (a file of which a reader took\n"
      "5 bytes is searched from byte 5 on, offsets counted from there). PATTERN is\n"
      "taken byte for byte; \\xHH stands for any byte and \\\\ for a backslash. Prints\n"
      "the offset of the match's first byte, or -1. Exit status 0 when found, 1 when\n"
      "not:\n"
      "  gearset scan doc.pdf '%PDF-'               0\n"
      "  gearset scan --last doc.pdf 'startxref\\x0A' 91234\n"},
     runScan},
};

}  // namespace

std::span<const Command> ScanCommands() { return kCommands; }

}  // namespace gearset
