#include "toolkit/widgets/TSpinEdit.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QFocusEvent>
#include <QLineEdit>
#include <QLocale>
#include <QTest>

namespace {

// A box with the bounds of the window's "От:" box, or with equal bounds
// (never clamped) like its "До:" box.
std::unique_ptr<TSpinEdit> MakeBox(int32_t minValue, int32_t maxValue, int32_t value) {
    auto box = std::make_unique<TSpinEdit>();
    box->SetMinValue(minValue);
    box->SetMaxValue(maxValue);
    box->SetValue(value);
    return box;
}

void LoseFocus(TSpinEdit& box) {
    QFocusEvent out(QEvent::FocusOut, Qt::TabFocusReason);
    QApplication::sendEvent(&box, &out);
}

} // namespace

TEST(TSpinEdit, ValueIsReadFromTheTextWithoutClamping) {
    auto box = MakeBox(200, 23000, 200);
    EXPECT_EQ(box->Text(), "200");
    struct Row {
        const char* text;
        int32_t value;
    };
    const Row rows[] = {
        { "50", 50 },
        { "99999", 99999 },
        { "  -3", -3 },
        { "$10", 16 },
        { "0x20", 32 },
        { "x30", 48 },
        { "", 200 },
        { "abc", 200 },
        { "2147483648", 200 },
        { "12 ", 200 },
        { "1.5", 200 },
        // Pasted: a negation that would wrap, and an upper-case X that is no
        // prefix, are not numbers.
        { "-$80000001", 200 },
        { "X10", 200 },
        { "0X10", 200 },
        { "-$80000000", INT32_MIN },
    };
    for (const auto& row : rows) {
        box->SetText(row.text);
        EXPECT_EQ(box->Value(), row.value) << row.text;
        EXPECT_EQ(box->Text(), row.text) << "reading must not rewrite the text";
    }
    auto unbounded = MakeBox(0, 0, 23000);
    unbounded->SetText("abc");
    EXPECT_EQ(unbounded->Value(), 0);
}

TEST(TSpinEdit, FocusOutClampsOnlyWhenTheClampedValueDiffers) {
    auto box = MakeBox(200, 23000, 200);
    box->SetText("50");
    LoseFocus(*box);
    EXPECT_EQ(box->Text(), "200");

    box->SetText("99999");
    LoseFocus(*box);
    EXPECT_EQ(box->Text(), "23000");

    // A text that is no number reads as MinValue, which needs no clamping,
    // so the text stays.
    box->SetText("abc");
    LoseFocus(*box);
    EXPECT_EQ(box->Text(), "abc");

    // The text is rewritten only when the value changes, so its spelling
    // survives otherwise.
    box->SetText("  $12C");
    LoseFocus(*box);
    EXPECT_EQ(box->Text(), "  $12C");

    auto unbounded = MakeBox(0, 0, 23000);
    unbounded->SetText("99999");
    LoseFocus(*unbounded);
    EXPECT_EQ(unbounded->Text(), "99999");
    unbounded->SetText("-5");
    LoseFocus(*unbounded);
    EXPECT_EQ(unbounded->Text(), "-5");
}

TEST(TSpinEdit, ArrowsAndUpDownKeysStepByOneAndClamp) {
    auto box = MakeBox(200, 23000, 200);
    QTest::keyClick(box.get(), Qt::Key_Up);
    EXPECT_EQ(box->Text(), "201");
    QTest::keyClick(box.get(), Qt::Key_Down);
    QTest::keyClick(box.get(), Qt::Key_Down);
    EXPECT_EQ(box->Text(), "200") << "clamped at MinValue";
    box->SetText("99999");
    box->stepBy(1);
    EXPECT_EQ(box->Text(), "23000");
    box->SetText("abc");
    box->stepBy(1);
    EXPECT_EQ(box->Text(), "201") << "steps from the value, MinValue for a non-number";
    QTest::keyClick(box.get(), Qt::Key_PageUp);
    EXPECT_EQ(box->Text(), "201") << "Page Up is no stepping key";

    auto unbounded = MakeBox(0, 0, 23000);
    QTest::keyClick(unbounded.get(), Qt::Key_Up);
    EXPECT_EQ(unbounded->Text(), "23001");
    unbounded->SetText("-1");
    QTest::keyClick(unbounded.get(), Qt::Key_Up);
    QTest::keyClick(unbounded.get(), Qt::Key_Up);
    EXPECT_EQ(unbounded->Text(), "1");
    unbounded->SetText("2147483647");
    unbounded->stepBy(1);
    EXPECT_EQ(unbounded->Text(), "-2147483648") << "32-bit wrap, no overflow";
}

TEST(TSpinEdit, TypingAcceptsOnlyDigitsSignsAndControlKeys) {
    auto box = MakeBox(0, 0, 0);
    box->SetText("");
    QLocale::setDefault(QLocale::c());
    QTest::keyClicks(box.get(), "1a2 b+-$x.");
    EXPECT_EQ(box->Text(), "12+-.");
    QTest::keyClick(box.get(), Qt::Key_Backspace);
    QTest::keyClick(box.get(), Qt::Key_Backspace);
    QTest::keyClick(box.get(), Qt::Key_Backspace);
    EXPECT_EQ(box->Text(), "12");
    QTest::keyClick(box.get(), Qt::Key_Return);
    QTest::keyClick(box.get(), Qt::Key_Enter);
    EXPECT_EQ(box->Text(), "12") << "Enter is refused";
    QTest::keyClick(box.get(), Qt::Key_Home);
    QTest::keyClick(box.get(), Qt::Key_Delete);
    EXPECT_EQ(box->Text(), "2");

    // Pasted text is taken whole, whatever it holds.
    box->SetText("");
    box->findChild<QLineEdit*>()->insert("abc");
    EXPECT_EQ(box->Text(), "abc");
    EXPECT_EQ(box->Value(), 0);
}
