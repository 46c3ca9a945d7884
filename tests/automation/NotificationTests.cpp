// Notifications of the title now playing, and of a recording on the real
// player that failed, received by a notification server stub on a private
// bus.
#include "PrivateBus.h"
#include "app/DesktopNotifier.h"
#include "player/PlayerFixture.h"
#include "support/StreamTestServer.h"
#include "support/TestSupport.h"
#include "ui/NowPlaying.h"

#include <QDBusConnection>
#include <QDBusVirtualObject>
#include <cerrno>
#include <cstring>
#include <gtest/gtest.h>

namespace didira {
namespace {

using test::WaitUntil;

// org.freedesktop.Notifications: records Notify calls and answers each with
// a new id (or the id it replaces); records the ids withdrawn.
class NotificationServer final : public QDBusVirtualObject {
public:
    struct Note {
        uint replacesId;
        QString summary, body;
    };
    QStringList capabilities{QStringLiteral("body")};
    std::vector<Note> notes;
    std::vector<uint> closed;
    uint nextId = 40;

    QString introspect(const QString&) const override { return QString(); }
    bool handleMessage(const QDBusMessage& m, const QDBusConnection& bus) override {
        const QVariantList a = m.arguments();
        if (m.member() == QLatin1String("GetCapabilities"))
            return bus.send(m.createReply(capabilities));
        if (m.member() == QLatin1String("CloseNotification")) {
            closed.push_back(a.value(0).toUInt());
            return bus.send(m.createReply());
        }
        if (m.member() != QLatin1String("Notify") ||
            m.signature() != QLatin1String("susssasa{sv}i"))
            return false;
        const uint replaces = a.value(1).toUInt();
        notes.push_back({replaces, a.value(3).toString(), a.value(4).toString()});
        return bus.send(m.createReply(replaces != 0 ? replaces : ++nextId));
    }
};

void Serve(QDBusConnection& server, NotificationServer& stub) {
    ASSERT_TRUE(
        server.registerVirtualObject(QStringLiteral("/org/freedesktop/Notifications"), &stub));
    ASSERT_TRUE(server.registerService(QStringLiteral("org.freedesktop.Notifications")));
}

class Notifications : public ::testing::Test, protected test::BusPair {
protected:
    void SetUp() override {
        ASSERT_TRUE(bus.IsRunning());
        notifier = std::make_unique<CDesktopNotifier>(now, client);
    }
    void StartServer() { Serve(server, stub); }
    // Sets a title and waits until the stub holds `expected` notifications;
    // then lets the loop run a little to catch any extra one.
    void Title(const QString& title, std::size_t expected) {
        now.SetTitle(title);
        EXPECT_TRUE(
            WaitUntil([&] { return stub.notes.size() >= expected; }, std::chrono::seconds(5)));
        test::Pump(std::chrono::milliseconds(100));
        EXPECT_EQ(stub.notes.size(), expected) << title.toStdString();
    }

