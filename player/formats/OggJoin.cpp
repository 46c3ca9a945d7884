#include "player/formats/OggJoin.h"

#include "player/formats/OggPage.h"

namespace didira {

namespace {

// The size of the whole page at the start of data: 0 while it is
// incomplete, -1 when data does not start with a page.
qsizetype PageSize(QByteArrayView data) {
    const qsizetype length = ogg::PageLength(data);
    return length > data.size() ? 0 : length;
}

} // namespace

QByteArray OggJoinFilter::Feed(QByteArrayView data) {
    if (m_passThrough)
        return data.toByteArray();
    m_pending.append(data);
    QByteArray out;
    qsizetype at = 0;
    for (;;) {
        const QByteArrayView rest = QByteArrayView(m_pending).sliced(at);
        const qsizetype size = PageSize(rest);
        if (size == 0)
            break;
        if (size < 0) {
            // Not a page where one should start: let the demuxer find its way.
            m_passThrough = true;
            out += m_held;
            out += rest;
            m_held.clear();
            m_pending.clear();
            return out;
        }
        TakePage(rest.first(size), out);
        at += size;
    }
    m_pending.remove(0, at);
    return out;
}

void OggJoinFilter::Flushed() {
    m_pending.clear();
    if (m_chainHasData)
        return;
    // The chain held never reached the demuxer, which is in the one before.
    m_held.clear();
    m_heldPages = 0;
    m_chain = m_demuxerChain;
    m_chainHasData = !m_chain.empty();
    m_chainHasHeaders = false;
}

void OggJoinFilter::TakePage(QByteArrayView page, QByteArray& out) {
    const ogg::PageHeader head(page);
    const bool first = head.FirstOfStream();
    const std::uint32_t serial = head.Serial();
    const bool header = head.IsHeader();
    if (first) {
        if (m_chainHasData || m_chainHasHeaders || m_chain.count(serial)) {
            // A new chain. One whose headers came without any data is dropped.
            if (!m_chainHasData)
                m_dropped += m_heldPages;
            m_held.clear();
            m_heldPages = 0;
            m_chain.clear();
            m_chainHasData = m_chainHasHeaders = false;
        }
        m_chain.insert(serial);
    } else if (!m_chain.count(serial)) {
        ++m_dropped; // its stream's first page was never seen
        return;
    } else if (header) {
        m_chainHasHeaders = true;
    }
    if (m_chainHasData) {
        out += page;
        return;
    }
    m_held += page;
    ++m_heldPages;
    if (!first && !header) {
        m_chainHasData = true;
    } else if (m_held.size() <= kMaxHeld) {
        return;
    }
    out += m_held;
    m_held.clear();
    m_heldPages = 0;
    m_chainHasData = true;
    m_demuxerChain = m_chain;
}

} // namespace didira
