#include "player/AudioPipeline.h"

#include "player/AutoplugPreferences.h"
#include "player/IcyMetadata.h"
#include "player/PipelineTestHooks.h"
#include "player/TimedId3.h"
#include "player/TlsAnchors.h"

#include <QCoreApplication>
#include <QEvent>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <deque>
#include <gst/tag/tag.h>
#include <mutex>
#include <thread>
#if defined(__linux__)
#include <pthread.h>
#endif
#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace didira {

// Carries bus messages from GStreamer's threads to the pipeline object on the
// UI thread. Shared with the bus handler, the pad probes and the state worker,
// which may still run while the pipeline object goes away.
struct PipelineBusRelay {
    std::mutex mutex;
    // Cleared before the pipeline object goes away or gives this pipeline up.
    QObject* target = nullptr;
    GstObject* pipeline = nullptr;
    // The run the pipeline is carrying now, stamped on its messages; 0 while
    // it is torn down or has not started. Set by the state worker only.
    std::atomic<quint64> run{0};
    std::atomic<quint64> bytes{0};        // bytes read by the network source in this run
    std::atomic<quint64> audioBuffers{0}; // reached the output, over all runs of this pipeline
};

namespace {

// For tests: called before each change to NULL (see PipelineTestHooks.h).
std::atomic<void (*)()> g_beforeTeardown{nullptr};
std::atomic<int> g_runningWorkers{0};

} // namespace

// Makes the pipeline's state changes one after another on a thread of its
// own. A teardown drops the changes still waiting (they belong to runs that
// are over), so quick station changes never pile up; a start waits until the
// teardown before it has fully reached NULL. Owns references to everything it
// touches, so that it may outlive the pipeline object: when its last teardown
// does not end in time, or when it is given up.
class PipelineStateWorker {
public:
    // How long destruction waits for the last teardown.
    static constexpr auto kFinishTimeout = std::chrono::seconds(10);

    PipelineStateWorker(GstElement* playbin, std::shared_ptr<PipelineBusRelay> relay,
                        std::shared_ptr<AudioOutputWatch> watch)
        : m_shared(std::make_shared<Shared>()) {
        m_shared->playbin.reset(GST_ELEMENT(gst_object_ref(playbin)));
        m_shared->relay = std::move(relay);
        m_shared->watch = std::move(watch);
        ++g_runningWorkers;
        m_thread = std::thread(&PipelineStateWorker::Run, m_shared);
    }
    // Tears the pipeline down, waits for it and ends the thread. The wait is
    // bounded, and shorter when the teardown already hangs.
    ~PipelineStateWorker() {
        if (!m_thread.joinable())
            return; // given up
        PostAlone(Step::Finish);
        std::unique_lock lock(m_shared->mutex);
        const auto deadline = Clock::now() + kFinishTimeout;
        while (!m_shared->finished) {
            auto until = deadline;
            if (const auto since = m_shared->nullSince.load(); since != Clock::time_point{})
                until = std::min(until, since + AudioPipeline::kStuckTeardown);
            if (Clock::now() >= until)
                break;
            m_shared->done.wait_until(lock, until);
        }
        const bool finished = m_shared->finished;
        lock.unlock();
        if (finished) {
            m_thread.join();
        } else {
            // A teardown that hangs must not hang the process's exit: the
            // thread keeps what it uses alive on its own.
            m_thread.detach();
        }
    }
    PipelineStateWorker(const PipelineStateWorker&) = delete;
    PipelineStateWorker& operator=(const PipelineStateWorker&) = delete;

