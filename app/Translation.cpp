#include "app/Translation.h"

#include <QCoreApplication>
#include <QDir>
#include <QRegularExpression>
#include <QTranslator>

namespace {

// Where the build puts the compiled translations, as wallpapers_LANG.qm.
const QString TranslationFolder = QStringLiteral(":/i18n");
const QString TranslationPrefix = QStringLiteral("wallpapers_");

bool IsCLocale(const QString& locale) {
    return locale == QLatin1String("C") || locale == QLatin1String("POSIX") ||
           locale.startsWith(QLatin1String("C."));
}

QString LanguageOf(const QString& entry) {
    return entry.section(QRegularExpression(QStringLiteral("[_.@]")), 0, 0);
}

} // namespace

QString MessagesLanguage(const std::function<QString(const char* name)>& environment,
                         const QStringList& translated) {
    QString locale;
    for (const char* name : { "LC_ALL", "LC_MESSAGES", "LANG" }) {
        locale = environment(name);
        if (!locale.isEmpty())
            break;
    }
    if (locale.isEmpty() || IsCLocale(locale))
        return {};
    const QString preferred = environment("LANGUAGE");
    const QStringList entries =
        preferred.isEmpty() ? QStringList { locale } : preferred.split(u':', Qt::SkipEmptyParts);
    for (const QString& entry : entries) {
        QString language = LanguageOf(entry);
        if (language == QLatin1String("ru"))
            return {};
        if (translated.contains(language))
            return language;
    }
    return {};
}

QStringList TranslatedLanguages() {
    QStringList languages;
    const QStringList files =
        QDir(TranslationFolder).entryList({ TranslationPrefix + QStringLiteral("*.qm") });
    for (const QString& file : files)
        languages.append(file.mid(TranslationPrefix.size()).chopped(3));
    return languages;
}

std::unique_ptr<QTranslator> InstallTranslation() {
    const QString language = MessagesLanguage(
        [](const char* name) { return qEnvironmentVariable(name); }, TranslatedLanguages());
    if (language.isEmpty())
        return nullptr;
    auto translator = std::make_unique<QTranslator>();
    if (!translator->load(TranslationPrefix + language, TranslationFolder) ||
        !QCoreApplication::installTranslator(translator.get()))
        return nullptr;
    return translator;
}
