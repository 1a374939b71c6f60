#pragma once

#include <QString>
#include <QStringList>
#include <QTranslator>

#include <functional>
#include <memory>

// The program's own texts are Russian; other languages come from the
// translations built into it (app/translations/wallpapers_LANG.ts).

// The language of the program's texts for an environment, chosen as gettext
// chooses a message catalogue. The locale of messages is the first of
// LC_ALL, LC_MESSAGES and LANG that is set and not empty; when there is
// none, or it is "C", "POSIX" or "C.<codeset>", the program's own texts are
// shown and LANGUAGE counts for nothing. Otherwise LANGUAGE, a list of
// languages in order of preference separated by ':', is read when it is not
// empty, else the locale itself. The first entry whose language (the part
// before '_', '.' or '@') is among `translated`, or is Russian, wins.
// Returns that language, or "" for the program's own texts (also when no
// entry has a translation).
QString MessagesLanguage(const std::function<QString(const char* name)>& environment,
                         const QStringList& translated);

// The languages the program has a translation for ("en").
QStringList TranslatedLanguages();

// Installs the translation that the process's environment chooses, if any;
// it stays in force as long as the returned object lives (null when the
// program's own texts are shown). Call before any window is made: texts are
// chosen when a window makes its controls.
std::unique_ptr<QTranslator> InstallTranslation();