    void Start(QByteArray uri, quint64 run) { Post({Step::Start, std::move(uri), run}); }
    void SetPlaying(bool playing) { Post({playing ? Step::Play : Step::Pause, {}, 0}); }
    void Teardown() { PostAlone(Step::Teardown); }
    // Lets the thread end on its own once the change it is in returns, and
    // waits for nothing; the destructor then returns at once.
    void GiveUp() {
        PostAlone(Step::Finish);
        m_thread.detach();
    }
    // How long the change to NULL in progress has lasted; zero when none is.
    std::chrono::nanoseconds TeardownTime() const {
        const auto since = m_shared->nullSince.load();
        return since == Clock::time_point{} ? std::chrono::nanoseconds::zero()
                                            : Clock::now() - since;
    }

private:
    using Clock = std::chrono::steady_clock;
    enum class Step { Start, Play, Pause, Teardown, Finish };
    struct Command {
        Step step = Step::Teardown;
        QByteArray uri;  // Start
        quint64 run = 0; // Start
    };
    struct Shared {
        std::mutex mutex;
        std::condition_variable wake; // a command was queued
        std::condition_variable done; // finished, or a change to NULL began
        std::deque<Command> queue;
        bool finished = false;
        std::atomic<Clock::time_point> nullSince{}; // while going to NULL
        std::shared_ptr<PipelineBusRelay> relay;
        std::shared_ptr<AudioOutputWatch> watch;
        gst::ElementPtr playbin; // released first: the relay outlives its probes
    };

    void Post(Command command) {
        std::lock_guard lock(m_shared->mutex);
        m_shared->queue.push_back(std::move(command));
        m_shared->wake.notify_one();
    }
    // Drops the changes still waiting and queues step.
    void PostAlone(Step step) {
        std::lock_guard lock(m_shared->mutex);
        m_shared->queue.clear();
        m_shared->queue.push_back({step, {}, 0});
        m_shared->wake.notify_one();
    }

    static void Run(std::shared_ptr<Shared> shared) {
#if defined(__linux__)
        pthread_setname_np(pthread_self(), "didira-states"); // as named in a core
#endif
        GstElement* playbin = shared->playbin.get();
        PipelineBusRelay& relay = *shared->relay;
        for (;;) {
            Command command;
            {
                std::unique_lock lock(shared->mutex);
                shared->wake.wait(lock, [&] { return !shared->queue.empty(); });
                command = std::move(shared->queue.front());
                shared->queue.pop_front();
            }
            switch (command.step) {
            case Step::Start:
                // The previous run is at NULL: none of its threads counts any more.
                relay.bytes = 0;
                shared->watch->Restart();
                relay.run = command.run;
                g_object_set(playbin, "uri", command.uri.constData(), nullptr);
                // A failing change posts an error on the bus, handled when it arrives.
                gst_element_set_state(playbin, GST_STATE_PAUSED);
                break;
            case Step::Play:
            case Step::Pause:
                if (relay.run != 0)
                    gst_element_set_state(playbin, command.step == Step::Play ? GST_STATE_PLAYING
                                                                              : GST_STATE_PAUSED);
                break;
            case Step::Teardown:
                Stop(*shared);
                break;
            case Step::Finish: {
                Stop(*shared);
                gst::BusPtr bus(gst_element_get_bus(playbin));
                gst_bus_set_sync_handler(bus.get(), nullptr, nullptr, nullptr);
                {
                    std::lock_guard lock(shared->mutex);
                    shared->finished = true;
                    shared->done.notify_all();
                }
                // What a given-up worker holds goes with it, on this thread.
                shared.reset();
                --g_runningWorkers;
                return;
            }
            }
        }
    }

    static void Stop(Shared& shared) {
        {
            std::lock_guard lock(shared.mutex);
            shared.nullSince = Clock::now();
            shared.done.notify_all();
        }
        if (auto hook = g_beforeTeardown.load())
            hook();
        // Returns once the streaming threads have ended and the network
        // source has closed its session.
        gst_element_set_state(shared.playbin.get(), GST_STATE_NULL);
        shared.relay->run = 0;
        shared.nullSince = Clock::time_point{};
#if defined(__GLIBC__)
        // The run's streaming threads allocated from malloc arenas of their
        // own, which keep the pages freed above; without handing them back,
        // every station change leaves the process a little larger.
        malloc_trim(0);
#endif
    }

    std::shared_ptr<Shared> m_shared;
    std::thread m_thread;
};

