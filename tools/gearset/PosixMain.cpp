// The entry on POSIX: the arguments are the bytes the shell passed.
#include "Tool.h"

int main(int argc, char** argv) { return gearset::RunTool(std::vector<std::string>(argv + 1, argv + argc)); }
