// The dialog as a desktop media player on a private bus: a client reads the
// properties, drives the dialog (on a recording player) and hears every
// change; names of further instances; with the real player, a title set on a
// station reaches Metadata, and Pause, Play and Seek act on the live buffer.
#include "PrivateBus.h"
#include "app/Automation.h"
#include "app/LiveActions.h"
#include "app/MprisService.h"
#include "app/VavarozApp.h"
#include "res/Resources.h"
#include "support/DialogFixture.h"
#include "support/MediaFiles.h"
#include "support/StreamTestServer.h"
#include "ui/DlgRemote.h"

#include <QDBusArgument>
#include <QDBusObjectPath>
#include <QElapsedTimer>
#include <QImage>
#include <QSlider>
#include <QUrl>

namespace didira {
namespace {

using test::Call;
using test::WaitUntil;

// Turns what arrives from the bus (nested QDBusArgument values) into plain
// variants.
QVariant Plain(const QVariant& v) {
    if (v.canConvert<QDBusArgument>()) {
        const auto arg = v.value<QDBusArgument>();
        if (arg.currentSignature() == QLatin1String("a{sv}")) {
            QVariantMap map = qdbus_cast<QVariantMap>(arg);
            for (auto it = map.begin(); it != map.end(); ++it)
                it.value() = Plain(it.value());
            return map;
        }
        if (arg.currentSignature() == QLatin1String("as"))
            return qdbus_cast<QStringList>(arg);
    }
    if (v.canConvert<QDBusVariant>() && v.userType() == qMetaTypeId<QDBusVariant>())
        return Plain(v.value<QDBusVariant>().variant());
    if (v.userType() == qMetaTypeId<QDBusObjectPath>())
        return v.value<QDBusObjectPath>().path();
    return v;
}

class ChangeRecorder : public QObject {
    Q_OBJECT
public:
    std::vector<QVariantMap> changes; // one per PropertiesChanged of the player
    std::vector<qlonglong> seeked;    // the position of each Seeked
public slots:
    void Seeked(qlonglong position) { seeked.push_back(position); }
    void Changed(const QDBusMessage& signal) {
        if (signal.arguments().value(0).toString() == QLatin1String(kMprisPlayerInterface))
            changes.push_back(Plain(signal.arguments().value(1)).toMap());
    }
};

class Mpris : public test::DialogFixture, protected test::BusPair {
protected:
    explicit Mpris(bool recordingPlayer = true) : DialogFixture(recordingPlayer) {}

    void SetUp() override {
        DialogFixture::SetUp();
        WriteCatalogue("1,Station A,http://127.0.0.1:9/a.mp3\r\n"
                       "2,Station B,http://127.0.0.1:9/b.ogg\r\n");
        ASSERT_TRUE(bus.IsRunning());
        Make();
        ASSERT_TRUE(created);
        service = std::make_unique<CMprisService>(*dlg, server);
        ASSERT_TRUE(service->Register());
        ASSERT_TRUE(WaitUntil([&] { return !service->BusName().isEmpty(); }));
        ASSERT_EQ(service->BusName(), kMprisName);
        ASSERT_TRUE(client.connect(
            kMprisName, kMprisPath, QStringLiteral("org.freedesktop.DBus.Properties"),
            QStringLiteral("PropertiesChanged"), &recorder, SLOT(Changed(QDBusMessage))));
        ASSERT_TRUE(client.connect(kMprisName, kMprisPath, kMprisPlayerInterface,
                                   QStringLiteral("Seeked"), &recorder, SLOT(Seeked(qlonglong))));
        if (registration)
            Player().calls.clear();
    }
    void TearDown() override {
        service.reset();
        DialogFixture::TearDown();
    }

    QDBusMessage Method(const QString& iface, const QString& member,
                        const QVariantList& args = {}) {
        return Call(client, kMprisName, kMprisPath, iface, member, args);
    }
    QDBusMessage Command(const QString& member, const QVariantList& args = {}) {
        return Method(kMprisPlayerInterface, member, args);
    }
    QVariantMap GetAll(const QString& iface) {
        const QDBusMessage reply = Method(QStringLiteral("org.freedesktop.DBus.Properties"),
                                          QStringLiteral("GetAll"), {iface});
        EXPECT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorMessage().toStdString();
        return Plain(reply.arguments().value(0)).toMap();
    }
    // The Metadata of a PropertiesChanged that carried `title`; empty when
    // none came within 20 s.
    QVariantMap WaitForTitle(const QString& title) {
        QVariantMap found;
        WaitUntil(
            [&] {
                for (const QVariantMap& change : recorder.changes) {
                    if (change.value("Metadata").toMap().value("xesam:title") == title)
                        found = change.value("Metadata").toMap();
                }
                return !found.isEmpty();
            },
            std::chrono::seconds(20));
        return found;
    }
    // Waits for the next PropertiesChanged and returns its changed values.
    QVariantMap NextChange() {
        const std::size_t seen = m_seen;
        if (!WaitUntil([&] { return recorder.changes.size() > seen; }, std::chrono::seconds(5)))
            return {};
        return recorder.changes[m_seen++];
    }

