#include "player/AudioPipeline.h"

#include "player/IcyMetadata.h"
#include "player/TlsAnchors.h"

#include <QCoreApplication>
#include <QEvent>
#include <cmath>
#include <mutex>
#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace didira {

// Carries bus messages from GStreamer's threads to the pipeline object on the
// UI thread. Shared with the bus handler and the pad probes, which may still
// run while the pipeline is torn down.
struct PipelineBusRelay {
    std::mutex mutex;
    QObject* target = nullptr; // cleared before the pipeline object goes away
    GstObject* pipeline = nullptr;
    std::atomic<quint64> generation{1}; // bumped after each teardown
    std::atomic<quint64> bytes{0};      // bytes read by the network source
    std::atomic<bool> audioSeen{false};
    std::atomic<quint64> audioBuffers{0}; // reached the output, over all runs
};

namespace {

const QEvent::Type kBusEventType = static_cast<QEvent::Type>(QEvent::registerEventType());

// A bus message posted to the UI thread, stamped with the run it came from;
// messages of an earlier run are dropped on arrival.
class BusEvent final : public QEvent {
public:
    BusEvent(GstMessage* message, quint64 generation)
        : QEvent(kBusEventType), m_message(message), m_generation(generation) {}
    GstMessage* message() const { return m_message.get(); }
    quint64 generation() const { return m_generation; }

private:
    gst::MessagePtr m_message;
    quint64 m_generation;
};

// Runs on whichever thread posts the message: only schedules work. The bus
// hands over its reference with every message the handler drops, and a
// message holds its source element alive: each one is released here.
GstBusSyncReply SyncHandler(GstBus*, GstMessage* message, gpointer data) {
    gst::MessagePtr owned(message);
    PipelineBusRelay& relay = **static_cast<std::shared_ptr<PipelineBusRelay>*>(data);
    switch (GST_MESSAGE_TYPE(message)) {
    case GST_MESSAGE_STATE_CHANGED:
        if (GST_MESSAGE_SRC(message) != relay.pipeline)
            return GST_BUS_DROP;
        break;
    case GST_MESSAGE_ERROR:
    case GST_MESSAGE_EOS:
    case GST_MESSAGE_ASYNC_DONE:
    case GST_MESSAGE_BUFFERING:
    case GST_MESSAGE_TAG:
    case GST_MESSAGE_ELEMENT:
    case GST_MESSAGE_APPLICATION:
    case GST_MESSAGE_CLOCK_LOST:
        break;
    default:
        return GST_BUS_DROP;
    }
    std::lock_guard lock(relay.mutex);
    if (relay.target)
        QCoreApplication::postEvent(relay.target,
                                    new BusEvent(owned.release(), relay.generation.load()));
    return GST_BUS_DROP;
}

void DeleteRelayRef(gpointer data) {
    delete static_cast<std::shared_ptr<PipelineBusRelay>*>(data);
}

GstPadProbeReturn CountBytes(GstPad*, GstPadProbeInfo* info, gpointer data) {
    auto* relay = static_cast<PipelineBusRelay*>(data);
    if (info->type & GST_PAD_PROBE_TYPE_BUFFER)
        relay->bytes += gst_buffer_get_size(GST_PAD_PROBE_INFO_BUFFER(info));
    else if (info->type & GST_PAD_PROBE_TYPE_BUFFER_LIST)
        relay->bytes += gst_buffer_list_calculate_size(GST_PAD_PROBE_INFO_BUFFER_LIST(info));
    return GST_PAD_PROBE_OK;
}

GstPadProbeReturn SeeFirstAudio(GstPad* pad, GstPadProbeInfo*, gpointer data) {
    auto* relay = static_cast<PipelineBusRelay*>(data);
    ++relay->audioBuffers;
    if (!relay->audioSeen.exchange(true)) {
        GstObject* bin = GST_OBJECT_PARENT(pad);
        if (bin)
            gst_element_post_message(
                GST_ELEMENT(bin),
                gst_message_new_application(bin, gst_structure_new_empty("didira-first-audio")));
    }
    return GST_PAD_PROBE_OK;
}

// Reads the ICY metadata where it leaves the network source, before the
// buffered audio it precedes: the interval comes with the source's caps
// (application/x-icy), and each new title is posted to the bus at once. The
// demuxer further down reads the same blocks only when the audio before them
// has played.
struct IcyProbe {
    std::uint32_t interval = 0;
    std::optional<IcyMetadataReader> reader;
};

void DeleteIcyProbe(gpointer data) {
    delete static_cast<IcyProbe*>(data);
}

void ReadIcy(GstPad* pad, IcyProbe& probe, GstBuffer* buffer) {
    GstMapInfo map;
    if (!gst_buffer_map(buffer, &map, GST_MAP_READ))
        return;
    const bool changed = probe.reader->Feed(
        QByteArrayView(reinterpret_cast<const char*>(map.data), static_cast<qsizetype>(map.size)));
    gst_buffer_unmap(buffer, &map);
    if (!changed)
        return;
    const QByteArray& title = probe.reader->Title();
    GBytes* raw = g_bytes_new(title.constData(), static_cast<gsize>(title.size()));
    GstObject* source = GST_OBJECT_PARENT(pad);
    if (source)
        gst_element_post_message(
            GST_ELEMENT(source),
            gst_message_new_application(
                source, gst_structure_new("didira-icy-title", "raw", G_TYPE_BYTES, raw, nullptr)));
    g_bytes_unref(raw);
}

GstPadProbeReturn WatchIcy(GstPad* pad, GstPadProbeInfo* info, gpointer data) {
    auto& probe = *static_cast<IcyProbe*>(data);
    if (info->type & GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM) {
        GstEvent* event = GST_PAD_PROBE_INFO_EVENT(info);
        if (GST_EVENT_TYPE(event) != GST_EVENT_CAPS)
            return GST_PAD_PROBE_OK;
        GstCaps* caps = nullptr;
        gst_event_parse_caps(event, &caps);
        const GstStructure* s = caps ? gst_caps_get_structure(caps, 0) : nullptr;
        gint interval = 0;
        if (!s || !gst_structure_has_name(s, "application/x-icy") ||
            !gst_structure_get_int(s, "metadata-interval", &interval) || interval <= 0) {
            probe.reader.reset();
            probe.interval = 0;
        } else if (static_cast<std::uint32_t>(interval) != probe.interval) {
            // The source adds to its caps as it learns more (the content
            // type): the same interval goes on counting where it was.
            probe.interval = static_cast<std::uint32_t>(interval);
            probe.reader.emplace(probe.interval);
        }
        return GST_PAD_PROBE_OK;
    }
    if (!probe.reader)
        return GST_PAD_PROBE_OK;
    if (info->type & GST_PAD_PROBE_TYPE_BUFFER) {
        ReadIcy(pad, probe, GST_PAD_PROBE_INFO_BUFFER(info));
    } else if (info->type & GST_PAD_PROBE_TYPE_BUFFER_LIST) {
        GstBufferList* list = GST_PAD_PROBE_INFO_BUFFER_LIST(info);
        for (guint i = 0, n = gst_buffer_list_length(list); i < n; ++i)
            ReadIcy(pad, probe, gst_buffer_list_get(list, i));
    }
    return GST_PAD_PROBE_OK;
}

bool HasProperty(gpointer object, const char* name) {
    return g_object_class_find_property(G_OBJECT_GET_CLASS(object), name) != nullptr;
}

// Configures the network source that playbin made: the player does its own
// retrying, and counts what the source reads for the measured bit rate.
void OnSourceSetup(GstElement*, GstElement* source, gpointer data) {
    if (HasProperty(source, "user-agent"))
        g_object_set(source, "user-agent", "Vavaroz/1.0", nullptr);
    if (HasProperty(source, "iradio-mode"))
        g_object_set(source, "iradio-mode", TRUE, nullptr);
    if (HasProperty(source, "retries"))
        g_object_set(source, "retries", 0, nullptr);
    if (HasProperty(source, "timeout"))
        g_object_set(source, "timeout", AudioPipeline::kSourceTimeoutSeconds, nullptr);
    // Redirects are followed by the session, which bounds the chain.
    if (HasProperty(source, "automatic-redirect"))
        g_object_set(source, "automatic-redirect", FALSE, nullptr);
    if (GTlsDatabase* anchors = tls::SourceDatabase()) {
        if (HasProperty(source, "tls-database"))
            g_object_set(source, "tls-database", anchors, nullptr);
        g_object_unref(anchors);
    }
    gst::PadPtr pad(gst_element_get_static_pad(source, "src"));
    if (pad) {
        gst_pad_add_probe(pad.get(),
                          static_cast<GstPadProbeType>(GST_PAD_PROBE_TYPE_BUFFER |
                                                       GST_PAD_PROBE_TYPE_BUFFER_LIST),
                          CountBytes, data, nullptr);
        gst_pad_add_probe(pad.get(),
                          static_cast<GstPadProbeType>(GST_PAD_PROBE_TYPE_BUFFER |
                                                       GST_PAD_PROBE_TYPE_BUFFER_LIST |
                                                       GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM),
                          WatchIcy, new IcyProbe, DeleteIcyProbe);
    }
}

// Play flags of playbin: audio with software volume, no video, no subtitles.
constexpr guint kPlayFlagAudio = 0x2;
constexpr guint kPlayFlagSoftVolume = 0x10;

static_assert(kCoreMissingPlugin == GST_CORE_ERROR_MISSING_PLUGIN);
static_assert(kResourceNotFound == GST_RESOURCE_ERROR_NOT_FOUND);
static_assert(kResourceNotAuthorized == GST_RESOURCE_ERROR_NOT_AUTHORIZED);

ErrorDomain DomainOf(const GError* error) {
    if (!error)
        return ErrorDomain::None;
    if (error->domain == GST_CORE_ERROR)
        return ErrorDomain::Core;
    if (error->domain == GST_LIBRARY_ERROR)
        return ErrorDomain::Library;
    if (error->domain == GST_RESOURCE_ERROR)
        return ErrorDomain::Resource;
    if (error->domain == GST_STREAM_ERROR)
        return ErrorDomain::Stream;
    return ErrorDomain::None;
}

int UintField(const GstStructure* s, const char* name) {
    guint value = 0;
    if (s && gst_structure_get_uint(s, name, &value) && value < 1000)
        return static_cast<int>(value);
    return 0;
}

} // namespace

