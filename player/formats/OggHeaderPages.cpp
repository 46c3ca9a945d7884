#include "player/formats/OggHeaderPages.h"

#include "player/formats/OggPage.h"

#include <algorithm>

namespace didira {

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
        const QByteArray head = (m_pending + bytes.toByteArray()).first(4);
        m_stream = ogg::PageLength(head) >= 0 ? Stream::Ogg : Stream::Other;
        if (m_stream == Stream::Other)
            return;
    }
    m_pending += bytes;
    qsizetype at = 0;
    while (at < m_pending.size()) {
        const QByteArrayView rest = QByteArrayView(m_pending).sliced(at);
        const qsizetype length = ogg::PageLength(rest);
        if (length < 0) { // lost sync: on to the next capture pattern
            const qsizetype next = ogg::FindPage(m_pending, at + 1);
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
    const ogg::PageHeader head(page);
    if (head.FirstOfStream()) { // a new logical stream: of a new chain unless data came between
        if (!m_collecting || m_hadData) {
            m_headers.clear();
            m_chainAt = offset;
        }
        m_collecting = true;
        m_hadData = false;
    } else if (head.HasAudio()) {
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
