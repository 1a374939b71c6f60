#pragma once

#include "platform/WinTypes.h"

#include <memory>
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
// thread joins it, and Deliver closes the batch and delivers it, through the
// same checks as a posted one: after the bookkeeping, before the loop turns
// again.
//
// The order of messages is kept:
// - a notification joins only while no message for the thread's windows
//   waits in the queue, so it never overtakes one posted before it;
// - only the first notification of a batch is delivered directly; the others
//   are posted behind it when the batch is delivered, so a procedure that waits
//   inside that first delivery still receives them from its own loop.
// No user code runs while a batch is open: it closes before it delivers.
// Delivery is an explicit call, as window procedures (nested waits included)
// run inside it; the destructor only closes a batch that was not delivered.
class MessageQueue;
class SocketEntry;

class NotificationBatch {
public:
    // A socket's notification: the message for its window, and the socket's
    // registration at the time, without which it is dropped (the socket was
    // closed or registered again before it could be delivered).
    struct Notification {
        HWND Window = 0;
        UINT Message = 0;
        WPARAM WParam = 0;
        LPARAM LParam = 0;
        std::weak_ptr<const SocketEntry> Source;
        unsigned Generation = 0;
    };

    // Opens a batch on the calling thread, inside any batch open there.
    NotificationBatch();
    // Closes the batch if Deliver did not. Only an exception out of the
    // bookkeeping gets here with notifications gathered; they are dropped.
    ~NotificationBatch();
    NotificationBatch(const NotificationBatch&) = delete;
    NotificationBatch& operator=(const NotificationBatch&) = delete;

    // Closes the batch, then posts the notifications behind the first and
    // delivers the first. Procedures run inside; call it once, where the
    // bookkeeping is done and user code may run.
    void Deliver();

    // Adds the notification to the thread's open batch when it may, or posts
    // it (PostWindowTask). False when the window does not exist.
    static bool Post(Notification notification);

private:
    // Whether the socket is still there, registered as it was.
    static bool Stands(const Notification& notification);
    // Sends the notification to its window on this thread, if it stands.
    static void Send(const Notification& notification);
    // Makes the outer batch the thread's open one again.
    void Close();

    // The first notification, delivered directly: kept in place, as a
    // readiness mostly brings one. Queue stays valid while the batch is
    // open: a queue goes only with its last window, and no procedure runs
    // until the batch has closed.
    Notification m_first;
    MessageQueue* m_queue = nullptr;
    // Those behind it, posted by Deliver.
    std::vector<Notification> m_behind;
    NotificationBatch* m_outer = nullptr;
    bool m_open = true;
};
