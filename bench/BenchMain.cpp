// The main of every benchmark program: the components wait in Qt's event
// loop, so a core application exists for the whole run. A program that
// drives windows (BENCH_WIDGETS) gets a widget application instead, on the
// offscreen platform, which needs no display.
#include <benchmark/benchmark.h>

#ifdef BENCH_WIDGETS
#include <QApplication>
using TBenchApplication = QApplication;
#else
#include <QCoreApplication>
using TBenchApplication = QCoreApplication;
#endif

int main(int argc, char** argv) {
#ifdef BENCH_WIDGETS
    qputenv("QT_QPA_PLATFORM", "offscreen");
#endif
    TBenchApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
