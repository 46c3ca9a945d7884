#pragma once
// Follows the HTTP redirects of one stream hop by hop, so that a chain can be
// bounded and a loop recognised: at most kMaxHops hops, never the same URL
// twice, only to http or https.

#include <QStringList>
#include <QUrl>

namespace didira {

class RedirectChain {
public:
    static constexpr int kMaxHops = 10;

    enum class Step {
        Follow,  // next() is where to go
        TooMany, // one hop more than kMaxHops
        Loop,    // back to a URL of this chain
        Invalid, // no usable Location (missing, bad, or another protocol)
    };

    // Starts a new chain at url.
    void Start(const QUrl& url);
    // The server at current() answered with a redirect to location (as written
    // in the header: absolute or relative).
    Step Redirected(const QString& location);

    const QUrl& current() const { return m_current; }
    int hops() const { return m_hops; }

private:
    QUrl m_current;
    QStringList m_seen;
    int m_hops = 0;
};

} // namespace didira
