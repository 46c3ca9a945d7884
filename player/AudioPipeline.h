#pragma once
// The GStreamer side of the player: a playbin with an audio-only sink bin
// (balance, volume, the configured output), the network source's settings,
// byte and audio counting probes, the ICY metadata and timed ID3 probes
// (titles, posted as they arrive), the output watch that tells when the
// output is heard or runs dry, and the bus relay that brings the pipeline's
// messages to the UI thread as signals. Messages of a run that was torn down
// never arrive.
//
// State changes run in order on a thread of the pipeline's own, never on the
// caller's: going to NULL joins the streaming threads and closes the network
// source's session, which may take a while. A run starts only after the one
// before it has fully reached NULL, so no two network sources of one pipeline
// ever overlap. Destruction waits (bounded) for the pending changes.

#include "player/AudioOutputWatch.h"
#include "player/GstHandle.h"
#include "player/StreamErrors.h"

#include <QObject>
#include <QTimer>
#include <QUrl>
#include <memory>

namespace didira {

struct PipelineBusRelay;
class PipelineStateWorker;

// An error message of the pipeline, in structured form.
struct PipelineError {
    ErrorDomain domain = ErrorDomain::None;
    int code = 0;
    QString detail;     // the engine's (translated) text, for reasons and logs only
    QString debug;      // the engine's debug text, for logs only
    int httpStatus = 0; // "http-status-code" of the error's details; 0 when absent
};

// The value of a response header by case-insensitive name; null when absent.
QString HeaderValue(const GstStructure* headers, const char* name);

class AudioPipeline final : public QObject {
    Q_OBJECT
public:
    // Seconds the network source waits for an answer or data before failing.
    static constexpr unsigned kSourceTimeoutSeconds = 15;

    // Builds the pipeline with sinkDescription as the audio output (a
    // GStreamer bin description); null with a reason when an element is
    // missing or the description does not build.
    static std::unique_ptr<AudioPipeline> Create(const QByteArray& sinkDescription, QString* error);
    ~AudioPipeline() override;
    Q_DISABLE_COPY_MOVE(AudioPipeline)

    // How often the output is looked at between Start and Teardown.
    static constexpr int kOutputPollMs = 50;

    // Starts a run on uri, once the previous run has reached NULL: prerolls
    // (paused); messages follow as signals.
    void Start(const QUrl& uri);
    // Asks for playing (true) or paused (false) in the current run; a failing
    // change arrives as an Error.
    void SetPlaying(bool playing);
    // Ends the run: its messages are dropped from now on, and the pipeline
    // goes back to NULL in the background.
    void Teardown();

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
    GstElement* Element() const { return m_playbin.get(); }

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
    AudioPipeline();
    bool Build(const QByteArray& sinkDescription, QString* error);
    void Forward(GstMessage* message);
    void ForwardError(GstMessage* message);
    void PollOutput();

    gst::ElementPtr m_playbin;
    gst::ElementPtr m_volumeElement;
    gst::ElementPtr m_panoramaElement;
    std::shared_ptr<PipelineBusRelay> m_relay;
    // The output watch, shared with the state worker, which restarts it for
    // each run once the previous run has reached NULL.
    std::shared_ptr<AudioOutputWatch> m_outputWatch;
    std::unique_ptr<PipelineStateWorker> m_worker; // made once the playbin is built
    quint64 m_run = 0;     // the run whose messages are forwarded; 0 for none
    quint64 m_lastRun = 0; // the last run number given out
    QTimer m_outputTimer;  // from Start to Teardown
    // What the output did at the last poll while playing.
    AudioOutputWatch::Output m_output = AudioOutputWatch::Output::Silent;
    bool m_firstAudio = false;
};

} // namespace didira
