#pragma once

#include "toolkit/widgets/TGraphic.h"

#include <QWidget>
#include <functional>
#include <memory>

// A picture control: holds at most one picture and draws it at its natural
// size from the top-left corner, never stretched. With AutoSize on, a new
// picture with both sides above 0 resizes the control to exactly its size.
class TImage : public QWidget {
    Q_OBJECT
public:
    explicit TImage(QWidget* parent = nullptr);
    ~TImage() override;

    bool AutoSize() const { return m_autoSize; }
    void SetAutoSize(bool on) { m_autoSize = on; }

    TGraphic* Graphic() const { return m_graphic.get(); }
    // Drops the previous picture, takes the new one, adjusts, repaints.
    void SetGraphic(std::unique_ptr<TGraphic> graphic);

    // Handler for a double-click (the main window opens a viewer with it).
    std::function<void()> OnDblClick;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    std::unique_ptr<TGraphic> m_graphic;
    bool m_autoSize { false };
};
