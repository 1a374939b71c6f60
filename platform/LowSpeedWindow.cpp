#include "platform/LowSpeedWindow.h"

void LowSpeedWindow::Start(Clock::time_point now) {
    m_total = 0;
    m_marks.clear();
    m_marks.push_back({ now, 0 });
}

void LowSpeedWindow::Arrived(uint64_t count, Clock::time_point now) {
    if (!Started() || count == 0)
        return;
    m_total += count;
    m_marks.push_back({ now, m_total });
    // A mark whose total is `bytes` or more below the newest is too old to
    // decide the deadline; the newest mark itself always stays.
    while (m_marks.size() > 1 && m_marks.front().Total + m_bytes <= m_total)
        m_marks.pop_front();
}

// The bytes within the span ending at t are m_total minus the total at
// t - span. That is below `bytes` once t - span reaches the first mark.
LowSpeedWindow::Clock::time_point LowSpeedWindow::Deadline() const {
    return m_marks.front().At + m_span;
}
