#include "player/timeshift/OggPlacement.h"

#include "player/formats/OggPage.h"

#include <algorithm>

namespace didira {

namespace {

// How far around a place pages are looked for (pages may be a second long).
constexpr qsizetype kOggWindow = qsizetype(64) << 10;

// The bytes kept from offset, at most size of them.
QByteArray KeptFrom(const LiveBuffer& buffer, qint64 offset, qint64 size) {
    QByteArray bytes(size, Qt::Uninitialized);
    bytes.resize(std::max<qint64>(buffer.Read(offset, bytes.data(), bytes.size()), 0));
    return bytes;
}

// The whole pages that end a packet of audio nearest offset: the last that
// starts at or before it and the first after it (-1: none kept; a chain's
// headers may not be kept yet either).
struct OggAudioPages {
    qint64 before = -1;
    qint64 after = -1;
};
OggAudioPages OggAudioPagesNear(const LiveBuffer& buffer, qint64 offset) {
    const qint64 from = std::max(buffer.Begin(), offset - kOggWindow);
    OggAudioPages near;
    ogg::ForEachPage(KeptFrom(buffer, from, offset - from + kOggWindow),
                     [&](qsizetype at, QByteArrayView page) {
                         if (ogg::PageHeader(page).HasAudio())
                             (from + at <= offset ? near.before : near.after) = from + at;
                         return near.after < 0;
                     });
    return near;
}

// The latest page that ends a packet of audio and has all come leadMs
// before the newest byte, from around at; fallback when none has.
qint64 LatestWholeAudioPage(const LiveBuffer& buffer, qint64 at, qint64 leadMs, qint64 fallback) {
    const qint64 newest = buffer.TimeAt(buffer.End() - 1);
    const qint64 from = std::max(buffer.Begin(), at - kOggWindow);
    qint64 data = fallback;
    ogg::ForEachPage(KeptFrom(buffer, from, buffer.End() - from),
                     [&](qsizetype page, QByteArrayView bytes) {
                         const qint64 end = from + page + bytes.size();
                         if (end >= buffer.End() || newest - buffer.TimeAt(end) < leadMs)
                             return false;
                         if (ogg::PageHeader(bytes).HasAudio())
                             data = from + page;
                         return true;
                     });
    return data;
}

// The first page at or after offset; the end of what is kept when none is.
qint64 OggPageFrom(const LiveBuffer& buffer, qint64 offset) {
    const qsizetype at = ogg::FindPage(KeptFrom(buffer, offset, kOggWindow));
    return at < 0 ? buffer.End() : offset + at;
}

// Whether the bytes kept before end close on a chain that has begun (its
// first page came) but sent no audio yet: a demuxer given them is building
// that chain.
bool EndsInChainHeaders(const LiveBuffer& buffer, qint64 end) {
    const qint64 from = std::max(buffer.Begin(), end - kOggWindow);
    bool building = false;
    ogg::ForEachPage(KeptFrom(buffer, from, end - from), [&](qsizetype, QByteArrayView page) {
        const ogg::PageHeader head(page);
        if (head.FirstOfStream())
            building = true;
        else if (head.HasAudio())
            building = false;
        return true;
    });
    return building;
}

} // namespace

OggPlace PlaceOnOggPage(const LiveBuffer& buffer, qint64 at, bool live, qint64 demuxed,
                        qint64 leadMs) {
    const bool known = demuxed > buffer.Begin() && demuxed <= buffer.End();
    const OggAudioPages near = OggAudioPagesNear(buffer, at);
    qint64 data = near.after >= 0 ? near.after : near.before;
    if (live)
        data = LatestWholeAudioPage(buffer, at, leadMs, data);
    OggPlace place;
    place.at = data >= 0 ? data : OggPageFrom(buffer, at);
    if (known && EndsInChainHeaders(buffer, demuxed)) {
        // Building a chain (the page filter before it lost sync): it needs
        // the rest of that chain first.
        place.at = demuxed;
        place.keepDemuxerChain = true;
    } else if (data >= 0) {
        const QByteArray chain = known ? buffer.HeadersAt(demuxed - 1) : QByteArray();
        if (buffer.HeadersAt(place.at) != chain) {
            place.headers = buffer.HeadersAt(place.at);
            place.keepDemuxerChain = !chain.isEmpty();
        }
    }
    return place;
}

qint64 OggLeadEnd(const LiveBuffer& buffer, qint64 at, qint64 leadMs) {
    const qint64 pageEnd = OggPageFrom(buffer, at + 1);
    if (pageEnd >= buffer.End())
        return buffer.OffsetAt(buffer.TimeAt(at) + leadMs);
    return OggPageFrom(buffer, buffer.OffsetAt(buffer.TimeAt(pageEnd) + leadMs));
}

} // namespace didira
