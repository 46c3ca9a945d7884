#include "player/formats/AudioFrames.h"

#include "player/formats/OggPage.h"
#include "player/formats/TsPacket.h"

#include <algorithm>

namespace didira {

namespace {

const unsigned char* At(const QByteArray& bytes, qint64 i) {
    return reinterpret_cast<const unsigned char*>(bytes.constData()) + i;
}

// The length of a frame or page of format at i; 0 when none is (or an Ogg
// page's header is not all there).
int FrameLength(AudioFormat format, const QByteArray& bytes, qint64 i) {
    const qint64 n = bytes.size() - i;
    switch (format) {
    case AudioFormat::Mp3:
        return n >= 4 ? Mp3FrameLength(At(bytes, i)) : 0;
    case AudioFormat::Aac:
        return n >= 7 ? AdtsFrameLength(At(bytes, i)) : 0;
    case AudioFormat::Ogg:
        return int(std::max<qsizetype>(ogg::PageLength(QByteArrayView(bytes).sliced(i)), 0));
    case AudioFormat::Ts:
    case AudioFormat::Unknown:
        break;
    }
    return 0;
}

} // namespace

int Mp3FrameLength(const unsigned char* h) {
    static constexpr short kRates[5][15] = {
        {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448}, // V1 L1
        {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},    // V1 L2
        {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320},     // V1 L3
        {0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},    // V2 L1
        {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},         // V2 L2, L3
    };
    static constexpr int kSampleRates[3] = {44100, 48000, 32000};
    if (h[0] != 0xFF || (h[1] & 0xE0) != 0xE0)
        return 0;
    const int version = (h[1] >> 3) & 3; // 0: 2.5, 2: 2, 3: 1
    const int layer = 4 - ((h[1] >> 1) & 3);
    const int rateIndex = h[2] >> 4;
    const int srIndex = (h[2] >> 2) & 3;
    if (version == 1 || layer == 4 || rateIndex == 0 || rateIndex == 15 || srIndex == 3)
        return 0;
    const bool v1 = version == 3;
    const int kbps = kRates[v1 ? layer - 1 : (layer == 1 ? 3 : 4)][rateIndex];
    const int rate = kSampleRates[srIndex] >> (v1 ? 0 : version == 2 ? 1 : 2);
    const int pad = (h[2] >> 1) & 1;
    if (layer == 1)
        return (12000 * kbps / rate + pad) * 4;
    return (layer == 3 && !v1 ? 72000 : 144000) * kbps / rate + pad;
}

int AdtsFrameLength(const unsigned char* h) {
    if (h[0] != 0xFF || (h[1] & 0xF6) != 0xF0 || ((h[2] >> 2) & 0xF) > 12)
        return 0;
    const int length = ((h[3] & 3) << 11) | (h[4] << 3) | (h[5] >> 5);
    return length >= 7 ? length : 0;
}

bool FrameAt(AudioFormat format, const QByteArray& bytes, qint64 i, bool final) {
    const int length = FrameLength(format, bytes, i);
    if (length == 0)
        return false;
    if (format == AudioFormat::Ogg)
        return !ogg::PageHeader(QByteArrayView(bytes).sliced(i)).Continued();
    if (i + length + 7 <= bytes.size())
        return FrameLength(format, bytes, i + length) > 0;
    return final;
}

bool TransportStreamAt(const QByteArray& bytes, qint64 i, bool final) {
    constexpr qint64 kPacket = mpegts::kPacketSize;
    const qint64 n = bytes.size() - i;
    if (n < 3 * kPacket && !final)
        return false;
    for (qint64 k = 0; k < 3 && k * kPacket < n; ++k)
        if (!mpegts::PacketAt(At(bytes, i + k * kPacket), n - k * kPacket))
            return false;
    return true;
}

bool FragmentedMp4At(const QByteArray& bytes) {
    const QByteArray box = bytes.mid(4, 4);
    return box == "ftyp" || box == "styp" || box == "moof" || box == "sidx";
}

} // namespace didira
