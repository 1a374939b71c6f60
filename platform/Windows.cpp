#include "platform/Windows.h"

HINSTANCE GetModuleHandle(const char*) { return 0; }
ATOM RegisterClass(const WNDCLASS*) { return 0; }
bool UnregisterClass(const char*, HINSTANCE) { return false; }
bool GetClassInfo(HINSTANCE, const char*, WNDCLASS*) { return false; }
HWND CreateWindowEx(DWORD, const char*, const char*, DWORD, int, int, int, int, HWND, HMENU,
                    HINSTANCE, void*) {
    return 0;
}
bool DestroyWindow(HWND) { return false; }
bool IsWindow(HWND) { return false; }
LONG_PTR SetWindowLong(HWND, int, LONG_PTR) { return 0; }
LONG_PTR GetWindowLong(HWND, int) { return 0; }
LRESULT DefWindowProc(HWND, UINT, WPARAM, LPARAM) { return 0; }
bool PostMessage(HWND, UINT, WPARAM, LPARAM) { return false; }
LRESULT SendMessage(HWND, UINT, WPARAM, LPARAM) { return 0; }
UINT_PTR SetTimer(HWND, UINT_PTR, UINT, TIMERPROC) { return 0; }
bool KillTimer(HWND, UINT_PTR) { return false; }
void DispatchPendingMessages() {}
