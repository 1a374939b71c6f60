#pragma once

#include <QSize>
#include <QWidget>

// A top-level window of the program. It carries the standard font and the
// button-face background, and turns Qt's show and close events into the
// form's handlers:
//   FormShow   each time the program shows the form (not when the window
//              system merely restores it);
//   FormClose  on a close request. If it raises, the error box shows the
//              error and the close is abandoned. Otherwise the main form asks
//              the application to end and stays on screen until the event
//              loop does; any other form is hidden.
// Handlers run through RunHandler, so an error never escapes into Qt.
// Owned by the application object (TApplication::CreateForm); subclasses run
// their FormDestroy from their own destructor.
class TForm : public QWidget {
    Q_OBJECT
public:
    explicit TForm(QWidget* parent = nullptr);

    // Places the window with its frame's top-left corner at (left, top) and
    // its outer size, frame included, at width x height. Until the window
    // system reports the frame, the whole size goes to the client area.
    void SetBounds(int left, int top, int width, int height);

protected:
    virtual void FormShow() {}
    virtual void FormClose() {}

    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool event(QEvent* event) override;

private:
    void FitOuterSize();

    QSize m_outerSize;
    bool m_frameKnown { false };
};
