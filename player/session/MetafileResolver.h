#pragma once
// Turns a metafile URL into the stream URLs it names, fetching asynchronously
// and following nested metafiles, with limits on size, time, depth and loops.

#include "player/formats/MetafileParser.h"

#include <QNetworkReply>
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QTimer>
#include <QUrl>
#include <vector>

class QNetworkAccessManager;

namespace didira {

enum class ResolveError {
    None,
    HostNotFound,
    ConnectionRefused,
    HttpStatus,
    Timeout,
    TooLarge,
    Loop,
    TooDeep,
    NotMetafile, // the first URL answered with something else (audio, HTML, ...)
    NoEntries,
    Network,
};

// The player's error code for a failed resolution.
std::int32_t ErrorCodeOf(ResolveError error);

struct ResolveOutcome {
    std::vector<QUrl> streams; // playable URLs in the order to try
    ResolveError error = ResolveError::None;
    QString reason; // Japanese text for the user when streams is empty
    int httpStatus = 0;
    QString contentType; // of the first URL's answer
};

class MetafileResolver final : public QObject {
    Q_OBJECT
public:
    struct Limits {
        qint64 maxBytes = 256 * 1024;
        int timeoutMs = 10000; // per fetch
        int maxDepth = 4;      // metafiles inside metafiles
        int maxFetches = 16;   // per resolution
        int maxRedirects = 10;
    };

    explicit MetafileResolver(QObject* parent = nullptr);
    ~MetafileResolver() override;
    Q_DISABLE_COPY_MOVE(MetafileResolver)

    void SetLimits(const Limits& limits) { m_limits = limits; }

    // Starts resolving url; emits Finished once, unless Abort comes first.
    // A running resolution is aborted.
    void Resolve(const QUrl& url);
    void Abort();
    bool IsRunning() const { return m_reply != nullptr; }

signals:
    void Finished(const didira::ResolveOutcome& outcome);

private:
    struct Frame {
        std::vector<metafile::Entry> entries;
        std::size_t next = 0;
        QStringList chain; // the metafiles that led here, for loop detection
    };

    void Fetch(const QUrl& url, const QStringList& chain);
    void OnReadyRead();
    void OnFinished();
    // Fails the resolve for a fetch that did not succeed; false when it did.
    bool FailedFetch(QNetworkReply& reply, int status);
    // Goes on with the list the fetched body holds (or the stream it is).
    void TakeList(const QUrl& finalUrl, const QString& type, bool root);
    void Continue();
    void Fail(ResolveError error, const QString& reason);
    void Done();
    void DropReply();

    Limits m_limits;
    QNetworkAccessManager* m_nam; // child
    QTimer m_timeout;
    QPointer<QNetworkReply> m_reply;
    QUrl m_fetching;
    QStringList m_fetchingChain;
    QByteArray m_body;
    bool m_tooLarge = false;
    bool m_timedOut = false;
    bool m_media = false; // the answer turned out to be a stream
    int m_fetches = 0;
    std::vector<Frame> m_stack;
    ResolveOutcome m_outcome;
    ResolveError m_lastError = ResolveError::None;
    QString m_lastReason;
};

} // namespace didira
