// The whole download run: the real main window on the offscreen platform,
// its number boxes filled and its download button clicked, against the demo
// site (generate-demo-site) served by a local nginx. Each run fetches every
// number's page, saves its picture unless present, shows it and logs it.
//
// WholeRun/numbers:N/present:0 starts with an empty picture directory, so
// every picture is downloaded; present:1 repeats a run over the directory
// that an untimed run has just filled. Each is run three times and the
// median counts. Counters: ms_per_number, and
// peak_rss_mib, the peak resident memory of the process during the run (the
// kernel's high-water mark, reset just before the click), and added_rss_mib,
// what that peak lies above the resident memory before the click. Memory
// that does not grow with the pictures shows as the same peak for 50 and
// for 100 numbers.
//
// PictureShown/50MB: a run of one number whose picture is a 50 MB file
// holding a 1920 x 1200 JPEG picture (the rest comes after the picture's
// end), taken, shown in the main window and handed to the hidden viewer as
// the program does. Counters: added_rss_mib, the peak resident memory above
// the idle windows', and budget_mib, the picture decoded (24 bits a pixel)
// and its file plus 40 MiB.
#include "app/Unit1.h"
#include "app/Unit2.h"
#include "bench/BenchNginx.h"
#include "bench/BenchStats.h"
#include "tests/support/JpegEncoder.h"
#include "tests/support/RunWindows.h"
#include "toolkit/widgets/TImage.h"
#include "toolkit/widgets/TSpinEdit.h"

#include <QDir>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

constexpr int kHighestNumber = 100;
// The number whose page names the large picture.
constexpr int kLargePictureNumber = 1000;
constexpr int kLargeWidth = 1920;
constexpr int kLargeHeight = 1200;
constexpr size_t kLargeFileSize = 50 * 1000 * 1000;

// The demo site for numbers 1 to 100, generated once into nginx's root.
BenchNginx& Site() {
    static std::unique_ptr<BenchNginx> site;
    if (!site) {
        site = std::make_unique<BenchNginx>();
        QProcess generator;
        generator.start(GENERATE_DEMO_SITE,
                        { QString::fromStdString(site->Directory() + "html"), "--base",
                          QString::fromStdString(site->Url("")), "--first", "1", "--last",
                          QString::number(kHighestNumber) });
        if (!generator.waitForFinished(600000) || generator.exitCode() != 0)
            throw std::runtime_error("generate-demo-site failed: " +
                                     generator.readAllStandardError().toStdString());
    }
    return *site;
}

// A field of /proc/self/status in KiB ("VmRSS", "VmHWM").
long StatusKiB(const std::string& field) {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind(field + ":", 0) == 0)
            return std::stol(line.substr(field.size() + 1));
    return -1;
}

// Starts the peak resident memory (VmHWM) afresh from the current one.
void ResetPeakResident() {
    std::ofstream("/proc/self/clear_refs") << "5";
}

// The program's windows (see RunWindows) over the demo site, shown.
class TRunWindow : public RunWindows {
public:
    explicit TRunWindow(const std::string& pictureDirectory) {
        Open(pictureDirectory);
        Form1->SiteAddress = Site().Url("");
        Form1->show();
        m_application->ProcessMessages();
    }

    // The whole run happens inside the click; an error ends it in the
    // error box, which the recorder took.
    void Download(int from, int to) {
        Form1->SpinEdit1->SetText(QString::number(from));
        Form1->SpinEdit2->SetText(QString::number(to));
        Form1->Button2->click();
    }
};

