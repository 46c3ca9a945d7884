#include "player/GstPlayerControl.h"

#include "player/MetafileParser.h"
#include "player/PersistedState.h"
#include "ui/MessageBox.h"

#include <QCoreApplication>
#include <QEvent>
#include <QHostInfo>
#include <QLoggingCategory>
#include <QRegularExpression>
#include <cmath>
#include <mutex>

namespace didira {

// Engine errors in detail: QT_LOGGING_RULES="didira.player.debug=true".
Q_LOGGING_CATEGORY(lcPlayer, "didira.player", QtWarningMsg)

// Carries bus messages from GStreamer's threads to the control on the UI
// thread. Shared with the bus handler and the pad probes, which may still run
// while the control tears the pipeline down.
struct PlayerBusRelay {
    std::mutex mutex;
    QObject* target = nullptr; // cleared before the control goes away
    GstObject* pipeline = nullptr;
    std::atomic<quint64> generation{1}; // bumped after each teardown
    std::atomic<quint64> bytes{0};      // bytes read by the network source
    std::atomic<bool> audioSeen{false};
};

namespace {

const QEvent::Type kBusEventType = static_cast<QEvent::Type>(QEvent::registerEventType());

// A bus message posted to the UI thread, stamped with the pipeline run it came
// from; messages of an earlier run are dropped on arrival.
class BusEvent final : public QEvent {
public:
    BusEvent(GstMessage* message, quint64 generation)
        : QEvent(kBusEventType), m_message(message), m_generation(generation) {}
    GstMessage* message() const { return m_message.get(); }
    quint64 generation() const { return m_generation; }

private:
    gst::MessagePtr m_message;
    quint64 m_generation;
};

// Runs on whichever thread posts the message: only schedules work. The bus
// hands over its reference with every message the handler drops, and a
// message holds its source element alive: each one is released here.
GstBusSyncReply SyncHandler(GstBus*, GstMessage* message, gpointer data) {
    gst::MessagePtr owned(message);
    PlayerBusRelay& relay = **static_cast<std::shared_ptr<PlayerBusRelay>*>(data);
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
        QCoreApplication::postEvent(relay.target,
                                    new BusEvent(owned.release(), relay.generation.load()));
    return GST_BUS_DROP;
}

void DeleteRelayRef(gpointer data) {
    delete static_cast<std::shared_ptr<PlayerBusRelay>*>(data);
}

GstPadProbeReturn CountBytes(GstPad*, GstPadProbeInfo* info, gpointer data) {
    auto* relay = static_cast<PlayerBusRelay*>(data);
    if (info->type & GST_PAD_PROBE_TYPE_BUFFER)
        relay->bytes += gst_buffer_get_size(GST_PAD_PROBE_INFO_BUFFER(info));
    else if (info->type & GST_PAD_PROBE_TYPE_BUFFER_LIST)
        relay->bytes += gst_buffer_list_calculate_size(GST_PAD_PROBE_INFO_BUFFER_LIST(info));
    return GST_PAD_PROBE_OK;
}

GstPadProbeReturn SeeFirstAudio(GstPad* pad, GstPadProbeInfo*, gpointer data) {
    auto* relay = static_cast<PlayerBusRelay*>(data);
    if (!relay->audioSeen.exchange(true)) {
        GstObject* bin = GST_OBJECT_PARENT(pad);
        if (bin)
            gst_element_post_message(
                GST_ELEMENT(bin),
                gst_message_new_application(bin, gst_structure_new_empty("didira-first-audio")));
    }
    return GST_PAD_PROBE_OK;
}

bool HasProperty(gpointer object, const char* name) {
    return g_object_class_find_property(G_OBJECT_GET_CLASS(object), name) != nullptr;
}

// Configures the network source that playbin made: the control does its own
// retrying, and counts what the source reads for the measured bit rate.
void OnSourceSetup(GstElement*, GstElement* source, gpointer data) {
    if (HasProperty(source, "user-agent"))
        g_object_set(source, "user-agent", "Vavaroz/1.0", nullptr);
    if (HasProperty(source, "iradio-mode"))
        g_object_set(source, "iradio-mode", TRUE, nullptr);
    if (HasProperty(source, "retries"))
        g_object_set(source, "retries", 0, nullptr);
    if (HasProperty(source, "timeout"))
        g_object_set(source, "timeout", 15u, nullptr);
    gst::PadPtr pad(gst_element_get_static_pad(source, "src"));
    if (pad)
        gst_pad_add_probe(pad.get(),
                          static_cast<GstPadProbeType>(GST_PAD_PROBE_TYPE_BUFFER |
                                                       GST_PAD_PROBE_TYPE_BUFFER_LIST),
                          CountBytes, data, nullptr);
}

// Play flags of playbin: audio with software volume, no video, no subtitles.
constexpr guint kPlayFlagAudio = 0x2;
constexpr guint kPlayFlagSoftVolume = 0x10;

bool IsNetworkUrl(const QUrl& url) {
    const QString s = url.scheme().toLower();
    return s == u"http" || s == u"https" || s == u"rtsp";
}

bool IsHttpUrl(const QUrl& url) {
    const QString s = url.scheme().toLower();
    return s == u"http" || s == u"https";
}

std::int32_t CodeOf(ResolveError error) {
    switch (error) {
    case ResolveError::HostNotFound:
        return playererror::HostNotFound;
    case ResolveError::ConnectionRefused:
        return playererror::ConnectionRefused;
    case ResolveError::HttpStatus:
        return playererror::HttpStatus;
    case ResolveError::Timeout:
        return playererror::Timeout;
    case ResolveError::Network:
        return playererror::Network;
    default:
        return playererror::Metafile;
    }
}

} // namespace

CGstPlayerControl::CGstPlayerControl(QWidget* parent)
    : OleControl(parent), m_relay(std::make_shared<PlayerBusRelay>()),
      m_resolver(new MetafileResolver(this)) {
    m_relay->target = this;
    m_openTimer.setSingleShot(true);
    connect(&m_openTimer, &QTimer::timeout, this, [this] {
        CandidateFailed(playererror::Timeout, QStringLiteral("サーバーが応答しません。"), false);
    });
    m_reconnectTimer.setSingleShot(true);
    connect(&m_reconnectTimer, &QTimer::timeout, this, [this] {
        ++m_reconnects;
        TryCandidate();
    });
    m_rateTimer.setInterval(1000);
    connect(&m_rateTimer, &QTimer::timeout, this, &CGstPlayerControl::UpdateMeasuredRate);
    connect(m_resolver, &MetafileResolver::Finished, this, &CGstPlayerControl::OnResolved);
}

CGstPlayerControl::~CGstPlayerControl() {
    m_resolver->disconnect(this);
    m_resolver->Abort();
    {
        std::lock_guard lock(m_relay->mutex);
        m_relay->target = nullptr;
    }
    if (m_lookupId >= 0)
        QHostInfo::abortHostLookup(m_lookupId);
    if (m_playbin) {
        gst_element_set_state(m_playbin.get(), GST_STATE_NULL);
        gst::BusPtr bus(gst_element_get_bus(m_playbin.get()));
        gst_bus_set_sync_handler(bus.get(), nullptr, nullptr, nullptr);
    }
}

ControlCreation CGstPlayerControl::Create(QWidget* parent, std::span<const std::byte> stream) {
    QString error;
    const auto state = ParsePersistedState(stream, &error);
    if (!state)
        return {nullptr, error};
    GError* rawError = nullptr;
    if (!gst_init_check(nullptr, nullptr, &rawError)) {
        gst::ErrorPtr initError(rawError);
        return {nullptr, QStringLiteral("GStreamer cannot start: %1")
                             .arg(QString::fromUtf8(initError ? initError->message : "?"))};
    }
    auto control = std::unique_ptr<CGstPlayerControl>(new CGstPlayerControl(parent));
    if (!control->Build(&error))
        return {nullptr, error};
    control->LoadPersisted(*state);
    return {control.release(), {}}; // owned by parent from here
}

bool CGstPlayerControl::Build(QString* error) {
    QByteArray sink = qgetenv(kAudioSinkVariable).trimmed();
    if (sink.isEmpty())
        sink = "autoaudiosink";
    for (const char* name :
         {"playbin", "audioconvert", "audioresample", "audiopanorama", "volume", "souphttpsrc"}) {
        gst::ObjectUnref unref;
        GstElementFactory* factory = gst_element_factory_find(name);
        if (!factory) {
            *error = QStringLiteral("the GStreamer element \"%1\" is missing").arg(name);
            return false;
        }
        unref(factory);
    }

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
        return false;
    }
    gst::ElementPtr bin(GST_ELEMENT(gst_object_ref_sink(sinkBin)));
    m_volumeElement.reset(gst_bin_get_by_name(GST_BIN(bin.get()), "didira-volume"));
    m_panoramaElement.reset(gst_bin_get_by_name(GST_BIN(bin.get()), "didira-balance"));
    gst::PadPtr sinkPad(gst_element_get_static_pad(bin.get(), "sink"));
    if (!m_volumeElement || !m_panoramaElement || !sinkPad) {
        *error = QStringLiteral("the audio sink bin is incomplete");
        return false;
    }
    gst_pad_add_probe(sinkPad.get(), GST_PAD_PROBE_TYPE_BUFFER, SeeFirstAudio, m_relay.get(),
                      nullptr);

