#include "net/HiddenWindow.h"
#include "net/TThreadTimer.h"
#include "net/Tslink.h"

#include <gtest/gtest.h>

#include <utility>

namespace {

LRESULT QuietProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return DefWindowProc(window, message, wParam, lParam);
}

} // namespace

TEST(HiddenWindow, OneOwnerDestroysTheWindowOnceWhereverItMoved) {
    int owner = 0;
    THiddenWindow first = CreateHiddenWindow("HiddenWindowTestClass", &QuietProc, &owner);
    const HWND window = first.Handle();
    ASSERT_NE(window, 0u);
    EXPECT_EQ(HiddenWindowOwner<int>(window), &owner);

    {
        THiddenWindow second = std::move(first);
        EXPECT_EQ(first.Handle(), 0u); // NOLINT(bugprone-use-after-move)
        EXPECT_EQ(second.Handle(), window);
        // The emptied owner goes without touching the window.
        first = THiddenWindow();
        EXPECT_TRUE(IsWindow(window));
    }
    EXPECT_FALSE(IsWindow(window));

    // Assigning over a live owner destroys what it held.
    THiddenWindow third = CreateHiddenWindow("HiddenWindowTestClass", &QuietProc, nullptr);
    const HWND replaced = third.Handle();
    third = CreateHiddenWindow("HiddenWindowTestClass", &QuietProc, nullptr);
    EXPECT_FALSE(IsWindow(replaced));
    EXPECT_TRUE(IsWindow(third.Handle()));
    third.Reset();
    EXPECT_EQ(third.Handle(), 0u);
}

TEST(HiddenWindow, ComponentsTakeTheirWindowsWithThem) {
    HWND timerWindow = 0;
    {
        TThreadTimer timer(nullptr);
        timerWindow = timer.WindowHandle();
        ASSERT_TRUE(IsWindow(timerWindow));
    }
    EXPECT_FALSE(IsWindow(timerWindow));

    HWND eventWindow = 0;
    {
        TTessalink component(nullptr);
        eventWindow = component.EventWindow();
        ASSERT_TRUE(IsWindow(eventWindow));
    }
    EXPECT_FALSE(IsWindow(eventWindow));
}
