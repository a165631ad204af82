#include <Tolm/Archive.h>

#include "LittleEndian.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <limits>
#include <typeinfo>

namespace Tolm {

namespace {

// A buffer larger than this gains nothing and would let a caller's slip
// allocate without bound.
constexpr int kMaxArchiveBufferBytes = 1 << 20;

std::string hex32(std::uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", value);
    return text;
}

}  // namespace

// Counts one level of object nesting for the life of a WriteObject/ReadObject.
class CArchive::DepthGuard {
public:
    explicit DepthGuard(CArchive& archive) : archive_(archive) {
        if (archive_.depth_ >= kMaxObjectDepth) {
            archive_.fail("objects nested more than " + std::to_string(kMaxObjectDepth) +
                          " deep (a cycle of objects, or a corrupted archive)");
        }
        ++archive_.depth_;
    }
    ~DepthGuard() { --archive_.depth_; }
    DepthGuard(const DepthGuard&) = delete;
    DepthGuard& operator=(const DepthGuard&) = delete;

private:
    CArchive& archive_;
};

CArchive::CArchive(CBaseFile* file, int direction, int bufferSize)
    : file_(file), direction_(direction), bufferSize_(std::min(bufferSize, kMaxArchiveBufferBytes)) {
    if (file == nullptr) ThrowArgumentError("archive without a file");
    if (direction != load && direction != store) {
        ThrowArgumentError("archive direction " + std::to_string(direction) +
                           " is neither load (1) nor store (2)");
    }
    if (bufferSize < 1)
        ThrowArgumentError("archive buffer size " + std::to_string(bufferSize) + " is not positive");
    buffer_ = static_cast<unsigned char*>(doAlloc(static_cast<std::size_t>(bufferSize_)));
}

CArchive::~CArchive() {
    try {
        Close();
    } catch (CException* error) {
        error->Delete();
    }
    doFree(buffer_);
}

void CArchive::fail(const std::string& what) const {
    std::string message = "archive in '";
    message.append(file_->GetFileName().ToUtf8()).append("', offset ").append(std::to_string(offset()));
    ThrowArchiveError(message.append(": ").append(what));
}

std::int64_t CArchive::offset() const noexcept {
    return bufferOffset_ + (direction_ == load ? bufferPos_ : bufferUsed_);
}

void CArchive::checkUsable(int wantedDirection, const char* operation) const {
    if (closed_) ThrowArchiveError(std::string("archive is closed: cannot ") + operation);
    if (direction_ != wantedDirection) {
        ThrowArchiveError(std::string("archive is ") + (direction_ == load ? "loading" : "storing") +
                          ": cannot " + operation);
    }
}

void CArchive::checkAvailable(std::uint64_t bytes, const char* what) {
    const std::int64_t inBuffer = bufferUsed_ - bufferPos_;
    if (bytes <= static_cast<std::uint64_t>(inBuffer)) return;
    const std::int64_t inFile = std::max<std::int64_t>(0, file_->GetLength() - file_->GetPosition());
    const std::uint64_t available = static_cast<std::uint64_t>(inBuffer + inFile);
    if (bytes > available) {
        fail(std::string(what) + " of " + std::to_string(bytes) + " bytes, but only " +
             std::to_string(available) + " are left (truncated or corrupted)");
    }
}

// --- raw bytes ---------------------------------------------------------------

void CArchive::fill() {
    bufferOffset_ += bufferUsed_;
    bufferPos_ = bufferUsed_ = 0;
    bufferUsed_ = file_->Read(buffer_, bufferSize_);
}

void CArchive::Write(const void* bytes, int count) {
    checkUsable(store, "write");
    if (count < 0) ThrowArgumentError("negative byte count " + std::to_string(count) + " for an archive");
    if (count == 0) return;
    if (bytes == nullptr) ThrowArgumentError("no bytes to write to the archive");
    const auto* source = static_cast<const unsigned char*>(bytes);
    if (count <= bufferSize_ - bufferUsed_) {
        std::memcpy(buffer_ + bufferUsed_, source, static_cast<std::size_t>(count));
        bufferUsed_ += count;
        return;
    }
    Flush();
    if (count >= bufferSize_) {
        file_->Write(source, count);
        bufferOffset_ += count;
        return;
    }
    std::memcpy(buffer_, source, static_cast<std::size_t>(count));
    bufferUsed_ = count;
}

void CArchive::Read(void* bytes, int count) {
    checkUsable(load, "read");
    if (count < 0) ThrowArgumentError("negative byte count " + std::to_string(count) + " for an archive");
    if (count == 0) return;
    if (bytes == nullptr) ThrowArgumentError("no buffer to read the archive into");
    auto* target = static_cast<unsigned char*>(bytes);
    while (count > 0) {
        if (bufferPos_ == bufferUsed_) {
            if (count >= bufferSize_) {
                // Straight into the caller's bytes; the buffer is empty.
                bufferOffset_ += bufferUsed_;
                bufferPos_ = bufferUsed_ = 0;
                const int got = file_->Read(target, count);
                bufferOffset_ += got;
                if (got < count) {
                    fail("unexpected end of data: " + std::to_string(count - got) + " more bytes wanted");
                }
                return;
            }
            fill();
            if (bufferUsed_ == 0)
                fail("unexpected end of data: " + std::to_string(count) + " more bytes wanted");
        }
        const int n = std::min(count, bufferUsed_ - bufferPos_);
        std::memcpy(target, buffer_ + bufferPos_, static_cast<std::size_t>(n));
        bufferPos_ += n;
        target += n;
        count -= n;
    }
}

void CArchive::Flush() {
    if (closed_ || direction_ != store || bufferUsed_ == 0) return;
    file_->Write(buffer_, bufferUsed_);
    bufferOffset_ += bufferUsed_;
    bufferUsed_ = 0;
}

void CArchive::Close() {
    if (closed_) return;
    if (direction_ == store) {
        Flush();
    } else if (bufferPos_ < bufferUsed_) {
        // Give back what was read ahead, so that the file stands just past
        // the archive's data.
        file_->Seek(-static_cast<std::int64_t>(bufferUsed_ - bufferPos_), CBaseFile::current);
        bufferUsed_ = bufferPos_;
    }
    closed_ = true;
}

// --- values ------------------------------------------------------------------

void CArchive::writeU32(std::uint32_t value) {
    unsigned char bytes[4];
    detail::storeLittleEndian32(value, bytes);
    Write(bytes, 4);
}

void CArchive::writeU64(std::uint64_t value) {
    writeU32(static_cast<std::uint32_t>(value));
    writeU32(static_cast<std::uint32_t>(value >> 32));
}

std::uint32_t CArchive::readU32() {
    unsigned char bytes[4];
    Read(bytes, 4);
    return detail::loadLittleEndian32(bytes);
}

std::uint64_t CArchive::readU64() {
    const std::uint64_t low = readU32();
    return low | static_cast<std::uint64_t>(readU32()) << 32;
}

CArchive& CArchive::operator<<(std::int32_t value) {
    writeU32(static_cast<std::uint32_t>(value));
    return *this;
}
CArchive& CArchive::operator<<(std::uint32_t value) {
    writeU32(value);
    return *this;
}
CArchive& CArchive::operator<<(std::int64_t value) {
    writeU64(static_cast<std::uint64_t>(value));
    return *this;
}
CArchive& CArchive::operator<<(double value) {
    std::uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    writeU64(bits);
    return *this;
}
CArchive& CArchive::operator<<(bool value) {
    const unsigned char byte = value ? 1 : 0;
    Write(&byte, 1);
    return *this;
}

CArchive& CArchive::operator<<(const CUnicodeString& value) {
    const int count = value.GetLength();
    writeU32(static_cast<std::uint32_t>(count));
    const char16_t* units = value.GetString();
    unsigned char chunk[512];
    for (int done = 0; done < count;) {
        const int n = std::min(count - done, static_cast<int>(sizeof chunk / 2));
        for (int i = 0; i < n; ++i) {
            chunk[2 * i] = static_cast<unsigned char>(units[done + i]);
            chunk[2 * i + 1] = static_cast<unsigned char>(units[done + i] >> 8);
        }
        Write(chunk, 2 * n);
        done += n;
    }
    return *this;
}

CArchive& CArchive::operator<<(const CString& value) {
    writeU32(static_cast<std::uint32_t>(value.GetLength()));
    Write(value.GetString(), value.GetLength());
    return *this;
}

CArchive& CArchive::operator>>(std::int32_t& value) {
    value = static_cast<std::int32_t>(readU32());
    return *this;
}
CArchive& CArchive::operator>>(std::uint32_t& value) {
    value = readU32();
    return *this;
}
CArchive& CArchive::operator>>(std::int64_t& value) {
    value = static_cast<std::int64_t>(readU64());
    return *this;
}
CArchive& CArchive::operator>>(double& value) {
    const std::uint64_t bits = readU64();
    std::memcpy(&value, &bits, sizeof value);
    return *this;
}
CArchive& CArchive::operator>>(bool& value) {
    unsigned char byte;
    Read(&byte, 1);
    if (byte > 1) fail("a boolean holds " + std::to_string(byte) + ", not 0 or 1 (corrupted)");
    value = byte == 1;
    return *this;
}

CArchive& CArchive::operator>>(CUnicodeString& value) {
    const std::uint32_t count = readU32();
    if (count > static_cast<std::uint32_t>(std::numeric_limits<int>::max() / 2)) {
        fail("a text of " + std::to_string(count) + " units is too long (corrupted)");
    }
    checkAvailable(2ull * count, "a text");
    CUnicodeString text;
    text.SetBufferLength(static_cast<int>(count));
    char16_t* units = text.GetBuffer();
    Read(units, static_cast<int>(2 * count));
    // The units arrived as little-endian byte pairs; decode them in place.
    const auto* raw = reinterpret_cast<const unsigned char*>(units);
    for (std::uint32_t i = 0; i < count; ++i) {
        units[i] = static_cast<char16_t>(raw[2 * i] | raw[2 * i + 1] << 8);
    }
    text.ReleaseBuffer(static_cast<int>(count));
    value = std::move(text);
    return *this;
}

CArchive& CArchive::operator>>(CString& value) {
    const std::uint32_t count = readU32();
    if (count > static_cast<std::uint32_t>(std::numeric_limits<int>::max())) {
        fail("a byte string of " + std::to_string(count) + " bytes is too long (corrupted)");
    }
    checkAvailable(count, "a byte string");
    if (count == 0) {
        value = CString();
        return *this;
    }
    auto* bytes = static_cast<char*>(doAlloc(count));
    try {
        Read(bytes, static_cast<int>(count));
        value = CString(bytes, static_cast<int>(count));
    } catch (...) {
        doFree(bytes);
        throw;
    }
    doFree(bytes);
    return *this;
}

// --- objects -----------------------------------------------------------------

void CArchive::WriteObject(const IObject* object) {
    checkUsable(store, "write an object");
    if (object == nullptr) {
        writeU32(kObjectMagic);
        writeU32(0);
        return;
    }
    const auto* serializable = dynamic_cast<const ISerializable*>(object);
    if (serializable == nullptr) {
        fail(std::string("an object of type ") + typeid(*object).name() + " is not serialisable");
    }
    const std::string name = serializable->GetSerialClassName().ToUtf8();
    if (name.empty() || name.size() > kMaxClassNameBytes) {
        fail("class name '" + name + "' is empty or longer than " + std::to_string(kMaxClassNameBytes) +
             " bytes");
    }
    DepthGuard nesting(*this);
    writeU32(kObjectMagic);
    writeU32(static_cast<std::uint32_t>(name.size()));
    Write(name.data(), static_cast<int>(name.size()));
    // Storing reads the object's state only; Serialize is one member for both
    // directions, hence not const.
    const_cast<ISerializable*>(serializable)->Serialize(*this);
}

CPtr<IObject> CArchive::ReadObject() {
    checkUsable(load, "read an object");
    const std::uint32_t magic = readU32();
    if (magic != kObjectMagic)
        fail("found " + hex32(magic) + " where an object marker " + hex32(kObjectMagic) + " belongs");
    const std::uint32_t nameBytes = readU32();
    if (nameBytes == 0) return {};
    if (nameBytes > kMaxClassNameBytes) {
        fail("class name of " + std::to_string(nameBytes) + " bytes is longer than " +
             std::to_string(kMaxClassNameBytes) + " (corrupted)");
    }
    char name[kMaxClassNameBytes];
    Read(name, static_cast<int>(nameBytes));
    const CUnicodeString className = CUnicodeString::FromUtf8(std::string_view(name, nameBytes));
    if (!IsClassRegistered(className)) fail("unknown class '" + className.ToUtf8() + "'");
    CPtr<IObject> object = DoCreateObject(className);
    if (!object) fail("class '" + className.ToUtf8() + "' made no object");
    ISerializable* serializable = dynamic_cast<ISerializable*>(object.Get());
    if (serializable == nullptr) fail("class '" + className.ToUtf8() + "' is not serialisable");
    DepthGuard nesting(*this);
    serializable->Serialize(*this);
    return object;
}

}  // namespace Tolm