    GstElement* playbin = gst_element_factory_make("playbin", "didira-player");
    if (!playbin) {
        *error = QStringLiteral("the GStreamer element \"playbin\" cannot be made");
        return false;
    }
    m_playbin.reset(GST_ELEMENT(gst_object_ref_sink(playbin)));
    g_object_set(m_playbin.get(), "audio-sink", bin.get(), "flags",
                 kPlayFlagAudio | kPlayFlagSoftVolume, nullptr);
    g_signal_connect(m_playbin.get(), "source-setup", G_CALLBACK(OnSourceSetup), m_relay.get());
    m_relay->pipeline = GST_OBJECT(m_playbin.get());
    gst::BusPtr bus(gst_element_get_bus(m_playbin.get()));
    gst_bus_set_sync_handler(bus.get(), SyncHandler, new std::shared_ptr<PlayerBusRelay>(m_relay),
                             DeleteRelayRef);
    return true;
}

void CGstPlayerControl::LoadPersisted(const PersistedState& state) {
    auto value = [&](std::size_t position) -> const Variant& {
        return state.values.at(position - 1);
    };
    if (const auto* b = std::get_if<VariantBool>(&value(PersistedState::kAutoStartValue)))
        m_playOnOpen = b->value != 0;
    if (const auto* v = std::get_if<std::int32_t>(&value(PersistedState::kVolumeValue));
        v && *v >= -10000 && *v <= 0)
        m_volume = *v;
    if (const auto* v = std::get_if<std::int32_t>(&value(PersistedState::kBalanceValue));
        v && *v >= -10000 && *v <= 10000)
        m_balance = *v;
    ApplyVolume();
    ApplyBalance();
}

