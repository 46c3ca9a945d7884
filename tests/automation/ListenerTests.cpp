// The listener's tools beside the dialog, on the session bus of the suite's
// own bus daemon: Didira's bus interface and its sleep timer, recording on
// the real player, and the tray icon registering with a StatusNotifierWatcher
// and exporting its menu.
#include "PrivateBus.h"
#include "app/DidiraService.h"
#include "app/LiveActions.h"
#include "app/SleepTimer.h"
#include "app/TrayIcon.h"
#include "support/DialogFixture.h"
#include "support/MediaFiles.h"
#include "support/StreamTestServer.h"
#include "ui/DlgListener.h"
#include "ui/DlgRemote.h"

#include <QDBusArgument>
#include <QDBusVariant>
#include <QFileInfo>

namespace didira {
namespace {

using test::Call;
using test::WaitUntil;

const QString kWatcher = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString kWatcherPath = QStringLiteral("/StatusNotifierWatcher");

// The dialog with Didira's bus interface and its sleep timer; the tray's
// StatusNotifierWatcher (with a host) when a case starts it: a
// python3-dbusmock object in a process of its own, since the tray asks it
// with blocking calls, that lists the items registered.
class Listener : public test::DialogFixture {
protected:
    explicit Listener(bool recordingPlayer = true) : DialogFixture(recordingPlayer) {}
    void SetUp() override {
        DialogFixture::SetUp();
        WriteCatalogue("1,Station A,http://127.0.0.1:9/a.mp3\r\n"
                       "2,Station B,http://127.0.0.1:9/b.ogg\r\n");
        Make();
        ASSERT_TRUE(created);
        ASSERT_TRUE(QDBusConnection::sessionBus().isConnected())
            << "the suite runs under a bus daemon of its own";
        client = QDBusConnection::connectToBus(QDBusConnection::SessionBus, "listener-client");
        sleep = std::make_unique<CSleepTimer>(
            CSleepTimer::Target{[this](double g) { remote::SetFadeGain(*dlg, g); },
                                [this] { remote::Stop(*dlg); }},
            std::chrono::milliseconds(600));
        service =
            std::make_unique<CDidiraService>(*sleep, dlg.get(), QDBusConnection::sessionBus());
        ASSERT_TRUE(service->Register());
    }
    void TearDown() override {
        tray.reset();
        service.reset();
        sleep.reset();
        watcher.reset();
        QDBusConnection::disconnectFromBus("listener-client");
        DialogFixture::TearDown();
    }
    QDBusMessage Method(const QString& member, const QVariantList& args = {}) {
        return Call(client, QDBusConnection::sessionBus().baseService(), kDidiraPath,
                    kDidiraInterface, member, args);
    }
    uint SleepRemaining() {
        return test::Property(client, QDBusConnection::sessionBus().baseService(), kDidiraPath,
                              kDidiraInterface, QStringLiteral("SleepRemaining"))
            .toUInt();
    }
    void StartWatcher() {
        watcher = std::make_unique<test::Mock>(QProcessEnvironment::systemEnvironment(),
                                               QStringList{kWatcher, kWatcherPath, kWatcher});
        ASSERT_TRUE(WaitUntil([&] { return test::NameHasOwner(client, kWatcher); },
                              std::chrono::seconds(30)));
        const auto mock = [&](const QString& method, const QVariantList& args) {
            return Call(client, kWatcher, kWatcherPath, "org.freedesktop.DBus.Mock", method, args)
                .type();
        };
        ASSERT_EQ(mock("AddProperties",
                       {kWatcher, QVariantMap{{"IsStatusNotifierHostRegistered", true},
                                              {"ProtocolVersion", 0},
                                              {"RegisteredStatusNotifierItems", QStringList()}}}),
                  QDBusMessage::ReplyMessage);
        ASSERT_EQ(
            mock("AddMethod", {kWatcher, "RegisterStatusNotifierItem", "s", "",
                               QStringLiteral("self.props['%1']['RegisteredStatusNotifierItems'] = "
                                              "dbus.Array([args[0]], signature='s')")
                                   .arg(kWatcher)}),
            QDBusMessage::ReplyMessage);
    }
    // The bus name of the item registered with the watcher; empty before.
    QString Item() {
        return test::Property(client, kWatcher, kWatcherPath, kWatcher,
                              "RegisteredStatusNotifierItems")
            .toStringList()
            .value(0);
    }

