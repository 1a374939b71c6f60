#include "app/Unit2.h"

#include "toolkit/widgets/TImage.h"

#include <QVBoxLayout>

TForm2* Form2 = nullptr;

TForm2::TForm2() {
    setObjectName(QStringLiteral("Form2"));
    setWindowFlag(Qt::FramelessWindowHint);
    setWindowTitle(QStringLiteral("Form2"));
    move(219, 159);
    resize(688, 453);

    Image1 = new TImage(this);
    Image1->setObjectName(QStringLiteral("Image1"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(Image1);
}

TForm2::~TForm2() {
    if (Form2 == this)
        Form2 = nullptr;
}
