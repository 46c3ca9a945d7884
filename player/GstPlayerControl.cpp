#include "player/GstPlayerControl.h"

#include "control/DispatchIds.h"
#include "control/PersistedState.h"
#include "player/AudioPipeline.h"
#include "player/MediaFramework.h"
#include "player/PluginInstaller.h"
#include "player/StreamSession.h"

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
    auto control =
        std::unique_ptr<CGstPlayerControl>(new CGstPlayerControl(parent, std::move(pipeline)));
    control->LoadPersisted(*state);
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
        return std::monostate{};
    case dispid::Cancel:
        expect(InvokeKind::Method, 0);
        m_session->Cancel();
        return std::monostate{};
    case dispid::Open:
        expect(InvokeKind::Method, 1);
        m_session->Open(std::get<QString>(ChangeType(args[0], VarType::BStr)));
        return std::monostate{};
    default:
        throw DispatchError(kDispMemberNotFound, QString());
    }
}

void CGstPlayerControl::Suspend() {
    m_session->Suspend();
}

void CGstPlayerControl::Resume() {
    m_session->Resume();
}

void CGstPlayerControl::SetNetworkAvailable(bool available) {
    m_session->SetNetworkAvailable(available);
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
