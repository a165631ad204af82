// Speed of the image library against the codecs called directly, in one run:
//   - the toolkit's zstd pull streams, read in 4096-byte chunks as the record
//     store reads them, against ZSTD_compress / ZSTD_decompress at the same
//     level, on PDF-like content (text content streams with some binary
//     image-like streams);
//   - the JPEG writer on a 4000 x 3000 colour image against libjpeg-turbo
//     with the same settings writing to memory.
// Goals: streams at least 0.7 times one-shot speed and 300 MB/s compressing;
// the JPEG writer within 1.05 times libjpeg-turbo.
#include <Image/ImageServices.h>
#include <Image/Streams.h>
#include <Tolm/File.h>
#include <benchmark/benchmark.h>
#include <jpeglib.h>
#include <zstd.h>

#include "PdfLikeContent.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

// The level the toolkit uses; one-shot calls use the same.
constexpr int kLevel = 1;
constexpr int kPull = 4096;
constexpr int kQuality = 100;

class CBenchSource final : public Image::CReadImageStream {
public:
    void Point(const Bytes& bytes) {
        data_ = bytes.data();
        size_ = static_cast<int>(bytes.size());
        position_ = 0;
    }
    void Reset() override { position_ = 0; }
    int Read(void* target, int count) override {
        const int n = std::min(count, size_ - position_);
        std::memcpy(target, data_ + position_, static_cast<std::size_t>(n));
        position_ += n;
        return n;
    }
    int Skip(int count) override {
        const int n = std::min(count, size_ - position_);
        position_ += n;
        return n;
    }
    Tolm::CUnicodeString GetName() const override { return u"BenchSource"; }

private:
    const unsigned char* data_ = nullptr;
    int size_ = 0;
    int position_ = 0;
};

// The store's loop: 4096-byte chunks appended until a short one.
std::size_t drain(Image::CReadImageStream& stream, Bytes& out) {
    out.clear();
    unsigned char chunk[kPull];
    for (;;) {
        const int got = stream.Read(chunk, kPull);
        out.insert(out.end(), chunk, chunk + got);
        if (got < kPull) return out.size();
    }
}

struct StreamRig {
    StreamRig() {
        auto toolkit = Tolm::CreateObject<Image::IStreamsToolkit>(u"Image.StreamsToolkit");
        source = Tolm::CPtr<CBenchSource>(new CBenchSource);
        compressor = toolkit->CreateCompressingStream(source.Get());
        decompressor = toolkit->CreateDecompressingStream(source.Get());
    }
    Tolm::CPtr<CBenchSource> source;
    Tolm::CPtr<Image::CReadImageStream> compressor;
    Tolm::CPtr<Image::CReadImageStream> decompressor;
};

Bytes oneShotCompress(const Bytes& input) {
    Bytes out(ZSTD_compressBound(input.size()));
    out.resize(ZSTD_compress(out.data(), out.size(), input.data(), input.size(), kLevel));
    return out;
}

void reportRatio(benchmark::State& state, const Bytes& input, std::size_t compressed) {
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * input.size()));
    state.counters["ratio"] = static_cast<double>(input.size()) / static_cast<double>(compressed);
}

void BM_StreamCompress(benchmark::State& state) {
    const Bytes input = bench::pdfLikeContent(static_cast<std::size_t>(state.range(0)));
    StreamRig rig;
    Bytes out;
    std::size_t size = 0;
    for (auto _ : state) {
        rig.source->Point(input);
        rig.compressor->Reset();
        size = drain(*rig.compressor, out);
        benchmark::DoNotOptimize(out.data());
    }
    reportRatio(state, input, size);
}

// One-shot compression at a level: the streams' own level, and zstd's first
// negative ("fast") level for the choice between them.
void BM_OneShotCompress(benchmark::State& state, int level) {
    const Bytes input = bench::pdfLikeContent(static_cast<std::size_t>(state.range(0)));
    Bytes out(ZSTD_compressBound(input.size()));
    std::size_t size = 0;
    for (auto _ : state) {
        size = ZSTD_compress(out.data(), out.size(), input.data(), input.size(), level);
        benchmark::DoNotOptimize(out.data());
    }
    reportRatio(state, input, size);
}

// The input as the rig's compressing stream gives it.
Bytes streamCompressed(StreamRig& rig, const Bytes& input) {
    Bytes compressed;
    rig.source->Point(input);
    rig.compressor->Reset();
    drain(*rig.compressor, compressed);
    return compressed;
}

void BM_StreamDecompress(benchmark::State& state) {
    const Bytes input = bench::pdfLikeContent(static_cast<std::size_t>(state.range(0)));
    StreamRig rig;
    const Bytes compressed = streamCompressed(rig, input);
    Bytes out;
    for (auto _ : state) {
        rig.source->Point(compressed);
        rig.decompressor->Reset();
        drain(*rig.decompressor, out);
        benchmark::DoNotOptimize(out.data());
    }
    if (out != input) state.SkipWithError("round trip failed");
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * input.size()));
}

