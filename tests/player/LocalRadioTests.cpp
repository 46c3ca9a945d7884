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
    const auto heard = [&](const char* path) {
        SCOPED_TRACE(path);
        ExpectHeard(radio->Url(QString::fromLatin1(path)), kHeardWithin);
        // It goes on playing.
        const int before = audible.load();
        Pump(500ms);
        EXPECT_EQ(player.GetPlayState(), 2);
        EXPECT_GT(audible.load(), before);
    };
    for (const char* path :
         {"/mp3", "/aac", "/vorbis", "/ogg", "/flac", "/hls-ts/live.m3u8", "/hls-fmp4/live.m3u8"})
        heard(path);
    // None of these needed the libav plugin (some 30 MiB, and longer to load
    // than the rest of a start); a master playlist of variants does.
    if (GstPlugin* libav = gst_registry_find_plugin(gst_registry_get(), "libav")) {
        EXPECT_FALSE(gst_plugin_is_loaded(libav));
        gst_object_unref(libav);
    }
    heard("/hls-master/master.m3u8");
}

// The audio decoders a pipeline makes, one per decoding chain.
class DecoderLog {
public:
    explicit DecoderLog(GstElement* pipeline)
        : m_pipeline(pipeline),
          m_handler(g_signal_connect(pipeline, "deep-element-added", G_CALLBACK(OnAdded), this)) {}
    ~DecoderLog() { g_signal_handler_disconnect(m_pipeline, m_handler); }
    std::size_t Count() {
        std::lock_guard lock(m_mutex);
        return m_names.size();
    }
    std::string Names() {
        std::lock_guard lock(m_mutex);
        std::string names;
        for (const std::string& name : m_names)
            names += name + " ";
        return names;
    }

private:
    static void OnAdded(GstBin*, GstBin*, GstElement* element, gpointer data) {
        GstElementFactory* factory = gst_element_get_factory(element);
        const char* klass =
            factory ? gst_element_factory_get_metadata(factory, GST_ELEMENT_METADATA_KLASS)
                    : nullptr;
        if (!klass || !strstr(klass, "Decoder/Audio"))
            return;
        auto* self = static_cast<DecoderLog*>(data);
        std::lock_guard lock(self->m_mutex);
        self->m_names.emplace_back(GST_OBJECT_NAME(factory));
    }

    GstElement* m_pipeline;
    gulong m_handler;
    std::mutex m_mutex;
    std::vector<std::string> m_names;
};

// On a good connection a master playlist plays its best variant from the
// start, with no change of variant (and of decoding chain) after it.
TEST_F(LocalRadioTest, AnHlsMasterStartsOnItsBestVariantAndStays) {
    DecoderLog decoders(control->Pipeline());
    ExpectHeard(radio->Url(QStringLiteral("/hls-master/master.m3u8")), kHeardWithin);
    Pump(5s); // two more segments
    EXPECT_EQ(decoders.Count(), 1u) << decoders.Names();
    EXPECT_EQ(player.GetPlayState(), 2);
    EXPECT_LE(longestGapNs.load(), 20 * GST_MSECOND);
}

// Where the connection makes it change variant, a new decoding chain takes
// over from the next segment on: the listener must hear no gap there.
TEST_F(LocalRadioTest, NoGapWhereAnHlsStationChangesVariant) {
    if (GstPlugin* libav = gst_plugin_load_by_name("libav"))
        gst_object_unref(libav); // as once the first station has been heard
    DecoderLog decoders(control->Pipeline());
    ExpectHeard(radio->Url(QStringLiteral("/hls-master/master.m3u8")), kHeardWithin);
    // A slower connection than the best variant needs (96 kbit/s).
    gst::ElementPtr demuxer;
    GstIterator* it = gst_bin_iterate_recurse(GST_BIN(control->Pipeline()));
    GValue item = G_VALUE_INIT;
    while (!demuxer && gst_iterator_next(it, &item) == GST_ITERATOR_OK) {
        auto* element = GST_ELEMENT(g_value_get_object(&item));
        if (g_str_has_prefix(GST_OBJECT_NAME(element), "hlsdemux"))
            demuxer.reset(GST_ELEMENT(gst_object_ref(element)));
        g_value_reset(&item);
    }
    g_value_unset(&item);
    gst_iterator_free(it);
    ASSERT_TRUE(demuxer);
    g_object_set(demuxer.get(), "connection-speed", 70u, nullptr);
    ASSERT_TRUE(WaitUntil([&] { return decoders.Count() >= 2; }, 15s))
        << "no change of variant; decoders: " << decoders.Names();
    Pump(3s); // past the end of the first chain's segment (2 s)
    EXPECT_EQ(player.GetPlayState(), 2);
    EXPECT_LE(longestGapNs.load(), 20 * GST_MSECOND) << "decoders: " << decoders.Names();
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
