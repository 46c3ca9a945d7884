#include "player/GstPlayerControl.h"

#include "control/DispatchIds.h"
#include "control/PersistedState.h"
#include "player/engine/AudioPipeline.h"
#include "player/engine/PluginInstaller.h"
#include "player/gst/MediaFramework.h"
#include "player/session/StreamSession.h"
#include "player/timeshift/TimeShift.h"

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

namespace {

// Throws the dispatch error of a call of the wrong kind or argument count.
void Expect(InvokeKind kind, std::span<const Variant> args, InvokeKind wanted, std::size_t count) {
    if (kind != wanted)
        throw DispatchError(kDispMemberNotFound, QString());
    if (args.size() != count)
        throw DispatchError(kDispBadParamCount, QString());
}

Variant AsBool(bool b) {
    return VariantBool{std::int16_t(b ? -1 : 0)};
}

} // namespace

Variant CGstPlayerControl::Invoke(DispId id, InvokeKind kind, std::span<const Variant> args) {
    switch (id) {
    // Read only.
    case dispid::Bandwidth:
    case dispid::OpenState:
    case dispid::PlayState:
    case dispid::IsError:
    case dispid::ErrorDescription:
    case dispid::ErrorCode:
        Expect(kind, args, InvokeKind::PropertyGet, 0);
        return GetProperty(id);
    // Read and written.
    case dispid::PlayOnOpen:
    case dispid::Volume:
    case dispid::Balance:
        if (kind == InvokeKind::PropertyGet) {
            Expect(kind, args, InvokeKind::PropertyGet, 0);
            return GetProperty(id);
        }
        Expect(kind, args, InvokeKind::PropertyPut, 1);
        PutProperty(id, args[0]);
        return std::monostate{};
    // Methods.
    case dispid::Stop:
    case dispid::Cancel:
    case dispid::Open:
        Expect(kind, args, InvokeKind::Method, id == dispid::Open ? 1 : 0);
        CallMethod(id, args);
        return std::monostate{};
    default:
        throw DispatchError(kDispMemberNotFound, QString());
    }
}

Variant CGstPlayerControl::GetProperty(DispId id) const {
    switch (id) {
    case dispid::Bandwidth:
        return m_session->Bandwidth();
    case dispid::OpenState:
        return ToNumber(m_session->GetOpenState());
    case dispid::PlayState:
        return ToNumber(m_session->GetPlayState());
    case dispid::IsError:
        return AsBool(m_session->IsError());
    case dispid::ErrorDescription:
        return m_session->ErrorDescription();
    case dispid::ErrorCode:
        return m_session->ErrorCode();
    case dispid::PlayOnOpen:
        return AsBool(m_session->playOnOpen);
    case dispid::Volume:
        return m_volume;
    case dispid::Balance:
        return m_balance;
    default:
        throw DispatchError(kDispMemberNotFound, QString());
    }
}

void CGstPlayerControl::PutProperty(DispId id, const Variant& value) {
    switch (id) {
    case dispid::PlayOnOpen:
        m_session->playOnOpen = std::get<VariantBool>(ChangeType(value, VarType::Bool)).value;
        break;
    case dispid::Volume:
        SetVolume(std::get<std::int32_t>(ChangeType(value, VarType::I4)));
        break;
    case dispid::Balance:
        SetBalance(std::get<std::int32_t>(ChangeType(value, VarType::I4)));
        break;
    default:
        throw DispatchError(kDispMemberNotFound, QString());
    }
}

void CGstPlayerControl::CallMethod(DispId id, std::span<const Variant> args) {
    switch (id) {
    case dispid::Stop:
        m_session->Stop();
        RenewTimeShift(false);
        break;
    case dispid::Cancel:
        m_session->Cancel();
        RenewTimeShift(false);
        break;
    case dispid::Open: {
        const QString url = std::get<QString>(ChangeType(args[0], VarType::BStr));
        RenewTimeShift(true);
        m_session->Open(url);
        break;
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

// ---- The time shift's lifetime -------------------------------------------

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
