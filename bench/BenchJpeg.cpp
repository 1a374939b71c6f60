// The JPEG picture against bare libjpeg-turbo and Qt's own reader, each
// decoding the same file to RGB at 24 bits per pixel.
//
// Jpeg<kind>/TJPEGImage: the picture loads the file (header) and decodes it
//   as at the first drawing; kinds: 800 x 600 and 1920 x 1200 baseline,
//   1920 x 1200 progressive.
// Jpeg<kind>/QImageReader: Qt reads the same bytes from memory into a QImage.
// JpegVsLibjpeg/<kind>: TJPEGImage as above and the plain libjpeg loop on
//   the same file, as a program that decodes one picture writes it (the
//   file read into memory, jpeg_read_scanlines into a buffer of its own,
//   the library's default settings, which are ours: the accurate integer
//   DCT, block smoothing), taking turns for 30 rounds; counters: the median
//   round of each (ours_ms, libjpeg_ms) and their ratio.
#include "bench/BenchStats.h"
#include "tests/support/JpegEncoder.h"
#include "toolkit/widgets/TJPEGImage.h"

#include <QBuffer>
#include <QImageReader>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <map>
#include <memory>
#include <random>
#include <vector>

namespace {

struct TKind {
    int Width;
    int Height;
    bool Progressive;
};

const TKind kSmall { 800, 600, false };
const TKind kBaseline { 1920, 1200, false };
const TKind kProgressive { 1920, 1200, true };

// A picture with the mix of smooth areas, edges and fine texture that
// photographs have, so that the entropy decoder works as hard as on one.
std::string MakePicture(const TKind& kind) {
    std::mt19937 random(42);
    std::uniform_int_distribution<int> noise(-14, 14);
    JpegEncoder encoder;
    encoder.width = kind.Width;
    encoder.height = kind.Height;
    encoder.progressive = kind.Progressive;
    encoder.row = [&](int y, JSAMPLE* rgb) {
        for (int x = 0; x < kind.Width; ++x) {
            const double wave = std::sin(x / 37.0) * std::cos(y / 23.0) * 60;
            const int edge = ((x / 160 + y / 120) % 2) * 50;
            const int base[3] = { 90 + x * 100 / kind.Width, 70 + y * 120 / kind.Height, 120 };
            for (int c = 0; c < 3; ++c) {
                const int value =
                    base[c] + static_cast<int>(wave) * (c + 1) / 3 + edge + noise(random);
                rgb[x * 3 + c] = static_cast<JSAMPLE>(std::clamp(value, 0, 255));
            }
        }
    };
    return encoder.Encode();
}

// The picture's bytes, and the same in a file (beside the build: TMPDIR is
// set by bench/run-all).
struct TPicture {
    std::string Bytes;
    std::string File;
};

const TPicture& Picture(const TKind& kind) {
    static QTemporaryDir directory;
    static std::map<std::tuple<int, int, bool>, TPicture> pictures;
    TPicture& picture = pictures[{ kind.Width, kind.Height, kind.Progressive }];
    if (picture.Bytes.empty()) {
        picture.Bytes = MakePicture(kind);
        picture.File = directory
                           .filePath(QStringLiteral("%1x%2%3.jpg")
                                         .arg(kind.Width)
                                         .arg(kind.Height)
                                         .arg(kind.Progressive ? "p" : ""))
                           .toStdString();
        std::ofstream(picture.File, std::ios::binary) << picture.Bytes;
    }
    return picture;
}

bool DecodeOurs(const TPicture& file, int height) {
    TJPEGImage picture;
    picture.LoadFromFile(file.File);
    picture.Decode();
    benchmark::DoNotOptimize(picture.Bitmap().constBits());
    return picture.DecodeError() == 0 && picture.DecodedRows() == height;
}

void DecodeTJPEGImage(benchmark::State& state, const TKind& kind) {
    const TPicture& file = Picture(kind);
    TJPEGImage::SetScreenColorDepth(24);
    for (auto _ : state) {
        if (!DecodeOurs(file, kind.Height))
            state.SkipWithError("the picture did not decode");
    }
    state.counters["file_kb"] = static_cast<double>(file.Bytes.size()) / 1024;
}

// The file read whole into memory and decoded from there (jpeg_mem_src),
// which lets libjpeg-turbo take its fast way through the entropy-coded data
// all along. libjpeg's own error exit ends the program, which a well-formed
// file never meets.
bool DecodeWithLibjpeg(const std::string& fileName, int height) {
    FILE* file = std::fopen(fileName.c_str(), "rb");
    if (!file)
        return false;
    std::fseek(file, 0, SEEK_END);
    const auto size = static_cast<size_t>(std::ftell(file));
    std::fseek(file, 0, SEEK_SET);
    const std::unique_ptr<unsigned char[]> bytes(new unsigned char[size]);
    const bool read = std::fread(bytes.get(), 1, size, file) == size;
    std::fclose(file);
    if (!read)
        return false;
    jpeg_decompress_struct cinfo {};
    jpeg_error_mgr error {};
    cinfo.err = jpeg_std_error(&error);
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, bytes.get(), static_cast<unsigned long>(size));
    jpeg_read_header(&cinfo, TRUE);
    cinfo.out_color_space = JCS_RGB;
    jpeg_start_decompress(&cinfo);
    const size_t stride = size_t { cinfo.output_width } * 3;
    const std::unique_ptr<JSAMPLE[]> pixels(new JSAMPLE[stride * cinfo.output_height]);
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW row = pixels.get() + stride * cinfo.output_scanline;
        jpeg_read_scanlines(&cinfo, &row, 1);
    }
    benchmark::DoNotOptimize(pixels.get());
    const bool whole = static_cast<int>(cinfo.output_scanline) == height;
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    return whole;
}

