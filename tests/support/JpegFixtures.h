#pragma once

#include <QColor>

#include <string>

// JPEG files made by the tests themselves with libjpeg, so every picture
// fixture is known down to its bytes.
//
// The pixels follow a fixed pattern: a solid red 16 x 16 square at the top
// left, and elsewhere a colour gradient (red across, green down, blue
// constant) with far more than 256 distinct colours, so that quantisation
// shows. Grayscale pictures are a diagonal gradient.
enum class JpegKind {
    Baseline,    // one interleaved scan, YCbCr
    Progressive, // several scans (jpeg_simple_progression)
    Grayscale,   // one component
    Cmyk,        // four components with an Adobe marker (inverted inks)
};

std::string MakeJpeg(int width, int height, JpegKind kind = JpegKind::Baseline);

// The colour the pattern gives the pixel (before compression losses).
QColor JpegPatternColor(int width, int height, int x, int y);

// Offset of the first start-of-scan marker (FF DA), or npos.
size_t FirstScanOffset(const std::string& jpeg);
