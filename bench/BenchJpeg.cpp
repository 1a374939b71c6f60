// The JPEG picture against Qt's own reader, both decoding the same
// 1920 x 1200 file held in memory: TJPEGImage loads it (header) and decodes
// it as at the first drawing; QImageReader reads it into a QImage.
#include "tests/support/JpegEncoder.h"
#include "toolkit/widgets/TJPEGImage.h"

#include <QBuffer>
#include <QImageReader>
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <random>

namespace {

constexpr int kWidth = 1920;
constexpr int kHeight = 1200;

// A picture with the mix of smooth areas, edges and fine texture that
// photographs have, so that the entropy decoder works as hard as on one.
std::string MakePicture(bool progressive) {
    std::mt19937 random(42);
    std::uniform_int_distribution<int> noise(-14, 14);
    JpegEncoder encoder;
    encoder.width = kWidth;
    encoder.height = kHeight;
    encoder.progressive = progressive;
    encoder.row = [&](int y, JSAMPLE* rgb) {
        for (int x = 0; x < kWidth; ++x) {
            const double wave = std::sin(x / 37.0) * std::cos(y / 23.0) * 60;
            const int edge = ((x / 160 + y / 120) % 2) * 50;
            const int base[3] = { 90 + x * 100 / kWidth, 70 + y * 120 / kHeight, 120 };
            for (int c = 0; c < 3; ++c) {
                const int value =
                    base[c] + static_cast<int>(wave) * (c + 1) / 3 + edge + noise(random);
                rgb[x * 3 + c] = static_cast<JSAMPLE>(std::clamp(value, 0, 255));
            }
        }
    };
    return encoder.Encode();
}

const std::string& Picture(bool progressive) {
    static const std::string baseline = MakePicture(false);
    static const std::string multiScan = MakePicture(true);
    return progressive ? multiScan : baseline;
}

void DecodeTJPEGImage(benchmark::State& state, bool progressive) {
    const std::string& file = Picture(progressive);
    TJPEGImage::SetScreenColorDepth(24);
    for (auto _ : state) {
        TJPEGImage picture;
        picture.LoadFromBytes(std::vector<uint8_t>(file.begin(), file.end()));
        picture.Decode();
        if (picture.DecodeError() != 0 || picture.DecodedRows() != kHeight)
            state.SkipWithError("the picture did not decode");
        benchmark::DoNotOptimize(picture.Bitmap().constBits());
    }
    state.counters["file_kb"] = static_cast<double>(file.size()) / 1024;
}

void DecodeQImageReader(benchmark::State& state, bool progressive) {
    const QByteArray file = QByteArray::fromStdString(Picture(progressive));
    for (auto _ : state) {
        QBuffer device;
        device.setData(file);
        device.open(QIODevice::ReadOnly);
        QImageReader reader(&device, "jpeg");
        const QImage image = reader.read();
        if (image.height() != kHeight)
            state.SkipWithError("Qt did not decode the picture");
        benchmark::DoNotOptimize(image.constBits());
    }
}

} // namespace

BENCHMARK_CAPTURE(DecodeTJPEGImage, baseline, false)
    ->Name("JpegBaseline/TJPEGImage")

    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(DecodeQImageReader, baseline, false)
    ->Name("JpegBaseline/QImageReader")

    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(DecodeTJPEGImage, progressive, true)
    ->Name("JpegProgressive/TJPEGImage")

    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(DecodeQImageReader, progressive, true)
    ->Name("JpegProgressive/QImageReader")

    ->Unit(benchmark::kMillisecond);
