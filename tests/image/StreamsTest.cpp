#include <Image/Streams.h>
#include <gtest/gtest.h>
#include <zstd.h>

#include <cstdio>
#include <random>
#include <string>

#include "ImageTestSupport.h"

using ImageTest::Bytes;
using ImageTest::CByteSource;
using ImageTest::thrownKind;
using Tolm::CException;

namespace {

// PDF-like text: compressible, but not trivially.
Bytes pdfText(std::size_t size, unsigned seed = 1) {
    std::mt19937 engine(seed);
    auto random = [&engine] { return static_cast<unsigned>(engine()); };
    std::string text;
    char line[96];
    while (text.size() < size) {
        std::snprintf(line, sizeof line, "BT /F%u %u Tf %u %u Td (Hello %u) Tj ET\n", random() % 4 + 1,
                      random() % 20 + 6, random() % 600, random() % 800, random() % 100000);
        text += line;
    }
    return Bytes(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(size));
}

Bytes randomBytes(std::size_t size, unsigned seed = 7) {
    std::mt19937 random(seed);
    Bytes bytes(size);
    for (auto& byte : bytes) byte = static_cast<unsigned char>(random());
    return bytes;
}

// The toolkit's two streams over one source, made once and reused for every
// pass, as the record store uses them.
class StreamsTest : public ::testing::Test {
protected:
    StreamsTest() {
        auto toolkit = Tolm::CreateObject<Image::IStreamsToolkit>(u"Image.StreamsToolkit");
        source = Tolm::CPtr<CByteSource>(new CByteSource);
        compressor = toolkit->CreateCompressingStream(source.Get());
        decompressor = toolkit->CreateDecompressingStream(source.Get());
    }

    // Everything the stream delivers in pulls of `pull` bytes. Every pull but
    // the last must be full, and a read after the short one gives 0.
    Bytes drain(Image::CReadImageStream& stream, int pull) {
        Bytes out;
        Bytes chunk(static_cast<std::size_t>(pull));
        for (;;) {
            const int got = stream.Read(chunk.data(), pull);
            EXPECT_GE(got, 0);
            EXPECT_LE(got, pull);
            out.insert(out.end(), chunk.begin(), chunk.begin() + got);
            if (got < pull) break;
        }
        EXPECT_EQ(0, stream.Read(chunk.data(), pull)) << "a read after the end";
        return out;
    }
    Bytes pass(Image::CReadImageStream& stream, const Bytes& input, int pull) {
        source->Point(input);
        stream.Reset();
        Bytes out = drain(stream, pull);
        source->Point(nullptr, 0);
        return out;
    }
    Bytes compress(const Bytes& input, int pull = 4096) { return pass(*compressor, input, pull); }
    Bytes decompress(const Bytes& input, int pull = 4096) { return pass(*decompressor, input, pull); }

