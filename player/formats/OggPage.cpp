#include "player/formats/OggPage.h"

#include <algorithm>
#include <cstring>

namespace didira::ogg {

namespace {

std::uint64_t LittleEndian(QByteArrayView bytes, qsizetype at, int size) {
    std::uint64_t value = 0;
    for (int i = size - 1; i >= 0; --i)
        value = value << 8 | static_cast<unsigned char>(bytes[at + i]);
    return value;
}

} // namespace

qsizetype PageLength(QByteArrayView bytes) {
    static constexpr char kCapture[] = "OggS";
    const qsizetype known = std::min<qsizetype>(bytes.size(), 4);
    if (known > 0 && std::memcmp(bytes.data(), kCapture, known) != 0)
        return -1;
    // Version 0 is the only one, and only three flags are defined.
    if ((bytes.size() > 4 && bytes[4] != 0) ||
        (bytes.size() > 5 && static_cast<unsigned char>(bytes[5]) > 7))
        return -1;
    if (bytes.size() < kHeaderSize)
        return 0;
    const auto segments = static_cast<unsigned char>(bytes[26]);
    if (bytes.size() < kHeaderSize + segments)
        return 0;
    qsizetype length = kHeaderSize + segments;
    for (int i = 0; i < segments; ++i)
        length += static_cast<unsigned char>(bytes[kHeaderSize + i]);
    return length;
}

qsizetype FindPage(QByteArrayView bytes, qsizetype from) {
    for (qsizetype at = bytes.indexOf("OggS", from); at >= 0; at = bytes.indexOf("OggS", at + 1))
        if (PageLength(bytes.sliced(at)) >= 0)
            return at;
    return -1;
}

std::int64_t PageHeader::Granule() const {
    return static_cast<std::int64_t>(LittleEndian(m_page, 6, 8));
}

std::uint32_t PageHeader::Serial() const {
    return static_cast<std::uint32_t>(LittleEndian(m_page, 14, 4));
}

} // namespace didira::ogg
