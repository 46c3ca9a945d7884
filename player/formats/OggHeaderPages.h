#pragma once
// The header pages of each chain of an Ogg stream, read from its bytes as
// they are kept: the pages from a chain's first page (BOS) until its first
// page of data (a granule position other than 0 or -1), which a file that
// starts inside the chain must carry first. Each chain's are handed to the
// keeper once complete. A stream that does not start with an Ogg page is left
// alone. A chain whose headers pass kMaxChainBytes is taken as broken, as a
// decoder would: none are kept for it. One per connection; not thread-safe.

#include <QByteArray>
#include <QByteArrayView>
#include <functional>

namespace didira {

class OggHeaderPages {
public:
    // The most a chain's header pages may hold.
    static constexpr qsizetype kMaxChainBytes = qsizetype(1) << 20;

    // Takes a chain's complete header pages and the stream offset of its first.
    using Keep = std::function<void(qint64 chainAt, QByteArray headers)>;

    // bytes go on the stream at offset; keep is told of each chain completed.
    void Feed(QByteArrayView bytes, qint64 offset, const Keep& keep);
    // The stream goes on at offset of another buffer (the last one failed):
    // keep is told the chain's headers, and what follows is read from the
    // next page on.
    void Restart(qint64 offset, const Keep& keep);

private:
    void TakePage(QByteArrayView page, qint64 offset, const Keep& keep);

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
