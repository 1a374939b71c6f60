#pragma once

#include <QStringList>

#include <string>

// What a start of the program is asked to do, read from its command line:
//   --site URL   the wallpaper site's base address, http://host[:port]
//                (default: the one the program was built for)
//   --dir DIR    the folder for the pictures; it must exist and be writable
//                (default: see DefaultPictureDirectory)
//   --help, --version
// Everything is checked here, before any window is made, so that a start
// that cannot work ends at once with a message and no window.
struct TCommandLine {
    enum class TAction {
        Run,     // open the window with the settings below
        Help,    // print Text on standard output; exit status 0
        Version, // likewise
        Refuse,  // print Text on standard error; exit status 2
    };

    TAction Action { TAction::Run };
    // Without a trailing slash.
    std::string SiteAddress;
    // Absolute, with a trailing '/'; empty when no --dir was given.
    std::string PictureDirectory;
    // What to print for Help, Version and Refuse, ending with a line end.
    std::string Text;

    int ExitStatus() const;
};

// arguments: the program's name, then its arguments (as
// QCoreApplication::arguments gives them, the toolkit's own options removed).
// A relative --dir is taken from the current directory.
TCommandLine ParseCommandLine(const QStringList& arguments, const std::string& defaultSite);
