#include <Image/Streams.h>
#include <gtest/gtest.h>
#include <zstd.h>

#include <cstring>

#include "ImageTestSupport.h"

using namespace ImageTest;

namespace {

// PDF-like bytes, compressible but not trivially, or random ones.
Bytes sample(std::size_t size, bool isText = true, unsigned seed = 1) {
    return isText ? GearsetTest::PdfLikeBytes(size, seed) : GearsetTest::RandomBytes(size, seed);
}

// Reads a copy of some bytes, as the record store's source reads its buffer;
// counts the reads made after it has once come up short.
class CByteSource final : public Image::CReadImageStream {
public:
    void Point(const Bytes& bytes) { data_ = bytes, position_ = 0, ended_ = false; }
    void Reset() override { position_ = 0, ended_ = false; }
    int Read(void* target, int count) override {
        ++reads, readsAfterEnd += ended_ ? 1 : 0;
        const int n = Skip(count);
        if (n > 0) std::memcpy(target, data_.data() + position_ - n, static_cast<std::size_t>(n));
        ended_ = ended_ || n < count;
        return n;
    }
    int Skip(int count) override {
        const int n = std::min(count, static_cast<int>(data_.size()) - position_);
        return position_ += n, n;
    }
    Tolm::CUnicodeString GetName() const override { return u"ByteSource"; }
    int reads = 0, readsAfterEnd = 0;

private:
    Bytes data_;
    int position_ = 0;
    bool ended_ = false;
};

// The toolkit's two streams over one source, made once and reused for every
// pass, as the record store uses them.
class StreamsTest : public ::testing::Test {
protected:
    // A pass in pulls of `pull` bytes: all but the last are full, and a read
    // after the short one gives 0.
    Bytes pass(Image::CReadImageStream& stream, const Bytes& input, int pull) {
        source->Point(input);
        stream.Reset();
        Bytes out, chunk(static_cast<std::size_t>(pull));
        for (int got = pull; got == pull;) {
            got = stream.Read(chunk.data(), pull);
            EXPECT_LE(got, pull);
            out.insert(out.end(), chunk.begin(), chunk.begin() + std::clamp(got, 0, pull));
        }
        EXPECT_EQ(0, stream.Read(chunk.data(), pull)) << "a read after the end";
        return out;
    }
    Bytes compress(const Bytes& input, int pull = 4096) { return pass(*compressor, input, pull); }
    Bytes decompress(const Bytes& input, int pull = 4096) { return pass(*decompressor, input, pull); }

