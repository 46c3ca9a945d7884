#include "player/session/ServerAnswer.h"

#include "player/engine/SourceSettings.h"
#include "player/session/StreamUrl.h"

namespace didira {

void ServerAnswer::Start(const QUrl& url) {
    *this = ServerAnswer();
    m_url = url;
    m_clock.start();
}

bool ServerAnswer::Note(int status, const GstStructure* headers) {
    if (status > 0)
        m_status = status;
    if (status == 0 && (!headers || gst_structure_n_fields(headers) == 0))
        return false;
    m_answered = true;
    if (const QString type = HeaderValue(headers, "content-type"); !type.isNull())
        m_contentType = type;
    if (const QString icy = HeaderValue(headers, "icy-br"); !icy.isNull())
        m_icyBitrate = icy;
    return true;
}

StreamFailureFacts ServerAnswer::FactsOf(const PipelineError& error, quint64 bytesRead) const {
    StreamFailureFacts facts;
    facts.network = IsNetworkUrl(m_url);
    facts.host = m_url.host();
    facts.domain = error.domain;
    facts.code = error.code;
    facts.detail = error.detail;
    facts.missingPlugin = error.missing.description;
    facts.missingPackage = error.missing.package;
    facts.httpStatus = error.httpStatus > 0 ? error.httpStatus : m_status;
    facts.answered = m_answered || bytesRead > 0 || facts.httpStatus > 0;
    facts.contentType = m_contentType;
    // The source gives up by itself after its timeout without an answer.
    facts.sourceTimedOut =
        m_clock.isValid() && m_clock.elapsed() >= qint64{kSourceTimeoutSeconds} * 1000 - 500;
    return facts;
}

} // namespace didira
