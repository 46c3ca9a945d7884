#include "control/HeardTitleTracker.h"

#include <QtGlobal>

namespace didira {

bool HeardTitleTracker::Heard(const QString& station, const QString& title, qint64 nowMs) {
    const bool same = station == m_station && title == m_title;
    if (m_hearing && !same)
        m_lastHeardMs = nowMs; // the entry heard until now ends
    if (title.isEmpty()) {
        m_hearing = false;
        return false;
    }
    if (same && (m_hearing || qAbs(nowMs - m_lastHeardMs) < kRepeatMs)) {
        m_hearing = true;
        return false;
    }
    m_station = station;
    m_title = title;
    m_hearing = true;
    return true;
}

} // namespace didira
