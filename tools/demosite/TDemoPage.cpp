#include "tools/demosite/TDemoPage.h"

namespace {

QString Head(const QString& title) {
    return QStringLiteral("<!DOCTYPE html>\n"
                          "<html lang=\"en\">\n"
                          "<head>\n"
                          "<meta charset=\"utf-8\">\n"
                          "<title>%1 - Demo Wallpapers</title>\n"
                          "<link rel=\"stylesheet\" href=\"/style.css\">\n"
                          "</head>\n"
                          "<body>\n"
                          "<header>\n"
                          "<a class=\"logo\" href=\"/\">Demo Wallpapers</a>\n")
        .arg(title.toHtmlEscaped());
}

QString Navigation(int number) {
    return QStringLiteral("<nav>\n"
                          "<a href=\"/\">All wallpapers</a>\n"
                          "<a href=\"%1\">&larr; Previous</a>\n"
                          "<a href=\"%2\">Next &rarr;</a>\n"
                          "</nav>\n"
                          "</header>\n")
        .arg(TDemoPage::PagePath(number - 1), TDemoPage::PagePath(number + 1));
}

QString Foot() {
    return QStringLiteral("<footer>\n"
                          "<p>Demo Wallpapers is a local test site: every picture is drawn by "
                          "the site generator.</p>\n"
                          "</footer>\n"
                          "</body>\n"
                          "</html>\n");
}

QString SizeText(const TDemoWallpaper& wallpaper) {
    return QStringLiteral("%1 &times; %2").arg(wallpaper.Size.width()).arg(wallpaper.Size.height());
}

QString Thumbnail(const TDemoWallpaper& wallpaper) {
    return QStringLiteral("<li><a href=\"%1\"><img class=\"thumb\" src=\"%2\" width=\"160\" "
                          "height=\"100\" alt=\"%3\"></a><span>#%4</span></li>\n")
        .arg(TDemoPage::PagePath(wallpaper.Number), TDemoPage::PicturePath(wallpaper.Number),
             wallpaper.Title.toHtmlEscaped(), QString::number(wallpaper.Number));
}

} // namespace

QString TDemoPage::PagePath(int number) {
    return QStringLiteral("/wallpapers/get/id/%1/resolution/1024x768").arg(number);
}

QString TDemoPage::PicturePath(int number) {
    return QStringLiteral("/images/%1.jpg").arg(number);
}

QString TDemoPage::Wallpaper(const TDemoWallpaper& wallpaper, const QString& baseAddress,
                             const QList<TDemoWallpaper>& related) {
    const QString title = wallpaper.Title.toHtmlEscaped();
    QString page = Head(QStringLiteral("%1 (#%2)").arg(wallpaper.Title).arg(wallpaper.Number));
    page += Navigation(wallpaper.Number);
    page += QStringLiteral("<main>\n"
                           "<h1>%1</h1>\n"
                           "<p class=\"info\">Wallpaper #%2 &middot; original size %3 &middot; "
                           "shown for 1024x768</p>\n"
                           "<div class=\"picture\">\n")
                .arg(title, QString::number(wallpaper.Number), SizeText(wallpaper));
    // The line the downloader looks for: the tag and its absolute address
    // alone on one line.
    page += QStringLiteral("<img class=\"wallpaper\" src=\"%1%2\" width=\"%3\" height=\"%4\" "
                           "alt=\"%5\">\n")
                .arg(baseAddress, PicturePath(wallpaper.Number),
                     QString::number(wallpaper.Size.width()),
                     QString::number(wallpaper.Size.height()), title);
    page += QStringLiteral("</div>\n"
                           "<p class=\"description\">%1</p>\n")
                .arg(wallpaper.Description.toHtmlEscaped());
    if (!related.isEmpty()) {
        page += QStringLiteral("<h2>More wallpapers</h2>\n<ul class=\"related\">\n");
        for (const TDemoWallpaper& other : related) {
            page += Thumbnail(other);
        }
        page += QStringLiteral("</ul>\n");
    }
    page += QStringLiteral("</main>\n");
    return page + Foot();
}

QString TDemoPage::Removed(const TDemoWallpaper& wallpaper) {
    QString page = Head(QStringLiteral("Wallpaper #%1 removed").arg(wallpaper.Number));
    page += Navigation(wallpaper.Number);
    page += QStringLiteral("<main>\n"
                           "<h1>Wallpaper removed</h1>\n"
                           "<p class=\"info\">Wallpaper #%1 was removed at its author's "
                           "request.</p>\n"
                           "</main>\n")
                .arg(wallpaper.Number);
    return page + Foot();
}

QString TDemoPage::Index(const QList<TDemoWallpaper>& wallpapers) {
    QString page = Head(QStringLiteral("All wallpapers"));
    page += QStringLiteral("</header>\n<main>\n<h1>All wallpapers</h1>\n<ul class=\"related\">\n");
    for (const TDemoWallpaper& wallpaper : wallpapers) {
        page += Thumbnail(wallpaper);
    }
    page += QStringLiteral("</ul>\n</main>\n");
    return page + Foot();
}

QString TDemoPage::StyleSheet() {
    return QStringLiteral(
        "body { margin: 0; font-family: sans-serif; background: #f4f1ec; color: #2d2a26; }\n"
        "header { display: flex; gap: 2em; align-items: center; padding: 0.8em 2em;\n"
        "         background: #2d2a26; }\n"
        "header a { color: #f4f1ec; text-decoration: none; }\n"
        "header .logo { font-weight: bold; font-size: 1.3em; }\n"
        "nav { display: flex; gap: 1.2em; }\n"
        "main { max-width: 1100px; margin: 0 auto; padding: 1em 2em; }\n"
        ".picture img { max-width: 100%; height: auto; box-shadow: 0 4px 18px #0005; }\n"
        ".info { color: #6d665c; }\n"
        ".related { display: flex; flex-wrap: wrap; gap: 1em; list-style: none; padding: 0; }\n"
        ".related li { display: flex; flex-direction: column; align-items: center; }\n"
        ".related img { border-radius: 4px; object-fit: cover; }\n"
        "footer { padding: 1em 2em; color: #8a8378; font-size: 0.85em; }\n");
}
