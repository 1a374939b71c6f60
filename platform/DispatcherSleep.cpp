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
    // The last poll's set fitted.
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

// glib's poll, keeping what was polled. Called by the thread that iterates
// the context, between its prepare (which set the time limit) and check.
gint KeepingPoll(GPollFD* descriptors, guint count, gint timeout) {
    const Clock::time_point start = Clock::now();
    const gint result = g_poll(descriptors, count, timeout);
    KeptSet& kept = t_kept;
    kept.Woke = Clock::now();
    kept.Due = timeout < 0 ? Clock::time_point::max() : start + std::chrono::milliseconds(timeout);
    ++kept.Sleeps;
    kept.Usable = count <= kKeptDescriptors;
    if (kept.Usable) {
        kept.Count = count;
        for (guint i = 0; i < count; ++i) {
            kept.Descriptors[i] =
                pollfd { descriptors[i].fd, static_cast<short>(descriptors[i].events), 0 };
        }
    }
    return result;
}

// Makes the thread's glib context poll through KeepingPoll; false when the
// thread's dispatcher is not glib's or the context already polls through
// someone else's function.
bool Install(QAbstractEventDispatcher& dispatcher) {
    if (!dispatcher.inherits("QEventDispatcherGlib"))
        return false;
    // The dispatcher made its context the thread's default when it was made.
    GMainContext* context = g_main_context_ref_thread_default();
    const GPollFunc current = g_main_context_get_poll_func(context);
    const bool usable = current == g_poll || current == KeepingPoll;
    if (usable)
        g_main_context_set_poll_func(context, KeepingPoll);
    g_main_context_unref(context);
    return usable;
}

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
    const KeptSet& kept = t_kept;
    if (t_installation != Installation::Done || !kept.Usable)
        return Woken::Nothing;
    Clock::time_point until = std::min(kept.Due, kept.Woke + kFresh);
    if (limit)
        until = std::min(until, *limit);
    const Clock::time_point now = Clock::now();
    if (until <= now)
        return Woken::Nothing;
    std::array<pollfd, kKeptDescriptors> descriptors = kept.Descriptors;
    const auto poller = std::find_if(descriptors.begin(), descriptors.begin() + kept.Count,
                                     [&](const pollfd& d) { return d.fd == pollerDescriptor; });
    if (poller == descriptors.begin() + kept.Count)
        return Woken::Nothing;
    // A window-system connection flushes what it queued before the
    // dispatcher sleeps; it must before this sleep too.
    emit dispatcher.aboutToBlock();
    const timespec left = TimeLeft(until - now);
    const int ready = ::ppoll(descriptors.data(), kept.Count, &left, nullptr);
    emit dispatcher.awake();
    if (ready <= 0)
        return Woken::Nothing;
    return ready == 1 && poller->revents != 0 ? Woken::Sockets : Woken::Other;
}

bool DispatcherSleep::LookedLately() {
    const KeptSet& kept = t_kept;
    if (t_installation != Installation::Done || !kept.Usable)
        return false;
    const Clock::time_point now = Clock::now();
    return now < kept.Woke + kFresh && now < kept.Due;
}

unsigned long DispatcherSleep::DispatcherSleepsOfThisThread() {
    return t_kept.Sleeps;
}
