#pragma once

#include "platform/WinTypes.h"

#include <functional>
#include <vector>

// Socket notifications that a thread's own event loop finds, delivered in the
// turn of the loop that found them.
//
// A notification is a message posted to its window. Posted by the thread that
// will deliver it, the message costs a write to wake that thread's event
// dispatcher and one more turn of the loop (a poll and a read of the wake-up
// descriptor), although the thread is awake and about to go on anyway; a
// small page fetch paid that for every notification. While a batch is open
// on a thread (the socket library opens one around the bookkeeping of each
// readiness its poller hands out), a notification for a window of that
// thread joins it, and the batch delivers it when it closes, through the same
// checks as a posted one: after the bookkeeping, before the loop turns again.
//
// The order of messages is kept:
// - a notification joins only while no message for the thread's windows
//   waits in the queue, so it never overtakes one posted before it;
// - only the first notification of a batch is delivered directly; the others
//   are posted behind it when the batch closes, so a procedure that waits
//   inside that first delivery still receives them from its own loop.
// No user code runs while a batch is open: it closes before it delivers.
class MessageQueue;

class NotificationBatch {
public:
    NotificationBatch();
    ~NotificationBatch();
    NotificationBatch(const NotificationBatch&) = delete;
    NotificationBatch& operator=(const NotificationBatch&) = delete;

    // Adds the window's task to the thread's open batch when it may, or
    // posts it (PostWindowTask). False when the window does not exist.
    static bool Post(HWND window, std::function<void()> task);

private:
    struct Task {
        HWND Window = 0;
        // Stays valid while the batch is open: a queue goes only with its
        // last window, and no procedure runs until the batch has closed.
        MessageQueue* Queue = nullptr;
        std::function<void()> Run;
    };
    std::vector<Task> m_tasks;
    NotificationBatch* m_outer = nullptr;
};
