#include "platform/Events.h"

HANDLE CreateEvent(void*, bool, bool, const char*) { return 0; }
bool SetEvent(HANDLE) { return false; }
bool ResetEvent(HANDLE) { return false; }
bool CloseHandle(HANDLE) { return false; }
DWORD WaitForSingleObject(HANDLE, DWORD) { return WAIT_FAILED; }
DWORD MsgWaitForMultipleObjects(DWORD, const HANDLE*, bool, DWORD, DWORD) { return WAIT_FAILED; }

EventObject::EventObject(bool manualReset, bool initialState)
    : m_handle(CreateEvent(nullptr, manualReset, initialState, nullptr)) {}
EventObject::~EventObject() { CloseHandle(m_handle); }
EventObject::EventObject(EventObject&& other) noexcept : m_handle(other.m_handle) { other.m_handle = 0; }
EventObject& EventObject::operator=(EventObject&& other) noexcept {
    if (this != &other) {
        CloseHandle(m_handle);
        m_handle = other.m_handle;
        other.m_handle = 0;
    }
    return *this;
}
bool EventObject::IsSet() const { return false; }
