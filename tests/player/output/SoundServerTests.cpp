// A station whose sound server ends or hangs while it plays: it waits, says
// so, and is heard again as soon as the server is back, not at the next
// back-off step. The sound server is a private one of the test's own (a null sink),
// ended and started again; the automatic output can reach nothing else.

#include "../PlayerFixture.h"
#include "support/PrivateSoundServer.h"
#include "support/StreamTestServer.h"

namespace didira::test {
namespace {

using namespace std::chrono_literals;

class SoundServer : public PlayerFixture {
protected:
    SoundServer() { outputSink = "autoaudiosink"; }
    void SetUp() override {
        if (!PrivateSoundServer::Available())
            GTEST_SKIP() << "no pulseaudio here (scripts/setup.sh installs it)";
        // The automatic output can reach the private server only.
        GList* sinks = gst_element_factory_list_get_elements(
            GST_ELEMENT_FACTORY_TYPE_SINK | GST_ELEMENT_FACTORY_TYPE_MEDIA_AUDIO,
            GST_RANK_MARGINAL);
        for (GList* f = sinks; f; f = f->next)
            if (g_strcmp0(GST_OBJECT_NAME(f->data), "pulsesink") != 0)
                gst_plugin_feature_set_rank(GST_PLUGIN_FEATURE(f->data), GST_RANK_NONE);
        gst_plugin_feature_list_free(sinks);
        ASSERT_TRUE(sound.Start());
        PlayerFixture::SetUp();
    }

    PrivateSoundServer sound;
};

TEST_F(SoundServer, AStationWaitsForItsEndedSoundServerAndPlaysAgainAsSoonAsItIsBack) {
    // The back-off alone would wait ten seconds before each try.
    control->SetReconnectDelays({10000});
    StreamTestServer station(StreamTestServer::TitledMp3(media::ToneMp3()));
    player.Open(station.Url());
    ASSERT_TRUE(WaitPlaying()) << Opened() << ", " << Play();

    sound.End();
    ASSERT_TRUE(WaitUntil([&] { return Play() == PlayState::Waiting; }, 10s)) << Play();
    Pump(2s); // tries against a server that is not there
    EXPECT_EQ(Play(), PlayState::Waiting);
    EXPECT_EQ(player.GetIsError(), FALSE);

    ASSERT_TRUE(sound.Start());
    EXPECT_TRUE(WaitPlaying(6s)) << Opened() << ", " << Play();
    EXPECT_EQ(player.GetIsError(), FALSE);
    EXPECT_TRUE(boxes.empty()) << (boxes.empty() ? "" : boxes[0].text.toStdString());
}

TEST_F(SoundServer, AStationWhoseSoundServerHangsWaitsAndPlaysAgainOnceItAnswers) {
    StreamTestServer station(StreamTestServer::TitledMp3(media::ToneMp3()));
    player.Open(station.Url());
    ASSERT_TRUE(WaitPlaying()) << Opened() << ", " << Play();
    // Nothing is heard: told within seconds, not at the stall timeout.
    sound.Freeze(true);
    ASSERT_TRUE(WaitUntil([&] { return Play() == PlayState::Waiting; }, 6s)) << Play();
    Pump(12s);
    EXPECT_EQ(Play(), PlayState::Waiting);
    sound.Freeze(false);
    EXPECT_TRUE(WaitPlaying(15s)) << Opened() << ", " << Play();
    EXPECT_EQ(player.GetIsError(), FALSE);
    EXPECT_TRUE(boxes.empty()) << (boxes.empty() ? "" : boxes[0].text.toStdString());
}

TEST_F(SoundServer, AChangeOfTheDefaultOutputIsFollowedWithoutAReconnection) {
    StreamTestServer station(StreamTestServer::TitledMp3(media::ToneMp3()));
    player.Open(station.Url());
    ASSERT_TRUE(WaitPlaying()) << Opened() << ", " << Play();
    const QString speakers = PrivateSoundServer::SinkIndex(QStringLiteral("speakers"));
    const QString headphones = PrivateSoundServer::SinkIndex(QStringLiteral("headphones"));
    ASSERT_FALSE(headphones.isEmpty()) << "no pactl here (scripts/setup.sh installs it)";
    ASSERT_EQ(PrivateSoundServer::StreamSinks(), speakers);
    const int reconnects = control->ReconnectCount();

    PrivateSoundServer::Pactl({QStringLiteral("set-default-sink"), QStringLiteral("headphones")});
    bool stayedPlaying = true;
    EXPECT_TRUE(WaitUntil(
        [&] {
            stayedPlaying = stayedPlaying && Play() == PlayState::Playing;
            return PrivateSoundServer::StreamSinks() == headphones;
        },
        5s))
        << PrivateSoundServer::StreamSinks().toStdString();
    Pump(1s);
    EXPECT_TRUE(stayedPlaying && Play() == PlayState::Playing) << Play();
    EXPECT_EQ(control->ReconnectCount(), reconnects);
}

} // namespace
} // namespace didira::test
