#include "platform/Events.h"

#include "tests/platform/MessageRecorder.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QMouseEvent>
#include <QPushButton>
#include <QThread>

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <thread>
#include <vector>

using namespace std::chrono_literals;

namespace {

constexpr DWORD kWatchdog = 20000;

DWORD WaitOn(HANDLE event, DWORD milliseconds = kWatchdog) {
    return MsgWaitForMultipleObjects(1, &event, false, milliseconds, QS_ALLINPUT);
}

// Runs the action on the thread's dispatcher the next time it is about to
// sleep, i.e. once the wait under test has nothing left to do.
class OnNextSleep {
public:
    explicit OnNextSleep(std::function<void()> action) {
        auto* dispatcher = QThread::currentThread()->eventDispatcher();
        m_connection =
            QObject::connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, [this, action] {
                QObject::disconnect(m_connection);
                action();
            });
    }
    ~OnNextSleep() { QObject::disconnect(m_connection); }

private:
    QMetaObject::Connection m_connection;
};

} // namespace

TEST(Events, ManualAndAutoResetEventsKeepTheirState) {
    EventObject manual;
    EXPECT_FALSE(manual.IsSet()) << "starts not signalled";
    EXPECT_EQ(WaitForSingleObject(manual.Handle(), 0), WAIT_TIMEOUT);
    manual.Set();
    EXPECT_EQ(WaitForSingleObject(manual.Handle(), 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitOn(manual.Handle()), WAIT_OBJECT_0) << "a manual event stays signalled";
    manual.Reset();
    EXPECT_EQ(WaitForSingleObject(manual.Handle(), 0), WAIT_TIMEOUT);

    EventObject automatic(false, true);
    EXPECT_EQ(WaitForSingleObject(automatic.Handle(), 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(automatic.Handle(), 0), WAIT_TIMEOUT)
        << "a satisfied wait resets an auto-reset event";

    HANDLE closed = CreateEvent(nullptr, true, true, nullptr);
    EXPECT_TRUE(CloseHandle(closed));
    EXPECT_FALSE(CloseHandle(closed));
    EXPECT_FALSE(SetEvent(closed));
    EXPECT_EQ(WaitOn(closed), WAIT_FAILED);
    EXPECT_EQ(WaitForSingleObject(0, 0), WAIT_FAILED);
    HANDLE handles[2] = { manual.Handle(), automatic.Handle() };
    EXPECT_EQ(MsgWaitForMultipleObjects(2, handles, true, 0, QS_ALLINPUT), WAIT_FAILED)
        << "wait-for-all is not offered";
}

TEST(Events, SignalFromAnotherThreadEndsTheWaitWithoutPolling) {
    EventObject event;
    std::promise<void> sleeping;
    std::thread signaller([&] {
        sleeping.get_future().wait();
        SetEvent(event.Handle());
    });
    // Wake-ups of the dispatcher while we wait: a polling wait would show
    // many; a sleeping one shows the single wake that the signal causes.
    int wakeUps = 0;
    auto* dispatcher = QThread::currentThread()->eventDispatcher();
    auto counting =
        QObject::connect(dispatcher, &QAbstractEventDispatcher::awake, [&] { ++wakeUps; });
    DWORD result;
    {
        OnNextSleep release([&] { sleeping.set_value(); });
        result = WaitOn(event.Handle(), INFINITE);
    }
    QObject::disconnect(counting);
    signaller.join();
    EXPECT_EQ(result, WAIT_OBJECT_0);
    EXPECT_LE(wakeUps, 3);
    EXPECT_TRUE(event.IsSet()) << "the wait does not reset a manual event";

    SCOPED_TRACE("the second of two events");
    EventObject first;
    EventObject second;
    std::thread([&] { second.Set(); }).join();
    HANDLE handles[2] = { first.Handle(), second.Handle() };
    EXPECT_EQ(MsgWaitForMultipleObjects(2, handles, false, kWatchdog, QS_ALLINPUT),
              WAIT_OBJECT_0 + 1);

    SCOPED_TRACE("a plain wait on a thread without an event loop");
    EventObject crossing;
    std::future<DWORD> waited = std::async(
        std::launch::async, [&] { return WaitForSingleObject(crossing.Handle(), kWatchdog); });
    crossing.Set();
    EXPECT_EQ(waited.get(), WAIT_OBJECT_0);
}

TEST(Events, PostedMessageIsInputAndIsDispatchedInsideTheWait) {
    MessageRecorder recorder;
    EventObject event;
    PostMessage(recorder.Window(), WM_USER + 1, 0, 0);
    EXPECT_EQ(WaitOn(event.Handle()), WAIT_OBJECT_0 + 1);
    EXPECT_EQ(recorder.Count(WM_USER + 1), 1u) << "the message was handled by the time it returned";

    SCOPED_TRACE("a signalled event wins over queued input");
    PostMessage(recorder.Window(), WM_USER + 2, 0, 0);
    event.Set();
    EXPECT_EQ(WaitOn(event.Handle()), WAIT_OBJECT_0);
    EXPECT_EQ(recorder.Count(WM_USER + 2), 0u);
    DispatchPendingMessages();
    EXPECT_EQ(recorder.Count(WM_USER + 2), 1u);

    SCOPED_TRACE("a handler that signals turns the result into the event's");
    event.Reset();
    recorder.OnMessage = [&](const RecordedMessage&) { event.Set(); };
    PostMessage(recorder.Window(), WM_USER + 3, 0, 0);
    EXPECT_EQ(WaitOn(event.Handle()), WAIT_OBJECT_0);

    SCOPED_TRACE("the time limit");
    event.Reset();
    recorder.OnMessage = nullptr;
    EXPECT_EQ(WaitOn(event.Handle(), 30), WAIT_TIMEOUT);
}

TEST(Events, GuiEventsAreHandledInsideTheWait) {
    QPushButton button("Stop");
    button.resize(80, 30);
    button.show();
    int clicks = 0;
    QObject::connect(&button, &QPushButton::clicked, [&] { ++clicks; });
    EventObject event;

    QPointF inside(10, 10);
    QCoreApplication::postEvent(&button, new QMouseEvent(QEvent::MouseButtonPress, inside,
                                                         button.mapToGlobal(inside), Qt::LeftButton,
                                                         Qt::LeftButton, Qt::NoModifier));
    QCoreApplication::postEvent(&button, new QMouseEvent(QEvent::MouseButtonRelease, inside,
                                                         button.mapToGlobal(inside), Qt::LeftButton,
                                                         Qt::NoButton, Qt::NoModifier));
    // The pattern of a waiting operation: wait, and on input dispatch the rest.
    while (clicks == 0) {
        DWORD result = WaitOn(event.Handle());
        ASSERT_EQ(result, WAIT_OBJECT_0 + 1);
        DispatchPendingMessages();
    }
    EXPECT_EQ(clicks, 1);
}

TEST(Events, AWaitInsideAMessageHandlerEndsByItsOwnEvent) {
    MessageRecorder recorder;
    EventObject inner;
    EventObject outer;
    DWORD innerResult = WAIT_FAILED;
    recorder.OnMessage = [&](const RecordedMessage& message) {
        if (message.Message == WM_USER + 1) {
            PostMessage(recorder.Window(), WM_USER + 2, 0, 0);
            do {
                innerResult = WaitOn(inner.Handle());
            } while (innerResult == WAIT_OBJECT_0 + 1);
            outer.Set();
        } else if (message.Message == WM_USER + 2) {
            inner.Set();
        }
    };
    PostMessage(recorder.Window(), WM_USER + 1, 0, 0);
    DWORD outerResult;
    do {
        outerResult = WaitOn(outer.Handle());
    } while (outerResult == WAIT_OBJECT_0 + 1);
    EXPECT_EQ(innerResult, WAIT_OBJECT_0);
    EXPECT_EQ(outerResult, WAIT_OBJECT_0);
    EXPECT_EQ(recorder.Messages().size(), 2u);
}

TEST(Events, ClosingTheHandleEndsAWaitOnIt) {
    MessageRecorder recorder;
    HANDLE event = CreateEvent(nullptr, true, false, nullptr);
    recorder.OnMessage = [&](const RecordedMessage&) { CloseHandle(event); };
    PostMessage(recorder.Window(), WM_USER, 0, 0);
    DWORD result;
    do {
        result = WaitOn(event);
    } while (result == WAIT_OBJECT_0 + 1);
    EXPECT_EQ(result, WAIT_FAILED);
}

TEST(Events, AWaitOnManyEventsReportsTheFirstSignalledOne) {
    std::vector<EventObject> events;
    for (int i = 0; i < 5; ++i)
        events.emplace_back(i != 4);
    std::vector<HANDLE> handles;
    for (const EventObject& event : events)
        handles.push_back(event.Handle());
    const auto wait = [&](DWORD milliseconds) {
        DWORD result;
        do {
            result = MsgWaitForMultipleObjects(static_cast<DWORD>(handles.size()), handles.data(),
                                               false, milliseconds, QS_ALLINPUT);
        } while (result == WAIT_OBJECT_0 + handles.size());
        return result;
    };
    std::thread([&] { events[3].Set(); }).join();
    events[4].Set();
    EXPECT_EQ(wait(kWatchdog), WAIT_OBJECT_0 + 3);
    events[3].Reset();
    EXPECT_EQ(wait(kWatchdog), WAIT_OBJECT_0 + 4);
    EXPECT_EQ(wait(0), WAIT_TIMEOUT) << "the auto-reset event was reset by the wait";
    std::thread signaller([&] { events[2].Set(); });
    EXPECT_EQ(wait(kWatchdog), WAIT_OBJECT_0 + 2);
    signaller.join();
}

TEST(Events, AClosedEventIsNotFoundAgainByThreadsThatUsedIt) {
    // Threads find the events they used last without the registry's lock;
    // closing must still reach them, whichever thread closes.
    HANDLE event = CreateEvent(nullptr, true, false, nullptr);
    std::promise<void> used;
    std::promise<void> closed;
    std::thread user([&] {
        EXPECT_TRUE(SetEvent(event));
        EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
        used.set_value();
        closed.get_future().wait();
        EXPECT_FALSE(SetEvent(event));
        EXPECT_FALSE(ResetEvent(event));
        EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_FAILED);
    });
    used.get_future().wait();
    EXPECT_TRUE(ResetEvent(event));
    EXPECT_TRUE(CloseHandle(event));
    closed.set_value();
    user.join();
    EXPECT_FALSE(SetEvent(event)) << "nor by the thread that closed it";
    EXPECT_EQ(WaitOn(event), WAIT_FAILED);

    SCOPED_TRACE("events used by turns keep their own states");
    std::vector<EventObject> events(9);
    for (size_t i = 0; i < events.size(); ++i) {
        if (i % 2 == 0)
            events[i].Set();
    }
    for (int round = 0; round < 2; ++round) {
        for (size_t i = 0; i < events.size(); ++i)
            EXPECT_EQ(events[i].IsSet(), i % 2 == 0) << i;
    }
}

TEST(Events, ASignalWhileTheWaitIsAboutToSleepIsNotLost) {
    // The wait looks at its event, then registers to be woken, then sleeps;
    // a signal from another thread at any moment of that must wake it. The
    // waits run on a thread of their own, where nothing else wakes a wait
    // that missed its signal: it would sleep until its time limit, and then
    // find the event signalled.
    constexpr auto kLimit = 2s;
    EventObject event;
    int failedRound = -1;
    std::unique_ptr<QThread> waiting(QThread::create([&] {
        for (int round = 0; round < 200 && failedRound < 0; ++round) {
            event.Reset();
            std::thread signaller([&, round] {
                const auto until =
                    std::chrono::steady_clock::now() + std::chrono::microseconds(round);
                while (std::chrono::steady_clock::now() < until) {
                }
                event.Set();
            });
            const auto start = std::chrono::steady_clock::now();
            DWORD result;
            do {
                result = WaitOn(event.Handle(), kLimit.count() * 1000);
            } while (result == WAIT_OBJECT_0 + 1);
            signaller.join();
            if (result != WAIT_OBJECT_0 || std::chrono::steady_clock::now() - start >= kLimit)
                failedRound = round;
        }
    }));
    waiting->start();
    waiting->wait();
    EXPECT_EQ(failedRound, -1);
}
