// The real control against every kind of radio server of the tests' own on
// 127.0.0.1: Shoutcast-v1 and Icecast-style live streams, chained Ogg, live
// HLS (MPEG-TS, fragmented MP4, master playlists), https with a test
// authority, redirect chains, and metafiles as servers write them.
#include "PlayerFixture.h"
#include "support/HlsTestServer.h"
#include "support/HttpTestServer.h"
#include "support/MediaFiles.h"
#include "support/StreamTestServer.h"

using namespace didira;
using namespace didira::test;
using namespace std::chrono_literals;

namespace {

class ServerKinds : public ServedToneFixture {
protected:
    void SetUp() override {
        if (!media::Available())
            GTEST_SKIP() << "ffmpeg is needed to make the test streams";
        ServedToneFixture::SetUp();
    }

    // Plays url until it has played for `seconds` in one go; returns false
    // (with the reason in the failure) when it did not start, stopped playing
    // on the way, or the sound paused for more than a second.
    void ExpectPlaysSteadily(const QString& url, std::chrono::milliseconds playFor = 6s) {
        player.Open(url);
        ASSERT_TRUE(WaitPlaying())
            << url.toStdString() << ": open state " << player.GetOpenState() << ", play state "
            << player.GetPlayState() << ", boxes " << boxes.size();
        SinkWatch watch(control->Pipeline());
        watch.Reset();
        bool steady = true;
        WaitUntil(
            [&] {
                steady = steady && player.GetPlayState() == 2;
                return false;
            },
            playFor);
        EXPECT_TRUE(steady) << url.toStdString() << " left the playing state";
        EXPECT_LT(watch.MaxGapMs(), 1000) << url.toStdString();
        EXPECT_GT(watch.Buffers(), 0);
        EXPECT_EQ(control->ReconnectCount(), 0) << url.toStdString();
        EXPECT_TRUE(boxes.empty()) << (boxes.empty() ? "" : boxes[0].text.toStdString());
    }
};

StreamTestServer::Options Mp3Stream(bool icyStatusLine) {
    StreamTestServer::Options options;
    options.icyStatusLine = icyStatusLine;
    options.loop = {media::Mp3Loop()};
    options.titles = {"Didira - test tone"};
    options.bytesPerSecond = 128000 / 8;
    return options;
}

} // namespace

TEST_F(ServerKinds, ShoutcastAndIcecastStyleLiveStreamsPlayWithTheirMetadata) {
    for (const bool icy : {true, false}) {
        StreamTestServer station(Mp3Stream(icy));
        ExpectPlaysSteadily(station.Url(), 3s);
        EXPECT_EQ(player.GetBandwidth(), 128000) << (icy ? "ICY" : "HTTP");
        EXPECT_GE(station.TitlesSent(), 1) << "the player did not ask for metadata blocks";
        EXPECT_EQ(station.Connections(), 1);
        player.Cancel();
    }
}

TEST_F(ServerKinds, AChainedOggStreamPlaysOnAcrossItsTracks) {
    const std::vector<QByteArray> tracks = media::OggChain();
    ASSERT_EQ(tracks.size(), 2u);
    StreamTestServer::Options options;
    options.contentType = "application/ogg";
    options.loop = tracks;
    options.bytesPerSecond = static_cast<int>((tracks[0].size() + tracks[1].size()) / 6);
    options.metaInterval = 0;
    StreamTestServer station(options);
    // Three track changes in nine seconds.
    ExpectPlaysSteadily(station.Url(), 9s);
    EXPECT_EQ(station.Connections(), 1);
}

TEST_F(ServerKinds, LiveHlsPlaysFromMpegTsFragmentedMp4AndMasterPlaylists) {
    for (const bool fmp4 : {false, true}) {
        HlsTestServer hls(fmp4);
        ASSERT_TRUE(hls.Ready());
        ExpectPlaysSteadily(hls.Url(), 7s);
        EXPECT_GE(hls.PlaylistRequests(), 2) << "the live playlist was not refreshed";
        player.Cancel();
    }
    HlsTestServer hls(false);
    ExpectPlaysSteadily(hls.Url(QStringLiteral("/master.m3u8")), 4s);
}

