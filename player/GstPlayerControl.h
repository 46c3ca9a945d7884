#pragma once
// The media player control: the hosted control that answers the player's
// late-bound calls. It holds the properties (play-on-open, volume, balance)
// and passes the commands to its stream session, which does the opening,
// playing and reconnecting on an audio pipeline of its own.
//
// State contract (all on the UI thread, reported as the calls read it): see
// PlayState and OpenState. A failed open sets the error state and is reported
// once to the control's site, posted so that Invoke returns first. A station
// that has played is reconnected until Stop, Cancel or another Open, shown
// as waiting, never reported as a failure.
//
// The dispatch face, the properties and the time shift's lifetime are in
// GstPlayerControl.cpp; pause, the moves in the live buffer and recording
// have their one home in LiveControls.cpp.

#include "control/ControlHost.h"
#include "control/PlayerStates.h"
#include "player/session/MetafileResolver.h"
#include "player/session/StreamErrors.h"
#include "player/timeshift/LiveBuffer.h"

#include <QUrl>
#include <memory>
#include <vector>

typedef struct _GstElement GstElement;

namespace didira {

class AudioPipeline;
class Recorder;
class StreamSession;
class TimeShift;
struct PersistedState;
class PluginInstaller;

class CGstPlayerControl final : public OleControl {
    Q_OBJECT
public:
    // Environment variable naming a GStreamer sink description that replaces
    // the default audio sink (e.g. "fakesink sync=true").
    static constexpr char kAudioSinkVariable[] = "DIDIRA_AUDIO_SINK";
    // Minutes of a live station kept for pause and going back (0: none).
    static constexpr char kLiveBufferVariable[] = "DIDIRA_LIVE_BUFFER_MINUTES";
    static constexpr int kMaxLiveBufferMinutes = 24 * 60;

    // Factory for the control host: builds the pipeline and loads the
    // persisted properties; fails with a reason when a GStreamer element is
    // missing or the stream is malformed.
    static ControlCreation Create(QWidget* parent, std::span<const std::byte> stream);

    ~CGstPlayerControl() override;
    Q_DISABLE_COPY_MOVE(CGstPlayerControl)

    Variant Invoke(DispId id, InvokeKind kind, std::span<const Variant> args) override;
    void Suspend() override;
    void Resume() override;
    void SetNetworkAvailable(bool available) override;
    bool Pause() override;
    bool Unpause() override;
    bool SeekBy(qint64 ms) override;
    bool SeekTo(qint64 ms) override;
    bool GoLive() override;
    bool CanSeek() const override;
    qint64 PositionMs() const override;
    qint64 BehindLiveMs() const override;
    QString LiveProblem() const override;
    bool StartRecording(const QString& station, RecordingReply reply) override;
    bool StopRecording() override;
    bool IsRecording() const override { return m_recorder != nullptr; }
    bool SaveLast(const QString& station, qint64 ms, SaveReply reply) override;

    // Tuning and inspection for tests and the benchmark (not dispatch members).
    void SetOpenTimeout(int ms);
    void SetReconnectDelays(std::vector<int> ms);
    void SetResolverLimits(const MetafileResolver::Limits& limits);
    void SetStallTimeout(int ms); // no audio this long while playing is a drop
    // Where the live buffer of later opens is kept, and how much.
    void SetTimeShiftLimits(const QString& root, const LiveBuffer::Limits& limits);
    // Where recordings go (empty: DefaultRecordingFolder).
    void SetRecordingFolder(const QString& folder) { m_recordFolder = folder; }
    // The live buffer of this open; null before the first open and after Stop or Cancel.
    std::shared_ptr<TimeShift> CurrentTimeShift() const { return m_timeShift; }
    double PipelineVolumeDb() const; // what the volume element applies
    double PipelinePanorama() const; // audiopanorama's position, -1 .. 1
    int ReconnectCount() const;
    QUrl CurrentStream() const;
    GstElement* Pipeline() const;

signals:
    // Emitted on the UI thread when the output first plays audio after an
    // Open (for the benchmark).
    void FirstAudio();

private:
    CGstPlayerControl(QWidget* parent, std::unique_ptr<AudioPipeline> pipeline);
    void LoadPersisted(const PersistedState& state);
    void ReportFailure(const QString& text);

    // The members of Invoke by kind, once the call's kind and argument count
    // are checked.
    Variant GetProperty(DispId id) const;
    void PutProperty(DispId id, const Variant& value);
    void CallMethod(DispId id, std::span<const Variant> args);

    void SetVolume(std::int32_t hundredthsDb);
    void SetBalance(std::int32_t hundredthsDb);
    void ApplyVolume();
    void ApplyBalance();
    // A new live buffer for an open, or none (Stop, Cancel).
    void RenewTimeShift(bool open);
    // Announces a move that was made (Moved); returns moved.
    bool NoteMove(bool moved);
    // The live buffer to record from; null when nothing of a live station is kept.
    std::shared_ptr<const LiveBuffer> RecordableBuffer() const;
    // Ends the recording (its last writes away from the UI thread); tell:
    // signals RecordingChanged.
    void DropRecorder(bool tell = true);

    std::unique_ptr<AudioPipeline> m_pipeline;
    StreamSession* m_session;     // child
    PluginInstaller* m_installer; // child

    std::int32_t m_volume = 0;  // hundredths of dB, -10000 .. 0
    std::int32_t m_balance = 0; // hundredths of dB, -10000 .. 10000

    QString m_timeShiftRoot = LiveBuffer::DefaultRoot();
    LiveBuffer::Limits m_timeShiftLimits;
    std::shared_ptr<TimeShift> m_timeShift; // of the current open
    QString m_recordFolder;
    std::shared_ptr<Recorder> m_recorder; // while recording
    quint64 m_nRecording = 0;             // which recording m_recorder is
};

} // namespace didira
