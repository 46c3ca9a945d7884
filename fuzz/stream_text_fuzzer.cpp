// Decodes arbitrary bytes as a station's announced text and checks what the
// player relies on: the result is well-formed, free of control characters
// and outer white space, and decoding it again changes nothing; valid UTF-8
// keeps its printable characters.
#include "player/formats/StreamText.h"

#include <QList>
#include <cstddef>
#include <cstdint>

namespace {

[[noreturn]] void Fail() {
    __builtin_trap();
}

bool IsControl(uint c) {
    return c < 0x20 || (c >= 0x7F && c <= 0x9F);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArrayView raw(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const QString text = didira::DecodeStreamText(raw);
    if (!text.isValidUtf16())
        Fail();
    for (const uint c : text.toUcs4())
        if (IsControl(c))
            Fail();
    if (!text.isEmpty() && (text.front().isSpace() || text.back().isSpace()))
        Fail();
    // Decoded text is UTF-8 when encoded again, and taken as it is then.
    const QByteArray utf8 = text.toUtf8();
    if (didira::DecodeStreamText(utf8) != text)
        Fail();
    // Nothing printable is lost from valid UTF-8 input.
    const QString direct = QString::fromUtf8(raw);
    if (!direct.contains(QChar::ReplacementCharacter) && raw.indexOf('\0') < 0) {
        qsizetype printable = 0;
        for (const uint c : direct.toUcs4())
            printable += !IsControl(c) && !QChar::isSpace(c);
        qsizetype kept = 0;
        for (const uint c : text.toUcs4())
            kept += !QChar::isSpace(c);
        if (kept != printable)
            Fail();
    }
    return 0;
}
