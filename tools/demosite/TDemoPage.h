#pragma once

#include "tools/demosite/TDemoWallpaper.h"

#include <QList>
#include <QString>

// The HTML of the demo site, shaped like a real wallpaper site's pages: the
// wallpaper page carries the picture as `<img class="wallpaper" src="...">`
// on a line of its own, with an absolute picture address.
class TDemoPage {
public:
    // Site-relative address of a wallpaper's page.
    static QString PagePath(int number);
    // Site-relative address of a wallpaper's picture.
    static QString PicturePath(int number);

    // `related` are wallpapers offered as "more wallpapers" below the picture.
    static QString Wallpaper(const TDemoWallpaper& wallpaper, const QString& baseAddress,
                             const QList<TDemoWallpaper>& related);
    // The page a removed wallpaper's address still shows: no wallpaper tag.
    static QString Removed(const TDemoWallpaper& wallpaper);
    static QString Index(const QList<TDemoWallpaper>& wallpapers);
    static QString StyleSheet();
};
