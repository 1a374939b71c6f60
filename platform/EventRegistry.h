#pragma once

#include "platform/WinTypes.h"

#include <atomic>
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
    // Whether the waiter was poked since the last call.
    bool TakePoke();
};

struct EventState {
    std::mutex Mutex;
    bool ManualReset = true;
    bool Signalled = false;
    // Set once, by CloseHandle; read without the lock by the look-ups that
    // remember the event.
    std::atomic<bool> Closed { false };
    std::vector<EventWaiter*> Waiters;
};

// The live event objects by handle. Handles count up and are never reused.
class EventRegistry {
public:
    static EventRegistry& Instance();

    HANDLE Add(bool manualReset, bool initialState);
    // The event of a live handle, null for a closed or unknown one.
    //
    // A component sets, resets and waits on the same event several times
    // per operation, on its own thread: each thread remembers the events it
    // found last, and finds them again without the registry's lock as long
    // as they are not closed (handles are never reused, so a remembered
    // handle cannot name another event).
    std::shared_ptr<EventState> Find(HANDLE handle) const;
    // Removes the handle and marks the event closed; false when unknown.
    bool Close(HANDLE handle);

private:
    // Find, under the lock.
    std::shared_ptr<EventState> FindLocking(HANDLE handle) const;

    mutable std::mutex m_mutex;
    std::map<HANDLE, std::shared_ptr<EventState>> m_events;
    HANDLE m_next = 0x100;
};
