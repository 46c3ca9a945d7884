#pragma once
// Which titles heard are entries of the song history. A title is an entry
// when it begins to be heard; the same title of the same station heard again
// within a minute of when it was last heard is the same entry: a station
// that resends it (or clears it in between), a listener who goes back in
// the time shift. An empty title ends the entry heard.

#include <QString>
#include <vector>

namespace didira {

class HeardTitleTracker {
public:
    static constexpr qint64 kRepeatMs = 60 * 1000;

    // station now plays title (empty: none) at nowMs; true when that begins
    // a new entry.
    bool Heard(const QString& station, const QString& title, qint64 nowMs);

private:
    struct Recent {
        QString station;
        QString title;
        qint64 lastHeardMs = 0; // when it was last heard, once it ended
    };
    std::vector<Recent> m_recent; // entries heard within the last minute, or now
    int m_nHearing = -1;          // of m_recent, the one heard now; -1: none
};

} // namespace didira
