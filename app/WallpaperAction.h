#pragma once

#include "platform/WallpaperPortal.h"
#include "toolkit/runtime/Exception.h"

#include <chrono>

class TImage;

// "Set as wallpaper" on a picture control: an entry of its context menu and
// Ctrl+W in its window make the picture the control shows the desktop's
// wallpaper, through the desktop portal (WallpaperPortal.h). The entry is
// disabled while the control shows no picture read from a file. A second
// request while one waits for its answer does nothing.
void AddWallpaperAction(TImage* image);

// Makes the picture `image` shows the wallpaper. Raises EWallpaperError
// when it did not become one; returns quietly when it did, and when the
// program began to close during the wait.
void SetAsWallpaper(const TImage& image);

// How long the user has to answer the portal's dialog; tests shorten it.
extern std::chrono::milliseconds WallpaperAnswerBound;

// Why a picture did not become the wallpaper: the message says it in the
// user's language; callers decide by Outcome. fileName is the picture's,
// which the message names when it could not be opened.
class EWallpaperError : public Exception {
public:
    EWallpaperError(const TWallpaperResult& result, const std::string& fileName);
    TWallpaperOutcome Outcome;
};
