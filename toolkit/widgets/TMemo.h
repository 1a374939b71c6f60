#pragma once

#include "toolkit/widgets/TMemoLayout.h"

#include <QPlainTextEdit>

#include <cstddef>
#include <string>

// A multi-line text box that the user can read, select and copy from but not
// edit, with a vertical scroll bar and wrapped lines.
//
// The text is 8-bit: Text() gives back exactly the bytes that were set (each
// byte is shown as the Latin-1 character of the same code), and lines are
// separated by CR LF. Like its platform counterpart the box cannot hold a
// NUL character: text set into it ends at the first NUL.
//
// Capacity: DefaultCapacity bytes, room for over a million log lines of
// six-digit numbers while the view stays responsive. Setting or appending
// text beyond the capacity raises "Text exceeds memo capacity" and leaves the
// text as it was.
//
// Setting a text costs about the same for any size up to the capacity, and
// adding a line the same whatever the text before it: the document holds the
// older lines of a long text grouped in few blocks (TMemoLayout), and draws
// them as it draws lines of their own. A long text is taken in two steps:
// its first lines at once, the rest once the pane has been painted with them
// (when the event loop next turns, for a hidden pane; at the latest 200 ms
// later, or at the next AddLine), so the window shows itself without waiting
// for the rest. Until then the document lacks the rest; Text() never does.
class TMemo : public QPlainTextEdit {
    Q_OBJECT
public:
    static constexpr size_t DefaultCapacity = size_t { 8 } * 1024 * 1024;

    explicit TMemo(QWidget* parent = nullptr);

    const std::string& Text() const { return m_text; }
    void SetText(const std::string& text);

    // Adds one line at the end: followed by CR LF when the text is empty or
    // ends with a line end, otherwise preceded by CR LF (so a text without a
    // final line end goes on without one). Returns the bytes added to Text().
    std::string AddLine(const std::string& line);

    // Reads the whole file (others may read it meanwhile, but should not
    // write), turns lone CRs and LFs into CR LF, and takes the result as the
    // text unless it equals the current text. True when the text is now
    // exactly the file's bytes (no line end was changed, no NUL cut it).
    bool LoadFromFile(const std::string& fileName);
    // Writes the text unchanged to the file, replacing it only once all of it
    // is safely on disk (TAtomicFileStream).
    void SaveToFile(const std::string& fileName) const;

    size_t Capacity() const { return m_capacity; }
    void SetCapacity(size_t capacity) { m_capacity = capacity; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    void CheckCapacity(size_t size) const;
    // Takes a text without NUL.
    void Show(std::string text);
    // Adds what a text shown in two steps still lacks: now, or when the
    // event loop turns.
    void ShowRest();
    void PostRest();
    // A cursor at the end of the document.
    QTextCursor EndCursor();
    void PaintGroupedLineEnds(const QRect& area);

    TMemoLayout* m_layout { nullptr };
    std::string m_text;
    // Where in m_text the part starts that the document lacks yet; 0 when it
    // holds all.
    size_t m_restFrom { 0 };
    bool m_restPosted { false };
    size_t m_capacity { DefaultCapacity };
};
