#pragma once

#include <QPlainTextDocumentLayout>
#include <QString>

#include <cstdint>
#include <string_view>

// The memo's document layout. A text document spends microseconds on every
// block it holds, seconds for a full log of a million short lines, so a long
// text is held with its older lines grouped: all but its last OwnBlockLines
// lines go LinesPerBlock to a block, separated inside it by line separators
// (U+2028), which the layout breaks lines at as it does at a block's end.
// Lines added later get blocks of their own, as the last ones have.
//
// Until a block is laid out the plain text layout counts it as one line, and
// the scroll bar is made of these counts; a grouped block counts as its
// LinesPerBlock lines instead, so the scroll bar is what it would be with a
// block per line.
class TMemoLayout : public QPlainTextDocumentLayout {
public:
    static constexpr int LinesPerBlock = 256;
    static constexpr int OwnBlockLines = 256;

    explicit TMemoLayout(QTextDocument* document) : QPlainTextDocumentLayout(document) {}

    // What the document holds for an 8-bit text: each byte as its Latin-1
    // character, and a line break wherever the document has always broken
    // the text (a CR LF pair, and what is left of CR and LF after CR LF
    // pairs became LF: a CR LF pair again, or a lone CR or LF). With
    // `grouped`, the lines are grouped as above, counting `breaksBefore`
    // line breaks before `text` (which then starts with a line break or a
    // line's start).
    struct TView {
        QString Text;
        int GroupedBlocks { 0 };
    };
    static TView View(std::string_view text, bool grouped, int64_t breaksBefore = 0);

    // Where the line break that ends a text's first group of lines starts;
    // npos when the text is too short to have a group.
    static size_t FirstGroupEnd(std::string_view text);
    // The first group of lines as it is held: the view of the text before
    // FirstGroupEnd, its lines all in one block.
    static QString FirstGroup(std::string_view text);

    // The number of grouped blocks at the document's start; set before the
    // document takes the text View made.
    int GroupedBlocks() const { return m_groupedBlocks; }
    void SetGroupedBlocks(int count) { m_groupedBlocks = count; }

    // Counts each grouped block that is not laid out as its lines again,
    // after a change of width has counted every block as one line.
    void RestoreLineCounts();

protected:
    void documentChanged(int from, int charsRemoved, int charsAdded) override;

private:
    void CountGroupedLines(QTextBlock block, int blockNumber, int end);

    int m_groupedBlocks { 0 };
};
