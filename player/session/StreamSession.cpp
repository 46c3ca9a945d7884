#include "player/session/StreamSession.h"

#include "player/formats/MetafileParser.h"
#include "player/formats/StreamText.h"
#include "player/gst/Tags.h"
#include "player/output/OutputFallback.h"
#include "player/session/ConnectionCheck.h"
#include "player/session/StallWatchdog.h"
#include "player/session/StreamUrl.h"

#include <QHostInfo>
#include <QLoggingCategory>

namespace didira {

// Engine errors in detail: QT_LOGGING_RULES="didira.player.debug=true".
Q_LOGGING_CATEGORY(lcPlayer, "didira.player", QtWarningMsg)

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

} // namespace didira
