#include "toolkit/widgets/TMemo.h"
#include "tests/support/FileSizeLimit.h"
#include "toolkit/runtime/Exception.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>

#include <functional>

#include <sys/stat.h>

namespace {

std::string AllBytes() {
    std::string bytes;
    for (int c = 1; c < 256; ++c)
        if (c != '\r' && c != '\n')
            bytes += static_cast<char>(c);
    return bytes;
}

void WriteFile(const std::string& name, const std::string& bytes) {
    QFile file(QString::fromStdString(name));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes.data(), static_cast<qint64>(bytes.size()));
}

std::string ReadFile(const std::string& name) {
    QFile file(QString::fromStdString(name));
    if (!file.open(QIODevice::ReadOnly))
        return "<missing>";
    return file.readAll().toStdString();
}

QStringList DirectoryEntries(const QTemporaryDir& dir) {
    return QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
}

// How the pane showed a text when its document held a block per line.
void ShowWithABlockPerLine(QPlainTextEdit& view, const std::string& text) {
    view.setReadOnly(true);
    view.setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    view.setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    view.setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    view.setLineWrapMode(QPlainTextEdit::WidgetWidth);
    view.setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    QString shown = QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
    view.setPlainText(shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
}

// The selected text with every line break as LF.
QString SelectedLines(const QPlainTextEdit& view) {
    QString text = view.textCursor().selectedText();
    text.replace(QChar::ParagraphSeparator, u'\n');
    return text.replace(QChar::LineSeparator, u'\n');
}

void Select(QPlainTextEdit& view, int from, int to) {
    QTextCursor cursor = view.textCursor();
    cursor.setPosition(from);
    cursor.setPosition(to, QTextCursor::KeepAnchor);
    view.setTextCursor(cursor);
}

} // namespace

TEST(TMemo, HoldsEveryByteAndEndsAtNul) {
    TMemo memo;
    const std::string text = AllBytes() + "\r\nline two";
    memo.SetText(text);
    EXPECT_EQ(memo.Text(), text);
    EXPECT_EQ(memo.document()->blockCount(), 2) << "CR LF shows as a line break";

    memo.SetText(std::string("12\r\n3\0"
                             "45",
                             7));
    EXPECT_EQ(memo.Text(), "12\r\n3");
    EXPECT_TRUE(memo.isReadOnly());
}

TEST(TMemo, AddLineKeepsTheTextsLineEndHabit) {
    TMemo memo;
    memo.AddLine("200");
    memo.AddLine("201");
    EXPECT_EQ(memo.Text(), "200\r\n201\r\n") << "from empty, each line is followed by CR LF";

    memo.SetText("200\r\n201");
    memo.AddLine("202");
    memo.AddLine("203");
    EXPECT_EQ(memo.Text(), "200\r\n201\r\n202\r\n203") << "without a final line end it stays so";
    EXPECT_EQ(memo.toPlainText(), "200\n201\n202\n203");

    memo.SetText("200\r\n\r\n");
    memo.AddLine("1");
    EXPECT_EQ(memo.Text(), "200\r\n\r\n1\r\n");
}

TEST(TMemo, CapacityOverflowRaisesAndKeepsTheText) {
    TMemo memo;
    EXPECT_EQ(memo.Capacity(), TMemo::DefaultCapacity);
    memo.SetCapacity(10);
    memo.SetText("0123456789");
    try {
        memo.SetText("0123456789A");
        FAIL() << "no error";
    } catch (const EInvalidOperation& e) {
        EXPECT_EQ(e.Message(), "Text exceeds memo capacity");
    }
    EXPECT_EQ(memo.Text(), "0123456789");
    // A NUL ends the text before the capacity is measured.
    memo.SetText(std::string("abc\0"
                             "0123456789",
                             14));
    EXPECT_EQ(memo.Text(), "abc");
    memo.AddLine("12345");
    EXPECT_EQ(memo.Text(), "abc\r\n12345");
    EXPECT_THROW(memo.AddLine("x"), EInvalidOperation);
    EXPECT_EQ(memo.Text(), "abc\r\n12345");
}

TEST(TMemo, LoadAdjustsLineEndsAndStopsAtNulOrCapacity) {
    QTemporaryDir dir;
    const std::string name = dir.filePath("log.log").toStdString();
    TMemo memo;

    WriteFile(name, "1\n2\r3\r\n4\n\r5");
    memo.LoadFromFile(name);
    EXPECT_EQ(memo.Text(), "1\r\n2\r\n3\r\n4\r\n\r\n5");

    std::string withNul = "7\n8";
    withNul += '\0';
    withNul += std::string(200000, '9');
    WriteFile(name, withNul);
    memo.SetCapacity(100);
    memo.LoadFromFile(name);
    EXPECT_EQ(memo.Text(), "7\r\n8") << "nothing after the NUL counts, not even for the capacity";

    WriteFile(name, std::string(200000, '9'));
    EXPECT_THROW(memo.LoadFromFile(name), EInvalidOperation);
    EXPECT_EQ(memo.Text(), "7\r\n8");

    // Conversion can push a text over the capacity.
    WriteFile(name, std::string(60, '\n'));
    EXPECT_THROW(memo.LoadFromFile(name), EInvalidOperation);

    try {
        memo.LoadFromFile(dir.path().toStdString());
        FAIL() << "a directory loaded";
    } catch (const EFOpenError& e) {
        EXPECT_EQ(e.Message(),
                  "Cannot open file \"" + dir.path().toStdString() + "\". Is a directory");
    }
}

