#include "control/PersistedState.h"
#include "res/Resources.h"

#include <QtEndian>
#include <cstring>
#include <functional>
#include <gtest/gtest.h>

using namespace didira;

namespace {

// The stream the control receives: the template entry without its prefix field.
QByteArray Stream() {
    return MediaPlayerInitData().mid(4);
}

std::span<const std::byte> Bytes(const QByteArray& data) {
    return {reinterpret_cast<const std::byte*>(data.constData()),
            static_cast<std::size_t>(data.size())};
}

template <typename T> void Poke(QByteArray& data, qsizetype offset, T value) {
    const T le = qToLittleEndian(value);
    std::memcpy(data.data() + offset, &le, sizeof le);
}

} // namespace

TEST(PersistedState, TheTemplateEntryIs340BytesAndParsesToItsValues) {
    ASSERT_EQ(MediaPlayerInitData().size(), 340);
    QString error;
    const auto state = ParsePersistedState(Bytes(Stream()), &error);
    ASSERT_TRUE(state) << error.toStdString();
    EXPECT_EQ(state->version, 1u);
    EXPECT_EQ(state->extentX, 1349);
    EXPECT_EQ(state->extentY, 635);
    ASSERT_EQ(state->values.size(), 61u);
    EXPECT_EQ(state->values[0], Variant(std::int32_t{-1}));
    EXPECT_EQ(state->values[1], Variant(VariantBool{0}));
    EXPECT_EQ(state->values[6], Variant(std::monostate{}));
    EXPECT_EQ(state->values[11], Variant(QString()));
    EXPECT_EQ(state->values[12], Variant(5.0));
    EXPECT_EQ(state->values[20], Variant(std::uint32_t{0x00FFFFFF}));
    EXPECT_EQ(state->values[59], Variant(std::int32_t{-600}));
    EXPECT_EQ(state->values[60], Variant(VariantBool{0}));
}

TEST(PersistedState, EveryTruncatedCopyIsRejected) {
    const QByteArray stream = Stream();
    for (qsizetype size = 0; size < stream.size(); ++size) {
        // A copy on the heap of exactly this size lets the sanitizer catch a read past it.
        const QByteArray cut(stream.constData(), size);
        QString error;
        EXPECT_FALSE(ParsePersistedState(Bytes(cut), &error)) << "size " << size;
        EXPECT_FALSE(error.isEmpty());
    }
}

TEST(PersistedState, CorruptedCopiesAreRejectedWithTheirReason) {
    const QByteArray good = Stream();
    // Value 1 (a 4-byte integer) starts after the 12-byte header; value 2 is a
    // boolean; the first string is an empty one (2 bytes: its terminating zero).
    const qsizetype bool2 = 12 + 6;
    const qsizetype string = good.indexOf(QByteArray("\x08\x00\x02\x00\x00\x00\x00\x00", 8));
    ASSERT_GT(string, 0);
    struct Case {
        const char* name;
        std::function<void(QByteArray&)> corrupt;
        const char* error;
    };
    const std::vector<Case> cases = {
        {"another version", [](QByteArray& d) { Poke<std::uint32_t>(d, 0, 2); }, "version 2"},
        {"unknown tag", [](QByteArray& d) { Poke<std::uint16_t>(d, 12, 9); }, "unknown type 9"},
        {"odd string size", [&](QByteArray& d) { Poke<std::uint32_t>(d, string + 2, 3); },
         "string of 3 bytes"},
        {"string longer than the stream",
         [&](QByteArray& d) { Poke<std::uint32_t>(d, string + 2, 0xFFFFFFFEu); }, "truncated"},
        {"string without its zero",
         [&](QByteArray& d) { Poke<std::uint16_t>(d, string + 6, u'A'); }, "unterminated"},
        {"boolean neither -1 nor 0", [&](QByteArray& d) { Poke<std::int16_t>(d, bool2 + 2, 5); },
         "boolean of 5"},
        {"bytes after the last value", [](QByteArray& d) { d.append('\0'); }, "after its last"},
    };
    for (const Case& c : cases) {
        QByteArray data = good;
        c.corrupt(data);
        QString error;
        EXPECT_FALSE(ParsePersistedState(Bytes(data), &error)) << c.name;
        EXPECT_TRUE(error.contains(QLatin1String(c.error)))
            << c.name << ": " << error.toStdString();
    }
}

TEST(PersistedState, StringsKeepTheirUnitsEvenWhenTheyLookLikeAByteOrderMark) {
    // The template's first string value is empty; replace it with each text.
    const QByteArray good = Stream();
    const QByteArray empty("\x08\x00\x02\x00\x00\x00\x00\x00", 8);
    const qsizetype at = good.indexOf(empty);
    ASSERT_GT(at, 0);
    const std::size_t index = 11; // its position among the values
    for (const std::u16string& text :
         {std::u16string(u"\uFEFFab"), std::u16string(u"\uFFFE\u0007"), std::u16string(u"a\0b")}) {
        QByteArray value("\x08\x00", 2);
        const auto bytes = static_cast<std::uint32_t>((text.size() + 1) * 2);
        value.append(reinterpret_cast<const char*>(&bytes), 4);
        value.append(reinterpret_cast<const char*>(text.data()),
                     static_cast<qsizetype>(text.size() * 2));
        value.append("\0\0", 2);
        const QByteArray data = good.left(at) + value + good.mid(at + empty.size());
        QString error;
        const auto state = ParsePersistedState(Bytes(data), &error);
        ASSERT_TRUE(state) << error.toStdString();
        EXPECT_EQ(std::get<QString>(state->values[index]).toStdU16String(), text);
    }
}
