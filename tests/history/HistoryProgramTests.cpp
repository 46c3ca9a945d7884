// The song history through the real program on a private bus, playing a
// local station whose title changes with each 4 s part: the titles heard are
// in History in order with their times and are told by TitleHeard, the file
// keeps them across a restart, and a title that arrives while the station is
// paused (kept by the time shift) is entered when it is played. A corrupt
// file is set aside and told once, on the standard error and in a
// notification (to a notification server stub in this process).
#include "app/DidiraService.h"
#include "app/MprisService.h"
#include "automation/PrivateBus.h"
#include "support/MediaFiles.h"
#include "support/StreamTestServer.h"
#include "support/TestSupport.h"

#include <QDBusArgument>
#include <QDBusVirtualObject>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>

namespace didira {
namespace {

using namespace std::chrono_literals;
using test::Call;
using test::WaitUntil;

const QString kExe = QFileInfo(QStringLiteral(DIDIRA_VAVAROZ_EXE)).absoluteFilePath();
const QString kMpris = QString::fromLatin1(kMprisName);

struct Heard {
    qint64 ms = 0; // from the entry's ISO 8601 time
    QString time;
    QString station;
    QString title;
};

// org.freedesktop.Notifications: records what Notify shows.
class NotificationServer final : public QDBusVirtualObject {
public:
    QStringList notes; // "summary: body"
    QString introspect(const QString&) const override { return QString(); }
    bool handleMessage(const QDBusMessage& m, const QDBusConnection& bus) override {
        if (m.member() == QLatin1String("GetCapabilities"))
            return bus.send(m.createReply(QStringList{QStringLiteral("body")}));
        if (m.member() == QLatin1String("CloseNotification"))
            return bus.send(m.createReply());
        if (m.member() != QLatin1String("Notify"))
            return false;
        notes << m.arguments().value(3).toString() + u": "_qs + m.arguments().value(4).toString();
        return bus.send(m.createReply(uint(notes.size())));
    }
};

} // namespace

// Every TitleHeard the program sends.
class TitleSignals : public QObject {
    Q_OBJECT
public:
    QStringList titles;
public slots:
    void Heard(const QString& station, const QString& title) {
        Q_UNUSED(station);
        titles << title;
    }
};

namespace {

class HistoryProgram : public ::testing::Test {
protected:
    void SetUp() override {
        if (!test::media::Available())
            GTEST_SKIP() << "ffmpeg is needed to make the test stream";
        ASSERT_TRUE(bus.IsRunning());
        client = bus.Connect(QStringLiteral("client"));
        test::StreamTestServer::Options options;
        const QByteArray part = test::media::Mp3Loop();
        for (int i = 0; i < 40; ++i) {
            options.loop.push_back(part);
            options.titles.push_back(QStringLiteral("第%1曲").arg(i).toUtf8());
        }
        options.bytesPerSecond = 128000 / 8;
        station = std::make_unique<test::StreamTestServer>(options);
    }
    void TearDown() override {
        if (program && program->state() != QProcess::NotRunning) {
            program->kill();
            program->waitForFinished(5000);
        }
    }

