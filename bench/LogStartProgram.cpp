// The program's start for BenchLog: the windows made and shown as main()
// makes and shows them, with "log.log" of the current directory in the log
// pane, up to the log pane's first painting in the event loop; then
// "painted" on standard output, "whole" once the event loop has turned
// again (when the pane holds the whole log), and the end the program takes
// when its window is closed. Errors go to standard output too, each on a line before
// that one, instead of a box that would wait for a click.
#include "app/Unit1.h"
#include "app/Unit2.h"
#include "toolkit/widgets/TApplication.h"
#include "toolkit/widgets/TJPEGImage.h"
#include "toolkit/widgets/TMemo.h"

#include <QApplication>
#include <QPaintEvent>
#include <QTimer>

#include <cstdio>

namespace {

// Paints the pane it watches and tells that it did; when the event loop
// turns again, tells so and closes the window.
class TFirstPaint : public QObject {
public:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::Paint)
            return false;
        watched->removeEventFilter(this);
        QCoreApplication::sendEvent(watched, event);
        std::puts("painted");
        std::fflush(stdout);
        QTimer::singleShot(0, Form1, [] {
            std::puts("whole");
            std::fflush(stdout);
            Form1->close();
        });
        return true;
    }
};

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication qtApp(argc, argv);
    TApplication application;
    application.Initialize();
    application.SetErrorPresenter(
        [](const std::string&, const std::string& text) { std::printf("%s\n", text.c_str()); });
    TJPEGImage::ScreenColorDepth();
    Form1 = application.CreateForm<TForm1>();
    Form2 = application.CreateForm<TForm2>();
    TFirstPaint firstPaint;
    Form1->Memo1->viewport()->installEventFilter(&firstPaint);
    application.Run();
    return 0;
}
