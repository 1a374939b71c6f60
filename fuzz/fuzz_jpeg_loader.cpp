// Any byte string as a downloaded picture file: loaded (header only) as the
// picture loading does, then decoded as at the first drawing, on a full
// colour or an 8-bit screen. Nothing may crash, leak or run away; the
// bomb limits refuse what would.
#include "toolkit/widgets/GraphicErrors.h"
#include "toolkit/widgets/TJPEGImage.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

// Larger pictures are loaded but not decoded here: a few bytes can claim up
// to the 100-megapixel limit, and decoding every such claim would slow the
// search to a crawl without reaching new code.
constexpr int64_t kDecodedPixels = 1'000'000;

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "%s\n", what);
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1 || size > 256 * 1024)
        return 0;
    TJPEGImage::SetScreenColorDepth(data[0] % 4 == 0 ? 8 : 24);
    TJPEGImage picture;
    try {
        picture.LoadFromBytes(std::vector<uint8_t>(data + 1, data + size));
    } catch (const EJPEG& error) {
        if (error.Code == JpegTooManyScans)
            Fail("the scan limit met at load, where only the header is read");
        return 0;
    }
    if (static_cast<int64_t>(picture.Width()) * picture.Height() > 100'000'000)
        Fail("a picture over the pixel limit loaded");
    if (static_cast<int64_t>(picture.Width()) * picture.Height() > kDecodedPixels)
        return 0;
    picture.Decode();
    if (picture.DecodedRows() > picture.Height() || picture.DecodedRows() < 0)
        Fail("more rows decoded than the picture has");
    if (picture.DecodeError() == 0 && picture.DecodedRows() != picture.Height())
        Fail("a decoding without error left rows out");
    if (picture.DecodedRows() > 0 && picture.Bitmap().width() != picture.Width())
        Fail("the bitmap's width differs from the header's");
    return 0;
}
