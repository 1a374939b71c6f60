#include <QApplication>
#include <QTemporaryDir>
#include <gtest/gtest.h>

// The sanitizers read their options before main, from these functions when
// the program defines them; they live here because every test program links
// this file, and a ctest environment list reaches the tests only in part.
// A build without the sanitizers never calls them.
extern "C" {
const char* __asan_default_options() {
    return "detect_leaks=1:abort_on_error=1:strict_string_checks=1";
}
const char* __ubsan_default_options() {
    return "print_stacktrace=1:halt_on_error=1";
}
// Leaks inside system libraries that the program cannot free.
const char* __lsan_default_suppressions() {
    return "leak:libfontconfig\n"
           "leak:libQt6Gui\n"
           "leak:libdbus\n";
}
}

// Every test program gets a Qt application on the offscreen platform, so the
// event loop, timers and widgets behave as in the program without a display.
int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // A runtime folder of this process's own (made 0700), so that Qt finds
    // one without a warning and no two test programs share it.
    const QTemporaryDir runtime;
    if (runtime.isValid())
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
