#pragma once

#include <QStringList>

#include <string>

// What a start of the program is asked to do, read from its command line:
//   --site URL   the wallpaper site's base address, http://host[:port]
//                (default: the one the program was built for)
//   --dir DIR    the folder for the pictures; it must exist and be writable
//                (default: see DefaultPictureDirectory)
//   --parallel N numbers in flight at once, 1 to 16 (default 6)
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
    // --parallel N: how many numbers a run has in flight at once. The
    // default is the number of connections to one host that browsers open.
    static constexpr int MinParallel = 1;
    static constexpr int MaxParallel = 16;
    static constexpr int DefaultParallel = 6;
    int Parallel { DefaultParallel };
    // What to print for Help, Version and Refuse, ending with a line end.
    std::string Text;

    int ExitStatus() const;
};

// arguments: the program's name, then its arguments (as
// QCoreApplication::arguments gives them, the toolkit's own options removed).
// A relative --dir is taken from the current directory.
TCommandLine ParseCommandLine(const QStringList& arguments, const std::string& defaultSite);

// The arguments without the options that Qt's windowing takes for itself
// (-platform NAME, -style=NAME, -reverse, -display NAME and the like, with
// one dash or two), as QApplication would leave them; for reading the
// command line before QApplication is made. It may drop a few options more
// than the platform in use would: they are read again once it is made.
QStringList WithoutToolkitOptions(const QStringList& arguments);
