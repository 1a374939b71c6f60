#include "tools/demosite/TDemoSite.h"

#include "tools/demosite/TDemoPage.h"
#include "tools/demosite/TDemoPicture.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <stdexcept>

namespace {

constexpr int RelatedCount = 4;

bool IsRegular(int number) {
    return TDemoWallpaper::ForNumber(number).Kind == TDemoWallpaper::TKind::Regular;
}

} // namespace

void TDemoSite::Generate() const {
    if (First > Last) {
        throw std::runtime_error("the first number is above the last one");
    }
    if (!QDir().mkpath(PathOf(QStringLiteral("images")))) {
        throw std::runtime_error("cannot create " + PathOf(QStringLiteral("images")).toStdString());
    }
    QList<TDemoWallpaper> listed;
    for (int number = First; number <= Last; ++number) {
        const TDemoWallpaper wallpaper = TDemoWallpaper::ForNumber(number);
        // The page path has no trailing slash, so each page is a file named
        // after the last path piece rather than a directory index.
        const QString page = TDemoPage::PagePath(number).mid(1);
        switch (wallpaper.Kind) {
        case TDemoWallpaper::TKind::Regular:
            TDemoPicture::Save(wallpaper, PathOf(TDemoPage::PicturePath(number).mid(1)));
            WriteText(page, TDemoPage::Wallpaper(wallpaper, BaseAddress, RelatedTo(number)));
            listed.append(wallpaper);
            break;
        case TDemoWallpaper::TKind::Removed:
            WriteText(page, TDemoPage::Removed(wallpaper));
            break;
        case TDemoWallpaper::TKind::Missing:
            break;
        }
    }
    WriteText(QStringLiteral("style.css"), TDemoPage::StyleSheet());
    WriteText(QStringLiteral("index.html"), TDemoPage::Index(listed));
}

// The nearest regular neighbours within the range, nearest first.
QList<TDemoWallpaper> TDemoSite::RelatedTo(int number) const {
    QList<TDemoWallpaper> related;
    for (int distance = 1; related.size() < RelatedCount && distance <= Last - First; ++distance) {
        for (const int other : { number + distance, number - distance }) {
            if (other >= First && other <= Last && IsRegular(other) &&
                related.size() < RelatedCount) {
                related.append(TDemoWallpaper::ForNumber(other));
            }
        }
    }
    return related;
}

void TDemoSite::WriteText(const QString& relativePath, const QString& text) const {
    const QString path = PathOf(relativePath);
    if (!QDir().mkpath(QFileInfo(path).path())) {
        throw std::runtime_error("cannot create the directory of " + path.toStdString());
    }
    QFile file(path);
    const QByteArray bytes = text.toUtf8();
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        file.write(bytes) != bytes.size() || !file.flush()) {
        throw std::runtime_error("cannot write " + path.toStdString() + ": " +
                                 file.errorString().toStdString());
    }
}

QString TDemoSite::PathOf(const QString& relativePath) const {
    return QDir(Directory).filePath(relativePath);
}
