#pragma once
// The one reader of the Ogg page layout: where a page starts and ends, and
// what its header says. A page is the capture pattern "OggS", version 0,
// flags (continued, first of its stream, last), the granule position, the
// stream's serial, a sequence number, a checksum, and a segment table whose
// lacing values add up to the body's length. Checksums are not verified: the
// demuxer does that, and a live stream is only walked here.

#include <QByteArrayView>
#include <cstdint>

namespace didira::ogg {

inline constexpr qsizetype kHeaderSize = 27; // before the segment table

// The length the page at the start of bytes declares (header, segment table
// and body); 0 while its header or segment table are not all there (the body
// may not be either: compare with bytes.size()); -1 when bytes cannot start
// a page.
qsizetype PageLength(QByteArrayView bytes);

// Where the first page at or after from in bytes may start (a capture
// pattern not followed by what no page has); -1: none there.
qsizetype FindPage(QByteArrayView bytes, qsizetype from = 0);

// A page's header, read from bytes that start with one (PageLength > 0).
class PageHeader {
public:
    explicit PageHeader(QByteArrayView page) : m_page(page) {}
    // The page goes on with a packet begun on the page before.
    bool Continued() const { return Flags() & 0x01; }
    // The first page of a logical stream (BOS): a chain begins with these.
    bool FirstOfStream() const { return Flags() & 0x02; }
    std::int64_t Granule() const;
    std::uint32_t Serial() const;
    // A header page: no packet of audio ends on it (granule position 0).
    bool IsHeader() const { return Granule() == 0; }
    // A page on which a packet of audio ends.
    bool HasAudio() const {
        const std::int64_t granule = Granule();
        return granule != 0 && granule != -1;
    }

private:
    unsigned char Flags() const { return static_cast<unsigned char>(m_page[5]); }
    QByteArrayView m_page;
};

// f(at, page) for each whole page of bytes from its first capture pattern,
// until f returns false or a page is not whole; bytes between pages are
// skipped.
template <typename F> void ForEachPage(QByteArrayView bytes, F f) {
    for (qsizetype at = FindPage(bytes); at >= 0;) {
        const qsizetype length = PageLength(bytes.sliced(at));
        if (length == 0 || length > bytes.size() - at || !f(at, bytes.sliced(at, length)))
            return;
        at = FindPage(bytes, at + length);
    }
}

} // namespace didira::ogg
