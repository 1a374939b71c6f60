#include "toolkit/widgets/TMemo.h"

#include "toolkit/runtime/Exception.h"
#include "toolkit/runtime/SysUtils.h"
#include "toolkit/runtime/TAtomicFileStream.h"
#include "toolkit/runtime/TFileStream.h"

#include <QScrollBar>
#include <QTextCursor>

#include <cstring>

namespace {

// What the view shows for a piece of the text: CR LF pairs become the
// view's paragraph breaks, every byte its Latin-1 character.
QString ViewText(const std::string& text) {
    QString view = QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
    view.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return view;
}

} // namespace

TMemo::TMemo(QWidget* parent) : QPlainTextEdit(parent) {
    setReadOnly(true);
    setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setLineWrapMode(QPlainTextEdit::WidgetWidth);
    setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
}

void TMemo::CheckCapacity(size_t size) const {
    if (size > m_capacity)
        throw EInvalidOperation("Text exceeds memo capacity");
}

void TMemo::SetText(const std::string& text) {
    const std::string stored = text.substr(0, text.find('\0'));
    if (stored == m_text)
        return;
    CheckCapacity(stored.size());
    setPlainText(ViewText(stored));
    m_text = stored;
}

std::string TMemo::AddLine(const std::string& line) {
    const std::string stored = line.substr(0, line.find('\0'));
    const bool atLineStart = m_text.empty() || m_text.back() == '\n';
    std::string piece = atLineStart ? stored + "\r\n" : "\r\n" + stored;
    CheckCapacity(m_text.size() + piece.size());
    QTextCursor cursor(document());
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(ViewText(piece));
    m_text += piece;
    verticalScrollBar()->setValue(verticalScrollBar()->maximum());
    return piece;
}

bool TMemo::LoadFromFile(const std::string& fileName) {
    TFileStream stream(fileName, fmOpenRead | fmShareDenyWrite);
    // Nothing after a NUL can show, and line-end conversion only lengthens
    // the text, so reading stops there or once the capacity is exceeded:
    // memory stays bounded whatever the file holds.
    std::string content;
    bool cut = false;
    char buffer[65536];
    for (;;) {
        const int32_t n = stream.Read(buffer, sizeof buffer);
        if (n <= 0)
            break;
        const auto* nul =
            static_cast<const char*>(std::memchr(buffer, '\0', static_cast<size_t>(n)));
        content.append(buffer, nul ? static_cast<size_t>(nul - buffer) : static_cast<size_t>(n));
        cut = nul != nullptr;
        if (cut)
            break;
        CheckCapacity(content.size());
    }
    // A read that failed part way would otherwise show a cut log, which the
    // next save would then write over the whole one.
    if (stream.LastError() != 0)
        throw EReadError();
    std::string text = AdjustLineBreaks(content);
    const bool exact = !cut && text == content;
    SetText(text);
    return exact;
}

void TMemo::SaveToFile(const std::string& fileName) const {
    TAtomicFileStream stream(fileName);
    stream.WriteBuffer(m_text.data(), static_cast<int32_t>(m_text.size()));
    stream.Commit();
}
