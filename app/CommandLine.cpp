#include "app/CommandLine.h"

#include "app/PictureDirectory.h"
#include "toolkit/runtime/SysUtils.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QUrl>

namespace {

std::string Text(const QString& text) {
    return text.toStdString();
}

TCommandLine Refused(const QString& program, const QString& message) {
    TCommandLine refused;
    refused.Action = TCommandLine::TAction::Refuse;
    refused.Text = Text(program + ": " + message + "\n");
    return refused;
}

// The component takes the address as 8-bit text and speaks HTTP and HTTPS;
// anything beyond the base (a query, a fragment) would end up inside every
// page address.
bool IsSiteAddress(const QString& text) {
    for (const QChar c : text)
        if (c.unicode() <= 0x20 || c.unicode() >= 0x7F)
            return false;
    const QUrl url(text, QUrl::StrictMode);
    const bool http =
        url.scheme() == QLatin1String("http") || url.scheme() == QLatin1String("https");
    return url.isValid() && http && !url.host().isEmpty() && !url.hasQuery() && !url.hasFragment();
}

QString WithoutTrailingSlashes(QString text) {
    while (text.endsWith('/'))
        text.chop(1);
    return text;
}

} // namespace

int TCommandLine::ExitStatus() const {
    return Action == TAction::Refuse ? 2 : 0;
}

TCommandLine ParseCommandLine(const QStringList& arguments, const std::string& defaultSite) {
    const QString program =
        arguments.isEmpty() ? QStringLiteral("wallpapers") : QFileInfo(arguments[0]).fileName();
    const QString builtInSite = QString::fromStdString(defaultSite);

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Downloads a numbered range of wallpapers from a wallpaper site."));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    const QCommandLineOption site(
        QStringLiteral("site"),
        QStringLiteral("Base address of the wallpaper site, "
                       "http(s)://host or http(s)://host:port (default: %1).")
            .arg(builtInSite),
        QStringLiteral("URL"), builtInSite);
    const QCommandLineOption dir(
        QStringLiteral("dir"),
        QStringLiteral("Folder for the pictures; it must exist (default: the program's folder, "
                       "or \"wallpapers\" in your pictures folder when the program's folder "
                       "cannot be written)."),
        QStringLiteral("DIR"));
    parser.addOption(site);
    parser.addOption(dir);

    if (!parser.parse(arguments))
        return Refused(program, parser.errorText());
    TCommandLine result;
    if (parser.isSet(help)) {
        result.Action = TCommandLine::TAction::Help;
        result.Text = Text(parser.helpText());
        return result;
    }
    if (parser.isSet(version)) {
        result.Action = TCommandLine::TAction::Version;
        result.Text = Text(program + " " + QCoreApplication::applicationVersion() + "\n");
        return result;
    }
    if (!parser.positionalArguments().isEmpty())
        return Refused(program, QStringLiteral("unexpected argument \"%1\"")
                                    .arg(parser.positionalArguments().constFirst()));

    const QString address = parser.value(site);
    if (!IsSiteAddress(address))
        return Refused(program,
                       QStringLiteral("--site \"%1\" is not a site address; give http(s)://host or "
                                      "http(s)://host:port")
                           .arg(address));
    result.SiteAddress = Text(WithoutTrailingSlashes(address));

    if (parser.isSet(dir)) {
        const QString given = parser.value(dir);
        const QFileInfo folder(given);
        if (given.isEmpty() || !folder.exists())
            return Refused(program, QStringLiteral("--dir \"%1\": no such folder").arg(given));
        if (!folder.isDir())
            return Refused(program, QStringLiteral("--dir \"%1\" is not a folder").arg(given));
        if (const int error =
                DirectoryWriteError(QFile::encodeName(folder.absoluteFilePath()).toStdString()))
            return Refused(program,
                           QStringLiteral("--dir \"%1\": cannot save pictures there (%2)")
                               .arg(given, QString::fromLocal8Bit(SysErrorMessage(error).c_str())));
        result.PictureDirectory =
            QFile::encodeName(WithoutTrailingSlashes(folder.absoluteFilePath()) + "/")
                .toStdString();
    }
    return result;
}
