#include "toolkit/widgets/TImage.h"

#include <QPainter>

TImage::TImage(QWidget* parent) : QWidget(parent) {}

TImage::~TImage() = default;

void TImage::SetGraphic(std::shared_ptr<TGraphic> graphic, std::string fileName) {
    m_graphic = std::move(graphic);
    m_fileName = m_graphic ? std::move(fileName) : std::string();
    if (m_autoSize && m_graphic && m_graphic->Width() > 0 && m_graphic->Height() > 0)
        resize(m_graphic->Width(), m_graphic->Height());
    update();
    if (OnChange)
        OnChange();
}

void TImage::paintEvent(QPaintEvent*) {
    if (!m_graphic)
        return;
    QPainter painter(this);
    m_graphic->Draw(painter, 0, 0);
}

void TImage::mouseDoubleClickEvent(QMouseEvent*) {
    if (OnDblClick)
        OnDblClick();
}
