#pragma once

#include <chrono>
#include <functional>
#include <string>

// Makes a picture file the desktop's wallpaper through the XDG desktop
// portal on the session bus: org.freedesktop.portal.Wallpaper's
// SetWallpaperFile(parent_window, fd, options) on
// org.freedesktop.portal.Desktop at /org/freedesktop/portal/desktop. The
// portal answers the call with a request handle at once and the user's
// decision later, as org.freedesktop.portal.Request's Response signal on
// that handle (0 done, 1 cancelled by the user, 2 anything else).
//
// The file goes to the portal as an open descriptor, so a sandboxed portal
// needs no access to our folders, and a file replaced meanwhile does not
// change what is set.
//
// SetWallpaperFile waits for both answers while the thread's events go on
// (MsgWaitForMultipleObjects): windows repaint, the download run goes on,
// and a handler may run during the wait. It must not start a second
// request meanwhile (the caller guards that). Only on a thread with a Qt
// event loop.

enum class TWallpaperOutcome {
    Done,       // the portal set the wallpaper
    Cancelled,  // the user declined in the portal's dialog
    Failed,     // the portal answered with an error or ended the request otherwise
    NoPortal,   // no session bus, or nothing on it serves the wallpaper interface
    NoReply,    // the call was not answered within CallBound (a portal that hangs)
    NoAnswer,   // the user's answer did not come within AnswerBound
    Abandoned,  // the caller's Abandon predicate held during the wait
    Unreadable, // the picture file could not be opened (SystemError)
};

struct TWallpaperResult {
    TWallpaperOutcome Outcome { TWallpaperOutcome::Done };
    // The errno for Unreadable.
    int SystemError { 0 };
    // The bus's or the portal's own words, for Failed and NoPortal; may be
    // empty.
    std::string Detail;
};

struct TWallpaperRequest {
    std::string FileName;
    // The portal's window identifier of the asking window ("x11:1a00007"),
    // so that its dialog is placed over it; empty when there is none.
    std::string ParentWindow;
    // The call itself is answered at once by a running portal; a bus that
    // has to start one may take a few seconds.
    std::chrono::milliseconds CallBound { std::chrono::seconds(10) };
    // The user's answer in the portal's dialog.
    std::chrono::milliseconds AnswerBound { std::chrono::seconds(60) };
    // Tested after every event the wait dispatches; true ends the wait (the
    // program is closing). The portal is then asked to close its dialog.
    std::function<bool()> Abandon;
};

TWallpaperResult SetWallpaperFile(const TWallpaperRequest& request);
