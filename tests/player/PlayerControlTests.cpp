#include "PlayerFixture.h"

#include <QElapsedTimer>
#include <QScopeGuard>
#include <QTimer>
#include <cmath>

using namespace didira;
using namespace didira::test;

using PlayerControl = ServedToneFixture;

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
    if (tone.isEmpty())
        GTEST_SKIP() << "ffmpeg is needed";
    player.Cancel();
    player.Open(server.Url("/tone.mp3"));
    EXPECT_EQ(Play(), PlayState::Waiting); // Open returns at once
    // An address is connected to at once, with no (reverse) name lookup first.
    EXPECT_EQ(Opened(), OpenState::Connecting);
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

TEST_F(PlayerControl, EachKindOfFailedOpenHasItsCodeAndReasonAndOneMessage) {
    const quint16 closed = FreePort();
    server.Serve("/page", "text/html; charset=utf-8",
                 "<!DOCTYPE html><html><body>radio</body></html>");
    server.Serve("/loop.asx", "video/x-ms-asf",
                 "<asx><entry><ref href=\"/loop.asx\"/></entry></asx>");
    server.Add("/500", {500, "text/html", "<html>broken</html>", {}, false});
    server.Add("/503", {503, "text/html", "<html>busy</html>", {}, false});
    server.Redirect("/round", "/round");

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
        {"HTTP 404", server.Url("/missing"), playererror::HttpClientError,
         QStringLiteral("HTTP 404")},
        {"HTTP 500", server.Url("/500"), playererror::HttpServerError,
         QStringLiteral("サーバーでエラーが発生しました (HTTP 500)")},
        {"HTTP 503", server.Url("/503"), playererror::HttpServerError, QStringLiteral("HTTP 503")},
        {"redirect loop", server.Url("/round"), playererror::TooManyRedirects,
         QStringLiteral("リダイレクト")},
        // The plain HTTP server answers the handshake with text.
        {"TLS to a plain server", QStringLiteral("https://127.0.0.1:%1/live").arg(server.port()),
         playererror::TlsFailure, QStringLiteral("安全な接続 (TLS) を確立できません")},
        {"HTML page", server.Url("/page"), playererror::NotAudio,
         QStringLiteral("Web ページ (text/html")},
        {"metafile pointing to itself", server.Url("/loop.asx"), playererror::Metafile,
         QStringLiteral("自分自身を参照")},
        {"unsupported protocol", QStringLiteral("gopher://127.0.0.1/x"), playererror::Unsupported,
         QStringLiteral("gopher")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QString text = FailureText(c.url);
        EXPECT_EQ(player.GetErrorCode(), c.code) << player.GetErrorDescription().toStdString();
        EXPECT_TRUE(player.GetErrorDescription().contains(c.reason))
            << player.GetErrorDescription().toStdString();
        EXPECT_TRUE(text.contains(c.url) && text.contains(c.reason)) << text.toStdString();
        ASSERT_FALSE(boxes.empty());
        EXPECT_EQ(boxes[0].owner, &window);
        EXPECT_EQ(boxes[0].icon, MbIcon::Stop);
    }
    // A new open clears the error state.
    player.Open(server.Url("/tone.mp3"));
    EXPECT_EQ(player.GetIsError(), FALSE);
}

// Run by player_missing_plugin_tests, with the AAC decoders ranked out of
// playbin's reach as if they were not installed.
TEST_F(PlayerControl, AMissingDecoderNamesThePackageThatBringsIt) {
    if (!qEnvironmentVariable("GST_PLUGIN_FEATURE_RANK").contains(u"faad:0"))
        GTEST_SKIP() << "the AAC decoders are installed";
    if (!media::Available())
        GTEST_SKIP() << "ffmpeg is needed";
    QByteArray aac;
    for (const QByteArray& segment : media::Hls(media::HlsKind::PackedAudio).media)
        aac += segment;
    server.Serve("/tone.aac", "audio/aac", aac);
    const QString text = FailureText(server.Url("/tone.aac"));
    EXPECT_EQ(player.GetErrorCode(), playererror::MissingPlugin);
    EXPECT_TRUE(text.contains(u"AAC"_qs) && text.contains(u"gstreamer1.0-plugins-bad"_qs))
        << text.toStdString();
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
    Pump(std::chrono::milliseconds(300));
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(player.GetErrorCode(), playererror::Timeout);
    EXPECT_TRUE(boxes[0].text.contains(server.Url("/hang")) &&
                boxes[0].text.contains(QStringLiteral("サーバーが応答しません")))
        << boxes[0].text.toStdString();
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
    if (tone.isEmpty())
        GTEST_SKIP() << "ffmpeg is needed";
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

// Without any usable audio output the automatic output plays into a fake one:
// the open fails with its own code and reason instead of "playing" in silence.
TEST(PlayerControlOutput, NoSoundOutputFailsTheOpenInsteadOfPlayingInSilence) {
    const QByteArray tone = media::ToneMp3();
    if (tone.isEmpty())
        GTEST_SKIP() << "ffmpeg is needed";
    HttpTestServer server;
    server.Serve("/tone.mp3", "audio/mpeg", tone);

    const QByteArray configured = qgetenv(CGstPlayerControl::kAudioSinkVariable);
    qputenv(CGstPlayerControl::kAudioSinkVariable, "autoaudiosink");
    QWidget window;
    MessageRecorder recorder;
    ControlCreation made = CreatePlayer(&window);
    qputenv(CGstPlayerControl::kAudioSinkVariable, configured);
    ASSERT_TRUE(made.control) << made.error.toStdString();
    // Every audio output out of the automatic choice, as on a system with none.
    std::vector<std::pair<GstPluginFeature*, guint>> ranks;
    GList* sinks = gst_element_factory_list_get_elements(
        GST_ELEMENT_FACTORY_TYPE_SINK | GST_ELEMENT_FACTORY_TYPE_MEDIA_AUDIO, GST_RANK_MARGINAL);
    for (GList* f = sinks; f; f = f->next) {
        auto* feature = GST_PLUGIN_FEATURE(f->data);
        ranks.emplace_back(GST_PLUGIN_FEATURE(gst_object_ref(feature)),
                           gst_plugin_feature_get_rank(feature));
        gst_plugin_feature_set_rank(feature, GST_RANK_NONE);
    }
    gst_plugin_feature_list_free(sinks);
    auto restore = qScopeGuard([&] {
        for (auto& [feature, rank] : ranks) {
            gst_plugin_feature_set_rank(feature, rank);
            gst_object_unref(feature);
        }
    });
    ASSERT_FALSE(ranks.empty());
    std::unique_ptr<OleControl> control(made.control);
    control->SetSite(&MessageBoxControlSite());
    CMediaPlayer2 player;
    player.Attach(control.get());
    player.SetPlayOnOpen(TRUE);
    player.Open(server.Url("/tone.mp3"));
    bool played = false;
    ASSERT_TRUE(WaitUntil([&] {
        played = played || player.GetPlayState() == ToNumber(PlayState::Playing);
        return !recorder.boxes.empty();
    })) << "play state "
        << player.GetPlayState();
    EXPECT_FALSE(played);
    EXPECT_EQ(player.GetErrorCode(), playererror::NoAudioOutput);
    EXPECT_TRUE(recorder.boxes[0].text.contains(QStringLiteral("サウンド出力")))
        << recorder.boxes[0].text.toStdString();
    EXPECT_EQ(player.GetPlayState(), ToNumber(PlayState::Closed));
}
