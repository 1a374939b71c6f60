// The log pane with logs of growing size, in the real main window on the
// offscreen platform.
//
// LogStart/log_bytes:N: the program's start, from starting its process to
// the log pane's first painting, with a "log.log" of N bytes that the
// window loads into the pane (BenchLogStart makes and shows the windows as
// main() does); 0, 1 MB and the pane's whole capacity (8 MiB) of six-digit
// numbers. Counter whole_ms: the time until the pane holds the whole log,
// which it takes in two steps when it is long.
//
// LogClose/log_bytes:N: closing the main window and ending the program, which
// saves the whole log twice (at the close and when the window is
// destroyed).
//
// LogAppend/interleaved: what each number costs the log: the pane's AddLine
// and the log file's Append (to the disk), then the events that repaint the
// pane; taking turns between a pane that started empty and one that started
// with an 8 MiB log, in blocks of 10 numbers. Counters: the median number's
// time of each (empty_us, full_us), and of the pane's part alone, AddLine
// and the repainting (empty_pane_us, full_pane_us).
#include "app/LogFile.h"
#include "app/Unit1.h"
#include "app/Unit2.h"
#include "bench/BenchStats.h"
#include "toolkit/widgets/TApplication.h"
#include "toolkit/widgets/TMemo.h"

#include <QApplication>
#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

#include <fstream>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace {

constexpr int64_t kFullLog = int64_t { 8 } * 1024 * 1024;

// A log of six-digit numbers, one a line, of exactly `size` bytes.
std::string LogOfSize(size_t size) {
    std::string log;
    log.reserve(size + 16);
    for (int number = 100000; log.size() < size; number = number == 999999 ? 100000 : number + 1)
        log += std::to_string(number) + "\r\n";
    log.resize(size);
    if (size >= 2)
        log.replace(size - 2, 2, "\r\n");
    return log;
}

void WriteLog(const std::string& path, size_t size) {
    std::ofstream(path, std::ios::binary) << LogOfSize(size);
}

// A temporary current directory for "log.log", left at the end.
class TLogDirectory {
public:
    TLogDirectory() : m_oldDirectory(QDir::currentPath()) { QDir::setCurrent(m_dir.path()); }
    ~TLogDirectory() { QDir::setCurrent(m_oldDirectory); }
    TLogDirectory(const TLogDirectory&) = delete;
    TLogDirectory& operator=(const TLogDirectory&) = delete;

private:
    QTemporaryDir m_dir;
    QString m_oldDirectory;
};

// The program's windows as main() makes them, the main one shown and painted.
std::unique_ptr<TApplication> StartProgram(std::vector<std::string>& errors) {
    auto application = std::make_unique<TApplication>();
    application->SetErrorPresenter(
        [&errors](const std::string&, const std::string& text) { errors.push_back(text); });
    Form1 = application->CreateForm<TForm1>();
    Form2 = application->CreateForm<TForm2>();
    Form1->show();
    application->ProcessMessages();
    Form1->repaint();
    return application;
}

QByteArray ReadLine(QProcess& program) {
    while (!program.canReadLine() && program.waitForReadyRead(60000)) {
    }
    return program.readLine();
}

void LogStart(benchmark::State& state) {
    const auto size = static_cast<size_t>(state.range(0));
    QTemporaryDir directory;
    const std::string log = directory.filePath(LogFileName).toStdString();
    for (auto _ : state) {
        WriteLog(log, size);
        QProcess program;
        program.setWorkingDirectory(directory.path());
        const auto start = BenchStats::Clock::now();
        program.start(LOG_START_PROGRAM, QStringList {});
        const QByteArray painted = ReadLine(program);
        state.SetIterationTime(BenchStats::SecondsSince(start));
        const QByteArray whole = ReadLine(program);
        state.counters["whole_ms"] = BenchStats::SecondsSince(start) * 1e3;
        program.waitForFinished(60000);
        if (painted != "painted\n" || whole != "whole\n")
            state.SkipWithError(("the program did not start: " + painted.toStdString()).c_str());
    }
}

