#pragma once

#include "toolkit/widgets/TGraphic.h"

#include <QImage>

#include <cstdint>
#include <string>
#include <vector>

// A JPEG picture over libjpeg. Loading keeps the whole file in memory and
// reads only its header (width and height); the pixels are decoded at the
// first drawing and the bitmap is kept for later drawings, while the file's
// bytes are let go then.
//
// Decoding settings are fixed: full size, block smoothing, the accurate
// integer DCT, no progressive display, RGB at 24 bits per pixel; or 8 bits
// per pixel quantised to 236 colours when the screen's colour depth is 8 or
// less, and always for grayscale output (236 gray levels).
//
// libjpeg's fatal errors arrive through setjmp/longjmp in this class's own
// frames and leave as EJPEG ("JPEG error #%d"); no C++ exception ever
// passes through libjpeg's C frames. Warnings are ignored: data that ends
// early decodes with the rows libjpeg makes up for the missing part.
//
// Decompression bombs are refused: a picture of more than 100 megapixels
// fails at load (JpegTooManyPixels); one with more than 1,000 scans
// (JpegTooManyScans), or whose width x height x scans passes the work of a
// 100-megapixel picture in ten scans (JpegTooMuchWork), fails while decoding,
// at the first scan too many, before it takes the time it asks for.
class TJPEGImage : public TGraphic {
public:
    TJPEGImage() = default;

    int Width() const override { return m_width; }
    int Height() const override { return m_height; }

    // Reads the whole file (others may read it meanwhile, not write it) and
    // its header. Raises EFOpenError, EReadError or EJPEG, and then holds
    // what it held before. An empty file loads as 0 x 0 without error.
    void LoadFromFile(const std::string& fileName) override;
    // The same for content already in memory.
    void LoadFromBytes(std::vector<uint8_t> bytes);

    // Draws the bitmap's decoded rows at (x, y), decoding first if needed. A
    // decoding error is reported once in the application's error box, right
    // after the paint that met it.
    void Draw(QPainter& painter, int x, int y) override;

    // Decodes now unless already done. Never throws: DecodeError() tells the
    // libjpeg code of a fatal error (0 for none), and the bitmap keeps the
    // rows decoded before it (DecodedRows()).
    void Decode();
    // Decode(), then EJPEG with the fatal error's code, or with libjpeg's
    // premature-end warning (JWRN_JPEG_EOF) when the data ended early.
    void DecodeWhole() override;
    bool Decoded() const { return m_decoded; }
    int DecodeError() const { return m_decodeError; }
    // The decoding met the end of the data before the end of the picture
    // (libjpeg's premature-end warnings) and made up the missing part.
    bool DecodeEndedEarly() const { return m_endedEarly; }
    const QImage& Bitmap() const { return m_bitmap; }
    int DecodedRows() const { return m_decodedRows; }
    // Whether the file holds several scans (a progressive picture).
    bool ProgressiveEncoding() const { return m_progressive; }

    // The screen's colour depth (bits per pixel times planes) that picks
    // the output format. Read from the primary screen at the first need and
    // kept, so it is the depth at program start; tests set it.
    static int ScreenColorDepth();
    static void SetScreenColorDepth(int bits);

private:
    std::vector<uint8_t> m_data;
    int m_width { 0 };
    int m_height { 0 };
    bool m_progressive { false };
    bool m_decoded { false };
    int m_decodeError { 0 };
    bool m_endedEarly { false };
    int m_decodedRows { 0 };
    QImage m_bitmap;
};
