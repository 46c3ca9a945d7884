#pragma once
// What the server said in one connection attempt (status, headers, how long
// it has been), and from that the facts a failure of the attempt is
// classified from.

#include "player/engine/AudioPipeline.h"
#include "player/session/StreamErrors.h"

#include <QElapsedTimer>
#include <QString>
#include <QUrl>

namespace didira {

class ServerAnswer {
public:
    // A new attempt on url starts now.
    void Start(const QUrl& url);
    // The source's http-headers message; false while the server has not
    // answered (the source posts one before it connects).
    bool Note(int status, const GstStructure* headers);

    const QString& IcyBitrate() const { return m_icyBitrate; }

    StreamFailureFacts FactsOf(const PipelineError& error, quint64 bytesRead) const;

private:
    QUrl m_url;
    int m_status = 0;
    bool m_answered = false;
    QString m_contentType;
    QString m_icyBitrate;
    QElapsedTimer m_clock;
};

} // namespace didira
