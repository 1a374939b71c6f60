// The sleep a wait takes on what the Qt event dispatcher last slept on. Pipes
// with socket notifiers stand in for the socket poller's epoll descriptor
// (the "poller" pipe) and for any other descriptor the dispatcher watches.
#include "platform/DispatcherSleep.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QEvent>
#include <QSocketNotifier>
#include <QThread>
#include <QTimer>
#include <gtest/gtest.h>

#include <glib.h>

#include <array>
#include <atomic>
#include <chrono>
#include <fcntl.h>
#include <functional>
#include <memory>
#include <optional>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace std::chrono_literals;
using Clock = DispatcherSleep::Clock;
using Woken = DispatcherSleep::Woken;

namespace {

// Qt makes its own dispatcher instead of glib's when QT_NO_GLIB is set, as a
// Qt built without glib always does; the sleep then never takes its way.
bool WithoutGlib() {
    return !qEnvironmentVariableIsEmpty("QT_NO_GLIB");
}

// A pipe that the dispatcher watches; its notifier drains what is written.
class WatchedPipe {
public:
    WatchedPipe() {
        EXPECT_EQ(::pipe2(m_ends.data(), O_NONBLOCK | O_CLOEXEC), 0);
        m_notifier = std::make_unique<QSocketNotifier>(m_ends[0], QSocketNotifier::Read);
        QObject::connect(m_notifier.get(), &QSocketNotifier::activated, [this] { Drain(); });
    }
    ~WatchedPipe() {
        m_notifier.reset();
        ::close(m_ends[0]);
        ::close(m_ends[1]);
    }
    WatchedPipe(const WatchedPipe&) = delete;
    WatchedPipe& operator=(const WatchedPipe&) = delete;

    int ReadEnd() const { return m_ends[0]; }
    void Write() { EXPECT_EQ(::write(m_ends[1], "x", 1), 1); }
    void Drain() {
        char byte = 0;
        while (::read(m_ends[0], &byte, 1) == 1)
            ++m_drained;
    }
    int Drained() const { return m_drained; }

private:
    std::array<int, 2> m_ends {};
    std::unique_ptr<QSocketNotifier> m_notifier;
    int m_drained = 0;
};

class DispatcherSleepTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (WithoutGlib())
            GTEST_SKIP() << "about glib's dispatcher alone";
        m_dispatcher = QThread::currentThread()->eventDispatcher();
        ASSERT_NE(m_dispatcher, nullptr);
        // The first sleep of a thread sets the keeping up; a limit already
        // reached ends any sleep at once.
        EXPECT_EQ(Sleep(Clock::now()), Woken::Nothing);
    }

    Woken Sleep(std::optional<Clock::time_point> limit = std::nullopt) {
        return DispatcherSleep::Sleep(*m_dispatcher, m_poller.ReadEnd(), limit);
    }

    // Lets the dispatcher sleep, woken by the poller pipe alone, until what it
    // slept on is fresh: a turn that found other work already waiting (a
    // posted event, say) leaves nothing fresh.
    void DispatcherSleepsOnce() {
        const unsigned long before = DispatcherSleep::DispatcherSleepsOfThisThread();
        for (int turn = 0; turn == 0 || (turn < 100 && !DispatcherSleep::LookedLately()); ++turn) {
            const int drained = m_poller.Drained();
            m_poller.Write();
            while (m_poller.Drained() == drained)
                QCoreApplication::processEvents(QEventLoop::AllEvents |
                                                QEventLoop::WaitForMoreEvents);
        }
        ASSERT_GT(DispatcherSleep::DispatcherSleepsOfThisThread(), before)
            << "the dispatcher polls through the keeping function";
    }

    // Arranges what the sleep should find right after the dispatcher slept,
    // and sleeps. What the dispatcher saw is fresh for only 2 ms: a test
    // thread held up longer than that (a busy machine) finds it stale and
    // tries again.
    Woken SleepAfter(const std::function<void()>& arrange) {
        Woken woken = Woken::Nothing;
        for (int attempt = 0; attempt < 50 && woken == Woken::Nothing; ++attempt) {
            DispatcherSleepsOnce();
            arrange();
            woken = Sleep(Clock::now() + 1h);
        }
        return woken;
    }

    QAbstractEventDispatcher* m_dispatcher = nullptr;
    WatchedPipe m_poller;
    WatchedPipe m_other;
};

TEST_F(DispatcherSleepTest, OnlyThePollersReadinessIsTakenWithoutATurnOfTheLoop) {
    unsigned long sleeps = 0;
    int drained = 0;
    EXPECT_EQ(SleepAfter([&] {
                  sleeps = DispatcherSleep::DispatcherSleepsOfThisThread();
                  drained = m_poller.Drained();
                  m_poller.Write();
              }),
              Woken::Sockets);
    EXPECT_EQ(DispatcherSleep::DispatcherSleepsOfThisThread(), sleeps) << "no turn of the loop";
    EXPECT_EQ(m_poller.Drained(), drained) << "the caller dispatches, not the sleep";

    // Readiness of anything else as well goes to the loop.
    EXPECT_EQ(SleepAfter([&] { m_other.Write(); }), Woken::Other);
    EXPECT_EQ(SleepAfter([&] {
                  m_poller.Write();
                  m_other.Write();
              }),
              Woken::Other)
        << "both ready";
}

