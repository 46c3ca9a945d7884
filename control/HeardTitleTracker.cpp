#include "control/HeardTitleTracker.h"

#include <QtGlobal>
#include <algorithm>

namespace didira {

bool HeardTitleTracker::Heard(const QString& station, const QString& title, qint64 nowMs) {
    if (m_nHearing >= 0) {
        Recent& heard = m_recent[static_cast<std::size_t>(m_nHearing)];
        if (heard.station == station && heard.title == title)
            return false;
        heard.lastHeardMs = nowMs; // the entry heard until now ends
        m_nHearing = -1;
    }
    if (title.isEmpty())
        return false;
    std::erase_if(m_recent,
                  [nowMs](const Recent& r) { return qAbs(nowMs - r.lastHeardMs) >= kRepeatMs; });
    const auto again = std::find_if(m_recent.begin(), m_recent.end(), [&](const Recent& r) {
        return r.station == station && r.title == title;
    });
    m_nHearing = static_cast<int>(again - m_recent.begin());
    if (again != m_recent.end())
        return false;
    m_recent.push_back({station, title, nowMs});
    return true;
}

} // namespace didira
