#include "player/timeshift/LiveBuffer.h"

#include "player/timeshift/CacheFolder.h"

#include <QDateTime>
#include <QFile>
#include <QStandardPaths>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace didira {

namespace {

using cachefolder::Why;

} // namespace

QString LiveBuffer::DefaultRoot() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) +
           QStringLiteral("/didira");
}

QByteArray LiveBuffer::OwnerOf(qint64 pid) {
    return cachefolder::OwnerOf(pid);
}

int LiveBuffer::RemoveLeftovers(const QString& root) {
    return cachefolder::RemoveLeftovers(root);
}

std::unique_ptr<LiveBuffer> LiveBuffer::Create(const QString& root, const Limits& limits,
                                               QString* error) {
    QString dir;
    QString why;
    const int dirFd = cachefolder::MakeBufferFolder(root, &dir, &why);
    if (dirFd < 0) {
        if (error)
            *error = why;
        return nullptr;
    }
    return std::unique_ptr<LiveBuffer>(new LiveBuffer(dir, dirFd, limits));
}

LiveBuffer::LiveBuffer(QString dir, int dirFd, const Limits& limits)
    : m_dir(std::move(dir)), m_dirFd(dirFd), m_limits(limits) {
    m_limits.segmentBytes = std::max<qint64>(m_limits.segmentBytes, 4096);
}

LiveBuffer::SegmentFile::~SegmentFile() {
    ::close(fd);
}

LiveBuffer::~LiveBuffer() {
    for (const Segment& seg : m_segments)
        ::unlinkat(m_dirFd, seg.name.constData(), 0);
    ::unlinkat(m_dirFd, cachefolder::kOwnerFile, 0);
    ::close(m_dirFd);
    // Gone already, or replaced by something else: left alone.
    ::rmdir(QFile::encodeName(m_dir).constData());
}

