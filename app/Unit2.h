#pragma once

#include "toolkit/widgets/TForm.h"

class TImage;

// The viewer: a borderless window whose picture control fills it.
class TForm2 : public TForm {
    Q_OBJECT
public:
    TForm2();
    ~TForm2() override;

    TImage* Image1 { nullptr };
};

// The current viewer, which the download run loads every picture into; null
// when there is none.
extern TForm2* Form2;
