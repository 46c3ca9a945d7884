// The song history's store on a real SQLite file, with the time injected:
// entries read back by a new store on the same file, repeats within a
// minute, the limits, and a file that is corrupt, locked or of a newer
// schema: told once, set aside (never deleted) or left alone, the entries
// never lost silently. The CSV export's quoting.
#include "control/SongHistory.h"
#include "support/TestSupport.h"
#include "ui/HistoryExport.h"

#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlQuery>

namespace didira {
namespace {

using namespace std::chrono_literals;
using test::WaitUntil;

constexpr qint64 kMinute = 60 * 1000;
constexpr qint64 kDay = 24 * 60 * kMinute;
constexpr qint64 kStart = 1'765'000'000'000; // Dec 2025

QByteArray ReadAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void WriteAll(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

// Another connection to the file, as another program would hold it.
class OtherConnection {
public:
    explicit OtherConnection(const QString& path) {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), kName);
        db.setDatabaseName(path);
        EXPECT_TRUE(db.open());
    }
    ~OtherConnection() {
        QSqlDatabase::database(kName).close();
        QSqlDatabase::removeDatabase(kName);
    }
    bool Exec(const QString& sql) { return QSqlQuery(QSqlDatabase::database(kName)).exec(sql); }
    QVariant Value(const QString& sql) {
        QSqlQuery q(QSqlDatabase::database(kName));
        return q.exec(sql) && q.next() ? q.value(0) : QVariant();
    }

private:
    static constexpr char kName[] = "test-other-connection";
};

class HistoryStore : public ::testing::Test {
protected:
    void SetUp() override {
        dir = test::TempDir();
        path = dir + QStringLiteral("/data/history.sqlite");
    }
    std::unique_ptr<CSongHistory> Open(int busyMs = 2000) {
        CSongHistory::Options options;
        options.clock = [this] { return now; };
        options.busyTimeoutMs = busyMs;
        options.retryMs = 200;
        auto history = std::make_unique<CSongHistory>(path, options);
        QObject::connect(history.get(), &CSongHistory::trouble, history.get(),
                         [this](const QString& message) { told << message; });
        EXPECT_TRUE(WaitUntil(
            [&] { return history->CurrentState() != CSongHistory::State::Opening; }, 10s));
        return history;
    }
    static bool Written(const CSongHistory& history) {
        return WaitUntil([&] { return history.Waiting() == 0; }, 10s);
    }
    // The entries as "station/title", oldest first.
    static QStringList Titles(const CSongHistory& history) {
        QStringList out;
        for (const HeardEntry& entry : history.Entries())
            out << entry.station + u'/' + entry.title;
        return out;
    }
    QStringList SetAside(const QString& kind) const {
        return QDir(QFileInfo(path).absolutePath())
            .entryList({QStringLiteral("history.sqlite.%1-*").arg(kind)}, QDir::Files);
    }

