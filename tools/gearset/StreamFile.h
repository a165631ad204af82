// Framework files over the system's byte streams, which are read or written
// once, from start to end: standard input and output, pipes, FIFOs, devices.
// The files here keep the position and the rules of such a source (only the
// current position can be sought; the length is what has passed so far) and
// word every failure; the system's file (Platform.cpp, WindowsPlatform.cpp)
// gives the streams alone, a few calls each.
#pragma once

#include "Platform.h"

#include <Tolm/File.h>

#include <cstddef>
#include <memory>
#include <stdexcept>
#include <string>

namespace gearset {

// What messages call "-" when it is read.
inline constexpr const char* kStandardInputName = "standard input";

// The system's refusal of a stream call in its own words: "Broken pipe",
// "Access is denied (error 5)". Whoever knows what the stream is for puts it
// into a ToolFailure that says so.
class StreamRefusal : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// One stream of the system, closed with the object when it owns it.
class ByteStream {
public:
    ByteStream() = default;
    virtual ~ByteStream() = default;
    ByteStream(const ByteStream&) = delete;
    ByteStream& operator=(const ByteStream&) = delete;

    // Up to size (> 0) bytes into buffer, fewer when no more have come yet;
    // 0 only at the stream's end. A refusal is a StreamRefusal.
    virtual std::size_t ReadSome(char* buffer, std::size_t size) = 0;
    // Writes the first bytes of size (> 0) and says how many; 0 when the
    // stream takes no more. A refusal is a StreamRefusal.
    virtual std::size_t WriteSome(const char* bytes, std::size_t size) = 0;
};

// Each system's file defines these four; a refusal to open is a
// StreamRefusal. The standard streams stay open when theirs goes.
std::unique_ptr<ByteStream> StandardInputStream();
std::unique_ptr<ByteStream> StandardOutputStream();
// path to read from its start; "-" is a stream of its own over standard input.
std::unique_ptr<ByteStream> OpenInputStream(const std::string& path);
// An existing device or pipe to write; nothing is created.
std::unique_ptr<ByteStream> OpenOutputStream(const std::string& path);

// The framework files of Platform.h's OpenSequentialFile and
// OpenSequentialOutput over any stream; name is what their messages call it.
std::unique_ptr<Tolm::CBaseFile> MakeSequentialFile(std::string name, std::unique_ptr<ByteStream> stream);
std::unique_ptr<Tolm::CBaseFile> MakeSequentialOutput(std::string name, std::unique_ptr<ByteStream> stream);

// Copies input to its end into spool, the temporary file in folder that holds
// a piped standard input for FileWindows. Failures are ToolFailures naming
// standard input or the folder; spool may then hold part of the input.
void SpoolInput(ByteStream& input, ByteStream& spool, const std::string& folder);

}  // namespace gearset
