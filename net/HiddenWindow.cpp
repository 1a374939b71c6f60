#include "net/HiddenWindow.h"

THiddenWindow CreateHiddenWindow(const char* className, WNDPROC windowProc, void* owner) {
    const HINSTANCE instance = GetModuleHandle(nullptr);
    if (!GetClassInfo(instance, className, nullptr)) {
        WNDCLASS windowClass;
        windowClass.style = 0;
        windowClass.lpfnWndProc = windowProc;
        windowClass.cbClsExtra = 0;
        windowClass.cbWndExtra = 4;
        windowClass.hInstance = instance;
        windowClass.lpszClassName = className;
        if (RegisterClass(&windowClass) == 0)
            return THiddenWindow();
    }
    const HWND window = CreateWindowEx(WS_EX_TOOLWINDOW, className, "", WS_POPUP, 0, 0, 0, 0, 0, 0,
                                       instance, nullptr);
    if (window != 0 && owner != nullptr)
        SetWindowLong(window, 0, reinterpret_cast<LONG_PTR>(owner));
    return THiddenWindow(window);
}
