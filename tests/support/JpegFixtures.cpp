#include "tests/support/JpegFixtures.h"

#include <cstdio>
#include <cstdlib>
#include <vector>

extern "C" {
#include <jpeglib.h>
}

QColor JpegPatternColor(int width, int height, int x, int y) {
    if (x < 16 && y < 16)
        return QColor(255, 0, 0);
    return QColor(x * 255 / std::max(1, width - 1), y * 255 / std::max(1, height - 1), 96);
}

std::string MakeJpeg(int width, int height, JpegKind kind) {
    jpeg_compress_struct cinfo {};
    jpeg_error_mgr error {};
    cinfo.err = jpeg_std_error(&error); // fixtures are well formed: libjpeg's exit is fine
    jpeg_create_compress(&cinfo);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&cinfo, &buffer, &size);

    cinfo.image_width = static_cast<JDIMENSION>(width);
    cinfo.image_height = static_cast<JDIMENSION>(height);
    cinfo.input_components = kind == JpegKind::Grayscale ? 1 : kind == JpegKind::Cmyk ? 4 : 3;
    cinfo.in_color_space = kind == JpegKind::Grayscale ? JCS_GRAYSCALE
                           : kind == JpegKind::Cmyk    ? JCS_CMYK
                                                       : JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, 92, TRUE);
    if (kind == JpegKind::Progressive)
        jpeg_simple_progression(&cinfo);
    jpeg_start_compress(&cinfo, TRUE);

    std::vector<JSAMPLE> row(static_cast<size_t>(width) * cinfo.input_components);
    while (cinfo.next_scanline < cinfo.image_height) {
        const int y = static_cast<int>(cinfo.next_scanline);
        for (int x = 0; x < width; ++x) {
            const QColor c = JpegPatternColor(width, height, x, y);
            JSAMPLE* p = &row[static_cast<size_t>(x) * cinfo.input_components];
            if (kind == JpegKind::Grayscale) {
                p[0] = static_cast<JSAMPLE>((x + y) % 256);
            } else if (kind == JpegKind::Cmyk) {
                // Adobe's inverted inks: 255 means no ink. Black ink stays 0.
                p[0] = static_cast<JSAMPLE>(c.red());
                p[1] = static_cast<JSAMPLE>(c.green());
                p[2] = static_cast<JSAMPLE>(c.blue());
                p[3] = 255;
            } else {
                p[0] = static_cast<JSAMPLE>(c.red());
                p[1] = static_cast<JSAMPLE>(c.green());
                p[2] = static_cast<JSAMPLE>(c.blue());
            }
        }
        JSAMPROW rows[1] = { row.data() };
        jpeg_write_scanlines(&cinfo, rows, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    std::string bytes(reinterpret_cast<const char*>(buffer), size);
    std::free(buffer);
    return bytes;
}

size_t FirstScanOffset(const std::string& jpeg) {
    return jpeg.find("\xFF\xDA");
}
