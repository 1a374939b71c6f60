#include "toolkit/widgets/TMemo.h"

#include "toolkit/runtime/Exception.h"
#include "toolkit/runtime/SysUtils.h"
#include "toolkit/runtime/TAtomicFileStream.h"
#include "toolkit/runtime/TFileStream.h"

#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QResizeEvent>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <string_view>

namespace {

// The file is read in pieces of this size straight into the text.
constexpr size_t kReadPiece = size_t { 1 } << 20;
// A text this long (with a group of lines) shows that group at once and the
// rest once the pane has been painted: the window shows itself meanwhile.
constexpr size_t kShowInTwoSteps = size_t { 64 } * 1024;
constexpr std::chrono::milliseconds kRestAtTheLatest { 200 };

// Whether every line end is a CR LF pair already, which AdjustLineBreaks
// would leave as it is: no LF without a CR before it, and as many CRs as LFs,
// so every CR has its LF after it. Counted in short stretches, with
// counters of a byte that the compiler can run side by side.
bool OnlyCrLfLineEnds(std::string_view text) {
    if (text.empty())
        return true;
    const auto* in = reinterpret_cast<const unsigned char*>(text.data());
    const size_t size = text.size();
    constexpr size_t kStretch = 240;
    unsigned char loneLf = in[0] == '\n';
    int64_t crsLessLfs = in[0] == '\r';
    for (size_t start = 1; start < size; start += kStretch) {
        const size_t end = std::min(start + kStretch, size);
        unsigned char crs = 0;
        unsigned char lfs = 0;
        for (size_t i = start; i < end; ++i) {
            crs += in[i] == '\r';
            lfs += in[i] == '\n';
            loneLf |= (in[i] == '\n') & (in[i - 1] != '\r');
        }
        crsLessLfs += crs - lfs;
    }
    return loneLf == 0 && crsLessLfs == 0;
}

} // namespace

TMemo::TMemo(QWidget* parent) : QPlainTextEdit(parent) {
    // The memo's own document, laid out by TMemoLayout; it takes the view's
    // font and paint device as the one it replaces did. Nobody can edit the
    // text, so nothing needs undoing.
    auto* document = new QTextDocument(this);
    m_layout = new TMemoLayout(document);
    document->setDocumentLayout(m_layout);
    document->setDefaultFont(font());
    document->setUndoRedoEnabled(false);
    setDocument(document);
    m_layout->setPaintDevice(viewport());

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
    Show(text.substr(0, text.find('\0')));
}

void TMemo::Show(std::string text) {
    if (text == m_text)
        return;
    CheckCapacity(text.size());
    m_restFrom = 0;
    const size_t groupEnd =
        text.size() >= kShowInTwoSteps ? TMemoLayout::FirstGroupEnd(text) : std::string_view::npos;
    if (groupEnd == std::string_view::npos) {
        const TMemoLayout::TView view = TMemoLayout::View(text, true);
        m_layout->SetGroupedBlocks(view.GroupedBlocks);
        setPlainText(view.Text);
    } else {
        m_layout->SetGroupedBlocks(1);
        setPlainText(TMemoLayout::FirstGroup(text));
        m_restFrom = groupEnd;
        m_restPosted = false;
        // A pane on screen takes the rest once it has shown its first lines,
        // or a little later should it get no paint event (a minimised window).
        if (isVisible())
            QTimer::singleShot(kRestAtTheLatest, this, [this] { ShowRest(); });
        else
            PostRest();
    }
    m_text = std::move(text);
}

void TMemo::PostRest() {
    if (m_restPosted)
        return;
    m_restPosted = true;
    QTimer::singleShot(0, this, [this] { ShowRest(); });
}

void TMemo::ShowRest() {
    if (m_restFrom == 0)
        return;
    const TMemoLayout::TView view = TMemoLayout::View(std::string_view(m_text).substr(m_restFrom),
                                                      true, TMemoLayout::LinesPerBlock - 1);
    m_restFrom = 0;
    m_layout->SetGroupedBlocks(view.GroupedBlocks);
    EndCursor().insertText(view.Text);
}

// Placed, not moved there: a move first looks at the text direction of the
// block it starts from, the first one, which for a group of lines means
// reading all of them.
QTextCursor TMemo::EndCursor() {
    QTextCursor cursor(document());
    cursor.setPosition(document()->characterCount() - 1);
    return cursor;
}

