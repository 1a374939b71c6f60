// How a wait sleeps right after a turn of the Qt event loop, when it takes
// its sockets' readiness ahead of everything else: whatever else arrives
// then still ends its sleep at once, under glib's dispatcher and Qt's own.
// Pipes with socket notifiers stand in for descriptors the dispatcher
// watches.
#include "platform/Events.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QEvent>
#include <QSocketNotifier>
#include <QThread>
#include <QTimer>
#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <fcntl.h>
#include <functional>
#include <memory>
#include <thread>
#include <unistd.h>

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

constexpr DWORD kWatchdog = 5000;

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

// Counts the events it receives.
class Receiver : public QObject {
public:
    int Received = 0;

protected:
    bool event(QEvent*) override {
        ++Received;
        return true;
    }
};

// Runs the action on another thread a little after the wait has gone to
// sleep, and joins it when it goes.
class Later {
public:
    explicit Later(std::function<void()> action)
        : m_thread([action = std::move(action)] {
              std::this_thread::sleep_for(1ms);
              action();
          }) {}
    ~Later() { m_thread.join(); }
    Later(const Later&) = delete;
    Later& operator=(const Later&) = delete;

private:
    std::thread m_thread;
};

DWORD WaitForInput(DWORD milliseconds = kWatchdog) {
    return MsgWaitForMultipleObjects(0, nullptr, false, milliseconds, QS_ALLINPUT);
}

} // namespace

TEST(DispatcherSleep, InputArrivingJustAfterATurnOfTheLoopEndsTheWaitAtOnce) {
    WatchedPipe turn;
    WatchedPipe other;
    Receiver receiver;
    std::unique_ptr<WatchedPipe> later;
    std::unique_ptr<Later> from;
    bool fired = false;
    struct Row {
        const char* Name;
        // Makes the input arrive and tells whether it was handled.
        std::function<std::function<bool()>()> Arrange;
    };
    const Row rows[] = {
        { "an event posted from another thread, such as a host lookup's answer",
          [&] {
              from = std::make_unique<Later>([&receiver] {
                  QCoreApplication::postEvent(&receiver, new QEvent(QEvent::User));
              });
              return [&] { return receiver.Received == 1; };
          } },
        { "another descriptor the dispatcher watches",
          [&] {
              from = std::make_unique<Later>([&other] { other.Write(); });
              return [&] { return other.Drained() == 1; };
          } },
        { "a notifier made since the turn",
          [&] {
              later = std::make_unique<WatchedPipe>();
              from = std::make_unique<Later>([&later] { later->Write(); });
              return [&] { return later->Drained() == 1; };
          } },
        { "a timer started since the turn",
          [&] {
              QTimer::singleShot(1ms, Qt::PreciseTimer, [&fired] { fired = true; });
              return [&] { return fired; };
          } },
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.Name);
        // A wait that a turn of the loop ends: the next one follows it.
        const int drained = turn.Drained();
        turn.Write();
        ASSERT_EQ(WaitForInput(), WAIT_OBJECT_0);
        ASSERT_EQ(turn.Drained(), drained + 1);
        const auto start = Clock::now();
        const std::function<bool()> handled = row.Arrange();
        EXPECT_EQ(WaitForInput(), WAIT_OBJECT_0);
        EXPECT_TRUE(handled()) << "dispatched by the time the wait returned";
        EXPECT_LT(Clock::now() - start, 1s);
        from.reset();
    }
}

TEST(DispatcherSleep, AWaitThatNothingEndsSleepsToItsLimitAndTellsTheWindowSystemItBlocks) {
    WatchedPipe turn;
    turn.Write();
    ASSERT_EQ(WaitForInput(), WAIT_OBJECT_0);
    // A window-system connection flushes what it queued before the thread
    // sleeps.
    int blocks = 0;
    QObject listener;
    QObject::connect(QThread::currentThread()->eventDispatcher(),
                     &QAbstractEventDispatcher::aboutToBlock, &listener, [&] { ++blocks; });
    const auto start = Clock::now();
    EXPECT_EQ(WaitForInput(20), WAIT_TIMEOUT);
    EXPECT_GE(Clock::now() - start, 20ms);
    EXPECT_GE(blocks, 1);
}
