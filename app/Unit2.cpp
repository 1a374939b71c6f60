#include "app/Unit2.h"

#include "app/WallpaperAction.h"
#include "toolkit/widgets/TApplication.h"
#include "toolkit/widgets/TImage.h"

#include <QKeyEvent>
#include <QVBoxLayout>

TForm2* Form2 = nullptr;

namespace {

constexpr char kEscape = 27;

} // namespace

TForm2::TForm2() {
    setObjectName(QStringLiteral("Form2"));
    setWindowFlag(Qt::FramelessWindowHint);
    setWindowTitle(QStringLiteral("Form2"));
    // The design bounds, which the maximised state overrides once shown.
    move(219, 159);
    resize(688, 453);
    setWindowState(Qt::WindowMaximized);

    // Docked to fill the client area; it does not size itself to the picture.
    Image1 = new TImage(this);
    Image1->setObjectName(QStringLiteral("Image1"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(Image1);
    AddWallpaperAction(Image1);
}

TForm2::~TForm2() {
    if (Form2 == this)
        Form2 = nullptr;
}

void TForm2::FormShow() {
    setWindowState(windowState() | Qt::WindowMaximized);
    // Above the main window and with the keyboard focus, so Escape reaches it.
    raise();
    activateWindow();
}

void TForm2::FormKeyPress(char key) {
    if (key == kEscape)
        close();
}

void TForm2::keyPressEvent(QKeyEvent* event) {
    // Only keys that type a character count; arrows, function keys and bare
    // modifiers give no character.
    QString text = event->text();
    if (event->key() == Qt::Key_Escape)
        text = QString(QChar(kEscape));
    for (const QChar c : text) {
        if (c.unicode() < 0x100)
            RunHandler([this, c] { FormKeyPress(static_cast<char>(c.unicode())); });
    }
    event->accept();
}
