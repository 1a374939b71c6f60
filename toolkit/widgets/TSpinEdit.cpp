#include "toolkit/widgets/TSpinEdit.h"

#include "toolkit/runtime/SysUtils.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QLocale>

TSpinEdit::TSpinEdit(QWidget* parent) : QAbstractSpinBox(parent) {
    setAccelerated(false);
    setKeyboardTracking(true);
    SetText(QStringLiteral("0"));
}

int32_t TSpinEdit::Value() const {
    return StrToIntDef(text().toStdString(), m_minValue);
}

int32_t TSpinEdit::CheckValue(int32_t value) const {
    if (m_minValue == m_maxValue)
        return value;
    if (value < m_minValue)
        return m_minValue;
    if (value > m_maxValue)
        return m_maxValue;
    return value;
}

void TSpinEdit::SetValue(int32_t value) {
    SetText(QString::number(CheckValue(value)));
}

void TSpinEdit::SetText(const QString& text) {
    lineEdit()->setText(text);
}

void TSpinEdit::stepBy(int steps) {
    // Two's complement wrap, as the 32-bit value arithmetic of the box does;
    // only an unclamped box can reach it.
    const auto next = static_cast<uint32_t>(Value()) + static_cast<uint32_t>(steps);
    SetValue(static_cast<int32_t>(next));
}

QAbstractSpinBox::StepEnabled TSpinEdit::stepEnabled() const {
    return isReadOnly() ? StepNone : (StepUpEnabled | StepDownEnabled);
}

QValidator::State TSpinEdit::validate(QString&, int&) const {
    // Any text may stand in the box; the value rule decides what it means.
    return QValidator::Acceptable;
}

bool TSpinEdit::IsValidChar(QChar c) {
    if (c.unicode() < 32)
        return c != u'\r';
    // Delete reaches us as a character on some platforms; it is an editing
    // key, not typed text.
    if (c.unicode() == 127)
        return true;
    const QString decimal = QLocale().decimalPoint();
    return (c >= u'0' && c <= u'9') || c == u'+' || c == u'-' ||
           (!decimal.isEmpty() && c == decimal.front());
}

void TSpinEdit::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
    case Qt::Key_Up:
        stepBy(1);
        event->accept();
        return;
    case Qt::Key_Down:
        stepBy(-1);
        event->accept();
        return;
    case Qt::Key_PageUp:
    case Qt::Key_PageDown:
        // Not a stepping key here; let the window have it.
        event->ignore();
        return;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        QApplication::beep();
        event->accept();
        return;
    default:
        break;
    }
    const QString typed = event->text();
    for (const QChar c : typed) {
        if (!IsValidChar(c)) {
            QApplication::beep();
            event->accept();
            return;
        }
    }
    QAbstractSpinBox::keyPressEvent(event);
}

void TSpinEdit::focusOutEvent(QFocusEvent* event) {
    QAbstractSpinBox::focusOutEvent(event);
    const int32_t value = Value();
    if (CheckValue(value) != value)
        SetValue(value);
}

void TSpinEdit::wheelEvent(QWheelEvent* event) {
    event->ignore();
}
