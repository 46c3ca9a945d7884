#include "player/timeshift/LiveBuffer.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QStandardPaths>
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace didira {

namespace {

// live-<pid>-<n>: the process that keeps it, and which of its buffers.
const QRegularExpression kBufferName(QStringLiteral("^live-(\\d+)-\\d+$"));
// The segment files a buffer makes, and nothing else, are removed with it.
const QRegularExpression kSegmentName(QStringLiteral("^\\d{8}\\.seg$"));

QString Why(const QString& path, int error) {
    return QStringLiteral("%1: %2").arg(path, QString::fromLocal8Bit(std::strerror(error)));
}

// A descriptor closed with its owner.
class Fd {
public:
    explicit Fd(int fd = -1) : m_fd(fd) {}
    ~Fd() {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return m_fd; }
    int release() { return std::exchange(m_fd, -1); }

private:
    int m_fd;
};

// Why the directory open as fd (at path) is not the user's own; empty when
// it is. One that others can read is made the user's alone.
QString CheckOwnDirectory(int fd, const QString& path) {
    struct stat st {};
    if (::fstat(fd, &st) != 0)
        return Why(path, errno);
    if (!S_ISDIR(st.st_mode))
        return QStringLiteral("%1 is not a folder").arg(path);
    if (st.st_uid != ::geteuid())
        return QStringLiteral("%1 belongs to another user").arg(path);
    if (st.st_mode & (S_IWGRP | S_IWOTH))
        return QStringLiteral("%1 can be written by other users").arg(path);
    if ((st.st_mode & 077) != 0 && ::fchmod(fd, 0700) != 0)
        return Why(path, errno);
    return {};
}

// Opens name in dirFd (AT_FDCWD: a path) as a directory of the user's own,
// never through a link; -1 with *why otherwise.
int OpenOwnDirectory(int dirFd, const QByteArray& name, const QString& path, QString* why) {
    const int fd =
        ::openat(dirFd, name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        *why = errno == ELOOP || errno == ENOTDIR ? QStringLiteral("%1 is not a folder").arg(path)
                                                  : Why(path, errno);
        return -1;
    }
    *why = CheckOwnDirectory(fd, path);
    if (!why->isEmpty()) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// The cache root, made (0700, with what is missing above it) when it is not
// there; its descriptor, or -1 with *why.
int OpenRoot(const QString& root, QString* why) {
    const QString clean = QDir::cleanPath(QDir(root).absolutePath());
    QString made;
    for (const QString& part : clean.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        made += QLatin1Char('/') + part;
        if (::mkdir(QFile::encodeName(made).constData(), 0700) != 0 && errno != EEXIST) {
            *why = Why(made, errno);
            return -1;
        }
    }
    return OpenOwnDirectory(AT_FDCWD, QFile::encodeName(clean), clean, why);
}

QByteArray ReadSmallFile(int dirFd, const char* name) {
    Fd fd(::openat(dirFd, name, O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    if (fd.get() < 0)
        return {};
    char bytes[512];
    const ssize_t n = ::read(fd.get(), bytes, sizeof bytes);
    return n > 0 ? QByteArray(bytes, n) : QByteArray();
}

QByteArray BootId() {
    static const QByteArray id =
        ReadSmallFile(AT_FDCWD, "/proc/sys/kernel/random/boot_id").trimmed();
    return id;
}

QByteArray MachineId() {
    static const QByteArray id = ReadSmallFile(AT_FDCWD, "/etc/machine-id").trimmed();
    return id;
}

// When pid started, in clock ticks after boot; empty when it does not run.
QByteArray StartTime(qint64 pid) {
    const QByteArray stat =
        ReadSmallFile(AT_FDCWD, QByteArray("/proc/") + QByteArray::number(pid) + "/stat");
    // After the command's closing parenthesis: state, then 18 more fields.
    const qsizetype close = stat.lastIndexOf(')');
    if (close < 0)
        return {};
    const QList<QByteArray> fields = stat.mid(close + 2).split(' ');
    return fields.size() > 19 ? fields[19] : QByteArray();
}

bool ProcessRuns(qint64 pid) {
    return pid > 0 && (::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM);
}

QByteArray Field(const QByteArray& owner, const QByteArray& key) {
    for (const QByteArray& line : owner.split('\n'))
        if (line.startsWith(key + ' '))
            return line.mid(key.size() + 1).trimmed();
    return {};
}

// Whether the buffer whose directory is open as dirFd (named for pid) is
// kept by a process that no longer runs on this machine.
bool IsLeftover(int dirFd, qint64 pid) {
    const QByteArray owner = ReadSmallFile(dirFd, LiveBuffer::kOwnerFile);
    if (owner.isEmpty())
        return !ProcessRuns(pid); // being made, or made by a version without the file
    if (Field(owner, "machine") != MachineId())
        return false; // a home shared with another machine: its own to remove
    if (Field(owner, "boot") != BootId())
        return true;
    const QByteArray start = Field(owner, "start");
    return start.isEmpty() || StartTime(Field(owner, "pid").toLongLong()) != start;
}

// Removes the buffer directory name in rootFd: its own files, then itself
// (left when anything else is in it). Never follows a link.
bool RemoveBufferDirectory(int rootFd, const QByteArray& name, qint64 pid) {
    QString why;
    Fd dir(OpenOwnDirectory(rootFd, name, QString::fromLocal8Bit(name), &why));
    if (dir.get() < 0 || !IsLeftover(dir.get(), pid))
        return false;
    const int listFd = ::dup(dir.get());
    DIR* list = listFd >= 0 ? ::fdopendir(listFd) : nullptr;
    if (!list) {
        if (listFd >= 0)
            ::close(listFd);
        return false;
    }
    std::vector<QByteArray> names;
    while (const dirent* entry = ::readdir(list)) {
        const QByteArray file(entry->d_name);
        if (kSegmentName.match(QString::fromLatin1(file)).hasMatch() ||
            file == LiveBuffer::kOwnerFile)
            names.push_back(file);
    }
    ::closedir(list);
    for (const QByteArray& file : names)
        ::unlinkat(dir.get(), file.constData(), 0); // a link itself, never what it names
    return ::unlinkat(rootFd, name.constData(), AT_REMOVEDIR) == 0;
}

} // namespace

QString LiveBuffer::DefaultRoot() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) +
           QStringLiteral("/didira");
}

QByteArray LiveBuffer::OwnerOf(qint64 pid) {
    const QByteArray start = StartTime(pid);
    if (start.isEmpty())
        return {};
    return "machine " + MachineId() + "\nboot " + BootId() + "\npid " + QByteArray::number(pid) +
           "\nstart " + start + '\n';
}

int LiveBuffer::RemoveLeftovers(const QString& root) {
    QString why;
    const QByteArray path = QFile::encodeName(QDir::cleanPath(QDir(root).absolutePath()));
    Fd rootFd(OpenOwnDirectory(AT_FDCWD, path, root, &why));
    if (rootFd.get() < 0)
        return 0;
    std::vector<std::pair<QByteArray, qint64>> candidates;
    const int listFd = ::dup(rootFd.get());
    if (DIR* list = listFd >= 0 ? ::fdopendir(listFd) : nullptr) {
        while (const dirent* entry = ::readdir(list)) {
            const QRegularExpressionMatch match =
                kBufferName.match(QString::fromLocal8Bit(entry->d_name));
            if (match.hasMatch())
                candidates.emplace_back(entry->d_name, match.captured(1).toLongLong());
        }
        ::closedir(list);
    } else if (listFd >= 0) {
        ::close(listFd);
    }
    int removed = 0;
    for (const auto& [name, pid] : candidates)
        removed += RemoveBufferDirectory(rootFd.get(), name, pid) ? 1 : 0;
    return removed;
}

std::unique_ptr<LiveBuffer> LiveBuffer::Create(const QString& root, const Limits& limits,
                                               QString* error) {
    static std::atomic<int> s_count{0};
    QString why;
    auto fail = [&](const QString& reason) {
        if (error)
            *error = reason;
        return nullptr;
    };
    Fd rootFd(OpenRoot(root, &why));
    if (rootFd.get() < 0)
        return fail(why);
    QString dir;
    QByteArray name;
    for (int attempt = 0;; ++attempt) {
        name = QStringLiteral("live-%1-%2")
                   .arg(::getpid())
                   .arg(s_count.fetch_add(1, std::memory_order_relaxed))
                   .toLatin1();
        dir = QDir(root).filePath(QString::fromLatin1(name));
        if (::mkdirat(rootFd.get(), name.constData(), 0700) == 0)
            break;
        if (errno != EEXIST || attempt >= 100)
            return fail(Why(dir, errno));
    }
    Fd dirFd(OpenOwnDirectory(rootFd.get(), name, dir, &why));
    if (dirFd.get() < 0)
        return fail(why);
    Fd owner(::openat(dirFd.get(), kOwnerFile, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                      0600));
    const QByteArray identity = OwnerOf(::getpid());
    if (owner.get() < 0 || ::write(owner.get(), identity.constData(), identity.size()) !=
                               static_cast<ssize_t>(identity.size())) {
        why = Why(dir + u'/' + QLatin1String(kOwnerFile), errno);
        ::unlinkat(dirFd.get(), kOwnerFile, 0);
        ::unlinkat(rootFd.get(), name.constData(), AT_REMOVEDIR);
        return fail(why);
    }
    return std::unique_ptr<LiveBuffer>(new LiveBuffer(dir, dirFd.release(), limits));
}

LiveBuffer::LiveBuffer(QString dir, int dirFd, const Limits& limits)
    : m_dir(std::move(dir)), m_dirFd(dirFd), m_limits(limits) {
    m_limits.segmentBytes = std::max<qint64>(m_limits.segmentBytes, 4096);
}

LiveBuffer::~LiveBuffer() {
    for (const Segment& seg : m_segments) {
        ::close(seg.fd);
        ::unlinkat(m_dirFd, seg.name.constData(), 0);
    }
    ::unlinkat(m_dirFd, kOwnerFile, 0);
    ::close(m_dirFd);
    // Gone already, or replaced by something else: left alone.
    ::rmdir(QFile::encodeName(m_dir).constData());
}

bool LiveBuffer::NewSegment() {
    Segment seg;
    seg.begin = m_end;
    seg.name = QByteArray::number(m_nSegment++).rightJustified(8, '0') + ".seg";
    seg.fd = ::openat(m_dirFd, seg.name.constData(),
                      O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (seg.fd < 0) {
        m_strError = Why(m_dir + u'/' + QString::fromLatin1(seg.name), errno);
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
        // A short write (the disk just filled) goes on: the next one says why.
        ssize_t written = 0;
        do
            written = ::pwrite(seg.fd, data.data() + done, static_cast<size_t>(n), seg.size);
        while (written < 0 && errno == EINTR);
        if (written <= 0) {
            m_strError = written < 0 ? Why(m_dir, errno)
                                     : QStringLiteral("%1: the disk took nothing").arg(m_dir);
            ok = false;
            break;
        }
        seg.size += written;
        m_end += written;
        done += written;
    }
    if (!ok)
        m_lost = true;
    if (m_end > start && (m_chunks.empty() || m_chunks.back().ms != atMs))
        m_chunks.push_back({start, atMs, QDateTime::currentMSecsSinceEpoch()});
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
        ::close(m_segments.front().fd);
        ::unlinkat(m_dirFd, m_segments.front().name.constData(), 0);
        m_segments.pop_front();
    }
    const qint64 begin = m_segments.empty() ? m_end : m_segments.front().begin;
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
        for (qint64 got = 0; got < n;) {
            const ssize_t r = ::pread(seg.fd, out + done + got, static_cast<size_t>(n - got),
                                      offset - seg.begin + got);
            if (r < 0 && errno == EINTR)
                continue;
            if (r <= 0)
                return -1;
            got += r;
        }
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
