#include "PlayerFixture.h"
#include "support/HttpTestServer.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <cmath>

using namespace didira;
using namespace didira::test;

namespace {

class PlayerControl : public PlayerFixture {
protected:
    void SetUp() override {
        PlayerFixture::SetUp();
        if (HasFatalFailure())
            return;
        tone = ToneMp3();
        server.Serve("/tone.mp3", "audio/mpeg", tone);
    }

    void NeedTone() {
        if (tone.isEmpty())
            GTEST_SKIP() << "ffmpeg is needed to make the test stream";
    }

    HttpTestServer server;
    QByteArray tone;
};

} // namespace

TEST_F(PlayerControl, TheTemplateEntrySetsTheInitialVolume) {
    EXPECT_EQ(player.GetVolume(), -600);
    EXPECT_NEAR(control->PipelineVolumeDb(), -6.0, 1e-5);
    EXPECT_EQ(Play(), PlayState::Closed);
}

TEST(PlayerControlCreation, ABadStateOrAMissingElementFailsCreationWithAReason) {
    QWidget window;
    const ControlCreation truncated = CreatePlayer(&window, MediaPlayerInitData().left(200));
    EXPECT_FALSE(truncated.control);
    EXPECT_TRUE(truncated.error.contains(QLatin1String("truncated")))
        << truncated.error.toStdString();

    const QByteArray saved = qgetenv(CGstPlayerControl::kAudioSinkVariable);
    qputenv(CGstPlayerControl::kAudioSinkVariable, "nosuchaudiosink");
    const ControlCreation noSink = CreatePlayer(&window);
    qputenv(CGstPlayerControl::kAudioSinkVariable, saved);
    EXPECT_FALSE(noSink.control);
    EXPECT_TRUE(noSink.error.contains(QLatin1String("nosuchaudiosink")))
        << noSink.error.toStdString();
    EXPECT_TRUE(window.children().isEmpty());
}

TEST_F(PlayerControl, UnknownMembersWrongKindsAndBadArgumentsRaiseDispatchErrors) {
    constexpr auto Get = InvokeKind::PropertyGet;
    constexpr auto Put = InvokeKind::PropertyPut;
    struct Case {
        DispId id;
        InvokeKind kind;
        std::vector<Variant> args;
        std::int32_t code;
    };
    const std::vector<Case> cases = {
        {4242, Get, {}, kDispMemberNotFound},
        {dispid::PlayState, Put, {std::int32_t{2}}, kDispMemberNotFound}, // read-only
        {dispid::Stop, Get, {}, kDispMemberNotFound},                     // a method
        {dispid::Open, InvokeKind::Method, {}, kDispBadParamCount},
        {dispid::Volume, Put, {}, kDispBadParamCount},
        {dispid::Volume, Put, {QStringLiteral("loud")}, kDispTypeMismatch},
        {dispid::Volume, Put, {std::int32_t{1}}, playererror::InvalidArgument},
        {dispid::Balance, Put, {std::int32_t{-10001}}, playererror::InvalidArgument},
    };
    for (const Case& c : cases) {
        try {
            control->Invoke(c.id, c.kind, c.args);
            ADD_FAILURE() << c.id << ": no error";
        } catch (const DispatchError& e) {
            EXPECT_EQ(e.code(), c.code) << c.id;
        }
    }
    EXPECT_EQ(player.GetVolume(), -600);
    EXPECT_EQ(player.GetBalance(), 0);
}

TEST_F(PlayerControl, VolumeAndBalanceReachThePipelineAndReadBackAsSet) {
    struct Case {
        std::int32_t volume;
        double db;
    };
    for (const Case c : {Case{0, 0.0}, Case{-1000, -10.0}, Case{-250, -2.5}}) {
        player.SetVolume(c.volume);
        EXPECT_EQ(player.GetVolume(), c.volume);
        EXPECT_NEAR(control->PipelineVolumeDb(), c.db, 1e-6) << c.volume;
    }
    player.SetVolume(-10000);
    EXPECT_EQ(control->PipelineVolumeDb(), -HUGE_VAL); // muted

    struct Pan {
        std::int32_t balance;
        double panorama; // the other channel keeps 1 - |panorama| of its level
    };
    for (const Pan p : {Pan{0, 0.0}, Pan{10000, 1.0}, Pan{-10000, -1.0},
                        Pan{600, 1.0 - std::pow(10.0, -0.3)}, Pan{-2000, -(1.0 - 0.1)}}) {
        player.SetBalance(p.balance);
        EXPECT_EQ(player.GetBalance(), p.balance);
        EXPECT_NEAR(control->PipelinePanorama(), p.panorama, 1e-6) << p.balance;
    }
}

