#pragma once

#include "platform/Windows.h"

#include <QEvent>

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class MessageQueue;

// Every registered window class and every live window of the process, shared
// by all threads under one lock. Window procedures are never called with the
// lock held.
class WindowRegistry {
public:
    static WindowRegistry& Instance();

    ATOM RegisterClass(const WNDCLASS& windowClass);
    bool UnregisterClass(const char* className, HINSTANCE instance);
    bool FindClass(HINSTANCE instance, const char* className, WNDCLASS* windowClass) const;

    // Adds a window of the class for the calling thread and tells the queue
    // its procedure and slots (MessageQueue::AdoptWindow); 0 when the class
    // is unknown.
    HWND AddWindow(HINSTANCE instance, const char* className, MessageQueue* queue);
    // Removes a window of the calling thread; returns its queue, or null when
    // the window is unknown or belongs to another thread.
    MessageQueue* RemoveWindow(HWND window);
    bool Exists(HWND window) const;

    bool SetSlot(HWND window, int index, LONG_PTR value, LONG_PTR* previous);
    bool GetSlot(HWND window, int index, LONG_PTR* value);

    // Queues the event for the window's thread; deletes it and returns false
    // when the window does not exist.
    bool Post(HWND window, QEvent* event);

private:
    struct ClassRecord {
        WNDCLASS Class;
        std::string Name;
        ATOM Atom = 0;
    };
    struct WindowRecord {
        std::thread::id Thread;
        MessageQueue* Queue = nullptr;
        // Made once with the window; the window's thread reads them through
        // its queue without the lock, so each is written atomically.
        std::vector<std::atomic<LONG_PTR>> Slots;
    };

    static std::string ClassKey(HINSTANCE instance, const char* className);
    // The slot at a byte index of a window's extra bytes; call with the lock.
    std::atomic<LONG_PTR>* SlotLocked(HWND window, int index);

    mutable std::mutex m_mutex;
    std::map<std::string, std::unique_ptr<ClassRecord>> m_classes;
    std::map<HWND, WindowRecord> m_windows;
    HWND m_nextWindow = 0x10;
    ATOM m_nextAtom = 0xC000;
};

// Runs the task on the window's thread during message dispatch, if the
// window still exists then; false (task dropped) when it does not exist now.
bool PostWindowTask(HWND window, std::function<void()> task);
