#include "control/HistoryFile.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>
#include <algorithm>
#include <atomic>

namespace didira {

namespace {

// SQLite's primary result codes (the low byte of an extended one).
constexpr int kSqliteBusy = 5;
constexpr int kSqliteLocked = 6;
constexpr int kSqliteCorrupt = 11;
constexpr int kSqliteNotADb = 26;

QString NewConnectionName() {
    static std::atomic<int> next{0};
    return QStringLiteral("didira-history-%1").arg(next++);
}

int PrimaryCode(const QSqlError& error) {
    bool ok = false;
    const int code = error.nativeErrorCode().toInt(&ok);
    return ok ? code & 0xff : -1;
}

bool IsCorruption(const QSqlError& error) {
    const int code = PrimaryCode(error);
    return code == kSqliteCorrupt || code == kSqliteNotADb;
}

bool IsLock(const QSqlError& error) {
    const int code = PrimaryCode(error);
    return code == kSqliteBusy || code == kSqliteLocked;
}

QString Describe(const QSqlError& error) {
    const QString text = error.databaseText().isEmpty() ? error.text() : error.databaseText();
    return text.isEmpty() ? QStringLiteral("unknown database error") : text;
}

} // namespace

HistoryFile::HistoryFile(QString path, int busyTimeoutMs)
    : m_path(std::move(path)), m_busyTimeoutMs(busyTimeoutMs), m_connection(NewConnectionName()) {}

HistoryFile::~HistoryFile() {
    Disconnect();
}

bool HistoryFile::Connect() {
    Disconnect();
    QDir().mkpath(QFileInfo(m_path).absolutePath());
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_connection);
    m_connected = true;
    if (!db.isValid())
        return false;
    db.setDatabaseName(m_path);
    db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(m_busyTimeoutMs));
    return db.open();
}

void HistoryFile::Disconnect() {
    if (!m_connected)
        return;
    {
        QSqlDatabase db = QSqlDatabase::database(m_connection, false);
        if (db.isOpen())
            db.close();
    }
    QSqlDatabase::removeDatabase(m_connection);
    m_connected = false;
    m_usable = false;
}

HistoryFile::Check HistoryFile::Prepare(QString* detail) {
    const QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    QSqlQuery q(db);
    const auto failed = [&](const QSqlError& error) {
        *detail = Describe(error);
        if (IsCorruption(error))
            return Check::Corrupt;
        return IsLock(error) ? Check::Locked : Check::Failed;
    };
    if (!q.exec(QStringLiteral("PRAGMA user_version")) || !q.next())
        return failed(q.lastError());
    const int version = q.value(0).toInt();
    if (version > kSchemaVersion)
        return Check::Newer;
    if (!q.exec(QStringLiteral("PRAGMA quick_check")) || !q.next())
        return failed(q.lastError());
    if (q.value(0).toString() != QLatin1String("ok")) {
        *detail = q.value(0).toString();
        return Check::Corrupt;
    }
    if (version == kSchemaVersion)
        return Check::Fine;
    // A new file: the schema and its version in one transaction.
    const QString steps[] = {
        QStringLiteral("BEGIN IMMEDIATE"),
        QStringLiteral("CREATE TABLE IF NOT EXISTS heard (id INTEGER PRIMARY KEY, "
                       "heard_ms INTEGER NOT NULL, station TEXT NOT NULL, title TEXT NOT NULL)"),
        QStringLiteral("CREATE INDEX IF NOT EXISTS heard_by_time ON heard (heard_ms)"),
        QStringLiteral("PRAGMA user_version = %1").arg(kSchemaVersion),
        QStringLiteral("COMMIT"),
    };
    for (const QString& step : steps) {
        if (!q.exec(step)) {
            const Check check = failed(q.lastError());
            QSqlQuery(db).exec(QStringLiteral("ROLLBACK"));
            return check;
        }
    }
    return Check::Fine;
}

bool HistoryFile::InTransaction(const std::function<bool(QSqlError*)>& work, QSqlError* error) {
    const QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    QSqlQuery q(db);
    if (!q.exec(QStringLiteral("BEGIN IMMEDIATE"))) {
        *error = q.lastError();
        return false;
    }
    if (work(error)) {
        if (q.exec(QStringLiteral("COMMIT")))
            return true;
        *error = q.lastError();
    }
    QSqlQuery(db).exec(QStringLiteral("ROLLBACK"));
    return false;
}

bool HistoryFile::Prune(const HistoryLimits& limits, qint64 nowMs, QSqlError* error) {
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    q.prepare(QStringLiteral("DELETE FROM heard WHERE heard_ms < ?"));
    q.addBindValue(nowMs - limits.maxAgeMs);
    bool ok = q.exec();
    if (ok) {
        q.prepare(QStringLiteral("DELETE FROM heard WHERE id <= "
                                 "(SELECT id FROM heard ORDER BY id DESC LIMIT 1 OFFSET ?)"));
        q.addBindValue(limits.maxEntries);
        ok = q.exec();
    }
    if (!ok)
        *error = q.lastError();
    return ok;
}

