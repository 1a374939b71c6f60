#include <QApplication>
#include <gtest/gtest.h>

// Every test program gets a Qt application on the offscreen platform, so the
// event loop, timers and widgets behave as in the program without a display.
int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