Variant CGstPlayerControl::Invoke(DispId id, InvokeKind kind, std::span<const Variant> args) {
    auto expect = [&](InvokeKind k, std::size_t count) {
        if (kind != k)
            throw DispatchError(kDispMemberNotFound, QString());
        if (args.size() != count)
            throw DispatchError(kDispBadParamCount, QString());
    };
    auto asInt = [&] { return std::get<std::int32_t>(ChangeType(args[0], VarType::I4)); };
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
    case 1037: // Bandwidth
        expect(InvokeKind::PropertyGet, 0);
        if (m_openState == 0)
            return std::int32_t{0};
        if (m_nominalBitrate > 0)
            return m_nominalBitrate;
        if (m_tagBitrate > 0)
            return m_tagBitrate;
        if (m_icyBitrate > 0)
            return m_icyBitrate;
        return m_measuredBitrate;
    case 1017: // PlayOnOpen
        return getOrPut([&] { return Variant{VariantBool{std::int16_t(m_playOnOpen ? -1 : 0)}}; },
                        [&] {
                            m_playOnOpen =
                                std::get<VariantBool>(ChangeType(args[0], VarType::Bool)).value;
                        });
    case 1061: // OpenState
        expect(InvokeKind::PropertyGet, 0);
        return m_openState;
    case 1068: // PlayState
        expect(InvokeKind::PropertyGet, 0);
        return m_playState;
    case 1065: // IsError
        expect(InvokeKind::PropertyGet, 0);
        return VariantBool{std::int16_t(m_isError ? -1 : 0)};
    case 1066: // ErrorDescription
        expect(InvokeKind::PropertyGet, 0);
        return m_errorDescription;
    case 1067: // ErrorCode
        expect(InvokeKind::PropertyGet, 0);
        return m_errorCode;
    case 19: // Volume
        return getOrPut([&] { return Variant{m_volume}; }, [&] { SetVolume(asInt()); });
    case 20: // Balance
        return getOrPut([&] { return Variant{m_balance}; }, [&] { SetBalance(asInt()); });
    case 2003:
        expect(InvokeKind::Method, 0);
        Stop();
        return std::monostate{};
    case 2006:
        expect(InvokeKind::Method, 0);
        Cancel();
        return std::monostate{};
    case 2010:
        expect(InvokeKind::Method, 1);
        Open(std::get<QString>(ChangeType(args[0], VarType::BStr)));
        return std::monostate{};
    default:
        throw DispatchError(kDispMemberNotFound, QString());
    }
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
    if (!m_volumeElement)
        return;
    // -10000 (-100 dB) is as good as silence: mute instead of a tiny gain.
    const double linear = m_volume <= -10000 ? 0.0 : std::pow(10.0, m_volume / 2000.0);
    g_object_set(m_volumeElement.get(), "volume", linear, nullptr);
}

