#include <Image/Streams.h>
#include <Tolm/Error.h>

#include "ImageInternal.h"

#define ZSTD_STATIC_LINKING_ONLY  // ZSTD_customMem: contexts on the framework heap
#include <zstd.h>

#include <memory>
#include <string>

namespace Image {

CReadImageStream::~CReadImageStream() = default;
IStreamsToolkit::~IStreamsToolkit() = default;

namespace {

// Level 1 is zstd's fastest level that still searches for matches properly.
// The negative "fast" levels only pay off when level 1 misses the speed goal;
// on PDF content streams level 1 compresses at several hundred MB/s while
// keeping a clearly better ratio, and the store writes every byte it saves.
constexpr int kCompressionLevel = 1;
// A checksum in every frame: the store keeps no other check on its records,
// and a damaged record must fail loudly rather than come back wrong.
constexpr int kChecksumFlag = 1;
// Frames of kCompressionLevel use a window of at most 2^19 bytes; a damaged
// header that asks for more than 2^23 is refused instead of allocated.
constexpr int kMaxWindowLog = 23;
// Scratch for Skip.
constexpr int kSkipChunkBytes = 4096;

void* allocateForZstd(void*, size_t bytes) { return detail::allocateForC(bytes); }
void freeForZstd(void*, void* block) { Tolm::doFree(block); }
constexpr ZSTD_customMem kFrameworkHeap = {allocateForZstd, freeForZstd, nullptr};

void checkReadArguments(const void* target, int size, const char* streamName) {
    if (size < 0) {
        Tolm::ThrowArgumentError(std::string(streamName) + ": negative read size " + std::to_string(size));
    }
    if (!target && size > 0) Tolm::ThrowArgumentError(std::string(streamName) + ": read into a null buffer");
}

// Skip through Read: both streams must produce the bytes to know how many
// there are.
int skipByReading(CReadImageStream& stream, int count) {
    unsigned char scratch[kSkipChunkBytes];
    int skipped = 0;
    while (skipped < count) {
        const int wanted = count - skipped < kSkipChunkBytes ? count - skipped : kSkipChunkBytes;
        const int got = stream.Read(scratch, wanted);
        skipped += got;
        if (got < wanted) break;
    }
    return skipped;
}

// What both streams share: the source, a buffer of its bytes, and the rule
// that the source is never asked again once it has come up short.
class CZstdStreamBase : public CReadImageStream {
public:
    CZstdStreamBase(CReadImageStream* source, std::size_t inputBytes, const char* role)
        : source_(source), input_(inputBytes), role_(role) {
        if (!source)
            Tolm::ThrowArgumentError(std::string("StreamsToolkit: no source for the ") + role + " stream");
    }

    int Skip(int count) override { return count <= 0 ? 0 : skipByReading(*this, count); }

protected:
    // Refills the input buffer from the source. Only called when the buffer
    // is used up and the source has not ended.
    void refillInput() {
        const int capacity = static_cast<int>(input_.GetSize());
        const int got = source_->Read(input_.Get(), capacity);
        if (got < 0 || got > capacity) {
            fail("the source " + source_->GetName().ToUtf8() + " returned " + std::to_string(got) +
                 " for a read of " + std::to_string(capacity));
        }
        in_ = {input_.Get(), static_cast<std::size_t>(got), 0};
        sourceEnded_ = got < capacity;
    }

    void restart() {
        source_->Reset();
        in_ = {input_.Get(), 0, 0};
        sourceEnded_ = false;
        failure_.clear();
    }

    bool isInputUsedUp() const noexcept { return in_.pos == in_.size; }

    // A failed stream stays failed until Reset: its codec state is undefined.
    void checkNotFailed() const {
        if (!failure_.empty()) Tolm::ThrowArchiveError(failure_ + " (the stream needs Reset)");
    }
    [[noreturn]] void fail(const std::string& what) {
        failure_ = role_ + std::string(" stream over ") + source_->GetName().ToUtf8() + ": " + what;
        Tolm::ThrowArchiveError(failure_);
    }
    size_t checkZstd(size_t result) {
        if (ZSTD_isError(result)) fail(ZSTD_getErrorName(result));
        return result;
    }

    Tolm::CPtr<CReadImageStream> source_;
    detail::HeapBlock input_;
    ZSTD_inBuffer in_{input_.Get(), 0, 0};
    bool sourceEnded_ = false;

private:
    const char* role_;
    std::string failure_;
};

class CCompressingStream final : public CZstdStreamBase {
public:
    explicit CCompressingStream(CReadImageStream* source)
        : CZstdStreamBase(source, ZSTD_CStreamInSize(), "compressing"),
          context_(ZSTD_createCCtx_advanced(kFrameworkHeap), ZSTD_freeCCtx) {
        if (!context_) Tolm::ThrowMemoryError(ZSTD_estimateCCtxSize(kCompressionLevel));
        checkZstd(ZSTD_CCtx_setParameter(context_.get(), ZSTD_c_compressionLevel, kCompressionLevel));
        checkZstd(ZSTD_CCtx_setParameter(context_.get(), ZSTD_c_checksumFlag, kChecksumFlag));
    }
    CCompressingStream(const CCompressingStream&) = delete;
    CCompressingStream& operator=(const CCompressingStream&) = delete;

