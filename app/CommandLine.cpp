#include "app/CommandLine.h"

#include "app/PictureDirectory.h"
#include "toolkit/runtime/SysUtils.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QUrl>

#include <algorithm>

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

// What is wrong with a --site value; each has its own text (SiteMessage).
enum class TSiteProblem {
    None,
    Form,     // not http(s)://host[:port][/path]
    UserInfo, // "user@" or "user:password@" before the host
    Host,     // neither a host name nor a dotted IPv4 address
    Port,     // not a number from 1 to 65535
};

bool IsDecimal(QStringView text) {
    return !text.isEmpty() &&
           std::all_of(text.begin(), text.end(), [](QChar c) { return c >= '0' && c <= '9'; });
}

// Four decimal parts from 0 to 255. A part with a leading zero is refused:
// the system's address parser reads it as octal.
bool IsDottedIpv4(QStringView host) {
    const auto parts = host.split(u'.');
    return parts.size() == 4 && std::all_of(parts.begin(), parts.end(), [](QStringView part) {
               return IsDecimal(part) && part.size() <= 3 && (part.size() == 1 || part[0] != '0') &&
                      part.toInt() <= 255;
           });
}

// Labels of letters, digits and hyphens, none starting or ending with a
// hyphen. A name whose last label is a number would be read as an IPv4
// address, so it must be one. Anything else (an IPv6 literal in brackets
// among them) the page component cannot connect to.
bool IsHost(QStringView host) {
    if (IsDecimal(host.mid(host.lastIndexOf(u'.') + 1)))
        return IsDottedIpv4(host);
    const auto labels = host.split(u'.');
    return std::all_of(labels.begin(), labels.end(), [](QStringView label) {
        return !label.isEmpty() && !label.startsWith(u'-') && !label.endsWith(u'-') &&
               std::all_of(label.begin(), label.end(), [](QChar c) {
                   return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                          (c >= '0' && c <= '9') || c == '-';
               });
    });
}

bool IsPort(QStringView text) {
    return IsDecimal(text) && text.size() <= 5 && text.toInt() >= 1 && text.toInt() <= 65535;
}

// The component takes the address as 8-bit text and speaks HTTP and HTTPS;
// anything beyond the base (a query, a fragment) would end up inside every
// page address.
TSiteProblem SiteProblem(const QString& text) {
    for (const QChar c : text)
        if (c.unicode() <= 0x20 || c.unicode() >= 0x7F)
            return TSiteProblem::Form;
    const qsizetype schemeEnd = text.indexOf(QLatin1String("://"));
    const QString scheme = text.left(schemeEnd).toLower();
    if (schemeEnd < 0 || (scheme != QLatin1String("http") && scheme != QLatin1String("https")))
        return TSiteProblem::Form;
    const qsizetype start = schemeEnd + 3;
    qsizetype end = start;
    while (end < text.size() && text[end] != '/' && text[end] != '?' && text[end] != '#')
        ++end;
    const QStringView authority = QStringView(text).mid(start, end - start);
    if (authority.contains(u'@'))
        return TSiteProblem::UserInfo;
    // A host name holds no colon, so the first one starts the port.
    const qsizetype colon = authority.indexOf(u':');
    const QStringView host = authority.left(colon);
    if (host.isEmpty())
        return TSiteProblem::Form;
    if (host.startsWith(u'[') || !IsHost(host))
        return TSiteProblem::Host;
    if (colon >= 0 && !IsPort(authority.mid(colon + 1)))
        return TSiteProblem::Port;
    const QUrl url(text, QUrl::StrictMode);
    return url.isValid() && !url.hasQuery() && !url.hasFragment() ? TSiteProblem::None
                                                                  : TSiteProblem::Form;
}

