#include "platform/Windows.h"

#include "tests/platform/MessageRecorder.h"

#include <gtest/gtest.h>

#include <memory>
#include <thread>

using namespace std::chrono_literals;

namespace {

LRESULT IgnoreAll(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return DefWindowProc(window, message, wParam, lParam);
}

WNDCLASS ClassRecord(const char* name, int extraBytes = 4) {
    WNDCLASS windowClass;
    windowClass.lpfnWndProc = &IgnoreAll;
    windowClass.cbWndExtra = extraBytes;
    windowClass.hInstance = GetModuleHandle(nullptr);
    windowClass.lpszClassName = name;
    return windowClass;
}

HWND MakeWindow(const char* className) {
    return CreateWindowEx(WS_EX_TOOLWINDOW, className, "", WS_POPUP, 0, 0, 0, 0, 0, 0,
                          GetModuleHandle(nullptr), nullptr);
}

} // namespace

TEST(Windows, ClassesAreRegisteredOncePerNameAndFound) {
    WNDCLASS record = ClassRecord("WindowsTestClassA");
    EXPECT_FALSE(GetClassInfo(GetModuleHandle(nullptr), "WindowsTestClassA", nullptr));
    EXPECT_NE(RegisterClass(&record), 0);
    EXPECT_EQ(RegisterClass(&record), 0) << "a second registration of the name fails";

    WNDCLASS found;
    ASSERT_TRUE(GetClassInfo(GetModuleHandle(nullptr), "windowstestclassa", &found))
        << "class names compare without regard to case";
    EXPECT_EQ(found.lpfnWndProc, &IgnoreAll);
    EXPECT_EQ(found.cbWndExtra, 4);
    EXPECT_STREQ(found.lpszClassName, "WindowsTestClassA");

    EXPECT_EQ(MakeWindow("NoSuchClass"), 0u);
    WNDCLASS nameless = ClassRecord(nullptr);
    EXPECT_EQ(RegisterClass(&nameless), 0);
    WNDCLASS noProcedure = ClassRecord("WindowsTestNoProc");
    noProcedure.lpfnWndProc = nullptr;
    EXPECT_EQ(RegisterClass(&noProcedure), 0);
}

TEST(Windows, ExtraSlotHoldsAPointerAndBadIndexesAreRefused) {
    WNDCLASS record = ClassRecord("WindowsTestSlots", 4);
    RegisterClass(&record);
    HWND window = MakeWindow("WindowsTestSlots");
    ASSERT_NE(window, 0u);
    EXPECT_TRUE(IsWindow(window));

    int object = 0;
    LONG_PTR pointer = reinterpret_cast<LONG_PTR>(&object);
    EXPECT_EQ(GetWindowLong(window, 0), 0);
    EXPECT_EQ(SetWindowLong(window, 0, pointer), 0);
    EXPECT_EQ(GetWindowLong(window, 0), pointer) << "all 64 bits survive";
    EXPECT_EQ(SetWindowLong(window, 0, 7), pointer) << "the previous value comes back";

    EXPECT_EQ(SetWindowLong(window, 4, 1), 0) << "only one slot for 4 extra bytes";
    EXPECT_EQ(GetWindowLong(window, 4), 0);
    EXPECT_EQ(GetWindowLong(window, -4), 0);
    EXPECT_EQ(GetWindowLong(window, 2), 0) << "slots start at multiples of 4";

    SCOPED_TRACE("the window's thread and another one see each other's writes");
    std::thread([&] {
        EXPECT_EQ(GetWindowLong(window, 0), 7);
        EXPECT_EQ(SetWindowLong(window, 0, 8), 7);
        EXPECT_EQ(GetWindowLong(window, 4), 0);
    }).join();
    EXPECT_EQ(GetWindowLong(window, 0), 8);
    HWND second = MakeWindow("WindowsTestSlots");
    ASSERT_NE(second, 0u);
    EXPECT_EQ(GetWindowLong(second, 0), 0) << "each window has its own slots";
    EXPECT_EQ(SetWindowLong(second, 0, 9), 0);
    EXPECT_EQ(GetWindowLong(window, 0), 8);
    EXPECT_TRUE(DestroyWindow(second));

    EXPECT_TRUE(DestroyWindow(window));
    EXPECT_FALSE(IsWindow(window));
    EXPECT_FALSE(DestroyWindow(window));
    EXPECT_EQ(GetWindowLong(window, 0), 0);
    EXPECT_EQ(SetWindowLong(window, 0, 1), 0);
    EXPECT_NE(MakeWindow("WindowsTestSlots"), window) << "handles are not reused";
}

