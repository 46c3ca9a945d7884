#pragma once
// The song history's file: an SQLite database (through Qt's SQL module) of
// the titles heard, with their station and the time, oldest first by the
// order they were written. The schema is versioned (PRAGMA user_version);
// every change is one transaction, which also drops what the limits no
// longer hold. A file that is not a database, fails its check or stays
// locked past the busy timeout is set aside (renamed with a suffix, its
// journal with it, never deleted) and a new one is begun; a file of a newer
// schema is left as it is and not written.
//
// Synchronous: one object per thread, used only on the thread that made it
// (a database connection belongs to its thread).

#include <QString>
#include <functional>
#include <vector>

class QSqlError;

namespace didira {

struct HeardEntry {
    qint64 heardMs = 0; // when it began to be heard, ms since the epoch (UTC)
    QString station;
    QString title;
};

struct HistoryLimits {
    int maxEntries = 10000;
    qint64 maxAgeMs = 365LL * 24 * 60 * 60 * 1000;
};

class HistoryFile {
public:
    static constexpr int kSchemaVersion = 1;

    enum class Condition {
        Open,     // read and written
        SetAside, // the file found was renamed (Problem says to what); a new one is open
        Unusable, // nothing is read nor written (Problem says why)
    };
    struct Opened {
        Condition condition = Condition::Unusable;
        QString problem;                 // for the listener; empty when Open
        std::vector<HeardEntry> entries; // what the limits hold, oldest first
    };

    // path: the database file; its folder is made when missing.
    HistoryFile(QString path, int busyTimeoutMs);
    ~HistoryFile();
    HistoryFile(const HistoryFile&) = delete;
    HistoryFile& operator=(const HistoryFile&) = delete;

    // Opens, checks and reads the file, making it when missing; drops what
    // the limits no longer hold (nowMs: the present).
    Opened Open(const HistoryLimits& limits, qint64 nowMs);
    // Appends entries (oldest first) in one transaction with the drop; false,
    // with the reason in *error, when nothing was written. A file found
    // corrupt meanwhile is set aside and the entries written to a new one
    // (*setAside then says so).
    bool Append(const std::vector<HeardEntry>& entries, const HistoryLimits& limits, qint64 nowMs,
                QString* error, QString* setAside = nullptr);

private:
    enum class Check { Fine, Corrupt, Locked, Newer, Failed };

    bool Connect();
    void Disconnect();
    Check Prepare(QString* detail);
    // Runs work (false, with its error, to roll back) in one write transaction.
    bool InTransaction(const std::function<bool(QSqlError*)>& work, QSqlError* error);
    bool Prune(const HistoryLimits& limits, qint64 nowMs, QSqlError* error);
    std::vector<HeardEntry> Read(const HistoryLimits& limits, qint64 nowMs);
    // Renames the file (and its journal) with a suffix; the new name, or
    // empty when it could not be renamed.
    QString SetAside(const QString& why);

    const QString m_path;
    const int m_busyTimeoutMs;
    const QString m_connection; // this object's connection name
    bool m_connected = false;
    bool m_usable = false;
};

} // namespace didira
