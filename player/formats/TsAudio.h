#pragma once
// The audio of an MPEG transport stream, as HLS segments carry it: the first
// audio stream the programme map lists (AAC in ADTS, MPEG audio) taken out of
// its PES packets, never re-encoded. Reads the tables (PAT, PMT) only as far
// as they fit in one packet, as they do in HLS segments; anything malformed
// is skipped.

#include "player/formats/TsPacket.h"

#include <QByteArray>
#include <cstdint>

namespace didira {

class TsAudio {
public:
    static constexpr int kPacketSize = mpegts::kPacketSize;
    enum class Codec { Unknown, Aac, Mp3 };

    // Reads one packet; appends its audio to *audio when given.
    void Packet(const unsigned char* packet, QByteArray* audio);
    // Whether packet starts a PES of the audio stream (known once its
    // programme map was read).
    bool StartsAudio(const unsigned char* packet) const;
    Codec AudioCodec() const { return m_codec; }

private:
    void ReadPmt(const unsigned char* section, int size);

    std::uint16_t m_pmtPid = 0x1fff;   // none until the PAT names one
    std::uint16_t m_audioPid = 0x1fff; // none until the PMT names one
    Codec m_codec = Codec::Unknown;
    bool m_inPes = false; // a PES of the audio stream has started
};

} // namespace didira
