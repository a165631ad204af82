// The gearset tool's few ties to the operating system: whether a stream is a
// terminal or a console, read-only windows onto a file that may be larger
// than memory, files that can be read or written only once, what a path names,
// and the modes new files get.
// Everything else the tool does goes through the library and the framework.
// A port to another system replaces Platform.cpp alone (with the streams that
// StreamFile.h asks of it).
#pragma once

#include "FileWindows.h"
#include "Output.h"

#include <Tolm/File.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>

namespace gearset {

// A failure of the tool itself (not a usage mistake): the tool prints the
// message and exits 1.
class ToolFailure : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

bool IsTerminal(std::FILE* stream);

// Whether stdout or stderr is a console, which takes text as UTF-16 (Output.h);
// never on POSIX, whose terminals take the bytes.
StreamKind KindOfStream(std::FILE* stream);
// Writes to the console behind stream, after anything the C stream holds;
// false when it fails or there is no console.
bool WriteConsoleUnits(std::FILE* stream, std::u16string_view units);

// A path of the command line as the tool hands it to the framework and the
// system. On Windows its full long form, "\\?\C:\dir\file" or
// "\\?\UNC\server\share\file", made against the current folder: the system
// then takes it at any length, and as it stands. A device ("NUL", "CON") keeps
// the form the system gives it ("\\.\NUL"), and "-" stays. Elsewhere the
// path itself.
std::string SystemPath(const std::string& path);
// The library (Korvan) puts the long-path prefix before the paths it hands on
// and takes the ordinary full form: "C:\dir\file", "\\server\share\file".
// On Windows SystemPath's form without the prefix; elsewhere the path itself.
std::string OrdinaryPath(const std::string& systemPath);
// The message with every system form SystemPath gave put back as the user
// wrote it, so that a failure names the path the user knows.
std::string InUserTerms(std::string message);

// What a path names, links followed.
struct FileFacts {
    enum class Kind { missing, regular, directory, device, danglingLink, other };
    Kind kind = Kind::missing;
    std::int64_t length = 0;  // of a regular file
    unsigned mode = 0;        // permission bits; on Windows 0444 for a read-only file, else 0666
};
FileFacts Examine(const std::string& path);
// Whether a device target (a character device such as NUL or /dev/null, a
// pipe or FIFO) is written from start to end without a name beside it.
inline bool IsStreamTarget(const FileFacts& facts) { return facts.kind == FileFacts::Kind::device; }

// Whether both paths name one file (the same volume and file number), links
// followed; false when either is missing.
bool IsSameFile(const std::string& a, const std::string& b);

// Whether this process may write the existing file at path (for root: always,
// as the system lets it; on Windows: unless the file is read-only).
bool MayWrite(const std::string& path);

// Whether standard output is the file at path (false for a missing file or
// an output that is no file), as `copy f - >> f` makes it.
bool IsStandardOutput(const std::string& path);

// The path with every link resolved and made absolute, for a file that
// exists: a ToolFailure otherwise.
std::string ResolvedPath(const std::string& path);
// The folder a path lies in, without a trailing separator: "." when none.
std::string FolderOf(const std::string& path);

// Gives the file the permission bits mode (on Windows: read-only when no one
// may write); a ToolFailure naming the path when the system refuses.
void SetFileMode(const std::string& path, unsigned mode);

// A path of the command line (UTF-8) as std::filesystem takes it, and back.
// Every path goes through these: std::filesystem reads a plain std::string in
// the ANSI code page on Windows, where a name beyond it would turn into
// another.
inline std::filesystem::path ToPath(const std::string& utf8) {
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}
inline std::string FromPath(const std::filesystem::path& path) {
    const std::u8string utf8 = path.u8string();
    return std::string(utf8.begin(), utf8.end());
}

// All of standard input, to its end; a read error is a ToolFailure.
std::string ReadStandardInput();

// A source that can be read only once, from start to end, as a framework file:
// a pipe, a FIFO, a device, or a file whose length the system does not know
// beforehand (those of /proc say 0). "-" is standard input. Read fills the
// buffer unless the source ends; the length is what has been read so far, the
// whole source's once Read has come short. Only the current position can be
// sought, and nothing can be written. Read errors are ToolFailures.
std::unique_ptr<Tolm::CBaseFile> OpenSequentialFile(const std::string& path);

// Standard output as a framework file written once from start to end: only
// the current position can be sought, and nothing can be read. Write errors
// (a full disk, a closed pipe) are ToolFailures.
std::unique_ptr<Tolm::CBaseFile> OpenStandardOutput();
// The same for a device or a pipe named by path ("NUL", "/dev/null", a FIFO);
// "-" is standard output. Failures name the path and keep the system's own
// reason (on Windows its error number and text).
std::unique_ptr<Tolm::CBaseFile> OpenSequentialOutput(const std::string& path);

// Gives path the owner and group of model where the system allows it (as root,
// or a group the user is in); otherwise leaves path as it is.
void GiveOwnership(const std::string& model, const std::string& path);

// Signals that end the tool (an interrupt, a termination, a hang-up, a write to
// a closed pipe) first remove the files registered through RemovedOnSignal,
// then end it as they would have; one that arrives ignored stays ignored. A
// file that grows past the file-size limit becomes an ordinary write error,
// so that the usual clean-up runs. RunTool calls this once. On Windows,
// whose console ends a process without a word, it does nothing.
void PrepareForSignals();

// Registers a file to be removed should a signal end the tool, as long as the
// object lives. At most a few at a time (ToolFailure beyond).
class RemovedOnSignal {
public:
    explicit RemovedOnSignal(const std::string& path);
    ~RemovedOnSignal();
    RemovedOnSignal(const RemovedOnSignal&) = delete;
    RemovedOnSignal& operator=(const RemovedOnSignal&) = delete;

private:
    int slot_ = -1;
};

// Holds off the signals of PrepareForSignals while alive: they take effect at
// its end. For the one step that must not be cut in the middle.
class SignalsHeld {
public:
    SignalsHeld();
    ~SignalsHeld();
    SignalsHeld(const SignalsHeld&) = delete;
    SignalsHeld& operator=(const SignalsHeld&) = delete;

private:
    unsigned char saved_[256] = {};  // the system's signal mask
};

// Fails with a ToolFailure naming `path` unless a file of `length` bytes may be
// written there: within the file-size limit, and with the room reserved on
// its disk where the system can say so. Leaves the file's content and length
// as they are.
void EnsureRoomFor(const std::string& path, std::int64_t length);

// The permission bits a file created with `requested` gets: less the
// process's file-creation mask, as the system applies it.
unsigned NewFileMode(unsigned requested);

}  // namespace gearset
