// The ICY metadata read from the bytes as they arrive: blocks found by
// counting whatever the pieces, the StreamTitle taken as stations write it,
// and each new title reported once.
#include "player/formats/IcyMetadata.h"

#include <QList>
#include <gtest/gtest.h>

namespace didira {
namespace {

// One interval of audio ('a' bytes) followed by a metadata block of text,
// padded with NULs to whole 16-byte units (none for empty text).
QByteArray Interval(std::uint32_t interval, const QByteArray& text) {
    QByteArray block = text;
    const qsizetype units = (block.size() + 15) / 16;
    block.resize(units * 16, '\0');
    return QByteArray(qsizetype(interval), 'a') + char(units) + block;
}

QByteArray Titled(std::uint32_t interval, const QByteArray& title) {
    return Interval(interval, "StreamTitle='" + title + "';StreamUrl='';");
}

// Feeds stream in pieces of size piece and lists every title reported.
QList<QByteArray> Read(std::uint32_t interval, const QByteArray& stream, qsizetype piece) {
    IcyMetadataReader reader(interval);
    QList<QByteArray> titles;
    for (qsizetype at = 0; at < stream.size(); at += piece)
        if (reader.Feed(QByteArrayView(stream).sliced(at, std::min(piece, stream.size() - at))))
            titles << reader.Title();
    return titles;
}

TEST(IcyMetadata, FindsEveryBlockWhateverThePiecesAndReportsEachNewTitleOnce) {
    constexpr std::uint32_t kInterval = 37;
    const QByteArray stream = Titled(kInterval, "First") + Interval(kInterval, "") +
                              Titled(kInterval, "First") + Interval(kInterval, "StreamUrl='x';") +
                              Titled(kInterval, "") + Titled(kInterval, "Second") +
                              // The audio itself may hold anything, title-like text included.
                              Titled(kInterval, "Third").replace(0, 16, "StreamTitle='X';");
    // An empty title after a named one is reported, to clear it.
    const QList<QByteArray> expected{"First", "", "Second", "Third"};
    for (const qsizetype piece : {qsizetype(1), qsizetype(7), qsizetype(38)})
        EXPECT_EQ(Read(kInterval, stream, piece), expected) << "pieces of " << piece;
    // All in one piece: only the newest title counts.
    EXPECT_EQ(Read(kInterval, stream, stream.size()), QList<QByteArray>{"Third"});

    // Two new titles in one piece: the newer one stands.
    IcyMetadataReader reader(kInterval);
    EXPECT_TRUE(reader.Feed(Titled(kInterval, "A") + Titled(kInterval, "B")));
    EXPECT_EQ(reader.Title(), "B");
    EXPECT_FALSE(reader.Feed(Titled(kInterval, "B")));
    // An interval larger than any piece, and the largest block there is.
    const QByteArray longTitle(IcyMetadataReader::kMaxBlock - 15, 'x');
    const QByteArray big = Interval(100000, "StreamTitle='" + longTitle + "';");
    ASSERT_EQ(big.size(), 100000 + 1 + IcyMetadataReader::kMaxBlock);
    EXPECT_EQ(Read(100000, big + Titled(100000, "after"), 4096),
              (QList<QByteArray>{longTitle, "after"}));
}

TEST(IcyMetadata, TakesTheTitleAsStationsWriteIt) {
    const struct {
        const char* what;
        QByteArray block;
        std::optional<QByteArray> title;
    } cases[] = {
        {"plain", "StreamTitle='Artist - Song';StreamUrl='http://x/';", "Artist - Song"},
        {"quotes inside", "StreamTitle='Guns N' Roses - Don't Cry';", "Guns N' Roses - Don't Cry"},
        {"no field end", QByteArray("StreamTitle='Song'\0\0\0", 21), "Song"},
        {"no closing quote", "StreamTitle='Song", "Song"},
        {"any case, not first", "StreamUrl='';streamtitle='Song';", "Song"},
        {"raw bytes kept", "StreamTitle='\x8d\xa1\x96\xe9';", "\x8d\xa1\x96\xe9"},
        {"empty", "StreamTitle='';", ""},
        {"key inside another value", "StreamUrl='http://x/?StreamTitle='Song';", std::nullopt},
        {"none", "StreamUrl='x';", std::nullopt},
        {"nothing", QByteArray(16, '\0'), std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(IcyStreamTitle(c.block), c.title) << c.what;
}

} // namespace
} // namespace didira