void CGstPlayerControl::ApplyBalance() {
    if (!m_panoramaElement)
        return;
    // The balance attenuates the other channel by |balance| hundredths of dB;
    // simple panning scales the other channel by 1 - |panorama|.
    const double otherGain =
        std::abs(m_balance) >= 10000 ? 0.0 : std::pow(10.0, -std::abs(m_balance) / 2000.0);
    const float panorama =
        static_cast<float>(m_balance < 0 ? -(1.0 - otherGain) : (1.0 - otherGain));
    g_object_set(m_panoramaElement.get(), "panorama", panorama, nullptr);
}

double CGstPlayerControl::PipelineVolumeDb() const {
    gdouble linear = 0;
    g_object_get(m_volumeElement.get(), "volume", &linear, nullptr);
    return linear <= 0 ? -HUGE_VAL : 20.0 * std::log10(linear);
}

double CGstPlayerControl::PipelinePanorama() const {
    gfloat panorama = 0;
    g_object_get(m_panoramaElement.get(), "panorama", &panorama, nullptr);
    return panorama;
}

void CGstPlayerControl::SetResolverLimits(const MetafileResolver::Limits& limits) {
    m_resolver->SetLimits(limits);
}

// ---- Commands --------------------------------------------------------------

void CGstPlayerControl::Teardown() {
    m_openTimer.stop();
    m_reconnectTimer.stop();
    m_rateTimer.stop();
    ++m_lookupSerial;
    if (m_lookupId >= 0) {
        QHostInfo::abortHostLookup(m_lookupId);
        m_lookupId = -1;
    }
    // Messages still queued from this run carry the old generation and are
    // dropped when they arrive.
    gst_element_set_state(m_playbin.get(), GST_STATE_NULL);
    ++m_relay->generation;
    m_prerolled = m_buffering = false;
}

void CGstPlayerControl::Open(const QString& url) {
    m_resolver->Abort();
    Teardown();
    m_isError = false;
    m_errorCode = 0;
    m_errorDescription.clear();
    m_reconnecting = false;
    m_reconnectAttempt = 0;
    m_nominalBitrate = m_tagBitrate = m_icyBitrate = m_measuredBitrate = 0;
    m_candidates.clear();
    m_candidate = 0;
    m_current.clear();
    m_openUrl.clear();
    m_sniffed = false;
    m_url = url;

    const QString text = url.trimmed();
    if (text.isEmpty())
        return FailOpen(playererror::InvalidArgument, QStringLiteral("URL が指定されていません。"),
                        false);
    const QUrl parsed = text.contains(u"://")
                            ? QUrl(text, QUrl::TolerantMode)
                            : QUrl::fromUserInput(text, QString(), QUrl::AssumeLocalFile);
    const QString scheme = parsed.scheme().toLower();
    if (!parsed.isValid() || !(IsNetworkUrl(parsed) || scheme == u"file"))
        return FailOpen(playererror::Unsupported,
                        QStringLiteral("対応していないプロトコルです (%1)。").arg(scheme), false);
    if (IsNetworkUrl(parsed) && parsed.host().isEmpty())
        return FailOpen(playererror::InvalidArgument,
                        QStringLiteral("URL にサーバー名がありません。"), false);

    m_openUrl = parsed;
    if (metafile::HasMetafileSuffix(parsed) && scheme != u"rtsp")
        return StartResolve(parsed, false);
    m_candidates = {parsed};
    TryCandidate();
}