// One pipeline with everything made for it: the playbin, its sink bin's
// volume and balance elements, the output watch, the bus relay and the state
// worker. Replaced whole when its teardown hangs.
struct PipelineGeneration {
    // Builds the pipeline with sink as the audio output; its messages go to
    // target. Null with a reason when it does not build.
    static std::unique_ptr<PipelineGeneration> Build(const QByteArray& sink, QObject* target,
                                                     QString* error);
    // Tears the pipeline down (bounded, see PipelineStateWorker); its
    // messages stop at once.
    ~PipelineGeneration() {
        Silence();
        worker.reset();
    }
    // Cuts the pipeline off: its messages stop at once, and its worker ends
    // when the library lets it, keeping alive what it needs.
    void GiveUp() {
        Silence();
        if (worker)
            worker->GiveUp();
    }

    std::shared_ptr<PipelineBusRelay> relay = std::make_shared<PipelineBusRelay>();
    gst::ElementPtr playbin;
    gst::ElementPtr volume;
    gst::ElementPtr panorama;
    // Shared with the state worker, which restarts it for each run once the
    // previous run has reached NULL.
    std::shared_ptr<AudioOutputWatch> outputWatch;
    std::unique_ptr<PipelineStateWorker> worker; // made once the playbin is built
    bool renewFailed = false;                    // a replacement did not build: not tried again

private:
    void Silence() {
        std::lock_guard lock(relay->mutex);
        relay->target = nullptr;
    }
};

namespace pipeline_test {

void SetBeforeTeardown(void (*hook)()) {
    g_beforeTeardown = hook;
}

int RunningStateWorkers() {
    return g_runningWorkers.load();
}

} // namespace pipeline_test

