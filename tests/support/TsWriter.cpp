#include "support/TsWriter.h"

#include <initializer_list>

namespace didira::test::ts {

namespace {

constexpr int kPacket = 188;

char Byte(std::uint64_t value) {
    return static_cast<char>(value & 0xff);
}

QByteArray Bytes(std::initializer_list<char> values) {
    return QByteArray(values.begin(), static_cast<qsizetype>(values.size()));
}

// CRC-32/MPEG-2 of a section.
std::uint32_t Crc32(const QByteArray& data) {
    std::uint32_t crc = 0xffffffff;
    for (const char c : data) {
        crc ^= static_cast<std::uint32_t>(static_cast<unsigned char>(c)) << 24;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 0x80000000) ? (crc << 1) ^ 0x04c11db7 : crc << 1;
    }
    return crc;
}

// table_id, the section's length and the fields up to last_section_number.
QByteArray Section(std::uint8_t tableId, std::uint16_t idExtension, const QByteArray& body) {
    const int length = 5 + static_cast<int>(body.size()) + 4;
    QByteArray section = Bytes({Byte(tableId), Byte(0xb0 | (length >> 8)), Byte(length),
                                Byte(idExtension >> 8), Byte(idExtension), Byte(0xc1), 0, 0});
    section += body;
    const std::uint32_t crc = Crc32(section);
    return section + Bytes({Byte(crc >> 24), Byte(crc >> 16), Byte(crc >> 8), Byte(crc)});
}

QByteArray Header(std::uint16_t pid, bool start, unsigned adaptation, std::uint8_t continuity) {
    return Bytes({Byte(0x47), Byte((start ? 0x40 : 0) | (pid >> 8)), Byte(pid),
                  Byte((adaptation << 4) | (continuity & 0x0f))});
}

int PayloadOffset(const QByteArray& packet) {
    return (packet[3] & 0x20) ? 5 + static_cast<unsigned char>(packet[4]) : 4;
}

std::uint16_t PidOf(const char* p) {
    return static_cast<std::uint16_t>(((p[1] & 0x1f) << 8) | static_cast<unsigned char>(p[2]));
}

QByteArray MetadataDescriptorBody() {
    return QByteArray("\xff\xff"
                      "ID3 "
                      "\xff"
                      "ID3 "
                      "\x00",
                      12);
}

} // namespace

QByteArray PatSection(std::uint16_t pmtPid) {
    return Section(0x00, 1, Bytes({0, 1, Byte(0xe0 | (pmtPid >> 8)), Byte(pmtPid)}));
}

QByteArray PmtSection(std::uint16_t pcrPid, const QByteArray& programDescriptors,
                      const std::vector<Stream>& streams) {
    const auto info = static_cast<int>(programDescriptors.size());
    QByteArray body =
        Bytes({Byte(0xe0 | (pcrPid >> 8)), Byte(pcrPid), Byte(0xf0 | (info >> 8)), Byte(info)});
    body += programDescriptors;
    for (const Stream& s : streams) {
        const auto size = static_cast<int>(s.descriptors.size());
        body += Bytes({Byte(s.type), Byte(0xe0 | (s.pid >> 8)), Byte(s.pid),
                       Byte(0xf0 | (size >> 8)), Byte(size)});
        body += s.descriptors;
    }
    return Section(0x02, 1, body);
}

QByteArray Id3ProgramDescriptor() {
    // metadata_pointer_descriptor: no locator, carried in this programme (1).
    return Bytes({Byte(0x25), Byte(15)}) + MetadataDescriptorBody() + Bytes({Byte(0x1f), 0, 1});
}

QByteArray Id3StreamDescriptor() {
    // metadata_descriptor: no decoder configuration.
    return Bytes({Byte(0x26), Byte(13)}) + MetadataDescriptorBody() + Bytes({Byte(0x0f)});
}

QByteArray SectionPacket(std::uint16_t pid, const QByteArray& section, std::uint8_t continuity) {
    QByteArray packet = Header(pid, true, 1, continuity) + QByteArray(1, 0) + section;
    return packet + QByteArray(kPacket - packet.size(), Byte(0xff));
}

