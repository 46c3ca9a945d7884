#pragma once
// One open stream from Open to Cancel: resolves metafiles, looks the server
// up, connects through the pipeline, buffers, plays, reconnects after a drop
// and gives up with one failure report. A single state machine: every change
// goes through Enter(phase), which also sets the reported play and open
// states. Playing is entered once the output is heard, not when the pipeline
// runs, and left for Starved while the output has run dry. A drop (the stream
// ends, fails, or plays no audio for the stall timeout) leads to
// reconnection: the stream that played first, then the station's list read
// again, with a growing pause between attempts (at most kMaxReconnectDelayMs,
// always the longest while the network is down) and never a failure: the
// station is wanted until Stop, Cancel or another Open. HTTP redirects are
// followed hop by hop, bounded. Stop and Cancel end every pending wait and
// never lead to a reconnection. Suspend lets the stream go for a system
// sleep; Resume comes back to it at the live edge.

#include "control/PlayerStates.h"
#include "player/engine/AudioPipeline.h"
#include "player/session/BitrateMeter.h"
#include "player/session/MetafileResolver.h"
#include "player/session/RedirectChain.h"
#include "player/session/ServerAnswer.h"
#include "player/session/StreamErrors.h"

#include <QObject>
#include <QTimer>
#include <QUrl>
#include <vector>

class QHostInfo;

namespace didira {

class ConnectionCheck;
class OutputReturn;
class StallWatchdog;

class StreamSession final : public QObject {
    Q_OBJECT
public:
    enum class Phase {
        Closed,       // nothing open (also after a failure)
        Resolving,    // reading the metafile that was opened
        Sniffing,     // fetching a stream URL again as a possible playlist
        LookingUp,    // the server's name
        Connecting,   // the pipeline runs; the server has not answered
        Opening,      // the server answered; prerolling
        Buffering,    // prerolled, filling the buffer before the first play (files)
        Starting,     // asked to play for the first time; not heard yet
        Playing,      // sound is being played: the output renders it
        Starved,      // was playing; the output has played all it got and waits
        Rebuffering,  // was playing; paused until the buffer is full again (files)
        Resuming,     // asked to play again after rebuffering; not heard yet
        Ready,        // prerolled without play-on-open: open, not playing
        Stopped,      // after Stop or the end of a file
        Diagnosing,   // checking the connection after a failure without answer
        Reconnecting, // waiting before the next attempt after a drop
        Suspended,    // let go for a system sleep; Resume comes back to it
        Paused,       // paused by the listener (Pause); reception goes on
    };

    // The longest pause between two reconnection attempts.
    static constexpr int kMaxReconnectDelayMs = 10000;

    StreamSession(AudioPipeline& pipeline, QObject* parent);
    ~StreamSession() override;
    Q_DISABLE_COPY_MOVE(StreamSession)

    void Open(const QString& url);
    void Stop();
    void Cancel();
    // The system is about to sleep: the stream is closed, without an error,
    // and kept for Resume. Nothing happens when nothing is open or playing.
    void Suspend();
    // After a sleep: reconnects to what Suspend closed, once the network is
    // available.
    void Resume();
    // Whether the system has a network connection. While it has none,
    // reconnections wait the longest pause; when it comes (or gets better),
    // a reconnection that waits, or has not been answered yet, starts anew.
    void SetNetworkAvailable(bool available);

    // Pauses what is heard (true: the pipeline paused while reception goes
    // on, play state Paused, the stall watch resting) or plays on (false).
    // Only once heard (playing, resuming, starved), or paused; false when
    // nothing changed. The pause outlasts a drop, a sleep and a network
    // change: the station reconnects (reception goes on, nothing plays) and
    // stays Paused until it is unpaused.
    bool Pause(bool paused);
    // Whether the listener paused the station (Pause(true) until
    // Pause(false), Stop, Cancel or another Open).
    bool IsPausedByListener() const { return m_listenerPaused; }

    // Whether an open starts playing once the stream is ready.
    bool playOnOpen = false;

    PlayState GetPlayState() const { return m_playState; }
    OpenState GetOpenState() const { return m_openState; }
    bool IsError() const { return m_isError; }
    std::int32_t ErrorCode() const { return m_errorCode; }
    const QString& ErrorDescription() const { return m_errorDescription; }
    std::int32_t Bandwidth() const;

    // Tuning and inspection for tests and the benchmark.
    void SetOpenTimeout(int ms) { m_openTimeoutMs = ms; }
    void SetReconnectDelays(std::vector<int> ms) { m_reconnectDelaysMs = std::move(ms); }
    void SetResolverLimits(const MetafileResolver::Limits& limits);
    void SetStallTimeout(int ms);
    int ReconnectCount() const { return m_reconnects; }
    QUrl CurrentStream() const { return m_current; }
    // The title the stream announces now; empty when it has announced none
    // since the open, and after Stop, Cancel, a failure or the end.
    const QString& Title() const { return m_title; }
    // The station's own name as its server announces it (icy-name), cleared
    // as the title is.
    const QString& StreamName() const { return m_streamName; }

signals:
    // Title() changed.
    void TitleChanged(const QString& title);
    // StreamName() changed.
    void StreamNameChanged(const QString& name);
    // The open failed: the text for the user, naming the URL and the reason.
    void Failed(const QString& text);
    // A stream that had played was lost and is being reconnected (true, once
    // per outage), or the outage is over (false: it plays again, or the
    // listener ended it).
    void Interrupted(bool interrupted);
    // The open failed for want of a plugin; detail is what GStreamer's
    // installer is asked for. Emitted just before Failed.
    void PluginMissing(const QByteArray& detail);
    // GetPlayState() or GetOpenState() changed; emitted by Enter() only.
    void StateChanged(didira::PlayState play, didira::OpenState open);

private:
    // The one transition: leaves the current phase, enters next and sets the
    // reported states.
    void Enter(Phase next);
    // The open and play states phase reports, given the open state before it
    // and whether the stream is on the network. Pure: Enter's one mapping.
    struct Reported {
        OpenState open;
        PlayState play;
    };
    static Reported ReportedStates(Phase phase, OpenState before, bool network);
    // What entering next does, before its states are reported.
    void EnterActions(Phase next);
    // Closing and stopping alike: the attempt ended, title, name and
    // reconnection forgotten.
    void EndOpen();
    // Reports the phase's states, a pause shown as Paused while it reconnects.
    void Report(OpenState open, PlayState play);
    // A paused station's server answered again: paused from here on.
    void PausedAgain();
    bool HasPlayed() const;
    static const char* PhaseName(Phase phase);

