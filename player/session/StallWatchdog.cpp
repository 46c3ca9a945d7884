#include "player/session/StallWatchdog.h"

#include <algorithm>

namespace didira {

StallWatchdog::StallWatchdog(std::function<quint64()> progress, QObject* parent)
    : QObject(parent), m_progress(std::move(progress)) {
    connect(&m_timer, &QTimer::timeout, this, &StallWatchdog::Sample);
    SetTimeout(kDefaultTimeoutMs);
}

void StallWatchdog::SetTimeout(int ms) {
    m_timeoutMs = std::max(ms, 1);
    // Sampled often enough to report within a quarter of the timeout late.
    m_timer.setInterval(std::clamp(m_timeoutMs / 4, 10, 1000));
}

void StallWatchdog::Arm() {
    if (m_timer.isActive())
        return;
    m_last = m_progress();
    m_sinceProgress.start();
    m_timer.start();
}

void StallWatchdog::Disarm() {
    m_timer.stop();
}

void StallWatchdog::Sample() {
    const quint64 now = m_progress();
    if (now != m_last) {
        m_last = now;
        m_sinceProgress.start();
        return;
    }
    if (m_sinceProgress.elapsed() < m_timeoutMs)
        return;
    m_timer.stop();
    emit Stalled();
}

} // namespace didira