    std::unique_ptr<CMprisService> service;
    ChangeRecorder recorder;

private:
    std::size_t m_seen = 0;
};

TEST_F(Mpris, ClientsReadThePropertiesCommandsDriveTheDialogAndEveryChangeIsAnnounced) {
    QVariantMap props = GetAll(kMprisRootInterface);
    props.insert(GetAll(kMprisPlayerInterface));
    EXPECT_EQ(props.value("Identity").toString(), "Didira");
    EXPECT_EQ(props.value("DesktopEntry").toString(), "org.didira.Didira");
    EXPECT_TRUE(props.value("SupportedUriSchemes").toStringList().contains("https"));
    EXPECT_TRUE(props.value("SupportedMimeTypes").toStringList().contains("audio/mpeg"));
    for (const char* name : {"CanQuit", "CanRaise", "CanGoNext", "CanGoPrevious", "CanControl"})
        EXPECT_TRUE(props.value(name).toBool()) << name;
    for (const char* name : {"HasTrackList", "CanPlay", "CanSeek"}) // nothing taken yet
        EXPECT_FALSE(props.value(name).toBool()) << name;
    EXPECT_EQ(props.value("PlaybackStatus").toString(), "Stopped");
    EXPECT_EQ(props.value("Metadata").toMap().value("mpris:trackid").toString(),
              "/org/mpris/MediaPlayer2/TrackList/NoTrack");
    EXPECT_DOUBLE_EQ(props.value("Volume").toDouble(), remote::Volume(*dlg));
    EXPECT_DOUBLE_EQ(props.value("Rate").toDouble(), 1.0);

    ASSERT_EQ(Command(QStringLiteral("Next")).type(), QDBusMessage::ReplyMessage);
    EXPECT_EQ(Player().Opened(), QStringList{"http://127.0.0.1:9/a.mp3"});
    EXPECT_EQ(Field(IDC_RADIOSTATION), "Station A");
    QVariantMap change = NextChange();
    EXPECT_EQ(change.value("PlaybackStatus").toString(), "Playing");
    EXPECT_TRUE(change.value("CanPlay").toBool());
    QVariantMap meta = change.value("Metadata").toMap();
    EXPECT_EQ(meta.value("xesam:title").toString(), "Station A");
    EXPECT_EQ(meta.value("xesam:album").toString(), "Station A");
    EXPECT_EQ(meta.value("xesam:url").toString(), "http://127.0.0.1:9/a.mp3");
    const QString art = QUrl(meta.value("mpris:artUrl").toString()).toLocalFile();
    EXPECT_FALSE(QImage(art).isNull()) << art.toStdString();
    EXPECT_FALSE(art.startsWith(qEnvironmentVariable("HOME") + "/"));
    const QString firstTrack = meta.value("mpris:trackid").toString();

    // The title the stream announces; "artist - title" gives both.
    remote::Access::NowPlaying(*dlg).SetTitle(QStringLiteral("群青 - 夜明け"));
    change = NextChange();
    EXPECT_EQ(change.keys(), QStringList{"Metadata"}); // only what changed
    meta = change.value("Metadata").toMap();
    EXPECT_EQ(meta.value("xesam:title").toString(), "夜明け");
    EXPECT_EQ(meta.value("xesam:artist").toStringList(), QStringList{"群青"});
    EXPECT_EQ(meta.value("mpris:trackid").toString(), firstTrack);

    ASSERT_EQ(Command(QStringLiteral("Stop")).type(), QDBusMessage::ReplyMessage);
    EXPECT_EQ(Player().CallsTo({2003}).size(), 1u);
    change = NextChange();
    EXPECT_EQ(change.value("PlaybackStatus").toString(), "Stopped");
    EXPECT_EQ(change.value("Metadata").toMap().value("xesam:title").toString(), "Station A");

    Command(QStringLiteral("Play"));
    Command(QStringLiteral("Previous")); // wraps to the last row
    EXPECT_EQ(Player().Opened(),
              (QStringList{"http://127.0.0.1:9/a.mp3", "http://127.0.0.1:9/a.mp3",
                           "http://127.0.0.1:9/b.ogg"}));
    meta = GetAll(kMprisPlayerInterface).value("Metadata").toMap();
    EXPECT_EQ(meta.value("xesam:title").toString(), "Station B");
    EXPECT_NE(meta.value("mpris:trackid").toString(), firstTrack);

    const QDBusMessage bad = Command(QStringLiteral("OpenUri"), {QStringLiteral("ftp://x/y")});
    EXPECT_EQ(bad.errorName(), "org.freedesktop.DBus.Error.NotSupported");
    EXPECT_EQ(Player().Opened().size(), 3);
}

TEST_F(Mpris, VolumeFollowsTheTrackbarBothWays) {
    ASSERT_EQ(Method(QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Set"),
                     {QString::fromLatin1(kMprisPlayerInterface), QStringLiteral("Volume"),
                      QVariant::fromValue(QDBusVariant(0.25))})
                  .type(),
              QDBusMessage::ReplyMessage);
    EXPECT_EQ(Item<QSlider>(IDC_VOLUME)->value(), -750);
    const auto sent = Player().CallsTo({19});
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(std::get<std::int32_t>(sent[0].args.at(0)), -750);
    EXPECT_EQ(NextChange(), (QVariantMap{{"Volume", 0.25}}));

    Item<QSlider>(IDC_VOLUME)->setValue(0); // the user's move
    EXPECT_EQ(NextChange(), (QVariantMap{{"Volume", 1.0}}));
}

TEST_F(Mpris, RaiseShowsTheHiddenWindowAndQuitEndsAsEndDoes) {
    dlg->hide();
    ASSERT_EQ(Method(kMprisRootInterface, QStringLiteral("Raise")).type(),
              QDBusMessage::ReplyMessage);
    EXPECT_TRUE(dlg->isVisible());

    // While an automation client holds the object, Quit only hides.
    CVavarozApp app;
    app.m_pMainWnd = dlg.get();
    auto proxy = std::make_unique<CVavarozDlgAutoProxy>();
    ASSERT_EQ(dlg->m_pAutoProxy, proxy.get());
    Method(kMprisRootInterface, QStringLiteral("Quit"));
    EXPECT_TRUE(WaitUntil([&] { return !dlg->isVisible(); }));
    EXPECT_EQ(dlg->ModalResult(), 0);
    proxy.reset();
    Method(kMprisRootInterface, QStringLiteral("Raise"));
    Method(kMprisRootInterface, QStringLiteral("Quit"));
    EXPECT_TRUE(WaitUntil([&] { return dlg->ModalResult() == IDOK; }));
}

TEST_F(Mpris, AFurtherInstanceTakesANameOfItsOwn) {
    CMprisService other(*dlg, bus.Connect(QStringLiteral("mpris-second")));
    ASSERT_TRUE(other.Register());
    ASSERT_TRUE(WaitUntil([&] { return !other.BusName().isEmpty(); }));
    EXPECT_EQ(other.BusName(), QStringLiteral("org.mpris.MediaPlayer2.didira.instance%1")
                                   .arg(QCoreApplication::applicationPid()));
}

// The real player on a station of our own that names itself (icy-name) and
// announces titles in its ICY metadata, in Shift_JIS as many Japanese
// stations do.
class MprisLive : public Mpris {
protected:
    MprisLive() : Mpris(false) {}
};

TEST_F(MprisLive, ATitleSetOnTheStationReachesMetadataAndIsAnnounced) {
    const QByteArray mp3 = test::media::Mp3Loop();
    if (mp3.isEmpty())
        GTEST_SKIP() << "ffmpeg is needed";
    test::StreamTestServer station(test::StreamTestServer::TitledMp3(mp3));
    station.SetName("\xe3\x83\x86\xe3\x82\xb9\xe3\x83\x88 FM"); // テスト FM, in UTF-8
    // 今夜のリクエスト - 表現ソング
    station.SetTitle(
        QByteArray::fromHex("8da196e982cc838a834e834783588367202d20955c8cbb835c8393834f"));
    // Not in the catalogue: the station's own name is all there is to call it.
    ASSERT_EQ(Command(QStringLiteral("OpenUri"), {station.Url()}).type(),
              QDBusMessage::ReplyMessage);
    QVariantMap meta = WaitForTitle(u"表現ソング"_qs);
    ASSERT_FALSE(meta.isEmpty()) << "no title in Metadata";
    EXPECT_EQ(meta.value("xesam:artist").toStringList(), QStringList{u"今夜のリクエスト"_qs});
    EXPECT_EQ(meta.value("xesam:album").toString(), u"テスト FM"_qs);
    EXPECT_EQ(meta.value("didira:streamName").toString(), u"テスト FM"_qs);
    EXPECT_EQ(meta.value("xesam:url").toString(), station.Url());

    // A title set while it plays.
    station.SetTitle("Second Artist - Second Song");
    meta = WaitForTitle(u"Second Song"_qs);
    ASSERT_FALSE(meta.isEmpty()) << "the new title did not reach Metadata";
    EXPECT_EQ(meta.value("xesam:artist").toStringList(), QStringList{u"Second Artist"_qs});
    EXPECT_EQ(GetAll(kMprisPlayerInterface).value("Metadata").toMap().value("xesam:title"),
              u"Second Song"_qs);

    // Stopped: no title and no announced name; the URL is what is left.
    ASSERT_EQ(Command(QStringLiteral("Stop")).type(), QDBusMessage::ReplyMessage);
    meta = GetAll(kMprisPlayerInterface).value("Metadata").toMap();
    EXPECT_EQ(meta.value("xesam:title").toString(), station.Url());
    EXPECT_FALSE(meta.contains("xesam:artist"));
    EXPECT_FALSE(meta.contains("didira:streamName"));
}

// Through the real dialog: paused, the field says so and the station keeps
// coming; Play goes on where it paused; Seek moves back in the buffer.
TEST_F(MprisLive, PauseHoldsTheStationPlayGoesOnAndSeekMovesBack) {
    const QByteArray mp3 = test::media::Mp3Loop();
    if (mp3.isEmpty())
        GTEST_SKIP() << "ffmpeg is needed";
    test::StreamTestServer station(test::StreamTestServer::TitledMp3(mp3));
    ASSERT_EQ(Command(QStringLiteral("OpenUri"), {station.Url()}).type(),
              QDBusMessage::ReplyMessage);
    auto player = [&](const char* name) { return GetAll(kMprisPlayerInterface).value(name); };
    ASSERT_TRUE(WaitUntil([&] { return player("PlaybackStatus") == u"Playing"_qs; },
                          std::chrono::seconds(20)));
    test::Pump(std::chrono::seconds(6));
    EXPECT_EQ(player("CanPause"), true);
    EXPECT_EQ(player("CanSeek"), true);

    ASSERT_EQ(Command(QStringLiteral("Pause")).type(), QDBusMessage::ReplyMessage);
    ASSERT_TRUE(
        WaitUntil([&] { return Field(IDC_PLAYSTATE) == u"再生が一時停止しています。"_qs; }));
    EXPECT_EQ(player("PlaybackStatus"), u"Paused"_qs);
    test::Pump(std::chrono::milliseconds(500)); // the next buffer has marked the pause
    const qlonglong pausedAt = player("Position").toLongLong();
    const int connections = station.Connections();
    test::Pump(std::chrono::seconds(3));
    EXPECT_EQ(player("Position").toLongLong(), pausedAt) << "moved while paused";
    EXPECT_EQ(station.Connections(), connections) << "the station was let go";

    QElapsedTimer sincePlay;
    sincePlay.start();
    ASSERT_EQ(Command(QStringLiteral("Play")).type(), QDBusMessage::ReplyMessage);
    ASSERT_TRUE(WaitUntil([&] { return player("PlaybackStatus") == u"Playing"_qs; }));
    const qlonglong resumedAt = player("Position").toLongLong();
    EXPECT_GE(resumedAt, pausedAt - 500000) << "not where it paused";
    EXPECT_LE(resumedAt, pausedAt + sincePlay.elapsed() * 1000 + 500000) << "not where it paused";
    ASSERT_EQ(Command(QStringLiteral("Seek"), {qlonglong(-4000000)}).type(),
              QDBusMessage::ReplyMessage);
    const qlonglong back = player("Position").toLongLong();
    EXPECT_LE(back, resumedAt - 3000000) << back << " after " << resumedAt;
    EXPECT_GE(back, resumedAt - 5000000);
    ASSERT_TRUE(WaitUntil([&] { return !recorder.seeked.empty(); })) << "no Seeked";
    // Seeked names the place moved to; Position, read after, may count the
    // lead already sent from there (750 ms).
    EXPECT_GE(recorder.seeked.back(), back - 1250000);
    EXPECT_LE(recorder.seeked.back(), back + 500000);
    EXPECT_GE(player("Metadata").toMap().value("didira:behindLive").toLongLong(), 3000000);

    // Live again as the tray asks for it: announced too, and no longer behind.
    ASSERT_TRUE(live::GoLive(*dlg));
    EXPECT_TRUE(WaitUntil([&] { return recorder.seeked.size() == 2; })) << "no Seeked";
    EXPECT_FALSE(player("Metadata").toMap().contains("didira:behindLive"));
}

} // namespace
} // namespace didira

#include "MprisTests.moc"
#include "ui/DlgAccess.h"
