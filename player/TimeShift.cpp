#include "player/TimeShift.h"

#include "player/StreamText.h"

#include <algorithm>
#include <cstring>
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

// The first Ogg page at or after offset (offset when none is near), or with
// audio the first whole page that ends a packet of audio (-1 when none is
// kept yet: its chain's headers may not be kept yet either).
qint64 NextOggPage(const LiveBuffer& buffer, qint64 offset, bool audio = false) {
    const QByteArray kept = KeptFrom(buffer, offset, kOggWindow);
    if (!audio) {
        const qsizetype at = kept.indexOf("OggS");
        return at < 0 ? offset : offset + at;
    }
    qint64 found = -1;
    ForEachOggPage(kept, [&](qsizetype at, QByteArrayView page) {
        if (IsAudioPage(page))
            found = offset + at;
        return found < 0;
    });
    return found;
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

} // namespace

std::shared_ptr<TimeShift> TimeShift::Create(const QString& root,
                                             const LiveBuffer::Limits& limits) {
    return std::shared_ptr<TimeShift>(new TimeShift(root, limits));
}

TimeShift::TimeShift(QString root, const LiveBuffer::Limits& limits)
    : m_root(std::move(root)), m_limits(limits) {}

std::unique_ptr<TimeShift::Tap> TimeShift::NewTap() {
    std::lock_guard lock(m_mutex);
    // A new connection (a reconnection) plays at once and from its own start,
    // live: its pipeline is new, and an Ogg stream resumed from the cursor
    // would lack the headers its decoder needs.
    m_mode = Mode::Live;
    m_cursor = -1;
    m_moved = false;
    return std::make_unique<Tap>(shared_from_this());
}

LiveBuffer* TimeShift::BufferLocked() {
    if (!m_buffer && m_strError.isEmpty()) {
        m_buffer = LiveBuffer::Create(m_root, m_limits, &m_strError);
        if (!m_buffer && m_strError.isEmpty())
            m_strError = QStringLiteral("cannot create the live buffer");
    }
    return m_strError.isEmpty() ? m_buffer.get() : nullptr;
}

