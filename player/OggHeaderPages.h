#pragma once
// The header pages of each chain of an Ogg stream, read from its bytes as
// they are kept: the pages from a chain's first page (BOS) until its first
// page of data (a granule position other than 0 or -1), which a file that
// starts inside the chain must carry first. Each chain's are handed to the
// LiveBuffer (KeepHeaders) once complete. A stream that does not start with
// an Ogg page is left alone. One per connection; not thread-safe.

#include "player/LiveBuffer.h"

#include <QByteArray>
#include <QByteArrayView>

namespace didira {

class OggHeaderPages {
public:
    // bytes go on the stream at offset in buffer.
    void Feed(QByteArrayView bytes, qint64 offset, LiveBuffer& buffer);

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