    // Steps of an open.
    void TryCandidate();
    // Connects to url: the candidate, or where its redirects led.
    void ConnectTo(const QUrl& url);
    void FollowRedirect(const GstStructure* headers);
    void OnResolved(const ResolveOutcome& outcome);
    void OnLookedUp(const QHostInfo& info);
    void OnDiagnosed(ConnectCheck check);
    void CandidateFailed(const StreamFailure& failure);
    void StreamDropped(const QString& reason);
    void ScheduleReconnect(const QString& reason);
    // The next reconnection attempt, now.
    void Reconnect();
    void ResumeNow();
    void SetInterrupted(bool interrupted);
    // Prerolled into the automatic sink's fake output: no sound can be heard.
    void NoAudioOutput();
    // The output that played went away (its sound server ended): waited for
    // as a server is, and reconnected as soon as an output opens again.
    void OutputDropped();
    void WatchOutput();
    void Fail(std::int32_t code, const QString& reason, bool lost);
    // Ends whatever runs for the current attempt: pipeline, timers, lookup.
    void EndAttempt();

    // Pipeline events.
    void OnError(const PipelineError& error);
    void OnEndOfStream();
    void OnStateChanged(GstState oldState, GstState newState);
    void OnPrerolled();
    void OnBuffering(int percent);
    void OnClockLost();
    void OnAudible();
    void OnStarved();
    void OnResponseHeaders(int status, const GstStructure* headers);
    void OnTags(const GstTagList* tags);
    void OnIcyTitle(const QByteArray& raw);
    void SetTitle(const QString& title);
    void SetStreamName(const QString& name);

    AudioPipeline& m_pipeline;
    MetafileResolver* m_resolver; // child
    ConnectionCheck* m_check;     // child
    StallWatchdog* m_watchdog;    // child; armed from Playing until the attempt ends
    // child, made when first needed; looks while Reconnecting
    OutputReturn* m_outputReturn = nullptr;
    BitrateMeter m_meter;

    Phase m_phase = Phase::Closed;
    PlayState m_playState = PlayState::Closed;
    PlayState m_phasePlay = PlayState::Closed; // the phase's own, before a pause shows
    bool m_listenerPaused = false;             // see IsPausedByListener
    OpenState m_openState = OpenState::Closed;
    bool m_isError = false;
    std::int32_t m_errorCode = 0;
    QString m_errorDescription;

    // The current open.
    QString m_url;  // as given to Open
    QUrl m_openUrl; // m_url understood as a URL
    std::vector<QUrl> m_candidates;
    std::size_t m_candidate = 0;
    QUrl m_current; // the candidate, or where its redirects led
    RedirectChain m_redirects;
    StreamFailure m_lastFailure;
    bool m_sniffed = false;       // the URL was already fetched as a possible metafile
    bool m_stationIsList = false; // the URL is a list: reconnections may read it again
    bool m_reresolved = false;    // this reconnection read the list again
    int m_lookupId = -1;
    quint64 m_lookupSerial = 0;
    QTimer m_openTimer;
    int m_openTimeoutMs = 20000;

    // What this attempt has learnt from the server.
    int m_bufferPercent = 100;
    quint64 m_bytesAtStarved = 0; // what the source had read when the output went dry
    ServerAnswer m_answer;
    StreamFailureFacts m_pendingFacts; // while Diagnosing

    // The title announced in the stream's tags (ICY StreamTitle, Vorbis and
    // Opus comments), or read from the ICY metadata as it arrived.
    QString m_title;
    bool m_titleFromIcy = false; // this connection's titles come from its ICY metadata
    QString m_streamName;

    // Reconnection after a drop: attempt 0 means none is running. After the
    // list of pauses, its last one repeats.
    std::size_t m_reconnectAttempt = 0;
    int m_reconnects = 0;
    std::vector<int> m_reconnectDelaysMs{1000, 2000, 4000, 8000, kMaxReconnectDelayMs};
    QTimer m_reconnectTimer;
    bool m_networkAvailable = true;
    bool m_interrupted = false;       // Interrupted(true) was told for this outage
    bool m_outputMissingTold = false; // the missing output was told on stderr
    QByteArray m_missingDetail;       // the installer's detail of a missing plugin
    bool m_rejoined = false;          // data without audio: this open joined again

    // Sleep: what Suspend closed, and whether the wake was told already.
    bool m_suspendedAfterPlay = false;
    bool m_resumeWanted = false;
};

} // namespace didira
