#pragma once
// A live HLS radio on 127.0.0.1 of the tests' own: a sliding-window media
// playlist (/live.m3u8) that advances with the clock over segments made by
// ffmpeg (MPEG-TS, fragmented MP4 or packed audio with ID3 titles, see
// media::Hls), and failures on demand: segments that answer 404, a playlist
// that stops advancing.

#include "support/HttpTestServer.h"
#include "support/MediaFiles.h"

#include <QElapsedTimer>

namespace didira::test {

class HlsTestServer final : public QObject {
    Q_OBJECT
public:
    explicit HlsTestServer(media::HlsKind kind, QObject* parent = nullptr);
    explicit HlsTestServer(bool fmp4, QObject* parent = nullptr)
        : HlsTestServer(fmp4 ? media::HlsKind::Fmp4 : media::HlsKind::MpegTs, parent) {}

    // Whether ffmpeg made the segments.
    bool Ready() const { return !m_segments.media.empty(); }
    QString Url(const QString& path = QStringLiteral("/live.m3u8")) const {
        return m_http.Url(path);
    }

    void FailSegments(bool fail) { m_failSegments = fail; }
    // Freezes the playlist where it is; unfreezing jumps to where the clock is.
    void Freeze(bool frozen);
    int SegmentRequests() const { return m_segmentRequests; }
    int PlaylistRequests() const { return m_http.Requests(QStringLiteral("/live.m3u8")); }

private:
    static constexpr int kWindow = 4; // segments in the playlist
    HttpTestServer::Route Playlist();
    qint64 Newest() const; // sequence number of the newest listed segment

    const media::HlsSegments& m_segments;
    HttpTestServer m_http;
    QElapsedTimer m_clock;
    double m_segmentSeconds = 2.0;
    bool m_failSegments = false;
    qint64 m_frozenAt = -1;
    int m_segmentRequests = 0;
};

} // namespace didira::test