void CGstPlayerControl::Stop() {
    m_resolver->Abort();
    Teardown();
    m_reconnecting = false;
    m_wantPlay = false;
    m_playState = 0;
    // The stream stays open: it is what a later play would start again.
    if (m_openState != 0)
        m_openState = 6;
}

void CGstPlayerControl::Cancel() {
    m_resolver->Abort();
    Teardown();
    m_reconnecting = false;
    m_wantPlay = false;
    m_playState = 8;
    m_openState = 0;
    m_url.clear();
    m_candidates.clear();
    m_current.clear();
    m_nominalBitrate = m_tagBitrate = m_icyBitrate = m_measuredBitrate = 0;
}

// ---- Opening ---------------------------------------------------------------

void CGstPlayerControl::StartResolve(const QUrl& url, bool sniffing) {
    m_sniffing = sniffing;
    m_openState = 1;
    m_playState = 3;
    m_resolver->Resolve(url);
}

void CGstPlayerControl::OnResolved(const ResolveOutcome& outcome) {
    const bool sniffing = m_sniffing;
    m_sniffing = false;
    if (sniffing) {
        if (!outcome.streams.empty()) {
            m_candidates.erase(m_candidates.begin() + static_cast<std::ptrdiff_t>(m_candidate));
            m_candidates.insert(m_candidates.begin() + static_cast<std::ptrdiff_t>(m_candidate),
                                outcome.streams.begin(), outcome.streams.end());
            return TryCandidate();
        }
        if (outcome.contentType.contains(u"html", Qt::CaseInsensitive))
            m_lastReason = QStringLiteral("音声ではなく Web ページ (%1) が返されました。")
                               .arg(outcome.contentType);
        else if (outcome.error != ResolveError::NotMetafile)
            m_lastReason = outcome.reason;
        if (++m_candidate < m_candidates.size())
            return TryCandidate();
        return FailOpen(m_lastCode, m_lastReason, false);
    }
    if (outcome.error == ResolveError::NotMetafile) {
        // Named like a metafile but it is the stream itself.
        m_sniffed = true;
        m_candidates = {m_openUrl};
        m_candidate = 0;
        return TryCandidate();
    }
    if (outcome.streams.empty())
        return FailOpen(CodeOf(outcome.error), outcome.reason, false);
    m_candidates = outcome.streams;
    m_candidate = 0;
    TryCandidate();
}

void CGstPlayerControl::TryCandidate() {
    m_current = m_candidates.at(m_candidate);
    m_opened = false;
    m_prerolled = m_buffering = false;
    m_playState = 3;
    m_openTimer.start(m_openTimeoutMs);
    if (!IsNetworkUrl(m_current))
        return StartPipeline();

    m_openState = 3;
    const quint64 serial = ++m_lookupSerial;
    const QString host = m_current.host();
    m_lookupId = QHostInfo::lookupHost(host, this, [this, serial, host](const QHostInfo& info) {
        if (serial != m_lookupSerial)
            return;
        m_lookupId = -1;
        if (info.error() != QHostInfo::NoError || info.addresses().isEmpty())
            return CandidateFailed(playererror::HostNotFound,
                                   QStringLiteral("サーバー %1 が見つかりません。").arg(host),
                                   false);
        StartPipeline();
    });
}

void CGstPlayerControl::StartPipeline() {
    m_openState = IsNetworkUrl(m_current) ? 4 : 5;
    m_relay->bytes = 0;
    m_relay->audioSeen = false;
    m_lastBytes = 0;
    m_firstAudio = false;
    m_wantPlay = m_playOnOpen;
    const QByteArray uri = m_current.toEncoded();
    g_object_set(m_playbin.get(), "uri", uri.constData(), nullptr);
    SetPipelineState(GST_STATE_PAUSED);
    m_rateClock.start();
    m_rateTimer.start();
}