    // notifying: with notifications, the standard error read (not passed on).
    void Start(bool notifying = false) {
        program = std::make_unique<QProcess>();
        QProcessEnvironment env = bus.Environment();
        env.insert(QStringLiteral("DIDIRA_AUDIO_SINK"), QStringLiteral("fakesink sync=true"));
        env.insert(QStringLiteral("DIDIRA_NO_NOTIFICATIONS"),
                   notifying ? QStringLiteral("0") : QStringLiteral("1"));
        program->setProcessEnvironment(env);
        program->setWorkingDirectory(bus.WorkDir());
        program->setProcessChannelMode(notifying ? QProcess::ForwardedOutputChannel
                                                 : QProcess::ForwardedChannels);
        program->start(kExe, {});
        ASSERT_TRUE(program->waitForStarted(5000));
        ASSERT_TRUE(WaitUntil([&] { return test::NameHasOwner(client, kMpris); }, 30s));
    }
    void Quit() {
        EXPECT_EQ(Call(client, kMpris, QString::fromLatin1(kMprisPath),
                       QString::fromLatin1(kMprisRootInterface), QStringLiteral("Quit"))
                      .type(),
                  QDBusMessage::ReplyMessage);
        ASSERT_TRUE(WaitUntil([&] { return program->state() == QProcess::NotRunning; }, 20s));
        EXPECT_EQ(program->exitCode(), 0);
    }
    QDBusMessage Player(const QString& member, const QVariantList& args = {}) {
        return Call(client, kMpris, QString::fromLatin1(kMprisPath),
                    QString::fromLatin1(kMprisPlayerInterface), member, args);
    }
    QDBusMessage Didira(const QString& member, const QVariantList& args = {}) {
        return Call(client, kMpris, QString::fromLatin1(kDidiraPath),
                    QString::fromLatin1(kDidiraInterface), member, args);
    }
    // History(count) as the bus gives it, newest first.
    std::vector<Heard> History(uint count = 10) {
        std::vector<Heard> out;
        const QDBusMessage reply = Didira(QStringLiteral("History"), {count});
        EXPECT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorMessage().toStdString();
        if (reply.type() != QDBusMessage::ReplyMessage)
            return out;
        EXPECT_EQ(reply.signature(), u"a(sss)"_qs); // the time is ISO 8601 text
        const auto arg = reply.arguments().value(0).value<QDBusArgument>();
        arg.beginArray();
        while (!arg.atEnd()) {
            Heard h;
            arg.beginStructure();
            arg >> h.time >> h.station >> h.title;
            arg.endStructure();
            h.ms = QDateTime::fromString(h.time, Qt::ISODate).toMSecsSinceEpoch();
            out.push_back(h);
        }
        arg.endArray();
        return out;
    }
    static int Number(const Heard& h) { return h.title.mid(1, h.title.size() - 2).toInt(); }
    QString HistoryFile() const { return bus.DataHome() + u"/didira/history.sqlite"_qs; }