QString HeaderValue(const GstStructure* headers, const char* name) {
    const int fields = headers ? gst_structure_n_fields(headers) : 0;
    for (int i = 0; i < fields; ++i) {
        const char* field = gst_structure_nth_field_name(headers, i);
        if (g_ascii_strcasecmp(field, name) != 0)
            continue;
        const GValue* v = gst_structure_get_value(headers, field);
        if (v && G_VALUE_HOLDS_STRING(v))
            return QString::fromUtf8(g_value_get_string(v));
    }
    return QString();
}

std::unique_ptr<AudioPipeline> AudioPipeline::Create(const QByteArray& sinkDescription,
                                                     QString* error) {
    std::unique_ptr<AudioPipeline> pipeline(new AudioPipeline());
    if (!pipeline->Build(sinkDescription, error))
        return nullptr;
    return pipeline;
}

AudioPipeline::AudioPipeline() : m_relay(std::make_shared<PipelineBusRelay>()) {
    m_relay->target = this;
}

AudioPipeline::~AudioPipeline() {
    {
        std::lock_guard lock(m_relay->mutex);
        m_relay->target = nullptr;
    }
    if (m_playbin) {
        gst_element_set_state(m_playbin.get(), GST_STATE_NULL);
        gst::BusPtr bus(gst_element_get_bus(m_playbin.get()));
        gst_bus_set_sync_handler(bus.get(), nullptr, nullptr, nullptr);
    }
}

