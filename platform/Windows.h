#pragma once

#include "platform/WinTypes.h"

// Hidden message windows, posted messages and window timers on Qt's event
// loop.
//
// What is copied from the Windows window manager:
// - A window class is registered by name with a window procedure and a number
//   of extra bytes; every window of the class gets one pointer-sized slot per
//   4 extra bytes (slot 0 at index 0, slot 1 at index 4, ...), read and
//   written with GetWindowLong/SetWindowLong.
// - A window belongs to the thread that created it. Its procedure runs only
//   on that thread, and only while that thread dispatches events (inside the
//   Qt event loop, a wait of Events.h, or DispatchPendingMessages).
// - PostMessage may be called from any thread; the message is queued and the
//   procedure sees it later, in posting order. A message whose window has
//   been destroyed before it is dispatched is dropped; it never reaches the
//   procedure. Handles are never reused, so a late message cannot reach a
//   newer window either.
// - SetTimer starts (or restarts, for the same number) a periodic timer that
//   calls the window procedure with WM_TIMER, wParam = the timer number,
//   lParam = the callback (0). Ticks do not pile up: a thread that was busy
//   for several periods sees one tick. KillTimer and DestroyWindow stop it.
//
// Where it knowingly differs:
// - Windows are never shown and have no geometry; styles, titles, position,
//   parent and menu are accepted and ignored. There is no WM_CREATE,
//   WM_DESTROY or WM_NCDESTROY: the procedure sees posted, sent and timer
//   messages only.
// - SetWindowLong stores pointer-sized values (a 64-bit process must keep an
//   object pointer in slot 0); it is the same call as SetWindowLongPtr.
// - There is no GetMessage/PeekMessage loop of our own: Qt's event loop is
//   the message loop, so window messages and Qt's own events (input, paint,
//   socket notifiers) are dispatched together.
// - Calls that need the owning thread (DestroyWindow, SetTimer, KillTimer,
//   SendMessage) fail when made from another thread instead of being
//   marshalled to it.

using WNDPROC = LRESULT (*)(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
using TIMERPROC = void (*)(HWND window, UINT message, UINT_PTR timerId, DWORD tickCount);

struct WNDCLASS {
    UINT style = 0;
    WNDPROC lpfnWndProc = nullptr;
    int cbClsExtra = 0;
    int cbWndExtra = 0;
    HINSTANCE hInstance = 0;
    HICON hIcon = 0;
    HCURSOR hCursor = 0;
    HBRUSH hbrBackground = 0;
    const char* lpszMenuName = nullptr;
    const char* lpszClassName = nullptr;
};

constexpr UINT WM_NULL = 0x0000;
constexpr UINT WM_TIMER = 0x0113;
constexpr UINT WM_USER = 0x0400;

constexpr DWORD WS_POPUP = 0x80000000;
constexpr DWORD WS_EX_TOOLWINDOW = 0x00000080;

// The program's own module instance for a null name; 0 for any other name.
HINSTANCE GetModuleHandle(const char* moduleName);

// Registers a class for its instance (0 means the program's module). Returns
// 0 when the record has no name or procedure, the extra byte count is
// negative, or a class of that name (compared without regard to case) is
// already registered for the instance.
ATOM RegisterClass(const WNDCLASS* windowClass);
bool UnregisterClass(const char* className, HINSTANCE instance);

// Fills *windowClass (when not null) and returns true when a class of that
// name is registered for the instance.
bool GetClassInfo(HINSTANCE instance, const char* className, WNDCLASS* windowClass);

// Makes a hidden window of a registered class, owned by the calling thread.
// Returns 0 when the class is unknown or the thread has no Qt event
// dispatcher (no QCoreApplication, or a thread that cannot run Qt events).
HWND CreateWindowEx(DWORD exStyle, const char* className, const char* windowName, DWORD style,
                    int x, int y, int width, int height, HWND parent, HMENU menu,
                    HINSTANCE instance, void* param);

inline HWND CreateWindow(const char* className, const char* windowName, DWORD style, int x, int y,
                         int width, int height, HWND parent, HMENU menu, HINSTANCE instance,
                         void* param) {
    return CreateWindowEx(0, className, windowName, style, x, y, width, height, parent, menu,
                          instance, param);
}

// Destroys a window of the calling thread: its timers stop, its queued
// messages are dropped, its handle becomes invalid. A window procedure may
// destroy its own window. False for an unknown handle or another thread's
// window.
bool DestroyWindow(HWND window);
bool IsWindow(HWND window);

// Extra slot access; the index is a byte offset that is a multiple of 4 and
// below the class's cbWndExtra. SetWindowLong returns the previous value.
// Both return 0 for an unknown window or a bad index. Any thread may call.
LONG_PTR SetWindowLong(HWND window, int index, LONG_PTR value);
LONG_PTR GetWindowLong(HWND window, int index);
inline LONG_PTR SetWindowLongPtr(HWND window, int index, LONG_PTR value) {
    return SetWindowLong(window, index, value);
}
inline LONG_PTR GetWindowLongPtr(HWND window, int index) {
    return GetWindowLong(window, index);
}

// What a window procedure returns for messages it does not handle: 0.
LRESULT DefWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Queues a message for the window; safe from any thread. False when the
// window does not exist (anymore).
bool PostMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Calls the window procedure at once; only on the window's own thread.
// Returns 0 when the window is unknown or belongs to another thread.
LRESULT SendMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Starts or restarts the periodic timer timerId (not 0) of the window with
// the period in milliseconds (0 counts as 10). With a callback, each tick
// calls it instead of the window procedure. Returns timerId, or 0 when the
// window is unknown, belongs to another thread, or no timer can be made.
UINT_PTR SetTimer(HWND window, UINT_PTR timerId, UINT elapse, TIMERPROC timerProc = nullptr);
bool KillTimer(HWND window, UINT_PTR timerId);

// The application's "dispatch every queued message now" step: dispatches all
// window messages of the calling thread that are queued, together with Qt's
// pending events (input, paint, timers, socket notifiers), then returns
// without waiting for more.
void DispatchPendingMessages();