TEST(Windows, PostedMessagesArriveInOrderFromAnyThread) {
    MessageRecorder recorder;
    constexpr int kThreads = 4;
    constexpr int kPerThread = 500;
    std::vector<std::thread> posters;
    for (int t = 0; t < kThreads; ++t) {
        posters.emplace_back([&, t] {
            for (int i = 0; i < kPerThread; ++i)
                PostMessage(recorder.Window(), WM_USER + t, static_cast<WPARAM>(i), 0);
        });
    }
    for (auto& poster : posters)
        poster.join();
    ASSERT_TRUE(DispatchUntil([&] { return recorder.Messages().size() == kThreads * kPerThread; }));
    for (int t = 0; t < kThreads; ++t) {
        auto messages = recorder.Messages(WM_USER + t);
        ASSERT_EQ(messages.size(), static_cast<size_t>(kPerThread));
        for (int i = 0; i < kPerThread; ++i)
            EXPECT_EQ(messages[i].WParam, static_cast<WPARAM>(i));
    }
}

TEST(Windows, MessagesToADestroyedWindowAreDropped) {
    SCOPED_TRACE("queued before the window went");
    auto recorder = std::make_unique<MessageRecorder>();
    HWND window = recorder->Window();
    EXPECT_TRUE(PostMessage(window, WM_USER, 1, 2));
    // Freeing the recorder makes a delivery to it a use-after-free, which the
    // sanitizer would report.
    recorder.reset();
    DispatchPendingMessages();
    EXPECT_FALSE(PostMessage(window, WM_USER, 1, 2)) << "posting to a gone window fails";

    SCOPED_TRACE("a procedure destroys its own (last) window while more is queued");
    MessageRecorder selfDestroying;
    HWND own = selfDestroying.Window();
    selfDestroying.OnMessage = [&](const RecordedMessage&) { selfDestroying.Destroy(); };
    PostMessage(own, WM_USER, 0, 0);
    PostMessage(own, WM_USER + 1, 0, 0);
    ASSERT_TRUE(DispatchUntil([&] { return !selfDestroying.Messages().empty(); }));
    DispatchPendingMessages();
    EXPECT_EQ(selfDestroying.Messages().size(), 1u);

    MessageRecorder later;
    PostMessage(later.Window(), WM_USER + 2, 0, 0);
    EXPECT_TRUE(DispatchUntil([&] { return later.Count(WM_USER + 2) == 1; }))
        << "a new window after the last one went still gets messages";
}

TEST(Windows, SendMessageCallsTheProcedureOnTheOwningThreadOnly) {
    MessageRecorder recorder;
    SendMessage(recorder.Window(), WM_USER + 5, 1, 2);
    ASSERT_EQ(recorder.Messages().size(), 1u);
    EXPECT_EQ(recorder.Messages()[0].LParam, 2);

    std::thread([&] { EXPECT_EQ(SendMessage(recorder.Window(), WM_USER + 6, 0, 0), 0); }).join();
    std::thread([&] { EXPECT_FALSE(DestroyWindow(recorder.Window())); }).join();
    EXPECT_EQ(recorder.Messages().size(), 1u);
    EXPECT_TRUE(IsWindow(recorder.Window()));
}

TEST(Windows, SendMessageReachesEachWindowsOwnProcedureWhileTheWindowLives) {
    // The sending thread's queue answers which procedure a window has: two
    // windows of different classes must not be confused, and a destroyed
    // window must not be reached, also when a window of its queue remains.
    WNDCLASS answering = ClassRecord("WindowsTestAnswering");
    answering.lpfnWndProc = [](HWND, UINT message, WPARAM, LPARAM) -> LRESULT {
        return static_cast<LRESULT>(message) + 1;
    };
    RegisterClass(&answering);
    MessageRecorder recorder;
    HWND window = MakeWindow("WindowsTestAnswering");
    ASSERT_NE(window, 0u);
    EXPECT_EQ(SendMessage(window, WM_USER + 7, 0, 0), static_cast<LRESULT>(WM_USER + 8));
    EXPECT_EQ(SendMessage(recorder.Window(), WM_USER + 7, 0, 0), 0);
    EXPECT_EQ(recorder.Count(WM_USER + 7), 1u);

    ASSERT_TRUE(DestroyWindow(window));
    EXPECT_EQ(SendMessage(window, WM_USER + 9, 0, 0), 0) << "a destroyed window is not reached";
    EXPECT_EQ(SendMessage(recorder.Window(), WM_USER + 9, 0, 0), 0);
    EXPECT_EQ(recorder.Count(WM_USER + 9), 1u);
}