bool AudioPipeline::Build(const QByteArray& sink, QString* error) {
    for (const char* name :
         {"playbin", "audioconvert", "audioresample", "audiopanorama", "volume", "souphttpsrc"}) {
        gst::ObjectUnref unref;
        GstElementFactory* factory = gst_element_factory_find(name);
        if (!factory) {
            *error = QStringLiteral("the GStreamer element \"%1\" is missing").arg(name);
            return false;
        }
        unref(factory);
    }

    const QByteArray description =
        "audioconvert ! audiopanorama name=didira-balance method=simple"
        " ! volume name=didira-volume ! audioconvert ! audioresample ! " +
        sink;
    GError* rawError = nullptr;
    GstElement* sinkBin = gst_parse_bin_from_description(description.constData(), TRUE, &rawError);
    gst::ErrorPtr parseError(rawError);
    if (!sinkBin || parseError) {
        if (sinkBin)
            gst_object_unref(gst_object_ref_sink(sinkBin));
        *error = QStringLiteral("the audio sink \"%1\" cannot be built: %2")
                     .arg(QString::fromUtf8(sink),
                          QString::fromUtf8(parseError ? parseError->message : "?"));
        return false;
    }
    gst::ElementPtr bin(GST_ELEMENT(gst_object_ref_sink(sinkBin)));
    m_volumeElement.reset(gst_bin_get_by_name(GST_BIN(bin.get()), "didira-volume"));
    m_panoramaElement.reset(gst_bin_get_by_name(GST_BIN(bin.get()), "didira-balance"));
    gst::PadPtr sinkPad(gst_element_get_static_pad(bin.get(), "sink"));
    if (!m_volumeElement || !m_panoramaElement || !sinkPad) {
        *error = QStringLiteral("the audio sink bin is incomplete");
        return false;
    }
    gst_pad_add_probe(sinkPad.get(), GST_PAD_PROBE_TYPE_BUFFER, SeeFirstAudio, m_relay.get(),
                      nullptr);

    GstElement* playbin = gst_element_factory_make("playbin", "didira-player");
    if (!playbin) {
        *error = QStringLiteral("the GStreamer element \"playbin\" cannot be made");
        return false;
    }
    m_playbin.reset(GST_ELEMENT(gst_object_ref_sink(playbin)));
    g_object_set(m_playbin.get(), "audio-sink", bin.get(), "flags",
                 kPlayFlagAudio | kPlayFlagSoftVolume, nullptr);
    g_signal_connect(m_playbin.get(), "source-setup", G_CALLBACK(OnSourceSetup), m_relay.get());
    m_relay->pipeline = GST_OBJECT(m_playbin.get());
    gst::BusPtr bus(gst_element_get_bus(m_playbin.get()));
    gst_bus_set_sync_handler(bus.get(), SyncHandler, new std::shared_ptr<PipelineBusRelay>(m_relay),
                             DeleteRelayRef);
    return true;
}

