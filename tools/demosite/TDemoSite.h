#pragma once

#include "tools/demosite/TDemoWallpaper.h"

#include <QList>
#include <QString>

// Writes the demo wallpaper site for the numbers First..Last into a directory
// laid out as the server serves it:
//   wallpapers/get/id/N/resolution/1024x768   the page (a file, served as HTML)
//   images/N.jpg                              the picture
//   index.html, style.css                     the home page and its style
// index.html is written last, so its presence means the site is complete.
class TDemoSite {
public:
    QString Directory;
    QString BaseAddress { QStringLiteral("http://127.0.0.1:8765") };
    int First { 200 };
    int Last { 260 };

    // Throws std::runtime_error when a directory or file cannot be written.
    void Generate() const;

private:
    QList<TDemoWallpaper> RelatedTo(int number) const;
    void WriteText(const QString& relativePath, const QString& text) const;
    QString PathOf(const QString& relativePath) const;
};