void TimeShift::Tap::SetIcyInterval(std::uint32_t interval) {
    // The source adds to its caps as it learns more: the same interval goes
    // on counting where it was.
    if (interval == m_interval)
        return;
    m_interval = interval;
    m_reader.reset();
    if (interval > 0)
        m_reader.emplace(interval);
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
    const bool titled = m_reader && m_reader->Feed(bytes, &stripped, &titleAt);
    const QByteArrayView audio = m_reader ? QByteArrayView(stripped) : bytes;

    TimeShift& shift = *m_shift;
    std::lock_guard lock(shift.m_mutex);
    LiveBuffer* buffer = shift.BufferLocked();
    const qint64 start = buffer ? buffer->End() : 0;
    if (buffer) {
        bool kept = true;
        if (titled) {
            kept = buffer->Append(audio.first(titleAt), atMs);
            buffer->MarkTitle(DecodeStreamText(m_reader->Title()), atMs);
            kept = buffer->Append(audio.sliced(titleAt), atMs) && kept;
        } else {
            kept = buffer->Append(audio, atMs);
        }
        if (kept)
            m_oggHeaders.Feed(audio, start, *buffer);
        if (!kept) {
            // What was not kept cannot be played later: live from here on.
            shift.m_strError = buffer->Error();
            buffer = nullptr;
        }
    }
    if (!buffer) {
        shift.m_mode = Mode::Live;
        shift.m_cursor = -1;
        shift.m_moved = false;
    }
    if (shift.m_mode == Mode::Live && m_asReceived) {
        shift.m_moved = false;
        return std::nullopt;
    }
    if (m_asReceived) {
        // Downstream stops getting the bytes as received at this buffer.
        m_asReceived = false;
        if (shift.m_cursor < 0)
            shift.m_cursor = start;
        if (m_reader)
            m_framer.emplace(m_interval, before, QByteArray());
    }
    if (shift.m_mode == Mode::Held)
        return QByteArray();

    // After a move downstream starts afresh: it gets a lead from the new
    // place (the newest audio's, going live) at once.
    qint64 count = audio.size();
    QByteArray headers; // an Ogg chain's, to go first
    if (restart && shift.m_moved && buffer) {
        shift.m_moved = false;
        qint64 at = shift.m_cursor;
        if (shift.m_mode == Mode::Live || at < 0 || at >= buffer->End())
            at = buffer->OffsetAt(buffer->TimeAt(buffer->End() - 1) - kLeadMs);
        at = std::max(at, buffer->Begin());
        // Ogg: from a page, and flushed only within the chain the demuxer is
        // in (up to the network queue's seconds behind what was sent). The
        // demuxer, flushed, waits for that chain's pages, and would take
        // another chain's headers for more streams of the same chain. There
        // the move plays once what downstream holds has played.
        const bool ogg = !buffer->HeadersAt(buffer->End() - 1).isEmpty();
        const qint64 from = std::clamp(shift.m_movedFrom - 1, buffer->Begin(), buffer->End() - 1);
        bool sameChain = true;
        if (ogg) {
            at = NextOggPage(*buffer, at);
            const qint64 demuxed = buffer->OffsetAt(buffer->TimeAt(from) - kQueuedMs);
            sameChain = buffer->SameHeadersIn(std::min(at, demuxed), std::max(at, from));
        }
        if (sameChain) {
            *restart = true;
            if (m_framer)
                m_framer->Restart();
            shift.m_cursor = at;
            shift.m_mode = Mode::Delayed;
            const qint64 lead = buffer->OffsetAt(buffer->TimeAt(at) + kLeadMs) - at;
            count = std::max(count, std::min(lead, buffer->End() - at));
        } else {
            // After the queue the demuxer has had every byte sent. In another
            // chain than the one sent last, the move starts on that chain's
            // first page of audio after its headers, as a chain that starts
            // there would; while the chain sent last has not begun its audio,
            // it goes on there.
            const qint64 data = NextOggPage(*buffer, at, true);
            if (EndsInChainHeaders(*buffer, from + 1)) {
                at = from + 1;
            } else if (data >= 0 && buffer->HeadersAt(data) != buffer->HeadersAt(from)) {
                at = data;
                headers = buffer->HeadersAt(at);
            }
            shift.m_cursor = at;
            shift.m_mode = Mode::Delayed;
        }
    }

    QByteArray chunk;
    QString title;
    if (shift.m_mode == Mode::Live) {
        chunk = audio.toByteArray();
        if (m_reader)
            title = DecodeStreamText(m_reader->Title());
    } else {
        shift.m_cursor = std::max(shift.m_cursor, buffer->Begin());
        chunk.resize(count);
        const qint64 n = buffer->Read(shift.m_cursor, chunk.data(), chunk.size());
        chunk.resize(std::max<qint64>(n, 0));
        title = buffer->TitleAt(shift.m_cursor);
        if (n < 0) {
            shift.m_strError = buffer->Error();
            chunk = audio.toByteArray();
        }
        shift.m_cursor += std::max<qint64>(n, 0);
        if (n < 0 || shift.m_cursor >= buffer->End()) {
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
    m_mode = Mode::Live;
    m_cursor = -1;
    m_moved = false;
    return std::make_unique<SegmentTap>(shared_from_this(), std::move(titleOf));
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
    std::lock_guard lock(shift.m_mutex);
    LiveBuffer* buffer = shift.BufferLocked();
    const qint64 start = buffer ? buffer->End() : 0;
    if (buffer) {
        if (segmentStart) {
            buffer->MarkEntry();
            if (shift.m_segmentTitle && !shift.m_segmentTitle->isEmpty())
                buffer->MarkTitle(*shift.m_segmentTitle, atMs);
            shift.m_segmentTitle.reset();
        }
        // A tag read here heads its segment's buffer (segment-level places).
        if (!timedTitle.isEmpty())
            buffer->MarkTitle(timedTitle, atMs);
        if (!buffer->Append(bytes, atMs)) {
            shift.m_strError = buffer->Error();
            buffer = nullptr;
        }
    }
    if (!buffer) {
        shift.m_mode = Mode::Live;
        shift.m_cursor = -1;
    }
    if (shift.m_mode == Mode::Live) {
        if (m_asReceived) {
            shift.m_moved = false;
            return std::nullopt;
        }
        // Live again after a delay: from the start of the newest segment,
        // at once (or, the move long past, from the next one).
        const qint64 entry = buffer->EntryAtOrBefore(buffer->End() - 1);
        if (!std::exchange(shift.m_moved, false) || entry < buffer->Begin() || entry >= start) {
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
    if (shift.m_mode == Mode::Held)
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
        shift.m_strError = buffer->Error();
        shift.m_mode = Mode::Live;
        shift.m_cursor = -1;
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

bool TimeShift::Hold() {
    std::lock_guard lock(m_mutex);
    if (!m_buffer || !m_strError.isEmpty() || m_mode == Mode::Held)
        return false;
    m_mode = Mode::Held;
    return true;
}

bool TimeShift::Release() {
    std::lock_guard lock(m_mutex);
    if (m_mode != Mode::Held)
        return false;
    m_mode = m_strError.isEmpty() ? Mode::Delayed : Mode::Live;
    return true;
}

bool TimeShift::GoLive() {
    std::lock_guard lock(m_mutex);
    if (m_mode == Mode::Live)
        return false;
    NoteMoveLocked();
    m_mode = Mode::Live;
    m_cursor = -1;
    return true;
}

void TimeShift::NoteMoveLocked() {
    if (!m_moved && m_buffer)
        m_movedFrom = m_mode == Mode::Live || m_cursor < 0 ? m_buffer->End() : m_cursor;
    m_moved = true;
}

bool TimeShift::MoveBy(qint64 ms) {
    std::lock_guard lock(m_mutex);
    return m_buffer && m_strError.isEmpty() && MoveToTimeLocked(CursorTimeLocked() + ms);
}

bool TimeShift::MoveTo(qint64 ms) {
    std::lock_guard lock(m_mutex);
    return m_buffer && m_strError.isEmpty() &&
           MoveToTimeLocked(m_buffer->TimeAt(m_buffer->Begin()) + std::max<qint64>(ms, 0));
}

bool TimeShift::MoveToTimeLocked(qint64 ms) {
    const qint64 end = m_buffer->End();
    if (end == m_buffer->Begin())
        return false;
    NoteMoveLocked();
    if (ms >= m_buffer->TimeAt(end - 1)) {
        // The newest audio: live, or there once a hold ends.
        if (m_mode == Mode::Held) {
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
    std::lock_guard lock(m_mutex);
    return m_mode;
}

bool TimeShift::Works() const {
    std::lock_guard lock(m_mutex);
    return m_buffer && m_strError.isEmpty() && m_buffer->End() > m_buffer->Begin();
}

qint64 TimeShift::PositionMs() const {
    std::lock_guard lock(m_mutex);
    if (!m_buffer || m_buffer->End() == m_buffer->Begin())
        return 0;
    return std::max<qint64>(CursorTimeLocked() - m_buffer->TimeAt(m_buffer->Begin()), 0);
}

qint64 TimeShift::LengthMs() const {
    std::lock_guard lock(m_mutex);
    if (!m_buffer || m_buffer->End() == m_buffer->Begin())
        return 0;
    return m_buffer->TimeAt(m_buffer->End() - 1) - m_buffer->TimeAt(m_buffer->Begin());
}

qint64 TimeShift::BehindMs() const {
    std::lock_guard lock(m_mutex);
    if (!m_buffer || m_buffer->End() == m_buffer->Begin())
        return 0;
    return m_buffer->TimeAt(m_buffer->End() - 1) - CursorTimeLocked();
}

QString TimeShift::Error() const {
    std::lock_guard lock(m_mutex);
    return m_strError;
}

std::shared_ptr<const LiveBuffer> TimeShift::Buffer() const {
    std::lock_guard lock(m_mutex);
    return m_strError.isEmpty() ? m_buffer : nullptr;
}

} // namespace didira
