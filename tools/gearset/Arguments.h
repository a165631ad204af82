// Command-line arguments of the gearset tool: a small parser of long options
// and positional arguments. It does no I/O and keeps no state, so that it can
// be tested on its own.
//
//     const CommandSyntax scan{"scan", "[--last] [--before N] FILE PATTERN", "Finds a byte pattern.",
//                            {{"last", "", "..."}, {"before", "N", "..."}}, {"FILE", "PATTERN"}, 2, 2};
//     ParsedArguments args = ParseArguments(scan, {"--last", "a.pdf", "endobj"});
//     args.Has("last")       // true
//     args.Positionals()[1]  // "endobj"
//
// Rules:
//   - options are long: "--name", "--name=value" or "--name value"; they may
//     stand anywhere before "--", which ends them; "-" alone is a positional;
//   - an option given twice keeps its last value;
//   - "--help" and "-h" are understood by every command and win over any other
//     mistake on the line;
//   - any misuse raises UsageError, whose message is one line without the
//     command's name ("unknown option '--lats'").
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace gearset {

// A mistake in the command line: the tool prints the message and exits 2.
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct OptionSyntax {
    std::string_view name;       // without the dashes: "before"
    std::string_view valueName;  // "N"; empty for a flag that takes no value
    std::string_view help;
};

struct CommandSyntax {
    std::string_view name;      // as typed after "gearset": "date parse"
    std::string_view synopsis;  // what follows the name in the usage line
    std::string_view summary;   // one sentence
    std::vector<OptionSyntax> options;
    std::vector<std::string_view> positionalNames;  // for messages; the last repeats when unbounded
    int minPositionals = 0;
    int maxPositionals = 0;         // kUnbounded: any number
    std::string_view details = {};  // further help text, already wrapped

    static constexpr int kUnbounded = -1;
};

class ParsedArguments {
public:
    bool HelpRequested() const noexcept { return helpRequested_; }
    bool VersionRequested() const noexcept { return versionRequested_; }
    // -q or --quiet: no progress line, whatever stderr is.
    bool Quiet() const noexcept { return quiet_; }
    bool Has(std::string_view option) const;
    // The value of an option that takes one; nullopt when it was not given.
    std::optional<std::string> Value(std::string_view option) const;
    const std::vector<std::string>& Positionals() const noexcept { return positionals_; }

private:
    friend ParsedArguments ParseArguments(const CommandSyntax&, std::span<const std::string>);
    bool helpRequested_ = false;
    bool versionRequested_ = false;
    bool quiet_ = false;
    std::vector<std::pair<std::string, std::string>> options_;  // name, value ("" for flags)
    std::vector<std::string> positionals_;
};

ParsedArguments ParseArguments(const CommandSyntax& syntax, std::span<const std::string> args);
inline ParsedArguments ParseArguments(const CommandSyntax& syntax, std::initializer_list<std::string> args) {
    const std::vector<std::string> list(args);
    return ParseArguments(syntax, std::span<const std::string>(list));
}

// "--help" or "-h"; "--version" or "-V". Every command and group takes them.
bool IsHelpArgument(std::string_view arg);
bool IsVersionArgument(std::string_view arg);

// The text that "--help" prints for the command.
std::string FormatHelp(const CommandSyntax& syntax);

// A whole decimal number within min..max, for the value of an option or an
// argument; anything else (a sign where none fits, blanks, a suffix, overflow)
// is a UsageError naming `what`: "--count must be a whole number from 1 to 100000000".
std::int64_t ParseInteger(std::string_view text, std::string_view what, std::int64_t min, std::int64_t max);

// Whose rules a path of the command line follows.
enum class PathRules { posix, windows };
// The rules of the system the tool runs on, set by that system's file.
extern const PathRules kSystemPathRules;

// A path of the command line as the tool takes it. Under Windows' rules '/'
// becomes '\', so that what the tool prints has one separator, and a
// component that ends in a dot or a space is a UsageError naming `what`: the
// system drops those characters from each component, so "a./b" would make or
// find "a\b", another name than the one asked for. A path in the long form
// ("\\?\C:\a.") is the system's as it stands and passes unchanged, as do "-"
// and every path under POSIX rules.
//     PathArgument("runs/2024", "PATH", PathRules::windows)   "runs\2024"
//     PathArgument("a./b", "PATH", PathRules::windows)        UsageError
std::string PathArgument(const std::string& given, std::string_view what, PathRules rules = kSystemPathRules);

}  // namespace gearset
