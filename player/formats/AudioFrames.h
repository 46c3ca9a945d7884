#pragma once
// Where the frames of a received stream start, to cut it into files at a
// frame: MPEG audio (MP3) and ADTS AAC frames, each followed by the next,
// Ogg pages that begin a packet, and MPEG-TS told by packets in a row.
// Fragmented MP4 is only recognised (it is not cut).

#include <QByteArray>

namespace didira {

enum class AudioFormat { Unknown, Mp3, Aac, Ogg, Ts }; // Ts: written as its audio

// The length of the MPEG audio frame whose 4-byte header is at h; 0 when
// none is.
int Mp3FrameLength(const unsigned char* h);
// The length of the ADTS frame whose 7-byte header is at h; 0 when none is.
int AdtsFrameLength(const unsigned char* h);

// Whether a frame or page of format starts at i in bytes: the next frame
// follows it (taken on trust at the end of bytes only when final); an Ogg
// page is told by its own header, and must not go on with a packet.
bool FrameAt(AudioFormat format, const QByteArray& bytes, qint64 i, bool final);
// Whether a transport stream starts at i: three packets in a row (fewer at
// the end of bytes only when final).
bool TransportStreamAt(const QByteArray& bytes, qint64 i, bool final);
// Whether bytes begin with a box of fragmented MP4 (HLS segments).
bool FragmentedMp4At(const QByteArray& bytes);

} // namespace didira
