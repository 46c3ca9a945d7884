#pragma once
// MPEG transport stream packets written by hand for the tests: tables (PAT,
// PMT) and PES packets, enough to carry timed ID3 next to ffmpeg's audio.

#include <QByteArray>
#include <cstdint>
#include <vector>

namespace didira::test::ts {

inline constexpr std::uint16_t kPmtPid = 0x1000;      // where ffmpeg puts the PMT
inline constexpr std::uint16_t kMetadataPid = 0x0102; // the timed ID3 stream

// A program map entry: stream type, PID and the descriptors of the stream.
struct Stream {
    std::uint8_t type = 0;
    std::uint16_t pid = 0;
    QByteArray descriptors;
};

// The section (with its CRC) of a PAT naming one programme map, or of a PMT.
QByteArray PatSection(std::uint16_t pmtPid);
QByteArray PmtSection(std::uint16_t pcrPid, const QByteArray& programDescriptors,
                      const std::vector<Stream>& streams);
// The metadata descriptors that announce ID3 in a PMT: for the programme
// (metadata pointer) and for the stream (metadata).
QByteArray Id3ProgramDescriptor();
QByteArray Id3StreamDescriptor();

// A table section in one packet.
QByteArray SectionPacket(std::uint16_t pid, const QByteArray& section, std::uint8_t continuity = 0);
// The packets of one PES with a PTS (90 kHz), continuing the PID's continuity
// counter; the last packet is padded with adaptation-field stuffing. Over
// 64 KiB its length is unstated.
QByteArray PesPackets(std::uint16_t pid, std::uint8_t streamId, std::uint64_t pts,
                      const QByteArray& payload, std::uint8_t& continuity);

// An ID3v2.4 tag of the given frames (Frame's results).
QByteArray Id3Tag(const QByteArray& frames);
QByteArray Id3Frame(const char* id, const QByteArray& body);

// Adds a timed ID3 stream to a segment of ffmpeg's (PAT and PMT on kPmtPid,
// one program, each packet 188 bytes): its PMTs list the stream, and the tag
// is sent with the first audio PES's timestamp, ahead of it.
QByteArray WithTimedId3(const QByteArray& segment, const QByteArray& tag, std::uint8_t& continuity);

} // namespace didira::test::ts
