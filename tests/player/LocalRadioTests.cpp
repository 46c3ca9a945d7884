// The real control against a real local radio (Icecast and HLS on 127.0.0.1
// fed by ffmpeg): every kind of stream is heard soon after Open, and playing
// is reported only once the output renders it; the radio going away
// mid-stream. Skipped when icecast2 or ffmpeg is not installed.
#include "PlayerFixture.h"
#include "support/LocalRadio.h"

using namespace didira;
using namespace didira::test;
using namespace std::chrono_literals;

namespace {

// Well under the seconds a live stream's first timestamp could keep the
// output waiting; generous for a loaded machine.
constexpr auto kHeardWithin = 5s;

} // namespace

using LocalRadioTest = WithLocalRadio<RenderedAudioFixture>;

TEST_F(LocalRadioTest, EachKindIsHeardSoonAndPlayingFollowsTheSound) {
    for (const char* path : {"/mp3", "/aac", "/vorbis", "/ogg", "/flac", "/hls-ts/live.m3u8",
                             "/hls-fmp4/live.m3u8", "/hls-master/master.m3u8"}) {
        SCOPED_TRACE(path);
        ExpectHeard(radio->Url(QString::fromLatin1(path)), kHeardWithin);
        // It goes on playing.
        const int before = audible.load();
        Pump(500ms);
        EXPECT_EQ(player.GetPlayState(), 2);
        EXPECT_GT(audible.load(), before);
    }
}

// A master playlist moves to its better variant after the first segment, and
// a new decoding chain takes over: the listener must hear no gap there.
TEST_F(LocalRadioTest, NoGapWhereAnHlsStationChangesVariant) {
    std::vector<std::string> decoders;
    std::mutex decodersMutex;
    const auto onAdded = +[](GstBin*, GstBin*, GstElement* element, gpointer data) {
        GstElementFactory* factory = gst_element_get_factory(element);
        const char* klass =
            factory ? gst_element_factory_get_metadata(factory, GST_ELEMENT_METADATA_KLASS)
                    : nullptr;
        if (klass && strstr(klass, "Decoder/Audio")) {
            auto* seen = static_cast<std::pair<std::vector<std::string>*, std::mutex*>*>(data);
            std::lock_guard lock(*seen->second);
            seen->first->push_back(GST_OBJECT_NAME(factory));
        }
    };
    std::pair seen{&decoders, &decodersMutex};
    const gulong handler =
        g_signal_connect(control->Pipeline(), "deep-element-added", G_CALLBACK(onAdded), &seen);
    const auto decoderCount = [&] {
        std::lock_guard lock(decodersMutex);
        return decoders.size();
    };
    ExpectHeard(radio->Url(QStringLiteral("/hls-master/master.m3u8")), kHeardWithin);
    const bool changed = WaitUntil([&] { return decoderCount() >= 2; }, 15s);
    Pump(3s); // past the end of the first chain's segment (2 s)
    g_signal_handler_disconnect(control->Pipeline(), handler);
    std::lock_guard lock(decodersMutex);
    std::string chain;
    for (const std::string& name : decoders)
        chain += name + " ";
    ASSERT_TRUE(changed) << "no second decoding chain; decoders: " << chain;
    EXPECT_EQ(player.GetPlayState(), 2);
    EXPECT_LE(longestGapNs.load(), 20 * GST_MSECOND) << "decoders: " << chain;
}

TEST_F(LocalRadioTest, FragmentedMp4HlsIsHeardAfterAnotherStationAndAgain) {
    const QString fmp4 = radio->Url(QStringLiteral("/hls-fmp4/live.m3u8"));
    ExpectHeard(fmp4, kHeardWithin);
    ExpectHeard(radio->Url(QStringLiteral("/ogg")), kHeardWithin);
    ExpectHeard(fmp4, kHeardWithin);
    EXPECT_TRUE(boxes.empty());
}

TEST_F(LocalRadioTest, PlaybackResumesByItselfAfterTheServerComesBack) {
    player.Open(radio->Url(QStringLiteral("/mp3")));
    ASSERT_TRUE(WaitPlaying());

    radio->Kill();
    ASSERT_TRUE(WaitUntil([&] { return Play() == PlayState::Waiting; }, std::chrono::seconds(20)))
        << "the drop was not noticed";
    EXPECT_EQ(player.GetIsError(), FALSE);
    ASSERT_TRUE(radio->Restart()) << radio->error().toStdString();
    EXPECT_TRUE(WaitPlaying(std::chrono::seconds(40))) << Opened() << ", " << Play();
    EXPECT_GE(control->ReconnectCount(), 1);
    EXPECT_EQ(player.GetIsError(), FALSE);
    EXPECT_TRUE(boxes.empty());
}

TEST_F(LocalRadioTest, StopDuringAnOutageEndsTheReconnection) {
    control->SetReconnectDelays({500, 500, 500});
    player.Open(radio->Url(QStringLiteral("/ogg")));
    ASSERT_TRUE(WaitPlaying());
    radio->Kill();
    ASSERT_TRUE(WaitUntil([&] { return Play() == PlayState::Waiting; }, std::chrono::seconds(20)));
    player.Stop();
    ASSERT_TRUE(radio->Restart()) << radio->error().toStdString();
    Pump(std::chrono::seconds(2));
    EXPECT_EQ(Play(), PlayState::Stopped);
    EXPECT_TRUE(boxes.empty());
    const int reconnects = control->ReconnectCount();
    Pump(std::chrono::seconds(1));
    EXPECT_EQ(control->ReconnectCount(), reconnects);
}

TEST_F(LocalRadioTest, ReconnectionGivesUpWithOneMessage) {
    control->SetReconnectDelays({300, 300});
    player.Open(radio->Url(QStringLiteral("/aac")));
    ASSERT_TRUE(WaitPlaying());
    radio->Kill();
    ASSERT_TRUE(WaitError(std::chrono::seconds(30)));
    ASSERT_TRUE(WaitUntil([&] { return !boxes.empty(); }));
    Pump(std::chrono::milliseconds(300)); // no second message
    EXPECT_EQ(player.GetErrorCode(), playererror::StreamLost);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_TRUE(boxes[0].text.contains(QStringLiteral("再接続できませんでした")));
    EXPECT_TRUE(boxes[0].text.contains(radio->Url(QStringLiteral("/aac"))));
    EXPECT_EQ(Opened(), OpenState::Closed);
    ASSERT_TRUE(radio->Restart()) << radio->error().toStdString();
}
