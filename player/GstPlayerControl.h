#pragma once
// The media player control: a hosted control on a GStreamer playbin that opens
// radio streams (directly or through metafiles), plays them to the audio sink,
// reconnects after a drop and answers the player's late-bound calls.
//
// State contract (all on the UI thread, reported as the calls read it):
//   play state: 8 nothing open, 3 waiting (opening, buffering, reconnecting),
//               2 playing, 0 stopped by Stop (the stream stays open).
//   open state: 0 closed (initially, after Cancel, after a fatal error),
//               1 reading a metafile, 3 looking up the server, 4 connecting,
//               5 opening the stream or buffering, 6 open.
// A failed open, or a reconnection that gives up, sets the error state and
// shows one message box naming the URL and the reason. Stop and Cancel end
// every pending network wait and never lead to a reconnection.

#include "player/ControlHost.h"
#include "player/GstHandle.h"
#include "player/MetafileResolver.h"

#include <QElapsedTimer>
#include <QTimer>
#include <QUrl>
#include <atomic>
#include <memory>
#include <vector>

namespace didira {

struct PlayerBusRelay;

// Error codes of the control (GetErrorCode).
namespace playererror {
inline constexpr std::int32_t HostNotFound = static_cast<std::int32_t>(0x8004D001u);
inline constexpr std::int32_t ConnectionRefused = static_cast<std::int32_t>(0x8004D002u);
inline constexpr std::int32_t HttpStatus = static_cast<std::int32_t>(0x8004D003u);
inline constexpr std::int32_t NotAudio = static_cast<std::int32_t>(0x8004D004u);
inline constexpr std::int32_t Timeout = static_cast<std::int32_t>(0x8004D005u);
inline constexpr std::int32_t Metafile = static_cast<std::int32_t>(0x8004D006u);
inline constexpr std::int32_t StreamLost = static_cast<std::int32_t>(0x8004D007u);
inline constexpr std::int32_t Unsupported = static_cast<std::int32_t>(0x8004D008u);
inline constexpr std::int32_t Network = static_cast<std::int32_t>(0x8004D009u);
inline constexpr std::int32_t InvalidArgument = static_cast<std::int32_t>(0x80070057u);
} // namespace playererror

class CGstPlayerControl final : public OleControl {
    Q_OBJECT
public:
    // The class id under which the control is registered.
    static constexpr char kClsid[] = "{22D6F312-B0F6-11D0-94AB-0080C74C7E95}";
    // Environment variable naming a GStreamer sink description that replaces
    // the default audio sink (e.g. "fakesink sync=true").
    static constexpr char kAudioSinkVariable[] = "DIDIRA_AUDIO_SINK";

    // Factory for the control host: builds the pipeline and loads the
    // persisted properties; fails with a reason when a GStreamer element is
    // missing or the stream is malformed.
    static ControlCreation Create(QWidget* parent, std::span<const std::byte> stream);

    ~CGstPlayerControl() override;
    Q_DISABLE_COPY_MOVE(CGstPlayerControl)

    Variant Invoke(DispId id, InvokeKind kind, std::span<const Variant> args) override;

    // Tuning and inspection for tests and the benchmark (not dispatch members).
    void SetOpenTimeout(int ms) { m_openTimeoutMs = ms; }
    void SetReconnectDelays(std::vector<int> ms) { m_reconnectDelaysMs = std::move(ms); }
    void SetResolverLimits(const MetafileResolver::Limits& limits);
    double PipelineVolumeDb() const; // what the volume element applies
    double PipelinePanorama() const; // audiopanorama's position, -1 .. 1
    int ReconnectCount() const { return m_reconnects; }
    QUrl CurrentStream() const { return m_current; }
    GstElement* Pipeline() const { return m_playbin.get(); }

signals:
    // Emitted on the UI thread when the first decoded audio reaches the sink
    // after an Open (for the benchmark).
    void FirstAudio();

protected:
    bool event(QEvent* e) override;

private:
    explicit CGstPlayerControl(QWidget* parent);
    bool Build(QString* error);
    void LoadPersisted(const struct PersistedState& state);

    // Commands.
    void Open(const QString& url);
    void Stop();
    void Cancel();
    void SetVolume(std::int32_t hundredthsDb);
    void SetBalance(std::int32_t hundredthsDb);

    // Open sequence.
    void Teardown();
    void StartResolve(const QUrl& url, bool sniffing);
    void OnResolved(const ResolveOutcome& outcome);
    void TryCandidate();
    void StartPipeline();
    void CandidateFailed(std::int32_t code, const QString& reason, bool mayBeMetafile);
    void ScheduleReconnect(const QString& reason);
    void FailOpen(std::int32_t code, const QString& reason, bool lost);
    void StreamDropped(const QString& reason);

    // Pipeline events, on the UI thread.
    void HandleMessage(GstMessage* message);
    void HandleError(GstMessage* message);
    void HandleHeaders(const GstStructure* s);
    void HandleTags(GstMessage* message);
    void SetPipelineState(GstState state);
    void BecameOpen();
    void UpdateMeasuredRate();
    void ApplyVolume();
    void ApplyBalance();

    // Pipeline.
    gst::ElementPtr m_playbin;
    gst::ElementPtr m_volumeElement;
    gst::ElementPtr m_panoramaElement;
    std::shared_ptr<PlayerBusRelay> m_relay;

    // Properties.
    bool m_playOnOpen = false;
    std::int32_t m_volume = 0;  // hundredths of dB, -10000 .. 0
    std::int32_t m_balance = 0; // hundredths of dB, -10000 .. 10000
    std::int32_t m_playState = 8;
    std::int32_t m_openState = 0;
    bool m_isError = false;
    std::int32_t m_errorCode = 0;
    QString m_errorDescription;

    // The current open.
    QString m_url;  // as given to Open
    QUrl m_openUrl; // m_url understood as a URL
    std::vector<QUrl> m_candidates;
    std::size_t m_candidate = 0;
    QUrl m_current;
    QString m_lastReason;
    std::int32_t m_lastCode = 0;
    bool m_sniffed = false;  // the URL was already fetched as a possible metafile
    bool m_sniffing = false; // the running resolution is such a fetch
    bool m_opened = false;   // this candidate has played since its last connect
    bool m_prerolled = false;
    bool m_buffering = false;
    bool m_wantPlay = false;
    bool m_firstAudio = false;
    int m_lookupId = -1;
    quint64 m_lookupSerial = 0;
    MetafileResolver* m_resolver = nullptr; // child
    QTimer m_openTimer;
    int m_openTimeoutMs = 20000;

    // Reconnection after a drop.
    bool m_reconnecting = false;
    std::size_t m_reconnectAttempt = 0;
    int m_reconnects = 0;
    std::vector<int> m_reconnectDelaysMs{1000, 2000, 4000, 8000, 8000, 8000};
    QTimer m_reconnectTimer;

    // Bandwidth.
    std::int32_t m_nominalBitrate = 0;
    std::int32_t m_tagBitrate = 0;
    std::int32_t m_icyBitrate = 0;
    std::int32_t m_measuredBitrate = 0;
    quint64 m_lastBytes = 0;
    QElapsedTimer m_rateClock;
    QTimer m_rateTimer;
};

} // namespace didira
