#include "catalogue/TextCodec.h"

#include <cerrno>
#include <iconv.h>

namespace didira {

namespace {

bool IsContinuation(unsigned char c) {
    return (c & 0xC0) == 0x80;
}

// Length of the well-formed UTF-8 sequence at s[pos], or 0 when it is not one
// (overlong forms, surrogates and values past U+10FFFF are not).
std::size_t Utf8SequenceLength(std::string_view s, std::size_t pos) {
    const auto at = [&](std::size_t i) { return static_cast<unsigned char>(s[pos + i]); };
    const std::size_t left = s.size() - pos;
    const unsigned char c = at(0);
    if (c < 0x80)
        return 1;
    if (c >= 0xC2 && c <= 0xDF)
        return left >= 2 && IsContinuation(at(1)) ? 2 : 0;
    if (c >= 0xE0 && c <= 0xEF) {
        if (left < 3 || !IsContinuation(at(1)) || !IsContinuation(at(2)))
            return 0;
        if ((c == 0xE0 && at(1) < 0xA0) || (c == 0xED && at(1) >= 0xA0))
            return 0;
        return 3;
    }
    if (c >= 0xF0 && c <= 0xF4) {
        if (left < 4 || !IsContinuation(at(1)) || !IsContinuation(at(2)) || !IsContinuation(at(3)))
            return 0;
        if ((c == 0xF0 && at(1) < 0x90) || (c == 0xF4 && at(1) >= 0x90))
            return 0;
        return 4;
    }
    return 0;
}

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

class Iconv {
public:
    Iconv(const char* to, const char* from) : m_cd(iconv_open(to, from)) {}
    ~Iconv() {
        if (ok())
            iconv_close(m_cd);
    }
    Iconv(const Iconv&) = delete;
    Iconv& operator=(const Iconv&) = delete;
    bool ok() const { return m_cd != reinterpret_cast<iconv_t>(-1); }
    iconv_t get() const { return m_cd; }

private:
    iconv_t m_cd;
};

std::string Cp932ToUtf8(std::string_view s) {
    std::string out;
    Iconv cd("UTF-8", "CP932");
    if (!cd.ok()) {
        // Without a converter only ASCII can be trusted.
        for (std::size_t i = 0; i < s.size(); i += CharLength(s, i, TextEncoding::Cp932))
            out +=
                static_cast<unsigned char>(s[i]) < 0x80 ? std::string_view(&s[i], 1) : kReplacement;
        return out;
    }
    out.reserve(s.size() * 3 / 2 + 4);
    char buffer[4096];
    std::size_t pos = 0;
    while (pos < s.size()) {
        char* in = const_cast<char*>(s.data() + pos);
        std::size_t inLeft = s.size() - pos;
        char* dst = buffer;
        std::size_t dstLeft = sizeof buffer;
        const std::size_t rc = iconv(cd.get(), &in, &inLeft, &dst, &dstLeft);
        const int error = errno;
        out.append(buffer, static_cast<std::size_t>(dst - buffer));
        pos = s.size() - inLeft;
        if (rc != static_cast<std::size_t>(-1))
            break;
        if (error == E2BIG)
            continue;
        // EILSEQ or EINVAL: replace the offending character and go on.
        out += kReplacement;
        pos += CharLength(s, pos, TextEncoding::Cp932);
        iconv(cd.get(), nullptr, nullptr, nullptr, nullptr);
    }
    return out;
}

// Strict: a character that CP932 cannot hold fails the whole conversion.
bool Utf8ToCp932(std::string_view s, std::string& out) {
    out.clear();
    Iconv cd("CP932", "UTF-8");
    if (!cd.ok())
        return false;
    char buffer[4096];
    char* in = const_cast<char*>(s.data());
    std::size_t inLeft = s.size();
    while (inLeft > 0) {
        char* dst = buffer;
        std::size_t dstLeft = sizeof buffer;
        const std::size_t rc = iconv(cd.get(), &in, &inLeft, &dst, &dstLeft);
        const int error = errno;
        out.append(buffer, static_cast<std::size_t>(dst - buffer));
        if (rc == static_cast<std::size_t>(-1) && error != E2BIG)
            return false;
    }
    return true;
}

} // namespace

std::size_t CharLength(std::string_view s, std::size_t pos, TextEncoding enc) {
    const auto c = static_cast<unsigned char>(s[pos]);
    if (c < 0x80)
        return 1;
    if (enc == TextEncoding::Cp932)
        return IsCp932LeadByte(c) && pos + 1 < s.size() ? 2 : 1;
    const std::size_t n = Utf8SequenceLength(s, pos);
    return n == 0 ? 1 : n;
}

std::size_t FindText(std::string_view hay, std::string_view needle, std::size_t from,
                     TextEncoding enc) {
    if (needle.empty() || from > hay.size())
        return std::string_view::npos;
    if (enc == TextEncoding::Utf8) {
        // UTF-8 is self-synchronising: a well-formed needle only matches on a
        // character boundary.
        return hay.find(needle, from);
    }
    for (std::size_t i = from; i + needle.size() <= hay.size(); i += CharLength(hay, i, enc)) {
        if (hay.compare(i, needle.size(), needle) == 0)
            return i;
    }
    return std::string_view::npos;
}

std::size_t FindLastByte(std::string_view s, char c, TextEncoding enc) {
    std::size_t found = std::string_view::npos;
    for (std::size_t i = 0; i < s.size(); i += CharLength(s, i, enc)) {
        if (s[i] == c)
            found = i;
    }
    return found;
}

std::size_t LastCharStart(std::string_view s, TextEncoding enc) {
    std::size_t last = 0;
    for (std::size_t i = 0; i < s.size(); i += CharLength(s, i, enc))
        last = i;
    return last;
}

bool IsValidUtf8(std::string_view s) {
    for (std::size_t i = 0; i < s.size();) {
        const std::size_t n = Utf8SequenceLength(s, i);
        if (n == 0)
            return false;
        i += n;
    }
    return true;
}

bool HasNonAscii(std::string_view s) {
    for (const char c : s) {
        if (static_cast<unsigned char>(c) >= 0x80)
            return true;
    }
    return false;
}

std::string ToUtf8(std::string_view s, TextEncoding enc) {
    if (enc == TextEncoding::Cp932)
        return Cp932ToUtf8(s);
    std::string out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size();) {
        const std::size_t n = Utf8SequenceLength(s, i);
        if (n == 0) {
            out += kReplacement;
            ++i;
        } else {
            out.append(s.substr(i, n));
            i += n;
        }
    }
    return out;
}

bool FromUtf8(std::string_view utf8, TextEncoding enc, std::string& out) {
    if (!IsValidUtf8(utf8))
        return false;
    if (enc == TextEncoding::Utf8) {
        out.assign(utf8);
        return true;
    }
    // Some characters have a CP932 form that reads back as another one (a
    // wave dash comes back as a full-width tilde): those are not held either.
    return Utf8ToCp932(utf8, out) && Cp932ToUtf8(out) == utf8;
}

std::string LastCharsLower(std::string_view s, std::size_t count, TextEncoding enc) {
    // Character starts, walking forward so that double-byte characters are
    // never cut in half.
    std::size_t starts[8] = {};
    std::size_t seen = 0;
    for (std::size_t i = 0; i < s.size(); i += CharLength(s, i, enc))
        starts[seen++ % 8] = i;
    if (count > 8)
        count = 8;
    const std::size_t first = seen <= count ? 0 : starts[(seen - count) % 8];
    std::string out(s.substr(first));
    for (std::size_t i = 0; i < out.size(); i += CharLength(out, i, enc)) {
        if (out[i] >= 'A' && out[i] <= 'Z')
            out[i] = static_cast<char>(out[i] - 'A' + 'a');
    }
    return out;
}

} // namespace didira
