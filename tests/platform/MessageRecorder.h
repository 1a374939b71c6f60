#pragma once

#include "platform/Events.h"
#include "platform/Windows.h"

#include <algorithm>
#include <chrono>
#include <functional>
#include <vector>

// A hidden window that records every message it receives, and the loops the
// platform tests use to wait for messages: they go through the layer's own
// wait, with a generous deadline, so a lost message fails instead of hanging.
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

    // Dispatches through the wait until the condition holds; false once the
    // deadline has passed.
    static bool WaitUntil(const std::function<bool()>& condition,
                          std::chrono::milliseconds deadline = std::chrono::seconds(20)) {
        auto end = std::chrono::steady_clock::now() + deadline;
        while (!condition()) {
            auto left = std::chrono::ceil<std::chrono::milliseconds>(
                end - std::chrono::steady_clock::now());
            if (left.count() <= 0)
                return false;
            MsgWaitForMultipleObjects(0, nullptr, false, static_cast<DWORD>(left.count()),
                                      QS_ALLINPUT);
        }
        return true;
    }

    // Dispatches everything that comes within the period, to show that a
    // message does NOT arrive. A slow machine only makes this check weaker.
    static void DispatchFor(std::chrono::milliseconds period) {
        WaitUntil([] { return false; }, period);
    }

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
