#include "player/session/MetafileResolver.h"

#include "player/engine/SourceSettings.h"
#include "player/engine/TlsAnchors.h"
#include "player/session/StreamErrors.h"

#include <QNetworkAccessManager>
#include <QNetworkRequest>

namespace didira {

namespace {

QString Key(const QUrl& url) {
    return url.adjusted(QUrl::NormalizePathSegments | QUrl::RemoveFragment).toString();
}

// Content types that announce a stream rather than a list of streams.
bool IsMediaType(const QString& type) {
    const QString t = type.toLower();
    // Servers send ASX lists as video/x-ms-asf too: those are judged by content.
    if (t.contains(u"mpegurl") || t.contains(u"scpls") || t.contains(u"x-ms-as") ||
        t.contains(u"x-ms-wax") || t.contains(u"x-ms-wvx"))
        return false;
    return t.startsWith(u"audio/") || t.startsWith(u"video/") || t == u"application/ogg";
}

} // namespace

std::int32_t ErrorCodeOf(ResolveError error) {
    switch (error) {
    case ResolveError::HostNotFound:
        return playererror::HostNotFound;
    case ResolveError::ConnectionRefused:
        return playererror::ConnectionRefused;
    case ResolveError::HttpStatus:
        return playererror::HttpClientError;
    case ResolveError::Timeout:
        return playererror::Timeout;
    case ResolveError::Network:
        return playererror::Network;
    default:
        return playererror::Metafile;
    }
}

MetafileResolver::MetafileResolver(QObject* parent)
    : QObject(parent), m_nam(new QNetworkAccessManager(this)) {
    m_timeout.setSingleShot(true);
    connect(&m_timeout, &QTimer::timeout, this, [this] {
        m_timedOut = true;
        if (m_reply)
            m_reply->abort();
    });
}

MetafileResolver::~MetafileResolver() {
    DropReply();
}

void MetafileResolver::Resolve(const QUrl& url) {
    Abort();
    m_outcome = {};
    m_stack.clear();
    m_fetches = 0;
    m_lastError = ResolveError::None;
    m_lastReason.clear();
    Fetch(url, {});
}

void MetafileResolver::Abort() {
    DropReply();
    m_stack.clear();
}

void MetafileResolver::DropReply() {
    m_timeout.stop();
    if (m_reply) {
        QNetworkReply* reply = m_reply;
        m_reply = nullptr;
        reply->disconnect(this);
        reply->abort();
        reply->deleteLater();
    }
}

void MetafileResolver::Fetch(const QUrl& url, const QStringList& chain) {
    ++m_fetches;
    m_fetching = url;
    m_fetchingChain = chain;
    m_fetchingChain << Key(url);
    m_body.clear();
    m_tooLarge = m_timedOut = m_media = false;

    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::NoLessSafeRedirectPolicy);
    request.setMaximumRedirectsAllowed(m_limits.maxRedirects);
    request.setHeader(QNetworkRequest::UserAgentHeader, QString::fromLatin1(kUserAgent));
    QSslConfiguration tlsConfig = request.sslConfiguration();
    tls::ApplyAnchors(tlsConfig);
    request.setSslConfiguration(tlsConfig);
    m_reply = m_nam->get(request);
    connect(m_reply, &QNetworkReply::readyRead, this, &MetafileResolver::OnReadyRead);
    connect(m_reply, &QNetworkReply::finished, this, &MetafileResolver::OnFinished);
    m_timeout.start(m_limits.timeoutMs);
}

void MetafileResolver::OnReadyRead() {
    if (!m_reply)
        return;
    const bool first = m_body.isEmpty();
    m_body += m_reply->read(m_limits.maxBytes + 1 - m_body.size());
    const QString type = m_reply->header(QNetworkRequest::ContentTypeHeader).toString();
    // A stream never ends: stop reading as soon as it shows what it is.
    if (first && (IsMediaType(type) || metafile::LooksBinary(m_body))) {
        m_media = true;
        m_reply->abort();
    } else if (m_body.size() > m_limits.maxBytes) {
        m_tooLarge = true;
        m_reply->abort();
    }
}

