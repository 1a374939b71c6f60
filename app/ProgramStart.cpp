#include "app/ProgramStart.h"

#include "app/CommandLine.h"
#include "app/ProxySetting.h"
#include "app/Unit1.h"
#include "app/Unit2.h"
#include "net/TComponent.h"
#include "toolkit/widgets/TApplication.h"
#include "toolkit/widgets/TJPEGImage.h"

#include <QCoreApplication>
#include <QThread>

#include <utility>

void OpenProgramWindows(const TCommandLine& commandLine) {
    // The colour depth decides how every picture is decoded; it is the
    // screen's depth when the program starts, not when a picture is drawn.
    TJPEGImage::ScreenColorDepth();
    // Errors raised inside the network components' timer handlers reach the
    // same error box as those of the windows' own handlers; a component on
    // a worker thread hands its error to the window's thread.
    SetComponentExceptionHandler([](std::exception_ptr error) {
        if (QThread::currentThread() == qApp->thread()) {
            Application->HandleException(std::move(error));
            return;
        }
        QMetaObject::invokeMethod(
            qApp, [error] { Application->HandleException(error); }, Qt::QueuedConnection);
    });
    Form1 = Application->CreateForm<TForm1>();
    Form1->SiteAddress = commandLine.SiteAddress;
    // The window chose the pages' proxy for the built-in site.
    UsePageProxy(Form1->KvHTTP1, Form1->SiteAddress);
    Form1->PictureDirectory = commandLine.PictureDirectory;
    Form1->Parallel = commandLine.Parallel;
    Form2 = Application->CreateForm<TForm2>();
}
