// Decodes arbitrary bytes as CP932 and as UTF-8 and walks them character by
// character, checking the codec against independent formulations: a UTF-8
// validator written from the encoding's definition, decoding a whole text
// against decoding it one character at a time, and searches against a walk.
#include "catalogue/TextCodec.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace {

using didira::TextEncoding;

[[noreturn]] void Fail() {
    __builtin_trap();
}

// Well-formed UTF-8 by decoding each code point and checking its range.
bool ReferenceValidUtf8(std::string_view s) {
    for (std::size_t i = 0; i < s.size();) {
        const auto c = static_cast<unsigned char>(s[i]);
        std::size_t n = 0;
        std::uint32_t cp = 0;
        if (c < 0x80) {
            ++i;
            continue;
        }
        if ((c & 0xE0) == 0xC0) {
            n = 2;
            cp = c & 0x1Fu;
        } else if ((c & 0xF0) == 0xE0) {
            n = 3;
            cp = c & 0x0Fu;
        } else if ((c & 0xF8) == 0xF0) {
            n = 4;
            cp = c & 0x07u;
        } else {
            return false;
        }
        if (i + n > s.size())
            return false;
        for (std::size_t k = 1; k < n; ++k) {
            const auto d = static_cast<unsigned char>(s[i + k]);
            if ((d & 0xC0) != 0x80)
                return false;
            cp = (cp << 6) | (d & 0x3Fu);
        }
        const std::uint32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
        if (cp < least[n] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        i += n;
    }
    return true;
}

void Check(std::string_view s, TextEncoding enc) {
    // The walk: every step is a character of one to four bytes that stays
    // inside the text.
    std::vector<std::size_t> starts;
    for (std::size_t i = 0; i < s.size();) {
        const std::size_t n = didira::CharLength(s, i, enc);
        if (n == 0 || n > 4 || i + n > s.size())
            Fail();
        starts.push_back(i);
        i += n;
    }
    if (!s.empty() && didira::LastCharStart(s, enc) != starts.back())
        Fail();

    const std::string decoded = didira::ToUtf8(s, enc);
    if (!ReferenceValidUtf8(decoded))
        Fail();
    if (enc == TextEncoding::Utf8 && ReferenceValidUtf8(s) && decoded != s)
        Fail();
    // Characters decode independently: no state and no misalignment carries
    // over from one to the next. Each call opens a converter, which is slow,
    // so only short texts are compared piece by piece.
    if (starts.size() <= 6) {
        std::string pieces;
        for (std::size_t k = 0; k < starts.size(); ++k) {
            const std::size_t end = k + 1 < starts.size() ? starts[k + 1] : s.size();
            pieces += didira::ToUtf8(s.substr(starts[k], end - starts[k]), enc);
        }
        if (pieces != decoded)
            Fail();
    }

    // Searches find the first match on a character boundary, and only there.
    if (s.size() >= 2) {
        const std::size_t cut = static_cast<unsigned char>(s[0]) % s.size();
        const std::string_view hay = s.substr(1);
        const std::string_view needle = s.substr(1, 1 + cut % 3);
        if (enc == TextEncoding::Cp932 || ReferenceValidUtf8(needle)) {
            std::size_t expected = std::string_view::npos;
            for (std::size_t i = 0; i < hay.size(); i += didira::CharLength(hay, i, enc)) {
                if (hay.compare(i, needle.size(), needle) == 0) {
                    expected = i;
                    break;
                }
            }
            if (didira::FindText(hay, needle, 0, enc) != expected)
                Fail();
        }
        const char byte = s[cut];
        std::size_t last = std::string_view::npos;
        for (const std::size_t i : starts)
            if (s[i] == byte)
                last = i;
        if (didira::FindLastByte(s, byte, enc) != last)
            Fail();
    }

    const std::string lower = didira::LastCharsLower(s, 4, enc);
    if (lower.size() > s.size() || (s.size() >= 16 && lower.size() > 16))
        Fail();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view s(reinterpret_cast<const char*>(data), size);
    Check(s, TextEncoding::Cp932);
    Check(s, TextEncoding::Utf8);
    if (didira::IsValidUtf8(s) != ReferenceValidUtf8(s))
        Fail();
    return 0;
}