std::string TMemo::AddLine(const std::string& line) {
    const std::string stored = line.substr(0, line.find('\0'));
    const bool atLineStart = m_text.empty() || m_text.back() == '\n';
    std::string piece = atLineStart ? stored + "\r\n" : "\r\n" + stored;
    CheckCapacity(m_text.size() + piece.size());
    ShowRest();
    EndCursor().insertText(TMemoLayout::View(piece, false).Text);
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
    content.reserve(
        std::min<size_t>(static_cast<size_t>(std::max<int64_t>(stream.Size(), 0)), m_capacity + 1) +
        kReadPiece);
    bool cut = false;
    for (;;) {
        const size_t before = content.size();
        content.resize(before + kReadPiece);
        const int32_t n = stream.Read(content.data() + before, static_cast<int32_t>(kReadPiece));
        content.resize(before + static_cast<size_t>(std::max(n, 0)));
        if (n <= 0)
            break;
        const auto* nul = static_cast<const char*>(
            std::memchr(content.data() + before, '\0', static_cast<size_t>(n)));
        cut = nul != nullptr;
        if (cut) {
            content.resize(static_cast<size_t>(nul - content.data()));
            break;
        }
        CheckCapacity(content.size());
    }
    // A read that failed part way would otherwise show a cut log, which the
    // next save would then write over the whole one.
    if (stream.LastError() != 0)
        throw EReadError();
    const bool crLfOnly = OnlyCrLfLineEnds(content);
    Show(crLfOnly ? std::move(content) : AdjustLineBreaks(content));
    return crLfOnly && !cut;
}

void TMemo::SaveToFile(const std::string& fileName) const {
    TAtomicFileStream stream(fileName);
    stream.WriteBuffer(m_text.data(), static_cast<int32_t>(m_text.size()));
    stream.Commit();
}

void TMemo::resizeEvent(QResizeEvent* event) {
    QPlainTextEdit::resizeEvent(event);
    // A new width lays the document out anew, counting every block as one
    // line until it is laid out again.
    if (event->oldSize().width() != event->size().width())
        m_layout->RestoreLineCounts();
}

// A triple click selects the block under the mouse, and its end: in a group
// of lines, that is the line under the mouse and its line separator.
void TMemo::mousePressEvent(QMouseEvent* event) {
    QPlainTextEdit::mousePressEvent(event);
    QTextCursor cursor = textCursor();
    const QTextBlock block = document()->findBlock(cursor.selectionStart());
    const int start = block.position();
    if (!cursor.hasSelection() || block.blockNumber() >= m_layout->GroupedBlocks() ||
        cursor.selectionStart() != start || cursor.selectionEnd() < start + block.length() - 1)
        return;
    const QString text = block.text();
    const int at = cursorForPosition(event->position().toPoint()).position() - start;
    const int lineStart =
        at > 0 ? static_cast<int>(text.lastIndexOf(QChar::LineSeparator, at - 1)) + 1 : 0;
    const int separator = static_cast<int>(text.indexOf(QChar::LineSeparator, at));
    const int lineEnd = separator < 0 ? cursor.selectionEnd() - start : separator + 1;
    cursor.setPosition(start + lineStart);
    cursor.setPosition(start + lineEnd, QTextCursor::KeepAnchor);
    setTextCursor(cursor);
}

void TMemo::paintEvent(QPaintEvent* event) {
    QPlainTextEdit::paintEvent(event);
    if (m_layout->GroupedBlocks() > 0)
        PaintGroupedLineEnds(event->rect());
    if (m_restFrom != 0)
        PostRest();
}

// A selection that goes on past a block's end shows a box a quarter of the
// line's height wide after the block's last line, drawn by the text layout.
// A line that ends at a line separator inside a grouped block gets the same
// box here, so that grouped lines look selected as lines of their own would.
void TMemo::PaintGroupedLineEnds(const QRect& area) {
    if (!textCursor().hasSelection() && extraSelections().isEmpty())
        return;
    const QAbstractTextDocumentLayout::PaintContext context = getPaintContext();
    const bool anySelection =
        std::any_of(context.selections.begin(), context.selections.end(),
                    [](const auto& selection) { return selection.cursor.hasSelection(); });
    if (!anySelection)
        return;
    QPainter painter(viewport());
    painter.setClipRect(area);
    QPointF offset = contentOffset();
    QTextBlock block = firstVisibleBlock();
    for (int number = block.blockNumber(); block.isValid() && number < m_layout->GroupedBlocks();
         block = block.next(), ++number) {
        const QRectF bounds = blockBoundingRect(block).translated(offset);
        if (bounds.top() > area.bottom())
            break;
        const QTextLayout* layout = block.layout();
        const QString text = block.text();
        // The block's last line ends at the block's end, which the layout
        // handles itself.
        for (int i = 0; i + 1 < layout->lineCount(); ++i) {
            const QTextLine line = layout->lineAt(i);
            const int end = line.textStart() + line.textLength();
            if (end == 0 || text.at(end - 1) != QChar::LineSeparator)
                continue;
            const QRectF lineRect = line.naturalTextRect().translated(offset);
            for (const auto& selection : context.selections) {
                const int start = selection.cursor.selectionStart() - block.position();
                const int stop = selection.cursor.selectionEnd() - block.position();
                if (start < end && stop >= end && stop > start)
                    painter.fillRect(QRectF(lineRect.right(), lineRect.top(), lineRect.height() / 4,
                                            lineRect.height()),
                                     selection.format.background());
            }
        }
        offset.ry() += bounds.height();
    }
}