    Tolm::CPtr<CByteSource> source;
    Tolm::CPtr<Image::CReadImageStream> compressor;
    Tolm::CPtr<Image::CReadImageStream> decompressor;
};

TEST_F(StreamsTest, RoundTripsEverySizeInEveryPullSize) {
    struct Case {
        const char* what;
        Bytes input;
    };
    const Case cases[] = {
        {"empty", {}},
        {"one byte", {0x42}},
        {"4095 bytes", pdfText(4095)},
        {"4096 bytes", pdfText(4096)},
        {"4097 bytes", pdfText(4097)},
        {"128 KiB + 1", pdfText(128 * 1024 + 1)},
        {"3 MiB of text", pdfText(3 << 20, 3)},
        {"1 MiB incompressible", randomBytes(1 << 20)},
    };
    for (const Case& c : cases) {
        for (int pull : {4096, 1, 7, 4097, 65536}) {
            if (pull < 64 && c.input.size() > 200000)
                continue;  // a million one-byte calls prove nothing more
            SCOPED_TRACE(std::string(c.what) + ", pulls of " + std::to_string(pull));
            const Bytes compressed = compress(c.input, pull);
            ASSERT_FALSE(compressed.empty());
            EXPECT_EQ(c.input, decompress(compressed, pull));
            EXPECT_EQ(0, source->readsAfterEnd);
        }
    }
}

TEST_F(StreamsTest, OutputIsOneStandardZstdFrame) {
    const Bytes input = pdfText(300000);
    const Bytes compressed = compress(input);
    EXPECT_LT(compressed.size(), input.size() / 3);
    Bytes plain(input.size());
    EXPECT_EQ(input.size(),
              ZSTD_decompress(plain.data(), plain.size(), compressed.data(), compressed.size()));
    EXPECT_EQ(input, plain);

    // And frames made elsewhere, several in a row, decompress as one stream.
    Bytes frames(ZSTD_compressBound(input.size()));
    frames.resize(ZSTD_compress(frames.data(), frames.size(), input.data(), input.size(), 3));
    const Bytes twice = [&] {
        Bytes both = frames;
        both.insert(both.end(), frames.begin(), frames.end());
        return both;
    }();
    Bytes expected = input;
    expected.insert(expected.end(), input.begin(), input.end());
    EXPECT_EQ(expected, decompress(twice));
}

TEST_F(StreamsTest, IncompressibleInputGrowsOnlyByFraming) {
    const Bytes input = randomBytes(1 << 20, 11);
    const Bytes compressed = compress(input);
    EXPECT_LE(compressed.size(), ZSTD_compressBound(input.size()));
    EXPECT_EQ(input, decompress(compressed));
}

TEST_F(StreamsTest, ResetRestartsOnTheSourcesNewContentEvenMidStream) {
    const Bytes first = pdfText(200000, 1);
    const Bytes second = pdfText(5000, 2);
    const Bytes expected = compress(second);

    // Abandon a pass half way through, re-point, reset: nothing of the first
    // pass may leak into the second.
    source->Point(first);
    compressor->Reset();
    Bytes chunk(4096);
    ASSERT_EQ(4096, compressor->Read(chunk.data(), 4096));
    EXPECT_EQ(expected, compress(second));

    const Bytes firstCompressed = compress(first);
    source->Point(firstCompressed);
    decompressor->Reset();
    ASSERT_EQ(4096, decompressor->Read(chunk.data(), 4096));
    EXPECT_EQ(second, decompress(expected));
}

// The record store's source may not be read between passes, when it points
// at nothing: making and resetting the streams must leave it alone.
TEST_F(StreamsTest, CreationAndResetNeverReadTheSource) {
    for (int i = 0; i < 3; ++i) {
        compressor->Reset();
        decompressor->Reset();
    }
    EXPECT_EQ(0, source->reads);
    compress(pdfText(100));
    const int readsOfAPass = source->reads;
    compressor->Reset();
    decompressor->Reset();
    EXPECT_EQ(readsOfAPass, source->reads);
}

TEST_F(StreamsTest, SkipCountsTheBytesItPassesOver) {
    const Bytes input = pdfText(10000);
    const Bytes compressed = compress(input);
    source->Point(compressed);
    decompressor->Reset();
    EXPECT_EQ(0, decompressor->Skip(0));
    EXPECT_EQ(9000, decompressor->Skip(9000));
    Bytes rest(2000);
    ASSERT_EQ(1000, decompressor->Read(rest.data(), 2000));
    EXPECT_TRUE(std::equal(input.begin() + 9000, input.end(), rest.begin()));
    EXPECT_EQ(0, decompressor->Skip(5));

    source->Point(input);
    compressor->Reset();
    EXPECT_EQ(static_cast<int>(compressed.size()), compressor->Skip(1 << 20));
}

TEST_F(StreamsTest, DamagedOrTruncatedInputThrowsAnArchiveErrorAndStopsAtTheSourcesEnd) {
    const Bytes input = pdfText(300000);
    const Bytes good = compress(input);
    std::vector<std::pair<std::string, Bytes>> cases;
    cases.push_back({"nothing", {}});
    for (std::size_t keep :
         {std::size_t{1}, std::size_t{5}, good.size() / 2, good.size() - 4, good.size() - 1}) {
        cases.push_back(
            {"cut to " + std::to_string(keep), Bytes(good.begin(), good.begin() + static_cast<long>(keep))});
    }
    for (std::size_t at : {std::size_t{0}, std::size_t{6}, good.size() / 3, good.size() - 2}) {
        Bytes damaged = good;
        damaged[at] ^= 0x5A;
        cases.push_back({"byte " + std::to_string(at) + " changed", damaged});
    }
    Bytes trailing = good;
    trailing.insert(trailing.end(), {'j', 'u', 'n', 'k', '!', '!', '!', '!'});
    cases.push_back({"junk after the frame", trailing});

    for (const auto& [what, bytes] : cases) {
        SCOPED_TRACE(what);
        source->readsAfterEnd = 0;
        std::string message;
        const auto kind = thrownKind([&] { decompress(bytes); }, &message);
        ASSERT_TRUE(kind.has_value());
        EXPECT_EQ(CException::Kind::archive, *kind) << message;
        EXPECT_NE(std::string::npos, message.find("ByteSource")) << message;
        EXPECT_EQ(0, source->readsAfterEnd);
    }
}

// A frame header may ask for a window of any size; the decompressor refuses
// more than its own frames use instead of allocating it.
TEST_F(StreamsTest, AFrameAskingForAHugeWindowIsRefused) {
    ZSTD_CCtx* context = ZSTD_createCCtx();
    ZSTD_CCtx_setParameter(context, ZSTD_c_windowLog, 26);
    const Bytes input = pdfText(1000);
    Bytes frame(ZSTD_compressBound(input.size()) + 64);
    ZSTD_outBuffer out{frame.data(), frame.size(), 0};
    ZSTD_inBuffer in{input.data(), input.size(), 0};
    ZSTD_compressStream2(context, &out, &in, ZSTD_e_continue);  // size unknown when the header is made
    ZSTD_inBuffer none{nullptr, 0, 0};
    while (ZSTD_compressStream2(context, &out, &none, ZSTD_e_end) != 0) {
    }
    ZSTD_freeCCtx(context);
    frame.resize(out.pos);
    Bytes plain(input.size());
    ASSERT_EQ(input.size(), ZSTD_decompress(plain.data(), plain.size(), frame.data(), frame.size()));
    EXPECT_EQ(CException::Kind::archive, thrownKind([&] { decompress(frame); }));
}

TEST_F(StreamsTest, AFailedStreamStaysFailedUntilReset) {
    const Bytes input = pdfText(20000);
    Bytes damaged = compress(input);
    damaged[damaged.size() / 2] ^= 0xFF;
    source->Point(damaged);
    decompressor->Reset();
    Bytes chunk(1 << 16);
    EXPECT_TRUE(thrownKind([&] { decompressor->Read(chunk.data(), 1 << 16); }).has_value());
    EXPECT_EQ(CException::Kind::archive, thrownKind([&] { decompressor->Read(chunk.data(), 1); }));
    EXPECT_EQ(input, decompress(compress(input)));
}

TEST_F(StreamsTest, BadReadArgumentsAreArgumentErrors) {
    Bytes chunk(4);
    EXPECT_EQ(CException::Kind::argument, thrownKind([&] { compressor->Read(chunk.data(), -1); }));
    EXPECT_EQ(CException::Kind::argument, thrownKind([&] { decompressor->Read(nullptr, 4); }));
    EXPECT_EQ(0, compressor->Read(chunk.data(), 0));
}

TEST(StreamsToolkit, StreamsHoldTheirSourceAndNameThemselves) {
    auto toolkit = Tolm::CreateObject<Image::IStreamsToolkit>(u"Image.StreamsToolkit");
    const Bytes input = pdfText(5000);
    Tolm::CPtr<Image::CReadImageStream> compressor;
    {
        Tolm::CPtr<CByteSource> source(new CByteSource);
        source->Point(input);
        compressor = toolkit->CreateCompressingStream(source.Get());
        EXPECT_EQ(2, source->GetRefCount());
    }
    Bytes out(1 << 16);
    const int size = compressor->Read(out.data(), static_cast<int>(out.size()));
    ASSERT_GT(size, 0);
    out.resize(static_cast<std::size_t>(size));
    Bytes plain(input.size());
    EXPECT_EQ(input.size(), ZSTD_decompress(plain.data(), plain.size(), out.data(), out.size()));
    EXPECT_FALSE(compressor->GetName().IsEmpty());

    EXPECT_EQ(CException::Kind::argument, thrownKind([&] { toolkit->CreateDecompressingStream(nullptr); }));
}

}  // namespace
