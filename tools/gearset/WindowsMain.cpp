// The entry on Windows. Arguments come as UTF-16 and go on as UTF-8; output
// is written as bytes (to a console as UTF-16, Output.h), so that it is the
// same UTF-8 with the same line ends as on other systems.
#include "Tool.h"

#include "Utf16.h"

#include <cstdio>

#include <fcntl.h>
#include <io.h>

int wmain(int argc, wchar_t** argv) {
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) args.push_back(gearset::Narrow(argv[i]));
    ::_setmode(::_fileno(stdout), _O_BINARY);
    ::_setmode(::_fileno(stderr), _O_BINARY);
    ::_setmode(::_fileno(stdin), _O_BINARY);
    return gearset::RunTool(args);
}
