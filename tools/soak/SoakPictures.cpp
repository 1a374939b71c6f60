// The soak's pictures (tools/soak/soak.py), with libjpeg directly, so that
// what the soak calls decodable does not rest on the program's own decoder.
//
//     soak-pictures make DIR      writes the pool of pictures the chaos site
//                                 serves: NN-WxH-baseline.jpg and
//                                 NN-WxH-progressive.jpg, the same each time
//     soak-pictures decode FILE...  decodes each file completely; a file that
//                                 fails, or that libjpeg warns about (data
//                                 cut short or damaged), is named on standard
//                                 output as "bad FILE: why"; exit status 1
//                                 when any is
#include "tests/support/JpegEncoder.h"

#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace {

struct PoolPicture {
    int width;
    int height;
    bool progressive;
    // Noise makes the file as large as a photograph of that size would be.
    bool noisy;
};

// Mostly small pictures, so that thousands of numbers cost little disk; a
// few large ones, so that a picture takes several reads, spans the bound
// of the disk-full phase and is worth cutting short.
constexpr PoolPicture Pool[] = {
    { 64, 48, false, false },   { 96, 64, true, false },    { 120, 90, false, true },
    { 160, 120, false, false }, { 160, 100, true, true },   { 200, 150, false, true },
    { 240, 160, false, false }, { 256, 192, true, false },  { 320, 240, false, true },
    { 320, 200, false, false }, { 360, 240, true, true },   { 400, 300, false, false },
    { 480, 320, false, true },  { 512, 384, true, false },  { 640, 480, false, true },
    { 640, 400, true, true },   { 800, 600, false, false }, { 1024, 768, false, true },
    { 1024, 640, true, true },  { 1280, 800, false, true }, { 1920, 1200, false, true },
    { 1920, 1080, true, true },
};

uint32_t Mixed(uint32_t value) {
    value ^= value >> 16;
    value *= 0x7feb352dU;
    value ^= value >> 15;
    value *= 0x846ca68bU;
    return value ^ (value >> 16);
}

int MakePool(const std::string& folder) {
    int index = 0;
    for (const PoolPicture& picture : Pool) {
        JpegEncoder encoder;
        encoder.width = picture.width;
        encoder.height = picture.height;
        encoder.quality = 85;
        encoder.progressive = picture.progressive;
        encoder.row = [&picture, index](int y, JSAMPLE* rgb) {
            for (int x = 0; x < picture.width; ++x) {
                const uint32_t noise =
                    picture.noisy ? Mixed(static_cast<uint32_t>(y * 65599 + x + index)) & 63 : 0;
                rgb[3 * x] = static_cast<JSAMPLE>((x * 255 / picture.width + noise) & 255);
                rgb[3 * x + 1] = static_cast<JSAMPLE>((y * 255 / picture.height + noise) & 255);
                rgb[3 * x + 2] = static_cast<JSAMPLE>(((x ^ y) + index * 40 + noise) & 255);
            }
        };
        char name[64];
        std::snprintf(name, sizeof name, "%02d-%dx%d-%s.jpg", index, picture.width, picture.height,
                      picture.progressive ? "progressive" : "baseline");
        const std::string bytes = encoder.Encode();
        std::ofstream out(folder + "/" + name, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        if (!out) {
            std::fprintf(stderr, "soak-pictures: cannot write %s/%s\n", folder.c_str(), name);
            return 1;
        }
        ++index;
    }
    return 0;
}

// libjpeg's errors and warnings end the decode here, with libjpeg's text.
struct StrictErrors {
    jpeg_error_mgr manager;
    std::jmp_buf exit;
    char message[JMSG_LENGTH_MAX];
};

void FailDecode(j_common_ptr cinfo) {
    auto* errors = reinterpret_cast<StrictErrors*>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, errors->message);
    std::longjmp(errors->exit, 1);
}

void WarnDecode(j_common_ptr cinfo, int level) {
    // Level -1 is a warning about the data (cut short, damaged); others are
    // trace messages.
    if (level < 0)
        FailDecode(cinfo);
}

// The one frame with setjmp; it holds no C++ objects, so the jump out of
// libjpeg skips no destructor. Empty when the whole picture decoded.
void Decode(const unsigned char* data, size_t size, JSAMPLE* row, size_t rowSize, char* failure) {
    jpeg_decompress_struct cinfo;
    StrictErrors errors;
    std::memset(&cinfo, 0, sizeof cinfo);
    cinfo.err = jpeg_std_error(&errors.manager);
    errors.manager.error_exit = FailDecode;
    errors.manager.emit_message = WarnDecode;
    failure[0] = '\0';
    if (setjmp(errors.exit)) {
        std::strcpy(failure, errors.message);
        jpeg_destroy_decompress(&cinfo);
        return;
    }
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, data, static_cast<unsigned long>(size));
    jpeg_read_header(&cinfo, TRUE);
    jpeg_start_decompress(&cinfo);
    if (static_cast<size_t>(cinfo.output_width) * cinfo.output_components > rowSize) {
        std::strcpy(failure, "wider than any picture of the soak");
        jpeg_destroy_decompress(&cinfo);
        return;
    }
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW rows[1] = { row };
        jpeg_read_scanlines(&cinfo, rows, 1);
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
}

int DecodeFiles(int count, char** names) {
    // Room for a row of the widest picture a site could send the soak.
    constexpr size_t RowBytes = size_t { 16384 } * 4;
    std::vector<JSAMPLE> row(RowBytes);
    char failure[JMSG_LENGTH_MAX + 64];
    int bad = 0;
    for (int i = 0; i < count; ++i) {
        std::ifstream in(names[i], std::ios::binary);
        const std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(in)),
                                               std::istreambuf_iterator<char>());
        if (!in || bytes.empty())
            std::strcpy(failure, "cannot be read, or is empty");
        else
            Decode(bytes.data(), bytes.size(), row.data(), row.size(), failure);
        if (failure[0] != '\0') {
            std::printf("bad %s: %s\n", names[i], failure);
            ++bad;
        }
    }
    return bad == 0 ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "make") == 0)
        return MakePool(argv[2]);
    if (argc >= 2 && std::strcmp(argv[1], "decode") == 0)
        return DecodeFiles(argc - 2, argv + 2);
    std::fputs("usage: soak-pictures make DIR | soak-pictures decode FILE...\n", stderr);
    return 2;
}
