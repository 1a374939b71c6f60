#pragma once

#include <chrono>
#include <optional>

class QAbstractEventDispatcher;

// What a waiting thread knows of its Qt event dispatcher's last sleep, so
// that a wait that only its own sockets end can skip the turn of the loop.
//
// Why: a wait for a small reply sleeps once per request. Sleeping in the
// dispatcher costs a turn of glib's loop around the one readiness that
// matters (every source prepared and checked, the socket notifier's event
// sent through the application), and on a core shared with the peer that
// turn's code and data come back cold each time. It was most of what a page
// fetch from a local server cost above a plain blocking loop.
//
// How: the thread's glib context polls through a function of ours, which
// keeps the descriptors the dispatcher slept on and when its next timer was
// due. That knowledge is fresh for kFresh after the dispatcher's poll, if
// that poll found nothing but the sockets ready (a turn woken by a posted
// event may be handling a batch with more of it waiting, which glib's
// wake-up descriptor no longer shows):
// - LookedLately: a wait may take its sockets' readiness before anything
//   else, as the dispatcher looked at everything else only just now.
// - Sleep polls the kept set, within the dispatcher's own time limit,
//   itself, holding the context as glib does while it polls. When the only
//   descriptor that became ready is the socket poller's (which the
//   dispatcher watches for every socket of the thread), the caller
//   dispatches the readiness itself. Anything else is left to a turn of the
//   loop, which then sees it at once: a posted event, a wake-up from another
//   thread, a source attached from another thread and a change of the
//   watched set all reach glib's wake-up descriptor; input of another
//   notifier its own descriptor; a timer the dispatcher knew of ends the
//   sleep when due.
//
// What it cannot see: a Qt timer started, or a glib source attached on this
// thread, after the dispatcher last polled. Such a timer may fire up to
// kFresh (and what the handlers run meanwhile) late; after that the loop
// turns again, and learns of it, before any sleep or readiness is taken
// this way. Window-system requests are flushed as before a dispatcher's
// sleep (aboutToBlock).
//
// Threads: each thread keeps what its own dispatcher slept on (only that
// thread iterates the dispatcher's context). A thread whose dispatcher is not
// glib's, or whose context polls through someone else's function, never
// takes this way: LookedLately is false and Sleep answers Nothing.
class DispatcherSleep {
public:
    using Clock = std::chrono::steady_clock;

    static constexpr std::chrono::milliseconds kFresh { 2 };

    enum class Woken {
        // Only the poller's descriptor is ready: dispatch it with
        // SocketPoller::DispatchThisThread, no turn of the loop needed.
        Sockets,
        // Another descriptor of the set is ready (glib's wake-up one for a
        // posted event, a wake-up or a change of the set): a turn of the
        // loop handles it.
        Other,
        // Nothing became ready in time, or nothing fresh is known: the loop
        // must turn, and sleep if nothing is due.
        Nothing,
    };

    // Sleeps on the kept set at most until limit, and never past the kept
    // set's freshness or the dispatcher's next timer. dispatcher: the
    // calling thread's; pollerDescriptor: its socket poller's epoll
    // descriptor, which the dispatcher's polls are judged by from then on.
    // The first call on a thread sets the keeping up and answers Nothing.
    static Woken Sleep(QAbstractEventDispatcher& dispatcher, int pollerDescriptor,
                       std::optional<Clock::time_point> limit);

    // Until when what the calling thread's dispatcher last slept on is
    // fresh (kFresh after its poll, or its next timer if sooner); nothing
    // when nothing usable is kept.
    static std::optional<Clock::time_point> FreshUntil();
    // Now is before FreshUntil.
    static bool LookedLately();

    // How many times the calling thread's dispatcher slept through the
    // function of ours.
    static unsigned long DispatcherSleepsOfThisThread();
};