void CompareWithLibjpeg(benchmark::State& state, const TKind& kind) {
    const TPicture& file = Picture(kind);
    TJPEGImage::SetScreenColorDepth(24);
    constexpr int kRounds = 30;
    for (auto _ : state) {
        std::vector<double> ours;
        std::vector<double> plain;
        bool decoded = true;
        for (int round = 0; round < kRounds; ++round) {
            // Each goes first every other round.
            for (int turn = 0; turn < 2; ++turn) {
                const bool oursNow = (round + turn) % 2 == 0;
                const auto start = BenchStats::Clock::now();
                decoded &= oursNow ? DecodeOurs(file, kind.Height)
                                   : DecodeWithLibjpeg(file.File, kind.Height);
                (oursNow ? ours : plain).push_back(BenchStats::SecondsSince(start) * 1e3);
            }
        }
        if (!decoded)
            state.SkipWithError("a decoder did not decode the picture");
        const double oursMs = BenchStats::Median(ours);
        const double plainMs = BenchStats::Median(plain);
        state.SetIterationTime((oursMs + plainMs) / 1e3);
        state.counters["ours_ms"] = oursMs;
        state.counters["libjpeg_ms"] = plainMs;
        state.counters["ratio"] = oursMs / plainMs;
    }
}

void DecodeQImageReader(benchmark::State& state, const TKind& kind) {
    const QByteArray file = QByteArray::fromStdString(Picture(kind).Bytes);
    for (auto _ : state) {
        QBuffer device;
        device.setData(file);
        device.open(QIODevice::ReadOnly);
        QImageReader reader(&device, "jpeg");
        const QImage image = reader.read();
        if (image.height() != kind.Height)
            state.SkipWithError("Qt did not decode the picture");
        benchmark::DoNotOptimize(image.constBits());
    }
}

double Smallest(const std::vector<double>& values) {
    return *std::min_element(values.begin(), values.end());
}

} // namespace

// Rounds: the tables take the median of ten and give the best beside it.
#define JPEG_BENCH(function, kind, name)                                                           \
    BENCHMARK_CAPTURE(function, kind, kind)                                                        \
        ->Name(name)                                                                               \
        ->Repetitions(10)                                                                          \
        ->ComputeStatistics("min", Smallest)                                                       \
        ->ReportAggregatesOnly(true)                                                               \
        ->Unit(benchmark::kMillisecond)

JPEG_BENCH(DecodeTJPEGImage, kBaseline, "JpegBaseline/TJPEGImage");
JPEG_BENCH(DecodeQImageReader, kBaseline, "JpegBaseline/QImageReader");
JPEG_BENCH(DecodeTJPEGImage, kProgressive, "JpegProgressive/TJPEGImage");
JPEG_BENCH(DecodeQImageReader, kProgressive, "JpegProgressive/QImageReader");

// Five rounds of taking turns; the median and the best round's ratio.
#define JPEG_TURNS(kind, name)                                                                     \
    BENCHMARK_CAPTURE(CompareWithLibjpeg, kind, kind)                                              \
        ->Name(name)                                                                               \
        ->UseManualTime()                                                                          \
        ->Iterations(1)                                                                            \
        ->Repetitions(5)                                                                           \
        ->ComputeStatistics("min", Smallest)                                                       \
        ->ReportAggregatesOnly(true)                                                               \
        ->Unit(benchmark::kMillisecond)

JPEG_TURNS(kSmall, "JpegVsLibjpeg/800x600");
JPEG_TURNS(kBaseline, "JpegVsLibjpeg/1920x1200");
JPEG_TURNS(kProgressive, "JpegVsLibjpeg/1920x1200-progressive");
