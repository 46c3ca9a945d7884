#pragma once
// Test media made by ffmpeg once per test process (empty when ffmpeg is not
// installed): an MP3 file, raw MP3 frames to loop, two chained Ogg Vorbis tracks and HLS
// segments of three kinds.

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <vector>

namespace didira::test::media {

bool Available(); // whether ffmpeg is installed

// An 8 s MP3 file at 128 kbit/s (44.1 kHz stereo) as ffmpeg writes it.
QByteArray ToneMp3();

// About 4 s of MP3 at 128 kbit/s without ID3 or Xing headers, so that it can
// be sent again and again as one endless stream.
QByteArray Mp3Loop();

// Two Ogg Vorbis tracks of about 3 s each with their own serial numbers and
// titles: sent one after the other they make a chained Ogg stream.
std::vector<QByteArray> OggChain();
// One Ogg Vorbis chain of the given seconds (a station that never changes
// chain, where OggChain looped would start the same chain again).
QByteArray OggTrack(int seconds);

// The codec descriptions of a media file's audio streams as GStreamer's
// discoverer reads them in this process (e.g. "MPEG-4 AAC"); empty when the
// file cannot be read as media within 20 s, with the reason in *error.
QStringList AudioCodecs(const QString& path, QString* error);

enum class HlsKind {
    MpegTs,         // AAC in MPEG-TS
    MpegTsTimedId3, // the same with a timed ID3 stream (metadata PES)
    Fmp4,           // AAC in fragmented MP4
    PackedAudio,    // raw ADTS AAC, each segment headed by an ID3 tag
};

struct HlsSegments {
    QByteArray init;               // fMP4 initialisation segment (empty otherwise)
    std::vector<QByteArray> media; // in playing order
    std::vector<double> durations; // seconds, one per segment
    QByteArray contentType;        // of the media segments
    QString suffix;                // "ts", "m4s" or "aac"
};
// AAC in 2 s segments: about 40 s as MPEG-TS or fragmented MP4, six
// segments (12 s) as packed audio. The ID3 tags of packed audio (with the
// segment's timestamp, as HLS asks) and the timed ID3 in MPEG-TS name in turn
// kHlsFirstTitle's artist and title (UTF-8), the title kHlsSecondTitle in
// Shift_JIS in a frame marked Latin-1 (as older taggers write it), and none.
const HlsSegments& Hls(HlsKind kind);
inline constexpr char16_t kHlsFirstTitle[] = u"アーティスト - 最初の曲";
inline constexpr char16_t kHlsSecondTitle[] = u"今夜のリクエスト";

} // namespace didira::test::media
