#include "player/session/BitrateMeter.h"

namespace didira {

namespace {
// Rates beyond this are taken as garbage in the stream's tags.
constexpr unsigned kMaxBitrate = 100000000;
} // namespace

BitrateMeter::BitrateMeter(std::function<quint64()> bytesRead, std::function<bool()> playing)
    : m_bytesRead(std::move(bytesRead)), m_playing(std::move(playing)) {
    m_timer.setInterval(1000);
    QObject::connect(&m_timer, &QTimer::timeout, &m_timer,
                     [this] { Sample(m_bytesRead(), m_clock.restart(), m_playing()); });
}

void BitrateMeter::Reset() {
    m_nominal = m_tag = m_icy = m_measured = 0;
}

void BitrateMeter::Start() {
    m_lastBytes = m_bytesRead();
    m_clock.start();
    m_timer.start();
}

void BitrateMeter::Stop() {
    m_timer.stop();
}

void BitrateMeter::NoteTags(const GstTagList* tags) {
    guint bitrate = 0;
    if (gst_tag_list_get_uint(tags, GST_TAG_NOMINAL_BITRATE, &bitrate))
        NoteNominalBitrate(bitrate);
    if (gst_tag_list_get_uint(tags, GST_TAG_BITRATE, &bitrate))
        NoteTagBitrate(bitrate);
}

void BitrateMeter::NoteNominalBitrate(unsigned bitsPerSecond) {
    if (bitsPerSecond > 0 && bitsPerSecond < kMaxBitrate)
        m_nominal = static_cast<std::int32_t>(bitsPerSecond);
}

void BitrateMeter::NoteTagBitrate(unsigned bitsPerSecond) {
    if (bitsPerSecond > 0 && bitsPerSecond < kMaxBitrate)
        m_tag = static_cast<std::int32_t>(bitsPerSecond);
}

void BitrateMeter::NoteIcyBitrate(const QString& headerValue) {
    bool ok = false;
    const int kbps = headerValue.section(u',', 0, 0).trimmed().toInt(&ok);
    if (ok && kbps > 0 && kbps < 100000)
        m_icy = kbps * 1000;
}

std::int32_t BitrateMeter::Bandwidth() const {
    if (m_nominal > 0)
        return m_nominal;
    if (m_tag > 0)
        return m_tag;
    if (m_icy > 0)
        return m_icy;
    return m_measured;
}

void BitrateMeter::Sample(quint64 bytes, qint64 elapsedMs, bool playing) {
    const quint64 delta = bytes >= m_lastBytes ? bytes - m_lastBytes : 0;
    m_lastBytes = bytes;
    if (elapsedMs <= 0 || !playing)
        return;
    const double rate = static_cast<double>(delta) * 8.0 * 1000.0 / static_cast<double>(elapsedMs);
    // Smoothed: a server's initial burst must not dominate.
    m_measured = m_measured == 0 ? static_cast<std::int32_t>(rate)
                                 : static_cast<std::int32_t>(0.7 * m_measured + 0.3 * rate);
}

} // namespace didira