namespace {

const QEvent::Type kBusEventType = static_cast<QEvent::Type>(QEvent::registerEventType());

// A bus message posted to the UI thread, stamped with the run it came from;
// messages of any other run than the current one are dropped on arrival.
class BusEvent final : public QEvent {
public:
    BusEvent(GstMessage* message, quint64 run)
        : QEvent(kBusEventType), m_message(message), m_run(run) {}
    GstMessage* message() const { return m_message.get(); }
    quint64 run() const { return m_run; }

private:
    gst::MessagePtr m_message;
    quint64 m_run;
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
        QCoreApplication::postEvent(relay.target, new BusEvent(owned.release(), relay.run.load()));
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

GstPadProbeReturn CountAudio(GstPad*, GstPadProbeInfo*, gpointer data) {
    ++static_cast<PipelineBusRelay*>(data)->audioBuffers;
    return GST_PAD_PROBE_OK;
}

// Frees a probe's data when the probe goes.
template <typename T> void DeleteProbeData(gpointer data) {
    delete static_cast<T*>(data);
}

// Calls read on each buffer a probe sees, alone or in a list.
template <typename Read> void ForEachBuffer(GstPadProbeInfo* info, Read read) {
    if (info->type & GST_PAD_PROBE_TYPE_BUFFER) {
        read(GST_PAD_PROBE_INFO_BUFFER(info));
    } else if (info->type & GST_PAD_PROBE_TYPE_BUFFER_LIST) {
        GstBufferList* list = GST_PAD_PROBE_INFO_BUFFER_LIST(info);
        for (guint i = 0, n = gst_buffer_list_length(list); i < n; ++i)
            read(gst_buffer_list_get(list, i));
    }
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
    if (probe.reader)
        ForEachBuffer(info, [&](GstBuffer* buffer) { ReadIcy(pad, probe, buffer); });
    return GST_PAD_PROBE_OK;
}

// Reads the timed ID3 of MPEG-TS segments where they enter the transport
// stream demuxer, which drops these streams; each tag is posted to the bus as
// the demuxer's, as it arrives (ahead of the buffered audio, as ICY titles).
void ReadTimedId3(GstPad* pad, TimedId3Reader& reader, GstBuffer* buffer) {
    GstMapInfo map;
    if (!gst_buffer_map(buffer, &map, GST_MAP_READ))
        return;
    const std::vector<QByteArray> tags = reader.Feed(
        QByteArrayView(reinterpret_cast<const char*>(map.data), static_cast<qsizetype>(map.size)));
    gst_buffer_unmap(buffer, &map);
    GstObject* demuxer = GST_OBJECT_PARENT(pad);
    for (const QByteArray& tag : tags) {
        GstBuffer* bytes = gst_buffer_new_memdup(tag.constData(), static_cast<gsize>(tag.size()));
        GstTagList* list = gst_tag_list_from_id3v2_tag(bytes);
        gst_buffer_unref(bytes);
        if (list && demuxer)
            gst_element_post_message(GST_ELEMENT(demuxer), gst_message_new_tag(demuxer, list));
        else if (list)
            gst_tag_list_unref(list);
    }
}

GstPadProbeReturn WatchTimedId3(GstPad* pad, GstPadProbeInfo* info, gpointer data) {
    auto& reader = *static_cast<TimedId3Reader*>(data);
    ForEachBuffer(info, [&](GstBuffer* buffer) { ReadTimedId3(pad, reader, buffer); });
    return GST_PAD_PROBE_OK;
}

void OnDeepElementAdded(GstBin*, GstBin*, GstElement* element, gpointer) {
    ChooseDecodersIn(element);
    GstElementFactory* factory = gst_element_get_factory(element);
    if (!factory || g_strcmp0(GST_OBJECT_NAME(factory), "tsdemux") != 0)
        return;
    if (gst::PadPtr pad{gst_element_get_static_pad(element, "sink")})
        gst_pad_add_probe(pad.get(),
                          static_cast<GstPadProbeType>(GST_PAD_PROBE_TYPE_BUFFER |
                                                       GST_PAD_PROBE_TYPE_BUFFER_LIST),
                          WatchTimedId3, new TimedId3Reader, DeleteProbeData<TimedId3Reader>);
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
                          WatchIcy, new IcyProbe, DeleteProbeData<IcyProbe>);
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

std::unique_ptr<PipelineGeneration> PipelineGeneration::Build(const QByteArray& sink,
                                                              QObject* target, QString* error) {
    for (const char* name :
         {"playbin", "audioconvert", "audioresample", "audiopanorama", "volume", "souphttpsrc"}) {
        gst::ObjectUnref unref;
        GstElementFactory* factory = gst_element_factory_find(name);
        if (!factory) {
            *error = QStringLiteral("the GStreamer element \"%1\" is missing").arg(name);
            return nullptr;
        }
        unref(factory);
    }

    auto gen = std::make_unique<PipelineGeneration>();
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
        return nullptr;
    }
    gst::ElementPtr bin(GST_ELEMENT(gst_object_ref_sink(sinkBin)));
    gen->volume.reset(gst_bin_get_by_name(GST_BIN(bin.get()), "didira-volume"));
    gen->panorama.reset(gst_bin_get_by_name(GST_BIN(bin.get()), "didira-balance"));
    gst::PadPtr sinkPad(gst_element_get_static_pad(bin.get(), "sink"));
    if (!gen->volume || !gen->panorama || !sinkPad) {
        *error = QStringLiteral("the audio sink bin is incomplete");
        return nullptr;
    }
    gst_pad_add_probe(sinkPad.get(), GST_PAD_PROBE_TYPE_BUFFER, CountAudio, gen->relay.get(),
                      nullptr);
    gen->outputWatch = std::make_shared<AudioOutputWatch>(bin.get());

