// Decompression bombs: small files that announce a huge picture or make the
// decoder walk the picture thousands of times must fail with a clear error.
#include "tests/support/JpegEncoder.h"
#include "tests/support/JpegFixtures.h"
#include "toolkit/widgets/GraphicErrors.h"
#include "toolkit/widgets/LoadPictureFile.h"
#include "toolkit/widgets/TApplication.h"
#include "toolkit/widgets/TImage.h"
#include "toolkit/widgets/TJPEGImage.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTemporaryDir>

#include <algorithm>
#include <ctime>
#include <fstream>
#include <vector>

namespace {

std::vector<uint8_t> Bytes(const std::string& text) {
    return { text.begin(), text.end() };
}

// A valid file whose frame header claims width x height: the first scan
// holds far fewer blocks than that, which only the decoding would notice.
std::string WithClaimedSize(std::string jpeg, int width, int height) {
    size_t frame = jpeg.find("\xFF\xC0");
    if (frame == std::string::npos)
        frame = jpeg.find("\xFF\xC2");
    EXPECT_NE(frame, std::string::npos);
    jpeg[frame + 5] = static_cast<char>(height >> 8);
    jpeg[frame + 6] = static_cast<char>(height & 0xFF);
    jpeg[frame + 7] = static_cast<char>(width >> 8);
    jpeg[frame + 8] = static_cast<char>(width & 0xFF);
    return jpeg;
}

// A valid progressive 16 x 16 colour picture made of exactly `scans` scans
// (190 to 2,080): one DC scan for all components, then for every component
// and every AC coefficient a first scan and up to ten refinement scans, one
// bit each, as many as the count needs.
std::string MakeManyScanJpeg(int scans) {
    std::vector<jpeg_scan_info> script;
    script.push_back({ 3, { 0, 1, 2, 0 }, 0, 0, 0, 0 });
    int extra = scans - 1 - 3 * 63;
    EXPECT_GE(extra, 0);
    for (int component = 0; component < 3; ++component) {
        for (int k = 1; k <= 63; ++k) {
            const int bits = std::min(extra, 10);
            extra -= bits;
            script.push_back({ 1, { component, 0, 0, 0 }, k, k, 0, bits });
            for (int bit = bits; bit > 0; --bit)
                script.push_back({ 1, { component, 0, 0, 0 }, k, k, bit, bit - 1 });
        }
    }
    EXPECT_EQ(extra, 0) << "more scans asked for than one picture can hold";

    JpegEncoder encoder;
    encoder.width = 16;
    encoder.height = 16;
    encoder.scans = script;
    encoder.row = [](int y, JSAMPLE* rgb) {
        for (int i = 0; i < 16 * 3; ++i)
            rgb[i] = static_cast<JSAMPLE>(i * 5 + y * 13);
    };
    return encoder.Encode();
}

int ScanCount(const std::string& jpeg) {
    int count = 0;
    for (size_t at = jpeg.find("\xFF\xDA"); at != std::string::npos;
         at = jpeg.find("\xFF\xDA", at + 2))
        ++count;
    return count;
}

class JPEGBomb : public ::testing::Test {
protected:
    JPEGBomb() {
        TJPEGImage::SetScreenColorDepth(24);
        m_app.SetErrorPresenter(
            [this](const std::string&, const std::string& text) { m_errors.push_back(text); });
    }

    std::string WriteFile(const std::string& name, const std::string& content) {
        const std::string path = m_dir.path().toStdString() + "/" + name;
        std::ofstream(path, std::ios::binary) << content;
        return path;
    }

    TApplication m_app;
    std::vector<std::string> m_errors;
    QTemporaryDir m_dir;
};

} // namespace

TEST_F(JPEGBomb, MoreThanOneHundredMegapixelsFailsAtLoad) {
    const std::string small = MakeJpeg(32, 32);
    TJPEGImage picture;
    picture.LoadFromBytes(Bytes(small));

    const auto errorOf = [&](int width, int height) -> std::string {
        try {
            picture.LoadFromBytes(Bytes(WithClaimedSize(small, width, height)));
        } catch (const EJPEG& e) {
            EXPECT_EQ(e.Code, JpegTooManyPixels);
            return e.Message();
        }
        return "";
    };
    const std::string tooLarge = "JPEG picture too large: more than 100 megapixels";
    EXPECT_EQ(errorOf(65500, 65500), tooLarge) << "the largest size a frame header can hold";
    EXPECT_EQ(errorOf(10001, 10000), tooLarge);
    EXPECT_EQ(errorOf(65500, 1527), tooLarge) << "one wide row band over the limit";
    EXPECT_EQ(picture.Width(), 32) << "a refused load keeps the picture held before";

    // Exactly 100 megapixels is allowed; only the header is read here.
    EXPECT_EQ(errorOf(10000, 10000), "");
    EXPECT_EQ(picture.Width(), 10000);
    EXPECT_EQ(picture.Height(), 10000);
    EXPECT_EQ(errorOf(65500, 1526), "");

    // Through the program's picture loading the refusal is an ordinary
    // load error: the control keeps its picture and nothing is decoded.
    TImage image;
    LoadPictureFile(image, WriteFile("1.jpg", small));
    TGraphic* before = image.Graphic();
    try {
        LoadPictureFile(image, WriteFile("2.jpg", WithClaimedSize(small, 20000, 20000)));
        ADD_FAILURE() << "the bomb loaded";
    } catch (const EJPEG& e) {
        EXPECT_EQ(e.Message(), tooLarge);
    }
    EXPECT_EQ(image.Graphic(), before);
}

