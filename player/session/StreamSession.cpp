#include "player/session/StreamSession.h"

#include "player/formats/MetafileParser.h"
#include "player/formats/StreamText.h"
#include "player/gst/Tags.h"
#include "player/output/OutputFallback.h"
#include "player/output/OutputReturn.h"
#include "player/session/ConnectionCheck.h"
#include "player/session/StallWatchdog.h"
#include "player/session/StreamUrl.h"

#include <QHostAddress>
#include <QHostInfo>
#include <QLoggingCategory>
#include <algorithm>
#include <iterator>
#include <utility>

namespace didira {

// Engine errors in detail: QT_LOGGING_RULES="didira.player.debug=true".
Q_LOGGING_CATEGORY(lcPlayer, "didira.player", QtWarningMsg)

// Bound of the connection check after a failure without answer.
constexpr int kCheckTimeoutMs = 5000;

StreamSession::StreamSession(AudioPipeline& pipeline, QObject* parent)
    : QObject(parent), m_pipeline(pipeline), m_resolver(new MetafileResolver(this)),
      m_check(new ConnectionCheck(this)),
      m_watchdog(new StallWatchdog([this] { return m_pipeline.AudioBuffers(); }, this)),
      m_meter([this] { return m_pipeline.BytesRead(); },
              [this] { return m_phase == Phase::Playing; }) {
    m_openTimer.setSingleShot(true);
    connect(&m_openTimer, &QTimer::timeout, this, [this] {
        StreamFailureFacts facts;
        facts.origin = StreamFailureFacts::Origin::OpenTimer;
        facts.answered = m_pipeline.BytesRead() > 0; // data came, but nothing to play
        // A live stream joined where it cannot be decoded (a chain whose
        // headers were never sent) is joined once more elsewhere.
        if (facts.answered && !m_rejoined && IsNetworkUrl(m_current)) {
            m_rejoined = true;
            EndAttempt();
            return ConnectTo(m_current);
        }
        CandidateFailed(ClassifyStreamFailure(facts));
    });
    m_reconnectTimer.setSingleShot(true);
    connect(&m_reconnectTimer, &QTimer::timeout, this, &StreamSession::Reconnect);
    connect(m_watchdog, &StallWatchdog::Stalled, this, [this] {
        // The stream kept coming while nothing was heard: the output hung.
        qCDebug(lcPlayer) << "stalled;" << m_pipeline.BytesRead() - m_bytesAtStarved
                          << "bytes came since the output went dry";
        if (m_phase == Phase::Starved && m_pipeline.BytesRead() > m_bytesAtStarved + 4096)
            return OutputDropped();
        StreamFailureFacts facts;
        facts.origin = StreamFailureFacts::Origin::Stalled;
        facts.stalledSeconds = m_watchdog->Timeout() / 1000;
        facts.playlist = m_current.path().endsWith(u".m3u8", Qt::CaseInsensitive);
        StreamDropped(ClassifyStreamFailure(facts).reason);
    });
    connect(m_resolver, &MetafileResolver::Finished, this, &StreamSession::OnResolved);
    connect(m_check, &ConnectionCheck::Finished, this, &StreamSession::OnDiagnosed);
    connect(&m_pipeline, &AudioPipeline::Error, this, &StreamSession::OnError);
    connect(&m_pipeline, &AudioPipeline::EndOfStream, this, &StreamSession::OnEndOfStream);
    connect(&m_pipeline, &AudioPipeline::StateChanged, this, &StreamSession::OnStateChanged);
    connect(&m_pipeline, &AudioPipeline::Prerolled, this, &StreamSession::OnPrerolled);
    connect(&m_pipeline, &AudioPipeline::Buffering, this, &StreamSession::OnBuffering);
    connect(&m_pipeline, &AudioPipeline::ClockLost, this, &StreamSession::OnClockLost);
    connect(&m_pipeline, &AudioPipeline::Audible, this, &StreamSession::OnAudible);
    connect(&m_pipeline, &AudioPipeline::Starved, this, &StreamSession::OnStarved);
    connect(&m_pipeline, &AudioPipeline::ResponseHeaders, this, &StreamSession::OnResponseHeaders);
    connect(&m_pipeline, &AudioPipeline::IcyTitle, this, &StreamSession::OnIcyTitle);
    connect(&m_pipeline, &AudioPipeline::Tags, this, [this](const GstTagList* tags) {
        m_meter.NoteTags(tags);
        OnTags(tags);
    });
}

StreamSession::~StreamSession() {
    m_resolver->disconnect(this);
    m_resolver->Abort();
    m_check->disconnect(this);
    if (m_lookupId >= 0)
        QHostInfo::abortHostLookup(m_lookupId);
}

void StreamSession::SetResolverLimits(const MetafileResolver::Limits& limits) {
    m_resolver->SetLimits(limits);
}

void StreamSession::SetStallTimeout(int ms) {
    m_watchdog->SetTimeout(ms);
}

std::int32_t StreamSession::Bandwidth() const {
    return m_openState == OpenState::Closed ? 0 : m_meter.Bandwidth();
}

bool StreamSession::HasPlayed() const {
    return m_phase == Phase::Playing || m_phase == Phase::Starved || m_phase == Phase::Paused ||
           m_phase == Phase::Rebuffering || m_phase == Phase::Resuming || m_phase == Phase::Ready;
}

// ---- The transition --------------------------------------------------------

void StreamSession::Enter(Phase next) {
    const Phase previous = m_phase;
    m_phase = next;
    qCDebug(lcPlayer) << "phase" << PhaseName(previous) << "->" << PhaseName(next);
    if (m_outputReturn && next != Phase::Reconnecting)
        m_outputReturn->Stop();
    const Reported states = ReportedStates(next, m_openState, IsNetworkUrl(m_current));
    EnterActions(next);
    Report(states.open, states.play);
}

StreamSession::Reported StreamSession::ReportedStates(Phase phase, OpenState before, bool network) {
    switch (phase) {
    case Phase::Closed:
        return {OpenState::Closed, PlayState::Closed};
    case Phase::Stopped: // the stream stays open: it is what a later play starts again
        return {before == OpenState::Closed ? OpenState::Closed : OpenState::Open,
                PlayState::Stopped};
    case Phase::Resolving:
    case Phase::Sniffing:
        return {OpenState::LoadingMetafile, PlayState::Waiting};
    case Phase::LookingUp:
        return {OpenState::LocatingServer, PlayState::Waiting};
    case Phase::Connecting:
        return {network ? OpenState::Connecting : OpenState::Opening, PlayState::Waiting};
    case Phase::Opening:
    case Phase::Buffering:
    case Phase::Rebuffering:
        return {OpenState::Opening, PlayState::Waiting};
    case Phase::Starting:
        return {before, PlayState::Waiting};
    case Phase::Starved:
    case Phase::Resuming:
        return {OpenState::Open, PlayState::Waiting};
    case Phase::Paused:
        return {OpenState::Open, PlayState::Paused};
    case Phase::Playing:
        return {OpenState::Open, PlayState::Playing};
    case Phase::Ready:
        return {OpenState::Open, PlayState::Stopped};
    case Phase::Diagnosing:
    case Phase::Reconnecting:
    case Phase::Suspended:
        return {OpenState::Connecting, PlayState::Waiting};
    }
    return {before, PlayState::Waiting};
}

void StreamSession::EnterActions(Phase next) {
    switch (next) {
    case Phase::Closed:
    case Phase::Stopped:
        EndOpen();
        break;
    case Phase::Connecting:
        m_bufferPercent = 100;
        m_titleFromIcy = false;
        m_answer.Start(m_current);
        m_pipeline.Start(m_current);
        m_meter.Start();
        break;
    case Phase::Starting:
    case Phase::Resuming:
        m_pipeline.SetPlaying(true);
        break;
    case Phase::Rebuffering:
    case Phase::Paused: // the listener's pause: the pipeline keeps what it has queued
        m_pipeline.SetPlaying(false);
        break;
    case Phase::Playing:
    case Phase::Ready:
        m_openTimer.stop();
        m_reconnectAttempt = 0; // a reconnection has succeeded
        m_reresolved = false;
        if (next == Phase::Playing) {
            m_watchdog->Arm(); // kept through rebuffering and resuming
            m_outputMissingTold = false;
            SetInterrupted(false);
        }
        break;
    case Phase::Diagnosing:
        m_check->Start(m_current, kCheckTimeoutMs);
        break;
    case Phase::Suspended: // the title stays: the same station comes back after the wake
        m_resolver->Abort();
        EndAttempt();
        break;
    case Phase::Resolving:
    case Phase::Sniffing:
    case Phase::LookingUp:
    case Phase::Opening:
    case Phase::Buffering:
    case Phase::Reconnecting:
        break;
    case Phase::Starved:
        // Not paused: data that comes again plays at once, moved to the
        // present by the output watch, so nothing is cut. A stream that
        // stays dry is the stall watchdog's.
        break;
    }
}

void StreamSession::EndOpen() {
    m_listenerPaused = false;
    m_resolver->Abort();
    EndAttempt();
    SetTitle(QString());
    SetStreamName(QString());
    m_reconnectAttempt = 0;
    m_resumeWanted = false;
    SetInterrupted(false);
}

void StreamSession::Report(OpenState open, PlayState play) {
    m_phasePlay = play;
    if (m_listenerPaused && play == PlayState::Waiting)
        play = PlayState::Paused;
    if (open == m_openState && play == m_playState)
        return;
    m_openState = open;
    m_playState = play;
    emit StateChanged(play, open);
}

const char* StreamSession::PhaseName(Phase phase) {
    // In the order of Phase.
    static constexpr const char* kNames[] = {
        "Closed",    "Resolving", "Sniffing",   "LookingUp",    "Connecting",  "Opening",
        "Buffering", "Starting",  "Playing",    "Starved",      "Rebuffering", "Resuming",
        "Ready",     "Stopped",   "Diagnosing", "Reconnecting", "Suspended",   "Paused"};
    static_assert(std::size(kNames) == std::size_t(Phase::Paused) + 1);
    return kNames[std::size_t(phase)];
}

void StreamSession::EndAttempt() {
    m_watchdog->Disarm();
    m_openTimer.stop();
    m_reconnectTimer.stop();
    m_meter.Stop();
    m_check->Abort();
    ++m_lookupSerial;
    if (m_lookupId >= 0) {
        QHostInfo::abortHostLookup(m_lookupId);
        m_lookupId = -1;
    }
    m_pipeline.Teardown();
}

// ---- Commands --------------------------------------------------------------

void StreamSession::Open(const QString& url) {
    Enter(Phase::Closed);
    m_isError = false;
    m_errorCode = 0;
    m_errorDescription.clear();
    m_meter.Reset();
    m_candidates.clear();
    m_candidate = 0;
    m_current.clear();
    m_openUrl.clear();
    m_sniffed = false;
    m_stationIsList = m_reresolved = false;
    m_outputMissingTold = false;
    m_missingDetail.clear();
    m_rejoined = false;
    m_url = url;

    const OpenTarget target = ParseOpenTarget(url);
    if (target.code != 0)
        return Fail(target.code, target.reason, false);
    const QUrl& parsed = target.url;
    m_openUrl = parsed;
    if (metafile::HasMetafileSuffix(parsed) && parsed.scheme().toLower() != u"rtsp") {
        Enter(Phase::Resolving);
        return m_resolver->Resolve(parsed);
    }
    m_candidates = {parsed};
    TryCandidate();
}

void StreamSession::Stop() {
    Enter(Phase::Stopped);
}

void StreamSession::Cancel() {
    Enter(Phase::Closed);
    m_url.clear();
    m_candidates.clear();
    m_current.clear();
    m_meter.Reset();
}

// ---- Opening ---------------------------------------------------------------

void StreamSession::OnResolved(const ResolveOutcome& outcome) {
    if (m_phase == Phase::Sniffing) {
        if (!outcome.streams.empty()) {
            m_stationIsList = true;
            m_candidates.erase(m_candidates.begin() + static_cast<std::ptrdiff_t>(m_candidate));
            m_candidates.insert(m_candidates.begin() + static_cast<std::ptrdiff_t>(m_candidate),
                                outcome.streams.begin(), outcome.streams.end());
            return TryCandidate();
        }
        if (outcome.contentType.contains(u"html", Qt::CaseInsensitive))
            m_lastFailure.reason = WebPageReason(outcome.contentType);
        else if (outcome.error != ResolveError::NotMetafile)
            m_lastFailure.reason = outcome.reason;
        if (++m_candidate < m_candidates.size())
            return TryCandidate();
        return Fail(m_lastFailure.code, m_lastFailure.reason, false);
    }
    if (m_phase != Phase::Resolving)
        return;
    if (outcome.error == ResolveError::NotMetafile) {
        // Named like a metafile but it is the stream itself.
        m_sniffed = true;
        m_candidates = {m_openUrl};
        m_candidate = 0;
        return TryCandidate();
    }
    if (outcome.streams.empty()) {
        if (m_reconnectAttempt > 0)
            return ScheduleReconnect(outcome.reason);
        return Fail(ErrorCodeOf(outcome.error), outcome.reason, false);
    }
    m_stationIsList = true;
    m_candidates = outcome.streams;
    m_candidate = 0;
    TryCandidate();
}

void StreamSession::TryCandidate() {
    m_redirects.Start(m_candidates.at(m_candidate));
    ConnectTo(m_redirects.current());
}

void StreamSession::ConnectTo(const QUrl& url) {
    m_current = url;
    m_openTimer.start(m_openTimeoutMs);
    // An address needs no lookup. QHostInfo would look its name up in reverse,
    // and where the name server is silent that waits out the resolver's
    // timeouts (10 s on Debian) before the first byte is asked for.
    if (!IsNetworkUrl(m_current) || !QHostAddress(m_current.host()).isNull())
        return Enter(Phase::Connecting);

    Enter(Phase::LookingUp);
    const quint64 serial = ++m_lookupSerial;
    m_lookupId =
        QHostInfo::lookupHost(m_current.host(), this, [this, serial](const QHostInfo& info) {
            if (serial == m_lookupSerial)
                OnLookedUp(info);
        });
}

void StreamSession::OnLookedUp(const QHostInfo& info) {
    m_lookupId = -1;
    if (info.error() != QHostInfo::NoError || info.addresses().isEmpty()) {
        StreamFailureFacts facts;
        facts.origin = StreamFailureFacts::Origin::NameLookup;
        facts.host = m_current.host();
        return CandidateFailed(ClassifyStreamFailure(facts));
    }
    Enter(Phase::Connecting);
}

void StreamSession::OnDiagnosed(ConnectCheck check) {
    if (m_phase != Phase::Diagnosing)
        return;
    m_pendingFacts.check = check;
    CandidateFailed(ClassifyStreamFailure(m_pendingFacts));
}

void StreamSession::CandidateFailed(const StreamFailure& failure) {
    EndAttempt();
    m_lastFailure = failure;
    if (m_reconnectAttempt > 0) {
        // A list read again is tried through before the next pause.
        if (m_reresolved && ++m_candidate < m_candidates.size())
            return TryCandidate();
        return ScheduleReconnect(failure.reason);
    }
    // A server may answer an extension-less URL with a playlist: look once.
    if (failure.mayBeMetafile && !m_sniffed && IsHttpUrl(m_current)) {
        m_sniffed = true;
        Enter(Phase::Sniffing);
        return m_resolver->Resolve(m_current);
    }
    if (++m_candidate < m_candidates.size())
        return TryCandidate();
    Fail(failure.code, failure.reason, false);
}

void StreamSession::Fail(std::int32_t code, const QString& reason, bool lost) {
    Enter(Phase::Closed);
    m_isError = true;
    m_errorCode = code;
    m_errorDescription = reason;
    if (code == playererror::MissingPlugin && !m_missingDetail.isEmpty())
        emit PluginMissing(std::exchange(m_missingDetail, {}));
    emit Failed(FailureMessage(m_url, m_current != m_openUrl ? m_current : QUrl(), reason, lost));
}

// ---- Pipeline events -------------------------------------------------------

void StreamSession::OnError(const PipelineError& error) {
    qCDebug(lcPlayer) << "error in phase" << PhaseName(m_phase) << error.detail << error.debug;
    StreamFailureFacts facts = m_answer.FactsOf(error, m_pipeline.BytesRead());
    StreamFailure failure = ClassifyStreamFailure(facts);
    if (error.fromOutput && HasPlayed())
        return OutputDropped();
    if (failure.kind == FailureKind::MissingPlugin)
        m_missingDetail = error.missing.installerDetail;
    if (HasPlayed() && facts.network && failure.kind != FailureKind::Unsupported &&
        failure.kind != FailureKind::MissingPlugin)
        return StreamDropped(failure.reason);
    // Without an answer the engine cannot say why: ask the server directly.
    if (facts.network && !facts.answered && m_reconnectAttempt == 0 &&
        m_current.scheme().toLower() != u"rtsp") {
        EndAttempt();
        m_pendingFacts = facts;
        return Enter(Phase::Diagnosing);
    }
    CandidateFailed(failure);
}

void StreamSession::OnEndOfStream() {
    qCDebug(lcPlayer) << "end of stream";
    // A file, or a download of known length, has ended; a live stream that
    // ends has dropped.
    const bool played = HasPlayed();
    if (!IsNetworkUrl(m_current) || (played && m_pipeline.HasFiniteDuration()))
        return Enter(Phase::Stopped); // the end of a file: stopped, still open
    if (played)
        return StreamDropped(QStringLiteral("サーバーがストリームを終了しました。"));
    StreamFailureFacts facts;
    facts.origin = StreamFailureFacts::Origin::EndOfStream;
    CandidateFailed(ClassifyStreamFailure(facts));
}

void StreamSession::OnStateChanged(GstState oldState, GstState newState) {
    qCDebug(lcPlayer) << "state" << oldState << "->" << newState;
    // Playing is entered once the output is heard (OnAudible). A pipeline
    // that pauses by itself while heard plays nothing: starved until the
    // output is heard again.
    if (newState == GST_STATE_PAUSED && oldState == GST_STATE_PLAYING && m_phase == Phase::Playing)
        Enter(Phase::Starved);
}

void StreamSession::OnAudible() {
    if (m_phase == Phase::Starting || m_phase == Phase::Resuming || m_phase == Phase::Starved)
        Enter(Phase::Playing);
}

void StreamSession::OnStarved() {
    m_bytesAtStarved = m_pipeline.BytesRead();
    if (m_phase == Phase::Playing)
        Enter(Phase::Starved);
}

void StreamSession::OnPrerolled() {
    switch (m_phase) {
    case Phase::Connecting:
    case Phase::Opening:
        if (!HasRealAudioOutput(m_pipeline.Element()))
            return NoAudioOutput();
        if (m_listenerPaused)
            return PausedAgain();
        if (!playOnOpen)
            return Enter(Phase::Ready);
        // A live stream does not wait for the network queue (see AudioPipeline).
        if (m_bufferPercent < 100 && !IsNetworkUrl(m_current))
            return Enter(Phase::Buffering);
        return Enter(Phase::Starting);
    default:
        return;
    }
}

void StreamSession::OnBuffering(int percent) {
    qCDebug(lcPlayer) << "buffering" << percent;
    m_bufferPercent = percent;
    if (percent < 100 && m_phase == Phase::Connecting) {
        // The network queue reports itself empty before the server has answered.
        if (m_pipeline.BytesRead() > 0)
            Enter(Phase::Opening);
        return;
    }
    // A network stream's queue level is no guide (see AudioPipeline): its
    // stalls are found at the output (OnStarved).
    if (IsNetworkUrl(m_current))
        return;
    if (percent < 100) {
        switch (m_phase) {
        case Phase::Starting:
            return Enter(Phase::Buffering);
        case Phase::Playing:
        case Phase::Resuming:
            return Enter(Phase::Rebuffering);
        default:
            return;
        }
    }
    switch (m_phase) {
    case Phase::Buffering:
        return Enter(Phase::Starting);
    case Phase::Rebuffering:
        return Enter(Phase::Resuming);
    default:
        return;
    }
}

void StreamSession::OnClockLost() {
    if (m_phase == Phase::Playing) {
        m_pipeline.SetPlaying(false);
        m_pipeline.SetPlaying(true);
    }
}

void StreamSession::OnResponseHeaders(int status, const GstStructure* headers) {
    if (status >= 300 && status < 400)
        return FollowRedirect(headers);
    if (!m_answer.Note(status, headers))
        return;
    if (m_phase == Phase::Connecting)
        Enter(Phase::Opening);
    if (m_listenerPaused && m_phase == Phase::Opening)
        PausedAgain();
    if (!m_answer.IcyBitrate().isNull())
        m_meter.NoteIcyBitrate(m_answer.IcyBitrate());
    // The HTTP library hands header values over as UTF-8, with what was not
    // UTF-8 (a Shift_JIS name, say) replaced: such a name is not shown. A
    // server that names none leaves the name an earlier connection announced.
    const QString name = DecodeStreamText(HeaderValue(headers, "icy-name").toUtf8());
    if (!name.isEmpty() && !name.contains(QChar::ReplacementCharacter))
        SetStreamName(name);
}

// ---- The title now playing ------------------------------------------------

void StreamSession::OnIcyTitle(const QByteArray& raw) {
    // From here on this connection's ICY metadata has been read where it
    // arrived; the demuxer's tags for the same blocks come later and would
    // announce each title a second time, possibly after a newer one.
    m_titleFromIcy = true;
    // An empty title clears the one shown.
    SetTitle(DecodeStreamText(raw));
}

void StreamSession::OnTags(const GstTagList* tags) {
    if (m_titleFromIcy)
        return;
    const QString title =
        ShownTitle(TagString(tags, GST_TAG_ARTIST), TagString(tags, GST_TAG_TITLE));
    if (!title.isEmpty()) // an empty title changes nothing
        SetTitle(title);
}

void StreamSession::SetTitle(const QString& title) {
    if (title == m_title)
        return;
    m_title = title;
    emit TitleChanged(m_title);
}

void StreamSession::SetStreamName(const QString& name) {
    if (name == m_streamName)
        return;
    m_streamName = name;
    emit StreamNameChanged(m_streamName);
}

void StreamSession::FollowRedirect(const GstStructure* headers) {
    StreamFailureFacts facts;
    switch (m_redirects.Redirected(HeaderValue(headers, "location"))) {
    case RedirectChain::Step::Follow:
        qCDebug(lcPlayer) << "redirected to" << m_redirects.current();
        EndAttempt();
        return ConnectTo(m_redirects.current());
    case RedirectChain::Step::TooMany:
        facts.origin = StreamFailureFacts::Origin::TooManyRedirects;
        facts.maxRedirects = RedirectChain::kMaxHops;
        break;
    case RedirectChain::Step::Loop:
        facts.origin = StreamFailureFacts::Origin::RedirectLoop;
        break;
    case RedirectChain::Step::Invalid:
        facts.origin = StreamFailureFacts::Origin::BadRedirect;
        break;
    }
    CandidateFailed(ClassifyStreamFailure(facts));
}

} // namespace didira
