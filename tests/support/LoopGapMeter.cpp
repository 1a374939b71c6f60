#include "tests/support/LoopGapMeter.h"

LoopGapMeter::LoopGapMeter(std::chrono::milliseconds period) {
    m_timer.setTimerType(Qt::PreciseTimer);
    m_timer.setInterval(period);
    QObject::connect(&m_timer, &QTimer::timeout, [this] {
        const auto now = Clock::now();
        m_longest = std::max(m_longest, now - m_last);
        m_last = now;
        ++m_ticks;
    });
    Restart();
    m_timer.start();
}

void LoopGapMeter::Restart() {
    m_last = Clock::now();
    m_longest = {};
    m_ticks = 0;
}

std::chrono::milliseconds LoopGapMeter::Longest() const {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
        std::max(m_longest, Clock::now() - m_last));
}
