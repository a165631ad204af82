// Helpers of the image library's tests: the kind of a thrown framework
// exception, a recorder of internal-error reports, a source stream over a
// byte array and a file whose writes fail on demand.
#pragma once

#include <Image/Streams.h>
#include <Tolm/Error.h>
#include <Tolm/File.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace ImageTest {

using Bytes = std::vector<unsigned char>;

// The kind of the CException that call throws, or none; the message goes to
// *message when given.
template <class F>
std::optional<Tolm::CException::Kind> thrownKind(F&& call, std::string* message = nullptr) {
    try {
        call();
    } catch (Tolm::CException* error) {
        const auto kind = error->GetKind();
        if (message) *message = error->GetMessage();
        error->Delete();
        return kind;
    }
    return std::nullopt;
}

class ReportRecorder {
public:
    ReportRecorder() : previous_(Tolm::SetInternalErrorHandler(&record)) { reports().clear(); }
    ~ReportRecorder() { Tolm::SetInternalErrorHandler(previous_); }
    ReportRecorder(const ReportRecorder&) = delete;
    ReportRecorder& operator=(const ReportRecorder&) = delete;

    static std::vector<Tolm::InternalErrorReport>& reports() {
        static std::vector<Tolm::InternalErrorReport> all;
        return all;
    }
    int count() const { return static_cast<int>(reports().size()); }

private:
    static bool record(const Tolm::InternalErrorReport& report) {
        reports().push_back(report);
        return false;
    }
    Tolm::InternalErrorHandler previous_;
};

// Reads a byte array in place, as the record store's source does; counts the
// reads made after it has once come up short.
class CByteSource final : public Image::CReadImageStream {
public:
    void Point(const unsigned char* data, std::size_t size) {
        data_ = data;
        size_ = static_cast<int>(size);
        position_ = 0;
        ended_ = false;
    }
    void Point(const Bytes& bytes) { Point(bytes.data(), bytes.size()); }

    void Reset() override {
        position_ = 0;
        ended_ = false;
    }
    int Read(void* target, int count) override {
        ++reads;
        if (ended_) ++readsAfterEnd;
        const int n = std::min(count, size_ - position_);
        if (n > 0) std::memcpy(target, data_ + position_, static_cast<std::size_t>(n));
        position_ += n;
        if (n < count) ended_ = true;
        return n;
    }
    int Skip(int count) override {
        const int n = std::min(count, size_ - position_);
        position_ += n;
        return n;
    }
    Tolm::CUnicodeString GetName() const override { return u"ByteSource"; }

    int reads = 0;
    int readsAfterEnd = 0;

private:
    const unsigned char* data_ = nullptr;
    int size_ = 0;
    int position_ = 0;
    bool ended_ = false;
};

// A memory file whose writes fail once writesBeforeFailure writes have gone.
class CFailingFile final : public Tolm::CBaseFile {
public:
    explicit CFailingFile(int writesBeforeFailure) : writesLeft_(writesBeforeFailure) {}
    int Read(void* buffer, int count) override { return inner_.Read(buffer, count); }
    void Write(const void* buffer, int count) override {
        if (writesLeft_-- <= 0)
            Tolm::ThrowFileError("cannot write 'failing file': No space left on device", 28);
        inner_.Write(buffer, count);
    }
    std::int64_t Seek(std::int64_t offset, int origin) override { return inner_.Seek(offset, origin); }
    std::int64_t GetPosition() const override { return inner_.GetPosition(); }
    std::int64_t GetLength() const override { return inner_.GetLength(); }
    void SetLength(std::int64_t length) override { inner_.SetLength(length); }

private:
    Tolm::CMemoryFile inner_;
    int writesLeft_;
};

inline Bytes contentOf(const Tolm::CMemoryFile& file) {
    const auto* data = file.GetData();
    return data ? Bytes(data, data + file.GetLength()) : Bytes();
}

}  // namespace ImageTest
