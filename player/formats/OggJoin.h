#pragma once
// Cleans the start of a live Ogg stream joined at an awkward place, before
// the demuxer sees it.
//
// A server that a listener joins at a chain boundary may send the headers of
// one chain and then pages of another chain whose headers were never sent.
// The demuxer then waits for the first chain's data forever (even through the
// full chains that follow), and the stream never plays. The filter passes on
// whole pages only: it holds a chain's header pages (granule position 0)
// until a data page of that chain comes, drops them when a new chain starts
// first, and drops the pages of streams whose first page it never saw. A
// stream that starts cleanly passes unchanged. Bytes that are not Ogg pages
// (the filter lost sync) are passed on as they are: the demuxer resyncs.
// Later chains' headers are held the same way, so that the demuxer never has
// only part of them when the time shift flushes it.

#include <QByteArray>
#include <QByteArrayView>
#include <cstdint>
#include <set>

namespace didira {

class OggJoinFilter {
public:
    // The bytes to pass on after data arrived (possibly none).
    QByteArray Feed(QByteArrayView data);
    // Downstream was flushed: what is held goes, and what comes next (the
    // time shift's, from a page) goes on from the chain the demuxer is in.
    void Flushed();
    // Bytes taken in and not passed on yet.
    qsizetype Holding() const { return m_pending.size() + m_held.size(); }
    // Pages dropped so far.
    int DroppedPages() const { return m_dropped; }

    // Held header pages beyond this are let through, whatever follows.
    static constexpr qsizetype kMaxHeld = qsizetype(1) << 20;

private:
    void TakePage(QByteArrayView page, QByteArray& out);

    QByteArray m_pending;                   // the start of a page not complete yet
    QByteArray m_held;                      // header pages of a chain that has sent no data yet
    std::set<std::uint32_t> m_chain;        // the serials of the current chain
    std::set<std::uint32_t> m_demuxerChain; // those of the chain whose data passed last
    bool m_chainHasData = false;            // a data page of the current chain came
    bool m_chainHasHeaders = false;         // a non-first header page came: BOS pages are over
    bool m_passThrough = false;             // lost sync: everything passes
    int m_heldPages = 0;
    int m_dropped = 0;
};

} // namespace didira