void LogClose(benchmark::State& state) {
    const auto size = static_cast<size_t>(state.range(0));
    TLogDirectory directory;
    for (auto _ : state) {
        state.PauseTiming();
        WriteLog(LogFileName, size);
        std::vector<std::string> errors;
        std::unique_ptr<TApplication> application = StartProgram(errors);
        state.ResumeTiming();
        const auto start = BenchStats::Clock::now();
        Form1->close();
        application.reset();
        state.SetIterationTime(BenchStats::SecondsSince(start));
        if (!errors.empty())
            state.SkipWithError(errors.front().c_str());
    }
}

// A pane in a window with its log file, as the main window keeps them.
struct TLoggedPane {
    TLoggedPane(const std::string& path, size_t size) : Log(path) {
        WriteLog(path, size);
        Window.resize(772, 200);
        Pane = new TMemo(&Window);
        Pane->setGeometry(8, 40, 457, 97);
        // Room for the numbers added beyond a full log.
        Pane->SetCapacity(TMemo::DefaultCapacity * 2);
        Window.show();
        Log.Load(*Pane);
        // The pane paints its first lines, then takes the rest of a long log.
        QApplication::processEvents();
        QApplication::processEvents();
    }

    // The number's whole time, and the pane's part of it (AddLine and the
    // repainting), in microseconds.
    std::pair<double, double> AddNumber(int number) {
        const auto start = BenchStats::Clock::now();
        const std::string piece = Pane->AddLine(std::to_string(number));
        const auto appending = BenchStats::Clock::now();
        Log.Append(*Pane, piece);
        const double appended = BenchStats::SecondsSince(appending);
        QApplication::processEvents();
        const double whole = BenchStats::SecondsSince(start);
        return { whole * 1e6, (whole - appended) * 1e6 };
    }

    QWidget Window;
    TMemo* Pane { nullptr };
    LogFile Log;
};

void LogAppend(benchmark::State& state) {
    QTemporaryDir directory;
    TLoggedPane empty(directory.filePath("empty.log").toStdString(), 0);
    TLoggedPane full(directory.filePath("full.log").toStdString(), kFullLog);
    constexpr int kBlock = 10;
    constexpr int kBlocks = 40;
    int number = 200;
    for (auto _ : state) {
        std::vector<double> emptyTimes;
        std::vector<double> fullTimes;
        std::vector<double> emptyPane;
        std::vector<double> fullPane;
        for (int block = 0; block < kBlocks; ++block) {
            for (int i = 0; i < kBlock; ++i) {
                const auto [whole, pane] = empty.AddNumber(number++);
                emptyTimes.push_back(whole);
                emptyPane.push_back(pane);
            }
            for (int i = 0; i < kBlock; ++i) {
                const auto [whole, pane] = full.AddNumber(number++);
                fullTimes.push_back(whole);
                fullPane.push_back(pane);
            }
        }
        const double emptyMedian = BenchStats::Median(emptyTimes);
        const double fullMedian = BenchStats::Median(fullTimes);
        state.SetIterationTime((emptyMedian + fullMedian) * 1e-6);
        state.counters["empty_us"] = emptyMedian;
        state.counters["full_us"] = fullMedian;
        state.counters["ratio"] = fullMedian / emptyMedian;
        state.counters["empty_pane_us"] = BenchStats::Median(emptyPane);
        state.counters["full_pane_us"] = BenchStats::Median(fullPane);
    }
}

} // namespace

BENCHMARK(LogStart)
    ->ArgName("log_bytes")
    ->Arg(0)
    ->Arg(1000000)
    ->Arg(kFullLog)
    ->UseManualTime()
    ->Iterations(1)
    ->Repetitions(7)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(LogClose)
    ->ArgName("log_bytes")
    ->Arg(0)
    ->Arg(kFullLog)
    ->UseManualTime()
    ->Iterations(1)
    ->Repetitions(5)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(LogAppend)
    ->Name("LogAppend/interleaved")
    ->UseManualTime()
    ->Iterations(1)
    ->Repetitions(5)
    ->Unit(benchmark::kMicrosecond);
