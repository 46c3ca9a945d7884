#pragma once
// Which titles heard are entries of the song history. A title is an entry
// when it begins to be heard; the same title of the same station again
// within a minute of when it was last heard (a station that resends it, or
// clears it in between) is the same entry. An empty title ends the entry.

#include <QString>

namespace didira {

class HeardTitleTracker {
public:
    static constexpr qint64 kRepeatMs = 60 * 1000;

    // station now plays title (empty: none) at nowMs; true when that begins
    // a new entry.
    bool Heard(const QString& station, const QString& title, qint64 nowMs);

private:
    QString m_station; // of the last entry
    QString m_title;
    qint64 m_lastHeardMs = 0; // when its title was last heard
    bool m_hearing = false;   // its title is heard now
};

} // namespace didira
