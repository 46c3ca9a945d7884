#include "player/GstPlayerControl.h"

#include "control/DispatchIds.h"
#include "control/PersistedState.h"
#include "player/engine/AudioPipeline.h"
#include "player/engine/PluginInstaller.h"
#include "player/gst/MediaFramework.h"
#include "player/session/StreamSession.h"
#include "player/timeshift/Recorder.h"
#include "player/timeshift/TimeShift.h"

#include <QCoreApplication>
#include <QPointer>
#include <QThreadPool>
#include <cmath>

namespace didira {

CGstPlayerControl::CGstPlayerControl(QWidget* parent, std::unique_ptr<AudioPipeline> pipeline)
    : OleControl(parent), m_pipeline(std::move(pipeline)),
      m_session(new StreamSession(*m_pipeline, this)), m_installer(new PluginInstaller(this)) {
    // Where the system has an installer, what was missing is offered for
    // installation beside the failure's box; the next open finds it.
    connect(m_session, &StreamSession::PluginMissing, m_installer, &PluginInstaller::Offer);
    connect(m_session, &StreamSession::Failed, this, &CGstPlayerControl::ReportFailure);
    connect(m_session, &StreamSession::TitleChanged, this, &OleControl::TitleChanged);
    connect(m_session, &StreamSession::StreamNameChanged, this, &OleControl::StreamNameChanged);
    connect(m_session, &StreamSession::Interrupted, this, &OleControl::Interrupted);
    connect(m_session, &StreamSession::StateChanged, this, &OleControl::StateChanged);
    connect(m_pipeline.get(), &AudioPipeline::FirstAudio, this, &CGstPlayerControl::FirstAudio);
}

CGstPlayerControl::~CGstPlayerControl() {
    // The session refers to the pipeline: it goes first.
    delete m_session;
    if (m_recorder)
        DropRecorder(false); // nobody to tell
    RenewTimeShift(false);
}

ControlCreation CGstPlayerControl::Create(QWidget* parent, std::span<const std::byte> stream) {
    QString error;
    const auto state = ParsePersistedState(stream, &error);
    if (!state)
        return {nullptr, error};
    if (!StartMediaFramework(&error))
        return {nullptr, error};
    QByteArray sink = qgetenv(kAudioSinkVariable).trimmed();
    if (sink.isEmpty())
        sink = "autoaudiosink";
    auto pipeline = AudioPipeline::Create(sink, &error);
    if (!pipeline)
        return {nullptr, error};
    // Live buffers left by a process that ended without removing them.
    QThreadPool::globalInstance()->start(
        [root = LiveBuffer::DefaultRoot()] { LiveBuffer::RemoveLeftovers(root); });
    auto control =
        std::unique_ptr<CGstPlayerControl>(new CGstPlayerControl(parent, std::move(pipeline)));
    control->LoadPersisted(*state);
    if (const QByteArray minutes = qgetenv(kLiveBufferVariable).trimmed(); !minutes.isEmpty()) {
        bool ok = false;
        const int n = minutes.toInt(&ok);
        if (ok && n >= 0 && n <= kMaxLiveBufferMinutes)
            control->m_timeShiftLimits.window = std::chrono::minutes(n);
        else
            qWarning("didira: %s=%s is not 0 to %d minutes; %d are kept", kLiveBufferVariable,
                     minutes.constData(), kMaxLiveBufferMinutes,
                     int(std::chrono::duration_cast<std::chrono::minutes>(
                             control->m_timeShiftLimits.window)
                             .count()));
    }
    return {control.release(), {}}; // owned by parent from here
}

void CGstPlayerControl::LoadPersisted(const PersistedState& state) {
    auto value = [&](std::size_t position) -> const Variant& {
        return state.values.at(position - 1);
    };
    if (const auto* b = std::get_if<VariantBool>(&value(PersistedState::kAutoStartValue)))
        m_session->playOnOpen = b->value != 0;
    if (const auto* v = std::get_if<std::int32_t>(&value(PersistedState::kVolumeValue));
        v && *v >= -10000 && *v <= 0)
        m_volume = *v;
    if (const auto* v = std::get_if<std::int32_t>(&value(PersistedState::kBalanceValue));
        v && *v >= -10000 && *v <= 10000)
        m_balance = *v;
    ApplyVolume();
    ApplyBalance();
}

void CGstPlayerControl::ReportFailure(const QString& text) {
    // Invoke returns at once: the site hears of it from the event loop.
    QMetaObject::invokeMethod(
        this,
        [this, text] {
            if (IControlSite* site = Site())
                site->ShowControlError(this, text);
        },
        Qt::QueuedConnection);
}

Variant CGstPlayerControl::Invoke(DispId id, InvokeKind kind, std::span<const Variant> args) {
    auto expect = [&](InvokeKind k, std::size_t count) {
        if (kind != k)
            throw DispatchError(kDispMemberNotFound, QString());
        if (args.size() != count)
            throw DispatchError(kDispBadParamCount, QString());
    };
    auto asInt = [&] { return std::get<std::int32_t>(ChangeType(args[0], VarType::I4)); };
    auto asBool = [](bool b) { return Variant{VariantBool{std::int16_t(b ? -1 : 0)}}; };
    auto getOrPut = [&](auto get, auto put) -> Variant {
        if (kind == InvokeKind::PropertyGet) {
            expect(InvokeKind::PropertyGet, 0);
            return get();
        }
        expect(InvokeKind::PropertyPut, 1);
        put();
        return std::monostate{};
    };

    switch (id) {
    case dispid::Bandwidth:
        expect(InvokeKind::PropertyGet, 0);
        return m_session->Bandwidth();
    case dispid::PlayOnOpen:
        return getOrPut([&] { return asBool(m_session->playOnOpen); },
                        [&] {
                            m_session->playOnOpen =
                                std::get<VariantBool>(ChangeType(args[0], VarType::Bool)).value;
                        });
    case dispid::OpenState:
        expect(InvokeKind::PropertyGet, 0);
        return ToNumber(m_session->GetOpenState());
    case dispid::PlayState:
        expect(InvokeKind::PropertyGet, 0);
        return ToNumber(m_session->GetPlayState());
    case dispid::IsError:
        expect(InvokeKind::PropertyGet, 0);
        return asBool(m_session->IsError());
    case dispid::ErrorDescription:
        expect(InvokeKind::PropertyGet, 0);
        return m_session->ErrorDescription();
    case dispid::ErrorCode:
        expect(InvokeKind::PropertyGet, 0);
        return m_session->ErrorCode();
    case dispid::Volume:
        return getOrPut([&] { return Variant{m_volume}; }, [&] { SetVolume(asInt()); });
    case dispid::Balance:
        return getOrPut([&] { return Variant{m_balance}; }, [&] { SetBalance(asInt()); });
    case dispid::Stop:
        expect(InvokeKind::Method, 0);
        m_session->Stop();
        RenewTimeShift(false);
        return std::monostate{};
    case dispid::Cancel:
        expect(InvokeKind::Method, 0);
        m_session->Cancel();
        RenewTimeShift(false);
        return std::monostate{};
    case dispid::Open: {
        expect(InvokeKind::Method, 1);
        const QString url = std::get<QString>(ChangeType(args[0], VarType::BStr));
        RenewTimeShift(true);
        m_session->Open(url);
        return std::monostate{};
    }
    default:
        throw DispatchError(kDispMemberNotFound, QString());
    }
}

void CGstPlayerControl::Suspend() {
    // The station comes back at the live edge, or paused where it was.
    if (m_timeShift && !m_session->IsPausedByListener())
        m_timeShift->GoLive();
    m_session->Suspend();
}

void CGstPlayerControl::Resume() {
    m_session->Resume();
}

void CGstPlayerControl::SetNetworkAvailable(bool available) {
    m_session->SetNetworkAvailable(available);
}

// ---- Pause and moves in the live buffer --------------------------------------

void CGstPlayerControl::RenewTimeShift(bool open) {
    StopRecording();
    m_pipeline->SetTimeShift(nullptr);
    // The buffer's files go away from the UI thread, once no recording
    // reads them (a tap may still hold the shift, on a streaming thread).
    if (m_timeShift)
        QThreadPool::globalInstance()->start([shift = std::move(m_timeShift)]() mutable {
            shift->Close();
            shift.reset();
        });
    m_timeShift.reset();
    if (!open || m_timeShiftLimits.window <= std::chrono::milliseconds::zero())
        return;
    m_timeShift = TimeShift::Create(m_timeShiftRoot, m_timeShiftLimits);
    m_pipeline->SetTimeShift(m_timeShift);
}

bool CGstPlayerControl::Pause() {
    if (m_session->GetPlayState() == PlayState::Paused)
        return true;
    if (!CanSeek() || !m_session->Pause(true))
        return false;
    m_timeShift->Pause();
    return true;
}

bool CGstPlayerControl::Unpause() {
    if (m_session->GetPlayState() != PlayState::Paused)
        return m_session->GetPlayState() == PlayState::Playing;
    bool fromOldest = false;
    if (m_timeShift)
        m_timeShift->Unpause(&fromOldest);
    if (fromOldest) {
        qWarning("didira: the paused place is no longer kept; playing on from the oldest audio "
                 "kept");
        emit Moved();
        emit PlaybackNotice(QStringLiteral(
            "一時停止した位置はもう残っていないため、残っている最も古い位置から再生します。"));
    }
    return m_session->Pause(false);
}

bool CGstPlayerControl::SeekBy(qint64 ms) {
    return CanSeek() && NoteMove(m_timeShift->SeekBy(ms));
}

bool CGstPlayerControl::SeekTo(qint64 ms) {
    return CanSeek() && NoteMove(m_timeShift->SeekTo(ms));
}

bool CGstPlayerControl::GoLive() {
    if (!CanSeek())
        return false;
    NoteMove(m_timeShift->GoLive());
    // Live now, also while the output waits for the new place.
    return m_session->GetPlayState() != PlayState::Paused || Unpause();
}

bool CGstPlayerControl::NoteMove(bool moved) {
    if (moved)
        emit Moved();
    return moved;
}

bool CGstPlayerControl::CanSeek() const {
    const PlayState state = m_session->GetPlayState();
    // Waiting: resuming, starved or reconnecting after it played (a buffer
    // that works has kept what was received).
    return m_timeShift && m_timeShift->Works() &&
           (state == PlayState::Playing || state == PlayState::Paused ||
            state == PlayState::Waiting);
}

qint64 CGstPlayerControl::PositionMs() const {
    return m_timeShift ? m_timeShift->PositionMs() : 0;
}

qint64 CGstPlayerControl::BehindLiveMs() const {
    return m_timeShift ? m_timeShift->BehindMs() : 0;
}

QString CGstPlayerControl::LiveProblem() const {
    return m_timeShift ? m_timeShift->Error() : QString();
}

// ---- Recording -------------------------------------------------------------

namespace {

// Calls reply on the UI thread.
void PostReply(const OleControl::RecordingReply& reply, const QString& error) {
    QMetaObject::invokeMethod(
        QCoreApplication::instance(), [reply, error] { reply(error); }, Qt::QueuedConnection);
}

} // namespace

std::shared_ptr<const LiveBuffer> CGstPlayerControl::RecordableBuffer() const {
    return CanSeek() ? m_timeShift->Buffer() : nullptr;
}

bool CGstPlayerControl::StartRecording(const QString& station, RecordingReply reply) {
    if (m_recorder) {
        PostReply(reply, {});
        return true;
    }
    std::shared_ptr<const LiveBuffer> buffer = RecordableBuffer();
    if (!buffer)
        return false;
    const quint64 recording = ++m_nRecording;
    // The recorder's reports come on its thread.
    const QPointer<CGstPlayerControl> self(this);
    const auto ended = [self, recording](const QString& error) {
        if (!self)
            return;
        if (self->m_nRecording == recording && self->m_recorder)
            self->DropRecorder();
        emit self->RecordingFailed(error);
    };
    auto started = [reply, ended](const QString& error) {
        PostReply(
            [reply, ended](const QString& e) {
                if (!e.isEmpty())
                    ended(e);
                reply(e);
            },
            error);
    };
    auto failed = [ended](const QString& error) { PostReply(ended, error); };
    m_recorder = std::make_shared<Recorder>(std::move(buffer), m_recordFolder, station,
                                            std::move(started), std::move(failed));
    emit RecordingChanged(true);
    return true;
}

bool CGstPlayerControl::StopRecording() {
    if (!m_recorder)
        return false;
    DropRecorder();
    return true;
}

void CGstPlayerControl::DropRecorder(bool tell) {
    m_recorder->Stop();
    QThreadPool::globalInstance()->start(
        [recorder = std::move(m_recorder)]() mutable { recorder.reset(); });
    m_recorder.reset();
    if (tell)
        emit RecordingChanged(false);
}

bool CGstPlayerControl::SaveLast(const QString& station, qint64 ms, SaveReply reply) {
    std::shared_ptr<const LiveBuffer> buffer = RecordableBuffer();
    if (!buffer)
        return false;
    const QPointer<CGstPlayerControl> self(this);
    QThreadPool::globalInstance()->start(
        [buffer = std::move(buffer), station, ms, folder = m_recordFolder, self, reply] {
            const qint64 end = buffer->End();
            const qint64 newest = buffer->TimeAt(end - 1);
            const qint64 from = buffer->OffsetAt(newest - ms);
            SavedAudio saved;
            const QString error =
                Recorder::SaveRange(*buffer, from, end, folder, station, &saved.files);
            if (error.isEmpty())
                saved.ms = std::clamp<qint64>(newest - buffer->TimeAt(from), 0, ms);
            QMetaObject::invokeMethod(
                QCoreApplication::instance(),
                [self, reply, error, saved] {
                    if (self && !error.isEmpty())
                        emit self->RecordingFailed(error);
                    reply(error, saved);
                },
                Qt::QueuedConnection);
        });
    return true;
}

// ---- Volume and balance ----------------------------------------------------

void CGstPlayerControl::SetVolume(std::int32_t hundredthsDb) {
    if (hundredthsDb < -10000 || hundredthsDb > 0)
        throw DispatchError(playererror::InvalidArgument,
                            QStringLiteral("音量は -10000 から 0 の範囲で指定してください。"));
    m_volume = hundredthsDb;
    ApplyVolume();
}

void CGstPlayerControl::SetBalance(std::int32_t hundredthsDb) {
    if (hundredthsDb < -10000 || hundredthsDb > 10000)
        throw DispatchError(
            playererror::InvalidArgument,
            QStringLiteral("バランスは -10000 から 10000 の範囲で指定してください。"));
    m_balance = hundredthsDb;
    ApplyBalance();
}

void CGstPlayerControl::ApplyVolume() {
    // -10000 (-100 dB) is as good as silence: mute instead of a tiny gain.
    const double linear = m_volume <= -10000 ? 0.0 : std::pow(10.0, m_volume / 2000.0);
    m_pipeline->SetVolume(linear);
}

void CGstPlayerControl::ApplyBalance() {
    // The balance attenuates the other channel by |balance| hundredths of dB;
    // simple panning scales the other channel by 1 - |panorama|.
    const double otherGain =
        std::abs(m_balance) >= 10000 ? 0.0 : std::pow(10.0, -std::abs(m_balance) / 2000.0);
    m_pipeline->SetPanorama(
        static_cast<float>(m_balance < 0 ? -(1.0 - otherGain) : (1.0 - otherGain)));
}

// ---- Tuning and inspection -------------------------------------------------

void CGstPlayerControl::SetOpenTimeout(int ms) {
    m_session->SetOpenTimeout(ms);
}

void CGstPlayerControl::SetReconnectDelays(std::vector<int> ms) {
    m_session->SetReconnectDelays(std::move(ms));
}

void CGstPlayerControl::SetResolverLimits(const MetafileResolver::Limits& limits) {
    m_session->SetResolverLimits(limits);
}

void CGstPlayerControl::SetTimeShiftLimits(const QString& root, const LiveBuffer::Limits& limits) {
    m_timeShiftRoot = root;
    m_timeShiftLimits = limits;
}

void CGstPlayerControl::SetStallTimeout(int ms) {
    m_session->SetStallTimeout(ms);
}

double CGstPlayerControl::PipelineVolumeDb() const {
    return m_pipeline->VolumeDb();
}

double CGstPlayerControl::PipelinePanorama() const {
    return m_pipeline->Panorama();
}

int CGstPlayerControl::ReconnectCount() const {
    return m_session->ReconnectCount();
}

QUrl CGstPlayerControl::CurrentStream() const {
    return m_session->CurrentStream();
}

GstElement* CGstPlayerControl::Pipeline() const {
    return m_pipeline->Element();
}

} // namespace didira