    QDBusConnection client{QString()};
    std::unique_ptr<CSleepTimer> sleep;
    std::unique_ptr<CDidiraService> service;
    std::unique_ptr<test::Mock> watcher;
    std::unique_ptr<CTrayIcon> tray;
};

// ---- Didira's bus interface and the sleep timer ----------------------------

TEST_F(Listener, TheLiveBuffersActionsWithoutABufferAreRefusedNotFaked) {
    // The recording player keeps no live buffer: nothing to pause or record.
    remote::Step(*dlg, +1);
    const std::pair<const char*, QVariantList> calls[] = {
        {"Pause", {}},          {"Resume", {}},        {"GoLive", {}},
        {"StartRecording", {}}, {"StopRecording", {}}, {"SaveLast", {20u}}};
    for (const auto& [member, args] : calls)
        EXPECT_EQ(Method(QString::fromLatin1(member), args).errorName(), kDidiraNotPlaying)
            << member;
    EXPECT_EQ(test::Property(client, QDBusConnection::sessionBus().baseService(), kDidiraPath,
                             kDidiraInterface, QStringLiteral("Recording")),
              QVariant(false));
}

// The real player: what the listener writes lands in the music folder.
class ListenerOnThePlayer : public Listener {
protected:
    ListenerOnThePlayer() : Listener(false) {}
    void SetUp() override {
        if (!test::media::Available())
            GTEST_SKIP() << "ffmpeg is needed to make the test stream";
        home = test::TempDir();
        qputenv("XDG_CACHE_HOME", home.toUtf8()); // the live buffer
        qputenv("XDG_CONFIG_HOME", home.toUtf8());
        Listener::SetUp();
    }
    void TearDown() override {
        for (const char* name : {"XDG_CACHE_HOME", "XDG_CONFIG_HOME", "XDG_MUSIC_DIR"})
            qunsetenv(name);
        Listener::TearDown();
    }
    QString home;
};

TEST_F(ListenerOnThePlayer, RecordingAndSavingWriteTheStationsFilesAndAFolderThatCannotBeIsFailed) {
    test::StreamTestServer::Options options;
    options.loop = {test::media::Mp3Loop()};
    options.titles = {"Song"};
    test::StreamTestServer station(options);
    remote::OpenUri(*dlg, station.Url());
    ASSERT_TRUE(WaitUntil([&] { return live::CanSeek(*dlg); }, std::chrono::seconds(20)));
    const auto recording = [&] {
        return test::Property(client, QDBusConnection::sessionBus().baseService(), kDidiraPath,
                              kDidiraInterface, QStringLiteral("Recording"));
    };

    qputenv("XDG_MUSIC_DIR", "/proc/didira-test");
    const QDBusMessage refused = Method("StartRecording");
    EXPECT_EQ(refused.errorName(), kDidiraFailed);
    EXPECT_TRUE(refused.errorMessage().contains(u"/proc/didira-test"_qs))
        << refused.errorMessage().toStdString();
    EXPECT_EQ(recording(), QVariant(false));

    qputenv("XDG_MUSIC_DIR", (home + u"/Music"_qs).toUtf8());
    const QDBusMessage recordingStarted = Method("StartRecording");
    ASSERT_EQ(recordingStarted.type(), QDBusMessage::ReplyMessage)
        << recordingStarted.errorMessage().toStdString();
    EXPECT_EQ(recording(), QVariant(true));
    test::Pump(std::chrono::milliseconds(1500));
    ASSERT_EQ(Method("StopRecording").type(), QDBusMessage::ReplyMessage);
    EXPECT_EQ(recording(), QVariant(false));
    // Answered once written: the files, and the seconds they hold (less
    // than asked: less was kept).
    const QDBusMessage saved = Method("SaveLast", {20u});
    ASSERT_EQ(saved.type(), QDBusMessage::ReplyMessage) << saved.errorMessage().toStdString();
    ASSERT_EQ(saved.arguments().size(), 2);
    const QStringList savedFiles = qdbus_cast<QStringList>(saved.arguments()[0]);
    EXPECT_EQ(savedFiles.size(), 2) << savedFiles.join(u'|').toStdString();
    for (const QString& file : savedFiles)
        EXPECT_GT(QFileInfo(file).size(), 0) << file.toStdString();
    EXPECT_GT(saved.arguments()[1].toUInt(), 0u);
    EXPECT_LT(saved.arguments()[1].toUInt(), 20u);
    // Named after the station as the listener knows it (here the stream's
    // own name); the saved audio from before the first title after the time.
    const QDir music(home + u"/Music/Didira"_qs);
    EXPECT_TRUE(WaitUntil([&] {
        const QStringList files = music.entryList(QDir::Files);
        return files.contains(u"Didira test stream - Song.mp3"_qs) &&
               files.contains(u"Didira test stream - Song (2).mp3"_qs);
    })) << music.entryList(QDir::Files).join(u'|').toStdString();
    EXPECT_EQ(remote::NowPlaying(*dlg).PlaybackStatus(), CNowPlaying::Status::Playing);
}

// A cache folder that is not the user's own (a link planted where it would
// be): the station plays without a buffer, and pause and recording are
// refused with the reason; nothing is written where the link points.
TEST_F(ListenerOnThePlayer, ARefusedCacheFolderIsToldWhenPauseAndRecordingAreRefused) {
    const QString elsewhere = test::TempDir();
    ASSERT_TRUE(QFile::link(elsewhere, home + u"/didira"_qs));
    test::StreamTestServer::Options options;
    options.loop = {test::media::Mp3Loop()};
    test::StreamTestServer station(options);
    remote::OpenUri(*dlg, station.Url());
    ASSERT_TRUE(WaitUntil(
        [&] { return remote::NowPlaying(*dlg).PlaybackStatus() == CNowPlaying::Status::Playing; },
        std::chrono::seconds(20)));
    ASSERT_TRUE(WaitUntil([&] { return !live::Problem(*dlg).isEmpty(); }, std::chrono::seconds(5)));
    for (const char* member : {"Pause", "StartRecording"}) {
        const QDBusMessage refused = Method(QString::fromLatin1(member));
        EXPECT_EQ(refused.errorName(), kDidiraNotPlaying) << member;
        EXPECT_TRUE(refused.errorMessage().contains(u"is not a folder"_qs))
            << refused.errorMessage().toStdString();
    }
    EXPECT_FALSE(live::CanSeek(*dlg));
    EXPECT_TRUE(QDir(elsewhere).isEmpty());
    EXPECT_EQ(remote::NowPlaying(*dlg).PlaybackStatus(), CNowPlaying::Status::Playing);
}

TEST_F(Listener, SleepAfterFadesOutThenCancelsAndRestoresTheLevel) {
    // The longest time a caller can ask for is kept whole, and 0 turns it off.
    ASSERT_EQ(Method("SleepAfter", {0xFFFFFFFFu}).type(), QDBusMessage::ReplyMessage);
    EXPECT_EQ(SleepRemaining(), 0xFFFFFFFFu);
    Method("SleepAfter", {0u});
    EXPECT_EQ(SleepRemaining(), 0u);
    EXPECT_EQ(sleep->GetState(), CSleepTimer::State::Off);

    remote::Step(*dlg, +1); // plays Station A
    remote::Access::VolumeBar(*dlg)->setValue(-300);
    Player().calls.clear();
    ASSERT_EQ(Method("SleepAfter", {1u}).type(), QDBusMessage::ReplyMessage);
    EXPECT_EQ(SleepRemaining(), 1u);
    ASSERT_TRUE(WaitUntil([&] { return !Player().CallsTo({dispid::Stop}).empty(); },
                          std::chrono::seconds(15)));
    EXPECT_EQ(remote::Access::NowPlaying(*dlg).PlaybackStatus(), CNowPlaying::Status::Stopped);

    // Volume puts step down from the listener's level to silence, then Stop,
    // then the level again; the trackbar never moves.
    std::vector<std::int32_t> levels;
    bool stoppedAfterSilence = false;
    for (const auto& call : Player().calls) {
        if (call.id == dispid::Volume && call.kind == InvokeKind::PropertyPut)
            levels.push_back(std::get<std::int32_t>(call.args.at(0)));
        else if (call.id == dispid::Stop)
            stoppedAfterSilence = !levels.empty() && levels.back() == -10000;
    }
    EXPECT_TRUE(stoppedAfterSilence);
    ASSERT_GE(levels.size(), 3u);
    EXPECT_TRUE(std::is_sorted(levels.begin(), levels.end() - 1, std::greater<>()));
    EXPECT_LE(levels.front(), -300);
    EXPECT_EQ(levels.back(), -300);
    EXPECT_EQ(remote::Access::VolumeBar(*dlg)->value(), -300);
}

// ---- The tray icon ----------------------------------------------------------

// A dbusmenu layout node, (ia{sv}av), and its descendants: label (without
// mnemonics) to id and whether it is enabled.
struct MenuItem {
    int id = 0;
    bool enabled = true;
};
void ReadLayout(const QDBusArgument& arg, QMap<QString, MenuItem>& items) {
    MenuItem item;
    QVariantMap props;
    arg.beginStructure();
    arg >> item.id >> props;
    item.enabled = props.value("enabled", true).toBool();
    items.insert(props.value("label").toString().remove(QLatin1Char('_')), item);
    arg.beginArray();
    while (!arg.atEnd()) {
        QDBusVariant child;
        arg >> child;
        ReadLayout(child.variant().value<QDBusArgument>(), items);
    }
    arg.endArray();
    arg.endStructure();
}

TEST_F(Listener, TheTrayRegistersWithTheWatcherAndExportsTheListenersMenu) {
    StartWatcher();
    tray = std::make_unique<CTrayIcon>(*dlg, *sleep);
    tray->Show();
    QString item;
    ASSERT_TRUE(WaitUntil([&] { return !(item = Item()).isEmpty(); }, std::chrono::seconds(15)));
    const QString menuPath =
        test::Property(client, item, "/StatusNotifierItem", "org.kde.StatusNotifierItem", "Menu")
            .value<QDBusObjectPath>()
            .path();
    ASSERT_FALSE(menuPath.isEmpty());
    const QDBusMessage layout =
        Call(client, item, menuPath, "com.canonical.dbusmenu", "GetLayout", {0, -1, QStringList()});
    ASSERT_EQ(layout.type(), QDBusMessage::ReplyMessage) << layout.errorMessage().toStdString();
    QMap<QString, MenuItem> menu;
    ReadLayout(layout.arguments().value(1).value<QDBusArgument>(), menu);

    // The live buffer's actions are there but disabled; the rest work.
    for (const char* text : {"一時停止", "30秒戻る", "ライブに戻る", "録音", "最後の5分を保存"}) {
        ASSERT_TRUE(menu.contains(QString::fromUtf8(text))) << text;
        EXPECT_FALSE(menu.value(QString::fromUtf8(text)).enabled) << text;
    }
    for (const char* text :
         {"15分後", "30分後", "60分後", "90分後", "オフ", "Station A", "Station B", "終了"})
        EXPECT_TRUE(menu.contains(QString::fromUtf8(text))) << text;
    const auto click = [&](const QString& text) {
        Call(client, item, menuPath, "com.canonical.dbusmenu", "Event",
             {menu.value(text).id, QStringLiteral("clicked"), QVariant::fromValue(QDBusVariant(0)),
              0u});
    };

    // A sleep time chosen in the exported menu starts the timer.
    click(QStringLiteral("30分後"));
    ASSERT_TRUE(WaitUntil([&] { return sleep->GetState() == CSleepTimer::State::Counting; }));
    EXPECT_GT(sleep->RemainingSeconds(), 29u * 60u);

    // A station chosen in the menu plays as a click and "Recieve" do.
    click(QStringLiteral("Station B"));
    ASSERT_TRUE(WaitUntil([&] { return !Player().Opened().isEmpty(); }));
    EXPECT_EQ(Player().Opened(), QStringList{"http://127.0.0.1:9/b.ogg"});
    EXPECT_EQ(Field(IDC_RADIOSTATION), "Station B");
}

} // namespace
} // namespace didira

#include "ui/DlgAccess.h"
