#include "player/engine/AudioPipeline.h"

#include "player/engine/AutoplugPreferences.h"
#include "player/engine/BusTransport.h"
#include "player/engine/PipelineStateWorker.h"
#include "player/engine/SourceSettings.h"
#include "player/engine/TlsAnchors.h"
#include "player/probes/StreamProbes.h"

#include <QEvent>
#include <cmath>

namespace didira {

// One pipeline with everything made for it: the playbin, its sink bin's
// volume and balance elements, the output hearing, the bus transport and the state
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

    std::shared_ptr<PipelineRun> relay = std::make_shared<PipelineRun>();
    gst::ElementPtr playbin;
    gst::ElementPtr volume;
    gst::ElementPtr panorama;
    // Shared with the state worker, which restarts it for each run once the
    // previous run has reached NULL.
    std::shared_ptr<OutputHearing> outputHearing;
    std::unique_ptr<PipelineStateWorker> worker; // made once the playbin is built
    bool renewFailed = false;                    // a replacement did not build: not tried again

private:
    void Silence() {
        std::lock_guard lock(relay->mutex);
        relay->target = nullptr;
    }
};

namespace {

void OnDeepElementAdded(GstBin*, GstBin*, GstElement* element, gpointer relay) {
    ChooseDecodersIn(element);
    ProbeDemuxer(element, static_cast<PipelineRun*>(relay));
}

void OnSourceSetup(GstElement*, GstElement* source, gpointer relay) {
    ConfigureSource(source);
    // Counts what the source reads for the measured bit rate, and reads ICY titles.
    if (gst::PadPtr pad{gst_element_get_static_pad(source, "src")})
        ProbeSourcePad(pad.get(), static_cast<PipelineRun*>(relay));
}

// Play flags of playbin: audio with software volume, no video, no subtitles.
constexpr guint kPlayFlagAudio = 0x2;
constexpr guint kPlayFlagSoftVolume = 0x10;

} // namespace

namespace {

// Whether the elements every pipeline needs are installed; else says which not.
bool HaveElements(QString* error) {
    for (const char* name :
         {"playbin", "audioconvert", "audioresample", "audiopanorama", "volume", "souphttpsrc"}) {
        if (!std::unique_ptr<GstElementFactory, gst::ObjectUnref>(gst_element_factory_find(name))) {
            *error = QStringLiteral("the GStreamer element \"%1\" is missing").arg(name);
            return false;
        }
    }
    return true;
}

// The sink bin: balance and volume before sink; null (error said) when it
// cannot be built.
gst::ElementPtr SinkBin(const QByteArray& sink, QString* error) {
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
    return gst::ElementPtr(GST_ELEMENT(gst_object_ref_sink(sinkBin)));
}

} // namespace

