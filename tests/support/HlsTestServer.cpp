#include "support/HlsTestServer.h"

#include <numeric>

namespace didira::test {

HlsTestServer::HlsTestServer(media::HlsKind kind, QObject* parent)
    : QObject(parent), m_segments(media::Hls(kind)) {
    m_clock.start();
    if (!Ready())
        return;
    const auto& d = m_segments.durations;
    m_segmentSeconds = std::accumulate(d.begin(), d.end(), 0.0) / static_cast<double>(d.size());
    m_http.Handle(QStringLiteral("/live.m3u8"), [this] { return Playlist(); });
    if (!m_segments.init.isEmpty())
        m_http.Serve(QStringLiteral("/init.mp4"), "video/mp4", m_segments.init);
    // Segment n (counting without end) is file n modulo the files made.
    const std::size_t count = m_segments.media.size();
    for (std::size_t i = 0; i < 400; ++i) {
        const QString path = QStringLiteral("/seg%1.%2").arg(i).arg(m_segments.suffix);
        m_http.Handle(path, [this, i, count] {
            ++m_segmentRequests;
            if (m_failSegments)
                return HttpTestServer::Route{404, "text/plain", "gone for now", {}, false};
            return HttpTestServer::Route{
                200, m_segments.contentType, m_segments.media[i % count], {}, false};
        });
    }
}

void HlsTestServer::Freeze(bool frozen) {
    m_frozenAt = frozen ? Newest() : -1;
}

qint64 HlsTestServer::Newest() const {
    if (m_frozenAt >= 0)
        return m_frozenAt;
    // The window starts full, then a segment is added each segment duration.
    return kWindow - 1 +
           static_cast<qint64>(static_cast<double>(m_clock.elapsed()) / 1000.0 / m_segmentSeconds);
}

HttpTestServer::Route HlsTestServer::Playlist() {
    const qint64 newest = std::min<qint64>(Newest(), 399);
    const qint64 first = std::max<qint64>(0, newest - kWindow + 1);
    const std::size_t count = m_segments.media.size();
    QByteArray text = "#EXTM3U\n#EXT-X-VERSION:7\n#EXT-X-TARGETDURATION:" +
                      QByteArray::number(static_cast<int>(m_segmentSeconds + 1.0)) +
                      "\n#EXT-X-MEDIA-SEQUENCE:" + QByteArray::number(first) +
                      "\n#EXT-X-DISCONTINUITY-SEQUENCE:" +
                      QByteArray::number(first > 0 ? (first - 1) / static_cast<qint64>(count) : 0) +
                      "\n";
    if (!m_segments.init.isEmpty())
        text += "#EXT-X-MAP:URI=\"init.mp4\"\n";
    for (qint64 n = first; n <= newest; ++n) {
        const std::size_t file = static_cast<std::size_t>(n) % count;
        if (file == 0 && n > 0)
            text += "#EXT-X-DISCONTINUITY\n";
        text += "#EXTINF:" + QByteArray::number(m_segments.durations[file], 'f', 3) + ",\n";
        text += "seg" + QByteArray::number(n) + "." + m_segments.suffix.toLatin1() + "\n";
    }
    return {200, "application/vnd.apple.mpegurl", text, {}, false};
}

} // namespace didira::test
