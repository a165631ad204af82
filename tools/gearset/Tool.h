// The whole tool, from the command line to the exit status, for each system's
// entry (PosixMain.cpp, WindowsMain.cpp), which hands over the arguments as
// UTF-8 without the program's name.
#pragma once

#include <string>
#include <vector>

namespace gearset {

int RunTool(const std::vector<std::string>& args);

}  // namespace gearset
