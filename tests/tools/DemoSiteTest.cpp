// The demo site generator, run as `make run` runs it: the pages must carry
// the wallpaper tag the downloader scans for, with an absolute address that
// names a real JPEG picture inside the site.
#include <QByteArray>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <set>
#include <utility>

namespace {

const QString Base = QStringLiteral("http://127.0.0.1:8765");
const QByteArray Marker = QByteArrayLiteral("<img class=\"wallpaper\" src=\"");

// Runs the generator; returns its exit code.
int Generate(const QStringList& arguments) {
    QProcess generator;
    generator.setProcessChannelMode(QProcess::ForwardedChannels);
    generator.start(QStringLiteral(GENERATE_DEMO_SITE), arguments);
    if (!generator.waitForFinished(120000) || generator.exitStatus() != QProcess::NormalExit) {
        return -1;
    }
    return generator.exitCode();
}

QByteArray ReadFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QString PagePath(const QString& site, int number) {
    return QStringLiteral("%1/wallpapers/get/id/%2/resolution/1024x768").arg(site).arg(number);
}

// The lines of a page that hold the wallpaper tag.
QList<QByteArray> MarkerLines(const QByteArray& page) {
    QList<QByteArray> found;
    for (const QByteArray& line : page.split('\n')) {
        if (line.contains(Marker)) {
            found.append(line);
        }
    }
    return found;
}

// The address between the tag's opening quote and the next quote.
QByteArray AddressIn(const QByteArray& line) {
    const qsizetype start = line.indexOf(Marker) + Marker.size();
    const qsizetype end = line.indexOf('"', start);
    return line.mid(start, end < 0 ? -1 : end - start);
}

} // namespace

TEST(DemoSite, PagesNameTheirPicturesAndThePicturesAreJpeg) {
    QTemporaryDir site;
    ASSERT_TRUE(site.isValid());
    ASSERT_EQ(Generate({ QStringLiteral("--first"), QStringLiteral("200"), QStringLiteral("--last"),
                         QStringLiteral("240"), site.path() }),
              0);

    std::set<std::pair<int, int>> sizes;
    int regular = 0;
    for (int number = 200; number <= 240; ++number) {
        SCOPED_TRACE(number);
        const QString page = PagePath(site.path(), number);
        if (number == 237) {
            EXPECT_FALSE(QFile::exists(page)) << "237 has no page, so the server answers 404";
            continue;
        }
        const QList<QByteArray> lines = MarkerLines(ReadFile(page));
        if (number == 213) {
            EXPECT_TRUE(QFile::exists(page));
            EXPECT_TRUE(lines.isEmpty()) << "213 is a removed wallpaper: page without the tag";
            EXPECT_FALSE(QFile::exists(QStringLiteral("%1/images/213.jpg").arg(site.path())));
            continue;
        }
        ASSERT_EQ(lines.size(), 1);
        const QString address = QString::fromLatin1(AddressIn(lines.first()));
        const QString expected = QStringLiteral("%1/images/%2.jpg").arg(Base).arg(number);
        ASSERT_EQ(address, expected);

        QImage picture;
        ASSERT_TRUE(picture.load(site.path() + address.mid(Base.size()), "JPG"));
        sizes.insert({ picture.width(), picture.height() });
        ++regular;
    }
    EXPECT_EQ(regular, 39);
    EXPECT_TRUE(sizes.count({ 1920, 1200 }));
    EXPECT_GE(sizes.size(), 4) << "pictures come in several sizes";
    EXPECT_TRUE(QFile::exists(site.filePath(QStringLiteral("index.html"))));
}

TEST(DemoSite, GeneratorOptions) {
    QTemporaryDir first;
    QTemporaryDir second;
    ASSERT_TRUE(first.isValid() && second.isValid());

    // Same range, same site: byte for byte, so a regenerated site changes nothing.
    const QStringList range { QStringLiteral("--first"), QStringLiteral("300"),
                              QStringLiteral("--last"), QStringLiteral("302") };
    ASSERT_EQ(Generate(range + QStringList { first.path() }), 0);
    ASSERT_EQ(Generate(range + QStringList { second.path() }), 0);
    QDirIterator files(first.path(), QDir::Files, QDirIterator::Subdirectories);
    int compared = 0;
    while (files.hasNext()) {
        const QString path = files.next();
        const QString twin = second.path() + path.mid(first.path().size());
        EXPECT_EQ(ReadFile(path), ReadFile(twin)) << path.toStdString();
        ++compared;
    }
    EXPECT_EQ(compared, 3 * 2 + 2) << "three pages, three pictures, index and style";

    // Another base address goes into the tag as given, without a trailing slash.
    QTemporaryDir other;
    ASSERT_EQ(Generate({ QStringLiteral("--base"), QStringLiteral("http://127.0.0.1:9/"),
                         QStringLiteral("--first"), QStringLiteral("205"), QStringLiteral("--last"),
                         QStringLiteral("205"), other.path() }),
              0);
    const QList<QByteArray> lines = MarkerLines(ReadFile(PagePath(other.path(), 205)));
    ASSERT_EQ(lines.size(), 1);
    EXPECT_EQ(AddressIn(lines.first()), QByteArrayLiteral("http://127.0.0.1:9/images/205.jpg"));

    // A reversed or unreadable range writes nothing.
    QTemporaryDir rejected;
    EXPECT_EQ(Generate({ QStringLiteral("--first"), QStringLiteral("210"), QStringLiteral("--last"),
                         QStringLiteral("209"), rejected.path() }),
              2);
    EXPECT_EQ(Generate({ QStringLiteral("--first"), QStringLiteral("abc"), rejected.path() }), 2);
    EXPECT_TRUE(QDir(rejected.path()).isEmpty());
}