QByteArray PesPackets(std::uint16_t pid, std::uint8_t streamId, std::uint64_t pts,
                      const QByteArray& payload, std::uint8_t& continuity) {
    const QByteArray stamp =
        Bytes({Byte(0x21 | ((pts >> 29) & 0x0e)), Byte(pts >> 22), Byte(((pts >> 14) & 0xfe) | 1),
               Byte(pts >> 7), Byte((pts << 1) | 1)});
    // PES_packet_length; 0 (unstated) for a PES longer than it can state.
    auto length = static_cast<int>(3 + stamp.size() + payload.size());
    if (length > 0xffff)
        length = 0;
    QByteArray pes =
        QByteArray("\x00\x00\x01", 3) + Bytes({Byte(streamId), Byte(length >> 8), Byte(length),
                                               Byte(0x84), Byte(0x80), Byte(stamp.size())});
    pes += stamp + payload;
    QByteArray out;
    for (qsizetype at = 0; at < pes.size(); at += 184) {
        const QByteArray chunk = pes.mid(at, 184);
        const auto stuffing = static_cast<int>(184 - chunk.size());
        if (stuffing == 0) {
            out += Header(pid, at == 0, 1, continuity) + chunk;
        } else {
            // An adaptation field of `stuffing` bytes: its length, flags, 0xff.
            QByteArray field(1, Byte(stuffing - 1));
            if (stuffing > 1)
                field += QByteArray(1, 0) + QByteArray(stuffing - 2, Byte(0xff));
            out += Header(pid, at == 0, 3, continuity) + field + chunk;
        }
        continuity = (continuity + 1) & 0x0f;
    }
    return out;
}

QByteArray Id3Frame(const char* id, const QByteArray& body) {
    const auto n = static_cast<std::uint32_t>(body.size());
    return QByteArray(id) +
           Bytes({Byte((n >> 21) & 0x7f), Byte((n >> 14) & 0x7f), Byte((n >> 7) & 0x7f),
                  Byte(n & 0x7f), 0, 0}) +
           body;
}

QByteArray Id3Tag(const QByteArray& frames) {
    const auto n = static_cast<std::uint32_t>(frames.size());
    return QByteArray("ID3\x04\x00\x00", 6) +
           Bytes({Byte((n >> 21) & 0x7f), Byte((n >> 14) & 0x7f), Byte((n >> 7) & 0x7f),
                  Byte(n & 0x7f)}) +
           frames;
}

QByteArray WithTimedId3(const QByteArray& segment, const QByteArray& tag,
                        std::uint8_t& continuity) {
    QByteArray out;
    bool sent = false;
    for (qsizetype at = 0; at + kPacket <= segment.size(); at += kPacket) {
        QByteArray packet = segment.mid(at, kPacket);
        const std::uint16_t pid = PidOf(packet.constData());
        const bool start = packet[1] & 0x40;
        const int offset = PayloadOffset(packet);
        if (pid == kPmtPid && start) {
            // The same programme map with the metadata stream added.
            const auto* s = reinterpret_cast<const unsigned char*>(packet.constData()) + offset +
                            1 + static_cast<unsigned char>(packet[offset]);
            const int end = 3 + (((s[1] & 0x0f) << 8) | s[2]) - 4;
            const int info = ((s[10] & 0x0f) << 8) | s[11];
            std::vector<Stream> streams;
            for (int i = 12 + info; i + 5 <= end;) {
                const int size = ((s[i + 3] & 0x0f) << 8) | s[i + 4];
                streams.push_back({s[i],
                                   static_cast<std::uint16_t>(((s[i + 1] & 0x1f) << 8) | s[i + 2]),
                                   QByteArray(reinterpret_cast<const char*>(s + i + 5), size)});
                i += 5 + size;
            }
            streams.push_back({0x15, kMetadataPid, Id3StreamDescriptor()});
            const auto pcrPid = static_cast<std::uint16_t>(((s[8] & 0x1f) << 8) | s[9]);
            packet =
                SectionPacket(pid,
                              PmtSection(pcrPid,
                                         QByteArray(reinterpret_cast<const char*>(s + 12), info) +
                                             Id3ProgramDescriptor(),
                                         streams),
                              static_cast<std::uint8_t>(packet[3] & 0x0f));
        } else if (!sent && start && pid != 0 && pid != kPmtPid &&
                   packet.mid(offset, 3) == QByteArray("\x00\x00\x01", 3) &&
                   (packet[offset + 7] & 0x80)) {
            const auto* t = reinterpret_cast<const unsigned char*>(packet.constData()) + offset + 9;
            const std::uint64_t pts = (std::uint64_t(t[0] >> 1) & 7) << 30 |
                                      std::uint64_t(t[1]) << 22 | std::uint64_t(t[2] >> 1) << 15 |
                                      std::uint64_t(t[3]) << 7 | std::uint64_t(t[4] >> 1);
            out += PesPackets(kMetadataPid, 0xbd, pts, tag, continuity);
            sent = true;
        }
        out += packet;
    }
    return out;
}

} // namespace didira::test::ts
