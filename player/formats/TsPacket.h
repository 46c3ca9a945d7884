#pragma once
// The layout of MPEG transport stream packets (ISO/IEC 13818-1) and of the
// tables HLS segments carry in them (PAT, PMT), read in place: the one reader
// of those bytes for every user. Tables are read only as far as they lie in
// one packet, as they do in HLS segments.

#include <cstdint>

namespace didira::mpegts {

inline constexpr int kPacketSize = 188;
inline constexpr unsigned char kSync = 0x47;

// Whether a packet starts at p (n bytes there): its sync byte, and the next
// packet's when there are bytes for it.
inline bool PacketAt(const unsigned char* p, long long n) {
    if (n < 1 || p[0] != kSync)
        return false;
    return n <= kPacketSize || p[kPacketSize] == kSync;
}

// The 13-bit PID at p (two bytes).
inline std::uint16_t Pid(const unsigned char* p) {
    return static_cast<std::uint16_t>(((p[0] & 0x1f) << 8) | p[1]);
}
// The 12-bit length at p (two bytes).
inline int Bits12(const unsigned char* p) {
    return ((p[0] & 0x0f) << 8) | p[1];
}

// The header of the kPacketSize bytes at p (the sync byte not checked).
struct Packet {
    explicit Packet(const unsigned char* p)
        : pid(Pid(p + 1)), start(p[1] & 0x40), damaged(p[1] & 0x80) {
        const int control = (p[3] >> 4) & 0x3;
        const int offset = (control & 0x2) ? 5 + p[4] : 4;
        if ((control & 0x1) && offset < kPacketSize) {
            payload = p + offset;
            size = kPacketSize - offset;
        }
    }
    // The section a table's first packet starts after its pointer field;
    // false when it starts none within the payload.
    bool Section(const unsigned char** section, int* sectionSize) const {
        if (!start || !payload || 1 + payload[0] >= size)
            return false;
        *section = payload + 1 + payload[0];
        *sectionSize = size - 1 - payload[0];
        return true;
    }

    std::uint16_t pid;
    bool start;                             // a PES or a section starts in this packet
    bool damaged;                           // the sender marked it so
    const unsigned char* payload = nullptr; // none: adaptation field only
    int size = 0;
};

// Where a table section's entries end (before its CRC), from its length.
inline int SectionEnd(const unsigned char* section) {
    return 3 + Bits12(section + 1) - 4;
}

// Calls f(program, pmtPid) for each programme of the PAT section of size
// bytes that lies within them, in order, until f returns false; false when
// the section is no PAT.
template <typename F> bool ForEachProgram(const unsigned char* section, int size, F&& f) {
    if (size < 12 || section[0] != 0x00)
        return false;
    const int end = SectionEnd(section);
    for (int i = 8; i + 4 <= end && i + 4 <= size; i += 4)
        if (!f((section[i] << 8) | section[i + 1], Pid(section + i + 2)))
            break;
    return true;
}

// Whether the PAT section of size bytes lies whole in them.
inline bool PatWhole(const unsigned char* section, int size) {
    if (size < 12 || section[0] != 0x00)
        return false;
    const int end = SectionEnd(section);
    return end + 4 <= size && end >= 8;
}

// Whether the PMT section of size bytes lies whole in them.
inline bool PmtWhole(const unsigned char* section, int size) {
    if (size < 16 || section[0] != 0x02)
        return false;
    const int end = SectionEnd(section);
    return end + 4 <= size && end >= 12;
}

// Calls f(streamType, pid) for each stream the PMT section of size bytes
// lists, in order, until f returns false; nothing unless PmtWhole.
template <typename F> void ForEachStream(const unsigned char* section, int size, F&& f) {
    if (!PmtWhole(section, size))
        return;
    const int end = SectionEnd(section);
    for (int i = 12 + Bits12(section + 10); i + 5 <= end; i += 5 + Bits12(section + i + 3))
        if (!f(section[i], Pid(section + i + 1)))
            return;
}

} // namespace didira::mpegts
