#pragma once

#include "platform/Windows.h"

#include <utility>

// The one owner of a never-shown window: destroying the window stops its
// timers and drops what is still queued for it, so no message reaches an
// object that has gone. Move-only; an empty owner (handle 0) owns nothing.
class THiddenWindow {
public:
    THiddenWindow() = default;
    explicit THiddenWindow(HWND window) : m_window(window) {}
    ~THiddenWindow() { Reset(); }
    THiddenWindow(THiddenWindow&& other) noexcept : m_window(std::exchange(other.m_window, 0)) {}
    THiddenWindow& operator=(THiddenWindow&& other) noexcept {
        if (this != &other) {
            Reset();
            m_window = std::exchange(other.m_window, 0);
        }
        return *this;
    }
    THiddenWindow(const THiddenWindow&) = delete;
    THiddenWindow& operator=(const THiddenWindow&) = delete;

    // 0 when the window could not be made.
    HWND Handle() const { return m_window; }
    // Destroys the window now; the owner is empty afterwards.
    void Reset() noexcept {
        if (m_window != 0)
            DestroyWindow(m_window);
        m_window = 0;
    }

private:
    HWND m_window { 0 };
};

// Makes a never-shown window of the named class for a component: registers
// the class on first use (style 0, 4 extra bytes for one slot, the program's
// module), creates the window (tool window, popup, no title, size 0, no
// parent) and stores owner in slot 0. The result is empty when the class
// cannot be registered or the window cannot be made; the component then
// hears nothing.
THiddenWindow CreateHiddenWindow(const char* className, WNDPROC windowProc, void* owner);

// The object stored in slot 0 of a window made by CreateHiddenWindow.
template <typename T> T* HiddenWindowOwner(HWND window) {
    // The slot is pointer-sized and holds exactly what CreateHiddenWindow put there.
    return reinterpret_cast<T*>(GetWindowLong(window, 0)); // NOLINT(performance-no-int-to-ptr)
}