TEST_F(PlayerControl, PlaysAShortStreamOverHttpThenStopKeepsItOpen) {
    NeedTone();
    player.Cancel();
    player.Open(server.Url("/tone.mp3"));
    EXPECT_EQ(Play(), PlayState::Waiting); // Open returns at once
    ASSERT_TRUE(WaitPlaying());
    // The file arrives faster than it plays, so the measured rate may show
    // first; the stream's own rate takes over once its header is parsed.
    EXPECT_TRUE(
        WaitUntil([&] { return player.GetBandwidth() == 128000; }, std::chrono::seconds(5)));
    EXPECT_EQ(player.GetBandwidth(), 128000);

    player.Stop();
    EXPECT_EQ(Play(), PlayState::Stopped);
    EXPECT_EQ(Opened(), OpenState::Open);
    Pump(std::chrono::milliseconds(500)); // late messages of the stopped run change nothing
    EXPECT_EQ(Play(), PlayState::Stopped);
    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ(player.GetIsError(), FALSE);

    player.Cancel();
    EXPECT_EQ(Play(), PlayState::Closed);
    EXPECT_EQ(Opened(), OpenState::Closed);
    EXPECT_EQ(player.GetBandwidth(), 0);
}

TEST_F(PlayerControl, MetafilesLeadToTheirFirstPlayableEntry) {
    NeedTone();
    // The first entry is refused, the second plays.
    server.Serve("/two.asx", "video/x-ms-asf",
                 QStringLiteral("<ASX version=\"3.0\"><Entry><Ref href=\"http://127.0.0.1:%1/x\"/>"
                                "</Entry><Entry><Ref href=\"tone.mp3\"/></Entry></ASX>")
                     .arg(FreePort())
                     .toUtf8());
    // No suffix: recognised by what the server sends.
    server.Serve("/listen", "audio/x-scpls", "[playlist]\nFile1=/tone.mp3\nNumberOfEntries=1\n");
    // Moved, then a list.
    server.Redirect("/old.m3u", "/new.m3u");
    server.Serve("/new.m3u", "audio/x-mpegurl", "#EXTM3U\n/tone.mp3\n");
    // A list on disk, opened by its plain path.
    const QString local = TempDir() + QStringLiteral("/local.m3u");
    QFile file(local);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(server.Url("/tone.mp3").toUtf8() + "\n");
    file.close();

    for (const QString& url :
         {server.Url("/two.asx"), server.Url("/listen"), server.Url("/old.m3u"), local}) {
        player.Cancel();
        player.Open(url);
        EXPECT_TRUE(WaitPlaying()) << url.toStdString() << " stays at " << player.GetOpenState();
        EXPECT_EQ(control->CurrentStream().path(), QStringLiteral("/tone.mp3"));
    }
    EXPECT_TRUE(boxes.empty());
}

