#include "app/CommandLine.h"
#include "app/PictureDirectory.h"
#include "app/ProcessSetUp.h"
#include "app/ProxySetting.h"
#include "app/Translation.h"
#include "app/Unit1.h"
#include "app/Unit2.h"
#include "net/TComponent.h"
#include "platform/Kernel.h"
#include "toolkit/widgets/TApplication.h"
#include "toolkit/widgets/TJPEGImage.h"

#include <QApplication>
#include <QThread>

#include <cstdio>
#include <memory>
#include <utility>

namespace {

// Prints what a command line that opens no window asks for; the exit status.
int Answer(const TCommandLine& commandLine) {
    std::FILE* out = commandLine.Action == TCommandLine::TAction::Refuse ? stderr : stdout;
    std::fputs(commandLine.Text.c_str(), out);
    return commandLine.ExitStatus();
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication::setApplicationVersion(QStringLiteral(WALLPAPER_VERSION));
    // --help, --version and a command line that is refused are answered
    // before Qt's windowing starts, so that they need no display.
    {
        const QCoreApplication early(argc, argv);
        const TCommandLine commandLine = ParseCommandLine(
            WithoutToolkitOptions(QCoreApplication::arguments()), DefaultSiteAddress);
        if (commandLine.Action != TCommandLine::TAction::Run)
            return Answer(commandLine);
    }
    QApplication qtApp(argc, argv);
    // English or another language the locale asks for, before any window
    // chooses its texts.
    const std::unique_ptr<QTranslator> translation = InstallTranslation();
    // A start that cannot work ends here, before any window is made.
    const TCommandLine commandLine =
        ParseCommandLine(QApplication::arguments(), DefaultSiteAddress);
    if (commandLine.Action != TCommandLine::TAction::Run)
        return Answer(commandLine);
    SetUpProcess(commandLine.PictureDirectory.empty()
                     ? DefaultPictureDirectory(GetModuleDirectory())
                     : commandLine.PictureDirectory);

    TApplication application;
    application.Initialize();
    // The colour depth decides how every picture is decoded; it is the
    // screen's depth when the program starts, not when a picture is drawn.
    TJPEGImage::ScreenColorDepth();
    // Errors raised inside the network components' timer handlers reach the
    // same error box as those of the windows' own handlers.
    // A component fetching ahead on a worker thread hands its error to the
    // window's thread, where the error box lives.
    SetComponentExceptionHandler([](std::exception_ptr error) {
        if (QThread::currentThread() == qApp->thread()) {
            Application->HandleException(std::move(error));
            return;
        }
        QMetaObject::invokeMethod(
            qApp, [error] { Application->HandleException(error); }, Qt::QueuedConnection);
    });
    Form1 = application.CreateForm<TForm1>();
    Form1->SiteAddress = commandLine.SiteAddress;
    // The window chose the pages' proxy for the built-in site.
    UsePageProxy(Form1->KvHTTP1, Form1->SiteAddress);
    Form1->PictureDirectory = commandLine.PictureDirectory;
    Form1->Parallel = commandLine.Parallel;
    Form2 = application.CreateForm<TForm2>();
    application.Run();
    return 0;
}
