#include "player/timeshift/TimeShift.h"

#include <QtGlobal>
#include <algorithm>
#include <ctime>
#include <utility>

namespace didira {

namespace {

// Says on stderr why the live buffer is off, once for each reason.
void WarnOnce(const QString& why) {
    static std::mutex mutex;
    static QString last;
    std::lock_guard lock(mutex);
    if (why == last)
        return;
    last = why;
    qWarning("didira: no live buffer (pause and going back are off): %s", qUtf8Printable(why));
}

} // namespace

qint64 TimeShift::NowMs() {
    timespec now{};
    ::clock_gettime(CLOCK_BOOTTIME, &now);
    return qint64(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

std::shared_ptr<TimeShift> TimeShift::Create(const QString& root,
                                             const LiveBuffer::Limits& limits) {
    return std::shared_ptr<TimeShift>(new TimeShift(root, limits));
}

TimeShift::TimeShift(QString root, const LiveBuffer::Limits& limits)
    : m_root(std::move(root)), m_limits(limits) {}

std::unique_ptr<TimeShift::Tap> TimeShift::NewTap() {
    std::lock_guard lock(m_mutex);
    NewConnectionLocked();
    m_demuxed = -1;
    PublishLocked();
    return std::make_unique<Tap>(shared_from_this());
}

void TimeShift::NewConnectionLocked() {
    if (m_mode == Mode::Paused) {
        // Paused through a drop: the new connection is only kept, and the
        // unpause goes on from the paused place as a move does (its pipeline is
        // new: an Ogg chain's headers first).
        m_moved = true;
        return;
    }
    // Otherwise it plays at once and from its own start, live.
    GoLiveLocked();
    m_moved = false;
}

LiveBuffer* TimeShift::BufferLocked(bool retry) {
    if (m_closed)
        return nullptr;
    if (m_buffer || (!m_strError.isEmpty() && !retry))
        return m_buffer.get();
    QString why;
    m_buffer = LiveBuffer::Create(m_root, m_limits, &why);
    m_unkeptBytes = 0;
    if (!m_buffer) {
        m_strError = why.isEmpty() ? QStringLiteral("cannot create the live buffer") : why;
        WarnOnce(m_strError);
        return nullptr;
    }
    // A buffer after one that failed starts with the title in effect.
    ++m_nBuffer;
    m_strError.clear();
    m_demuxed = -1;
    if (!m_lastTitle.isEmpty())
        m_buffer->MarkTitle(m_lastTitle, 0);
    return m_buffer.get();
}

void TimeShift::DropBufferLocked(const QString& why) {
    m_strError = why.isEmpty() ? QStringLiteral("the live buffer failed") : why;
    WarnOnce(m_strError);
    // A recording from it holds its own reference, and sees it lost.
    m_buffer.reset();
    m_unkeptBytes = 0;
    GoLiveLocked();
    m_moved = false;
    m_demuxed = -1;
}

bool TimeShift::RetryDueLocked(qint64 bytes) {
    if (m_buffer || m_strError.isEmpty())
        return false;
    m_unkeptBytes += bytes;
    return m_unkeptBytes >= m_limits.segmentBytes;
}

void TimeShift::PublishLocked() {
    const bool kept = m_buffer && m_buffer->End() > m_buffer->Begin();
    m_works = kept;
    m_publishedMode = m_mode;
    if (kept) {
        const qint64 oldest = m_buffer->TimeAt(m_buffer->Begin());
        const qint64 newest = m_buffer->TimeAt(m_buffer->End() - 1);
        const qint64 cursor = CursorTimeLocked();
        m_positionMs = std::max<qint64>(cursor - oldest, 0);
        m_lengthMs = newest - oldest;
        m_behindMs = newest - cursor;
    } else {
        m_positionMs = m_lengthMs = m_behindMs = 0;
    }
    std::shared_ptr<LiveBuffer> dropped; // its files go after the lock
    std::lock_guard lock(m_publishedMutex);
    if (m_publishedBuffer != m_buffer)
        dropped = std::exchange(m_publishedBuffer, m_buffer);
    if (m_publishedError != m_strError)
        m_publishedError = m_strError;
}

std::unique_ptr<TimeShift::SegmentTap> TimeShift::NewSegmentTap(SegmentTap::TitleOf titleOf) {
    std::lock_guard lock(m_mutex);
    NewConnectionLocked();
    PublishLocked();
    return std::make_unique<SegmentTap>(shared_from_this(), std::move(titleOf));
}

void TimeShift::NoteDemuxed(qint64 end) {
    m_demuxed = end;
}

bool TimeShift::TakeKeepDemuxerChain() {
    return m_keepDemuxerChain.exchange(false);
}

void TimeShift::NoteSegmentTitle(const QString& title) {
    std::lock_guard lock(m_mutex);
    m_segmentTitle = title;
}

// ---- The taps' changes ------------------------------------------------------

void TimeShift::GoLiveLocked() {
    m_mode = Mode::Live;
    m_cursor = -1;
}

void TimeShift::DelayFromLocked(qint64 offset) {
    m_cursor = offset;
    m_mode = Mode::Delayed;
}

void TimeShift::CursorFromLocked(qint64 offset) {
    if (m_cursor < 0)
        m_cursor = offset;
}

bool TimeShift::TakeMovedLocked() {
    return std::exchange(m_moved, false);
}

void TimeShift::NoteTitleLocked(const QString& title) {
    m_lastTitle = title;
}

std::optional<QString> TimeShift::TakeSegmentTitleLocked() {
    return std::exchange(m_segmentTitle, std::nullopt);
}

TimeShift::CursorRead TimeShift::ReadCursorLocked(LiveBuffer& buffer, QByteArray& chunk) {
    m_cursor = std::max(m_cursor, buffer.Begin());
    CursorRead read{m_cursor, buffer.TitleAt(m_cursor), false};
    const qint64 n = buffer.Read(m_cursor, chunk.data(), chunk.size());
    chunk.resize(std::max<qint64>(n, 0));
    if (n < 0) {
        DropBufferLocked(QStringLiteral("%1 cannot be read").arg(buffer.Directory()));
        return read;
    }
    read.ok = true;
    m_cursor += n;
    if (m_cursor >= buffer.End())
        GoLiveLocked();
    return read;
}

// ---- Commands and questions ------------------------------------------------

bool TimeShift::Pause() {
    std::lock_guard lock(m_mutex);
    const PublishOnExit publish(*this);
    if (!m_buffer || m_mode == Mode::Paused)
        return false;
    m_mode = Mode::Paused;
    return true;
}

bool TimeShift::Unpause(bool* fromOldest) {
    std::lock_guard lock(m_mutex);
    const PublishOnExit publish(*this);
    if (m_mode != Mode::Paused)
        return false;
    m_mode = m_buffer ? Mode::Delayed : Mode::Live;
    if (fromOldest)
        *fromOldest = m_buffer && m_cursor >= 0 && m_cursor < m_buffer->Begin();
    return true;
}

void TimeShift::Close() {
    std::shared_ptr<LiveBuffer> buffer;
    std::lock_guard lock(m_mutex);
    const PublishOnExit publish(*this);
    m_closed = true;
    GoLiveLocked();
    buffer = std::move(m_buffer); // goes after the lock
}

bool TimeShift::GoLive() {
    std::lock_guard lock(m_mutex);
    const PublishOnExit publish(*this);
    if (m_mode == Mode::Live)
        return false;
    NoteMoveLocked();
    GoLiveLocked();
    return true;
}

void TimeShift::NoteMoveLocked() {
    m_moved = true;
}

bool TimeShift::SeekBy(qint64 ms) {
    std::lock_guard lock(m_mutex);
    const PublishOnExit publish(*this);
    return m_buffer && SeekToTimeLocked(CursorTimeLocked() + ms);
}

bool TimeShift::SeekTo(qint64 ms) {
    std::lock_guard lock(m_mutex);
    const PublishOnExit publish(*this);
    return m_buffer &&
           SeekToTimeLocked(m_buffer->TimeAt(m_buffer->Begin()) + std::max<qint64>(ms, 0));
}

bool TimeShift::SeekToTimeLocked(qint64 ms) {
    const qint64 end = m_buffer->End();
    if (end == m_buffer->Begin())
        return false;
    NoteMoveLocked();
    if (ms >= m_buffer->TimeAt(end - 1)) {
        // The newest audio: live, or there once unpaused.
        if (m_mode == Mode::Paused) {
            m_cursor = end;
        } else {
            GoLiveLocked();
        }
        return true;
    }
    m_cursor = m_buffer->OffsetAt(ms);
    // Segmented streams resume at the start of the segment that holds ms
    // (none marked otherwise): a segment arrives at once, so the first byte
    // at or after ms may begin the next one.
    qint64 entry = m_buffer->EntryAtOrBefore(m_cursor);
    if (entry >= m_buffer->Begin() && m_buffer->TimeAt(entry) > ms) {
        const qint64 earlier = m_buffer->EntryAtOrBefore(entry - 1);
        if (earlier >= m_buffer->Begin())
            entry = earlier;
    }
    if (entry >= m_buffer->Begin())
        m_cursor = entry;
    if (m_mode == Mode::Live)
        m_mode = Mode::Delayed;
    return true;
}

qint64 TimeShift::CursorTimeLocked() const {
    const qint64 end = m_buffer->End();
    const qint64 newest = m_buffer->TimeAt(end - 1);
    if (m_mode == Mode::Live || m_cursor < 0 || m_cursor >= end)
        return newest;
    return m_buffer->TimeAt(std::max(m_cursor, m_buffer->Begin()));
}

TimeShift::Mode TimeShift::CurrentMode() const {
    return m_publishedMode;
}

QString TimeShift::Error() const {
    std::lock_guard lock(m_publishedMutex);
    return m_publishedError;
}

std::shared_ptr<const LiveBuffer> TimeShift::Buffer() const {
    std::lock_guard lock(m_publishedMutex);
    return m_publishedBuffer;
}

} // namespace didira