TEST(Windows, AThreadWithoutAnEventLoopGetsNoWindow) {
    WNDCLASS record = ClassRecord("WindowsTestNoLoop");
    RegisterClass(&record);
    HWND window = 1;
    std::thread([&] { window = MakeWindow("WindowsTestNoLoop"); }).join();
    EXPECT_EQ(window, 0u);
}

TEST(Windows, TimerTicksOnlyWhileRunning) {
    MessageRecorder recorder;
    HWND window = recorder.Window();

    SCOPED_TRACE("ticks arrive through the wait with the timer number");
    EXPECT_EQ(SetTimer(window, 1, 10), 1u);
    ASSERT_TRUE(DispatchUntil([&] { return recorder.Count(WM_TIMER) >= 3; }));
    for (const auto& tick : recorder.Messages(WM_TIMER)) {
        EXPECT_EQ(tick.WParam, 1u);
        EXPECT_EQ(tick.LParam, 0);
    }

    SCOPED_TRACE("killed: no more ticks");
    EXPECT_TRUE(KillTimer(window, 1));
    EXPECT_FALSE(KillTimer(window, 1));
    size_t ticks = recorder.Count(WM_TIMER);
    DispatchFor(100ms);
    EXPECT_EQ(recorder.Count(WM_TIMER), ticks);

    SCOPED_TRACE("restarting the same number keeps one timer");
    EXPECT_EQ(SetTimer(window, 7, 100000), 7u);
    EXPECT_EQ(SetTimer(window, 7, 10), 7u);
    ASSERT_TRUE(DispatchUntil([&] { return recorder.Count(WM_TIMER) > ticks; }));
    EXPECT_EQ(recorder.Messages().back().WParam, 7u);

    SCOPED_TRACE("destroying the window stops its timers");
    recorder.Destroy();
    ticks = recorder.Count(WM_TIMER);
    DispatchFor(100ms);
    EXPECT_EQ(recorder.Count(WM_TIMER), ticks);
}

TEST(Windows, TimersTickByTheirOwnLastStart) {
    // The timers of a thread share one Qt timer armed for the earliest tick;
    // restarting or stopping one must still move or cancel its own tick.
    MessageRecorder recorder;
    HWND window = recorder.Window();
    using Clock = std::chrono::steady_clock;

    SCOPED_TRACE("a shorter timer started after a longer one ticks first");
    EXPECT_EQ(SetTimer(window, 1, 60000), 1u);
    EXPECT_EQ(SetTimer(window, 2, 20), 2u);
    ASSERT_TRUE(DispatchUntil([&] { return recorder.Count(WM_TIMER) >= 1; }));
    EXPECT_EQ(recorder.Messages(WM_TIMER).front().WParam, 2u);
    EXPECT_TRUE(KillTimer(window, 2));

    SCOPED_TRACE("a restart moves the tick a whole period past the restart");
    EXPECT_EQ(SetTimer(window, 3, 150), 3u);
    DispatchFor(100ms);
    const auto restart = Clock::now();
    EXPECT_EQ(SetTimer(window, 3, 150), 3u);
    const size_t before = recorder.Count(WM_TIMER);
    ASSERT_TRUE(DispatchUntil([&] { return recorder.Count(WM_TIMER) > before; }));
    EXPECT_GE(Clock::now() - restart, 150ms);
    EXPECT_EQ(recorder.Messages(WM_TIMER).back().WParam, 3u);
    EXPECT_TRUE(KillTimer(window, 3));

    SCOPED_TRACE("a stopped timer does not tick at the time it was armed for");
    EXPECT_EQ(SetTimer(window, 4, 30), 4u);
    EXPECT_TRUE(KillTimer(window, 4));
    const size_t ticks = recorder.Count(WM_TIMER);
    DispatchFor(100ms);
    EXPECT_EQ(recorder.Count(WM_TIMER), ticks);
    EXPECT_TRUE(KillTimer(window, 1));
}

TEST(Windows, SetTimerFailsWithZero) {
    MessageRecorder recorder;
    EXPECT_EQ(SetTimer(0, 1, 10), 0u) << "no window";
    EXPECT_EQ(SetTimer(recorder.Window(), 0, 10), 0u) << "timer number 0";
    UINT_PTR fromThread = 1;
    std::thread([&] { fromThread = SetTimer(recorder.Window(), 1, 10); }).join();
    EXPECT_EQ(fromThread, 0u) << "another thread's window";
    HWND gone = recorder.Window();
    recorder.Destroy();
    EXPECT_EQ(SetTimer(gone, 1, 10), 0u) << "a destroyed window";
}
