#include "toolkit/widgets/TJPEGImage.h"

#include "toolkit/runtime/TFileStream.h"
#include "toolkit/widgets/GraphicErrors.h"
#include "toolkit/widgets/TApplication.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QPainter>
#include <QScreen>

#include <algorithm>
#include <climits>
#include <csetjmp>
#include <cstdio>

extern "C" {
#include <jerror.h>
#include <jpeglib.h>
}

namespace {

constexpr int kQuantisedColours = 236;

int s_screenColorDepth = 0;

// libjpeg's standard error manager with its exits replaced: a fatal error
// jumps back into RunSession; warnings and messages go nowhere.
struct ErrorManager {
    jpeg_error_mgr pub;
    jmp_buf jump;
    int code;
    // libjpeg warned that the data ended before the picture did.
    bool endedEarly;
};

void ErrorExit(j_common_ptr cinfo) {
    auto* manager = reinterpret_cast<ErrorManager*>(cinfo->err);
    manager->code = cinfo->err->msg_code;
    longjmp(manager->jump, 1);
}

// Nothing is shown; a warning that the data ended early is only noted, for
// callers that must know whether the file held the whole picture.
void EmitMessage(j_common_ptr cinfo, int level) {
    const int code = cinfo->err->msg_code;
    if (level < 0 && (code == JWRN_JPEG_EOF || code == JWRN_HIT_MARKER))
        reinterpret_cast<ErrorManager*>(cinfo->err)->endedEarly = true;
}
void OutputMessage(j_common_ptr) {}

// Serves the in-memory copy of the file, all of it at once: libjpeg-turbo
// takes its fast way through the entropy-coded data only while its buffer
// holds more than the most one MCU could need (512 bytes a block), which
// pieces of a few KB seldom do. When the data runs out, the picture ends early:
// libjpeg is warned and handed an end-of-image marker, so it finishes with
// what it has. With no data at all there is nothing to decode, which is
// fatal.
struct MemorySource {
    jpeg_source_mgr pub;
    const JOCTET* data;
    size_t size;
    size_t position;
    bool startOfFile;
};

const JOCTET kEndOfImage[2] = { 0xFF, JPEG_EOI };

void InitSource(j_decompress_ptr cinfo) {
    auto* source = reinterpret_cast<MemorySource*>(cinfo->src);
    source->position = 0;
    source->startOfFile = true;
}

boolean FillInputBuffer(j_decompress_ptr cinfo) {
    auto* source = reinterpret_cast<MemorySource*>(cinfo->src);
    if (source->position >= source->size) {
        if (source->startOfFile)
            ERREXIT(cinfo, JERR_INPUT_EMPTY);
        WARNMS(cinfo, JWRN_JPEG_EOF);
        source->pub.next_input_byte = kEndOfImage;
        source->pub.bytes_in_buffer = sizeof kEndOfImage;
        return TRUE;
    }
    const size_t count = source->size - source->position;
    source->pub.next_input_byte = source->data + source->position;
    source->pub.bytes_in_buffer = count;
    source->position += count;
    source->startOfFile = false;
    return TRUE;
}

void SkipInputData(j_decompress_ptr cinfo, long count) {
    if (count <= 0)
        return;
    auto* source = reinterpret_cast<MemorySource*>(cinfo->src);
    while (count > static_cast<long>(source->pub.bytes_in_buffer)) {
        count -= static_cast<long>(source->pub.bytes_in_buffer);
        FillInputBuffer(cinfo);
    }
    source->pub.next_input_byte += count;
    source->pub.bytes_in_buffer -= static_cast<size_t>(count);
}

void TermSource(j_decompress_ptr) {}

// Decompression bombs: a few hundred bytes can announce a picture of
// 65,500 x 65,500 pixels (12 GB of bitmap) or thousands of progressive scans,
// each of which makes the decoder walk over every block again.
constexpr uint64_t kMaxPixels = 100'000'000;
constexpr int kMaxScans = 1000;
// Every scan walks over the blocks of the picture again, so the decoding time
// grows with width x height x scans; a small file can ask for minutes of it
// (64 megapixels in 991 scans took 42 s) with fewer than 1,000 scans. The
// bound is the largest picture we take in libjpeg's standard progressive
// script (100 megapixels, 10 scans), which took about 1.7 s of processor
// time to decode on the machine we build on; it refuses that 64-megapixel
// file at its 16th scan.
constexpr uint64_t kMaxDecodingWork = kMaxPixels * 10;

// Ends the session with one of the decoder's own error codes.
void LimitExit(j_common_ptr cinfo, int code) {
    cinfo->err->msg_code = code;
    (*cinfo->err->error_exit)(cinfo);
}

// libjpeg calls this between the rows of every scan while it takes in a
// multi-scan file, so a file with too many scans stops at the first one too many.
void ProgressMonitor(j_common_ptr cinfo) {
    if (!cinfo->is_decompressor)
        return;
    const auto* decompressor = reinterpret_cast<j_decompress_ptr>(cinfo);
    const int scans = decompressor->input_scan_number;
    if (scans > kMaxScans)
        LimitExit(cinfo, JpegTooManyScans);
    const uint64_t work = static_cast<uint64_t>(decompressor->image_width) *
                          decompressor->image_height * static_cast<uint64_t>(scans);
    if (work > kMaxDecodingWork)
        LimitExit(cinfo, JpegTooMuchWork);
}

// Everything libjpeg needs for one decompression, as plain C data: a
// longjmp out of libjpeg must skip no C++ destructor.
struct Session {
    jpeg_decompress_struct cinfo;
    ErrorManager error;
    MemorySource source;
    jpeg_progress_mgr progress;
};

using SessionStep = void (*)(Session& session, void* context);

// Creates a decompressor over the bytes, reads the header and runs `step`
// on it, then destroys the decompressor. Returns 0, or the message code of
// the fatal error that ended it. This is the only frame with setjmp, and it
// holds no C++ objects; `step` may not hold any across a libjpeg call.
int RunSession(Session& session, const uint8_t* data, size_t size, SessionStep step,
               void* context) {
    session.cinfo.err = jpeg_std_error(&session.error.pub);
    session.error.pub.error_exit = ErrorExit;
    session.error.pub.emit_message = EmitMessage;
    session.error.pub.output_message = OutputMessage;
    session.error.code = 0;
    session.error.endedEarly = false;
    if (setjmp(session.error.jump)) {
        jpeg_destroy_decompress(&session.cinfo);
        return session.error.code;
    }
    jpeg_create_decompress(&session.cinfo);
    session.source.pub.init_source = InitSource;
    session.source.pub.fill_input_buffer = FillInputBuffer;
    session.source.pub.skip_input_data = SkipInputData;
    session.source.pub.resync_to_restart = jpeg_resync_to_restart;
    session.source.pub.term_source = TermSource;
    session.source.pub.bytes_in_buffer = 0;
    session.source.pub.next_input_byte = nullptr;
    session.source.data = data;
    session.source.size = size;
    session.cinfo.src = &session.source.pub;
    session.progress.progress_monitor = ProgressMonitor;
    session.cinfo.progress = &session.progress;

    jpeg_read_header(&session.cinfo, TRUE);
    if (static_cast<uint64_t>(session.cinfo.image_width) * session.cinfo.image_height > kMaxPixels)
        LimitExit(reinterpret_cast<j_common_ptr>(&session.cinfo), JpegTooManyPixels);
    step(session, context);
    jpeg_destroy_decompress(&session.cinfo);
    return 0;
}

struct HeaderInfo {
    int width;
    int height;
    bool progressive;
};

void HeaderStep(Session& session, void* context) {
    auto* header = static_cast<HeaderInfo*>(context);
    header->width = static_cast<int>(session.cinfo.image_width);
    header->height = static_cast<int>(session.cinfo.image_height);
    header->progressive = jpeg_has_multiple_scans(&session.cinfo);
}

struct DecodeTarget {
    bool lowColourScreen;
    QImage* bitmap;
    int* rows;
    bool* progressive;
};

bool IsCmyk(const jpeg_decompress_struct& cinfo) {
    return cinfo.jpeg_color_space == JCS_CMYK || cinfo.jpeg_color_space == JCS_YCCK;
}

// The output bitmap, sized and formatted for the started decompressor:
// 8-bit indexed with libjpeg's palette when quantising, RGB otherwise.
QImage MakeBitmap(const jpeg_decompress_struct& cinfo) {
    const int width = static_cast<int>(cinfo.output_width);
    const int height = static_cast<int>(cinfo.output_height);
    if (!cinfo.quantize_colors)
        return QImage(width, height, QImage::Format_RGB888);
    QImage image(width, height, QImage::Format_Indexed8);
    QList<QRgb> palette;
    for (int i = 0; i < cinfo.actual_number_of_colors; ++i) {
        if (cinfo.out_color_components >= 3)
            palette.append(qRgb(cinfo.colormap[0][i], cinfo.colormap[1][i], cinfo.colormap[2][i]));
        else
            palette.append(qRgb(cinfo.colormap[0][i], cinfo.colormap[0][i], cinfo.colormap[0][i]));
    }
    image.setColorTable(palette);
    return image;
}

// libjpeg does not turn CMYK into RGB. Files with an Adobe marker store the
// inks inverted (0 = full ink), as Photoshop writes them.
void CmykToRgb(const JSAMPLE* cmyk, uchar* rgb, int width, bool inverted) {
    for (int x = 0; x < width; ++x, cmyk += 4, rgb += 3) {
        const int k = inverted ? cmyk[3] : 255 - cmyk[3];
        for (int c = 0; c < 3; ++c) {
            const int ink = inverted ? cmyk[c] : 255 - cmyk[c];
            rgb[c] = static_cast<uchar>(ink * k / 255);
        }
    }
}

void DecodeStep(Session& session, void* context) {
    auto* target = static_cast<DecodeTarget*>(context);
    j_decompress_ptr cinfo = &session.cinfo;
    *target->progressive = jpeg_has_multiple_scans(cinfo);
    cinfo->scale_num = 1;
    cinfo->scale_denom = 1;
    cinfo->do_block_smoothing = TRUE;
    cinfo->dct_method = JDCT_ISLOW;
    cinfo->buffered_image = FALSE;
    const bool cmyk = IsCmyk(*cinfo);
    if (cmyk)
        cinfo->out_color_space = JCS_CMYK;
    else if (cinfo->out_color_space != JCS_GRAYSCALE)
        cinfo->out_color_space = JCS_RGB;
    // libjpeg's quantisers take one or three components, not CMYK's four.
    if (!cmyk && (target->lowColourScreen || cinfo->out_color_space == JCS_GRAYSCALE)) {
        cinfo->quantize_colors = TRUE;
        cinfo->desired_number_of_colors = kQuantisedColours;
    }
    jpeg_start_decompress(cinfo);
    *target->bitmap = MakeBitmap(*cinfo);
    if (target->bitmap->isNull())
        ERREXIT(cinfo, JERR_OUT_OF_MEMORY);
    JSAMPARRAY cmykRow = nullptr;
    if (cmyk)
        cmykRow = (*cinfo->mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(cinfo), JPOOL_IMAGE,
                                              cinfo->output_width * 4, 1);
    while (cinfo->output_scanline < cinfo->output_height) {
        const int y = static_cast<int>(cinfo->output_scanline);
        JSAMPROW row = cmyk ? cmykRow[0] : target->bitmap->scanLine(y);
        if (jpeg_read_scanlines(cinfo, &row, 1) != 1)
            break;
        if (cmyk)
            CmykToRgb(cmykRow[0], target->bitmap->scanLine(y),
                      static_cast<int>(cinfo->output_width), cinfo->saw_Adobe_marker);
        *target->rows = y + 1;
    }
    jpeg_finish_decompress(cinfo);
}

// The error box is modal: opened inside a paint event it would run a nested
// event loop while the painter is active. It opens right after the paint.
void ReportDecodeError(int code) {
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [code] {
            if (Application)
                Application->HandleException(std::make_exception_ptr(EJPEG(code)));
        },
        Qt::QueuedConnection);
}

} // namespace

