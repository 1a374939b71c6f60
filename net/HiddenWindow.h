#pragma once

#include "platform/Windows.h"

// Makes a never-shown window of the named class for a component: registers
// the class on first use (style 0, 4 extra bytes for one slot, the program's
// module), creates the window (tool window, popup, no title, size 0, no
// parent) and stores owner in slot 0. Returns 0 when the class cannot be
// registered or the window cannot be made; the component then hears nothing.
HWND CreateHiddenWindow(const char* className, WNDPROC windowProc, void* owner);

// The object stored in slot 0 of a window made by CreateHiddenWindow.
template <typename T> T* HiddenWindowOwner(HWND window) {
    // The slot is pointer-sized and holds exactly what CreateHiddenWindow put there.
    return reinterpret_cast<T*>(GetWindowLong(window, 0)); // NOLINT(performance-no-int-to-ptr)
}