QString SiteMessage(TSiteProblem problem, const QString& address) {
    const QString give = QStringLiteral("give http(s)://host or http(s)://host:port");
    switch (problem) {
    case TSiteProblem::None:
        break;
    case TSiteProblem::Form:
        return QStringLiteral("--site \"%1\" is not a site address; %2").arg(address, give);
    case TSiteProblem::UserInfo:
        return QStringLiteral("--site \"%1\": a user name or password cannot be given; %2")
            .arg(address, give);
    case TSiteProblem::Host:
        return QStringLiteral("--site \"%1\": the host must be a host name or an IPv4 address "
                              "(four numbers from 0 to 255)")
            .arg(address);
    case TSiteProblem::Port:
        return QStringLiteral("--site \"%1\": the port must be a number from 1 to 65535")
            .arg(address);
    }
    return {};
}

// The command-line options of QGuiApplication, QApplication and the X11
// platform plugin.
struct TToolkitOption {
    const char* name;
    bool takesValue;
};

constexpr TToolkitOption ToolkitOptions[] = {
    { "platform", true },
    { "platformpluginpath", true },
    { "platformtheme", true },
    { "plugin", true },
    { "qwindowgeometry", true },
    { "geometry", true },
    { "qwindowtitle", true },
    { "title", true },
    { "qwindowicon", true },
    { "icon", true },
    { "session", true },
    { "display", true },
    { "name", true },
    { "visual", true },
    { "style", true },
    { "stylesheet", true },
    { "qmljsdebugger", false },
    { "reverse", false },
    { "widgetcount", false },
    { "nograb", false },
    { "dograb", false },
    { "sync", false },
    { "testability", false },
};

QString WithoutTrailingSlashes(QString text) {
    while (text.endsWith('/'))
        text.chop(1);
    return text;
}

} // namespace

QStringList WithoutToolkitOptions(const QStringList& arguments) {
    QStringList kept;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        if (i == 0 || !argument.startsWith(u'-')) {
            kept.append(argument);
            continue;
        }
        const QStringView option = QStringView(argument).mid(argument.startsWith(u"--") ? 2 : 1);
        const QStringView name = option.left(option.indexOf(u'='));
        const auto known = std::find_if(
            std::begin(ToolkitOptions), std::end(ToolkitOptions),
            [&name](const TToolkitOption& row) { return name == QLatin1String(row.name); });
        if (known == std::end(ToolkitOptions))
            kept.append(argument);
        else if (known->takesValue && name.size() == option.size())
            ++i;
    }
    return kept;
}

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
    const QCommandLineOption parallel(
        QStringLiteral("parallel"),
        QStringLiteral("How many numbers are fetched at once, %1 to %2; 1 fetches each "
                       "number's page and picture only when the run gets to it (default: %3).")
            .arg(TCommandLine::MinParallel)
            .arg(TCommandLine::MaxParallel)
            .arg(TCommandLine::DefaultParallel),
        QStringLiteral("N"), QString::number(TCommandLine::DefaultParallel));
    parser.addOption(site);
    parser.addOption(dir);
    parser.addOption(parallel);

    if (!parser.parse(arguments))
        return Refused(program, parser.errorText());
    TCommandLine result;
    // The help option brings --help-all with it: the same help here.
    if (parser.isSet(help) || parser.isSet(QStringLiteral("help-all"))) {
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

    // A second value would silently win over the first: the user meant one.
    for (const QCommandLineOption* option : { &site, &dir, &parallel })
        if (parser.values(*option).size() > 1)
            return Refused(
                program,
                QStringLiteral("--%1 is given more than once").arg(option->names().constFirst()));

    const QString address = parser.value(site);
    if (const TSiteProblem problem = SiteProblem(address); problem != TSiteProblem::None)
        return Refused(program, SiteMessage(problem, address));
    result.SiteAddress = Text(WithoutTrailingSlashes(address));

    const QString count = parser.value(parallel);
    result.Parallel = count.toInt();
    if (!IsDecimal(count) || count.size() > 2 || result.Parallel < TCommandLine::MinParallel ||
        result.Parallel > TCommandLine::MaxParallel)
        return Refused(program, QStringLiteral("--parallel \"%1\": give a number from %2 to %3")
                                    .arg(count)
                                    .arg(TCommandLine::MinParallel)
                                    .arg(TCommandLine::MaxParallel));

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
