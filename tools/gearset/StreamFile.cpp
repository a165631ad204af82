#include "StreamFile.h"

#include <Tolm/Error.h>

#include <cstdio>
#include <utility>
#include <vector>

namespace gearset {
namespace {

// failure is the start of the message: "cannot read 'standard input'".
std::size_t readSome(ByteStream& stream, char* buffer, std::size_t size, const std::string& failure) {
    try {
        return stream.ReadSome(buffer, size);
    } catch (const StreamRefusal& refusal) {
        throw ToolFailure(failure + ": " + refusal.what());
    }
}

// Fills buffer unless the stream ends first; how many bytes came.
std::size_t readFull(ByteStream& stream, char* buffer, std::size_t size, const std::string& failure) {
    std::size_t done = 0;
    while (done < size) {
        const std::size_t got = readSome(stream, buffer + done, size - done, failure);
        if (got == 0) break;
        done += got;
    }
    return done;
}

void writeAll(ByteStream& stream, const char* bytes, std::size_t size, const std::string& failure) {
    for (std::size_t done = 0; done < size;) {
        std::size_t put = 0;
        try {
            put = stream.WriteSome(bytes + done, size - done);
        } catch (const StreamRefusal& refusal) {
            throw ToolFailure(failure + ": " + refusal.what());
        }
        // Asking again would never end.
        if (put == 0) throw ToolFailure(failure + ": it takes no more");
        done += put;
    }
}

std::string inQuotes(const std::string& name) { return "'" + name + "'"; }

// Both kinds of file: the position is all that has passed, and the only
// place to seek is where it stands.
class OnceThroughFile : public Tolm::CBaseFile {
public:
    OnceThroughFile(std::string name, std::unique_ptr<ByteStream> stream, std::string direction)
        : name_(std::move(name)), stream_(std::move(stream)), direction_(std::move(direction)) {}

    std::int64_t Seek(std::int64_t offset, int origin) override {
        const std::int64_t to = origin == current ? position_ + offset : offset;
        if (origin == end || to != position_)
            throw ToolFailure(inQuotes(name_) + " can be " + direction_ + " only from start to end");
        return position_;
    }
    std::int64_t GetPosition() const override { return position_; }
    std::int64_t GetLength() const override { return position_; }
    Tolm::CUnicodeString GetFileName() const override { return Tolm::CUnicodeString::FromUtf8(name_); }

protected:
    std::string name_;
    std::unique_ptr<ByteStream> stream_;
    std::int64_t position_ = 0;

private:
    std::string direction_;  // "read" or "written"
};

class SequentialFile final : public OnceThroughFile {
public:
    SequentialFile(std::string name, std::unique_ptr<ByteStream> stream)
        : OnceThroughFile(std::move(name), std::move(stream), "read") {}

    int Read(void* buffer, int count) override {
        if (count < 0) Tolm::ThrowArgumentError("negative read count for " + inQuotes(name_));
        const std::size_t done = readFull(*stream_, static_cast<char*>(buffer),
                                          static_cast<std::size_t>(count), "cannot read " + inQuotes(name_));
        position_ += static_cast<std::int64_t>(done);
        return static_cast<int>(done);
    }
    void Write(const void*, int) override {
        throw ToolFailure(inQuotes(name_) + " is open for reading only");
    }
    void SetLength(std::int64_t) override {
        throw ToolFailure(inQuotes(name_) + " is open for reading only");
    }
};

class SequentialOutput final : public OnceThroughFile {
public:
    SequentialOutput(std::string name, std::unique_ptr<ByteStream> stream)
        : OnceThroughFile(std::move(name), std::move(stream), "written") {}

    int Read(void*, int) override { throw ToolFailure(inQuotes(name_) + " cannot be read"); }
    void Write(const void* buffer, int count) override {
        if (count < 0) Tolm::ThrowArgumentError("negative write count for " + inQuotes(name_));
        std::fflush(stdout);  // keep anything the tool printed first in front
        writeAll(*stream_, static_cast<const char*>(buffer), static_cast<std::size_t>(count),
                 "cannot write " + inQuotes(name_));
        position_ += count;
    }
    void SetLength(std::int64_t) override { throw ToolFailure(inQuotes(name_) + " cannot be cut"); }
};

std::unique_ptr<ByteStream> opened(const std::string& path, const std::string& failure,
                                   std::unique_ptr<ByteStream> (*open)(const std::string&)) {
    try {
        return open(path);
    } catch (const StreamRefusal& refusal) {
        throw ToolFailure(failure + ": " + refusal.what());
    }
}

}  // namespace

std::unique_ptr<Tolm::CBaseFile> MakeSequentialFile(std::string name, std::unique_ptr<ByteStream> stream) {
    return std::make_unique<SequentialFile>(std::move(name), std::move(stream));
}

std::unique_ptr<Tolm::CBaseFile> MakeSequentialOutput(std::string name, std::unique_ptr<ByteStream> stream) {
    return std::make_unique<SequentialOutput>(std::move(name), std::move(stream));
}

std::unique_ptr<Tolm::CBaseFile> OpenSequentialFile(const std::string& path) {
    const std::string name = path == "-" ? kStandardInputName : path;
    return MakeSequentialFile(name, opened(path, "cannot open " + inQuotes(name), OpenInputStream));
}

std::unique_ptr<Tolm::CBaseFile> OpenStandardOutput() {
    return MakeSequentialOutput("standard output", StandardOutputStream());
}

std::unique_ptr<Tolm::CBaseFile> OpenSequentialOutput(const std::string& path) {
    if (path == "-") return OpenStandardOutput();
    return MakeSequentialOutput(
        path, opened(path, "cannot open " + inQuotes(path) + " for writing", OpenOutputStream));
}

std::string ReadStandardInput() {
    const std::unique_ptr<ByteStream> input = StandardInputStream();
    const std::string failure = "cannot read " + inQuotes(kStandardInputName);
    std::string text;
    char buffer[1 << 14];
    for (std::size_t got; (got = readSome(*input, buffer, sizeof buffer, failure)) > 0;)
        text.append(buffer, got);
    return text;
}

void SpoolInput(ByteStream& input, ByteStream& spool, const std::string& folder) {
    const std::string readFailure = "cannot read " + inQuotes(kStandardInputName);
    const std::string writeFailure = "cannot write a temporary file in " + inQuotes(folder);
    std::vector<char> buffer(std::size_t{1} << 16);
    for (std::size_t got; (got = readSome(input, buffer.data(), buffer.size(), readFailure)) > 0;)
        writeAll(spool, buffer.data(), got, writeFailure);
}

}  // namespace gearset