void CGstPlayerControl::CandidateFailed(std::int32_t code, const QString& reason,
                                        bool mayBeMetafile) {
    Teardown();
    m_lastCode = code;
    m_lastReason = reason;
    if (m_reconnecting)
        return ScheduleReconnect(reason);
    // A server may answer an extension-less URL with a playlist: look once.
    if (mayBeMetafile && !m_sniffed && IsHttpUrl(m_current)) {
        m_sniffed = true;
        return StartResolve(m_current, true);
    }
    if (++m_candidate < m_candidates.size())
        return TryCandidate();
    FailOpen(code, reason, false);
}

void CGstPlayerControl::StreamDropped(const QString& reason) {
    m_reconnecting = true;
    m_reconnectAttempt = 0;
    ScheduleReconnect(reason);
}

void CGstPlayerControl::ScheduleReconnect(const QString& reason) {
    Teardown();
    if (m_reconnectAttempt >= m_reconnectDelaysMs.size())
        return FailOpen(playererror::StreamLost, reason, true);
    m_playState = 3;
    m_openState = 4;
    m_reconnectTimer.start(m_reconnectDelaysMs[m_reconnectAttempt++]);
}

void CGstPlayerControl::FailOpen(std::int32_t code, const QString& reason, bool lost) {
    m_resolver->Abort();
    Teardown();
    m_reconnecting = false;
    m_wantPlay = false;
    m_isError = true;
    m_errorCode = code;
    m_errorDescription = reason;
    m_openState = 0;
    m_playState = 8;
    // The station's URL as given, and the stream it led to when that differs.
    QString where = m_url;
    if (!m_current.isEmpty() && m_current != m_openUrl)
        where += QStringLiteral("\nストリーム: ") + m_current.toString();
    const QString text =
        QStringLiteral("%1\n\nURL: %2\n理由: %3")
            .arg(lost ? QStringLiteral("ストリームとの接続が切れ、再接続できませんでした。")
                      : QStringLiteral("ストリームを開けませんでした。"),
                 where, reason);
    // Invoke returns at once: the box is shown from the event loop.
    QMetaObject::invokeMethod(
        this, [this, text] { ShowMessageBox(window(), text, QString(), MbIcon::Stop); },
        Qt::QueuedConnection);
}

void CGstPlayerControl::BecameOpen() {
    m_openTimer.stop();
    m_opened = true;
    m_openState = 6;
    if (m_reconnecting) {
        m_reconnecting = false;
        m_reconnectAttempt = 0;
    }
}

// ---- Pipeline events -------------------------------------------------------

bool CGstPlayerControl::event(QEvent* e) {
    if (e->type() == kBusEventType) {
        auto* bus = static_cast<BusEvent*>(e);
        if (bus->generation() == m_relay->generation.load())
            HandleMessage(bus->message());
        return true;
    }
    return OleControl::event(e);
}

void CGstPlayerControl::SetPipelineState(GstState state) {
    // A failing change posts an error on the bus, handled when it arrives.
    gst_element_set_state(m_playbin.get(), state);
}

