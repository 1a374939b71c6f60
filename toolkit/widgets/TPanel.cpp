#include "toolkit/widgets/TPanel.h"

#include <QPainter>

TPanel::TPanel(QWidget* parent) : QFrame(parent) {
    setFrameStyle(QFrame::Panel | QFrame::Sunken);
    setLineWidth(1);
    setContentsMargins(2, 2, 2, 2);
}

void TPanel::SetCaption(const QString& caption) {
    m_caption = caption;
    update();
}

void TPanel::paintEvent(QPaintEvent* event) {
    QFrame::paintEvent(event);
    QPainter painter(this);
    painter.drawText(rect(), Qt::AlignCenter, m_caption);
}
