#include "toolkit/widgets/TMemoLayout.h"

#include <QTextBlock>

#include <climits>
#include <cstdint>

namespace {

// The document took the text with its CR LF pairs turned into LF, and then
// broke lines at a CR LF pair, a lone CR and a lone LF: so CR CR LF is one
// break, as is CR LF. The length of the line break that starts at in[i], 0
// when none does.
size_t BreakWidth(const uchar* in, size_t i, size_t size) {
    if (in[i] == '\n')
        return 1;
    if (in[i] != '\r')
        return 0;
    if (i + 1 < size && in[i + 1] == '\n')
        return 2;
    if (i + 2 < size && in[i + 1] == '\r' && in[i + 2] == '\n')
        return 3;
    return 1;
}

const uchar* Bytes(std::string_view text) {
    return reinterpret_cast<const uchar*>(text.data());
}

} // namespace

TMemoLayout::TView TMemoLayout::View(std::string_view text, bool grouped, int64_t breaksBefore) {
    // Lines go LinesPerBlock to a block from the start; the last lines get
    // blocks of their own afterwards.
    TView view;
    view.Text.resize(static_cast<qsizetype>(text.size()));
    QChar* const begin = view.Text.data();
    QChar* out = begin;
    const uchar* in = Bytes(text);
    const size_t size = text.size();
    int64_t breaks = breaksBefore;
    for (size_t i = 0; i < size;) {
        // Most bytes are above CR, the highest of the line break bytes.
        const size_t width = in[i] > '\r' ? 0 : BreakWidth(in, i, size);
        if (width == 0) {
            *out++ = QChar(in[i++]);
            continue;
        }
        ++breaks;
        const bool inGroup = grouped && breaks % LinesPerBlock != 0;
        *out++ = inGroup ? QChar(QChar::LineSeparator) : QChar(u'\n');
        i += width;
    }
    // From the end back, every line separator becomes a block's end until
    // OwnBlockLines lines are behind and a group's end is reached, which
    // then ends the last group. `linesAfter`: the lines after the break
    // looked at.
    int64_t linesAfter = 1;
    for (QChar* at = grouped ? out : begin; at != begin;) {
        --at;
        if (*at == QChar(u'\n') && linesAfter >= OwnBlockLines) {
            view.GroupedBlocks = static_cast<int>((breaks - linesAfter + 1) / LinesPerBlock);
            break;
        }
        if (*at == QChar(QChar::LineSeparator) || *at == QChar(u'\n')) {
            *at = QChar(u'\n');
            ++linesAfter;
        }
    }
    view.Text.truncate(out - begin);
    return view;
}

size_t TMemoLayout::FirstGroupEnd(std::string_view text) {
    // A group needs OwnBlockLines lines after it.
    const uchar* in = Bytes(text);
    const size_t size = text.size();
    int64_t breaks = 0;
    size_t end = std::string_view::npos;
    for (size_t i = 0; i < size;) {
        const size_t width = BreakWidth(in, i, size);
        if (width == 0) {
            ++i;
            continue;
        }
        if (++breaks == LinesPerBlock)
            end = i;
        if (breaks == LinesPerBlock + OwnBlockLines - 1)
            return end;
        i += width;
    }
    return std::string_view::npos;
}

QString TMemoLayout::FirstGroup(std::string_view text) {
    QString group = View(text.substr(0, FirstGroupEnd(text)), false).Text;
    group.replace(QChar(u'\n'), QChar(QChar::LineSeparator));
    return group;
}

void TMemoLayout::CountGroupedLines(QTextBlock block, int blockNumber, int end) {
    for (; block.isValid() && blockNumber < m_groupedBlocks && block.position() < end;
         block = block.next(), ++blockNumber) {
        if (block.layout()->lineCount() == 0)
            block.setLineCount(LinesPerBlock);
    }
}

void TMemoLayout::RestoreLineCounts() {
    if (m_groupedBlocks == 0)
        return;
    CountGroupedLines(document()->firstBlock(), 0, INT_MAX);
    emit documentSizeChanged(documentSize());
}

void TMemoLayout::documentChanged(int from, int charsRemoved, int charsAdded) {
    // The plain text layout counts a changed block as one line unless it has
    // a count already.
    if (m_groupedBlocks > 0) {
        const QTextBlock first = document()->findBlock(from);
        CountGroupedLines(first, first.blockNumber(), from + charsAdded);
    }
    QPlainTextDocumentLayout::documentChanged(from, charsRemoved, charsAdded);
}