void BM_OneShotDecompress(benchmark::State& state) {
    const Bytes input = bench::pdfLikeContent(static_cast<std::size_t>(state.range(0)));
    const Bytes compressed = oneShotCompress(input);
    Bytes out(input.size());
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            ZSTD_decompress(out.data(), out.size(), compressed.data(), compressed.size()));
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * input.size()));
}

// The streams' frames carry a checksum; this separates its cost from the
// cost of pulling in 4096-byte reads.
void BM_OneShotDecompressOfStreamFrame(benchmark::State& state) {
    const Bytes input = bench::pdfLikeContent(static_cast<std::size_t>(state.range(0)));
    StreamRig rig;
    const Bytes compressed = streamCompressed(rig, input);
    Bytes out(input.size());
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            ZSTD_decompress(out.data(), out.size(), compressed.data(), compressed.size()));
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * input.size()));
}

// 16 KiB is a typical record of the store; 4 MiB a large page stream.
#define CONTENT_SIZES Arg(16 << 10)->Arg(4 << 20)
BENCHMARK(BM_StreamCompress)->CONTENT_SIZES;
BENCHMARK_CAPTURE(BM_OneShotCompress, streamLevel, kLevel)->CONTENT_SIZES;
BENCHMARK_CAPTURE(BM_OneShotCompress, fastLevel, -1)->CONTENT_SIZES;
BENCHMARK(BM_StreamDecompress)->CONTENT_SIZES;
BENCHMARK(BM_OneShotDecompress)->CONTENT_SIZES;
BENCHMARK(BM_OneShotDecompressOfStreamFrame)->CONTENT_SIZES;

// ----------------------------------------------------------------------- JPEG

constexpr int kJpegWidth = 4000;
constexpr int kJpegHeight = 3000;

Tolm::CPtr<Image::IImage> photoLikeImage() {
    auto image = Image::CreateImage(kJpegWidth, kJpegHeight, 2);
    std::mt19937 engine(5);
    unsigned char* pixels = image->GetMutablePixels();
    for (int y = 0; y < kJpegHeight; ++y) {
        unsigned char* row = pixels + static_cast<std::ptrdiff_t>(y) * image->GetStride();
        for (int x = 0; x < kJpegWidth; ++x) {
            const unsigned noise = engine() & 15;
            row[3 * x] = static_cast<unsigned char>((x / 16 + noise) & 0xFF);
            row[3 * x + 1] = static_cast<unsigned char>((y / 12 + noise) & 0xFF);
            row[3 * x + 2] = static_cast<unsigned char>(((x + y) / 28 + noise) & 0xFF);
        }
    }
    return image;
}

void BM_JpegWriter(benchmark::State& state) {
    const auto image = photoLikeImage();
    auto services = Tolm::CreateObject<Image::IImageServices>(u"Image.ImageServices");
    auto* jpeg = dynamic_cast<Image::IJpegImageFileFormat*>(
        services->GetFileFormatRegistry()->GetFileFormat(Image::kJpegFormatId));
    auto params = jpeg->CreateSaveParams();
    params->SetQuality(kQuality);
    params->SetColority(2);
    Tolm::CMemoryFile file;
    for (auto _ : state) {
        file.SetLength(0);
        file.SeekToBegin();
        jpeg->CreateWriter(file)->Write(image.Get(), params.Get());
    }
    state.counters["bytes"] = static_cast<double>(file.GetLength());
    state.SetItemsProcessed(state.iterations());
}

// libjpeg-turbo with the writer's settings at this quality: full-resolution
// chroma, default DCT, no Huffman optimisation, memory destination.
void BM_JpegLibjpegDirect(benchmark::State& state) {
    const auto image = photoLikeImage();
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    for (auto _ : state) {
        jpeg_compress_struct info;
        jpeg_error_mgr errors;
        info.err = jpeg_std_error(&errors);
        jpeg_create_compress(&info);
        jpeg_mem_dest(&info, &buffer, &size);
        info.image_width = kJpegWidth;
        info.image_height = kJpegHeight;
        info.input_components = 3;
        info.in_color_space = JCS_RGB;
        jpeg_set_defaults(&info);
        jpeg_set_quality(&info, kQuality, TRUE);
        info.comp_info[0].h_samp_factor = 1;
        info.comp_info[0].v_samp_factor = 1;
        jpeg_start_compress(&info, TRUE);
        JSAMPROW rows[16];
        while (info.next_scanline < info.image_height) {
            int count = 0;
            while (count < 16 && info.next_scanline + static_cast<unsigned>(count) < info.image_height) {
                rows[count] = const_cast<JSAMPROW>(image->GetPixels() +
                                                   static_cast<std::ptrdiff_t>(info.next_scanline + count) *
                                                       image->GetStride());
                ++count;
            }
            jpeg_write_scanlines(&info, rows, static_cast<JDIMENSION>(count));
        }
        jpeg_finish_compress(&info);
        jpeg_destroy_compress(&info);
    }
    state.counters["bytes"] = static_cast<double>(size);
    state.SetItemsProcessed(state.iterations());
    std::free(buffer);
}

BENCHMARK(BM_JpegWriter)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_JpegLibjpegDirect)->Unit(benchmark::kMillisecond);

}  // namespace
