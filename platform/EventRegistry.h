#pragma once

#include "platform/WinTypes.h"

#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

class QAbstractEventDispatcher;

// One thread's wait on one or more events. SetEvent pokes every waiter of
// the event: through the condition variable for a plain wait, and through
// the thread's Qt event dispatcher for a wait that dispatches input. A
// SetEvent on the waiting thread itself runs inside that wait's dispatch,
// which looks at the events as soon as the dispatch returns: waking the
// dispatcher then would only cost a write and one more turn of its loop.
struct EventWaiter {
    std::mutex Mutex;
    std::condition_variable Poked;
    bool WasPoked = false;
    QAbstractEventDispatcher* Dispatcher = nullptr;
    std::thread::id Thread = std::this_thread::get_id();

    void Poke();
};

struct EventState {
    std::mutex Mutex;
    bool ManualReset = true;
    bool Signalled = false;
    bool Closed = false;
    std::vector<EventWaiter*> Waiters;
};

// The live event objects by handle. Handles count up and are never reused.
class EventRegistry {
public:
    static EventRegistry& Instance();

    HANDLE Add(bool manualReset, bool initialState);
    std::shared_ptr<EventState> Find(HANDLE handle) const;
    // Removes the handle and marks the event closed; false when unknown.
    bool Close(HANDLE handle);

private:
    mutable std::mutex m_mutex;
    std::map<HANDLE, std::shared_ptr<EventState>> m_events;
    HANDLE m_next = 0x100;
};
