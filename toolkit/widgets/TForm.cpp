#include "toolkit/widgets/TForm.h"

#include "toolkit/widgets/TApplication.h"

#include <QCloseEvent>
#include <QFont>
#include <QShowEvent>

TForm::TForm(QWidget* parent) : QWidget(parent, Qt::Window) {
    // The standard dialog font: the platform's sans-serif at 8 points.
    QFont font(QStringLiteral("Sans Serif"), 8);
    font.setStyleHint(QFont::SansSerif);
    setFont(font);
    setBackgroundRole(QPalette::Button);
    setAutoFillBackground(true);
}

void TForm::SetBounds(int left, int top, int width, int height) {
    m_outerSize = QSize(width, height);
    move(left, top);
    resize(width, height);
    FitOuterSize();
}

void TForm::FitOuterSize() {
    if (m_outerSize.isEmpty() || m_frameKnown)
        return;
    const QSize frame = frameGeometry().size() - geometry().size();
    const QSize client = m_outerSize - frame;
    if (client != size() && client.isValid())
        resize(client);
    // From then on the size is the user's.
    m_frameKnown = !frame.isNull();
}

bool TForm::event(QEvent* event) {
    // The frame's size is known only once the window manager has decorated
    // the window, which it reports with a move.
    if (event->type() == QEvent::Move && windowState() == Qt::WindowNoState)
        FitOuterSize();
    return QWidget::event(event);
}

void TForm::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (!event->spontaneous())
        RunHandler([this] { FormShow(); });
}

void TForm::closeEvent(QCloseEvent* event) {
    if (!RunHandler([this] { FormClose(); })) {
        event->ignore();
        return;
    }
    if (Application && Application->MainForm() == this) {
        event->ignore();
        Application->Terminate();
        return;
    }
    event->accept();
}
