#include "tests/support/JpegFixtures.h"
#include "toolkit/widgets/GraphicErrors.h"
#include "toolkit/widgets/LoadPictureFile.h"
#include "toolkit/widgets/TApplication.h"
#include "toolkit/widgets/TImage.h"
#include "toolkit/widgets/TJPEGImage.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QScrollArea>
#include <QScrollBar>
#include <QSet>
#include <QTemporaryDir>

#include <fstream>
#include <random>

namespace {

std::vector<uint8_t> Bytes(const std::string& text) {
    return { text.begin(), text.end() };
}

// A decoded pixel may differ from the pattern by compression losses.
void ExpectNear(QColor actual, QColor expected, int tolerance = 24) {
    EXPECT_NEAR(actual.red(), expected.red(), tolerance);
    EXPECT_NEAR(actual.green(), expected.green(), tolerance);
    EXPECT_NEAR(actual.blue(), expected.blue(), tolerance);
}

int DistinctColours(const QImage& image) {
    QSet<QRgb> colours;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            colours.insert(image.pixel(x, y));
    return static_cast<int>(colours.size());
}

class JPEGPicture : public ::testing::Test {
protected:
    JPEGPicture() {
        TJPEGImage::SetScreenColorDepth(24);
        m_app.SetErrorPresenter(
            [this](const std::string&, const std::string& text) { m_errors.push_back(text); });
    }
    ~JPEGPicture() override { TJPEGImage::SetScreenColorDepth(24); }

    std::string WriteFile(const std::string& name, const std::string& content) {
        const std::string path = m_dir.path().toStdString() + "/" + name;
        std::ofstream(path, std::ios::binary) << content;
        return path;
    }
    // Paints the control and lets the error report that follows a paint run.
    QImage Paint(TImage& image) {
        QImage shot = image.grab().toImage();
        QCoreApplication::processEvents();
        return shot;
    }

    TApplication m_app;
    std::vector<std::string> m_errors;
    QTemporaryDir m_dir;
};

} // namespace

TEST_F(JPEGPicture, LoadsTheHeaderAndDecodesAtFullSize) {
    struct Case {
        const char* name;
        int width, height;
        JpegKind kind;
        QImage::Format format;
    };
    const Case cases[] = {
        { "baseline", 100, 80, JpegKind::Baseline, QImage::Format_RGB888 },
        { "progressive", 320, 200, JpegKind::Progressive, QImage::Format_RGB888 },
        { "grayscale", 64, 48, JpegKind::Grayscale, QImage::Format_Indexed8 },
        { "cmyk", 40, 30, JpegKind::Cmyk, QImage::Format_RGB888 },
        { "large", 1920, 1200, JpegKind::Baseline, QImage::Format_RGB888 },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TJPEGImage picture;
        picture.LoadFromBytes(Bytes(MakeJpeg(c.width, c.height, c.kind)));
        EXPECT_EQ(picture.Width(), c.width);
        EXPECT_EQ(picture.Height(), c.height);
        EXPECT_EQ(picture.ProgressiveEncoding(), c.kind == JpegKind::Progressive);
        EXPECT_FALSE(picture.Decoded()) << "pixels wait for the first drawing";

        picture.Decode();
        EXPECT_EQ(picture.DecodeError(), 0);
        EXPECT_EQ(picture.DecodedRows(), c.height);
        EXPECT_EQ(picture.Bitmap().size(), QSize(c.width, c.height));
        EXPECT_EQ(picture.Bitmap().format(), c.format);
        if (c.kind == JpegKind::Grayscale) {
            EXPECT_LE(picture.Bitmap().colorCount(), 236);
            for (QRgb entry : picture.Bitmap().colorTable())
                EXPECT_TRUE(qRed(entry) == qGreen(entry) && qGreen(entry) == qBlue(entry));
        } else {
            ExpectNear(picture.Bitmap().pixelColor(4, 4), QColor(255, 0, 0));
            ExpectNear(picture.Bitmap().pixelColor(c.width - 3, c.height - 3),
                       JpegPatternColor(c.width, c.height, c.width - 3, c.height - 3));
        }
    }
}

