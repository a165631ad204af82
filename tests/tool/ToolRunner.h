// Runs the built gearset tool as a child process and captures what it says.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace gearset::testing {

struct ToolResult {
    int exitCode = -1;  // the status, or 128 + signal
    std::string out;
    std::string err;
};

// Runs GEARSET_TOOL_PATH with the arguments; `environment` entries replace or
// add variables of this process's environment (an empty value removes one).
ToolResult RunTool(const std::vector<std::string>& args,
                   const std::map<std::string, std::string>& environment = {});

// The lines of a text, without their '\n'.
std::vector<std::string> Lines(const std::string& text);

}  // namespace gearset::testing
