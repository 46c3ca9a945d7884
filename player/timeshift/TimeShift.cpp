#include "player/timeshift/TimeShift.h"

#include "player/formats/StreamText.h"

#include <QtGlobal>
#include <algorithm>
#include <cstring>
#include <ctime>
#include <utility>

namespace didira {

namespace {

constexpr qsizetype kOggWindow = qsizetype(64) << 10;
constexpr qsizetype kOggHeader = 27; // before the segment table

// The whole Ogg pages of bytes, from its first capture pattern: f(at, page)
// for each until it returns false.
template <typename F> void ForEachOggPage(QByteArrayView bytes, F f) {
    for (qsizetype at = bytes.indexOf("OggS"); at >= 0 && at + kOggHeader <= bytes.size();) {
        const auto segments = static_cast<unsigned char>(bytes[at + 26]);
        qsizetype size = kOggHeader + segments;
        for (int i = 0; i < segments && at + kOggHeader + i < bytes.size(); ++i)
            size += static_cast<unsigned char>(bytes[at + kOggHeader + i]);
        if (at + size > bytes.size() || !f(at, bytes.sliced(at, size)))
            return;
        at = bytes.indexOf("OggS", at + size);
    }
}

bool IsAudioPage(QByteArrayView page) {
    qint64 granule = 0;
    std::memcpy(&granule, page.data() + 6, sizeof granule);
    return granule != 0 && granule != -1;
}

// The bytes kept from offset, at most a window of them.
QByteArray KeptFrom(const LiveBuffer& buffer, qint64 offset, qint64 size) {
    QByteArray bytes(size, Qt::Uninitialized);
    bytes.resize(std::max<qint64>(buffer.Read(offset, bytes.data(), bytes.size()), 0));
    return bytes;
}

// The whole Ogg pages that end a packet of audio nearest offset: the last
// that starts at or before it and the first after it (-1: none kept; a
// chain's headers may not be kept yet either).
struct OggAudioPages {
    qint64 before = -1;
    qint64 after = -1;
};
OggAudioPages OggAudioPagesNear(const LiveBuffer& buffer, qint64 offset) {
    const qint64 from = std::max(buffer.Begin(), offset - kOggWindow);
    OggAudioPages near;
    ForEachOggPage(KeptFrom(buffer, from, offset - from + kOggWindow),
                   [&](qsizetype at, QByteArrayView page) {
                       if (IsAudioPage(page))
                           (from + at <= offset ? near.before : near.after) = from + at;
                       return near.after < 0;
                   });
    return near;
}

// The first Ogg page at or after offset; the end of what is kept when none
// is.
qint64 OggPageFrom(const LiveBuffer& buffer, qint64 offset) {
    const qsizetype at = KeptFrom(buffer, offset, kOggWindow).indexOf("OggS");
    return at < 0 ? buffer.End() : offset + at;
}

// Whether the bytes kept before end close on a chain that has begun (its
// first page came) but sent no audio yet: a demuxer given them is building
// that chain, and would take another chain's headers for more streams of it.
bool EndsInChainHeaders(const LiveBuffer& buffer, qint64 end) {
    const qint64 from = std::max(buffer.Begin(), end - kOggWindow);
    bool building = false;
    ForEachOggPage(KeptFrom(buffer, from, end - from), [&](qsizetype, QByteArrayView page) {
        if (static_cast<unsigned char>(page[5]) & 2)
            building = true;
        else if (IsAudioPage(page))
            building = false;
        return true;
    });
    return building;
}

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
    m_mode = Mode::Live;
    m_cursor = -1;
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
    m_mode = Mode::Live;
    m_cursor = -1;
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

// Publishes what the taps and commands changed as they leave (with the
// shift's mutex held).
class TimeShift::PublishOnExit {
public:
    explicit PublishOnExit(TimeShift& shift) : m_shift(shift) {}
    ~PublishOnExit() { m_shift.PublishLocked(); }
    PublishOnExit(const PublishOnExit&) = delete;
    PublishOnExit& operator=(const PublishOnExit&) = delete;

private:
    TimeShift& m_shift;
};

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
        shift.m_lastTitle = DecodeStreamText(m_reader->Title());
    LiveBuffer* buffer = shift.BufferLocked(shift.RetryDueLocked(audio.size()));
    if (buffer && std::exchange(m_buffer, shift.m_nBuffer) != shift.m_nBuffer && m_buffer > 1)
        // a buffer after one that failed
        m_oggHeaders.Restart(buffer->End(), [&](qint64 at, QByteArray headers) {
            buffer->KeepHeaders(at, std::move(headers));
        });
    const qint64 start = buffer ? buffer->End() : 0;
    if (buffer) {
        // Written without the shift's lock, which the commands take; Close
        // may drop the buffer meanwhile, which then stays until the tap ends.
        held = shift.m_buffer;
        lock.unlock();
        const bool kept = Keep(*buffer, audio, titled ? titleAt : -1, shift.m_lastTitle, atMs);
        lock.lock();
        if (shift.m_buffer != held) {
            buffer = nullptr; // closed while written
        } else if (!kept) {
            // What was not kept cannot be played later: live from here on.
            shift.DropBufferLocked(buffer->Error());
            buffer = nullptr;
        }
    }
    if (shift.m_mode == Mode::Live && m_asReceived) {
        shift.m_moved = false;
        m_sentEnd = buffer ? buffer->End() : -1;
        return Unframed() ? std::optional(audio.toByteArray()) : std::nullopt;
    }
    if (m_asReceived) {
        // Downstream stops getting the bytes as received at this buffer.
        m_asReceived = false;
        if (shift.m_cursor < 0)
            shift.m_cursor = start;
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
    if (!buffer || buffer->End() == buffer->Begin() || !std::exchange(shift.m_moved, false))
        return QByteArray();
    // Downstream starts afresh: it gets a lead from the new place (the
    // newest audio's, going live) at once.
    qint64 at = shift.m_cursor;
    const qint64 newest = buffer->TimeAt(buffer->End() - 1);
    const bool live = shift.m_mode == Mode::Live || at < 0 || at >= buffer->End();
    if (live)
        at = buffer->OffsetAt(newest - kLeadMs);
    at = std::max(at, buffer->Begin());
    // Where the page that begins at `page` ends (the end of what is kept
    // when it is not whole yet).
    const auto pageEnd = [buffer](qint64 page) { return OggPageFrom(*buffer, page + 1); };
    QByteArray headers; // an Ogg chain's, to go first
    const bool ogg = !buffer->HeadersAt(buffer->End() - 1).isEmpty();
    if (ogg) {
        // Ogg: from a page that ends a packet of audio, complete before the
        // newest byte (pages may be a second long). The demuxer has had
        // up to `demuxed` (the flush has begun: nothing more reaches it).
        // Flushed, it waits for pages of the chain it was in, and would take
        // another chain's headers for more streams of that one; so into
        // another chain it is left out of the flush and given that chain's
        // headers, which it takes for a chain that starts there.
        const qint64 demuxed = shift.m_demuxed;
        const bool known = demuxed > buffer->Begin() && demuxed <= buffer->End();
        const OggAudioPages near = OggAudioPagesNear(*buffer, at);
        qint64 data = near.after >= 0 ? near.after : near.before;
        // A page is played once it has all come, and after the lead the rest
        // comes as it arrives: live, from the latest page whose end came
        // kLeadMs before the newest byte, so that the lead holds a page more.
        if (live) {
            const qint64 from = std::max(buffer->Begin(), at - kOggWindow);
            ForEachOggPage(KeptFrom(*buffer, from, buffer->End() - from),
                           [&](qsizetype page, QByteArrayView bytes) {
                               const qint64 end = from + page + bytes.size();
                               if (end >= buffer->End() || newest - buffer->TimeAt(end) < kLeadMs)
                                   return false;
                               if (IsAudioPage(bytes))
                                   data = from + page;
                               return true;
                           });
        }
        at = data >= 0 ? data : OggPageFrom(*buffer, at);
        if (known && EndsInChainHeaders(*buffer, demuxed)) {
            // Building a chain (the page filter before it lost sync): it
            // needs the rest of that chain first.
            at = demuxed;
            shift.m_keepDemuxerChain = true;
        } else if (data >= 0) {
            const QByteArray chain = known ? buffer->HeadersAt(demuxed - 1) : QByteArray();
            if (buffer->HeadersAt(at) != chain) {
                headers = buffer->HeadersAt(at);
                shift.m_keepDemuxerChain = !chain.isEmpty();
            }
        }
    }
    if (m_framer)
        m_framer->Restart();
    shift.m_cursor = at;
    shift.m_mode = Mode::Delayed;
    // Ogg: kLeadMs after the first page, in whole pages, so that the next
    // page is whole before the lead has played.
    qint64 leadEnd = buffer->OffsetAt(buffer->TimeAt(at) + kLeadMs);
    if (ogg && pageEnd(at) < buffer->End())
        leadEnd = OggPageFrom(*buffer, buffer->OffsetAt(buffer->TimeAt(pageEnd(at)) + kLeadMs));
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
        shift.m_cursor = std::max(shift.m_cursor, buffer->Begin());
        chunk.resize(count);
        const qint64 n = buffer->Read(shift.m_cursor, chunk.data(), chunk.size());
        chunk.resize(std::max<qint64>(n, 0));
        title = buffer->TitleAt(shift.m_cursor);
        shift.m_cursor += std::max<qint64>(n, 0);
        m_sentEnd = n < 0 ? -1 : shift.m_cursor;
        if (n < 0) {
            // The disk failed: what arrived goes on, live.
            chunk = audio.toByteArray();
            shift.DropBufferLocked(QStringLiteral("%1 cannot be read").arg(buffer->Directory()));
        } else if (shift.m_cursor >= buffer->End()) {
            // Caught up with the newest byte: live again.
            shift.m_mode = Mode::Live;
            shift.m_cursor = -1;
        }
    }
    if (!m_framer) {
        m_asReceived = shift.m_mode == Mode::Live;
        return headers + chunk;
    }
    QByteArray out;
    m_framer->Frame(chunk, title.toUtf8(), &out);
    return out;
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

std::optional<QByteArray> TimeShift::SegmentTap::Received(QByteArrayView bytes, qint64 atMs,
                                                          bool segmentStart, bool* restart) {
    *restart = false;
    if (!m_started && !bytes.isEmpty()) {
        m_started = true;
        m_ts = bytes.startsWith('\x47');
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
    if (segmentStart && shift.m_segmentTitle && !shift.m_segmentTitle->isEmpty())
        shift.m_lastTitle = *shift.m_segmentTitle;
    if (!timedTitle.isEmpty())
        shift.m_lastTitle = timedTitle;
    // After a failure, a new buffer is tried at the next segment's start.
    LiveBuffer* buffer = shift.BufferLocked(segmentStart);
    const qint64 start = buffer ? buffer->End() : 0;
    if (buffer) {
        if (segmentStart) {
            buffer->MarkEntry();
            if (shift.m_segmentTitle && !shift.m_segmentTitle->isEmpty())
                buffer->MarkTitle(*shift.m_segmentTitle, atMs);
        }
        // A tag read here heads its segment's buffer (segment-level places).
        if (!timedTitle.isEmpty())
            buffer->MarkTitle(timedTitle, atMs);
        held = shift.m_buffer;
        lock.unlock(); // as in Tap::Received
        const bool kept = buffer->Append(bytes, atMs);
        lock.lock();
        if (shift.m_buffer != held) {
            buffer = nullptr;
        } else if (!kept) {
            shift.DropBufferLocked(buffer->Error());
            buffer = nullptr;
        }
    }
    if (segmentStart)
        shift.m_segmentTitle.reset();
    if (shift.m_mode == Mode::Live) {
        if (m_asReceived) {
            shift.m_moved = false;
            return std::nullopt;
        }
        // Live again after a delay: from the start of the newest segment,
        // at once (or, the move long past or the buffer lost, from the next
        // one).
        const bool moved = buffer && std::exchange(shift.m_moved, false);
        const qint64 entry = moved ? buffer->EntryAtOrBefore(buffer->End() - 1) : -1;
        if (!moved || entry < buffer->Begin() || entry >= start) {
            if (!segmentStart)
                return QByteArray();
            m_asReceived = true;
            *restart = true;
            return std::nullopt;
        }
        shift.m_mode = Mode::Delayed;
        shift.m_cursor = entry;
        *restart = true;
    }
    if (m_asReceived) {
        m_asReceived = false;
        if (shift.m_cursor < 0)
            shift.m_cursor = start;
    }
    if (shift.m_mode == Mode::Paused)
        return QByteArray();

    shift.m_cursor = std::max(shift.m_cursor, buffer->Begin());
    // After a move downstream starts afresh from a segment's start, given a
    // lead at once (the segment, which arrived at once); going live, the
    // newest segment as far as it came.
    qint64 count = bytes.size();
    if (std::exchange(shift.m_moved, false))
        *restart = true;
    if (*restart) {
        const qint64 at = shift.m_cursor;
        const qint64 lead = buffer->OffsetAt(buffer->TimeAt(at) + kLeadMs) - at;
        count = std::max(count, std::min(lead, buffer->End() - at));
    }
    QByteArray chunk(count, '\0');
    const qint64 n = buffer->Read(shift.m_cursor, chunk.data(), chunk.size());
    if (n < 0) {
        // The disk failed: live from the next segment.
        shift.DropBufferLocked(QStringLiteral("%1 cannot be read").arg(buffer->Directory()));
        return QByteArray();
    }
    chunk.resize(n);
    shift.m_cursor += n;
    if (shift.m_cursor >= buffer->End()) {
        // Caught up with the newest byte: what follows is as received.
        shift.m_mode = Mode::Live;
        shift.m_cursor = -1;
        m_asReceived = true;
    }
    return chunk;
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
    m_mode = Mode::Live;
    m_cursor = -1;
    buffer = std::move(m_buffer); // goes after the lock
}

bool TimeShift::GoLive() {
    std::lock_guard lock(m_mutex);
    const PublishOnExit publish(*this);
    if (m_mode == Mode::Live)
        return false;
    NoteMoveLocked();
    m_mode = Mode::Live;
    m_cursor = -1;
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
            m_mode = Mode::Live;
            m_cursor = -1;
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