void AudioPipeline::Start(const QUrl& uri) {
    m_relay->bytes = 0;
    m_relay->audioSeen = false;
    m_firstAudio = false;
    const QByteArray encoded = uri.toEncoded();
    g_object_set(m_playbin.get(), "uri", encoded.constData(), nullptr);
    SetPlaying(false);
}

void AudioPipeline::SetPlaying(bool playing) {
    // A failing change posts an error on the bus, handled when it arrives.
    gst_element_set_state(m_playbin.get(), playing ? GST_STATE_PLAYING : GST_STATE_PAUSED);
}

void AudioPipeline::Teardown() {
    // Messages still queued from this run carry the old generation and are
    // dropped when they arrive.
    gst_element_set_state(m_playbin.get(), GST_STATE_NULL);
    ++m_relay->generation;
#if defined(__GLIBC__)
    // The run's streaming threads allocated from malloc arenas of their own,
    // which keep the pages freed above; without handing them back, every
    // station change leaves the process a little larger.
    malloc_trim(0);
#endif
}

quint64 AudioPipeline::BytesRead() const {
    return m_relay->bytes.load();
}

quint64 AudioPipeline::AudioBuffers() const {
    return m_relay->audioBuffers.load();
}

bool AudioPipeline::HasFiniteDuration() const {
    gint64 duration = -1;
    return gst_element_query_duration(m_playbin.get(), GST_FORMAT_TIME, &duration) && duration > 0;
}

void AudioPipeline::SetVolume(double linear) {
    g_object_set(m_volumeElement.get(), "volume", linear, nullptr);
}

