// The tap on an HLS demuxer's segments: see TimeShift.h.

#include "player/formats/TsPacket.h"
#include "player/timeshift/TimeShift.h"

#include <algorithm>

namespace didira {

std::optional<QByteArray> TimeShift::SegmentTap::Received(QByteArrayView bytes, qint64 atMs,
                                                          bool segmentStart, bool* restart) {
    *restart = false;
    if (!m_started && !bytes.isEmpty()) {
        m_started = true;
        m_ts = mpegts::PacketAt(reinterpret_cast<const unsigned char*>(bytes.data()), 1);
    }
    QString timedTitle;
    if (m_ts)
        for (const QByteArray& tag : m_timedId3.Feed(bytes))
            if (const QString title = m_titleOf(tag); !title.isEmpty())
                timedTitle = title;

    TimeShift& shift = *m_shift;
    const std::lock_guard tapping(shift.m_tapMutex);
    std::shared_ptr<LiveBuffer> held; // as in Tap::Received
    std::unique_lock lock(shift.m_mutex);
    const PublishOnExit publish(shift);
    qint64 start = 0;
    LiveBuffer* buffer = KeepLocked(lock, held, bytes, atMs, segmentStart, timedTitle, &start);
    switch (ChooseLocked(buffer, start, segmentStart, restart)) {
    case Next::AsReceived:
        return std::nullopt;
    case Next::Nothing:
        return QByteArray();
    case Next::FromCursor:
        break;
    }
    return SendLocked(*buffer, bytes.size(), restart);
}

LiveBuffer* TimeShift::SegmentTap::KeepLocked(std::unique_lock<std::mutex>& lock,
                                              std::shared_ptr<LiveBuffer>& held,
                                              QByteArrayView bytes, qint64 atMs, bool segmentStart,
                                              const QString& timedTitle, qint64* start) {
    TimeShift& shift = *m_shift;
    const std::optional<QString> segmentTitle =
        segmentStart ? shift.TakeSegmentTitleLocked() : std::nullopt;
    if (segmentTitle && !segmentTitle->isEmpty())
        shift.NoteTitleLocked(*segmentTitle);
    if (!timedTitle.isEmpty())
        shift.NoteTitleLocked(timedTitle);
    // After a failure, a new buffer is tried at the next segment's start.
    LiveBuffer* buffer = shift.BufferLocked(segmentStart);
    if (!buffer)
        return nullptr;
    *start = buffer->End();
    if (segmentStart) {
        buffer->MarkEntry();
        if (segmentTitle && !segmentTitle->isEmpty())
            buffer->MarkTitle(*segmentTitle, atMs);
    }
    // A tag read here heads its segment's buffer (segment-level places).
    if (!timedTitle.isEmpty())
        buffer->MarkTitle(timedTitle, atMs);
    held = shift.m_buffer;
    lock.unlock(); // as in Tap::Received
    const bool kept = buffer->Append(bytes, atMs);
    lock.lock();
    if (shift.m_buffer != held)
        return nullptr;
    if (!kept) {
        shift.DropBufferLocked(buffer->Error());
        return nullptr;
    }
    return buffer;
}

TimeShift::SegmentTap::Next TimeShift::SegmentTap::ChooseLocked(LiveBuffer* buffer, qint64 start,
                                                                bool segmentStart, bool* restart) {
    TimeShift& shift = *m_shift;
    if (shift.m_mode == Mode::Live) {
        if (m_asReceived) {
            shift.TakeMovedLocked();
            return Next::AsReceived;
        }
        // Live again after a delay: from the start of the newest segment,
        // at once (or, the move long past or the buffer lost, from the next
        // one).
        const bool moved = buffer && shift.TakeMovedLocked();
        const qint64 entry = moved ? buffer->EntryAtOrBefore(buffer->End() - 1) : -1;
        if (!moved || entry < buffer->Begin() || entry >= start) {
            if (!segmentStart)
                return Next::Nothing;
            m_asReceived = true;
            *restart = true;
            return Next::AsReceived;
        }
        shift.DelayFromLocked(entry);
        *restart = true;
    }
    if (std::exchange(m_asReceived, false))
        shift.CursorFromLocked(start);
    // No buffer is kept only live: a drop and a close go live.
    return shift.m_mode == Mode::Paused || !buffer ? Next::Nothing : Next::FromCursor;
}

QByteArray TimeShift::SegmentTap::SendLocked(LiveBuffer& buffer, qint64 count, bool* restart) {
    TimeShift& shift = *m_shift;
    // After a move downstream starts afresh from a segment's start, given a
    // lead at once (the segment, which arrived at once); going live, the
    // newest segment as far as it came.
    if (shift.TakeMovedLocked())
        *restart = true;
    if (*restart) {
        const qint64 at = std::max(shift.m_cursor, buffer.Begin());
        const qint64 lead = buffer.OffsetAt(buffer.TimeAt(at) + kLeadMs) - at;
        count = std::max(count, std::min(lead, buffer.End() - at));
    }
    QByteArray chunk(count, '\0');
    const CursorRead read = shift.ReadCursorLocked(buffer, chunk);
    if (!read.ok)
        return QByteArray(); // live from the next segment
    if (shift.m_mode == Mode::Live)
        m_asReceived = true; // caught up: what follows is as received
    return chunk;
}

} // namespace didira
