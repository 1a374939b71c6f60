#include "net/TThreadTimer.h"
#include "tests/net/TslinkTestSupport.h"

namespace {

// True when the timer's window timer was running (and stops it).
bool WindowTimerRan(const TThreadTimer& timer) {
    return KillTimer(timer.WindowHandle(), 1);
}

} // namespace

TEST(TThreadTimer, TicksWhileEnabledWithAnIntervalAndAHandler) {
    TThreadTimer timer(nullptr);
    EXPECT_TRUE(timer.Enabled());
    EXPECT_EQ(timer.Interval(), 1000u);
    EXPECT_NE(timer.WindowHandle(), 0u);
    EXPECT_FALSE(WindowTimerRan(timer)); // no handler yet

    int ticks = 0;
    timer.SetInterval(10);
    timer.SetOnTimer([&](TComponent* sender) {
        EXPECT_EQ(sender, &timer);
        ++ticks;
    });
    EXPECT_TRUE(DispatchUntil([&] { return ticks >= 2; }));
}

TEST(TThreadTimer, SettersStartAndStopTheWindowTimer) {
    TThreadTimer timer(nullptr);
    timer.SetOnTimer([](TComponent*) {});
    EXPECT_TRUE(WindowTimerRan(timer));

    // The same Enabled value changes nothing, not even a killed timer.
    timer.SetEnabled(true);
    EXPECT_FALSE(WindowTimerRan(timer));
    // The same Interval value changes nothing either.
    timer.SetInterval(1000);
    EXPECT_FALSE(WindowTimerRan(timer));
    // Setting the handler always updates.
    timer.SetOnTimer([](TComponent*) {});
    EXPECT_TRUE(WindowTimerRan(timer));

    timer.SetInterval(500);
    EXPECT_TRUE(WindowTimerRan(timer));
    timer.SetInterval(1000);
    timer.SetInterval(0);
    EXPECT_FALSE(WindowTimerRan(timer));

    timer.SetInterval(20);
    timer.SetEnabled(false);
    EXPECT_FALSE(WindowTimerRan(timer));
    timer.SetEnabled(true);
    timer.SetOnTimer(nullptr);
    EXPECT_FALSE(WindowTimerRan(timer));
}

TEST(TThreadTimer, HandlerErrorsGoToTheCentralHandlerAndTicksGoOn) {
    std::vector<std::string> reported;
    SetComponentExceptionHandler([&](std::exception_ptr error) {
        try {
            std::rethrow_exception(error);
        } catch (const std::exception& e) {
            reported.push_back(e.what());
        }
    });
    TThreadTimer timer(nullptr);
    int ticks = 0;
    timer.SetInterval(10);
    timer.SetOnTimer([&](TComponent*) {
        ++ticks;
        throw Exception("tick failed");
    });
    EXPECT_TRUE(DispatchUntil([&] { return ticks >= 2; }));
    timer.SetEnabled(false);
    SetComponentExceptionHandler(nullptr);
    ASSERT_GE(reported.size(), 2u);
    EXPECT_EQ(reported[0], "tick failed");
}
