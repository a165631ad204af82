// gearset text encode | decode: PDF text strings.
#include "Commands.h"
#include "Formats.h"
#include "Platform.h"
#include "StreamFile.h"

#include <Korvan/EncodingInstr.h>
#include <Tolm/Array.h>

#include <algorithm>
#include <limits>

namespace gearset {
namespace {

using ByteArray = Tolm::CFastArray<unsigned char, 32, Tolm::CurrentMemoryManager>;

int runEncode(const ParsedArguments& args, Context& context) {
    const std::string& text = args.Positionals()[0];
    if (!IsValidUtf8(text)) throw UsageError("TEXT is not valid UTF-8");
    ByteArray bytes;
    Korvan::UnicodeStringToBytes(ToUnicode(text), args.Has("unicode"), bytes);
    Print(context.out, "%s\n", FormatHexBytes(bytes.GetData(), bytes.GetSize()).c_str());
    return 0;
}

int runDecode(const ParsedArguments& args, Context& context) {
    if (args.Has("codepoints") && args.Has("json"))
        throw UsageError("--codepoints and --json exclude each other");
    std::vector<std::string> hex = args.Positionals();
    // "-" stands for the hex text of standard input, which can be read only once.
    if (std::count(hex.begin(), hex.end(), "-") > 1)
        throw UsageError("'-' (standard input) may be given once");
    const auto input = std::find(hex.begin(), hex.end(), "-");
    const std::size_t inputIndex = static_cast<std::size_t>(input - hex.begin());
    if (input != hex.end()) *input = ReadStandardInput();
    std::vector<unsigned char> parsed;
    try {
        parsed = ParseHexBytes(hex);
    } catch (const HexMistake& mistake) {
        // Bad data, not a mistake in the command line.
        if (mistake.Argument() == inputIndex)
            throw ToolFailure(std::string(kStandardInputName) + ": " + mistake.what());
        throw;
    }
    if (parsed.size() > static_cast<std::size_t>(std::numeric_limits<int>::max() / 2)) {
        throw UsageError("too many bytes");
    }
    ByteArray bytes;
    bytes.Append(parsed.data(), static_cast<int>(parsed.size()));
    const Tolm::CUnicodeString text = Korvan::BytesToUnicodeString(bytes);
    if (args.Has("json")) {
        Print(context.out, "{\"text\":%s,\"codepoints\":%s}\n", JsonString(text.ToUtf8()).c_str(),
              JsonString(FormatCodeUnits(text)).c_str());
        return 0;
    }
    const std::string line = args.Has("codepoints") ? FormatCodeUnits(text) : text.ToUtf8();
    Print(context.out, "%s\n", line.c_str());
    return 0;
}

const Command kCommands[] = {
    {{"text encode",
      "[--unicode] TEXT",
      "Writes a text as the bytes of a PDF text string.",
      {{"unicode", "", "always write UTF-16BE with its FE FF mark"}},
      {"TEXT"},
      1,
      1,
      "TEXT (UTF-8) is written as single bytes when every character is below U+0080,\n"
      "otherwise as UTF-16BE after FE FF. Prints upper-case hex pairs separated by\n"
      "single spaces, or an empty line for no bytes:\n"
      "  gearset text encode abc            61 62 63\n"
      "  gearset text encode --unicode abc  FE FF 00 61 00 62 00 63\n"},
     runEncode},
    {{"text decode",
      "[--codepoints | --json] HEX...",
      "Reads the bytes of a PDF text string back into text.",
      {{"codepoints", "", "print each UTF-16 code unit as U+XXXX instead of the text"},
       {"json", "", "print one JSON document with both: {\"text\":...,\"codepoints\":\"U+0041 ...\"}"}},
      {"HEX"},
      1,
      CommandSyntax::kUnbounded,
      "The bytes are hex pairs, with blanks allowed between pairs and across\n"
      "arguments. Bytes after FE FF are UTF-16BE; others stand for the character of\n"
      "the same number; a zero becomes a space. HEX '-' is read from standard input,\n"
      "where a mistake is bad data (exit 1, with its offset) rather than a usage error.\n"
      "Prints the text as UTF-8:\n"
      "  gearset text decode FE FF 00 41                 A\n"
      "  gearset text decode --codepoints 'FF FE 41 00'  U+00FF U+00FE U+0041 U+0020\n"},
     runDecode},
};

}  // namespace

std::span<const Command> TextCommands() { return kCommands; }

}  // namespace gearset
