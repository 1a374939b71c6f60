#include "platform/EventRegistry.h"

#include <QAbstractEventDispatcher>

#include <array>
#include <utility>

void EventWaiter::Poke() {
    {
        std::lock_guard lock(Mutex);
        WasPoked = true;
    }
    Poked.notify_all();
    if (Dispatcher && Thread != std::this_thread::get_id())
        Dispatcher->wakeUp();
}

bool EventWaiter::TakePoke() {
    std::lock_guard lock(Mutex);
    return std::exchange(WasPoked, false);
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
    // A few places, picked by the handle's low bits (handles step by 4).
    struct Remembered {
        const EventRegistry* Registry = nullptr;
        HANDLE Handle = 0;
        std::shared_ptr<EventState> State;
    };
    constexpr size_t kRemembered = 4;
    thread_local std::array<Remembered, kRemembered> t_remembered;
    Remembered& place = t_remembered[(handle / 4) % kRemembered];
    if (place.Registry == this && place.Handle == handle && place.State &&
        !place.State->Closed.load())
        return place.State;
    auto state = FindLocking(handle);
    if (state)
        place = { this, handle, state };
    return state;
}

std::shared_ptr<EventState> EventRegistry::FindLocking(HANDLE handle) const {
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
