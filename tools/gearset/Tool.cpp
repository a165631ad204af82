// gearset: the command line over every family of the Korvan.Gearset library.
//
// Exit status: 0 success, 1 failure (or a negative answer, such as a scan that
// finds nothing), 2 a mistake in the command line. Errors go to stderr as one
// line; results go to stdout in the forms that each command's help states and
// that scripts rely on.
#include "Tool.h"

#include "Commands.h"
#include "Platform.h"

#include <Tolm/Error.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <new>
#include <string>
#include <vector>

#ifndef GEARSET_VERSION
#define GEARSET_VERSION "unknown"
#endif

namespace gearset {
namespace {

std::vector<const Command*> allCommands() {
    std::vector<const Command*> commands;
    for (auto group :
         {DemoCommands(), DateCommands(), TextCommands(), ScanCommands(), FileCommands(), StoreCommands()}) {
        for (const Command& command : group) commands.push_back(&command);
    }
    return commands;
}

std::string toolHelp(const std::vector<const Command*>& commands) {
    std::string text =
        "Usage: gearset COMMAND [ARGUMENTS...]\n"
        "       gearset -h | --help | -V | --version\n\n"
        "Runs the utilities of the Korvan.Gearset library from the command line.\n\n"
        "Commands:\n";
    std::size_t width = 0;
    for (const Command* command : commands) width = std::max(width, command->syntax.name.size());
    for (const Command* command : commands) {
        text += "  " + std::string(command->syntax.name) +
                std::string(width - command->syntax.name.size() + 2, ' ') +
                std::string(command->syntax.summary) + "\n";
    }
    text +=
        "\n'gearset COMMAND --help' describes a command and its output. Every command takes\n"
        "-q (--quiet) for no progress, -V (--version), and '--' to end its options.\n"
        "Exit status: 0 success, 1 failure or nothing found, 2 a mistake in the command line.\n\n"
        "On Windows a path may take either separator and the tool prints '\\'; a path\n"
        "component that ends in a dot or a space is refused (exit status 2), since Windows\n"
        "would drop those characters, unless the path is in the long form \\\\?\\C:\\...,\n"
        "which every command takes as it stands.\n";
    return text;
}

// "date" when some command is called "date ...".
bool isGroup(const std::vector<const Command*>& commands, const std::string& word) {
    for (const Command* command : commands) {
        if (command->syntax.name.starts_with(word + " ")) return true;
    }
    return false;
}

std::string groupHelp(const std::vector<const Command*>& commands, const std::string& group) {
    std::string text = "Usage: gearset " + group + " SUBCOMMAND [ARGUMENTS...]\n\nSubcommands:\n";
    for (const Command* command : commands) {
        if (command->syntax.name.starts_with(group + " ")) {
            text += "  " + std::string(command->syntax.name) + " " + std::string(command->syntax.synopsis) +
                    "\n      " + std::string(command->syntax.summary) + "\n";
        }
    }
    return text;
}

std::string oneLine(std::string text) {
    for (char& c : text) {
        if (c == '\n' || c == '\r') c = ' ';
    }
    return text;
}

int fail(const std::string& who, const std::string& message) {
    Print(stderr, "%s: %s\n", who.c_str(), oneLine(message).c_str());
    return 1;
}

int usageFailure(const std::string& who, const std::string& message, const std::string& helpCommand) {
    Print(stderr, "%s: %s (see '%s --help')\n", who.c_str(), oneLine(message).c_str(), helpCommand.c_str());
    return 2;
}

int printVersion() {
    Put(stdout, "gearset " GEARSET_VERSION "\n");
    return 0;
}

int runCommand(const Command& command, std::span<const std::string> args) {
    const std::string who = "gearset " + std::string(command.syntax.name);
    try {
        const ParsedArguments parsed = ParseArguments(command.syntax, args);
        if (parsed.HelpRequested()) {
            Put(stdout, FormatHelp(command.syntax).c_str());
            return 0;
        }
        if (parsed.VersionRequested()) return printVersion();
        Context context;
        context.showProgress = !parsed.Quiet() && IsTerminal(stderr);
        return command.run(parsed, context);
    } catch (const UsageError& error) {
        return usageFailure(who, error.what(), who);
    } catch (const ToolFailure& error) {
        return fail(who, error.what());
    } catch (Tolm::CException* error) {
        // The framework names the paths in the system's form.
        const std::string message = InUserTerms(error->GetMessage());
        error->Delete();
        return fail(who, message);
    } catch (const std::bad_alloc&) {
        return fail(who, "out of memory");
    } catch (const std::exception& error) {
        return fail(who, error.what());
    }
}

int run(const std::vector<std::string>& args) {
    const std::vector<const Command*> commands = allCommands();
    if (args.empty()) return usageFailure("gearset", "missing COMMAND", "gearset");
    const std::string& first = args[0];
    if (IsHelpArgument(first) || first == "help") {
        Put(stdout, toolHelp(commands).c_str());
        return 0;
    }
    if (IsVersionArgument(first)) return printVersion();
    if (first.starts_with("-")) return usageFailure("gearset", "unknown option '" + first + "'", "gearset");

    if (isGroup(commands, first)) {
        const std::string who = "gearset " + first;
        if (args.size() < 2) return usageFailure(who, "missing SUBCOMMAND", who);
        if (IsHelpArgument(args[1])) {
            Put(stdout, groupHelp(commands, first).c_str());
            return 0;
        }
        if (IsVersionArgument(args[1])) return printVersion();
        for (const Command* command : commands) {
            if (command->syntax.name == first + " " + args[1]) {
                return runCommand(*command, std::span<const std::string>(args).subspan(2));
            }
        }
        return usageFailure(who, "unknown subcommand '" + args[1] + "'", who);
    }
    for (const Command* command : commands) {
        if (command->syntax.name == first)
            return runCommand(*command, std::span<const std::string>(args).subspan(1));
    }
    return usageFailure("gearset", "unknown command '" + first + "'", "gearset");
}

}  // namespace

Tolm::CUnicodeString ToUnicode(const std::string& utf8) { return Tolm::CUnicodeString::FromUtf8(utf8); }

int RunTool(const std::vector<std::string>& args) {
    PrepareForSignals();
    int status = run(args);
    // A full disk or a closed pipe must not pass for success.
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        Print(stderr, "gearset: cannot write the output: %s\n", std::strerror(errno));
        status = 1;
    }
    return status;
}

}  // namespace gearset