    void Reset() override {
        ZSTD_CCtx_reset(context_.get(), ZSTD_reset_session_only);
        restart();
        frameEnded_ = false;
    }

    // Compresses straight into the caller's buffer. The frame is closed once
    // the source has ended and all its bytes are in; when the whole source
    // fits the first input buffer, zstd then sees its size up front and picks
    // tables to suit.
    int Read(void* target, int size) override {
        checkReadArguments(target, size, "compressing stream");
        checkNotFailed();
        ZSTD_outBuffer out{target, static_cast<std::size_t>(size), 0};
        while (out.pos < out.size && !frameEnded_) {
            if (isInputUsedUp() && !sourceEnded_) refillInput();
            const bool lastInput = sourceEnded_ && isInputUsedUp();
            const size_t toFlush = checkZstd(
                ZSTD_compressStream2(context_.get(), &out, &in_, lastInput ? ZSTD_e_end : ZSTD_e_continue));
            if (lastInput && toFlush == 0) frameEnded_ = true;
        }
        return static_cast<int>(out.pos);
    }

    Tolm::CUnicodeString GetName() const override { return u"ZstdCompressingStream"; }

private:
    std::unique_ptr<ZSTD_CCtx, size_t (*)(ZSTD_CCtx*)> context_;
    bool frameEnded_ = false;
};

class CDecompressingStream final : public CZstdStreamBase {
public:
    explicit CDecompressingStream(CReadImageStream* source)
        : CZstdStreamBase(source, ZSTD_DStreamInSize(), "decompressing"),
          context_(ZSTD_createDCtx_advanced(kFrameworkHeap), ZSTD_freeDCtx) {
        if (!context_) Tolm::ThrowMemoryError(ZSTD_estimateDCtxSize());
        checkZstd(ZSTD_DCtx_setParameter(context_.get(), ZSTD_d_windowLogMax, kMaxWindowLog));
    }
    CDecompressingStream(const CDecompressingStream&) = delete;
    CDecompressingStream& operator=(const CDecompressingStream&) = delete;

    void Reset() override {
        ZSTD_DCtx_reset(context_.get(), ZSTD_reset_session_only);
        restart();
        frameOpen_ = false;
        sawInput_ = false;
        ended_ = false;
    }

    // The input ends cleanly only between frames. Consecutive frames are
    // taken as one stream, as zstd itself does; anything after the last frame
    // that is not a frame is damage. A source with no bytes at all is a
    // record cut to nothing, since even empty content compresses to a frame.
    int Read(void* target, int size) override {
        checkReadArguments(target, size, "decompressing stream");
        checkNotFailed();
        ZSTD_outBuffer out{target, static_cast<std::size_t>(size), 0};
        while (out.pos < out.size && !ended_) {
            if (isInputUsedUp() && !sourceEnded_) {
                refillInput();
                if (in_.size > 0) sawInput_ = true;
                continue;
            }
            if (isInputUsedUp() && !frameOpen_) {
                if (!sawInput_) fail("no compressed data");
                ended_ = true;
                break;
            }
            // With the input used up, this call only flushes what zstd holds.
            const std::size_t before = out.pos;
            frameOpen_ = checkZstd(ZSTD_decompressStream(context_.get(), &out, &in_)) != 0;
            if (frameOpen_ && sourceEnded_ && isInputUsedUp() && out.pos == before) {
                fail("the compressed data ends inside a frame");
            }
        }
        return static_cast<int>(out.pos);
    }

    Tolm::CUnicodeString GetName() const override { return u"ZstdDecompressingStream"; }

private:
    std::unique_ptr<ZSTD_DCtx, size_t (*)(ZSTD_DCtx*)> context_;
    bool frameOpen_ = false;
    bool sawInput_ = false;
    bool ended_ = false;
};

class CStreamsToolkit final : public IStreamsToolkit {
public:
    Tolm::CPtr<CReadImageStream> CreateCompressingStream(CReadImageStream* source) override {
        return Tolm::CPtr<CReadImageStream>(new CCompressingStream(source));
    }
    Tolm::CPtr<CReadImageStream> CreateDecompressingStream(CReadImageStream* source) override {
        return Tolm::CPtr<CReadImageStream>(new CDecompressingStream(source));
    }
};

Tolm::IObject* createStreamsToolkit() { return new CStreamsToolkit; }

const Tolm::CClassRegistration registerStreamsToolkit(u"Image.StreamsToolkit", createStreamsToolkit);

}  // namespace
}  // namespace Image
