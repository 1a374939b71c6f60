#include "platform/NotificationBatch.h"

#include "platform/MessageQueue.h"
#include "platform/SocketEntry.h"
#include "platform/WindowRegistry.h"

#include <cassert>
#include <exception>
#include <utility>

namespace {
thread_local NotificationBatch* t_open = nullptr;
} // namespace

NotificationBatch::NotificationBatch() : m_outer(t_open) {
    t_open = this;
}

NotificationBatch::~NotificationBatch() {
    assert((!m_open || !m_queue || std::uncaught_exceptions() > 0) &&
           "a batch with notifications went without Deliver");
    Close();
}

void NotificationBatch::Close() {
    if (std::exchange(m_open, false))
        t_open = m_outer;
}

void NotificationBatch::Deliver() {
    Close();
    MessageQueue* queue = std::exchange(m_queue, nullptr);
    if (!queue)
        return;
    for (Notification& notification : m_behind) {
        const HWND window = notification.Window;
        PostWindowTask(window, [notification = std::move(notification)] { Send(notification); });
    }
    m_behind.clear();
    if (Stands(m_first))
        queue->SendNow(m_first.Window, m_first.Message, m_first.WParam, m_first.LParam);
}

bool NotificationBatch::Post(Notification notification) {
    MessageQueue* queue = t_open ? MessageQueue::Current() : nullptr;
    if (!queue || !queue->HasWindow(notification.Window) || queue->HasPostedMessages()) {
        const HWND window = notification.Window;
        return PostWindowTask(window,
                              [notification = std::move(notification)] { Send(notification); });
    }
    if (!t_open->m_queue) {
        t_open->m_first = std::move(notification);
        t_open->m_queue = queue;
    } else {
        t_open->m_behind.push_back(std::move(notification));
    }
    return true;
}

bool NotificationBatch::Stands(const Notification& notification) {
    auto source = notification.Source.lock();
    return source && source->IsRegistration(notification.Generation);
}

void NotificationBatch::Send(const Notification& notification) {
    if (Stands(notification))
        SendMessage(notification.Window, notification.Message, notification.WParam,
                    notification.LParam);
}
