#pragma once
// The header pages of each chain of an Ogg stream, read from its bytes as
// they are kept: the pages from a chain's first page (BOS) until its first
// page of data (a granule position other than 0 or -1), which a file that
// starts inside the chain must carry first. Each chain's are handed to the
// LiveBuffer (KeepHeaders) once complete. A stream that does not start with
// an Ogg page is left alone. A chain whose headers pass kMaxChainBytes is
// taken as broken, as a decoder would: none are kept for it. One per
// connection; not thread-safe.

#include "player/LiveBuffer.h"

#include <QByteArray>
#include <QByteArrayView>

namespace didira {

class OggHeaderPages {
public:
    // The most a chain's header pages may hold.
    static constexpr qsizetype kMaxChainBytes = qsizetype(1) << 20;

    // bytes go on the stream at offset in buffer.
    void Feed(QByteArrayView bytes, qint64 offset, LiveBuffer& buffer);
    // The stream goes on at offset of another buffer (the last one failed):
    // the chain's headers are handed to it, and what follows is read from
    // the next page on.
    void Restart(qint64 offset, LiveBuffer& buffer);

private:
    void TakePage(QByteArrayView page, qint64 offset, LiveBuffer& buffer);

    enum class Stream { Unknown, Ogg, Other };
    Stream m_stream = Stream::Unknown;
    QByteArray m_pending; // the start of a page not complete yet
    qint64 m_pendingAt = 0;
    bool m_collecting = false;
    bool m_hadData = true; // of the chain collected last
    QByteArray m_headers;
    qint64 m_chainAt = 0;
};

} // namespace didira
