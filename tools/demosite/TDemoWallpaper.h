#pragma once

#include <QColor>
#include <QSize>
#include <QString>

// What the demo site knows about one wallpaper number: everything is derived
// from the number alone, so the site comes out the same on every machine.
struct TDemoWallpaper {
    // Regular: page with the wallpaper tag and a picture. Removed: a page that
    // says the wallpaper was taken down, with no wallpaper tag and no picture.
    // Missing: no page at all, so the server answers 404.
    enum class TKind { Regular, Removed, Missing };

    int Number { 0 };
    TKind Kind { TKind::Regular };
    QString Title;
    QString Description;
    QSize Size;
    QColor Sky;     // top of the background gradient
    QColor Horizon; // bottom of the background gradient
    QColor Land;    // the hills in front
    QColor Accent;  // the floating discs and the number's glow

    static TDemoWallpaper ForNumber(int number);
};
