// generate-demo-site: writes the local demo wallpaper site that `make run`
// serves, pages and pictures for a range of wallpaper numbers.
#include "tools/demosite/TDemoSite.h"

#include <QCommandLineParser>
#include <QGuiApplication>
#include <cstdio>
#include <cstdlib>
#include <exception>

namespace {

constexpr int HighestNumber = 1000000;
constexpr int MostNumbers = 10000;

int NumberOption(const QCommandLineParser& parser, const QString& name) {
    bool ok = false;
    const int value = parser.value(name).toInt(&ok);
    if (!ok || value < 0 || value > HighestNumber) {
        std::fprintf(stderr, "generate-demo-site: --%s needs a number from 0 to %d\n",
                     qPrintable(name), HighestNumber);
        std::exit(2);
    }
    return value;
}

} // namespace

int main(int argc, char** argv) {
    // Text needs a GUI application for its fonts, but no screen.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QGuiApplication application(argc, argv);

    TDemoSite site;
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Writes the demo wallpaper site: a page and a JPEG picture per number."));
    parser.addHelpOption();
    parser.addPositionalArgument(QStringLiteral("directory"),
                                 QStringLiteral("Where to write the site."));
    parser.addOption({ QStringLiteral("base"),
                       QStringLiteral("Base address the pictures are served from."),
                       QStringLiteral("address"), site.BaseAddress });
    parser.addOption({ QStringLiteral("first"), QStringLiteral("First wallpaper number."),
                       QStringLiteral("number"), QString::number(site.First) });
    parser.addOption({ QStringLiteral("last"), QStringLiteral("Last wallpaper number."),
                       QStringLiteral("number"), QString::number(site.Last) });
    parser.process(application);

    if (parser.positionalArguments().size() != 1) {
        parser.showHelp(2);
    }
    site.Directory = parser.positionalArguments().first();
    site.BaseAddress = parser.value(QStringLiteral("base"));
    while (site.BaseAddress.endsWith(QLatin1Char('/'))) {
        site.BaseAddress.chop(1);
    }
    site.First = NumberOption(parser, QStringLiteral("first"));
    site.Last = NumberOption(parser, QStringLiteral("last"));
    if (site.First > site.Last || site.Last - site.First >= MostNumbers) {
        std::fprintf(stderr, "generate-demo-site: give --first <= --last, at most %d numbers\n",
                     MostNumbers);
        return 2;
    }

    try {
        site.Generate();
    } catch (const std::exception& error) {
        std::fprintf(stderr, "generate-demo-site: %s\n", error.what());
        return 1;
    }
    return 0;
}
