// Decoding of the text a station announces: encodings tried in order, and
// what is removed.
#include "player/formats/StreamText.h"

#include <gtest/gtest.h>

namespace didira {
namespace {

struct Case {
    const char* what;
    QByteArray raw;
    QString expected;
};

TEST(StreamText, DecodesUtf8ThenCp932ThenLatin1) {
    const Case cases[] = {
        {"ASCII", "Artist - Song", u"Artist - Song"_qs},
        {"UTF-8 Japanese", "\xe4\xbb\x8a\xe5\xa4\x9c - \xe6\x9b\xb2", u"今夜 - 曲"_qs},
        {"UTF-8 Latin", "Caf\xc3\xa9", u"Café"_qs},
        // Shift_JIS, with 0x5C as the second byte of 表 and ソ (not a backslash).
        {"Shift_JIS",
         QByteArray::fromHex("8da196e982cc838a834e834783588367202d20955c8cbb835c8393834f"),
         u"今夜のリクエスト - 表現ソング"_qs},
        // Characters whose mapping is CP932's own: the NEC circled one and the
        // full-width tilde (U+FF5E, not the wave dash of JIS).
        {"CP932 extensions", QByteArray::fromHex("87408160"), u"①～"_qs},
        {"Latin-1", "Caf\xe9 au lait", u"Café au lait"_qs},
        // A CP932 lead byte with no second byte is no CP932.
        {"Latin-1, not CP932", "Cr\xe8me br\xfbl\xe9", u"Crème brûlé"_qs},
        // 今 then half a character: Latin-1, whose C1 bytes are then removed.
        {"half a Shift_JIS character", QByteArray::fromHex("8da196"), u"¡"_qs},
    };
    for (const Case& c : cases)
        EXPECT_EQ(DecodeStreamText(c.raw), c.expected) << c.what;
}

TEST(StreamText, RemovesControlCharactersAndOuterSpace) {
    const Case cases[] = {
        {"C0 and DEL", "a\x01\x1b[31mb\x7f", u"a[31mb"_qs},
        {"C1 in UTF-8",
         "a\xc2\x85\xc2\x9b"
         "b",
         u"ab"_qs},
        {"line breaks and tabs", "one\ttwo\nthree", u"one two three"_qs},
        {"outer space", "  \r\n Song \t", u"Song"_qs},
        {"only controls", "\x01\x02\n", QString()},
        {"embedded NUL", QByteArray("a\0b", 3), u"ab"_qs},
        {"empty", QByteArray(), QString()},
    };
    for (const Case& c : cases) {
        const QString got = DecodeStreamText(c.raw);
        EXPECT_EQ(got, c.expected) << c.what;
        EXPECT_TRUE(got.isEmpty() == c.expected.isEmpty()) << c.what;
    }
}

} // namespace
} // namespace didira