    test::PrivateBus bus;
    QDBusConnection client{QString()};
    std::unique_ptr<test::StreamTestServer> station;
    std::unique_ptr<QProcess> program;
};

TEST_F(HistoryProgram, TitlesHeardAreOnTheBusInOrderWithTimesAndSurviveARestart) {
    Start();
    TitleSignals signalled;
    ASSERT_TRUE(client.connect(QString(), QString::fromLatin1(kDidiraPath),
                               QString::fromLatin1(kDidiraInterface), QStringLiteral("TitleHeard"),
                               &signalled, SLOT(Heard(QString, QString))));
    EXPECT_TRUE(History().empty());
    const qint64 began = QDateTime::currentMSecsSinceEpoch();
    ASSERT_EQ(Player(QStringLiteral("OpenUri"), {station->Url()}).type(),
              QDBusMessage::ReplyMessage);
    std::vector<Heard> heard;
    ASSERT_TRUE(WaitUntil([&] { return (heard = History()).size() >= 3; }, 40s));
    ASSERT_EQ(Player(QStringLiteral("Stop")).type(), QDBusMessage::ReplyMessage);
    test::Pump(500ms);
    heard = History();
    const qint64 ended = QDateTime::currentMSecsSinceEpoch();

    // Newest first: each title the one after the next, each time a part
    // (4 s) after the next (but the first, which came with the burst of a
    // new listener's first seconds), all between the open and now.
    ASSERT_GE(heard.size(), 3u);
    QStringList inOrder;
    for (std::size_t i = 0; i < heard.size(); ++i) {
        SCOPED_TRACE(heard[i].time.toStdString() + " " + heard[i].title.toStdString());
        EXPECT_EQ(heard[i].station, u"Didira test stream"_qs);
        EXPECT_GE(heard[i].ms, began - 1000);
        EXPECT_LE(heard[i].ms, ended);
        if (i + 1 < heard.size()) {
            EXPECT_EQ(Number(heard[i]), Number(heard[i + 1]) + 1);
        }
        if (i + 2 < heard.size()) {
            EXPECT_NEAR(heard[i].ms - heard[i + 1].ms, 4000, 2000);
        }
        inOrder.prepend(heard[i].title);
    }
    EXPECT_TRUE(WaitUntil([&] { return signalled.titles == inOrder; }, 5s))
        << signalled.titles.join(u',').toStdString();

    Quit();
    EXPECT_TRUE(QFileInfo::exists(HistoryFile()));
    Start();
    const std::vector<Heard> again = History();
    ASSERT_EQ(again.size(), heard.size());
    for (std::size_t i = 0; i < heard.size(); ++i) {
        EXPECT_EQ(again[i].time, heard[i].time);
        EXPECT_EQ(again[i].station, heard[i].station);
        EXPECT_EQ(again[i].title, heard[i].title);
    }
    EXPECT_EQ(History(1).size(), 1u);
    Quit();
}

TEST_F(HistoryProgram, ATitleThatArrivesDuringAPauseIsEnteredWhenItIsPlayed) {
    Start();
    ASSERT_EQ(Player(QStringLiteral("OpenUri"), {station->Url()}).type(),
              QDBusMessage::ReplyMessage);
    // Just after a title begins, once the live buffer keeps the station.
    std::vector<Heard> heard;
    ASSERT_TRUE(WaitUntil([&] { return (heard = History()).size() >= 1; }, 30s));
    const int first = Number(heard[0]);
    ASSERT_TRUE(WaitUntil([&] { return Number((heard = History()).at(0)) > first; }, 10s));
    const int paused = Number(heard[0]);
    ASSERT_TRUE(WaitUntil(
        [&] { return Didira(QStringLiteral("Pause")).type() == QDBusMessage::ReplyMessage; }, 5s));

    // Two more parts arrive while paused: nothing new is heard.
    test::Pump(9s);
    heard = History();
    ASSERT_FALSE(heard.empty());
    EXPECT_EQ(Number(heard[0]), paused) << "entered while paused";

    const qint64 resumed = QDateTime::currentMSecsSinceEpoch();
    ASSERT_EQ(Didira(QStringLiteral("Resume")).type(), QDBusMessage::ReplyMessage);
    ASSERT_TRUE(WaitUntil([&] { return Number((heard = History()).at(0)) > paused; }, 10s));
    EXPECT_EQ(Number(heard[0]), paused + 1) << "the next part, as played";
    EXPECT_GE(heard[0].ms, resumed - 1000) << heard[0].time.toStdString();
    EXPECT_EQ(Number(heard[1]), paused);
    Quit();
}

TEST_F(HistoryProgram, ACorruptFileIsSetAsideAndToldOnceOnTheStandardErrorAndInANotification) {
    const QByteArray garbage(8192, '\x5a');
    QDir().mkpath(bus.DataHome() + u"/didira"_qs);
    QFile file(HistoryFile());
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(garbage);
    file.close();
    NotificationServer stub;
    QDBusConnection server = bus.Connect(QStringLiteral("notifications"));
    ASSERT_TRUE(
        server.registerVirtualObject(QStringLiteral("/org/freedesktop/Notifications"), &stub));
    ASSERT_TRUE(server.registerService(QStringLiteral("org.freedesktop.Notifications")));

    Start(true);
    ASSERT_TRUE(WaitUntil([&] { return !stub.notes.isEmpty(); }, 20s));
    const QStringList aside = QDir(bus.DataHome() + u"/didira"_qs)
                                  .entryList({u"history.sqlite.corrupt-*"_qs}, QDir::Files);
    ASSERT_EQ(aside.size(), 1);
    EXPECT_TRUE(stub.notes[0].startsWith(u"曲の履歴: "_qs)) << stub.notes[0].toStdString();
    EXPECT_TRUE(stub.notes[0].contains(aside[0])) << stub.notes[0].toStdString();
    QFile setAside(bus.DataHome() + u"/didira/"_qs + aside[0]);
    ASSERT_TRUE(setAside.open(QIODevice::ReadOnly));
    EXPECT_EQ(setAside.readAll(), garbage);

    // The new file takes what is heard.
    ASSERT_EQ(Player(QStringLiteral("OpenUri"), {station->Url()}).type(),
              QDBusMessage::ReplyMessage);
    ASSERT_TRUE(WaitUntil([&] { return !History().empty(); }, 30s));
    Quit();
    const QString errors = QString::fromUtf8(program->readAllStandardError());
    EXPECT_EQ(errors.count(aside[0]), 1) << errors.toStdString();
    EXPECT_EQ(stub.notes.filter(u"曲の履歴: "_qs).size(), 1)
        << stub.notes.join(u'\n').toStdString();
    Start();
    EXPECT_FALSE(History().empty());
    Quit();
}

} // namespace
} // namespace didira

#include "HistoryProgramTests.moc"
