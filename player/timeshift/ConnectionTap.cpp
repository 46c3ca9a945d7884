// The tap on a network source's pad: see TimeShift.h.

#include "player/formats/StreamText.h"
#include "player/timeshift/OggPlacement.h"
#include "player/timeshift/TimeShift.h"

#include <algorithm>

namespace didira {

bool TimeShift::Tap::SetIcyInterval(std::uint32_t interval) {
    // The source adds to its caps as it learns more: the same interval goes
    // on counting where it was.
    if (interval != m_interval) {
        m_interval = interval;
        m_reader.reset();
        if (interval > 0)
            m_reader.emplace(interval);
    }
    return Unframed();
}

std::optional<QByteArray> TimeShift::Tap::Received(QByteArrayView bytes, qint64 atMs,
                                                   bool* restart) {
    if (!m_started && !bytes.isEmpty()) {
        m_started = true;
        m_playlist = bytes.startsWith("#EXTM3U");
    }
    if (m_playlist)
        return std::nullopt;
    QByteArray stripped;
    qsizetype titleAt = -1;
    const IcyMetadataReader::Phase before =
        m_reader ? m_reader->Position() : IcyMetadataReader::Phase{};
    const bool titled = m_reader && m_reader->Feed(bytes, &stripped, &titleAt) &&
                        m_interval >= IcyMetadataReader::kMinTitledInterval;
    const QByteArrayView audio = m_reader ? QByteArrayView(stripped) : bytes;

    TimeShift& shift = *m_shift;
    const std::lock_guard tapping(shift.m_tapMutex);
    std::shared_ptr<LiveBuffer> held; // what is written unlocked; after the lock when dropped
    std::unique_lock lock(shift.m_mutex);
    const PublishOnExit publish(shift);
    if (titled)
        shift.NoteTitleLocked(DecodeStreamText(m_reader->Title()));
    qint64 start = 0;
    LiveBuffer* buffer = KeepLocked(lock, held, audio, titled ? titleAt : -1, atMs, &start);
    if (shift.m_mode == Mode::Live && m_asReceived) {
        if (titled)
            ShowTitle(m_reader->Title());
        shift.TakeMovedLocked();
        m_sentEnd = buffer ? buffer->End() : -1;
        return Unframed() ? std::optional(audio.toByteArray()) : std::nullopt;
    }
    if (std::exchange(m_asReceived, false)) {
        // Downstream stops getting the bytes as received at this buffer.
        shift.CursorFromLocked(start);
        if (m_reader && !Unframed())
            m_framer.emplace(m_interval, before, QByteArray());
    }
    if (shift.m_mode == Mode::Paused)
        return QByteArray();
    if (restart && shift.m_moved && buffer) {
        // Downstream is flushed first; Restart says what follows.
        *restart = true;
        m_restartCount = audio.size();
        return QByteArray();
    }
    return SendLocked(buffer, audio.size(), QByteArray(), audio);
}

LiveBuffer* TimeShift::Tap::KeepLocked(std::unique_lock<std::mutex>& lock,
                                       std::shared_ptr<LiveBuffer>& held, QByteArrayView audio,
                                       qsizetype titleAt, qint64 atMs, qint64* start) {
    TimeShift& shift = *m_shift;
    LiveBuffer* buffer = shift.BufferLocked(shift.RetryDueLocked(audio.size()));
    if (!buffer)
        return nullptr;
    *start = buffer->End();
    if (std::exchange(m_buffer, shift.m_nBuffer) != shift.m_nBuffer && m_buffer > 1)
        // a buffer after one that failed
        m_oggHeaders.Restart(buffer->End(), [&](qint64 at, QByteArray headers) {
            buffer->KeepHeaders(at, std::move(headers));
        });
    // Written without the shift's lock, which the commands take; Close may
    // drop the buffer meanwhile, which then stays until the tap ends.
    held = shift.m_buffer;
    const QString title = shift.m_lastTitle;
    lock.unlock();
    const bool kept = Keep(*buffer, audio, titleAt, title, atMs);
    lock.lock();
    if (shift.m_buffer != held)
        return nullptr; // closed while written
    if (!kept) {
        // What was not kept cannot be played later: live from here on.
        shift.DropBufferLocked(buffer->Error());
        return nullptr;
    }
    return buffer;
}

bool TimeShift::Tap::Keep(LiveBuffer& buffer, QByteArrayView audio, qsizetype titleAt,
                          const QString& title, qint64 atMs) {
    const qint64 start = buffer.End();
    bool kept = true;
    if (titleAt >= 0) {
        kept = buffer.Append(audio.first(titleAt), atMs);
        buffer.MarkTitle(title, atMs);
        kept = buffer.Append(audio.sliced(titleAt), atMs) && kept;
    } else {
        kept = buffer.Append(audio, atMs);
    }
    if (kept)
        m_oggHeaders.Feed(audio, start, [&buffer](qint64 at, QByteArray headers) {
            buffer.KeepHeaders(at, std::move(headers));
        });
    return kept;
}

QByteArray TimeShift::Tap::Restart() {
    TimeShift& shift = *m_shift;
    const std::lock_guard tapping(shift.m_tapMutex);
    std::lock_guard lock(shift.m_mutex);
    const PublishOnExit publish(shift);
    shift.m_keepDemuxerChain = false;
    LiveBuffer* buffer = shift.BufferLocked();
    if (!buffer || buffer->End() == buffer->Begin() || !shift.TakeMovedLocked())
        return QByteArray();
    // Downstream starts afresh: it gets a lead from the new place (the
    // newest audio's, going live) at once.
    qint64 at = shift.m_cursor;
    const bool live = shift.m_mode == Mode::Live || at < 0 || at >= buffer->End();
    if (live)
        at = buffer->OffsetAt(buffer->TimeAt(buffer->End() - 1) - kLeadMs);
    at = std::max(at, buffer->Begin());
    QByteArray headers; // an Ogg chain's, to go first
    const bool ogg = !buffer->HeadersAt(buffer->End() - 1).isEmpty();
    if (ogg) {
        // The flush has begun: nothing more reaches the demuxer.
        OggPlace place = PlaceOnOggPage(*buffer, at, live, shift.m_demuxed, kLeadMs);
        at = place.at;
        headers = std::move(place.headers);
        shift.m_keepDemuxerChain = place.keepDemuxerChain;
    }
    if (m_framer)
        m_framer->Restart();
    m_shownTitle.clear(); // downstream reads titles afresh after the flush
    shift.DelayFromLocked(at);
    const qint64 leadEnd =
        ogg ? OggLeadEnd(*buffer, at, kLeadMs) : buffer->OffsetAt(buffer->TimeAt(at) + kLeadMs);
    return SendLocked(buffer, std::max(m_restartCount, std::min(leadEnd, buffer->End()) - at),
                      std::move(headers), {});
}

QByteArray TimeShift::Tap::SendLocked(LiveBuffer* buffer, qint64 count, QByteArray headers,
                                      QByteArrayView audio) {
    TimeShift& shift = *m_shift;
    QByteArray chunk;
    QString title;
    if (shift.m_mode == Mode::Live) {
        chunk = audio.toByteArray();
        if (m_reader)
            title = DecodeStreamText(m_reader->Title());
        m_sentEnd = buffer ? buffer->End() : -1;
    } else {
        chunk.resize(count);
        const CursorRead read = shift.ReadCursorLocked(*buffer, chunk);
        title = read.title;
        m_sentEnd = read.ok ? read.from + chunk.size() : -1;
        if (!read.ok)
            chunk = audio.toByteArray(); // what arrived goes on, live
    }
    if (!m_framer) {
        m_asReceived = shift.m_mode == Mode::Live;
        return headers + chunk;
    }
    QByteArray out;
    if (const std::optional<QByteArray> named = m_framer->Frame(chunk, title.toUtf8(), &out))
        ShowTitle(*named);
    return out;
}

void TimeShift::Tap::ShowTitle(const QByteArray& title) {
    if (title == m_shownTitle)
        return;
    m_shownTitle = title;
    m_shownChange = title;
}

} // namespace didira
