#include "player/formats/TimedId3.h"

#include <algorithm>

namespace didira {

namespace {

constexpr unsigned char kMetadataPes = 0x15; // stream type
constexpr std::size_t kMaxStreams = 8;       // metadata PIDs followed at once

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
            const qsizetype sync = bytes.indexOf(static_cast<char>(mpegts::kSync));
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
    const mpegts::Packet p(packet);
    if (p.damaged || !p.payload)
        return; // the sender marked it damaged, or an adaptation field only
    const std::uint16_t pid = p.pid;
    const bool start = p.start;
    const unsigned char* payload = p.payload;
    const int size = p.size;

    const bool pat = pid == 0;
    if (pat || std::find(m_pmtPids.begin(), m_pmtPids.end(), pid) != m_pmtPids.end()) {
        const unsigned char* section = nullptr;
        int sectionSize = 0;
        if (!p.Section(&section, &sectionSize))
            return;
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
    if (!mpegts::PatWhole(section, size))
        return; // a table longer than one packet is not read
    m_pmtPids.clear();
    mpegts::ForEachProgram(section, size, [this](int program, std::uint16_t pmt) {
        if (program != 0) // 0 names the network information table
            m_pmtPids.push_back(pmt);
        return true;
    });
    // Streams of programme maps no longer listed are forgotten.
    std::erase_if(m_pmt, [this](const auto& entry) {
        if (std::find(m_pmtPids.begin(), m_pmtPids.end(), entry.second) != m_pmtPids.end())
            return false;
        m_pes.erase(entry.first);
        return true;
    });
}

void TimedId3Reader::ReadPmt(std::uint16_t pmtPid, const unsigned char* section, int size) {
    if (!mpegts::PmtWhole(section, size))
        return;
    std::erase_if(m_pmt, [this, pmtPid](const auto& entry) {
        if (entry.second != pmtPid)
            return false;
        m_pes.erase(entry.first);
        return true;
    });
    mpegts::ForEachStream(section, size, [&](unsigned char type, std::uint16_t pid) {
        // A metadata stream on PID 0 or on a table's PID would hide the table.
        if (type == kMetadataPes && pid != 0 &&
            std::find(m_pmtPids.begin(), m_pmtPids.end(), pid) == m_pmtPids.end() &&
            m_pmt.size() < kMaxStreams)
            m_pmt.emplace(pid, pmtPid);
        return true;
    });
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