    Tolm::CPtr<Image::IStreamsToolkit> toolkit =
        Tolm::CreateObject<Image::IStreamsToolkit>(u"Image.StreamsToolkit");
    Tolm::CPtr<CByteSource> source{new CByteSource};
    Tolm::CPtr<Image::CReadImageStream> compressor = toolkit->CreateCompressingStream(source.Get());
    Tolm::CPtr<Image::CReadImageStream> decompressor = toolkit->CreateDecompressingStream(source.Get());
};

// Each pass gives one standard zstd frame, no larger than zstd's bound, and
// Skip counts what it passes over.
TEST_F(StreamsTest, RoundTripsEverySizeInEveryPullSize) {
    const std::pair<std::size_t, bool> cases[] = {{0, true},       {1, true},       {4095, true},
                                                  {4096, true},    {4097, true},    {131073, true},
                                                  {3 << 20, true}, {1 << 20, false}};
    for (const auto& [size, isText] : cases) {
        const Bytes input = sample(size, isText);
        for (int pull : {4096, 1, 7, 4097, 65536}) {
            if (pull < 64 && size > 200000) continue;  // a million one-byte calls prove nothing more
            SCOPED_TRACE(std::to_string(size) + " bytes in pulls of " + std::to_string(pull));
            const Bytes compressed = compress(input, pull);
            EXPECT_LE(compressed.size(), ZSTD_compressBound(size));
            EXPECT_EQ(input, decompress(compressed, pull));
            EXPECT_EQ(0, source->readsAfterEnd);
            Bytes plain(size + 1);
            plain.resize(ZSTD_decompress(plain.data(), plain.size(), compressed.data(), compressed.size()));
            EXPECT_EQ(input, plain);
            decompressor->Reset();
            EXPECT_EQ(static_cast<int>(size / 2), decompressor->Skip(static_cast<int>(size / 2)));
            EXPECT_EQ(static_cast<int>(size - size / 2), decompressor->Skip(1 << 30));
        }
        EXPECT_TRUE(!isText || compress(input).size() < size / 2 + 64);
    }
}

// The record store's source points at nothing between passes, so making and
// resetting the streams must not read it; and nothing of an abandoned pass
// may leak into the next.
TEST_F(StreamsTest, ResetNeverReadsTheSourceAndRestartsOnItsNewContent) {
    for (auto* stream : {compressor.Get(), decompressor.Get(), compressor.Get()}) stream->Reset();
    EXPECT_EQ(0, source->reads);
    const Bytes first = sample(200000), second = sample(5000, true, 2);
    const Bytes firstCompressed = compress(first), secondCompressed = compress(second);
    Bytes chunk(4096);
    for (auto* stream : {compressor.Get(), decompressor.Get()}) {
        source->Point(stream == compressor.Get() ? first : firstCompressed);
        stream->Reset();
        ASSERT_EQ(4096, stream->Read(chunk.data(), 4096));
    }
    const int reads = source->reads;
    for (auto* stream : {compressor.Get(), decompressor.Get()}) stream->Reset();
    EXPECT_EQ(reads, source->reads);
    EXPECT_EQ(secondCompressed, compress(second));
    EXPECT_EQ(second, decompress(secondCompressed));
}

// Every cut of a small frame, some of a large one, changed bytes and junk
// after the frame: an archive error naming the source, no read past its end,
// and the stream stays failed until the next Reset.
TEST_F(StreamsTest, DamagedOrTruncatedInputThrowsAnArchiveErrorAndStopsAtTheSourcesEnd) {
    std::vector<Bytes> cases;
    Bytes chunk(1);
    for (const Bytes& good : {compress(sample(3000)), compress(sample(300000))}) {
        const std::size_t step = good.size() < 2000 ? 1 : good.size() / 7;
        for (std::size_t keep = 0; keep < good.size(); keep += step)
            cases.emplace_back(good.begin(), good.begin() + static_cast<long>(keep));
        cases.emplace_back(good.begin(), good.end() - 1);
        for (std::size_t at : {std::size_t{0}, std::size_t{6}, good.size() / 3, good.size() - 2}) {
            cases.push_back(good);
            cases.back()[at] ^= 0x5A;
        }
        cases.push_back(good);
        cases.back().insert(cases.back().end(), {'j', 'u', 'n', 'k', '!', '!', '!', '!'});
    }
    for (std::size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE("case " + std::to_string(i) + " of " + std::to_string(cases[i].size()) + " bytes");
        source->readsAfterEnd = 0;
        std::string message;
        EXPECT_EQ(Kind::archive, thrownKind([&] { decompress(cases[i]); }, &message)) << message;
        EXPECT_NE(std::string::npos, message.find("ByteSource")) << message;
        EXPECT_EQ(Kind::archive, thrownKind([&] { decompressor->Read(chunk.data(), 1); }));
        EXPECT_EQ(0, source->readsAfterEnd);
    }
    EXPECT_EQ(sample(3000), decompress(compress(sample(3000))));
}

// A frame header may ask for a window of any size; the decompressor refuses
// more than its own frames use instead of allocating it. The frame: magic,
// descriptor 0 (no size, no checksum), window 2^(10 + byte 5 / 8), and one
// last raw block of "abc".
TEST_F(StreamsTest, AFrameAskingForAHugeWindowIsRefused) {
    Bytes frame = {0x28, 0xB5, 0x2F, 0xFD, 0x00, 0x00, 0x19, 0x00, 0x00, 'a', 'b', 'c'};
    EXPECT_EQ(Bytes({'a', 'b', 'c'}), decompress(frame));
    frame[5] = 16 << 3;  // 64 MiB, which zstd itself still accepts by default
    Bytes plain(3);
    ASSERT_EQ(3u, ZSTD_decompress(plain.data(), plain.size(), frame.data(), frame.size()));
    EXPECT_EQ(Kind::archive, thrownKind([&] { decompress(frame); }));
}

}  // namespace
