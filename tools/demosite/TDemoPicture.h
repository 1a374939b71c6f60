#pragma once

#include "tools/demosite/TDemoWallpaper.h"

#include <QImage>
#include <QString>

// Paints a demo wallpaper: a sky gradient, a sun, floating discs, layered
// hills and the wallpaper's number in large type. The same number always
// gives the same picture.
class TDemoPicture {
public:
    static QImage Render(const TDemoWallpaper& wallpaper);
    // Writes the picture as JPEG; throws std::runtime_error on failure.
    static void Save(const TDemoWallpaper& wallpaper, const QString& fileName);
};
