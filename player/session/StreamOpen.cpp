// StreamSession, continued: the steps of an open, from the metafile read to
// the connection: candidates tried in turn, the name looked up, redirects
// followed, a failure classified and reported once.
#include "player/session/MetafileResolver.h"
#include "player/session/StreamSession.h"
#include "player/session/StreamUrl.h"

#include <QHostAddress>
#include <QHostInfo>
#include <QLoggingCategory>
#include <utility>

namespace didira {

Q_DECLARE_LOGGING_CATEGORY(lcPlayer)

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
    // timeouts (several seconds) before the first byte is asked for.
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