std::unique_ptr<PipelineGeneration> PipelineGeneration::Build(const QByteArray& sink,
                                                              QObject* target, QString* error) {
    if (!HaveElements(error))
        return nullptr;
    auto gen = std::make_unique<PipelineGeneration>();
    gst::ElementPtr bin = SinkBin(sink, error);
    if (!bin)
        return nullptr;
    gen->volume.reset(gst_bin_get_by_name(GST_BIN(bin.get()), "didira-volume"));
    gen->panorama.reset(gst_bin_get_by_name(GST_BIN(bin.get()), "didira-balance"));
    gst::PadPtr sinkPad(gst_element_get_static_pad(bin.get(), "sink"));
    if (!gen->volume || !gen->panorama || !sinkPad) {
        *error = QStringLiteral("the audio sink bin is incomplete");
        return nullptr;
    }
    ProbeOutputPad(sinkPad.get(), gen->relay.get());
    gen->outputHearing = std::make_shared<OutputHearing>(bin.get());

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
    // seconds already, and the network queue's level is no guide (estimated
    // from the rate data comes in, which a burst throws off; an Ogg demuxer
    // drains the queue into its own), so the session ignores it for network
    // streams. Stalls are found where they are heard, at the output (Starved,
    // waiting); data after one plays at once, moved to the present by the
    // output hearing, so nothing is cut. The queue holds what arrives meanwhile.
    g_object_set(gen->playbin.get(), "buffer-duration", gint64{4 * GST_SECOND}, "buffer-size",
                 gint{1024 * 1024}, nullptr);
    PreferBestVariantAtStart(gen->playbin.get());
    g_signal_connect(gen->playbin.get(), "source-setup", G_CALLBACK(OnSourceSetup),
                     gen->relay.get());
    g_signal_connect(gen->playbin.get(), "deep-element-added", G_CALLBACK(OnDeepElementAdded),
                     gen->relay.get());
    gen->relay->target = target;
    gen->relay->pipeline = GST_OBJECT(gen->playbin.get());
    InstallBusTransport(gen->playbin.get(), gen->relay);
    gen->worker =
        std::make_unique<PipelineStateWorker>(gen->playbin.get(), gen->relay, gen->outputHearing);
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

// With m_gen its messages stop, then the playbin goes down (a bounded wait).
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
    m_output = OutputHearing::Output::Silent;
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
             static_cast<long long>(m_gen->worker->TeardownTime().count() / 1000000));
    m_audioBuffersBefore += m_gen->relay->audioBuffers.load();
    m_gen->GiveUp();
    m_gen = std::move(fresh);
    SetTimeShift(m_timeShift);
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
    const PipelineRun& relay = *m_gen->relay;
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

void AudioPipeline::SetTimeShift(std::shared_ptr<TimeShift> shift) {
    m_timeShift = std::move(shift);
    std::lock_guard lock(m_gen->relay->mutex);
    m_gen->relay->timeShift = m_timeShift;
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
    if (e->type() == BusEvent::kType) {
        auto* bus = static_cast<BusEvent*>(e);
        if (bus->run() != 0 && bus->run() == m_run)
            Forward(bus->message());
        return true;
    }
    return QObject::event(e);
}

void AudioPipeline::Forward(GstMessage* message) {
    switch (GST_MESSAGE_TYPE(message)) {
    case GST_MESSAGE_ERROR: {
        PipelineError error = ErrorOf(message);
        if (m_missingRun == m_run)
            error.missing = m_missing;
        emit Error(error);
        return;
    }
    case GST_MESSAGE_EOS:
        emit EndOfStream();
        return;
    case GST_MESSAGE_STATE_CHANGED: {
        GstState oldState, newState, pending;
        gst_message_parse_state_changed(message, &oldState, &newState, &pending);
        if (oldState == GST_STATE_PLAYING) // looked at afresh, however soon it plays again
            m_output = OutputHearing::Output::Silent;
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
    case GST_MESSAGE_ELEMENT:
        ForwardElement(message);
        return;
    case GST_MESSAGE_APPLICATION:
        if (const std::optional<QByteArray> title = IcyTitleOf(message))
            emit IcyTitle(*title);
        return;
    default:
        return;
    }
}

void AudioPipeline::ForwardElement(GstMessage* message) {
    // The error that follows a missing plugin tells what was missing: the
    // first of the run whose package is known, else the first.
    if (std::optional<MissingPlugin> missing = MissingPluginOf(message)) {
        if (m_missingRun != m_run || m_missing.package.isEmpty()) {
            m_missingRun = m_run;
            m_missing = *missing;
        }
        return;
    }
    int status = 0;
    if (const std::optional<const GstStructure*> headers = ResponseHeadersOf(message, &status))
        emit ResponseHeaders(status, *headers);
}

void AudioPipeline::PollEvery(int ms) {
    if (m_runTimer.interval() != ms)
        m_runTimer.setInterval(ms); // restarts the timer
}

void AudioPipeline::PollOutput() {
    using Output = OutputHearing::Output;
    // Until the worker has started this run, the pipeline still carries (or
    // tears down) the last one, and the hearing still describes it.
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
    const Output output = m_gen->outputHearing->Check(playbin);
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

} // namespace didira
