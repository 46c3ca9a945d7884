#pragma once
// The GStreamer side of the player: a playbin with an audio-only sink bin
// (balance, volume, the configured output), whose source is configured
// (SourceSettings) and read as it flows (StreamProbes), the output hearing that
// tells when the output is heard or runs dry, and the pipeline's messages as
// signals on the UI thread (BusTransport). Messages of a run that was torn
// down never arrive.
//
// State changes run in order on a thread of the pipeline's own
// (PipelineStateWorker), never on the caller's. A run starts only after the one
// before it has fully reached NULL, so no two network sources of one pipeline
// ever overlap. Destruction waits (bounded) for the pending changes.
//
// A teardown can hang for good inside a library (a streaming thread that
// never lets go of its lock). Once one has lasted kStuckTeardown, a run that
// waits behind it starts on a pipeline built afresh instead: the stuck one is
// given up whole (playbin, sink bin, output hearing, bus transport, state worker)
// and left to end, or not, on its own thread; nothing of it reaches the
// caller again. Volume, balance and the count of audio over all runs carry
// over to the new pipeline.

#include "player/engine/BusTransport.h"
#include "player/engine/MissingPlugins.h"
#include "player/engine/PipelineStateWorker.h"
#include "player/output/OutputHearing.h"

#include <QObject>
#include <QTimer>
#include <QUrl>
#include <chrono>
#include <memory>
#include <optional>

namespace didira {

struct PipelineGeneration;
class TimeShift;

class AudioPipeline final : public QObject {
    Q_OBJECT
public:
    // Builds the pipeline with sinkDescription as the audio output (a
    // GStreamer bin description); null with a reason when an element is
    // missing or the description does not build.
    static std::unique_ptr<AudioPipeline> Create(const QByteArray& sinkDescription, QString* error);
    ~AudioPipeline() override;
    Q_DISABLE_COPY_MOVE(AudioPipeline)

    // How often the output is looked at between Start and Teardown: often
    // while the listener waits for sound, so it is reported once it is heard;
    // less often once it is, where only a stall (itself 200 ms of silence)
    // is looked for and the status shows once a second. Every look wakes the
    // UI thread and asks the sound server's clock.
    static constexpr int kOutputPollMs = 50;
    static constexpr int kAudiblePollMs = 250;
    // When slow decoders start loading in the background after the pipeline
    // is built, if no station has been started by then (a listener still
    // choosing one): a station that needs them then starts without the wait.
    static constexpr int kPreloadDelayMs = 1500;
    // How long a teardown may last before the pipeline is given up for a
    // new one.
    static constexpr auto kStuckTeardown = PipelineStateWorker::kStuckTeardown;

    // Starts a run on uri, once the previous run has reached NULL (or on a new
    // pipeline, when that teardown hangs): prerolls (paused); messages follow
    // as signals.
    void Start(const QUrl& uri);
    // Asks for playing (true) or paused (false) in the current run; a failing
    // change arrives as an Error.
    void SetPlaying(bool playing);
    // Ends the run: its messages are dropped from now on, and the pipeline
    // goes back to NULL in the background.
    void Teardown();

    // Taps the network source of the runs started from now on (none: null).
    void SetTimeShift(std::shared_ptr<TimeShift> shift);

    // Bytes the network source has read in this run (0 until it has started).
    quint64 BytesRead() const;
    // Audio buffers that reached the output, counted over all runs.
    quint64 AudioBuffers() const;
    // Whether the running stream has a known, finite duration.
    bool HasFiniteDuration() const;

    void SetVolume(double linear);
    void SetPanorama(float panorama);
    double VolumeDb() const; // what the volume element applies
    double Panorama() const; // audiopanorama's position, -1 .. 1
    // The output's bin description, as the pipeline was built with it.
    const QByteArray& SinkDescription() const { return m_sinkDescription; }
    // The current playbin; another one after a hanging teardown was given up.
    GstElement* Element() const;

signals:
    void Error(const didira::PipelineError& error);
    void EndOfStream();
    void StateChanged(GstState oldState, GstState newState);
    void Prerolled();
    void Buffering(int percent);
    void ClockLost();
    void Tags(const GstTagList* tags);
    // The server's answer: its HTTP status (0 before it answered) and headers.
    void ResponseHeaders(int status, const GstStructure* headers);
    // The output began to play what it received: the run's first audio
    // (FirstAudio comes just before), or again after it starved.
    void Audible();
    // The output has played everything it received and waits for more.
    void Starved();
    // The output has played the first audio of this run.
    void FirstAudio();
    // An ICY station's StreamTitle changed, read as it arrived from the
    // server (the bytes as sent); ahead of the demuxer's tag for it.
    void IcyTitle(const QByteArray& raw);

protected:
    bool event(QEvent* e) override;

private:
    explicit AudioPipeline(const QByteArray& sinkDescription);
    // Gives the current pipeline up for a new one and starts the pending run
    // on it; false (the old one kept) when the new one does not build.
    bool Renew();
    // Whether the current pipeline's teardown has lasted kStuckTeardown, and
    // a replacement may still be tried.
    bool TeardownHangs() const;
    void Tick();
    void Forward(GstMessage* message);
    // An element message: what the run found missing, the response headers.
    void ForwardElement(GstMessage* message);
    void PollOutput();
    void PollEvery(int ms);

    QByteArray m_sinkDescription;
    std::unique_ptr<PipelineGeneration> m_gen; // never null once created
    // Carried over to a new pipeline.
    double m_volume = 1.0;
    float m_panorama = 0.0f;
    quint64 m_audioBuffersBefore = 0; // counted by pipelines given up
    std::shared_ptr<TimeShift> m_timeShift;
    // The current run, to start again on a new pipeline.
    QUrl m_uri;
    std::optional<bool> m_playing; // the last SetPlaying of this run
    quint64 m_run = 0;             // the run whose messages are forwarded; 0 for none
    quint64 m_missingRun = 0;      // the run m_missing was reported in
    MissingPlugin m_missing;
    quint64 m_lastRun = 0; // the last run number given out
    // From Start to Teardown: polls the output, and watches for a teardown
    // that hangs while the run waits behind it.
    QTimer m_runTimer;
    // What the output did at the last poll while playing.
    OutputHearing::Output m_output = OutputHearing::Output::Silent;
    bool m_firstAudio = false;
};

} // namespace didira
