#include "player/formats/OggHeaderPages.h"

#include <algorithm>
#include <cstring>

namespace didira {

namespace {

constexpr qsizetype kHeader = 27;

// The length of the page at the start of bytes; 0 while not all of its
// header is there, -1 when no page starts there.
qsizetype PageLength(QByteArrayView bytes) {
    if (bytes.size() < kHeader)
        return 0;
    const auto* h = reinterpret_cast<const uchar*>(bytes.data());
    if (std::memcmp(h, "OggS", 4) != 0 || h[4] != 0)
        return -1;
    if (bytes.size() < kHeader + h[26])
        return 0;
    qsizetype length = kHeader + h[26];
    for (int i = 0; i < h[26]; ++i)
        length += h[kHeader + i];
    return length;
}

} // namespace

void OggHeaderPages::Feed(QByteArrayView bytes, qint64 offset, const Keep& keep) {
    if (m_stream == Stream::Other || bytes.isEmpty())
        return;
    if (m_pending.isEmpty())
        m_pendingAt = offset;
    if (m_stream == Stream::Unknown) {
        if (bytes.size() < 4 && m_pending.size() + bytes.size() < 4) {
            m_pending += bytes; // too few to tell
            return;
        }
        m_stream =
            (m_pending + bytes.toByteArray()).startsWith("OggS") ? Stream::Ogg : Stream::Other;
        if (m_stream == Stream::Other)
            return;
    }
    m_pending += bytes;
    qsizetype at = 0;
    while (at < m_pending.size()) {
        const QByteArrayView rest = QByteArrayView(m_pending).sliced(at);
        const qsizetype length = PageLength(rest);
        if (length < 0) { // lost sync: on to the next capture pattern
            const qsizetype next = m_pending.indexOf("OggS", at + 1);
            at = next < 0 ? std::max(at, m_pending.size() - 3) : next;
            if (next < 0)
                break;
            continue;
        }
        if (length == 0 || length > rest.size())
            break;
        TakePage(rest.first(length), m_pendingAt + at, keep);
        at += length;
    }
    m_pending.remove(0, at);
    m_pendingAt += at;
}

void OggHeaderPages::TakePage(QByteArrayView page, qint64 offset, const Keep& keep) {
    const uchar flags = static_cast<uchar>(page[5]);
    qint64 granule = 0;
    std::memcpy(&granule, page.data() + 6, sizeof granule);
    if (flags & 2) { // a new logical stream: of a new chain unless data came between
        if (!m_collecting || m_hadData) {
            m_headers.clear();
            m_chainAt = offset;
        }
        m_collecting = true;
        m_hadData = false;
    } else if (granule != 0 && granule != -1) {
        if (m_collecting)
            keep(m_chainAt, m_headers);
        m_collecting = false;
        m_hadData = true;
    }
    if (!m_collecting)
        return;
    if (m_headers.size() + page.size() > kMaxChainBytes) {
        // No decoder takes headers this long: a broken chain, none kept.
        m_headers.clear();
        m_collecting = false;
        m_hadData = true;
        return;
    }
    m_headers += page.toByteArray();
}

void OggHeaderPages::Restart(qint64 offset, const Keep& keep) {
    m_pending.clear();
    m_pendingAt = offset;
    if (m_stream != Stream::Ogg)
        return;
    if (!m_collecting && !m_headers.isEmpty())
        keep(offset, m_headers);
    m_chainAt = offset;
}

} // namespace didira
