#pragma once

#include "toolkit/runtime/Exception.h"

#include <string>

// A picture file that no picture kind can load: "Unknown picture file
// extension (.%s)".
class EInvalidGraphic : public Exception {
public:
    using Exception::Exception;
};

// Codes of the decoder's own limits against decompression bombs, beyond
// libjpeg's message codes: a picture of more than 100 megapixels, one with
// more than 1,000 scans, and one whose width x height x scans passes the
// decoding-work bound (TJPEGImage.cpp gives the figure and its reason).
constexpr int JpegTooManyPixels = 1001;
constexpr int JpegTooManyScans = 1002;
constexpr int JpegTooMuchWork = 1003;

// A fatal error of the JPEG decoder: "JPEG error #%d" with libjpeg's
// message code (53: not a JPEG file, 42: empty input, ...), or the text of
// one of the limits above.
class EJPEG : public Exception {
public:
    explicit EJPEG(int code) : Exception(TextOf(code)), Code(code) {}
    int Code;

private:
    static std::string TextOf(int code) {
        if (code == JpegTooManyPixels)
            return "JPEG picture too large: more than 100 megapixels";
        if (code == JpegTooManyScans)
            return "JPEG picture has too many scans: more than 1000";
        if (code == JpegTooMuchWork)
            return "JPEG picture needs too much decoding work";
        return "JPEG error #" + std::to_string(code);
    }
};
