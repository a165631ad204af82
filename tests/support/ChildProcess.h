// Runs a program as a child process and collects what it wrote, the same way
// on POSIX and on Windows, with no shell between: the arguments reach the
// child exactly as given, whatever characters they hold.
//
//     GearsetTesting::ChildRequest request{tool, {"scan", path, "endobj"}};
//     request.environment = {{"TZ", "UTC0"}};
//     request.input = GearsetTesting::ChildInput::Bytes("piped bytes");
//     const GearsetTesting::ChildResult result = GearsetTesting::RunChild(request);
//     EXPECT_EQ(result.status, 0);  // result.out, result.err: all of stdout, stderr
//
// Standard output and standard error are separate pipes, read to their ends
// while the child runs (neither can fill and stall it); so stderr is never a
// terminal. Standard input is the null device, a file, or a pipe fed with
// given bytes and then closed.
//
// Strings are UTF-8 everywhere; on Windows they reach the child as UTF-16
// (its command line quoted so that CommandLineToArgvW and the C runtime give
// back each argument unchanged, and its environment block).
//
// RunChild may be called from several threads at once, e.g. to race two
// children: a child inherits only its own three standard handles.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace GearsetTesting {

struct ChildInput {
    enum class Kind { nullDevice, file, bytes };
    Kind kind = Kind::nullDevice;
    std::string text;  // the file's path, or the bytes to feed

    static ChildInput NullDevice() { return {}; }
    static ChildInput File(std::string path) { return {Kind::file, std::move(path)}; }
    static ChildInput Bytes(std::string bytes) { return {Kind::bytes, std::move(bytes)}; }
};

struct ChildRequest {
    // The program's path; a bare name is looked up in PATH.
    std::string program;
    // The arguments after the program's own name (argv[1] on).
    std::vector<std::string> arguments;
    // Variables set for the child, on top of (or in place of) those of the
    // caller, which it inherits otherwise.
    std::vector<std::pair<std::string, std::string>> environment;
    // Where the child starts; empty: the caller's current folder.
    std::string workingFolder;
    ChildInput input;
};

struct ChildResult {
    // The exit status; on POSIX 128 + n for a child killed by signal n, as a
    // shell gives it. -1 when the child could not be started (see startError).
    int status = -1;
    std::string out;
    std::string err;
    // Why the child could not be started; empty when it ran.
    std::string startError;
};

// Starts the child, feeds its input, reads its outputs to their ends and waits
// for it to exit.
ChildResult RunChild(const ChildRequest& request);

// The path of the running program, for a test that starts the program again
// as a second process of its own.
std::string ThisProgram();

}  // namespace GearsetTesting