    ApplyAutoplugPreferences();
    GstElement* playbin = gst_element_factory_make("playbin", "didira-player");
    if (!playbin) {
        *error = QStringLiteral("the GStreamer element \"playbin\" cannot be made");
        return nullptr;
    }
    gen->playbin.reset(GST_ELEMENT(gst_object_ref_sink(playbin)));
    g_object_set(gen->playbin.get(), "audio-sink", bin.get(), "flags",
                 kPlayFlagAudio | kPlayFlagSoftVolume, nullptr);
    // Buffering for radio, not for files. A live stream plays as soon as its
    // first audio is decoded: a server's burst on connecting is a lead of
    // seconds already, and the network queue's level is no guide (it is
    // estimated from the rate data comes in, which a burst throws off, and an
    // Ogg demuxer drains the queue into its own), so the session does not act
    // on it for network streams. Stalls are found where they are heard, at the
    // output (Starved, reported as waiting); data that comes after one plays
    // at once, moved to the present by the output watch, so nothing is cut.
    // The queue only has to hold what arrives meanwhile.
    g_object_set(gen->playbin.get(), "buffer-duration", gint64{4 * GST_SECOND}, "buffer-size",
                 gint{1024 * 1024}, nullptr);
    PreferBestVariantAtStart(gen->playbin.get());
    g_signal_connect(gen->playbin.get(), "source-setup", G_CALLBACK(OnSourceSetup),
                     gen->relay.get());
    g_signal_connect(gen->playbin.get(), "deep-element-added", G_CALLBACK(OnDeepElementAdded),
                     nullptr);
    gen->relay->target = target;
    gen->relay->pipeline = GST_OBJECT(gen->playbin.get());
    gst::BusPtr bus(gst_element_get_bus(gen->playbin.get()));
    gst_bus_set_sync_handler(bus.get(), SyncHandler,
                             new std::shared_ptr<PipelineBusRelay>(gen->relay), DeleteRelayRef);
    gen->worker =
        std::make_unique<PipelineStateWorker>(gen->playbin.get(), gen->relay, gen->outputWatch);
    return gen;
}

std::unique_ptr<AudioPipeline> AudioPipeline::Create(const QByteArray& sinkDescription,
                                                     QString* error) {
    std::unique_ptr<AudioPipeline> pipeline(new AudioPipeline(sinkDescription));
    pipeline->m_gen = PipelineGeneration::Build(sinkDescription, pipeline.get(), error);
    if (!pipeline->m_gen)
        return nullptr;
    // Slow decoders and the TLS authorities load while the listener is still
    // choosing a station; a station already started loads only what it needs.
    QTimer::singleShot(kPreloadDelayMs, pipeline.get(), [raw = pipeline.get()] {
        if (raw->m_lastRun != 0)
            return;
        PreloadSlowDecoders();
        tls::LoadAnchorsAhead();
    });
    return pipeline;
}

AudioPipeline::AudioPipeline(const QByteArray& sinkDescription)
    : m_sinkDescription(sinkDescription) {
    m_runTimer.setInterval(kOutputPollMs);
    connect(&m_runTimer, &QTimer::timeout, this, &AudioPipeline::Tick);
}

// The pipeline goes down with m_gen: its messages stop, then the playbin is
// torn down and the bus handler removed, waited for (bounded).
AudioPipeline::~AudioPipeline() = default;

GstElement* AudioPipeline::Element() const {
    return m_gen->playbin.get();
}

void AudioPipeline::Start(const QUrl& uri) {
    if (m_run != 0)
        Teardown(); // a new uri takes effect from NULL only
    // Nothing waits behind a teardown that hangs: it is given up now.
    if (TeardownHangs())
        Renew();
    m_run = ++m_lastRun;
    m_uri = uri;
    m_playing.reset();
    m_output = AudioOutputWatch::Output::Silent;
    m_firstAudio = false;
    m_gen->worker->Start(uri.toEncoded(), m_run);
    m_runTimer.start(kOutputPollMs);
}

void AudioPipeline::SetPlaying(bool playing) {
    if (m_run == 0)
        return;
    m_playing = playing;
    m_gen->worker->SetPlaying(playing);
}

void AudioPipeline::Teardown() {
    // Messages still queued from this run, or posted while it goes to NULL,
    // carry its number and are dropped when they arrive.
    m_run = 0;
    m_runTimer.stop();
    m_gen->worker->Teardown();
}

bool AudioPipeline::TeardownHangs() const {
    return !m_gen->renewFailed && m_gen->worker->TeardownTime() >= kStuckTeardown;
}

bool AudioPipeline::Renew() {
    QString error;
    std::unique_ptr<PipelineGeneration> fresh =
        PipelineGeneration::Build(m_sinkDescription, this, &error);
    if (!fresh) {
        m_gen->renewFailed = true;
        qWarning("didira: a pipeline teardown hangs, and no new pipeline can be built: %s",
                 qUtf8Printable(error));
        return false;
    }
    qWarning("didira: a pipeline teardown has not ended after %lld ms; that pipeline is given "
             "up for a new one",
             static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                        m_gen->worker->TeardownTime())
                                        .count()));
    m_audioBuffersBefore += m_gen->relay->audioBuffers.load();
    m_gen->GiveUp();
    m_gen = std::move(fresh);
    g_object_set(m_gen->volume.get(), "volume", m_volume, nullptr);
    g_object_set(m_gen->panorama.get(), "panorama", m_panorama, nullptr);
    if (m_run != 0) {
        // A new number: whatever the old pipeline posted for this run is
        // dropped on arrival.
        m_run = ++m_lastRun;
        m_gen->worker->Start(m_uri.toEncoded(), m_run);
        if (m_playing)
            m_gen->worker->SetPlaying(*m_playing);
    }
    return true;
}

