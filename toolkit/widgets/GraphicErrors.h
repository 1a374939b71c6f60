#pragma once

#include "toolkit/runtime/Exception.h"

#include <string>

// A picture file that no picture kind can load: "Unknown picture file
// extension (.%s)".
class EInvalidGraphic : public Exception {
public:
    using Exception::Exception;
};

// A fatal error of the JPEG decoder: "JPEG error #%d" with libjpeg's
// message code (53: not a JPEG file, 42: empty input, ...).
class EJPEG : public Exception {
public:
    explicit EJPEG(int code) : Exception("JPEG error #" + std::to_string(code)), Code(code) {}
    int Code;
};