TEST_F(JPEGPicture, LowColourScreenQuantisesTo236Colours) {
    const std::vector<uint8_t> jpeg = Bytes(MakeJpeg(256, 256));
    TJPEGImage trueColour;
    trueColour.LoadFromBytes(jpeg);
    trueColour.Decode();
    EXPECT_GT(DistinctColours(trueColour.Bitmap()), 236);

    TJPEGImage::SetScreenColorDepth(8);
    TJPEGImage quantised;
    quantised.LoadFromBytes(jpeg);
    quantised.Decode();
    EXPECT_EQ(quantised.DecodeError(), 0);
    EXPECT_EQ(quantised.Bitmap().format(), QImage::Format_Indexed8);
    EXPECT_LE(quantised.Bitmap().colorCount(), 236);
    EXPECT_GT(quantised.Bitmap().colorCount(), 100);
    ExpectNear(quantised.Bitmap().pixelColor(4, 4), QColor(255, 0, 0), 40);
}

TEST_F(JPEGPicture, DamagedDataFailsWithTheDecoderCode) {
    const std::string good = MakeJpeg(200, 160);
    TJPEGImage picture;
    // The code, then the text the user sees; the numbers are libjpeg's
    // message codes, which the text shows unchanged.
    auto errorOf = [&](const std::string& bytes) -> std::string {
        try {
            picture.LoadFromBytes(Bytes(bytes));
        } catch (const EJPEG& e) {
            return std::to_string(e.Code) + ": " + e.Message();
        }
        return "(no error)";
    };
    // Not a JPEG file.
    EXPECT_EQ(errorOf("<html><body>404 Not Found</body></html>"), "53: JPEG error #53");
    // Cut before the first scan: the end-of-image marker that the source
    // inserts comes where a scan should (no SOS marker).
    EXPECT_EQ(errorOf(good.substr(0, FirstScanOffset(good))), "59: JPEG error #59");
    EXPECT_EQ(picture.Width(), 0) << "failed loads keep what the picture held";

    // Cut in the middle of the scan: loads, decodes without complaint, and
    // every row exists (libjpeg fills the missing ones).
    const std::string cut =
        good.substr(0, FirstScanOffset(good) + (good.size() - FirstScanOffset(good)) / 2);
    EXPECT_EQ(errorOf(cut), "(no error)");
    picture.Decode();
    EXPECT_EQ(picture.DecodeError(), 0);
    EXPECT_EQ(picture.DecodedRows(), 160);
    EXPECT_TRUE(picture.DecodeEndedEarly()) << "but the decoder's warning is noted";
    const std::string progressive = MakeJpeg(200, 160, JpegKind::Progressive);
    EXPECT_EQ(errorOf(progressive.substr(0, progressive.size() - 200)), "(no error)");
    picture.Decode();
    EXPECT_TRUE(picture.DecodeEndedEarly()) << "a progressive file cut in a later scan";

    EXPECT_EQ(errorOf(good), "(no error)");
    picture.Decode();
    EXPECT_FALSE(picture.DecodeEndedEarly());
}

TEST_F(JPEGPicture, DecoderSurvivesCorruptedFiles) {
    // Deterministic damage: every fixture kind with bytes overwritten,
    // dropped or cut at many places. Nothing may crash or leak; errors are
    // fine.
    std::mt19937 random(1234);
    for (JpegKind kind :
         { JpegKind::Baseline, JpegKind::Progressive, JpegKind::Grayscale, JpegKind::Cmyk }) {
        const std::string good = MakeJpeg(48, 40, kind);
        for (int round = 0; round < 120; ++round) {
            std::string bad = good;
            const size_t at = random() % bad.size();
            switch (round % 3) {
            case 0:
                for (int i = 0; i < 4 && at + i < bad.size(); ++i)
                    bad[at + i] = static_cast<char>(random());
                break;
            case 1:
                bad.erase(at, 1 + random() % 16);
                break;
            default:
                bad.resize(at);
            }
            TJPEGImage picture;
            try {
                picture.LoadFromBytes(Bytes(bad));
            } catch (const EJPEG&) {
                continue;
            }
            picture.Decode();
            EXPECT_LE(picture.DecodedRows(), picture.Height());
        }
    }
}

TEST_F(JPEGPicture, FatalErrorWhileDecodingIsReportedOnceAndDrawsWhatWasDecoded) {
    // A progressive picture whose second scan claims impossible spectral
    // bands: the header is fine, the decoding fails.
    std::string bad = MakeJpeg(64, 64, JpegKind::Progressive);
    const size_t second = bad.find("\xFF\xDA", FirstScanOffset(bad) + 2);
    ASSERT_NE(second, std::string::npos);
    const size_t components = static_cast<uint8_t>(bad[second + 4]);
    bad[second + 5 + 2 * components] = 70; // Ss beyond 63
    const std::string path = WriteFile("bad.jpg", bad);

    TImage image;
    image.resize(100, 100);
    LoadPictureFile(image, path);
    Paint(image);
    ASSERT_EQ(m_errors.size(), 1u);
    // libjpeg's code for an impossible progression.
    EXPECT_EQ(m_errors[0], "JPEG error #16.");
    auto* picture = dynamic_cast<TJPEGImage*>(image.Graphic());
    ASSERT_NE(picture, nullptr);
    EXPECT_EQ(picture->DecodedRows(), 0);
    Paint(image);
    EXPECT_EQ(m_errors.size(), 1u) << "reported at the first drawing only";
}