void AudioPipeline::Tick() {
    // The run waits while the worker takes the last one down.
    if (m_run != 0 && m_gen->relay->run.load() != m_run && TeardownHangs()) {
        Renew();
        return;
    }
    PollOutput();
}

quint64 AudioPipeline::BytesRead() const {
    // Until the worker has started this run, the count is the last run's.
    const PipelineBusRelay& relay = *m_gen->relay;
    return m_run != 0 && relay.run.load() == m_run ? relay.bytes.load() : 0;
}

quint64 AudioPipeline::AudioBuffers() const {
    return m_audioBuffersBefore + m_gen->relay->audioBuffers.load();
}

bool AudioPipeline::HasFiniteDuration() const {
    gint64 duration = -1;
    return gst_element_query_duration(m_gen->playbin.get(), GST_FORMAT_TIME, &duration) &&
           duration > 0;
}

void AudioPipeline::SetVolume(double linear) {
    m_volume = linear;
    g_object_set(m_gen->volume.get(), "volume", linear, nullptr);
}

void AudioPipeline::SetPanorama(float panorama) {
    m_panorama = panorama;
    g_object_set(m_gen->panorama.get(), "panorama", panorama, nullptr);
}

double AudioPipeline::VolumeDb() const {
    gdouble linear = 0;
    g_object_get(m_gen->volume.get(), "volume", &linear, nullptr);
    return linear <= 0 ? -HUGE_VAL : 20.0 * std::log10(linear);
}

double AudioPipeline::Panorama() const {
    gfloat panorama = 0;
    g_object_get(m_gen->panorama.get(), "panorama", &panorama, nullptr);
    return panorama;
}

bool AudioPipeline::event(QEvent* e) {
    if (e->type() == kBusEventType) {
        auto* bus = static_cast<BusEvent*>(e);
        if (bus->run() != 0 && bus->run() == m_run)
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
        if (s && gst_structure_has_name(s, "didira-icy-title")) {
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

void AudioPipeline::PollEvery(int ms) {
    if (m_runTimer.interval() != ms)
        m_runTimer.setInterval(ms); // restarts the timer
}

void AudioPipeline::PollOutput() {
    using Output = AudioOutputWatch::Output;
    // Until the worker has started this run, the pipeline still carries (or
    // tears down) the last one, and the watch still describes it.
    if (m_run == 0 || m_gen->relay->run.load() != m_run)
        return;
    GstElement* playbin = m_gen->playbin.get();
    GstState state = GST_STATE_NULL;
    gst_element_get_state(playbin, &state, nullptr, 0);
    if (state != GST_STATE_PLAYING) {
        // Looked at afresh once playing again.
        m_output = Output::Silent;
        PollEvery(kOutputPollMs);
        return;
    }
    const Output output = m_gen->outputWatch->Check(playbin);
    if (output == m_output || output == Output::Silent)
        return;
    m_output = output;
    PollEvery(output == Output::Audible ? kAudiblePollMs : kOutputPollMs);
    if (output == Output::Starved) {
        emit Starved();
        return;
    }
    if (!m_firstAudio) {
        m_firstAudio = true;
        PreloadSlowDecodersIfWanted();
        emit FirstAudio();
    }
    emit Audible();
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
