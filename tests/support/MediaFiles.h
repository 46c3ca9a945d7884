#pragma once
// Test media made by ffmpeg once per test process (empty when ffmpeg is not
// installed): raw MP3 frames to loop, two chained Ogg Vorbis tracks and HLS
// segments.

#include <QByteArray>
#include <QString>
#include <vector>

namespace didira::test::media {

bool Available(); // whether ffmpeg is installed

// About 4 s of MP3 at 128 kbit/s without ID3 or Xing headers, so that it can
// be sent again and again as one endless stream.
QByteArray Mp3Loop();

// Two Ogg Vorbis tracks of about 3 s each with their own serial numbers and
// titles: sent one after the other they make a chained Ogg stream.
std::vector<QByteArray> OggChain();

struct HlsSegments {
    QByteArray init;               // fMP4 initialisation segment (empty for TS)
    std::vector<QByteArray> media; // in playing order
    std::vector<double> durations; // seconds, one per segment
    QByteArray contentType;        // of the media segments
    QString suffix;                // "ts" or "m4s"
};
// About 40 s of AAC in 2 s segments, as MPEG-TS or as fragmented MP4.
const HlsSegments& Hls(bool fmp4);

} // namespace didira::test::media