    QString dir;
    QString path;
    qint64 now = kStart;
    QStringList told;
};

TEST_F(HistoryStore, EntriesAreReadBackInOrderByANewStoreOnTheSameFileWithTheSchemaVersioned) {
    {
        auto history = Open();
        EXPECT_EQ(history->CurrentState(), CSongHistory::State::Open);
        history->Heard(u"FM みなと"_qs, u"星降る坂道"_qs);
        now += 3 * kMinute;
        history->Heard(u"FM みなと"_qs, u"Two, \"quoted\""_qs);
        now += 4 * kMinute;
        history->Heard(u"Jazz"_qs, u"Blue Step"_qs);
        ASSERT_TRUE(Written(*history));
        const std::vector<HeardEntry> newest = history->Newest(2);
        ASSERT_EQ(newest.size(), 2u);
        EXPECT_EQ(newest[0].title, u"Blue Step"_qs);
        EXPECT_EQ(newest[1].heardMs, kStart + 3 * kMinute);
    }
    auto again = Open();
    EXPECT_EQ(Titles(*again), (QStringList{u"FM みなと/星降る坂道"_qs,
                                           u"FM みなと/Two, \"quoted\""_qs, u"Jazz/Blue Step"_qs}));
    EXPECT_EQ(again->Entries().back().heardMs, kStart + 7 * kMinute);
    EXPECT_TRUE(told.isEmpty()) << told.join(u'\n').toStdString();
    again.reset();
    OtherConnection other(path);
    EXPECT_EQ(other.Value(QStringLiteral("PRAGMA user_version")).toInt(),
              HistoryFile::kSchemaVersion);
}

TEST_F(HistoryStore, WhatWaitsAtTheEndIsWrittenAlsoWhileTheFileIsStillBeingRead) {
    {
        CSongHistory::Options options;
        options.clock = [this] { return now; };
        CSongHistory history(path, options); // not yet read
        history.Heard(u"S"_qs, u"early"_qs);
        now += kMinute * 2;
        history.Heard(u"S"_qs, u"right away"_qs);
    }
    {
        auto history = Open();
        now += kMinute * 2;
        history->Heard(u"S"_qs, u"at the end"_qs);
    }
    EXPECT_EQ(Titles(*Open()),
              (QStringList{u"S/early"_qs, u"S/right away"_qs, u"S/at the end"_qs}));
}

// What counts as one entry: (ms after the start, station, title) heard in
// turn, and the entries they make.
TEST_F(HistoryStore, ARepeatWithinAMinuteIsOneEntryAndAnEmptyTitleEndsTheEntry) {
    struct Heard {
        qint64 ms;
        const char* station;
        const char* title;
    };
    const struct {
        const char* name;
        std::vector<Heard> heard;
        QStringList entries;
    } cases[] = {
        {"resent while heard", {{0, "S", "A"}, {10000, "S", "A"}}, {"S/A"}},
        {"cleared and resent within a minute",
         {{0, "S", "A"}, {5000, "S", ""}, {50000, "S", "A"}},
         {"S/A"}},
        {"cleared and resent after a minute",
         {{0, "S", "A"}, {5000, "S", ""}, {5000 + kMinute, "S", "A"}},
         {"S/A", "S/A"}},
        {"a long title cleared, resent at once",
         {{0, "S", "A"}, {5 * kMinute, "S", ""}, {5 * kMinute + 3000, "S", "A"}},
         {"S/A"}},
        {"back to it within a minute (a move back)",
         {{0, "S", "A"}, {10000, "S", "B"}, {20000, "S", "A"}, {30000, "S", "B"}},
         {"S/A", "S/B"}},
        {"back to it after a minute",
         {{0, "S", "A"}, {10000, "S", "B"}, {10000 + kMinute, "S", "A"}},
         {"S/A", "S/B", "S/A"}},
        {"heard on after coming back, then again later",
         {{0, "S", "A"},
          {10000, "S", "B"},
          {20000, "S", "A"},
          {5 * kMinute, "S", "C"},
          {5 * kMinute + 30000, "S", "A"}},
         {"S/A", "S/B", "S/C"}},
        {"the same title on another station", {{0, "S", "A"}, {1000, "T", "A"}}, {"S/A", "T/A"}},
        {"empty titles alone", {{0, "S", ""}, {1000, "S", ""}}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QFile::remove(path);
        auto history = Open();
        for (const Heard& h : c.heard) {
            now = kStart + h.ms;
            history->Heard(QString::fromUtf8(h.station), QString::fromUtf8(h.title));
        }
        EXPECT_EQ(Titles(*history), c.entries);
        ASSERT_TRUE(Written(*history));
        history.reset();
        EXPECT_EQ(Titles(*Open()), c.entries) << "as written";
    }
}

TEST_F(HistoryStore, TheNewestTenThousandAreKeptAndNoneOlderThanAYear) {
    {
        auto history = Open();
        for (int i = 0; i < 10050; ++i) {
            now += kMinute;
            history->Heard(u"S"_qs, QString::number(i));
        }
        EXPECT_EQ(history->Entries().size(), 10000u);
        EXPECT_EQ(history->Entries().front().title, u"50"_qs);
        ASSERT_TRUE(Written(*history));
    }
    {
        auto history = Open();
        ASSERT_EQ(history->Entries().size(), 10000u);
        EXPECT_EQ(history->Entries().front().title, u"50"_qs);
        EXPECT_EQ(history->Entries().back().title, u"10049"_qs);
    }

    // By age: one heard now, one 200 days on; a year and a day after the
    // first only the second is kept, in the store and in the file.
    QFile::remove(path);
    now = kStart;
    {
        auto history = Open();
        history->Heard(u"S"_qs, u"old"_qs);
        now += 200 * kDay;
        history->Heard(u"S"_qs, u"newer"_qs);
        now = kStart + 366 * kDay;
        history->Heard(u"S"_qs, u"newest"_qs);
        EXPECT_EQ(Titles(*history), (QStringList{u"S/newer"_qs, u"S/newest"_qs}));
        ASSERT_TRUE(Written(*history));
    }
    now = kStart + 200 * kDay + 366 * kDay;
    EXPECT_EQ(Titles(*Open()), QStringList{u"S/newest"_qs});
    OtherConnection other(path);
    EXPECT_EQ(other.Value(QStringLiteral("SELECT count(*) FROM heard")).toInt(), 1);
}

TEST_F(HistoryStore, ACorruptFileIsSetAsideWithItsBytesToldOnceAndANewOneBegun) {
    const auto damaged = [this] {
        // A real history, its pages after the first overwritten.
        {
            auto history = Open();
            for (int i = 0; i < 300; ++i)
                history->Heard(u"S"_qs, QString(200, QChar(u'a' + i % 26)) + QString::number(i));
            EXPECT_TRUE(Written(*history));
        }
        QByteArray bytes = ReadAll(path);
        for (qsizetype i = 4096; i < bytes.size(); ++i)
            bytes[i] = static_cast<char>(0xA5);
        return bytes;
    };
    const struct {
        const char* name;
        std::function<QByteArray()> bytes;
    } cases[] = {
        {"not a database", [] { return QByteArray(8192, 'x'); }},
        {"damaged pages", damaged},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QDir(QFileInfo(path).absolutePath()).removeRecursively();
        QDir().mkpath(QFileInfo(path).absolutePath());
        const QByteArray bytes = c.bytes();
        WriteAll(path, bytes);
        told.clear();
        {
            auto history = Open();
            EXPECT_EQ(history->CurrentState(), CSongHistory::State::Open);
            ASSERT_EQ(told.size(), 1) << told.join(u'\n').toStdString();
            const QStringList aside = SetAside(QStringLiteral("corrupt"));
            ASSERT_EQ(aside.size(), 1);
            EXPECT_TRUE(told[0].contains(aside[0])) << told[0].toStdString();
            EXPECT_EQ(history->Problem(), told[0]);
            EXPECT_EQ(ReadAll(QFileInfo(path).absolutePath() + u'/' + aside[0]), bytes);
            history->Heard(u"S"_qs, u"after"_qs);
            ASSERT_TRUE(Written(*history));
        }
        EXPECT_EQ(Titles(*Open()), QStringList{u"S/after"_qs});
        EXPECT_EQ(told.size(), 1) << "told once";
    }
}

TEST_F(HistoryStore, AFileLockedPastTheBusyTimeoutIsSetAsideAndToldAndNewerSchemasAreLeftAlone) {
    {
        auto history = Open();
        history->Heard(u"S"_qs, u"kept"_qs);
        ASSERT_TRUE(Written(*history));
    }
    {
        OtherConnection other(path);
        ASSERT_TRUE(other.Exec(QStringLiteral("BEGIN EXCLUSIVE")));
        auto history = Open(200);
        EXPECT_EQ(history->CurrentState(), CSongHistory::State::Open);
        ASSERT_EQ(told.size(), 1);
        const QStringList aside = SetAside(QStringLiteral("locked"));
        ASSERT_EQ(aside.size(), 1);
        EXPECT_TRUE(told[0].contains(aside[0])) << told[0].toStdString();
        history->Heard(u"S"_qs, u"new file"_qs);
        ASSERT_TRUE(Written(*history));
        other.Exec(QStringLiteral("ROLLBACK"));
    }
    EXPECT_EQ(Titles(*Open()), QStringList{u"S/new file"_qs});

    // A newer program's file: not written, not set aside; entries stay in memory.
    {
        OtherConnection other(path);
        ASSERT_TRUE(other.Exec(QStringLiteral("PRAGMA user_version = 7")));
    }
    const QByteArray before = ReadAll(path);
    told.clear();
    auto history = Open();
    EXPECT_EQ(history->CurrentState(), CSongHistory::State::MemoryOnly);
    ASSERT_EQ(told.size(), 1);
    history->Heard(u"S"_qs, u"only here"_qs);
    EXPECT_EQ(Titles(*history), QStringList{u"S/only here"_qs});
    EXPECT_EQ(history->Waiting(), 1);
    history.reset();
    EXPECT_EQ(ReadAll(path), before);
    EXPECT_TRUE(SetAside(QStringLiteral("corrupt")).isEmpty());
}

TEST_F(HistoryStore, AFailedWriteIsToldOnceAndTriedAgainUntilWritten) {
    auto history = Open(100);
    ASSERT_EQ(history->CurrentState(), CSongHistory::State::Open);
    {
        OtherConnection other(path);
        ASSERT_TRUE(other.Exec(QStringLiteral("BEGIN EXCLUSIVE")));
        history->Heard(u"S"_qs, u"one"_qs);
        now += kMinute * 2;
        history->Heard(u"S"_qs, u"two"_qs);
        ASSERT_TRUE(WaitUntil([&] { return told.size() == 1; }, 5s));
        test::Pump(700ms); // tried again meanwhile
        EXPECT_EQ(told.size(), 1) << "told once";
        EXPECT_EQ(history->Waiting(), 2);
        other.Exec(QStringLiteral("ROLLBACK"));
    }
    ASSERT_TRUE(Written(*history));
    history.reset();
    EXPECT_EQ(Titles(*Open()), (QStringList{u"S/one"_qs, u"S/two"_qs}));
    EXPECT_TRUE(SetAside(QStringLiteral("locked")).isEmpty())
        << "a write waits, it sets nothing aside";
}

TEST(HistoryCsv, FieldsAreQuotedWhereTheyMustBeNoneReadsAsAFormulaAndTheTextIsUtf8) {
    const qint64 ms = kStart;
    const QByteArray time = HeardTimeText(ms).toUtf8();
    const struct {
        QString title;
        QByteArray field;
    } cases[] = {
        {u"Plain"_qs, "Plain"},
        {u"星降る坂道"_qs, "星降る坂道"},
        {u"a, b"_qs, "\"a, b\""},
        {u"say \"hi\""_qs, "\"say \"\"hi\"\"\""},
        {u"two\nlines"_qs, "\"two\nlines\""},
        {u" padded "_qs, "\" padded \""},
        {QString(), ""},
        // A station's title is no formula where the file is opened.
        {u"=HYPERLINK(\"http://x\")"_qs, "\"'=HYPERLINK(\"\"http://x\"\")\""},
        {u"+1"_qs, "'+1"},
        {u"-2+3"_qs, "'-2+3"},
        {u"@SUM(A1)"_qs, "'@SUM(A1)"},
        {u"\tcmd"_qs, "'\tcmd"},
        {u"a=b"_qs, "a=b"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.title.toStdString());
        EXPECT_EQ(HistoryCsv({{ms, u"局"_qs, c.title}}),
                  "日時,放送局,曲名\r\n" + time + ",局," + c.field + "\r\n");
    }
    EXPECT_TRUE(QDateTime::fromString(QString::fromUtf8(time), Qt::ISODate).isValid());
    EXPECT_EQ(QDateTime::fromString(QString::fromUtf8(time), Qt::ISODate).toMSecsSinceEpoch(), ms);
    EXPECT_TRUE(time.contains('+') || time.contains('-') || time.endsWith('Z'));

    QString error;
    EXPECT_FALSE(WriteHistoryCsv(u"/proc/didira-none/x.csv"_qs, {}, &error));
    EXPECT_FALSE(error.isEmpty());
}

} // namespace
} // namespace didira
