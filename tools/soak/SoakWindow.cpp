// The program as the soak (tools/soak/soak.py) runs it: started as
// app/Project1.cpp starts it, then driven as a user drives it. Once the
// window is up, FROM and TO are typed into "От:" and "До:" and the download
// button is clicked; when the run is over, the window is closed.
//
//     soak-window FROM TO [the program's options...]
//
// What a user would see goes to standard output, one line each, flushed at
// once, so that a kill loses none of it:
//     error: TEXT      an error box (dismissed at once, as with OK)
//     at N             the run works on number N now
//     run ended at N   the click came back: the run is over
//     window stays open   the close did not end the program (a failed save)
#include "app/CommandLine.h"
#include "app/PictureDirectory.h"
#include "app/ProcessSetUp.h"
#include "app/ProgramStart.h"
#include "app/Translation.h"
#include "app/Unit1.h"
#include "platform/Kernel.h"
#include "toolkit/widgets/TApplication.h"
#include "toolkit/widgets/TSpinEdit.h"

#include <QApplication>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <cstdio>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace {

// How often the current number is looked at for the "at N" lines.
constexpr int ProgressShownEvery = 100;

void Tell(const std::string& line) {
    std::fputs((line + "\n").c_str(), stdout);
    std::fflush(stdout);
}

// One line per error box, whatever line ends its text holds.
std::string OneLine(std::string text) {
    for (char& c : text)
        if (c == '\n' || c == '\r')
            c = ' ';
    return text;
}

// As a user types a number: into the box, over what it held.
void TypeInto(TSpinEdit& box, const char* text) {
    box.setFocus();
    box.selectAll();
    QTest::keyClicks(&box, QString::fromLatin1(text));
}

void RunAsUser(const char* from, const char* to) {
    TypeInto(*Form1->SpinEdit1, from);
    TypeInto(*Form1->SpinEdit2, to);
    QTimer progress;
    int32_t shown = CurrentNumber - 1;
    QObject::connect(&progress, &QTimer::timeout, [&shown] {
        if (CurrentNumber == shown)
            return;
        shown = CurrentNumber;
        Tell("at " + std::to_string(shown));
    });
    progress.start(ProgressShownEvery);
    // The click returns when the run is over: the run dispatches the
    // window's events itself while it works.
    QTest::mouseClick(Form1->Button2, Qt::LeftButton);
    progress.stop();
    Tell("run ended at " + std::to_string(CurrentNumber));
    Form1->close();
    if (!Application->Terminated())
        Tell("window stays open");
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fputs("usage: soak-window FROM TO [the program's options...]\n", stderr);
        return 2;
    }
    const char* const from = argv[1];
    const char* const to = argv[2];
    // The program's own command line: its name, then what follows the range.
    std::vector<char*> arguments { argv[0] };
    arguments.insert(arguments.end(), argv + 3, argv + argc);
    int count = static_cast<int>(arguments.size());

    QApplication qtApp(count, arguments.data());
    const std::unique_ptr<QTranslator> translation = InstallTranslation();
    const TCommandLine commandLine =
        ParseCommandLine(QApplication::arguments(), DefaultSiteAddress);
    if (commandLine.Action != TCommandLine::TAction::Run) {
        std::fputs(commandLine.Text.c_str(), stderr);
        return commandLine.ExitStatus();
    }
    SetUpProcess(commandLine.PictureDirectory.empty()
                     ? DefaultPictureDirectory(GetModuleDirectory())
                     : commandLine.PictureDirectory);

    TApplication application;
    application.Initialize();
    application.SetErrorPresenter(
        [](const std::string&, const std::string& text) { Tell("error: " + OneLine(text)); });
    OpenProgramWindows(commandLine);
    // Once the window is shown and has loaded the log, as a user would.
    QTimer::singleShot(0, Form1, [from, to] { RunAsUser(from, to); });
    application.Run();
    return 0;
}