bool LiveBuffer::NewSegment(std::unique_lock<std::mutex>& lock) {
    Segment seg;
    seg.begin = m_end;
    seg.name = QByteArray::number(m_nSegment++).rightJustified(8, '0') + ".seg";
    lock.unlock();
    const int fd = ::openat(m_dirFd, seg.name.constData(),
                            O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    const int error = errno;
    lock.lock();
    if (fd < 0) {
        m_strError = Why(m_dir + u'/' + QString::fromLatin1(seg.name), error);
        return false;
    }
    seg.file = std::make_shared<const SegmentFile>(fd);
    m_segments.push_back(std::move(seg));
    return true;
}

bool LiveBuffer::Append(QByteArrayView data, qint64 atMs) {
    if (data.isEmpty())
        return true;
    // The one writer adds and trims segments; the index's lock is let go
    // for the disk's work, so that questions never wait for it.
    std::lock_guard writing(m_appendMutex);
    std::unique_lock lock(m_mutex);
    const qint64 start = m_end;
    qint64 done = 0;
    bool ok = true;
    while (ok && done < data.size()) {
        if (m_segments.empty() || m_segments.back().size >= m_limits.segmentBytes) {
            if (!NewSegment(lock)) {
                ok = false;
                break;
            }
        }
        const std::shared_ptr<const SegmentFile> file = m_segments.back().file;
        const qint64 at = m_segments.back().size;
        const qint64 n = std::min(data.size() - done, m_limits.segmentBytes - at);
        lock.unlock();
        // A short write (the disk just filled) goes on: the next one says why.
        ssize_t written = 0;
        do
            written = ::pwrite(file->fd, data.data() + done, static_cast<size_t>(n), at);
        while (written < 0 && errno == EINTR);
        const int error = errno;
        lock.lock();
        if (written <= 0) {
            m_strError = written < 0 ? Why(m_dir, error)
                                     : QStringLiteral("%1: the disk took nothing").arg(m_dir);
            ok = false;
            break;
        }
        m_segments.back().size += written;
        m_end += written;
        done += written;
    }
    if (!ok)
        m_lost = true;
    if (m_end > start && (m_chunks.empty() || m_chunks.back().ms != atMs))
        m_chunks.push_back({start, atMs, QDateTime::currentMSecsSinceEpoch()});
    const std::vector<QByteArray> gone = Trim();
    lock.unlock();
    for (const QByteArray& name : gone)
        ::unlinkat(m_dirFd, name.constData(), 0);
    return ok;
}

namespace {

qint64 TextBytes(const QString& text) {
    return text.size() * qint64(sizeof(QChar));
}

} // namespace

void LiveBuffer::MarkTitle(const QString& title, qint64 atMs) {
    std::lock_guard lock(m_mutex);
    if (!m_marks.empty() && m_marks.back().title == title)
        return;
    int recent = 0;
    for (auto it = m_marks.rbegin(); it != m_marks.rend() && recent < kMarksPerMinute; ++it) {
        if (it->ms <= atMs - 60000)
            break;
        ++recent;
    }
    if (!m_marks.empty() && (m_marks.back().offset == m_end || recent >= kMarksPerMinute)) {
        m_markBytes += TextBytes(title) - TextBytes(m_marks.back().title);
        m_marks.back().title = title;
    } else {
        m_marks.push_back({m_end, title, atMs});
        m_markBytes += TextBytes(title);
    }
    while (m_markBytes > kMaxMarkBytes && m_marks.size() > 1)
        DropOldestMark();
}

void LiveBuffer::DropOldestMark() {
    m_markBytes -= TextBytes(m_marks.front().title);
    m_marks.pop_front();
}

void LiveBuffer::DropOldestHeaders() {
    m_headerBytes -= m_headers.front().bytes.size();
    m_headers.pop_front();
}

std::vector<QByteArray> LiveBuffer::Trim() {
    std::vector<QByteArray> gone;
    if (m_chunks.empty())
        return gone;
    const qint64 newest = m_chunks.back().ms;
    auto bytes = [this] { return m_end - m_segments.front().begin; };
    while (m_segments.size() > 1) {
        // Goes when all of it arrived before the window, or the cap is passed.
        const qint64 nextBegin = m_segments[1].begin;
        const bool old = TimeAtLocked(nextBegin) >= 0 &&
                         newest - TimeAtLocked(nextBegin) > m_limits.window.count();
        if (!old && bytes() <= m_limits.maxBytes)
            break;
        gone.push_back(m_segments.front().name); // its file stays open while read
        m_segments.pop_front();
    }
    const qint64 begin = m_segments.empty() ? m_end : m_segments.front().begin;
    while (m_chunks.size() > 1 && m_chunks[1].offset <= begin)
        m_chunks.pop_front();
    while (m_marks.size() > 1 && m_marks[1].offset <= begin)
        DropOldestMark();
    while (m_headers.size() > 1 && m_headers[1].offset <= begin)
        DropOldestHeaders();
    while (!m_entries.empty() && m_entries.front() < begin)
        m_entries.pop_front();
    return gone;
}

qint64 LiveBuffer::Begin() const {
    std::lock_guard lock(m_mutex);
    return m_segments.empty() ? m_end : m_segments.front().begin;
}

qint64 LiveBuffer::End() const {
    std::lock_guard lock(m_mutex);
    return m_end;
}

qint64 LiveBuffer::OffsetAt(qint64 ms) const {
    std::lock_guard lock(m_mutex);
    const auto it = std::lower_bound(m_chunks.begin(), m_chunks.end(), ms,
                                     [](const Chunk& c, qint64 t) { return c.ms < t; });
    if (it == m_chunks.end())
        return m_end;
    const qint64 begin = m_segments.empty() ? m_end : m_segments.front().begin;
    return std::max(it->offset, begin);
}

const LiveBuffer::Chunk* LiveBuffer::ChunkAtLocked(qint64 offset) const {
    const auto it = std::upper_bound(m_chunks.begin(), m_chunks.end(), offset,
                                     [](qint64 o, const Chunk& c) { return o < c.offset; });
    return it == m_chunks.begin() ? nullptr : &*std::prev(it);
}

qint64 LiveBuffer::TimeAt(qint64 offset) const {
    std::lock_guard lock(m_mutex);
    if (m_segments.empty() || offset < m_segments.front().begin || offset >= m_end)
        return -1;
    return TimeAtLocked(offset);
}

qint64 LiveBuffer::WallTimeAt(qint64 offset) const {
    std::lock_guard lock(m_mutex);
    if (m_segments.empty() || offset < m_segments.front().begin || offset >= m_end)
        return -1;
    const Chunk* chunk = ChunkAtLocked(offset);
    return chunk ? chunk->wallMs : -1;
}

qint64 LiveBuffer::TimeAtLocked(qint64 offset) const {
    const Chunk* chunk = ChunkAtLocked(offset);
    return chunk ? chunk->ms : -1;
}

QString LiveBuffer::TitleAt(qint64 offset) const {
    std::lock_guard lock(m_mutex);
    const auto it = std::upper_bound(m_marks.begin(), m_marks.end(), offset,
                                     [](qint64 o, const Mark& m) { return o < m.offset; });
    return it == m_marks.begin() ? QString() : std::prev(it)->title;
}

std::vector<LiveBuffer::Mark> LiveBuffer::MarksIn(qint64 from, qint64 to) const {
    std::lock_guard lock(m_mutex);
    std::vector<Mark> marks;
    for (const Mark& mark : m_marks)
        if (mark.offset > from && mark.offset <= to)
            marks.push_back(mark);
    return marks;
}

void LiveBuffer::KeepHeaders(qint64 offset, QByteArray headers) {
    std::lock_guard lock(m_mutex);
    while (!m_headers.empty() && m_headers.back().offset >= offset) {
        m_headerBytes -= m_headers.back().bytes.size();
        m_headers.pop_back();
    }
    m_headerBytes += headers.size();
    m_headers.push_back({offset, std::move(headers)});
    while (m_headerBytes > kMaxHeaderBytes && m_headers.size() > 1)
        DropOldestHeaders();
}

QByteArray LiveBuffer::HeadersAt(qint64 offset) const {
    std::lock_guard lock(m_mutex);
    const auto it = std::upper_bound(m_headers.begin(), m_headers.end(), offset,
                                     [](qint64 o, const Headers& h) { return o < h.offset; });
    return it == m_headers.begin() ? QByteArray() : std::prev(it)->bytes;
}

void LiveBuffer::MarkEntry() {
    std::lock_guard lock(m_mutex);
    if (m_entries.empty() || m_entries.back() != m_end)
        m_entries.push_back(m_end);
}

qint64 LiveBuffer::EntryAtOrBefore(qint64 offset) const {
    std::lock_guard lock(m_mutex);
    const auto it = std::upper_bound(m_entries.begin(), m_entries.end(), offset);
    return it == m_entries.begin() ? -1 : *std::prev(it);
}

qint64 LiveBuffer::Read(qint64 offset, char* out, qint64 max) const {
    // The pieces to read, found under the lock and read without it.
    struct Piece {
        std::shared_ptr<const SegmentFile> file;
        qint64 at;
        qint64 size;
    };
    std::vector<Piece> pieces;
    {
        std::lock_guard lock(m_mutex);
        if (m_segments.empty() || offset < m_segments.front().begin || offset > m_end)
            return -1;
        qint64 done = 0;
        for (const Segment& seg : m_segments) {
            if (done >= max || offset >= m_end)
                break;
            if (offset >= seg.begin + seg.size)
                continue;
            const qint64 n = std::min(max - done, seg.begin + seg.size - offset);
            pieces.push_back({seg.file, offset - seg.begin, n});
            done += n;
            offset += n;
        }
    }
    qint64 done = 0;
    for (const Piece& piece : pieces) {
        for (qint64 got = 0; got < piece.size;) {
            const ssize_t r = ::pread(piece.file->fd, out + done + got,
                                      static_cast<size_t>(piece.size - got), piece.at + got);
            if (r < 0 && errno == EINTR)
                continue;
            if (r <= 0)
                return -1;
            got += r;
        }
        done += piece.size;
    }
    return done;
}

QString LiveBuffer::Error() const {
    std::lock_guard lock(m_mutex);
    return m_strError;
}

} // namespace didira