void TJPEGImage::LoadFromFile(const std::string& fileName) {
    std::vector<uint8_t> bytes;
    {
        TFileStream stream(fileName, fmOpenRead | fmShareDenyWrite);
        const int64_t size = stream.Size();
        if (size > INT32_MAX)
            throw EReadError();
        bytes.resize(static_cast<size_t>(size));
        if (size > 0)
            stream.ReadBuffer(bytes.data(), static_cast<int32_t>(size));
    }
    LoadFromBytes(std::move(bytes));
}

void TJPEGImage::LoadFromBytes(std::vector<uint8_t> bytes) {
    HeaderInfo header {};
    if (!bytes.empty()) {
        Session session {};
        const int code = RunSession(session, bytes.data(), bytes.size(), HeaderStep, &header);
        if (code != 0)
            throw EJPEG(code);
    }
    m_data = std::move(bytes);
    m_width = header.width;
    m_height = header.height;
    m_progressive = header.progressive;
    m_decoded = false;
    m_decodeError = 0;
    m_endedEarly = false;
    m_decodedRows = 0;
    m_bitmap = QImage();
}

void TJPEGImage::Decode() {
    if (m_decoded)
        return;
    m_decoded = true;
    Session session {};
    DecodeTarget target { ScreenColorDepth() <= 8, &m_bitmap, &m_decodedRows, &m_progressive };
    m_decodeError = RunSession(session, m_data.data(), m_data.size(), DecodeStep, &target);
    m_endedEarly = session.error.endedEarly;
    // Never decoded again: the bitmap is all that is drawn from now on.
    std::vector<uint8_t>().swap(m_data);
}

void TJPEGImage::DecodeWhole() {
    Decode();
    if (m_decodeError != 0)
        throw EJPEG(m_decodeError);
    if (m_endedEarly)
        throw EJPEG(JWRN_JPEG_EOF);
}

void TJPEGImage::Draw(QPainter& painter, int x, int y) {
    if (!m_decoded) {
        Decode();
        if (m_decodeError != 0)
            ReportDecodeError(m_decodeError);
    }
    if (m_decodedRows > 0)
        painter.drawImage(QPoint(x, y), m_bitmap, QRect(0, 0, m_bitmap.width(), m_decodedRows));
}

int TJPEGImage::ScreenColorDepth() {
    if (s_screenColorDepth == 0) {
        const QScreen* screen = QGuiApplication::primaryScreen();
        s_screenColorDepth = screen ? screen->depth() : 24;
    }
    return s_screenColorDepth;
}

void TJPEGImage::SetScreenColorDepth(int bits) {
    s_screenColorDepth = bits;
}
