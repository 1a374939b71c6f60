#include "platform/DispatcherSleep.h"

#include <QAbstractEventDispatcher>
#include <QThread>

#include <glib.h>

#include <algorithm>
#include <array>
#include <ctime>
#include <poll.h>

namespace {

using Clock = DispatcherSleep::Clock;

// Room for the dispatcher's wake-up descriptor, the socket poller's, a
// window-system connection and other notifiers; a larger set is not kept.
constexpr guint kKeptDescriptors = 32;

// What the thread's dispatcher last slept on. Trivially destructible on
// purpose: glib may still poll on this thread after the thread's objects
// with destructors are gone (the main thread's static teardown).
struct KeptSet {
    std::array<pollfd, kKeptDescriptors> Descriptors {};
    guint Count = 0;
    // The socket poller's place in Descriptors.
    guint Poller = 0;
    // The set may be slept on: it fitted, held the socket poller's
    // descriptor, and the poll found nothing but the sockets ready. A turn
    // woken by anything else (a posted event, say) may be handling a batch
    // of which more is waiting behind the wake-up glib has taken in.
    bool Usable = false;
    // When that poll returned.
    Clock::time_point Woke {};
    // When the earliest timer the dispatcher knew of was due.
    Clock::time_point Due {};
    unsigned long Sleeps = 0;
};

enum class Installation : unsigned char { NotYet, Done, Refused };

thread_local KeptSet t_kept;
thread_local Installation t_installation = Installation::NotYet;
// The context polling through KeepingPoll; its dispatcher holds it.
thread_local GMainContext* t_context = nullptr;
// The socket poller's descriptor, as the last Sleep was told it.
thread_local int t_pollerDescriptor = -1;

// glib's poll, keeping what was polled. Called by the thread that iterates
// the context, between its prepare (which set the time limit) and check.
gint KeepingPoll(GPollFD* descriptors, guint count, gint timeout) {
    const Clock::time_point start = Clock::now();
    const gint result = g_poll(descriptors, count, timeout);
    KeptSet& kept = t_kept;
    kept.Woke = Clock::now();
    kept.Due = timeout < 0 ? Clock::time_point::max() : start + std::chrono::milliseconds(timeout);
    ++kept.Sleeps;
    const int poller = t_pollerDescriptor;
    kept.Usable = poller >= 0 && count <= kKeptDescriptors;
    bool pollerKept = false;
    for (guint i = 0; kept.Usable && i < count; ++i) {
        const bool isPoller = descriptors[i].fd == poller;
        if (isPoller) {
            kept.Poller = i;
            pollerKept = true;
        } else if (descriptors[i].revents != 0) {
            kept.Usable = false;
        }
        kept.Descriptors[i] =
            pollfd { descriptors[i].fd, static_cast<short>(descriptors[i].events), 0 };
    }
    kept.Usable = kept.Usable && pollerKept;
    kept.Count = kept.Usable ? count : 0;
    return result;
}

// Makes the thread's glib context poll through KeepingPoll; false when the
// thread's dispatcher is not glib's or the context already polls through
// someone else's function.
bool Install(QAbstractEventDispatcher& dispatcher) {
    if (!dispatcher.inherits("QEventDispatcherGlib"))
        return false;
    // The dispatcher made its context the thread's default when it was made;
    // waits do not run inside code that pushes a context of its own.
    GMainContext* context = g_main_context_ref_thread_default();
    const GPollFunc current = g_main_context_get_poll_func(context);
    const bool usable = current == g_poll || current == KeepingPoll;
    if (usable) {
        g_main_context_set_poll_func(context, KeepingPoll);
        t_context = context;
    }
    g_main_context_unref(context);
    return usable;
}

// Holds the context as glib's own poll does: a source attached from
// another thread then wakes the sleep (glib signals its wake-up descriptor
// only when someone else owns the context).
class ContextHeld {
public:
    explicit ContextHeld(GMainContext* context)
        : m_context(g_main_context_acquire(context) ? context : nullptr) {}
    ~ContextHeld() {
        if (m_context)
            g_main_context_release(m_context);
    }
    ContextHeld(const ContextHeld&) = delete;
    ContextHeld& operator=(const ContextHeld&) = delete;

    bool Held() const { return m_context != nullptr; }

private:
    GMainContext* m_context;
};

timespec TimeLeft(Clock::duration left) {
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(left);
    const auto nanoseconds = std::chrono::duration_cast<std::chrono::nanoseconds>(left - seconds);
    return timespec { static_cast<time_t>(seconds.count()),
                      static_cast<long>(nanoseconds.count()) };
}

} // namespace

DispatcherSleep::Woken DispatcherSleep::Sleep(QAbstractEventDispatcher& dispatcher,
                                              int pollerDescriptor,
                                              std::optional<Clock::time_point> limit) {
    if (t_installation == Installation::NotYet)
        t_installation = Install(dispatcher) ? Installation::Done : Installation::Refused;
    t_pollerDescriptor = pollerDescriptor;
    std::optional<Clock::time_point> until = FreshUntil();
    if (!until || t_kept.Descriptors[t_kept.Poller].fd != pollerDescriptor)
        return Woken::Nothing;
    if (limit)
        until = std::min(*until, *limit);
    // A window-system connection flushes what it queued before the
    // dispatcher sleeps; it must before this sleep too.
    emit dispatcher.aboutToBlock();
    std::array<pollfd, kKeptDescriptors> descriptors = t_kept.Descriptors;
    const guint count = t_kept.Count;
    const pollfd& poller = descriptors[t_kept.Poller];
    int ready = 0;
    const Clock::time_point now = Clock::now();
    if (*until > now) {
        const ContextHeld held(t_context);
        const timespec left = TimeLeft(*until - now);
        ready = held.Held() ? ::ppoll(descriptors.data(), count, &left, nullptr) : 0;
    }
    emit dispatcher.awake();
    if (ready <= 0)
        return Woken::Nothing;
    return ready == 1 && poller.revents != 0 ? Woken::Sockets : Woken::Other;
}

std::optional<DispatcherSleep::Clock::time_point> DispatcherSleep::FreshUntil() {
    const KeptSet& kept = t_kept;
    if (t_installation != Installation::Done || !kept.Usable)
        return std::nullopt;
    return std::min(kept.Due, kept.Woke + kFresh);
}

bool DispatcherSleep::LookedLately() {
    const std::optional<Clock::time_point> until = FreshUntil();
    return until && Clock::now() < *until;
}

unsigned long DispatcherSleep::DispatcherSleepsOfThisThread() {
    return t_kept.Sleeps;
}
