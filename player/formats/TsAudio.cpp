#include "player/formats/TsAudio.h"

namespace didira {

namespace {

constexpr unsigned char kSync = 0x47;

std::uint16_t Pid(const unsigned char* p) {
    return static_cast<std::uint16_t>(((p[0] & 0x1f) << 8) | p[1]);
}

int Bits12(const unsigned char* p) {
    return ((p[0] & 0x0f) << 8) | p[1];
}

// Where a packet's payload starts; 0 when it has none.
int PayloadOffset(const unsigned char* packet) {
    const int control = (packet[3] >> 4) & 0x3;
    if (!(control & 0x1))
        return 0;
    const int offset = (control & 0x2) ? 5 + packet[4] : 4;
    return offset < TsAudio::kPacketSize ? offset : 0;
}

} // namespace

bool TsAudio::PacketAt(const unsigned char* p, qint64 n) {
    if (n < 1 || p[0] != kSync)
        return false;
    return n <= kPacketSize || p[kPacketSize] == kSync;
}

bool TsAudio::StartsAudio(const unsigned char* packet) const {
    return m_codec != Codec::Unknown && (packet[1] & 0x40) && Pid(packet + 1) == m_audioPid &&
           PayloadOffset(packet) > 0;
}

void TsAudio::Packet(const unsigned char* packet, QByteArray* audio) {
    if (packet[0] != kSync || (packet[1] & 0x80))
        return;
    const std::uint16_t pid = Pid(packet + 1);
    const bool start = packet[1] & 0x40;
    const int offset = PayloadOffset(packet);
    if (offset == 0)
        return;
    const unsigned char* payload = packet + offset;
    const int size = kPacketSize - offset;
    if ((pid == 0 || pid == m_pmtPid) && start) {
        if (1 + payload[0] >= size)
            return;
        const unsigned char* section = payload + 1 + payload[0];
        const int sectionSize = size - 1 - payload[0];
        if (pid == 0 && sectionSize >= 12 && section[0] == 0x00) {
            // The first programme's map.
            const int end = 3 + Bits12(section + 1) - 4;
            for (int i = 8; i + 4 <= end && i + 4 <= sectionSize; i += 4)
                if (((section[i] << 8) | section[i + 1]) != 0) {
                    m_pmtPid = Pid(section + i + 2);
                    break;
                }
        } else if (pid == m_pmtPid) {
            ReadPmt(section, sectionSize);
        }
        return;
    }
    if (pid != m_audioPid || m_codec == Codec::Unknown)
        return;
    if (start) {
        m_inPes = false;
        if (size < 9 || payload[0] != 0 || payload[1] != 0 || payload[2] != 1)
            return;
        const int header = 9 + payload[8];
        if (header > size)
            return;
        m_inPes = true;
        if (audio)
            audio->append(reinterpret_cast<const char*>(payload + header), size - header);
        return;
    }
    if (m_inPes && audio)
        audio->append(reinterpret_cast<const char*>(payload), size);
}

void TsAudio::ReadPmt(const unsigned char* section, int size) {
    if (size < 16 || section[0] != 0x02)
        return;
    const int end = 3 + Bits12(section + 1) - 4;
    if (end + 4 > size || end < 12)
        return;
    for (int i = 12 + Bits12(section + 10); i + 5 <= end; i += 5 + Bits12(section + i + 3)) {
        // ADTS AAC (0x0f); MPEG-1 and MPEG-2 audio (0x03, 0x04).
        const unsigned char type = section[i];
        const Codec codec = type == 0x0f                   ? Codec::Aac
                            : type == 0x03 || type == 0x04 ? Codec::Mp3
                                                           : Codec::Unknown;
        if (codec == Codec::Unknown)
            continue;
        const std::uint16_t pid = Pid(section + i + 1);
        if (pid != m_audioPid)
            m_inPes = false;
        m_audioPid = pid;
        m_codec = codec;
        return;
    }
}

} // namespace didira
