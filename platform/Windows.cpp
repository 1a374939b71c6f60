#include "platform/Windows.h"

#include "platform/MessageQueue.h"
#include "platform/WindowMessageEvent.h"
#include "platform/WindowRegistry.h"

#include <QCoreApplication>

namespace {
// Any non-zero value will do; it only has to be the same for every caller.
constexpr HINSTANCE kModuleInstance = 0x00400000;
} // namespace

HINSTANCE GetModuleHandle(const char* moduleName) {
    return moduleName ? 0 : kModuleInstance;
}

ATOM RegisterClass(const WNDCLASS* windowClass) {
    return windowClass ? WindowRegistry::Instance().RegisterClass(*windowClass) : 0;
}

bool UnregisterClass(const char* className, HINSTANCE instance) {
    return WindowRegistry::Instance().UnregisterClass(className, instance);
}

bool GetClassInfo(HINSTANCE instance, const char* className, WNDCLASS* windowClass) {
    return WindowRegistry::Instance().FindClass(instance, className, windowClass);
}

HWND CreateWindowEx(DWORD, const char* className, const char*, DWORD, int, int, int, int, HWND,
                    HMENU, HINSTANCE instance, void*) {
    if (!GetClassInfo(instance, className, nullptr))
        return 0;
    MessageQueue* queue = MessageQueue::AcquireForWindow();
    if (!queue)
        return 0;
    HWND window = WindowRegistry::Instance().AddWindow(instance, className, queue);
    if (window == 0)
        queue->ReleaseWindow(0);
    return window;
}

bool DestroyWindow(HWND window) {
    MessageQueue* queue = WindowRegistry::Instance().RemoveWindow(window);
    if (!queue)
        return false;
    queue->StopTimers(window);
    queue->ReleaseWindow(window);
    return true;
}

bool IsWindow(HWND window) {
    return WindowRegistry::Instance().Exists(window);
}

namespace {
// A component reads its window's slot for every message it hears: the
// window's own thread finds the slot through its queue, without the
// registry's lock; other threads go through the registry.
std::atomic<LONG_PTR>* OwnSlot(HWND window, int index) {
    const MessageQueue* queue = MessageQueue::Current();
    return queue ? queue->SlotOf(window, index) : nullptr;
}
} // namespace

LONG_PTR SetWindowLong(HWND window, int index, LONG_PTR value) {
    if (std::atomic<LONG_PTR>* slot = OwnSlot(window, index))
        return slot->exchange(value);
    LONG_PTR previous = 0;
    WindowRegistry::Instance().SetSlot(window, index, value, &previous);
    return previous;
}

LONG_PTR GetWindowLong(HWND window, int index) {
    if (const std::atomic<LONG_PTR>* slot = OwnSlot(window, index))
        return slot->load();
    LONG_PTR value = 0;
    WindowRegistry::Instance().GetSlot(window, index, &value);
    return value;
}

LRESULT DefWindowProc(HWND, UINT, WPARAM, LPARAM) {
    return 0;
}

bool PostMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return WindowRegistry::Instance().Post(window,
                                           new WindowMessageEvent(window, message, wParam, lParam));
}

// Messages are sent, and timers asked for and stopped, around every
// operation of a component: the thread's own queue answers them without the
// window registry's lock.
LRESULT SendMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    const MessageQueue* queue = MessageQueue::Current();
    WNDPROC procedure = queue ? queue->ProcedureOf(window) : nullptr;
    return procedure ? procedure(window, message, wParam, lParam) : 0;
}

UINT_PTR SetTimer(HWND window, UINT_PTR timerId, UINT elapse, TIMERPROC timerProc) {
    MessageQueue* queue = MessageQueue::Current();
    if (!queue || !queue->HasWindow(window) || timerId == 0)
        return 0;
    return queue->StartTimer(window, timerId, elapse, timerProc) ? timerId : 0;
}

bool KillTimer(HWND window, UINT_PTR timerId) {
    MessageQueue* queue = MessageQueue::Current();
    return queue && queue->StopTimer(window, timerId);
}

void DispatchPendingMessages() {
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}
