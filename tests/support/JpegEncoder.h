#pragma once

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

extern "C" {
#include <jpeglib.h>
}

// Encodes a picture with libjpeg into a JPEG file in memory, for tests and
// benchmarks that need a file of known make. The rows come from `row`
// (`components` bytes per pixel in `colorSpace`: RGB by default, 1 for
// grayscale, 4 for CMYK); `scans` replaces the encoder's scan script when
// not empty, `progressive` asks for its standard progressive one.
// Well-formed input is assumed: libjpeg's own error exit applies.
struct JpegEncoder {
    int width { 0 };
    int height { 0 };
    int quality { 90 };
    int components { 3 };
    J_COLOR_SPACE colorSpace { JCS_RGB };
    bool progressive { false };
    std::vector<jpeg_scan_info> scans;
    std::function<void(int y, JSAMPLE* rgb)> row;

    std::string Encode() const;
};
