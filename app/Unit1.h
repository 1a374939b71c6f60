#pragma once

#include "toolkit/widgets/TForm.h"

#include <cstdint>

class QLabel;
class QLineEdit;
class QPushButton;
class QScrollArea;
class TImage;
class TMemo;
class TPanel;
class TSpinEdit;

// The main window: the range of wallpaper numbers, the download and stop
// buttons, the log pane kept in "log.log", the address line and the picture
// pane. The controls are public, as the download run and the tests work on
// them directly; Qt's parent links own them.
class TForm1 : public TForm {
    Q_OBJECT
public:
    TForm1();
    // Runs FormDestroy; an error there is shown and the program still ends.
    ~TForm1() override;

    TPanel* Panel1 { nullptr };
    QPushButton* Button2 { nullptr };
    QPushButton* Button3 { nullptr };
    TMemo* Memo1 { nullptr };
    QLineEdit* Edit1 { nullptr };
    QLabel* Label1 { nullptr };
    TSpinEdit* SpinEdit1 { nullptr };
    QLabel* Label2 { nullptr };
    TSpinEdit* SpinEdit2 { nullptr };
    QScrollArea* ScrollBox1 { nullptr };
    TImage* Image1 { nullptr };

    // KvHTTP1, the HTTP component that the download run fetches pages with,
    // is a member here, beside the controls.

    // StopFlag := 0, then load "log.log" into the log pane.
    void FormShow() override;
    // The download run over the number range.
    void Button2Click();
    // Toggles StopFlag; the caption names the button's next action.
    void Button3Click();
    // Opens a new viewer, which becomes the current one (Form2).
    void Image1DblClick();
    // Saves the log pane to "log.log"; on failure the window stays open.
    void FormClose() override;
    // Saves the log pane to "log.log" once more at program end.
    void FormDestroy();
};

// The log file's name, resolved against the current directory at each load
// and save (pictures go to the program's directory instead).
inline constexpr const char* LogFileName = "log.log";

// Program-wide state, on the user-interface thread only.
extern TForm1* Form1;
// 1 when the stop button has been pressed an odd number of times since the
// main window was shown; the download run ends at its next test of it.
extern uint8_t StopFlag;
// The wallpaper number that the download run is working on.
extern int32_t CurrentNumber;
