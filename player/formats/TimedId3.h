#pragma once
// Timed ID3 in MPEG-TS, as HLS stations send the title now playing: the ID3
// tags of the metadata PES streams (stream type 0x15) that the programme map
// lists. GStreamer's transport stream demuxer drops these streams, so the
// player reads them from the segments' bytes as they arrive. Knows the tables
// it needs (PAT, PMT) only as far as they fit in one packet, as they do in
// HLS segments; anything malformed is skipped.

#include "player/formats/TsPacket.h"

#include <QByteArray>
#include <QByteArrayView>
#include <cstdint>
#include <map>
#include <vector>

namespace didira {

class TimedId3Reader {
public:
    static constexpr int kPacketSize = mpegts::kPacketSize;
    // A metadata PES longer than this is dropped.
    static constexpr qsizetype kMaxPes = 64 * 1024;

    // Reads the next bytes of the transport stream, cut anywhere; returns the
    // ID3 tags completed by them, in stream order.
    std::vector<QByteArray> Feed(QByteArrayView bytes);

private:
    struct Pes {
        QByteArray data;
        qsizetype length = 0; // whole PES with its header; 0 until the next start
        bool open = false;    // a start was seen and is being read
    };

    void Packet(const unsigned char* packet, std::vector<QByteArray>& tags);
    void ReadPat(const unsigned char* section, int size);
    void ReadPmt(std::uint16_t pid, const unsigned char* section, int size);
    static void Finish(Pes& pes, std::vector<QByteArray>& tags);

    QByteArray m_partial;                         // a packet not yet whole
    std::vector<std::uint16_t> m_pmtPids;         // from the PAT
    std::map<std::uint16_t, std::uint16_t> m_pmt; // metadata PID -> its PMT's PID
    std::map<std::uint16_t, Pes> m_pes;           // metadata PID -> PES being read
};

} // namespace didira
