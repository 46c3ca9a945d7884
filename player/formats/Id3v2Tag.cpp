#include "player/formats/Id3v2Tag.h"

namespace didira {

namespace {

// A synchsafe size: 7 bits to a byte.
QByteArray SynchsafeSize(qint64 n) {
    QByteArray size(4, '\0');
    for (int i = 0; i < 4; ++i)
        size[3 - i] = char((n >> (7 * i)) & 0x7F);
    return size;
}

} // namespace

QByteArray Id3v2Tag(const QString& title, const QString& station) {
    QByteArray frames;
    const auto frame = [&](const char* id, const QString& text) {
        if (text.isEmpty())
            return;
        const QByteArray body = '\x03' + text.toUtf8(); // UTF-8
        frames += QByteArray(id) + SynchsafeSize(body.size()) + QByteArray(2, '\0') + body;
    };
    frame("TIT2", title);
    frame("TPE1", station);
    frame("TALB", station);
    return QByteArray("ID3\x04\x00\x00", 6) + SynchsafeSize(frames.size()) + frames;
}

} // namespace didira