    NotificationServer stub;
    CNowPlaying now;
    std::unique_ptr<CDesktopNotifier> notifier;
};

TEST_F(Notifications, OnceAServiceAppearsOneNotificationPerTitleChangeEachReplacingTheLast) {
    now.Open(QStringLiteral("Station A"), QStringLiteral("http://127.0.0.1:9/a.mp3"), 1);
    now.SetTitle(QStringLiteral("Nobody listens"));
    test::Pump(std::chrono::milliseconds(300));
    StartServer();
    Title(QStringLiteral("First song"), 1);
    Title(QStringLiteral("First song"), 1); // unchanged: nothing
    Title(QStringLiteral("Second & <third>"), 2);
    now.Open(QStringLiteral("Station B"), QStringLiteral("http://127.0.0.1:9/b.mp3"), 2);
    Title(QStringLiteral("Other"), 3);

    ASSERT_EQ(stub.notes.size(), 3u);
    EXPECT_EQ(stub.notes[0].replacesId, 0u);
    EXPECT_EQ(stub.notes[0].summary, "Station A");
    EXPECT_EQ(stub.notes[0].body, "First song");
    EXPECT_EQ(stub.notes[1].replacesId, 41u);
    EXPECT_EQ(stub.notes[1].body, "Second & <third>"); // no markup service: as is
    EXPECT_EQ(stub.notes[2].replacesId, 41u);
    EXPECT_EQ(stub.notes[2].summary, "Station B");
    EXPECT_EQ(notifier->NotificationId(), 41u);

    // Stopped, or paused: no notification.
    now.Stop();
    Title(QStringLiteral("After stop"), 3);
    now.Open(QStringLiteral("Station A"), QStringLiteral("http://127.0.0.1:9/a.mp3"), 1);
    now.SetPlayerState(1, 6);
    Title(QStringLiteral("While paused"), 3);
}

TEST_F(Notifications, TheLastNotificationIsWithdrawnOnStopAndAtExit) {
    StartServer();
    now.Open(QStringLiteral("Station A"), QStringLiteral("http://127.0.0.1:9/a.mp3"), 1);
    Title(QStringLiteral("First song"), 1);
    now.Stop();
    ASSERT_TRUE(WaitUntil([&] { return !stub.closed.empty(); }, std::chrono::seconds(5)));
    EXPECT_EQ(stub.closed, std::vector<uint>{41});

    // Stopped while the notification is on its way: the id its reply brings
    // is withdrawn. The next title is a new notification.
    now.Open(QStringLiteral("Station A"), QStringLiteral("http://127.0.0.1:9/a.mp3"), 1);
    now.SetTitle(QStringLiteral("Second song"));
    now.Stop();
    ASSERT_TRUE(WaitUntil([&] { return stub.closed.size() == 2; }, std::chrono::seconds(5)));
    EXPECT_EQ(stub.notes.back().replacesId, 0u);
    EXPECT_EQ(stub.closed.back(), 42u);

    now.Open(QStringLiteral("Station B"), QStringLiteral("http://127.0.0.1:9/b.mp3"), 2);
    Title(QStringLiteral("Third song"), 3);
    notifier.reset();
    ASSERT_TRUE(WaitUntil([&] { return stub.closed.size() == 3; }, std::chrono::seconds(5)));
    EXPECT_EQ(stub.closed.back(), 43u);
}

TEST_F(Notifications, AnOutageIsToldOnceAndWhenItIsOverTheTitleShowsAgain) {
    StartServer();
    now.Open(QStringLiteral("Station A"), QStringLiteral("http://127.0.0.1:9/a.mp3"), 1);
    Title(QStringLiteral("Song"), 1);
    for (const bool interrupted : {true, true, false}) {
        now.SetInterrupted(interrupted);
        test::Pump(std::chrono::milliseconds(300));
    }
    ASSERT_EQ(stub.notes.size(), 3u);
    EXPECT_EQ(stub.notes[1].body, QStringLiteral("接続が切れました。再接続しています…"));
    EXPECT_EQ(stub.notes[1].replacesId, 41u);
    EXPECT_EQ(stub.notes[2].body, "Song");
    EXPECT_EQ(stub.notes[2].replacesId, 41u);
}

TEST_F(Notifications, AServiceThatReadsMarkupGetsTheTitleEscaped) {
    stub.capabilities << QStringLiteral("body-markup");
    StartServer();
    now.Open(QStringLiteral("R&B <1>"), QStringLiteral("http://127.0.0.1:9/a.mp3"), 1);
    Title(QStringLiteral("<b>Rock</b> & Roll"), 1);
    EXPECT_EQ(stub.notes[0].body, "&lt;b&gt;Rock&lt;/b&gt; &amp; Roll");
    EXPECT_EQ(stub.notes[0].summary, "R&B <1>"); // the summary is never markup
}

TEST(NotificationSwitch, TheSwitchOrTheEnvironmentTurnsNotificationsOff) {
    qunsetenv("DIDIRA_NO_NOTIFICATIONS");
    QStringList args{QStringLiteral("-Embedding"), QStringLiteral("--no-notifications")};
    EXPECT_FALSE(NotificationsWanted(args));
    EXPECT_EQ(args, QStringList{QStringLiteral("-Embedding")});
    EXPECT_TRUE(NotificationsWanted(args));
    for (const char* value : {"1", "yes", "0"}) {
        qputenv("DIDIRA_NO_NOTIFICATIONS", value);
        EXPECT_EQ(NotificationsWanted(args), *value == '0') << value;
    }
    qunsetenv("DIDIRA_NO_NOTIFICATIONS");
}

// The real player recording into a tmpfs of 32 KiB that small-disk.sh mounts
// (tests/automation/CMakeLists.txt), told as the program tells it.
class RecordingNotifications : public test::PlayerFixture, protected test::BusPair {};

TEST_F(RecordingNotifications, ARecordingThatFillsTheDiskIsToldOnceWithTheReason) {
    const QString disk = qEnvironmentVariable("DIDIRA_TEST_SMALL_DISK");
    if (disk.isEmpty())
        GTEST_SKIP() << "needs a small disk: run through tests/support/small-disk.sh";
    if (!test::media::Available())
        GTEST_SKIP() << "ffmpeg is needed to make the test stream";
    ASSERT_TRUE(bus.IsRunning());
    NotificationServer stub;
    Serve(server, stub);
    CNowPlaying now;
    CDesktopNotifier notifier(now, client);
    notifier.TellRecordingFailures(*control);
    control->SetTimeShiftLimits(test::TempDir(), {});
    control->SetRecordingFolder(disk + u"/Didira"_qs);
    test::StreamTestServer station(test::StreamTestServer::TitledMp3(test::media::Mp3Loop()));
    player.Open(station.Url());
    ASSERT_TRUE(WaitPlaying());

    ASSERT_TRUE(control->StartRecording(u"Station A"_qs, [](const QString&) {}));
    ASSERT_TRUE(WaitUntil([&] { return !stub.notes.empty(); }, std::chrono::seconds(30)));
    test::Pump(std::chrono::milliseconds(500));
    ASSERT_EQ(stub.notes.size(), 1u);
    EXPECT_EQ(stub.notes[0].summary, u"録音できませんでした"_qs);
    EXPECT_TRUE(stub.notes[0].body.contains(QString::fromLocal8Bit(strerror(ENOSPC))))
        << stub.notes[0].body.toStdString();
    EXPECT_FALSE(control->IsRecording());
    EXPECT_EQ(Play(), PlayState::Playing);
}

} // namespace
} // namespace didira