void CGstPlayerControl::HandleMessage(GstMessage* message) {
    switch (GST_MESSAGE_TYPE(message)) {
    case GST_MESSAGE_ERROR:
        return HandleError(message);
    case GST_MESSAGE_EOS: {
        qCDebug(lcPlayer) << "end of stream";
        // A file, or a download of known length, has ended; a live stream
        // that ends has dropped.
        gint64 duration = -1;
        const bool finite =
            gst_element_query_duration(m_playbin.get(), GST_FORMAT_TIME, &duration) && duration > 0;
        if (!IsNetworkUrl(m_current) || (m_opened && finite)) {
            // The end of a file: stopped, still open.
            Teardown();
            m_wantPlay = false;
            m_playState = 0;
            return;
        }
        if (m_opened)
            return StreamDropped(QStringLiteral("サーバーがストリームを終了しました。"));
        return CandidateFailed(playererror::Network,
                               QStringLiteral("サーバーがストリームを送らずに接続を閉じました。"),
                               true);
    }
    case GST_MESSAGE_STATE_CHANGED: {
        GstState oldState, newState, pending;
        gst_message_parse_state_changed(message, &oldState, &newState, &pending);
        qCDebug(lcPlayer) << "state" << oldState << "->" << newState;
        if (newState == GST_STATE_PLAYING) {
            m_playState = 2;
            BecameOpen();
        } else if (newState == GST_STATE_PAUSED && oldState == GST_STATE_PLAYING) {
            m_playState = m_wantPlay ? 3 : 0;
        }
        return;
    }
    case GST_MESSAGE_ASYNC_DONE:
        m_prerolled = true;
        if (m_buffering)
            return;
        if (m_wantPlay)
            return SetPipelineState(GST_STATE_PLAYING);
        if (!m_opened) {
            BecameOpen();
            m_playState = 0;
        }
        return;
    case GST_MESSAGE_BUFFERING: {
        gint percent = 0;
        gst_message_parse_buffering(message, &percent);
        qCDebug(lcPlayer) << "buffering" << percent << "from"
                          << GST_OBJECT_NAME(GST_MESSAGE_SRC(message));
        if (percent < 100) {
            if (!m_buffering) {
                m_buffering = true;
                if (m_wantPlay)
                    SetPipelineState(GST_STATE_PAUSED);
            }
            // The network queue reports itself empty before the server has answered.
            if (m_openState != 4 || m_relay->bytes.load() > 0)
                m_openState = 5;
            if (m_wantPlay)
                m_playState = 3;
        } else if (m_buffering) {
            m_buffering = false;
            if (m_opened)
                m_openState = 6;
            if (m_wantPlay && m_prerolled)
                SetPipelineState(GST_STATE_PLAYING);
        }
        return;
    }
    case GST_MESSAGE_CLOCK_LOST:
        if (m_wantPlay) {
            SetPipelineState(GST_STATE_PAUSED);
            SetPipelineState(GST_STATE_PLAYING);
        }
        return;
    case GST_MESSAGE_TAG:
        return HandleTags(message);
    case GST_MESSAGE_ELEMENT: {
        const GstStructure* s = gst_message_get_structure(message);
        if (s && gst_structure_has_name(s, "http-headers"))
            HandleHeaders(s);
        return;
    }
    case GST_MESSAGE_APPLICATION: {
        const GstStructure* s = gst_message_get_structure(message);
        if (s && gst_structure_has_name(s, "didira-first-audio") && !m_firstAudio) {
            m_firstAudio = true;
            emit FirstAudio();
        }
        return;
    }
    default:
        return;
    }
}

void CGstPlayerControl::HandleHeaders(const GstStructure* s) {
    const GValue* value = gst_structure_get_value(s, "response-headers");
    if (!value || !GST_VALUE_HOLDS_STRUCTURE(value))
        return;
    const GstStructure* headers = gst_value_get_structure(value);
    const int fields = gst_structure_n_fields(headers);
    if (fields > 0 && m_openState == 4)
        m_openState = 5; // the server answered
    for (int i = 0; i < fields; ++i) {
        const char* name = gst_structure_nth_field_name(headers, i);
        if (g_ascii_strcasecmp(name, "icy-br") != 0)
            continue;
        const GValue* v = gst_structure_get_value(headers, name);
        if (v && G_VALUE_HOLDS_STRING(v)) {
            // "128" or, from some servers, "128,128".
            const QString text = QString::fromUtf8(g_value_get_string(v)).section(u',', 0, 0);
            bool ok = false;
            const int kbps = text.trimmed().toInt(&ok);
            if (ok && kbps > 0 && kbps < 100000)
                m_icyBitrate = kbps * 1000;
        }
    }
}

void CGstPlayerControl::HandleTags(GstMessage* message) {
    GstTagList* raw = nullptr;
    gst_message_parse_tag(message, &raw);
    std::unique_ptr<GstTagList, decltype(&gst_tag_list_unref)> tags(raw, &gst_tag_list_unref);
    guint bitrate = 0;
    if (gst_tag_list_get_uint(tags.get(), GST_TAG_NOMINAL_BITRATE, &bitrate) && bitrate > 0 &&
        bitrate < 100000000)
        m_nominalBitrate = static_cast<std::int32_t>(bitrate);
    if (gst_tag_list_get_uint(tags.get(), GST_TAG_BITRATE, &bitrate) && bitrate > 0 &&
        bitrate < 100000000)
        m_tagBitrate = static_cast<std::int32_t>(bitrate);
}

