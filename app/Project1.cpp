#include "app/Unit1.h"
#include "app/Unit2.h"
#include "net/TComponent.h"
#include "toolkit/widgets/TApplication.h"
#include "toolkit/widgets/TJPEGImage.h"

#include <QApplication>

#include <utility>

int main(int argc, char** argv) {
    QApplication qtApp(argc, argv);
    TApplication application;
    application.Initialize();
    // The colour depth decides how every picture is decoded; it is the
    // screen's depth when the program starts, not when a picture is drawn.
    TJPEGImage::ScreenColorDepth();
    // Errors raised inside the network components' timer handlers reach the
    // same error box as those of the windows' own handlers.
    SetComponentExceptionHandler(
        [](std::exception_ptr error) { Application->HandleException(std::move(error)); });
    Form1 = application.CreateForm<TForm1>();
    Form2 = application.CreateForm<TForm2>();
    application.Run();
    return 0;
}