void WholeRun(benchmark::State& state) {
    const auto numbers = static_cast<int>(state.range(0));
    const bool present = state.range(1) != 0;
    Site();
    for (auto _ : state) {
        QTemporaryDir pictures;
        TRunWindow window(pictures.path().toStdString());
        if (present)
            window.Download(1, numbers);
        const double residentBefore = static_cast<double>(StatusKiB("VmRSS"));
        ResetPeakResident();
        const auto start = BenchStats::Clock::now();
        window.Download(1, numbers);
        const double seconds = BenchStats::SecondsSince(start);
        state.SetIterationTime(seconds);
        const double peak = static_cast<double>(StatusKiB("VmHWM"));
        state.counters["ms_per_number"] = seconds * 1e3 / numbers;
        state.counters["peak_rss_mib"] = peak / 1024;
        state.counters["added_rss_mib"] = (peak - residentBefore) / 1024;
        if (!window.Errors().empty())
            state.SkipWithError(("the run failed: " + window.Errors().front()).c_str());
        else if (QDir(pictures.path()).entryList(QDir::Files).size() != numbers)
            state.SkipWithError("the run saved a picture too few or too many");
    }
}

// A page for kLargePictureNumber that names a 50 MB file with a 1920 x 1200
// picture, beside the demo site's pages.
void AddLargePicture() {
    static bool added = false;
    if (added)
        return;
    added = true;
    JpegEncoder encoder;
    encoder.width = kLargeWidth;
    encoder.height = kLargeHeight;
    encoder.row = [](int y, JSAMPLE* rgb) {
        for (int x = 0; x < kLargeWidth; ++x) {
            rgb[x * 3] = static_cast<JSAMPLE>(x * 7 + y);
            rgb[x * 3 + 1] = static_cast<JSAMPLE>(y * 3);
            rgb[x * 3 + 2] = static_cast<JSAMPLE>((x ^ y) & 0xFF);
        }
    };
    std::string picture = encoder.Encode();
    picture.resize(kLargeFileSize, '\x55');
    const std::string page =
        "wallpapers/get/id/" + std::to_string(kLargePictureNumber) + "/resolution/1024x768";
    std::filesystem::create_directories(
        std::filesystem::path(Site().Directory() + "html/" + page).parent_path());
    std::filesystem::create_directories(Site().Directory() + "html/large");
    Site().WriteFile("large/large.jpg", picture);
    Site().WriteFile(page, "<html><body>\n<img class=\"wallpaper\" src=\"" +
                               Site().Url("/large/large.jpg") + "\">\n</body></html>\n");
}

void PictureShown(benchmark::State& state) {
    AddLargePicture();
    for (auto _ : state) {
        QTemporaryDir pictures;
        TRunWindow window(pictures.path().toStdString());
        const double residentBefore = static_cast<double>(StatusKiB("VmRSS"));
        ResetPeakResident();
        const auto start = BenchStats::Clock::now();
        window.Download(kLargePictureNumber, kLargePictureNumber);
        Form1->repaint();
        state.SetIterationTime(BenchStats::SecondsSince(start));
        const double peak = static_cast<double>(StatusKiB("VmHWM"));
        state.counters["added_rss_mib"] = (peak - residentBefore) / 1024;
        state.counters["budget_mib"] =
            (kLargeWidth * kLargeHeight * 3.0 + static_cast<double>(kLargeFileSize)) / 1048576 + 40;
        if (!window.Errors().empty())
            state.SkipWithError(("the run failed: " + window.Errors().front()).c_str());
        else if (Form1->Image1->Graphic() == nullptr ||
                 Form1->Image1->Graphic()->Width() != kLargeWidth ||
                 Form2->Image1->Graphic() != Form1->Image1->Graphic())
            state.SkipWithError("the picture was not shown");
    }
}

} // namespace

BENCHMARK(PictureShown)
    ->Name("PictureShown/50MB")
    ->UseManualTime()
    ->Iterations(1)
    ->Repetitions(3)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(WholeRun)
    ->ArgNames({ "numbers", "present" })
    ->Args({ 50, 0 })
    ->Args({ kHighestNumber, 0 })
    ->Args({ kHighestNumber, 1 })
    ->UseManualTime()
    ->Iterations(1)
    ->Repetitions(3)
    ->Unit(benchmark::kMillisecond);