std::vector<HeardEntry> HistoryFile::Read(const HistoryLimits& limits, qint64 nowMs) {
    std::vector<HeardEntry> entries;
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    q.setForwardOnly(true);
    q.prepare(QStringLiteral("SELECT heard_ms, station, title FROM heard WHERE heard_ms >= ? "
                             "ORDER BY id DESC LIMIT ?"));
    q.addBindValue(nowMs - limits.maxAgeMs);
    q.addBindValue(limits.maxEntries);
    if (!q.exec())
        return entries;
    while (q.next())
        entries.push_back({q.value(0).toLongLong(), q.value(1).toString(), q.value(2).toString()});
    std::reverse(entries.begin(), entries.end());
    return entries;
}

QString HistoryFile::SetAside(const QString& why) {
    Disconnect();
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    QString target = QStringLiteral("%1.%2-%3").arg(m_path, why, stamp);
    for (int n = 2; QFileInfo::exists(target); ++n)
        target = QStringLiteral("%1.%2-%3-%4").arg(m_path, why, stamp).arg(n);
    if (!QFile::rename(m_path, target))
        return QString();
    // A journal belongs to its file: left behind it would be played into
    // the new one.
    for (const char* suffix : {"-journal", "-wal", "-shm"}) {
        const QString from = m_path + QLatin1String(suffix);
        if (QFileInfo::exists(from))
            QFile::rename(from, target + QLatin1String(suffix));
    }
    return target;
}

HistoryFile::Opened HistoryFile::Open(const HistoryLimits& limits, qint64 nowMs) {
    Opened opened;
    if (!Connect()) {
        const QSqlError error = QSqlDatabase::database(m_connection, false).lastError();
        opened.problem = QStringLiteral("曲の履歴のファイル %1 を開けません（%2）。")
                             .arg(m_path, QSqlDatabase::isDriverAvailable(QStringLiteral("QSQLITE"))
                                              ? Describe(error)
                                              : QStringLiteral("SQLite driver missing"));
        Disconnect();
        return opened;
    }
    QString detail;
    Check check = Prepare(&detail);
    QSqlError pruneError;
    if (check == Check::Fine &&
        !InTransaction([&](QSqlError* e) { return Prune(limits, nowMs, e); }, &pruneError)) {
        check = IsLock(pruneError) ? Check::Locked : Check::Failed;
        detail = Describe(pruneError);
    }
    switch (check) {
    case Check::Fine:
        m_usable = true;
        opened.condition = Condition::Open;
        opened.entries = Read(limits, nowMs);
        return opened;
    case Check::Newer:
        Disconnect();
        opened.problem = QStringLiteral("曲の履歴のファイル %1 は新しい版の Didira "
                                        "のものです。変えずに残し、この間の曲は保存しません。")
                             .arg(m_path);
        return opened;
    case Check::Failed:
        Disconnect();
        opened.problem =
            QStringLiteral("曲の履歴のファイル %1 を使えません（%2）。").arg(m_path, detail);
        return opened;
    case Check::Corrupt:
    case Check::Locked:
        break;
    }
    const bool corrupt = check == Check::Corrupt;
    const QString aside = SetAside(corrupt ? QStringLiteral("corrupt") : QStringLiteral("locked"));
    const QString why =
        corrupt ? QStringLiteral("壊れていた") : QStringLiteral("使われたままだった");
    if (aside.isEmpty()) {
        opened.problem = QStringLiteral("曲の履歴のファイル %1 が%2ため使えず、別の名前にも"
                                        "できません。この間の曲は保存しません。")
                             .arg(m_path, why);
        return opened;
    }
    if (!Connect() || Prepare(&detail) != Check::Fine) {
        Disconnect();
        opened.problem = QStringLiteral("曲の履歴のファイルが%1ため %2 として残しましたが、"
                                        "新しいファイルを作れません。")
                             .arg(why, aside);
        return opened;
    }
    m_usable = true;
    opened.condition = Condition::SetAside;
    opened.problem = QStringLiteral("曲の履歴のファイルが%1ため %2 として残し、新しく始めました。")
                         .arg(why, aside);
    return opened;
}

bool HistoryFile::Append(const std::vector<HeardEntry>& entries, const HistoryLimits& limits,
                         qint64 nowMs, QString* error, QString* setAside) {
    if (!m_usable) {
        *error = QStringLiteral("the history file is not open");
        return false;
    }
    QSqlError failure;
    const bool ok = InTransaction(
        [&](QSqlError* e) {
            QSqlQuery q(QSqlDatabase::database(m_connection, false));
            q.prepare(
                QStringLiteral("INSERT INTO heard (heard_ms, station, title) VALUES (?, ?, ?)"));
            for (const HeardEntry& entry : entries) {
                q.addBindValue(entry.heardMs);
                q.addBindValue(entry.station);
                q.addBindValue(entry.title);
                if (!q.exec()) {
                    *e = q.lastError();
                    return false;
                }
            }
            return Prune(limits, nowMs, e);
        },
        &failure);
    if (ok)
        return true;
    *error = Describe(failure);
    if (!IsCorruption(failure) || !setAside)
        return false;
    const QString aside = SetAside(QStringLiteral("corrupt"));
    QString detail;
    if (aside.isEmpty() || !Connect() || Prepare(&detail) != Check::Fine)
        return false;
    m_usable = true;
    *setAside =
        QStringLiteral("曲の履歴のファイルが壊れていたため %1 として残し、新しく始めました。")
            .arg(aside);
    return Append(entries, limits, nowMs, error, nullptr);
}

} // namespace didira
