// The commands of the gearset tool. Each group of commands lives in its own
// source file and hands its table to Tool.cpp, which finds the command, parses
// its arguments and runs it.
//
// A command returns the exit status: 0 for success, 1 for a negative result
// that is not an error (scan found nothing). Mistakes in the command line are
// thrown as UsageError (exit 2); failures as ToolFailure or the framework's
// Tolm::CException* (exit 1), and main prints their message as one line.
#pragma once

#include "Arguments.h"
#include "Output.h"

#include <Tolm/String.h>

#include <cstdio>
#include <span>

namespace gearset {

struct Context {
    std::FILE* out = stdout;
    bool showProgress = false;  // stderr is a terminal
};

struct Command {
    CommandSyntax syntax;
    int (*run)(const ParsedArguments& args, Context& context);
};

std::span<const Command> DemoCommands();
std::span<const Command> DateCommands();
std::span<const Command> TextCommands();
std::span<const Command> ScanCommands();
std::span<const Command> FileCommands();
std::span<const Command> StoreCommands();

// UTF-8 from the command line to the framework's text and back.
Tolm::CUnicodeString ToUnicode(const std::string& utf8);

}  // namespace gearset
