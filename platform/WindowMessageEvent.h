#pragma once

#include "platform/WinTypes.h"

#include <QEvent>

#include <functional>

// One queued window message, carried through Qt's posted-event queue to the
// MessageQueue of the window's thread. It names the window by handle, not by
// pointer, so a message that outlives its window is recognised and dropped.
// A message with a task runs the task instead of the window procedure; the
// socket library uses that to do work on the window's thread just before the
// procedure sees its answer.
class WindowMessageEvent : public QEvent {
public:
    WindowMessageEvent(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
        : QEvent(Type()), Window(window), Message(message), WParam(wParam), LParam(lParam) {}
    WindowMessageEvent(HWND window, std::function<void()> task)
        : QEvent(Type()), Window(window), Task(std::move(task)) {}

    static QEvent::Type Type();

    HWND Window = 0;
    UINT Message = 0;
    WPARAM WParam = 0;
    LPARAM LParam = 0;
    std::function<void()> Task;
};