TEST(TMemo, SaveWritesTheTextUnchangedAndNeverHalfAFile) {
    QTemporaryDir dir;
    const std::string name = dir.filePath("log.log").toStdString();
    TMemo memo;
    memo.SetText(AllBytes() + "\r\n200");
    memo.SaveToFile(name);
    EXPECT_EQ(ReadFile(name), AllBytes() + "\r\n200");
    EXPECT_EQ(DirectoryEntries(dir), QStringList { "log.log" });

    memo.SetText("");
    memo.SaveToFile(name);
    EXPECT_EQ(ReadFile(name), "");

    // A write that fails part way (as on a full disk) leaves the old file
    // whole and no temporary file behind.
    WriteFile(name, "old log\r\n");
    memo.SetText(std::string(100000, '5'));
    {
        const FileSizeLimit limit(4096);
        try {
            memo.SaveToFile(name);
            ADD_FAILURE() << "the save reported success";
        } catch (const EWriteError& e) {
            EXPECT_EQ(e.Message(), "Stream write error");
        }
    }
    EXPECT_EQ(ReadFile(name), "old log\r\n");
    EXPECT_EQ(DirectoryEntries(dir), QStringList { "log.log" });

    // The new file keeps the old one's permission bits.
    ASSERT_EQ(chmod(name.c_str(), 0640), 0);
    memo.SetText("1\r\n");
    memo.SaveToFile(name);
    struct stat st {};
    ASSERT_EQ(stat(name.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
}

TEST(TMemo, LongTextsLookAsWithABlockPerLine) {
    std::string wrapped;
    for (int line = 0; line < 1500; ++line)
        wrapped += std::to_string(line) + (line % 97 == 5 ? " " + AllBytes() : "") + "\r\n";
    std::string numbers;
    for (int line = 0; line < 2000; ++line)
        numbers += std::to_string(200 + line) + "\r\n";
    // Long enough to be shown in two steps.
    std::string longer;
    for (int line = 0; line < 12000; ++line)
        longer += std::to_string(100000 + line) + "\r\n";
    struct Row {
        const char* name;
        std::string text;
        bool sameScrollRange; // no wrapped line that only one view has laid out
    };
    const Row rows[] = {
        { "short", "200\r\n201\r\n", true },
        { "odd line ends", "1\r2\n3\r\r\n4\r\r\r\n5\n\r6\r\n\r\n", true },
        { "long log", numbers, true },
        { "long log, no final line end", numbers + "1", true },
        { "long wrapped lines", wrapped, false },
        { "longer log", longer, true },
    };
    // Views of both: the top, all selected, part of the first lines
    // selected, part of the lines below line 256 (where the second group of
    // lines starts) selected with line 256 at the top, and a line selected
    // by a triple click. `at(n)` is where line n starts.
    using TAt = std::function<int(int)>;
    const std::function<void(QPlainTextEdit&, const TAt&)> views[] = {
        [](QPlainTextEdit&, const TAt&) {},
        [](QPlainTextEdit& view, const TAt&) { view.selectAll(); },
        [](QPlainTextEdit& view, const TAt& at) { Select(view, at(1) + 1, at(4) + 2); },
        [](QPlainTextEdit& view, const TAt& at) {
            view.verticalScrollBar()->setValue(
                view.document()->findBlock(at(256)).firstLineNumber());
            Select(view, at(257) + 1, at(260) + 2);
        },
        [](QPlainTextEdit& view, const TAt& at) {
            // A triple click on the third line.
            view.verticalScrollBar()->setValue(0);
            QTextCursor place(view.document());
            place.setPosition(at(2) + 1);
            const QPoint point = view.cursorRect(place).center();
            QTest::mouseDClick(view.viewport(), Qt::LeftButton, {}, point);
            QTest::mouseClick(view.viewport(), Qt::LeftButton, {}, point);
        },
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        QWidget window;
        window.resize(940, 120);
        auto* memo = new TMemo(&window);
        memo->setGeometry(8, 10, 457, 97);
        auto* plain = new QPlainTextEdit(&window);
        plain->setGeometry(475, 10, 457, 97);
        memo->SetText(row.text);
        ShowWithABlockPerLine(*plain, row.text);
        // No blinking text cursor in either.
        memo->setFocusPolicy(Qt::NoFocus);
        plain->setFocusPolicy(Qt::NoFocus);
        window.show();
        QApplication::processEvents();
        EXPECT_EQ(memo->toPlainText(), plain->toPlainText());
        {
            // A line added before the event loop turns comes after the whole text.
            TMemo added;
            added.SetText(row.text);
            added.AddLine("7");
            QPlainTextEdit expected;
            ShowWithABlockPerLine(expected, added.Text());
            EXPECT_EQ(added.toPlainText(), expected.toPlainText());
        }
        for (size_t i = 0; i < std::size(views); ++i) {
            const TAt at = [&plain](int line) {
                const QTextBlock block = plain->document()->findBlockByNumber(line);
                return block.isValid() ? block.position() : plain->document()->characterCount() - 1;
            };
            views[i](*memo, at);
            views[i](*plain, at);
            QApplication::processEvents();
            EXPECT_EQ(memo->viewport()->grab().toImage(), plain->viewport()->grab().toImage())
                << "view " << i;
            EXPECT_EQ(SelectedLines(*memo), SelectedLines(*plain)) << "view " << i;
            if (row.sameScrollRange) {
                EXPECT_EQ(memo->verticalScrollBar()->maximum(),
                          plain->verticalScrollBar()->maximum())
                    << "view " << i;
            }
        }
    }
}
