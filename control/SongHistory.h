#pragma once
// The song history: the titles heard, with their station and when, kept
// across restarts in a HistoryFile that a thread of its own reads and
// writes, so that a slow or locked disk never holds up the UI thread. What
// the limits hold (the newest entries, none older than the oldest age) is
// also kept here, for the menus, the window and the bus to read at once.
// An entry stays waiting in memory until it is written; a write that fails
// is tried again, and no entry is dropped but by the limits. What goes wrong
// with the file (set aside, not usable, not written) is told once, by
// Trouble.
//
// Used on the UI thread.

#include "control/HeardTitleTracker.h"
#include "control/HistoryFile.h"

#include <QDateTime>
#include <QObject>
#include <QTimer>
#include <deque>
#include <functional>
#include <memory>

class QThread;

namespace didira {

class CSongHistory final : public QObject {
    Q_OBJECT
public:
    enum class State {
        Opening,    // the file is being read; what is heard meanwhile waits
        Open,       // entries are written as they come
        MemoryOnly, // the file cannot be used: entries are kept until exit
    };
    using Clock = std::function<qint64()>; // the present, ms since the epoch (UTC)
    struct Options {
        HistoryLimits limits;
        Clock clock;              // the system's clock when empty
        int busyTimeoutMs = 2000; // how long a lock by another process is waited for
        int retryMs = 30000;      // how soon a failed write is tried again
    };

    // path: the database file, opened at once in the background.
    explicit CSongHistory(const QString& path, QObject* parent = nullptr);
    CSongHistory(const QString& path, Options options, QObject* parent = nullptr);
    // Writes what waits, waiting a bounded time for the file.
    ~CSongHistory() override;
    Q_DISABLE_COPY_MOVE(CSongHistory)

    // station now plays title (empty: none); an entry when it begins one
    // (HeardTitleTracker).
    void Heard(const QString& station, const QString& title);

    State CurrentState() const { return m_state; }
    // Oldest first.
    const std::deque<HeardEntry>& Entries() const { return m_entries; }
    // The newest count entries, newest first.
    std::vector<HeardEntry> Newest(int count) const;
    // Entries not yet written.
    int Waiting() const { return static_cast<int>(m_waiting.size()); }
    // What was told last by Trouble; empty when nothing went wrong.
    QString Problem() const { return m_strProblem; }

signals:
    // A new entry, the newest; the oldest may have gone to make room.
    void entryAdded(const HeardEntry& entry);
    // The entries were replaced (the file was read).
    void entriesReset();
    void stateChanged();
    // Something about the file the listener should know (once per kind).
    void trouble(const QString& message);

private:
    struct Worker;
    void OnOpened(HistoryFile::Opened opened);
    void OnWritten(bool ok, const QString& error, const QString& setAside);
    void WriteWaiting();
    void Trim();
    void Tell(const QString& message);
    void SetState(State state);
    qint64 Now() const;

    Options m_options;
    State m_state = State::Opening;
    HeardTitleTracker m_tracker;
    std::deque<HeardEntry> m_entries;
    std::deque<HeardEntry> m_waiting; // not yet written, oldest first
    bool m_bWriting = false;
    std::size_t m_nWriting = 0; // of the write under way, what is still at the front of m_waiting
    bool m_bToldWriteFailure = false;
    QString m_strProblem;
    QTimer m_retry;
    std::shared_ptr<Worker> m_worker;
    std::unique_ptr<QThread> m_thread;
};

// When an entry was heard as ISO 8601 in local time with its offset from UTC
// ("2026-12-10T19:04:05+09:00"), as the bus and exported files give it.
QString HeardTimeText(qint64 heardMs);

} // namespace didira
