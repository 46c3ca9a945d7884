#include "player/session/RedirectChain.h"

namespace didira {

namespace {

QString Key(const QUrl& url) {
    return url.adjusted(QUrl::NormalizePathSegments | QUrl::RemoveFragment).toString();
}

} // namespace

void RedirectChain::Start(const QUrl& url) {
    m_current = url;
    m_seen = {Key(url)};
    m_hops = 0;
}

RedirectChain::Step RedirectChain::Redirected(const QString& location) {
    const QString text = location.trimmed();
    if (text.isEmpty())
        return Step::Invalid;
    const QUrl next = m_current.resolved(QUrl(text, QUrl::TolerantMode));
    const QString scheme = next.scheme().toLower();
    if (!next.isValid() || next.host().isEmpty() || (scheme != u"http" && scheme != u"https"))
        return Step::Invalid;
    if (m_seen.contains(Key(next)))
        return Step::Loop;
    if (m_hops >= kMaxHops)
        return Step::TooMany;
    ++m_hops;
    m_seen << Key(next);
    m_current = next;
    return Step::Follow;
}

} // namespace didira
