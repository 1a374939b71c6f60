#pragma once

#include <QAbstractSpinBox>

#include <cstdint>

// A number box: a text box with up and down arrows that holds text, not a
// number. Its value is read from the text each time:
//   - the text converted as a signed 32-bit integer (TryStrToInt: leading
//     blanks, one sign, decimal or "$"/"x"/"0x" hexadecimal), or MinValue
//     when the text is empty or no such number;
//   - reading never clamps. The text is rewritten, clamped to
//     [MinValue, MaxValue], only when the focus leaves the box and the
//     clamped value differs, and by the arrow buttons and the Up and Down
//     keys, which add or subtract 1 (in 32-bit two's complement) and write
//     the clamped result. A box whose MinValue equals its MaxValue is never
//     clamped.
// Typing accepts only digits, "+", "-", the locale's decimal separator and
// control characters other than Enter; anything else is refused with a beep.
// Pasted text is taken as it is. The mouse wheel does not change the value.
class TSpinEdit : public QAbstractSpinBox {
    Q_OBJECT
public:
    explicit TSpinEdit(QWidget* parent = nullptr);

    int32_t Value() const;
    // Writes the value, clamped, as the box's text.
    void SetValue(int32_t value);

    int32_t MinValue() const { return m_minValue; }
    int32_t MaxValue() const { return m_maxValue; }
    void SetMinValue(int32_t value) { m_minValue = value; }
    void SetMaxValue(int32_t value) { m_maxValue = value; }

    QString Text() const { return text(); }
    void SetText(const QString& text);

    // The value as the box's bounds allow it (unchanged when they are equal).
    int32_t CheckValue(int32_t value) const;

    void stepBy(int steps) override;

protected:
    StepEnabled stepEnabled() const override;
    QValidator::State validate(QString& input, int& pos) const override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

private:
    static bool IsValidChar(QChar c);

    int32_t m_minValue { 0 };
    int32_t m_maxValue { 0 };
};
