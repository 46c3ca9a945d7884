#pragma once
// Where a move in a kept Ogg stream lands, read from the bytes kept: on a
// whole page that ends a packet of audio, so that the demuxer takes up from
// there, given the headers of the chain that page is in when the demuxer is
// in another one. A page is played once it has all come, so the lead after
// a move is counted in whole pages.

#include "player/timeshift/LiveBuffer.h"

#include <QByteArray>

namespace didira {

struct OggPlace {
    qint64 at = -1;                // the first byte to send
    QByteArray headers;            // a chain's header pages to send first (none: the demuxer's own)
    bool keepDemuxerChain = false; // the demuxer must be left out of the flush
};

// Where a move to at starts (live: the newest audio, leadMs before the newest
// byte, so that the lead holds a page more). The demuxer has had the bytes up
// to demuxed (-1: not known); flushed, it waits for pages of the chain it was
// in, and would take another chain's headers for more streams of that one,
// so into another chain it is left out of the flush and given that chain's
// headers. A demuxer still building a chain is given the rest of it first.
OggPlace PlaceOnOggPage(const LiveBuffer& buffer, qint64 at, bool live, qint64 demuxed,
                        qint64 leadMs);

// Where a lead from the page at `at` ends: leadMs after that page, in whole
// pages, so that the next page is whole before the lead has played.
qint64 OggLeadEnd(const LiveBuffer& buffer, qint64 at, qint64 leadMs);

} // namespace didira