TEST_F(ServerKinds, HlsSegmentsMissingForAMomentAreRiddenOut) {
    HlsTestServer hls(false);
    player.Open(hls.Url());
    ASSERT_TRUE(WaitPlaying());
    // Two segment requests in a row answer 404.
    hls.FailSegments(true);
    const int before = hls.SegmentRequests();
    ASSERT_TRUE(WaitUntil([&] { return hls.SegmentRequests() >= before + 2; }, 15s));
    hls.FailSegments(false);
    EXPECT_TRUE(WaitPlaying(20s)) << "open state " << player.GetOpenState() << ", play state "
                                  << player.GetPlayState();
    SinkWatch watch(control->Pipeline());
    watch.Reset();
    Pump(3s);
    EXPECT_LT(watch.MaxGapMs(), 1000);
    EXPECT_EQ(player.GetPlayState(), 2);
    EXPECT_EQ(player.GetIsError(), FALSE);
    EXPECT_TRUE(boxes.empty()) << (boxes.empty() ? "" : boxes[0].text.toStdString());
}

TEST_F(ServerKinds, RedirectsAreFollowedUpToTenHopsAndALoopOrAnEleventhFails) {
    ASSERT_FALSE(TestCertificates().isEmpty()) << "openssl could not make the test certificates";
    const std::unique_ptr<HttpTestServer> secure = MakeHttpsServer(QStringLiteral("good"));
    secure->Serve("/tone.mp3", "audio/mpeg", tone);
    // Every kind of redirect, absolute and relative, and over to https.
    server.Redirect("/301", server.Url("/tone.mp3").toUtf8(), 301);
    server.Redirect("/302", "/tone.mp3", 302);
    server.Redirect("/303", "tone.mp3", 303);
    server.Redirect("/307", "../tone.mp3", 307);
    server.Redirect("/308", server.Url("/307").toUtf8(), 308);
    server.Redirect("/to-https", secure->Url("/tone.mp3").toUtf8(), 302);
    // A chain of ten hops, and one of eleven.
    for (int i = 1; i <= 11; ++i)
        server.Redirect(QStringLiteral("/hop%1").arg(i),
                        i == 11 ? "/tone.mp3" : QStringLiteral("/hop%1").arg(i + 1).toUtf8());
    server.Redirect("/ten", "/hop3");
    server.Redirect("/eleven", "/hop2");
    server.Redirect("/loop-a", "/loop-b");
    server.Redirect("/loop-b", "/loop-a");

    for (const char* path : {"/301", "/302", "/303", "/307", "/308", "/to-https", "/ten"})
        EXPECT_EQ(PlaysFrom(server.Url(QString::fromLatin1(path))), QStringLiteral("/tone.mp3"));
    EXPECT_TRUE(boxes.empty()) << (boxes.empty() ? "" : boxes[0].text.toStdString());
    EXPECT_EQ(control->CurrentStream().scheme(), QStringLiteral("http"));

    const QString tooMany = FailureText(server.Url("/eleven"));
    EXPECT_TRUE(tooMany.contains(QStringLiteral("リダイレクトが多すぎます")))
        << tooMany.toStdString();
    const QString loop = FailureText(server.Url("/loop-a"));
    EXPECT_TRUE(loop.contains(QStringLiteral("リダイレクトがループしています")))
        << loop.toStdString();
    EXPECT_EQ(player.GetErrorCode(), playererror::TooManyRedirects);
    EXPECT_EQ(server.Requests("/loop-a"), 1);
}

TEST_F(ServerKinds, HttpsPlaysWithATrustedCertificateAndEachFailureSaysWhy) {
    ASSERT_FALSE(TestCertificates().isEmpty()) << "openssl could not make the test certificates";
    const std::unique_ptr<HttpTestServer> good = MakeHttpsServer(QStringLiteral("good"));
    good->Serve("/tone.mp3", "audio/mpeg", tone);
    player.Open(good->Url("/tone.mp3"));
    EXPECT_TRUE(WaitPlaying());
    EXPECT_TRUE(boxes.empty());

    // (A plain HTTP server on the https port is among the control's failures.)
    struct Case {
        const char* certificate;
        const char* reason;
    };
    for (const Case c : {Case{"untrusted", "証明書が信頼できません"},
                         Case{"expired", "証明書の有効期限が切れています"},
                         Case{"wronghost", "証明書が別のサーバー名"}}) {
        const std::unique_ptr<HttpTestServer> other =
            MakeHttpsServer(QString::fromLatin1(c.certificate));
        other->Serve("/tone.mp3", "audio/mpeg", tone);
        const QString url = QStringLiteral("https://127.0.0.1:%1/tone.mp3").arg(other->port());
        const QString text = FailureText(url);
        EXPECT_TRUE(text.contains(url)) << text.toStdString();
        EXPECT_TRUE(text.contains(QString::fromUtf8(c.reason)))
            << c.certificate << ": " << text.toStdString();
        EXPECT_EQ(player.GetErrorCode(), playererror::TlsFailure) << c.certificate;
    }
}
