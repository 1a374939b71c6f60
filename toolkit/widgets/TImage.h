#pragma once

#include "toolkit/widgets/TGraphic.h"

#include <QWidget>
#include <functional>
#include <memory>
#include <string>

// A picture control: holds at most one picture and draws it at its natural
// size from the top-left corner, never stretched. With AutoSize on, a new
// picture with both sides above 0 resizes the control to exactly its size.
// Controls may share one picture, which is then decoded and held once.
class TImage : public QWidget {
    Q_OBJECT
public:
    explicit TImage(QWidget* parent = nullptr);
    ~TImage() override;

    bool AutoSize() const { return m_autoSize; }
    void SetAutoSize(bool on) { m_autoSize = on; }

    TGraphic* Graphic() const { return m_graphic.get(); }
    // The picture, for another control to show the same one.
    const std::shared_ptr<TGraphic>& SharedGraphic() const { return m_graphic; }
    // Drops the previous picture, takes the new one, adjusts, repaints.
    // fileName is the file the picture was read from, empty for one that
    // has none.
    void SetGraphic(std::shared_ptr<TGraphic> graphic, std::string fileName = {});
    // The file of the picture shown; empty while none is shown or the
    // picture came from no file.
    const std::string& FileName() const { return m_fileName; }

    // Handler for a double-click (the main window opens a viewer with it).
    std::function<void()> OnDblClick;
    // Runs after each SetGraphic.
    std::function<void()> OnChange;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    std::shared_ptr<TGraphic> m_graphic;
    std::string m_fileName;
    bool m_autoSize { false };
};
