// The real control against a real local radio (Icecast and HLS on 127.0.0.1
// fed by ffmpeg): every kind of stream is heard soon after Open, and playing
// is reported only once the output renders it; the radio going away
// mid-stream. Skipped when icecast2 or ffmpeg is not installed. And which
// AAC decoder a stream's profile gets.
#include "PlayerFixture.h"
#include "player/AutoplugPreferences.h"
#include "support/LocalRadio.h"

#include <cstring>
#include <mutex>
#include <string>
#include <vector>

using namespace didira;
using namespace didira::test;
using namespace std::chrono_literals;

namespace {

// Well under the seconds a live stream's first timestamp could keep the
// output waiting; generous for a loaded machine.
constexpr auto kHeardWithin = 5s;

} // namespace

// The AAC decoder a stream gets, by its profile: faad for those it decodes
// (while libav is not loaded), libav for the rest, such as AAC-ELD, which
// faad cannot decode. Registered first, to run before any station loads libav;
// the decoder is only chosen, never made, so libav stays unloaded.
struct DecoderChoice {
    std::mutex mutex;
    std::string name; // the first decoder the player's choice lets through

    // Runs after the player's handler: lets the parser be made, and records
    // and skips the first decoder.
    static gint Record(GstElement*, GstPad*, GstCaps*, GstElementFactory* factory, gpointer data) {
        const char* klass = gst_element_factory_get_metadata(factory, GST_ELEMENT_METADATA_KLASS);
        if (!klass || !strstr(klass, "Decoder/Audio"))
            return 0; // try
        auto* self = static_cast<DecoderChoice*>(data);
        std::lock_guard lock(self->mutex);
        if (self->name.empty())
            self->name = GST_OBJECT_NAME(factory);
        return 2; // skip
    }
};

TEST(AacDecoderChoice, FaadForTheProfilesItDecodesLibavForTheRest) {
    gst_init(nullptr, nullptr);
    if (!gst_registry_check_feature_version(gst_registry_get(), "faad", 1, 0, 0) ||
        !gst_registry_check_feature_version(gst_registry_get(), "avdec_aac", 1, 0, 0))
        GTEST_SKIP() << "faad or libav is not installed";
    GstPlugin* libav = gst_registry_find_plugin(gst_registry_get(), "libav");
    const bool loaded = gst_plugin_is_loaded(libav);
    gst_object_unref(libav);
    if (loaded)
        GTEST_SKIP() << "libav is loaded: every AAC chain gets it";
    ApplyAutoplugPreferences();
    // Raw AAC with this AudioSpecificConfig into a decodebin.
    const auto decoderFor = [](std::vector<guint8> config) {
        gst::ElementPtr pipeline(GST_ELEMENT(gst_object_ref_sink(gst_pipeline_new(nullptr))));
        GstElement* source = gst_element_factory_make("appsrc", nullptr);
        GstElement* decodebin = gst_element_factory_make("decodebin", nullptr);
        ChooseDecodersIn(decodebin);
        DecoderChoice choice;
        g_signal_connect(decodebin, "autoplug-select", G_CALLBACK(DecoderChoice::Record), &choice);
        gst_bin_add_many(GST_BIN(pipeline.get()), source, decodebin, nullptr);
        gst_element_link(source, decodebin);
        GstBuffer* codecData = gst_buffer_new_memdup(config.data(), config.size());
        GstCaps* caps =
            gst_caps_new_simple("audio/mpeg", "mpegversion", G_TYPE_INT, 4, "stream-format",
                                G_TYPE_STRING, "raw", "rate", G_TYPE_INT, 48000, "channels",
                                G_TYPE_INT, 2, "codec_data", GST_TYPE_BUFFER, codecData, nullptr);
        g_object_set(source, "caps", caps, "format", GST_FORMAT_TIME, nullptr);
        gst_caps_unref(caps);
        gst_buffer_unref(codecData);
        gst_element_set_state(pipeline.get(), GST_STATE_PLAYING);
        GstBuffer* frame = gst_buffer_new_allocate(nullptr, 8, nullptr);
        GstFlowReturn flow = GST_FLOW_OK;
        g_signal_emit_by_name(source, "push-buffer", frame, &flow); // does not take the buffer
        gst_buffer_unref(frame);
        const auto chosen = [&] {
            std::lock_guard lock(choice.mutex);
            return choice.name;
        };
        WaitUntil([&] { return !chosen().empty(); }, 10s);
        gst_element_set_state(pipeline.get(), GST_STATE_NULL);
        return chosen();
    };
    EXPECT_EQ(decoderFor({0x11, 0x90}), "faad");                                // LC
    EXPECT_TRUE(decoderFor({0xF8, 0xE6, 0x40, 0x00}).starts_with("avdec_aac")); // ELD
}

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
