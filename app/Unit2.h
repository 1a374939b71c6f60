#pragma once

#include "toolkit/widgets/TForm.h"

class TImage;
class QKeyEvent;

// The viewer: a borderless, maximised window whose picture control fills it
// and shows its picture at natural size from the top-left corner, on the
// button-face background. Escape closes it; closing only hides it, and it
// lives until the application destroys its forms at program end.
class TForm2 : public TForm {
    Q_OBJECT
public:
    TForm2();
    ~TForm2() override;

    TImage* Image1 { nullptr };

protected:
    // Maximises the viewer through its own window state. (There is no hidden
    // application window here to post a maximise command to.)
    void FormShow() override;
    // A character typed while the viewer has the focus: Escape (27) closes
    // it, every other character does nothing.
    void FormKeyPress(char key);

    void keyPressEvent(QKeyEvent* event) override;
};

// The current viewer, which the download run loads every picture into; null
// when there is none.
extern TForm2* Form2;
