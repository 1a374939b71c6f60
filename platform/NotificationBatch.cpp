#include "platform/NotificationBatch.h"

#include "platform/MessageQueue.h"
#include "platform/WindowRegistry.h"

namespace {
thread_local NotificationBatch* t_open = nullptr;
} // namespace

NotificationBatch::NotificationBatch() : m_outer(t_open) {
    t_open = this;
}

NotificationBatch::~NotificationBatch() {
    t_open = m_outer;
    if (m_tasks.empty())
        return;
    for (size_t i = 1; i < m_tasks.size(); ++i)
        PostWindowTask(m_tasks[i].Window, std::move(m_tasks[i].Run));
    m_tasks.front().Queue->RunTask(m_tasks.front().Window, m_tasks.front().Run);
}

bool NotificationBatch::Post(HWND window, std::function<void()> task) {
    MessageQueue* queue = t_open ? MessageQueue::Current() : nullptr;
    if (!queue || !queue->HasWindow(window) || queue->HasPostedMessages())
        return PostWindowTask(window, std::move(task));
    t_open->m_tasks.push_back({ window, queue, std::move(task) });
    return true;
}
