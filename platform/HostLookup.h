#pragma once

#include "platform/HostResolver.h"
#include "platform/WinTypes.h"

#include <map>
#include <memory>
#include <mutex>
#include <string>

// The lookups of WSAAsyncGetHostByName that have not answered yet. Each runs
// the installed resolver on a worker thread of its own, or takes the answer
// kept from an earlier lookup of the name (HostResolver.h) without one; the
// answer travels to the window's thread as a window task either way, which
// writes the host entry into the caller's buffer and then hands the message
// to the window, so a kept answer too arrives only after the call returned.
// A lookup that was cancelled, or whose window is gone by then, touches
// nothing.
class HostLookup {
public:
    static HostLookup& Instance();

    // Returns the task handle; 0 when no worker could be started.
    HANDLE Start(HWND window, UINT message, std::string name, char* buffer, int length);
    // False when the task is unknown or has answered already.
    bool Cancel(HANDLE task);
    void CancelAll();

private:
    struct Task {
        HANDLE Handle = 0;
        HWND Window = 0;
        UINT Message = 0;
        std::string Name;
        char* Buffer = nullptr;
        int Length = 0;
    };

    // Sends the answer to the window's thread; from any thread.
    static void Deliver(std::shared_ptr<Task> task, HostLookupResult result);
    // On the window's thread.
    void Answer(const Task& task, const HostLookupResult& result);
    // Takes the task out of the pending set; false when it was not there.
    bool Finish(HANDLE task);

    std::mutex m_mutex;
    std::map<HANDLE, std::shared_ptr<Task>> m_pending;
    HANDLE m_next = 1;
};
