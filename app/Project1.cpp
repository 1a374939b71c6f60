#include "app/CommandLine.h"
#include "app/PictureDirectory.h"
#include "app/ProcessSetUp.h"
#include "app/ProgramStart.h"
#include "app/Translation.h"
#include "app/Unit1.h"
#include "platform/Kernel.h"
#include "toolkit/widgets/TApplication.h"

#include <QApplication>

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
    OpenProgramWindows(commandLine);
    application.Run();
    return 0;
}