void AudioPipeline::SetPanorama(float panorama) {
    g_object_set(m_panoramaElement.get(), "panorama", panorama, nullptr);
}

double AudioPipeline::VolumeDb() const {
    gdouble linear = 0;
    g_object_get(m_volumeElement.get(), "volume", &linear, nullptr);
    return linear <= 0 ? -HUGE_VAL : 20.0 * std::log10(linear);
}

double AudioPipeline::Panorama() const {
    gfloat panorama = 0;
    g_object_get(m_panoramaElement.get(), "panorama", &panorama, nullptr);
    return panorama;
}

bool AudioPipeline::event(QEvent* e) {
    if (e->type() == kBusEventType) {
        auto* bus = static_cast<BusEvent*>(e);
        if (bus->generation() == m_relay->generation.load())
            Forward(bus->message());
        return true;
    }
    return QObject::event(e);
}

void AudioPipeline::Forward(GstMessage* message) {
    switch (GST_MESSAGE_TYPE(message)) {
    case GST_MESSAGE_ERROR:
        return ForwardError(message);
    case GST_MESSAGE_EOS:
        emit EndOfStream();
        return;
    case GST_MESSAGE_STATE_CHANGED: {
        GstState oldState, newState, pending;
        gst_message_parse_state_changed(message, &oldState, &newState, &pending);
        emit StateChanged(oldState, newState);
        return;
    }
    case GST_MESSAGE_ASYNC_DONE:
        emit Prerolled();
        return;
    case GST_MESSAGE_BUFFERING: {
        gint percent = 0;
        gst_message_parse_buffering(message, &percent);
        emit Buffering(percent);
        return;
    }
    case GST_MESSAGE_CLOCK_LOST:
        emit ClockLost();
        return;
    case GST_MESSAGE_TAG: {
        GstTagList* raw = nullptr;
        gst_message_parse_tag(message, &raw);
        std::unique_ptr<GstTagList, decltype(&gst_tag_list_unref)> tags(raw, &gst_tag_list_unref);
        emit Tags(tags.get());
        return;
    }
    case GST_MESSAGE_ELEMENT: {
        const GstStructure* s = gst_message_get_structure(message);
        if (!s || !gst_structure_has_name(s, "http-headers"))
            return;
        const GValue* value = gst_structure_get_value(s, "response-headers");
        const GstStructure* headers =
            value && GST_VALUE_HOLDS_STRUCTURE(value) ? gst_value_get_structure(value) : nullptr;
        emit ResponseHeaders(UintField(s, "http-status-code"), headers);
        return;
    }
    case GST_MESSAGE_APPLICATION: {
        const GstStructure* s = gst_message_get_structure(message);
        if (s && gst_structure_has_name(s, "didira-first-audio") && !m_firstAudio) {
            m_firstAudio = true;
            emit FirstAudio();
        } else if (s && gst_structure_has_name(s, "didira-icy-title")) {
            const GValue* value = gst_structure_get_value(s, "raw");
            GBytes* raw = value && G_VALUE_HOLDS(value, G_TYPE_BYTES)
                              ? static_cast<GBytes*>(g_value_get_boxed(value))
                              : nullptr;
            gsize size = 0;
            const auto* bytes = raw ? static_cast<const char*>(g_bytes_get_data(raw, &size)) : "";
            emit IcyTitle(QByteArray(bytes, static_cast<qsizetype>(size)));
        }
        return;
    }
    default:
        return;
    }
}

void AudioPipeline::ForwardError(GstMessage* message) {
    GError* raw = nullptr;
    gchar* rawDebug = nullptr;
    gst_message_parse_error(message, &raw, &rawDebug);
    gst::ErrorPtr error(raw);
    gst::CharPtr debug(rawDebug);
    const GstStructure* details = nullptr;
    gst_message_parse_error_details(message, &details);

    PipelineError e;
    e.domain = DomainOf(error.get());
    e.code = error ? error->code : 0;
    e.detail = QString::fromUtf8(error ? error->message : "");
    e.debug = QString::fromUtf8(debug ? debug.get() : "");
    e.httpStatus = UintField(details, "http-status-code");
    emit Error(e);
}

} // namespace didira
