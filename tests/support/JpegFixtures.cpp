#include "tests/support/JpegFixtures.h"

#include "tests/support/JpegEncoder.h"

#include <algorithm>

QColor JpegPatternColor(int width, int height, int x, int y) {
    if (x < 16 && y < 16)
        return QColor(255, 0, 0);
    return QColor(x * 255 / std::max(1, width - 1), y * 255 / std::max(1, height - 1), 96);
}

std::string MakeJpeg(int width, int height, JpegKind kind) {
    JpegEncoder encoder;
    encoder.width = width;
    encoder.height = height;
    encoder.quality = 92;
    encoder.progressive = kind == JpegKind::Progressive;
    if (kind == JpegKind::Grayscale) {
        encoder.components = 1;
        encoder.colorSpace = JCS_GRAYSCALE;
    } else if (kind == JpegKind::Cmyk) {
        encoder.components = 4;
        encoder.colorSpace = JCS_CMYK;
    }
    encoder.row = [&](int y, JSAMPLE* row) {
        for (int x = 0; x < width; ++x) {
            JSAMPLE* p = &row[static_cast<size_t>(x) * static_cast<size_t>(encoder.components)];
            if (kind == JpegKind::Grayscale) {
                p[0] = static_cast<JSAMPLE>((x + y) % 256);
                continue;
            }
            // CMYK uses Adobe's inverted inks, so the RGB values serve as
            // C, M and Y; 255 means no black ink.
            const QColor c = JpegPatternColor(width, height, x, y);
            p[0] = static_cast<JSAMPLE>(c.red());
            p[1] = static_cast<JSAMPLE>(c.green());
            p[2] = static_cast<JSAMPLE>(c.blue());
            if (kind == JpegKind::Cmyk)
                p[3] = 255;
        }
    };
    return encoder.Encode();
}

size_t FirstScanOffset(const std::string& jpeg) {
    return jpeg.find("\xFF\xDA");
}
