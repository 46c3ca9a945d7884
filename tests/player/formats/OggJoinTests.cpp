// The start of a live Ogg stream as the demuxer gets it, joined at awkward
// places, fed in pieces of every size.
#include "player/formats/OggJoin.h"
#include "player/formats/OggPage.h"

#include <gtest/gtest.h>

using namespace didira;

namespace {

// A page of serial with one packet of size bytes; granule 0 marks a header.
QByteArray Page(std::uint32_t serial, qint64 granule, bool first, int size = 40) {
    QByteArray page("OggS", 4);
    page += char(0);
    page += char(first ? 0x02 : 0x00);
    for (int i = 0; i < 8; ++i)
        page += char((granule >> (8 * i)) & 0xff);
    for (int i = 0; i < 4; ++i)
        page += char((serial >> (8 * i)) & 0xff);
    page += QByteArray(8, '\0'); // sequence number and checksum: not looked at
    page += char(1);
    page += char(size);
    page += QByteArray(size, char('a' + serial % 26));
    return page;
}

// A chain: its first page, one more header page, then data pages.
QByteArray Chain(std::uint32_t serial, int dataPages = 3) {
    QByteArray out = Page(serial, 0, true) + Page(serial, 0, false);
    for (int i = 1; i <= dataPages; ++i)
        out += Page(serial, 1024 * i, false);
    return out;
}
QByteArray DataOf(std::uint32_t serial) {
    return Chain(serial).mid(2 * Page(serial, 0, true).size());
}

QByteArray FedInPieces(const QByteArray& in, qsizetype piece, int* dropped = nullptr) {
    OggJoinFilter filter;
    QByteArray out;
    for (qsizetype at = 0; at < in.size(); at += piece)
        out += filter.Feed(QByteArrayView(in).sliced(at, std::min(piece, in.size() - at)));
    if (dropped)
        *dropped = filter.DroppedPages();
    return out;
}

} // namespace

TEST(OggJoin, CleanStreamsPassWholeAndJoinsAtABoundaryStartAtTheNextFullChain) {
    const QByteArray clean = Chain(1) + Chain(2) + Chain(1); // a chained stream, a serial again
    struct Case {
        const char* name;
        QByteArray in;
        QByteArray out;
        int dropped;
    };
    const Case cases[] = {
        {"chained", clean, clean, 0},
        {"headers, then another chain's data", Chain(1, 0) + DataOf(2) + Chain(3), Chain(3), 2 + 3},
        {"data of a chain never announced", DataOf(2) + Chain(3), Chain(3), 3},
        {"two chains of headers only", Chain(1, 0) + Chain(2, 0) + Chain(3), Chain(3), 4},
        // Not Ogg where a page should start: passed on from there, the demuxer resyncs.
        {"garbage", Chain(1) + QByteArray("garbage!") + Chain(2),
         Chain(1) + QByteArray("garbage!") + Chain(2), 0},
    };
    for (const Case& c : cases) {
        for (qsizetype piece : {qsizetype(1), qsizetype(7), qsizetype(61), c.in.size()}) {
            SCOPED_TRACE(testing::Message() << c.name << ", pieces of " << piece);
            int dropped = -1;
            EXPECT_EQ(FedInPieces(c.in, piece, &dropped), c.out);
            EXPECT_EQ(dropped, c.dropped);
        }
    }
}

TEST(OggJoin, HeadersWithoutDataAreLetGoOnceTooManyAreHeld) {
    QByteArray headers = Page(5, 0, true);
    while (headers.size() <= OggJoinFilter::kMaxHeld)
        headers += Page(5, 0, false, 250);
    EXPECT_EQ(FedInPieces(headers, 4096).size(), headers.size());
}

// A flush (the time shift moving) drops what is held: the start of a page,
// and a new chain's headers the demuxer never got. What follows goes on from
// the chain the demuxer is in, or starts a chain of its own; the demuxer is
// told how far it has got by what the filter holds.
TEST(OggJoin, AFlushDropsWhatIsHeldAndGoesOnFromTheDemuxersChain) {
    OggJoinFilter filter;
    ASSERT_EQ(filter.Feed(Chain(1)), Chain(1));
    const QByteArray next =
        Chain(2).first(2 * Page(2, 0, true).size()) + Page(2, 0, false).first(9);
    EXPECT_TRUE(filter.Feed(next).isEmpty()) << "chain 2's headers pass with its data";
    EXPECT_EQ(filter.Holding(), next.size());
    filter.Flushed();
    EXPECT_EQ(filter.Holding(), 0);
    const QByteArray more = Page(1, 9000, false);
    EXPECT_EQ(filter.Feed(more), more) << "chain 1 goes on, not dropped as unknown";
    EXPECT_EQ(filter.Feed(Chain(3)), Chain(3)) << "another chain starts cleanly";
    EXPECT_EQ(filter.DroppedPages(), 0);
}

TEST(OggPage, TheReaderFindsWholePagesOnlyAndResyncsPastWhatIsNoPage) {
    const QByteArray first = Page(7, 0, true);
    const QByteArray data = Page(7, 4096, false, 200);
    EXPECT_EQ(ogg::PageLength(first), first.size());
    EXPECT_EQ(ogg::PageLength(first.first(ogg::kHeaderSize)), 0) << "segment table missing";
    EXPECT_EQ(ogg::PageLength(data.first(40)), data.size()) << "declared before the body came";
    EXPECT_EQ(ogg::PageLength(QByteArray("Og")), 0) << "may still be a page";
    EXPECT_EQ(ogg::PageLength(QByteArray("OgX")), -1);
    QByteArray version = first;
    version[4] = 1;
    EXPECT_EQ(ogg::PageLength(version), -1);

    const ogg::PageHeader head(data);
    EXPECT_EQ(head.Granule(), 4096);
    EXPECT_EQ(head.Serial(), 7u);
    EXPECT_TRUE(head.HasAudio());
    EXPECT_FALSE(head.FirstOfStream());
    EXPECT_TRUE(ogg::PageHeader(first).FirstOfStream() && ogg::PageHeader(first).IsHeader());
    EXPECT_FALSE(ogg::PageHeader(Page(7, -1, false)).HasAudio()) << "no packet ends on it";

    // Garbage, a false capture pattern, two pages, and the start of a third.
    const QByteArray bytes = "junkOggS\x01" + first + "xx" + data + data.first(30);
    std::vector<qsizetype> found;
    ogg::ForEachPage(bytes, [&](qsizetype at, QByteArrayView page) {
        found.push_back(at);
        EXPECT_EQ(ogg::PageLength(page), page.size());
        return true;
    });
    const qsizetype at = 9;
    EXPECT_EQ(found, (std::vector<qsizetype>{at, at + first.size() + 2}));
    EXPECT_EQ(ogg::FindPage(bytes), at);
    EXPECT_EQ(ogg::FindPage(bytes, at + 1), at + first.size() + 2);
}