void CGstPlayerControl::HandleError(GstMessage* message) {
    GError* raw = nullptr;
    gchar* rawDebug = nullptr;
    gst_message_parse_error(message, &raw, &rawDebug);
    gst::ErrorPtr error(raw);
    gst::CharPtr debug(rawDebug);
    const QString detail = QString::fromUtf8(error ? error->message : "");
    const QString debugText = QString::fromUtf8(debug ? debug.get() : "");

    std::int32_t code = playererror::Network;
    QString reason;
    bool mayBeMetafile = false;
    static const QRegularExpression httpStatus(QStringLiteral("\\((\\d{3})\\)"));
    const auto statusMatch = httpStatus.match(detail);
    const int status = statusMatch.hasMatch() ? statusMatch.captured(1).toInt() : 0;

    // Before the server has answered, any failure of the source means no connection.
    const bool answered = m_openState >= 5 || m_relay->bytes.load() > 0;
    if (IsNetworkUrl(m_current) && !answered && status == 0 &&
        !detail.contains(u"resolve", Qt::CaseInsensitive)) {
        code = playererror::ConnectionRefused;
        reason = QStringLiteral("サーバーに接続できません (接続が拒否されたか、届きません)。");
    } else if (error && error->domain == GST_RESOURCE_ERROR) {
        if (status >= 400) {
            code = playererror::HttpStatus;
            reason = HttpStatusReason(status);
        } else if (error->code == GST_RESOURCE_ERROR_NOT_FOUND && IsNetworkUrl(m_current) &&
                   (detail.contains(u"resolve", Qt::CaseInsensitive))) {
            code = playererror::HostNotFound;
            reason = QStringLiteral("サーバー %1 が見つかりません。").arg(m_current.host());
        } else if (error->code == GST_RESOURCE_ERROR_NOT_FOUND) {
            code = IsNetworkUrl(m_current) ? playererror::HttpStatus : playererror::Network;
            reason = IsNetworkUrl(m_current) ? HttpStatusReason(404)
                                             : QStringLiteral("ファイルが見つかりません。");
        } else if (error->code == GST_RESOURCE_ERROR_OPEN_READ ||
                   error->code == GST_RESOURCE_ERROR_OPEN_READ_WRITE) {
            code = playererror::ConnectionRefused;
            reason = QStringLiteral("サーバーに接続できません (%1)。").arg(detail);
        } else if (error->code == GST_RESOURCE_ERROR_NOT_AUTHORIZED) {
            code = playererror::HttpStatus;
            reason = HttpStatusReason(403);
        } else {
            reason = QStringLiteral("ストリームを読み込めません (%1)。").arg(detail);
        }
    } else if ((error && error->domain == GST_STREAM_ERROR) ||
               (error && error->domain == GST_CORE_ERROR &&
                error->code == GST_CORE_ERROR_MISSING_PLUGIN)) {
        code = playererror::NotAudio;
        reason = QStringLiteral("音声ストリームではないか、対応していない形式です。");
        mayBeMetafile = true;
    } else if (error && error->domain == GST_RESOURCE_ERROR) {
        reason = detail;
    } else {
        // Errors of the audio output or the engine itself.
        code = playererror::Unsupported;
        reason = QStringLiteral("再生できません (%1)。").arg(detail);
    }
    qCDebug(lcPlayer) << "error in open state" << m_openState << detail << debugText;

    if (m_opened && IsNetworkUrl(m_current) && code != playererror::Unsupported)
        return StreamDropped(reason);
    CandidateFailed(code, reason, mayBeMetafile);
}

void CGstPlayerControl::UpdateMeasuredRate() {
    const qint64 elapsed = m_rateClock.restart();
    const quint64 bytes = m_relay->bytes.load();
    const quint64 delta = bytes >= m_lastBytes ? bytes - m_lastBytes : 0;
    m_lastBytes = bytes;
    if (elapsed <= 0 || m_playState != 2)
        return;
    const double rate = static_cast<double>(delta) * 8.0 * 1000.0 / static_cast<double>(elapsed);
    // Smoothed: a server's initial burst must not dominate.
    m_measuredBitrate = m_measuredBitrate == 0
                            ? static_cast<std::int32_t>(rate)
                            : static_cast<std::int32_t>(0.7 * m_measuredBitrate + 0.3 * rate);
}

} // namespace didira