TEST_F(PlayerControl, EachKindOfFailedOpenHasItsCodeAndReasonAndOneMessage) {
    const quint16 closed = FreePort();
    server.Serve("/page", "text/html; charset=utf-8",
                 "<!DOCTYPE html><html><body>radio</body></html>");
    server.Serve("/loop.asx", "video/x-ms-asf",
                 "<asx><entry><ref href=\"/loop.asx\"/></entry></asx>");
    server.Add("/500", {500, "text/html", "<html>broken</html>", {}, false});
    server.Add("/503", {503, "text/html", "<html>busy</html>", {}, false});
    server.Redirect("/round", "/round");
    server.Hang("/hang");
    // A plain HTTP server where TLS is expected answers the handshake with text.
    QTcpServer plain;
    ASSERT_TRUE(plain.listen(QHostAddress::LocalHost, 0));
    QObject::connect(&plain, &QTcpServer::newConnection, &plain, [&plain] {
        while (QTcpSocket* socket = plain.nextPendingConnection()) {
            socket->setParent(&plain);
            socket->write("HTTP/1.0 400 Bad Request\r\n\r\n");
            socket->disconnectFromHost();
        }
    });
    control->SetOpenTimeout(3000); // for the server that never answers

    struct Case {
        const char* name;
        QString url;
        std::int32_t code;
        QString reason;
    };
    const std::vector<Case> cases = {
        {"unknown host", QStringLiteral("http://no-such-station.invalid/live"),
         playererror::HostNotFound, QStringLiteral("no-such-station.invalid が見つかりません")},
        {"refused port", QStringLiteral("http://127.0.0.1:%1/live").arg(closed),
         playererror::ConnectionRefused, QStringLiteral("接続が拒否されました")},
        {"never answers", server.Url("/hang"), playererror::Timeout,
         QStringLiteral("サーバーが応答しません")},
        {"HTTP 404", server.Url("/missing"), playererror::HttpClientError,
         QStringLiteral("HTTP 404")},
        {"HTTP 500", server.Url("/500"), playererror::HttpServerError,
         QStringLiteral("サーバーでエラーが発生しました (HTTP 500)")},
        {"HTTP 503", server.Url("/503"), playererror::HttpServerError, QStringLiteral("HTTP 503")},
        {"redirect loop", server.Url("/round"), playererror::TooManyRedirects,
         QStringLiteral("リダイレクト")},
        {"TLS to a plain server",
         QStringLiteral("https://127.0.0.1:%1/live").arg(plain.serverPort()),
         playererror::TlsFailure, QStringLiteral("TLS")},
        {"HTML page", server.Url("/page"), playererror::NotAudio,
         QStringLiteral("Web ページ (text/html")},
        {"metafile pointing to itself", server.Url("/loop.asx"), playererror::Metafile,
         QStringLiteral("自分自身を参照")},
        {"unsupported protocol", QStringLiteral("gopher://127.0.0.1/x"), playererror::Unsupported,
         QStringLiteral("gopher")},
    };
    for (const Case& c : cases) {
        boxes.clear();
        player.Cancel();
        player.Open(c.url);
        ASSERT_TRUE(WaitError()) << c.name;
        ASSERT_TRUE(WaitUntil([&] { return !boxes.empty(); })) << c.name;
        EXPECT_EQ(player.GetErrorCode(), c.code)
            << c.name << ": " << player.GetErrorDescription().toStdString();
        EXPECT_TRUE(player.GetErrorDescription().contains(c.reason))
            << c.name << ": " << player.GetErrorDescription().toStdString();
        EXPECT_EQ(Opened(), OpenState::Closed) << c.name;
        EXPECT_EQ(Play(), PlayState::Closed) << c.name;
        Pump(std::chrono::milliseconds(200)); // no second message
        ASSERT_EQ(boxes.size(), 1u) << c.name;
        EXPECT_TRUE(boxes[0].text.contains(c.url)) << c.name;
        EXPECT_TRUE(boxes[0].text.contains(c.reason)) << c.name;
        EXPECT_EQ(boxes[0].owner, &window);
        EXPECT_EQ(boxes[0].icon, MbIcon::Stop);
    }
    // A new open clears the error state.
    player.Open(server.Url("/tone.mp3"));
    EXPECT_EQ(player.GetIsError(), FALSE);
}

TEST_F(PlayerControl, AServerThatNeverAnswersLeavesTheEventLoopRunning) {
    server.Hang("/hang");
    control->SetOpenTimeout(3000);
    player.Open(server.Url("/hang"));

    int ticks = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, &ticker, [&] { ++ticks; });
    ticker.start(100);
    // Connected and waiting: the UI goes on meanwhile.
    ASSERT_TRUE(WaitUntil([&] { return ticks >= 15; }));
    EXPECT_EQ(Play(), PlayState::Waiting);
    EXPECT_TRUE(Opened() == OpenState::Connecting || Opened() == OpenState::Opening) << Opened();
    EXPECT_TRUE(boxes.empty());

    // The control gives up by itself, once.
    ASSERT_TRUE(WaitUntil([&] { return !boxes.empty(); }, std::chrono::seconds(5)));
    EXPECT_EQ(player.GetErrorCode(), playererror::Timeout);
    EXPECT_GE(ticks, 25);

    // Cancel during a wait returns at once and nothing is reported afterwards.
    boxes.clear();
    control->SetOpenTimeout(20000);
    player.Open(server.Url("/hang"));
    ASSERT_TRUE(WaitUntil([&] { return Opened() == OpenState::Connecting; }));
    QElapsedTimer clock;
    clock.start();
    player.Cancel();
    EXPECT_LT(clock.elapsed(), 1000);
    EXPECT_EQ(Play(), PlayState::Closed);
    EXPECT_EQ(Opened(), OpenState::Closed);
    Pump(std::chrono::milliseconds(500));
    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ(player.GetIsError(), FALSE);
}

TEST_F(PlayerControl, ADownloadThatEndsStopsInsteadOfReconnecting) {
    NeedTone();
    player.Open(server.Url("/tone.mp3"));
    ASSERT_TRUE(WaitPlaying());
    // The eight-second tone plays to its end.
    EXPECT_TRUE(WaitUntil([&] { return Play() == PlayState::Stopped; }, std::chrono::seconds(15)));
    Pump(std::chrono::milliseconds(1500)); // no reconnection follows
    EXPECT_EQ(Play(), PlayState::Stopped);
    EXPECT_EQ(Opened(), OpenState::Open);
    EXPECT_EQ(control->ReconnectCount(), 0);
    EXPECT_EQ(server.Requests("/tone.mp3"), 1);
    EXPECT_TRUE(boxes.empty());
}