TEST_F(JPEGBomb, MoreThanAThousandScansFailsWhileDecoding) {
    {
        SCOPED_TRACE("1,000 scans decode");
        const std::string jpeg = MakeManyScanJpeg(1000);
        ASSERT_EQ(ScanCount(jpeg), 1000);
        TJPEGImage picture;
        picture.LoadFromBytes(Bytes(jpeg));
        EXPECT_TRUE(picture.ProgressiveEncoding());
        picture.Decode();
        EXPECT_EQ(picture.DecodeError(), 0);
        EXPECT_EQ(picture.DecodedRows(), 16);
    }
    for (int scans : { 1001, 2080 }) {
        SCOPED_TRACE(std::to_string(scans) + " scans");
        const std::string jpeg = MakeManyScanJpeg(scans);
        ASSERT_EQ(ScanCount(jpeg), scans);
        TJPEGImage picture;
        picture.LoadFromBytes(Bytes(jpeg)); // the header alone is harmless
        picture.Decode();
        EXPECT_EQ(picture.DecodeError(), JpegTooManyScans);
        EXPECT_EQ(picture.DecodedRows(), 0);
    }

    // At the first drawing the refusal reaches the error box once.
    TImage image;
    image.resize(50, 50);
    LoadPictureFile(image, WriteFile("3.jpg", MakeManyScanJpeg(1500)));
    image.grab();
    QCoreApplication::processEvents();
    image.grab();
    QCoreApplication::processEvents();
    EXPECT_EQ(m_errors,
              std::vector<std::string> { "JPEG picture has too many scans: more than 1000." });
}

namespace {

// A flat colour picture in libjpeg's standard
// progression whose last scan is repeated until it holds `scans` scans: the
// file stays small while it asks for the work of 64 megapixels in each scan.
// Repeated refinements only make the decoder warn, so the bound is what
// stops it.
std::string MakeFlatManyScanJpeg(int width, int height, int scans) {
    JpegEncoder encoder;
    encoder.width = width;
    encoder.height = height;
    encoder.progressive = true;
    encoder.row = [width](int y, JSAMPLE* rgb) {
        std::fill(rgb, rgb + width * 3, static_cast<JSAMPLE>(100 + (y & 1)));
    };
    std::string jpeg = encoder.Encode();
    const size_t lastScan = jpeg.rfind("\xFF\xDA");
    const std::string repeated = jpeg.substr(lastScan, jpeg.size() - 2 - lastScan);
    std::string tail;
    for (int i = ScanCount(jpeg); i < scans; ++i)
        tail += repeated;
    jpeg.insert(jpeg.size() - 2, tail);
    return jpeg;
}

double ThreadSeconds() {
    timespec now {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

} // namespace

TEST_F(JPEGBomb, DecodingWorkBeyondAHundredMegapixelsInTenScansIsRefusedEarly) {
    const std::string bomb = MakeFlatManyScanJpeg(8000, 8000, 991);
    ASSERT_EQ(ScanCount(bomb), 991);
    EXPECT_LT(bomb.size(), size_t { 1024 * 1024 });
    TJPEGImage picture;
    picture.LoadFromBytes(Bytes(bomb));
    EXPECT_EQ(picture.Width(), 8000);
    const double start = ThreadSeconds();
    picture.Decode();
    // Unbounded, the decoding took tens of seconds; refused at the 16th scan
    // it takes a fraction of one (the limit is generous for a loaded,
    // instrumented build).
    EXPECT_LT(ThreadSeconds() - start, 8.0);
    EXPECT_EQ(picture.DecodeError(), JpegTooMuchWork);
    EXPECT_EQ(picture.DecodedRows(), 0);
    EXPECT_EQ(EJPEG(JpegTooMuchWork).Message(), "JPEG picture needs too much decoding work");

    // At the first drawing the refusal reaches the error box once.
    TImage image;
    image.resize(50, 50);
    LoadPictureFile(image, WriteFile("4.jpg", bomb));
    image.grab();
    QCoreApplication::processEvents();
    EXPECT_EQ(m_errors, std::vector<std::string> { "JPEG picture needs too much decoding work." });
}

TEST_F(JPEGBomb, OrdinaryProgressivePicturesUpToOneHundredMegapixelsDecode) {
    const std::string jpeg = MakeFlatManyScanJpeg(10000, 10000, 10);
    ASSERT_EQ(ScanCount(jpeg), 10);
    TJPEGImage picture;
    picture.LoadFromBytes(Bytes(jpeg));
    picture.Decode();
    EXPECT_EQ(picture.DecodeError(), 0);
    EXPECT_EQ(picture.DecodedRows(), 10000);
    EXPECT_FALSE(picture.DecodeEndedEarly());
}
