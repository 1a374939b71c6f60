#include "tools/demosite/TDemoPicture.h"

#include <QFont>
#include <QFontMetricsF>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QRandomGenerator>
#include <stdexcept>

namespace {

constexpr int JpegQuality = 85;

QColor WithAlpha(QColor colour, int alpha) {
    colour.setAlpha(alpha);
    return colour;
}

void PaintSky(QPainter& painter, const TDemoWallpaper& wallpaper, const QRectF& area) {
    QLinearGradient sky(area.topLeft(), area.bottomLeft());
    sky.setColorAt(0.0, wallpaper.Sky);
    sky.setColorAt(0.75, wallpaper.Horizon);
    sky.setColorAt(1.0, wallpaper.Horizon.lighter(115));
    painter.fillRect(area, sky);
}

void PaintSun(QPainter& painter, const TDemoWallpaper& wallpaper, const QRectF& area,
              QRandomGenerator& random) {
    // Right of centre, clear of the number in the top-left corner.
    const QPointF centre(area.width() * (0.55 + 0.3 * random.generateDouble()),
                         area.height() * (0.3 + 0.25 * random.generateDouble()));
    const qreal radius = area.height() * 0.12;
    QRadialGradient glow(centre, radius * 3.5);
    glow.setColorAt(0.0, WithAlpha(wallpaper.Accent, 150));
    glow.setColorAt(1.0, WithAlpha(wallpaper.Accent, 0));
    painter.setPen(Qt::NoPen);
    painter.setBrush(glow);
    painter.drawEllipse(centre, radius * 3.5, radius * 3.5);
    painter.setBrush(WithAlpha(wallpaper.Accent, 235));
    painter.drawEllipse(centre, radius, radius);
}

void PaintDiscs(QPainter& painter, const TDemoWallpaper& wallpaper, const QRectF& area,
                QRandomGenerator& random) {
    painter.setPen(Qt::NoPen);
    for (int i = 0; i < 18; ++i) {
        const QPointF centre(area.width() * random.generateDouble(),
                             area.height() * 0.7 * random.generateDouble());
        const qreal radius = area.height() * (0.01 + 0.05 * random.generateDouble());
        QRadialGradient disc(centre, radius);
        disc.setColorAt(0.0, WithAlpha(wallpaper.Accent, 90));
        disc.setColorAt(0.8, WithAlpha(wallpaper.Accent, 50));
        disc.setColorAt(1.0, WithAlpha(wallpaper.Accent, 0));
        painter.setBrush(disc);
        painter.drawEllipse(centre, radius, radius);
    }
}

// Three ridges, the farthest palest, each a smooth curve across the picture.
void PaintHills(QPainter& painter, const TDemoWallpaper& wallpaper, const QRectF& area,
                QRandomGenerator& random) {
    painter.setPen(Qt::NoPen);
    for (int layer = 0; layer < 3; ++layer) {
        const qreal base = area.height() * (0.62 + 0.11 * layer);
        const qreal swing = area.height() * (0.09 - 0.02 * layer);
        QPainterPath ridge(QPointF(0, base));
        const int humps = 3 + layer;
        for (int i = 0; i < humps; ++i) {
            const qreal x0 = area.width() * i / humps;
            const qreal x1 = area.width() * (i + 1) / humps;
            const qreal peak = base - swing * (0.4 + random.generateDouble());
            const qreal end = base - swing * 0.5 * random.generateDouble();
            ridge.cubicTo(QPointF(x0 + (x1 - x0) * 0.3, peak), QPointF(x0 + (x1 - x0) * 0.7, peak),
                          QPointF(x1, end));
        }
        ridge.lineTo(area.bottomRight());
        ridge.lineTo(area.bottomLeft());
        ridge.closeSubpath();
        const qreal mix = (2 - layer) * 0.3;
        QColor colour = wallpaper.Land;
        colour.setRgbF(colour.redF() + (wallpaper.Horizon.redF() - colour.redF()) * mix,
                       colour.greenF() + (wallpaper.Horizon.greenF() - colour.greenF()) * mix,
                       colour.blueF() + (wallpaper.Horizon.blueF() - colour.blueF()) * mix);
        painter.setBrush(colour);
        painter.drawPath(ridge);
    }
}

// The number sits in the top-left corner, where it stays in view even when
// a large picture is shown unscaled in a small pane.
void PaintLabel(QPainter& painter, const TDemoWallpaper& wallpaper, const QRectF& area) {
    const qreal margin = area.height() * 0.05;
    QFont numberFont(QStringLiteral("DejaVu Sans"));
    numberFont.setBold(true);
    numberFont.setPixelSize(qRound(area.height() * 0.2));
    const QFontMetricsF numberMetrics(numberFont);
    const QRectF numberBox(margin, margin, area.width() - 2 * margin, numberMetrics.height());
    const QString number = QString::number(wallpaper.Number);
    painter.setFont(numberFont);
    painter.setPen(WithAlpha(Qt::black, 90));
    const qreal shadow = area.height() * 0.006;
    painter.drawText(numberBox.translated(shadow, shadow), Qt::AlignLeft | Qt::AlignTop, number);
    painter.setPen(WithAlpha(Qt::white, 230));
    painter.drawText(numberBox, Qt::AlignLeft | Qt::AlignTop, number);

    QFont captionFont(QStringLiteral("DejaVu Sans"));
    captionFont.setPixelSize(qRound(area.height() * 0.035));
    painter.setFont(captionFont);
    const QRectF captionBox(margin * 1.15, numberBox.bottom(), area.width() - 2 * margin,
                            QFontMetricsF(captionFont).height());
    painter.drawText(captionBox, Qt::AlignLeft | Qt::AlignTop,
                     QStringLiteral("%1  \u00b7  %2 \u00d7 %3")
                         .arg(wallpaper.Title)
                         .arg(wallpaper.Size.width())
                         .arg(wallpaper.Size.height()));
}

} // namespace

QImage TDemoPicture::Render(const TDemoWallpaper& wallpaper) {
    QImage image(wallpaper.Size, QImage::Format_RGB32);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    const QRectF area(QPointF(0, 0), QSizeF(wallpaper.Size));
    QRandomGenerator random(static_cast<quint32>(wallpaper.Number));
    PaintSky(painter, wallpaper, area);
    PaintSun(painter, wallpaper, area, random);
    PaintDiscs(painter, wallpaper, area, random);
    PaintHills(painter, wallpaper, area, random);
    PaintLabel(painter, wallpaper, area);
    painter.end();
    return image;
}

void TDemoPicture::Save(const TDemoWallpaper& wallpaper, const QString& fileName) {
    if (!Render(wallpaper).save(fileName, "JPG", JpegQuality)) {
        throw std::runtime_error("cannot write picture " + fileName.toStdString());
    }
}
