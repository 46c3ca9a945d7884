#include "player/formats/TsAudio.h"

#include "player/formats/TsPacket.h"

namespace didira {

bool TsAudio::StartsAudio(const unsigned char* packet) const {
    const mpegts::Packet p(packet);
    return m_codec != Codec::Unknown && p.start && p.pid == m_audioPid && p.payload;
}

void TsAudio::Packet(const unsigned char* packet, QByteArray* audio) {
    const mpegts::Packet p(packet);
    if (packet[0] != mpegts::kSync || p.damaged || !p.payload)
        return;
    const unsigned char* section = nullptr;
    int sectionSize = 0;
    if ((p.pid == 0 || p.pid == m_pmtPid) && p.start) {
        if (!p.Section(&section, &sectionSize))
            return;
        // The first programme's map.
        const auto first = [this](int program, std::uint16_t pmt) {
            if (program != 0)
                m_pmtPid = pmt;
            return program == 0;
        };
        if (p.pid != 0 || !mpegts::ForEachProgram(section, sectionSize, first))
            if (p.pid == m_pmtPid)
                ReadPmt(section, sectionSize);
        return;
    }
    if (p.pid != m_audioPid || m_codec == Codec::Unknown)
        return;
    const unsigned char* payload = p.payload;
    const int size = p.size;
    if (p.start) {
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
    mpegts::ForEachStream(section, size, [this](unsigned char type, std::uint16_t pid) {
        // ADTS AAC (0x0f); MPEG-1 and MPEG-2 audio (0x03, 0x04).
        const Codec codec = type == 0x0f                   ? Codec::Aac
                            : type == 0x03 || type == 0x04 ? Codec::Mp3
                                                           : Codec::Unknown;
        if (codec == Codec::Unknown)
            return true;
        if (pid != m_audioPid)
            m_inPes = false;
        m_audioPid = pid;
        m_codec = codec;
        return false;
    });
}

} // namespace didira