TEST_F(JPEGPicture, LoadPictureFileKeepsThePreviousPictureOnFailure) {
    TImage image;
    image.SetAutoSize(true);
    image.resize(760, 425);
    LoadPictureFile(image, WriteFile("1.jpg", MakeJpeg(100, 80)));
    TGraphic* first = image.Graphic();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(image.size(), QSize(100, 80));

    auto errorOf = [&](const std::string& path) -> std::string {
        try {
            LoadPictureFile(image, path);
        } catch (const Exception& e) {
            return e.Message();
        }
        return "(no error)";
    };
    EXPECT_EQ(errorOf(WriteFile("page.jpg", "<html>Not Found</html>")), "JPEG error #53");
    EXPECT_EQ(errorOf(WriteFile("a.png", "x")), "Unknown picture file extension (.png)");
    EXPECT_EQ(errorOf(WriteFile("noext", "x")), "Unknown picture file extension (.)");
    const std::string missing = m_dir.path().toStdString() + "/missing.jpg";
    EXPECT_EQ(errorOf(missing), "Cannot open file \"" + missing + "\". No such file or directory");
    EXPECT_EQ(image.Graphic(), first);
    EXPECT_EQ(image.size(), QSize(100, 80));

    EXPECT_EQ(errorOf(WriteFile("UPPER.JPEG", MakeJpeg(30, 20))), "(no error)");
    EXPECT_EQ(image.size(), QSize(30, 20));
    EXPECT_TRUE(m_errors.empty());
}

TEST_F(JPEGPicture, EmptyFileLoadsAndReportsCode42AtTheFirstDrawing) {
    TImage image;
    image.SetAutoSize(true);
    image.resize(760, 425);
    LoadPictureFile(image, WriteFile("5.jpg", ""));
    EXPECT_EQ(image.Graphic()->Width(), 0);
    EXPECT_EQ(image.Graphic()->Height(), 0);
    EXPECT_EQ(image.size(), QSize(760, 425)) << "a 0 x 0 picture leaves the size alone";
    EXPECT_TRUE(m_errors.empty()) << "the load itself succeeds";

    Paint(image);
    EXPECT_EQ(m_errors, std::vector<std::string> { "JPEG error #42." });
    Paint(image);
    EXPECT_EQ(m_errors.size(), 1u);
}

TEST_F(JPEGPicture, DrawsAtNaturalSizeFromTheTopLeft) {
    QScrollArea box;
    box.resize(400, 300);
    auto* image = new TImage;
    image->SetAutoSize(true);
    box.setWidget(image);
    box.show();
    LoadPictureFile(*image, WriteFile("big.jpg", MakeJpeg(1920, 1200)));
    EXPECT_EQ(image->size(), QSize(1920, 1200));
    EXPECT_EQ(image->pos(), QPoint(0, 0));
    QCoreApplication::processEvents();
    EXPECT_TRUE(box.horizontalScrollBar()->isVisible());
    EXPECT_TRUE(box.verticalScrollBar()->isVisible());

    // A small picture in a larger control that does not size itself: drawn
    // once at the top-left, never stretched; the rest is the background.
    TImage pane;
    pane.resize(300, 200);
    LoadPictureFile(pane, WriteFile("small.jpg", MakeJpeg(100, 80)));
    EXPECT_EQ(pane.size(), QSize(300, 200));
    const QImage shot = Paint(pane);
    ExpectNear(shot.pixelColor(2, 2), QColor(255, 0, 0));
    ExpectNear(shot.pixelColor(97, 77), JpegPatternColor(100, 80, 97, 77));
    const QColor background = pane.palette().color(pane.backgroundRole());
    EXPECT_EQ(shot.pixelColor(150, 40), background);
    EXPECT_EQ(shot.pixelColor(50, 150), background);

    // A truncated picture draws without any message.
    const std::string good = MakeJpeg(100, 80);
    LoadPictureFile(pane, WriteFile("cut.jpg", good.substr(0, good.size() * 2 / 3)));
    Paint(pane);
    EXPECT_TRUE(m_errors.empty());
}
