#pragma once

#include "platform/Events.h"
#include "platform/Windows.h"
#include "tests/support/DispatchUntil.h"

#include <algorithm>
#include <chrono>
#include <functional>
#include <vector>

// A hidden window that records every message it receives. The platform tests
// wait for its messages with DispatchUntil.
struct RecordedMessage {
    UINT Message = 0;
    WPARAM WParam = 0;
    LPARAM LParam = 0;
};

class MessageRecorder {
public:
    MessageRecorder() {
        static const char* const kClassName = "PlatformTestRecorder";
        if (!GetClassInfo(GetModuleHandle(nullptr), kClassName, nullptr)) {
            WNDCLASS windowClass;
            windowClass.lpfnWndProc = &MessageRecorder::Procedure;
            windowClass.cbWndExtra = 4;
            windowClass.hInstance = GetModuleHandle(nullptr);
            windowClass.lpszClassName = kClassName;
            RegisterClass(&windowClass);
        }
        m_window = CreateWindowEx(WS_EX_TOOLWINDOW, kClassName, "", WS_POPUP, 0, 0, 0, 0, 0, 0,
                                  GetModuleHandle(nullptr), nullptr);
        SetWindowLong(m_window, 0, reinterpret_cast<LONG_PTR>(this));
    }
    ~MessageRecorder() { Destroy(); }
    MessageRecorder(const MessageRecorder&) = delete;
    MessageRecorder& operator=(const MessageRecorder&) = delete;

    HWND Window() const { return m_window; }
    void Destroy() {
        if (m_window)
            DestroyWindow(m_window);
        m_window = 0;
    }

    const std::vector<RecordedMessage>& Messages() const { return m_messages; }
    std::vector<RecordedMessage> Messages(UINT message) const {
        std::vector<RecordedMessage> found;
        std::copy_if(m_messages.begin(), m_messages.end(), std::back_inserter(found),
                     [&](const RecordedMessage& m) { return m.Message == message; });
        return found;
    }
    size_t Count(UINT message) const { return Messages(message).size(); }

    // Called for every message after it was recorded.
    std::function<void(const RecordedMessage&)> OnMessage;

private:
    static LRESULT Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        auto* self = reinterpret_cast<MessageRecorder*>(GetWindowLong(window, 0));
        if (!self)
            return DefWindowProc(window, message, wParam, lParam);
        self->m_messages.push_back({ message, wParam, lParam });
        if (self->OnMessage)
            self->OnMessage(self->m_messages.back());
        return 0;
    }

    HWND m_window = 0;
    std::vector<RecordedMessage> m_messages;
};
