#include "player/formats/TimedId3.h"

#include <algorithm>

namespace didira {

namespace {

constexpr unsigned char kSync = 0x47;
constexpr unsigned char kMetadataPes = 0x15; // stream type
constexpr std::size_t kMaxStreams = 8;       // metadata PIDs followed at once

int Bits12(const unsigned char* p) {
    return ((p[0] & 0x0f) << 8) | p[1];
}

std::uint16_t Pid(const unsigned char* p) {
    return static_cast<std::uint16_t>(((p[0] & 0x1f) << 8) | p[1]);
}

// Stream ids whose PES has no optional header (ISO/IEC 13818-1, 2.4.3.7).
bool WithoutPesHeader(unsigned char streamId) {
    switch (streamId) {
    case 0xbc:
    case 0xbe:
    case 0xbf:
    case 0xf0:
    case 0xf1:
    case 0xf2:
    case 0xf8:
    case 0xff:
        return true;
    default:
        return false;
    }
}

} // namespace

std::vector<QByteArray> TimedId3Reader::Feed(QByteArrayView bytes) {
    std::vector<QByteArray> tags;
    while (!bytes.isEmpty()) {
        if (m_partial.isEmpty()) {
            // A packet starts with the sync byte; bytes before one are skipped.
            const qsizetype sync = bytes.indexOf(static_cast<char>(kSync));
            if (sync < 0)
                break;
            bytes = bytes.sliced(sync);
            if (bytes.size() >= kPacketSize) {
                Packet(reinterpret_cast<const unsigned char*>(bytes.data()), tags);
                bytes = bytes.sliced(kPacketSize);
                continue;
            }
        }
        const qsizetype take = std::min<qsizetype>(kPacketSize - m_partial.size(), bytes.size());
        m_partial.append(bytes.first(take));
        bytes = bytes.sliced(take);
        if (m_partial.size() == kPacketSize) {
            Packet(reinterpret_cast<const unsigned char*>(m_partial.constData()), tags);
            m_partial.clear();
        }
    }
    return tags;
}

void TimedId3Reader::Packet(const unsigned char* packet, std::vector<QByteArray>& tags) {
    if (packet[1] & 0x80)
        return; // the sender marked it damaged
    const std::uint16_t pid = Pid(packet + 1);
    const bool start = packet[1] & 0x40;
    const int control = (packet[3] >> 4) & 0x3;
    if (!(control & 0x1))
        return; // adaptation field only
    const int offset = (control & 0x2) ? 5 + packet[4] : 4;
    if (offset >= kPacketSize)
        return;
    const unsigned char* payload = packet + offset;
    const int size = kPacketSize - offset;

    const bool pat = pid == 0;
    if (pat || std::find(m_pmtPids.begin(), m_pmtPids.end(), pid) != m_pmtPids.end()) {
        if (!start || 1 + payload[0] >= size)
            return;
        const unsigned char* section = payload + 1 + payload[0];
        const int sectionSize = size - 1 - payload[0];
        if (pat)
            ReadPat(section, sectionSize);
        else
            ReadPmt(pid, section, sectionSize);
        return;
    }
    if (!m_pmt.contains(pid))
        return;
    Pes& pes = m_pes[pid];
    if (start) {
        Finish(pes, tags); // a PES of unstated length ends where the next starts
        pes = Pes{};
        if (size < 6 || payload[0] != 0 || payload[1] != 0 || payload[2] != 1)
            return; // not a PES start: skipped up to the next one
        const int declared = (payload[4] << 8) | payload[5];
        pes.length = declared ? 6 + declared : 0;
        pes.open = true;
    }
    if (!pes.open)
        return;
    pes.data.append(reinterpret_cast<const char*>(payload), size);
    if (pes.data.size() > kMaxPes) {
        pes = Pes{};
    } else if (pes.length && pes.data.size() >= pes.length) {
        pes.data.truncate(pes.length);
        Finish(pes, tags);
        pes = Pes{};
    }
}

void TimedId3Reader::ReadPat(const unsigned char* section, int size) {
    if (size < 12 || section[0] != 0x00)
        return;
    const int end = 3 + Bits12(section + 1) - 4; // without the CRC
    if (end + 4 > size || end < 8)
        return; // a table longer than one packet is not read
    m_pmtPids.clear();
    for (int i = 8; i + 4 <= end; i += 4) {
        const int program = (section[i] << 8) | section[i + 1];
        if (program != 0) // 0 names the network information table
            m_pmtPids.push_back(Pid(section + i + 2));
    }
    // Streams of programme maps no longer listed are forgotten.
    std::erase_if(m_pmt, [this](const auto& entry) {
        if (std::find(m_pmtPids.begin(), m_pmtPids.end(), entry.second) != m_pmtPids.end())
            return false;
        m_pes.erase(entry.first);
        return true;
    });
}

void TimedId3Reader::ReadPmt(std::uint16_t pmtPid, const unsigned char* section, int size) {
    if (size < 16 || section[0] != 0x02)
        return;
    const int end = 3 + Bits12(section + 1) - 4;
    if (end + 4 > size || end < 12)
        return;
    std::erase_if(m_pmt, [this, pmtPid](const auto& entry) {
        if (entry.second != pmtPid)
            return false;
        m_pes.erase(entry.first);
        return true;
    });
    for (int i = 12 + Bits12(section + 10); i + 5 <= end; i += 5 + Bits12(section + i + 3)) {
        const std::uint16_t pid = Pid(section + i + 1);
        // A metadata stream on PID 0 or on a table's PID would hide the table.
        if (section[i] == kMetadataPes && pid != 0 &&
            std::find(m_pmtPids.begin(), m_pmtPids.end(), pid) == m_pmtPids.end() &&
            m_pmt.size() < kMaxStreams)
            m_pmt.emplace(pid, pmtPid);
    }
}

void TimedId3Reader::Finish(Pes& pes, std::vector<QByteArray>& tags) {
    if (!pes.open || pes.data.size() < 6)
        return;
    const auto* data = reinterpret_cast<const unsigned char*>(pes.data.constData());
    qsizetype from = 6;
    if (!WithoutPesHeader(data[3])) {
        if (pes.data.size() < 9)
            return;
        from = 9 + data[8];
    }
    const QByteArrayView body = QByteArrayView(pes.data).sliced(std::min(from, pes.data.size()));
    if (body.startsWith("ID3"))
        tags.emplace_back(body.toByteArray());
}

} // namespace didira
