#include "platform/EventRegistry.h"

#include <QAbstractEventDispatcher>

void EventWaiter::Poke() {
    {
        std::lock_guard lock(Mutex);
        WasPoked = true;
    }
    Poked.notify_all();
    if (Dispatcher && Thread != std::this_thread::get_id())
        Dispatcher->wakeUp();
}

EventRegistry& EventRegistry::Instance() {
    // Never destroyed: worker threads may still post or signal during
    // static teardown.
    static auto* registry = new EventRegistry;
    return *registry;
}

HANDLE EventRegistry::Add(bool manualReset, bool initialState) {
    auto state = std::make_shared<EventState>();
    state->ManualReset = manualReset;
    state->Signalled = initialState;
    std::lock_guard lock(m_mutex);
    HANDLE handle = m_next;
    m_next += 4;
    m_events.emplace(handle, std::move(state));
    return handle;
}

std::shared_ptr<EventState> EventRegistry::Find(HANDLE handle) const {
    std::lock_guard lock(m_mutex);
    auto found = m_events.find(handle);
    return found == m_events.end() ? nullptr : found->second;
}

bool EventRegistry::Close(HANDLE handle) {
    std::shared_ptr<EventState> state;
    {
        std::lock_guard lock(m_mutex);
        auto found = m_events.find(handle);
        if (found == m_events.end())
            return false;
        state = std::move(found->second);
        m_events.erase(found);
    }
    std::lock_guard lock(state->Mutex);
    state->Closed = true;
    for (EventWaiter* waiter : state->Waiters)
        waiter->Poke();
    return true;
}
