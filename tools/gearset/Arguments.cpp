#include "Arguments.h"

#include <algorithm>
#include <charconv>

namespace gearset {
namespace {

std::string quoted(std::string_view text) { return "'" + std::string(text) + "'"; }

const OptionSyntax* findOption(const CommandSyntax& syntax, std::string_view name) {
    for (const OptionSyntax& option : syntax.options) {
        if (option.name == name) return &option;
    }
    return nullptr;
}

std::string positionalName(const CommandSyntax& syntax, std::size_t index) {
    if (syntax.positionalNames.empty()) return "argument";
    return std::string(syntax.positionalNames[std::min(index, syntax.positionalNames.size() - 1)]);
}

}  // namespace

bool IsHelpArgument(std::string_view arg) { return arg == "--help" || arg == "-h"; }
bool IsVersionArgument(std::string_view arg) { return arg == "--version" || arg == "-V"; }

bool ParsedArguments::Has(std::string_view option) const {
    return std::any_of(options_.begin(), options_.end(),
                       [&](const auto& entry) { return entry.first == option; });
}

std::optional<std::string> ParsedArguments::Value(std::string_view option) const {
    for (auto entry = options_.rbegin(); entry != options_.rend(); ++entry) {
        if (entry->first == option) return entry->second;
    }
    return std::nullopt;
}

ParsedArguments ParseArguments(const CommandSyntax& syntax, std::span<const std::string> args) {
    ParsedArguments parsed;
    // Help and version first, so that "gearset scan --help" works whatever else
    // is wrong; the first of the two wins.
    for (const std::string& arg : args) {
        if (arg == "--") break;
        parsed.helpRequested_ = IsHelpArgument(arg);
        parsed.versionRequested_ = IsVersionArgument(arg);
        if (parsed.helpRequested_ || parsed.versionRequested_) return parsed;
    }

    bool optionsEnded = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (optionsEnded || arg == "-" || arg.empty() || arg[0] != '-') {
            parsed.positionals_.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        if (arg == "-q" || arg == "--quiet") {
            parsed.quiet_ = true;
            continue;
        }
        if (arg.size() < 2 || arg[1] != '-') throw UsageError("unknown option " + quoted(arg));

        const std::string_view body = std::string_view(arg).substr(2);
        const std::size_t equals = body.find('=');
        const std::string_view name = body.substr(0, equals);
        const OptionSyntax* option = findOption(syntax, name);
        if (!option) throw UsageError("unknown option " + quoted("--" + std::string(name)));

        std::string value;
        if (option->valueName.empty()) {
            if (equals != std::string_view::npos)
                throw UsageError("option --" + std::string(name) + " takes no value");
        } else if (equals != std::string_view::npos) {
            value = std::string(body.substr(equals + 1));
        } else if (i + 1 < args.size()) {
            value = args[++i];
        } else {
            throw UsageError("option --" + std::string(name) + " needs a value " +
                             std::string(option->valueName));
        }
        parsed.options_.emplace_back(std::string(name), std::move(value));
    }

    const int count = static_cast<int>(parsed.positionals_.size());
    if (count < syntax.minPositionals)
        throw UsageError("missing " + positionalName(syntax, parsed.positionals_.size()));
    if (syntax.maxPositionals != CommandSyntax::kUnbounded && count > syntax.maxPositionals) {
        throw UsageError("unexpected argument " +
                         quoted(parsed.positionals_[static_cast<std::size_t>(syntax.maxPositionals)]));
    }
    return parsed;
}

std::string FormatHelp(const CommandSyntax& syntax) {
    std::string text = "Usage: gearset " + std::string(syntax.name);
    if (!syntax.synopsis.empty()) text += " " + std::string(syntax.synopsis);
    text += "\n\n" + std::string(syntax.summary) + "\n";
    if (!syntax.details.empty()) text += "\n" + std::string(syntax.details);
    if (!text.ends_with('\n')) text += '\n';

    text += "\nOptions:\n";
    std::vector<std::pair<std::string, std::string_view>> rows;
    for (const OptionSyntax& option : syntax.options) {
        std::string left = "--";
        left += option.name;
        if (!option.valueName.empty()) {
            left += ' ';
            left += option.valueName;
        }
        rows.emplace_back(std::move(left), option.help);
    }
    rows.emplace_back("-q, --quiet", "draw no progress on stderr");
    rows.emplace_back("-h, --help", "show this help and exit");
    rows.emplace_back("-V, --version", "show the version and exit");
    if (syntax.maxPositionals != 0)
        rows.emplace_back("--", "end the options: later arguments stand as written, even '-x'");
    std::size_t width = 0;
    for (const auto& row : rows) width = std::max(width, row.first.size());
    for (const auto& [left, help] : rows) {
        text += "  " + left + std::string(width - left.size() + 2, ' ') + std::string(help) + "\n";
    }
    return text;
}

std::int64_t ParseInteger(std::string_view text, std::string_view what, std::int64_t min, std::int64_t max) {
    std::int64_t value = 0;
    const char* first = text.data();
    const char* last = text.data() + text.size();
    if (!text.empty() && text[0] == '+') ++first;  // from_chars takes '-' but not '+'
    const auto [end, error] = std::from_chars(first, last, value);
    const bool whole = !text.empty() && first != last && error == std::errc() && end == last &&
                       (text[0] != '+' || (text.size() > 1 && text[1] != '-'));
    if (!whole || value < min || value > max) {
        throw UsageError(std::string(what) + " must be a whole number from " + std::to_string(min) + " to " +
                         std::to_string(max) + ", not " + quoted(text));
    }
    return value;
}

std::string PathArgument(const std::string& given, std::string_view what, PathRules rules) {
    // As mkdir '' is: the system would refuse it only after the work was done.
    if (given.empty()) throw UsageError(std::string(what) + " may not be empty");
    if (rules == PathRules::posix || given == "-" || given.starts_with("\\\\?\\")) return given;
    std::string path = given;
    std::replace(path.begin(), path.end(), '/', '\\');
    for (std::size_t start = 0; start <= path.size();) {
        const std::size_t end = std::min(path.find('\\', start), path.size());
        const std::string_view component = std::string_view(path).substr(start, end - start);
        const bool parentOrSelf = component == "." || component == "..";
        if (!component.empty() && !parentOrSelf && (component.back() == '.' || component.back() == ' '))
            throw UsageError(
                std::string(what) + " '" + given + "': the component '" + std::string(component) +
                "' ends in a dot or a space, which Windows drops (the long form \\\\?\\ keeps them)");
        start = end + 1;
    }
    return path;
}

}  // namespace gearset
