#include "player/timeshift/LiveBuffer.h"

#include <QDir>
#include <QRegularExpression>
#include <QStandardPaths>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <unistd.h>

namespace didira {

namespace {

// live-<pid>-<n>: the process that keeps it, and which of its buffers.
const QRegularExpression kBufferName(QStringLiteral("^live-(\\d+)-\\d+$"));

bool ProcessRuns(qint64 pid) {
    return pid > 0 && (::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM);
}

} // namespace

QString LiveBuffer::DefaultRoot() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) +
           QStringLiteral("/didira");
}

int LiveBuffer::RemoveLeftovers(const QString& root) {
    int removed = 0;
    const QDir dir(root);
    for (const QString& name : dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        const QRegularExpressionMatch match = kBufferName.match(name);
        if (!match.hasMatch() || ProcessRuns(match.captured(1).toLongLong()))
            continue;
        if (QDir(dir.filePath(name)).removeRecursively())
            ++removed;
    }
    return removed;
}

std::unique_ptr<LiveBuffer> LiveBuffer::Create(const QString& root, const Limits& limits,
                                               QString* error) {
    static std::atomic<int> s_count{0};
    const QString dir = root + QStringLiteral("/live-%1-%2")
                                   .arg(::getpid())
                                   .arg(s_count.fetch_add(1, std::memory_order_relaxed));
    if (!QDir().mkpath(dir)) {
        if (error)
            *error = QStringLiteral("cannot create %1").arg(dir);
        return nullptr;
    }
    QFile::setPermissions(dir, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return std::unique_ptr<LiveBuffer>(new LiveBuffer(dir, limits));
}

LiveBuffer::LiveBuffer(QString dir, const Limits& limits)
    : m_dir(std::move(dir)), m_limits(limits) {
    m_limits.segmentBytes = std::max<qint64>(m_limits.segmentBytes, 4096);
}

LiveBuffer::~LiveBuffer() {
    m_segments.clear(); // files closed before they go
    QDir(m_dir).removeRecursively();
}

bool LiveBuffer::NewSegment() {
    Segment seg;
    seg.begin = m_end;
    seg.file = std::make_unique<QFile>(
        m_dir + QStringLiteral("/%1.seg").arg(m_nSegment++, 8, 10, QLatin1Char('0')));
    if (!seg.file->open(QIODevice::ReadWrite | QIODevice::Truncate | QIODevice::Unbuffered)) {
        m_strError = seg.file->errorString();
        return false;
    }
    m_segments.push_back(std::move(seg));
    return true;
}

bool LiveBuffer::Append(QByteArrayView data, qint64 atMs) {
    std::lock_guard lock(m_mutex);
    if (data.isEmpty())
        return true;
    const qint64 start = m_end;
    qint64 done = 0;
    bool ok = true;
    while (done < data.size()) {
        if (m_segments.empty() || m_segments.back().size >= m_limits.segmentBytes) {
            if (!NewSegment()) {
                ok = false;
                break;
            }
        }
        Segment& seg = m_segments.back();
        const qint64 n = std::min(data.size() - done, m_limits.segmentBytes - seg.size);
        // A short write leaves the segment at what it took; the rest is dropped.
        const qint64 written =
            seg.file->seek(seg.size) ? seg.file->write(data.data() + done, n) : -1;
        if (written > 0) {
            seg.size += written;
            m_end += written;
            done += written;
        }
        if (written != n) {
            m_strError = seg.file->errorString();
            ok = false;
            break;
        }
    }
    if (m_end > start && (m_chunks.empty() || m_chunks.back().ms != atMs))
        m_chunks.push_back({start, atMs});
    Trim();
    return ok;
}

void LiveBuffer::MarkTitle(const QString& title, qint64) {
    std::lock_guard lock(m_mutex);
    if (!m_marks.empty() && m_marks.back().offset == m_end)
        m_marks.back().title = title;
    else if (m_marks.empty() || m_marks.back().title != title)
        m_marks.push_back({m_end, title});
}

void LiveBuffer::Trim() {
    if (m_chunks.empty())
        return;
    const qint64 newest = m_chunks.back().ms;
    auto bytes = [this] { return m_end - m_segments.front().begin; };
    while (m_segments.size() > 1) {
        // Goes when all of it arrived before the window, or the cap is passed.
        const qint64 nextBegin = m_segments[1].begin;
        const bool old = TimeAtLocked(nextBegin) >= 0 &&
                         newest - TimeAtLocked(nextBegin) > m_limits.window.count();
        if (!old && bytes() <= m_limits.maxBytes)
            break;
        const QString path = m_segments.front().file->fileName();
        m_segments.pop_front();
        QFile::remove(path);
    }
    const qint64 begin = m_segments.front().begin;
    while (m_chunks.size() > 1 && m_chunks[1].offset <= begin)
        m_chunks.pop_front();
    while (m_marks.size() > 1 && m_marks[1].offset <= begin)
        m_marks.pop_front();
    while (m_headers.size() > 1 && m_headers[1].offset <= begin)
        m_headers.pop_front();
    while (!m_entries.empty() && m_entries.front() < begin)
        m_entries.pop_front();
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

qint64 LiveBuffer::TimeAt(qint64 offset) const {
    std::lock_guard lock(m_mutex);
    if (m_segments.empty() || offset < m_segments.front().begin || offset >= m_end)
        return -1;
    return TimeAtLocked(offset);
}

qint64 LiveBuffer::TimeAtLocked(qint64 offset) const {
    const auto it = std::upper_bound(m_chunks.begin(), m_chunks.end(), offset,
                                     [](qint64 o, const Chunk& c) { return o < c.offset; });
    return it == m_chunks.begin() ? -1 : std::prev(it)->ms;
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
    while (!m_headers.empty() && m_headers.back().offset >= offset)
        m_headers.pop_back();
    m_headers.push_back({offset, std::move(headers)});
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
        if (!seg.file->seek(offset - seg.begin) || seg.file->read(out + done, n) != n)
            return -1;
        done += n;
        offset += n;
    }
    return done;
}

QString LiveBuffer::Error() const {
    std::lock_guard lock(m_mutex);
    return m_strError;
}

} // namespace didira