void MetafileResolver::OnFinished() {
    m_timeout.stop();
    QNetworkReply* reply = m_reply;
    if (!reply)
        return;
    m_reply = nullptr;
    reply->deleteLater();
    if (!m_tooLarge && !m_media && reply->isOpen())
        m_body += reply->read(m_limits.maxBytes + 1 - m_body.size());
    if (m_body.size() > m_limits.maxBytes)
        m_tooLarge = true;

    const bool root = m_stack.empty() && m_outcome.streams.empty() && m_fetches == 1;
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const QString type = reply->header(QNetworkRequest::ContentTypeHeader).toString();
    const QUrl finalUrl = reply->url().isValid() ? reply->url() : m_fetching;
    if (root) {
        m_outcome.httpStatus = status;
        m_outcome.contentType = type;
    }

    if (m_timedOut)
        return Fail(ResolveError::Timeout, CommonReasonText(CommonReason::NoAnswer));
    if (m_media) {
        // Something playable where a list was expected: play it as it is.
        if (root)
            return Fail(ResolveError::NotMetafile, QString());
        m_outcome.streams.push_back(m_fetching);
        return Continue();
    }
    if (m_tooLarge)
        return Fail(ResolveError::TooLarge, QStringLiteral("メタファイルが大きすぎます。"));
    if (!FailedFetch(*reply, status))
        TakeList(finalUrl, type, root);
}

bool MetafileResolver::FailedFetch(QNetworkReply& reply, int status) {
    switch (reply.error()) {
    case QNetworkReply::NoError:
        return false;
    case QNetworkReply::HostNotFoundError:
        Fail(ResolveError::HostNotFound, CommonReasonText(CommonReason::HostNotFound));
        break;
    case QNetworkReply::ConnectionRefusedError:
        Fail(ResolveError::ConnectionRefused, CommonReasonText(CommonReason::Refused));
        break;
    case QNetworkReply::TooManyRedirectsError:
    case QNetworkReply::InsecureRedirectError:
        Fail(ResolveError::Loop, QStringLiteral("リダイレクトが多すぎます。"));
        break;
    default:
        if (status >= 400)
            Fail(ResolveError::HttpStatus, HttpStatusReason(status));
        else
            Fail(ResolveError::Network,
                 QStringLiteral("メタファイルを読み込めません (%1)。").arg(reply.errorString()));
        break;
    }
    return true;
}

void MetafileResolver::TakeList(const QUrl& finalUrl, const QString& type, bool root) {
    const metafile::Result parsed = metafile::Parse(m_body, finalUrl, type);
    if (parsed.format == metafile::Format::None) {
        if (root)
            return Fail(ResolveError::NotMetafile, parsed.error);
        m_outcome.streams.push_back(m_fetching);
        return Continue();
    }
    if (parsed.format == metafile::Format::Hls) {
        m_outcome.streams.push_back(m_fetching);
        return Continue();
    }
    if (parsed.entries.empty())
        return Fail(ResolveError::NoEntries, parsed.error);
    m_stack.push_back(Frame{parsed.entries, 0, m_fetchingChain});
    Continue();
}

void MetafileResolver::Fail(ResolveError error, const QString& reason) {
    // A failed nested list only drops its entry; the others are still tried.
    // An empty list says less than a failure before it, which is kept.
    if (error != ResolveError::NoEntries || m_lastError == ResolveError::None ||
        m_lastError == ResolveError::NoEntries) {
        m_lastError = error;
        m_lastReason = reason;
    }
    Continue();
}

void MetafileResolver::Continue() {
    while (!m_stack.empty()) {
        Frame& top = m_stack.back();
        if (top.next >= top.entries.size()) {
            m_stack.pop_back();
            continue;
        }
        const metafile::Entry entry = top.entries[top.next++];
        if (!entry.nested) {
            m_outcome.streams.push_back(entry.url);
            continue;
        }
        if (top.chain.contains(Key(entry.url))) {
            m_lastError = ResolveError::Loop;
            m_lastReason = QStringLiteral("メタファイルが自分自身を参照しています。");
            continue;
        }
        if (top.chain.size() > m_limits.maxDepth) {
            m_lastError = ResolveError::TooDeep;
            m_lastReason = QStringLiteral("メタファイルの入れ子が深すぎます。");
            continue;
        }
        if (m_fetches >= m_limits.maxFetches) {
            m_lastError = ResolveError::TooDeep;
            m_lastReason = QStringLiteral("メタファイルの参照が多すぎます。");
            continue;
        }
        const QStringList chain = top.chain;
        Fetch(entry.url, chain);
        return;
    }
    Done();
}

void MetafileResolver::Done() {
    if (m_outcome.streams.empty()) {
        m_outcome.error = m_lastError == ResolveError::None ? ResolveError::NoEntries : m_lastError;
        m_outcome.reason = m_lastReason.isEmpty()
                               ? QStringLiteral("メタファイルに再生できる項目がありません。")
                               : m_lastReason;
    }
    // Receivers may start a new resolution from the slot.
    const ResolveOutcome outcome = std::move(m_outcome);
    m_outcome = {};
    emit Finished(outcome);
}

} // namespace didira
