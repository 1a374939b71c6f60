// The socket component's one wait does not nest: a handler that runs inside
// a wait and waits again on the same component would take over the state of
// the wait it interrupts, so debug builds stop the program right there.
#include "net/TThreadTimer.h"
#include "net/Tslink.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

namespace {

// Runs in a child process: the outer wait dispatches a timer tick whose
// handler waits again on the same component. The watchdog ends the waits, so
// that a missing assertion shows as an ordinary exit instead of a hang.
[[noreturn]] void WaitInsideAWait() {
    TTessalink component(nullptr);
    TThreadTimer nested(nullptr);
    nested.SetInterval(10);
    nested.SetOnTimer([&](TComponent*) {
        nested.SetEnabled(false);
        component.WaitForEvent();
    });
    TThreadTimer watchdog(nullptr);
    watchdog.SetInterval(2000);
    watchdog.SetOnTimer([&](TComponent*) { component.WaitEvent->Set(); });
    component.WaitForEvent();
    std::fprintf(stderr, "the nested wait ran\n");
    std::_Exit(0);
}

} // namespace

TEST(TslinkWaitDeathTest, ASecondWaitOfTheSameComponentInsideAWaitStopsTheProgram) {
#ifdef NDEBUG
    GTEST_SKIP() << "the assertion exists in debug builds only";
#else
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(WaitInsideAWait(), "a second wait of the same component started inside a wait");
#endif
}
