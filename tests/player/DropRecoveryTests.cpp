// A drop is a drop however it happens: a connection that stays open but
// sends nothing, data that no longer decodes, an HLS playlist that stops
// advancing. Each leads to the same reconnection, shown as waiting, and back
// to playing when the server is well again; a reconnection that fails on the
// stream that played resolves the station's list again.
#include "PlayerFixture.h"
#include "support/HlsTestServer.h"
#include "support/HttpTestServer.h"
#include "support/MediaFiles.h"
#include "support/StreamTestServer.h"

using namespace didira;
using namespace didira::test;
using namespace std::chrono_literals;

namespace {

class DropRecovery : public PlayerFixture {
protected:
    static constexpr int kStallMs = 3000;

    void SetUp() override {
        if (!media::Available())
            GTEST_SKIP() << "ffmpeg is needed to make the test streams";
        PlayerFixture::SetUp();
        if (HasFatalFailure())
            return;
        control->SetStallTimeout(kStallMs);
        control->SetReconnectDelays({500, 1000, 1000, 1000, 1000, 1000, 1000, 1000});
    }

    static StreamTestServer::Options Mp3() {
        StreamTestServer::Options options;
        options.loop = {media::Mp3Loop()};
        options.bytesPerSecond = 128000 / 8;
        return options;
    }

    // Plays url, breaks it, checks that a reconnection starts while the
    // listener sees waiting (and no box), mends it and checks that playing
    // comes back.
    void ExpectRecovery(const QString& url, const std::function<void(bool)>& breakIt,
                        std::chrono::milliseconds noticeWithin) {
        player.Open(url);
        ASSERT_TRUE(WaitPlaying()) << url.toStdString();
        Pump(1s);
        const int reconnects = control->ReconnectCount();
        breakIt(true);
        ASSERT_TRUE(WaitUntil([&] { return control->ReconnectCount() > reconnects; }, noticeWithin))
            << url.toStdString() << ": the drop was not noticed";
        EXPECT_EQ(player.GetPlayState(), 3) << url.toStdString();
        EXPECT_EQ(player.GetIsError(), FALSE);
        breakIt(false);
        EXPECT_TRUE(WaitPlaying(30s))
            << url.toStdString() << ": open state " << player.GetOpenState() << ", play state "
            << player.GetPlayState();
        EXPECT_EQ(player.GetIsError(), FALSE);
        EXPECT_TRUE(boxes.empty()) << (boxes.empty() ? "" : boxes[0].text.toStdString());
    }
};

} // namespace

TEST_F(DropRecovery, AStreamThatGoesSilentOrUndecodableIsADrop) {
    StreamTestServer server(Mp3());
    ExpectRecovery(
        server.Url(), [&](bool broken) { server.Stall(broken); }, 10s);
    EXPECT_GE(server.Connections(), 2);

    player.Cancel();
    StreamTestServer garbage(Mp3());
    ExpectRecovery(
        garbage.Url(), [&](bool broken) { garbage.SendGarbage(broken); }, 15s);
}

TEST_F(DropRecovery, AnHlsPlaylistThatStopsAdvancingIsADrop) {
    HlsTestServer hls(false);
    ASSERT_TRUE(hls.Ready());
    // The segments already listed play out first (about eight seconds).
    ExpectRecovery(
        hls.Url(), [&](bool broken) { hls.Freeze(broken); }, 25s);
}

TEST_F(DropRecovery, AfterTheStreamFailsTheStationsListIsResolvedAgain) {
    auto first = std::make_unique<StreamTestServer>(Mp3());
    StreamTestServer second(Mp3());
    HttpTestServer lists;
    lists.Serve("/station.pls", "audio/x-scpls",
                "[playlist]\nFile1=" + first->Url().toUtf8() + "\n");
    player.Open(lists.Url("/station.pls"));
    ASSERT_TRUE(WaitPlaying());
    EXPECT_EQ(control->CurrentStream().port(), first->port());

    // The station moves: its old server goes away, its list names the new one.
    lists.Serve("/station.pls", "audio/x-scpls",
                "[playlist]\nFile1=" + second.Url().toUtf8() + "\n");
    first->Stop();
    ASSERT_TRUE(WaitUntil([&] { return player.GetPlayState() == 3; }, 10s));
    EXPECT_TRUE(WaitPlaying(20s)) << "open state " << player.GetOpenState();
    EXPECT_EQ(control->CurrentStream().port(), second.port());
    EXPECT_EQ(lists.Requests("/station.pls"), 2);
    EXPECT_TRUE(boxes.empty()) << (boxes.empty() ? "" : boxes[0].text.toStdString());
}

TEST_F(RenderedAudioFixture, AStallIsToldAndWaitedOutWithoutLosingAudio) {
    const QByteArray tone = media::ToneMp3(); // 8 s at 128 kbit/s, 44.1 kHz stereo
    if (tone.isEmpty())
        GTEST_SKIP() << "ffmpeg is needed";
    HttpTestServer server;
    HttpTestServer::Route route;
    route.contentType = "audio/mpeg";
    route.body = tone;
    route.stallAfterBytes = 32000; // two seconds of it, then nothing for four
    route.stallMs = 4000;
    server.Add(QStringLiteral("/stall.mp3"), route);

    ExpectHeard(server.Url(QStringLiteral("/stall.mp3")), 5s);
    ASSERT_TRUE(WaitUntil([&] { return player.GetPlayState() == 3; }, 6s))
        << "the output ran dry, still playing";
    const int heardBeforeStall = audible.load();
    ASSERT_TRUE(WaitUntil([&] { return player.GetPlayState() == 2; }, 6s));
    EXPECT_TRUE(WaitUntil([&] { return audible.load() > heardBeforeStall; }, 3s));
    // The end of the file: stopped, and every sample of its 8 s was played.
    ASSERT_TRUE(WaitUntil([&] { return player.GetPlayState() == 0; }, 15s))
        << "play state " << player.GetPlayState();
    EXPECT_GE(rendered.load(), 8 * 44100 * 2);
    EXPECT_EQ(control->ReconnectCount(), 0);
}

TEST_F(DropRecovery, SleepClosesTheStreamAndTheWakeReconnectsOnceTheNetworkIsThere) {
    StreamTestServer server(Mp3());
    const auto pipelineState = [&] {
        GstState state = GST_STATE_VOID_PENDING;
        gst_element_get_state(control->Pipeline(), &state, nullptr, 0);
        return state;
    };
    for (const bool networkAtWake : {true, false}) {
        SCOPED_TRACE(networkAtWake ? "network up at the wake" : "network comes after the wake");
        player.Open(server.Url());
        ASSERT_TRUE(WaitPlaying());
        const int connections = server.Connections();

        control->Suspend();
        EXPECT_EQ(Play(), PlayState::Waiting);
        EXPECT_TRUE(WaitUntil([&] { return pipelineState() == GST_STATE_NULL; }, 5s))
            << "the connection stays open while the system sleeps";
        control->SetNetworkAvailable(networkAtWake);
        Pump(1s);
        EXPECT_EQ(server.Connections(), connections) << "reconnected while asleep";

        control->Resume();
        if (!networkAtWake) {
            Pump(1s);
            EXPECT_EQ(server.Connections(), connections) << "tried before the network was up";
            control->SetNetworkAvailable(true);
        }
        EXPECT_TRUE(WaitPlaying(10s)) << "play state " << Play();
        EXPECT_EQ(server.Connections(), connections + 1);
        EXPECT_EQ(player.GetIsError(), FALSE);
        EXPECT_TRUE(boxes.empty());
        player.Cancel();
    }
}
