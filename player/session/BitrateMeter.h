#pragma once
// The stream's bit rate as the Bandwidth property reports it: the nominal
// rate from the stream's tags, else the tagged rate, else the server's
// "icy-br" header, else what the network source measurably reads per second
// while playing (smoothed).

#include <QElapsedTimer>
#include <QString>
#include <QTimer>
#include <cstdint>
#include <functional>
#include <gst/gst.h>

namespace didira {

class BitrateMeter {
public:
    // bytesRead: the running count of bytes the source has read;
    // playing: whether a sample counts (only while playing).
    BitrateMeter(std::function<quint64()> bytesRead, std::function<bool()> playing);
    Q_DISABLE_COPY_MOVE(BitrateMeter)

    // Forgets everything known about the last stream.
    void Reset();
    // Starts (again) measuring from the current byte count, once a second.
    void Start();
    void Stop();

    // The stream's nominal and current bit rate tags, when it has them.
    void NoteTags(const GstTagList* tags);
    void NoteNominalBitrate(unsigned bitsPerSecond);
    void NoteTagBitrate(unsigned bitsPerSecond);
    // An "icy-br" header value: "128" or, from some servers, "128,128" (kbit/s).
    void NoteIcyBitrate(const QString& headerValue);

    // Bits per second; 0 until known.
    std::int32_t Bandwidth() const;

    // One measurement over elapsedMs (the timer calls it; public for tests).
    void Sample(quint64 bytes, qint64 elapsedMs, bool playing);

private:
    std::function<quint64()> m_bytesRead;
    std::function<bool()> m_playing;
    std::int32_t m_nominal = 0;
    std::int32_t m_tag = 0;
    std::int32_t m_icy = 0;
    std::int32_t m_measured = 0;
    quint64 m_lastBytes = 0;
    QElapsedTimer m_clock;
    QTimer m_timer;
};

} // namespace didira