TEST_F(DispatcherSleepTest, PostedEventsAndChangesOfTheWatchedSetEndTheSleep) {
    // A posted event wakes the dispatcher through glib's wake-up descriptor,
    // which is in the kept set; the sleep leaves the event to the loop.
    QObject receiver;
    EXPECT_EQ(SleepAfter([&] { QCoreApplication::postEvent(&receiver, new QEvent(QEvent::User)); }),
              Woken::Other);
    QCoreApplication::sendPostedEvents(&receiver);

    // A notifier made since the dispatcher slept is not in the kept set, but
    // glib announces the change on the same descriptor.
    std::vector<std::unique_ptr<WatchedPipe>> later;
    EXPECT_EQ(SleepAfter([&] { later.push_back(std::make_unique<WatchedPipe>()); }), Woken::Other);
    EXPECT_EQ(SleepAfter([&] { later.back()->Write(); }), Woken::Other)
        << "the new descriptor is watched";
}

TEST_F(DispatcherSleepTest, ATurnWokenByAnythingButTheSocketsLeavesNothingFresh) {
    // The turn may be handling a batch of posted events with more of it
    // waiting behind the wake-up that glib has already taken in.
    DispatcherSleepsOnce();
    const int drained = m_other.Drained();
    m_other.Write();
    while (m_other.Drained() == drained)
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    EXPECT_FALSE(DispatcherSleep::LookedLately());
    m_poller.Write();
    EXPECT_EQ(Sleep(Clock::now() + 1h), Woken::Nothing);

    DispatcherSleepsOnce();
    QObject receiver;
    QCoreApplication::postEvent(&receiver, new QEvent(QEvent::User));
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    EXPECT_FALSE(DispatcherSleep::LookedLately());
}

TEST_F(DispatcherSleepTest, TheSleepEndsAtItsLimitNeverEarlier) {
    DispatcherSleepsOnce();
    const std::optional<Clock::time_point> fresh = DispatcherSleep::FreshUntil();
    ASSERT_TRUE(fresh.has_value());
    const auto limit = Clock::now() + 500us;
    EXPECT_EQ(Sleep(limit), Woken::Nothing);
    EXPECT_GE(Clock::now(), std::min(limit, *fresh));
}

TEST_F(DispatcherSleepTest, WhatTheDispatcherSawGoesStaleAndATimerItKnewEndsTheSleep) {
    DispatcherSleepsOnce();
    std::this_thread::sleep_for(DispatcherSleep::kFresh + 1ms);
    EXPECT_FALSE(DispatcherSleep::LookedLately());
    m_poller.Write();
    EXPECT_EQ(Sleep(), Woken::Nothing) << "a stale set is not slept on";
    m_poller.Drain();

    // The dispatcher slept knowing a timer due within the freshness: the
    // sleep ends no later than the timer is due, and not before.
    bool fired = false;
    const auto start = Clock::now();
    QTimer::singleShot(1ms, Qt::PreciseTimer, [&fired] { fired = true; });
    DispatcherSleepsOnce();
    EXPECT_EQ(Sleep(Clock::now() + 1h), Woken::Nothing);
    EXPECT_GE(Clock::now() - start, 1ms);
    EXPECT_FALSE(DispatcherSleep::LookedLately()) << "the timer is due";
    while (!fired)
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
}

TEST_F(DispatcherSleepTest, TheSleepTellsTheWindowSystemItBlocks) {
    int blocks = 0;
    int awakes = 0;
    QObject listener;
    QObject::connect(m_dispatcher, &QAbstractEventDispatcher::aboutToBlock, &listener,
                     [&] { ++blocks; });
    QObject::connect(m_dispatcher, &QAbstractEventDispatcher::awake, &listener, [&] { ++awakes; });
    EXPECT_EQ(SleepAfter([&] {
                  blocks = 0;
                  awakes = 0;
                  m_poller.Write();
              }),
              Woken::Sockets);
    EXPECT_EQ(blocks, 1);
    EXPECT_EQ(awakes, 1);
}

// Someone else's poll function on a thread's context: that thread never
// sleeps on its own.
gint OtherPoll(GPollFD* descriptors, guint count, gint timeout) {
    return g_poll(descriptors, count, timeout);
}

TEST(DispatcherSleepThreads, AContextPollingThroughAnotherFunctionIsLeftAlone) {
    if (WithoutGlib())
        GTEST_SKIP() << "about glib's dispatcher alone";
    // Atomic: the thread sanitizer does not see QThread::wait order them.
    std::atomic<Woken> first { Woken::Sockets };
    std::atomic<Woken> later { Woken::Sockets };
    std::atomic<bool> looked { true };
    std::unique_ptr<QThread> thread(QThread::create([&] {
        GMainContext* context = g_main_context_ref_thread_default();
        g_main_context_set_poll_func(context, OtherPoll);
        g_main_context_unref(context);
        WatchedPipe poller;
        QAbstractEventDispatcher* dispatcher = QThread::currentThread()->eventDispatcher();
        first = DispatcherSleep::Sleep(*dispatcher, poller.ReadEnd(), Clock::now() + 1ms);
        poller.Write();
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
        poller.Write();
        later = DispatcherSleep::Sleep(*dispatcher, poller.ReadEnd(), Clock::now() + 1ms);
        looked = DispatcherSleep::LookedLately();
    }));
    thread->start();
    ASSERT_TRUE(thread->wait(30000));
    EXPECT_EQ(first.load(), Woken::Nothing);
    EXPECT_EQ(later.load(), Woken::Nothing);
    EXPECT_FALSE(looked.load());
}

} // namespace
