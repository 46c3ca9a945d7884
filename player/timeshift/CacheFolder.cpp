#include "player/timeshift/CacheFolder.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace didira::cachefolder {

namespace {

// live-<pid>-<n>: the process that keeps it, and which of its buffers.
const QRegularExpression kBufferName(QStringLiteral("^live-(\\d+)-\\d+$"));
// The segment files a buffer makes, and nothing else, are removed with it.
const QRegularExpression kSegmentName(QStringLiteral("^\\d{8}\\.seg$"));

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
    const QByteArray owner = ReadSmallFile(dirFd, kOwnerFile);
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
        if (kSegmentName.match(QString::fromLatin1(file)).hasMatch() || file == kOwnerFile)
            names.push_back(file);
    }
    ::closedir(list);
    for (const QByteArray& file : names)
        ::unlinkat(dir.get(), file.constData(), 0); // a link itself, never what it names
    return ::unlinkat(rootFd, name.constData(), AT_REMOVEDIR) == 0;
}

} // namespace

QString Why(const QString& path, int error) {
    return QStringLiteral("%1: %2").arg(path, QString::fromLocal8Bit(std::strerror(error)));
}

QByteArray OwnerOf(qint64 pid) {
    const QByteArray start = StartTime(pid);
    if (start.isEmpty())
        return {};
    return "machine " + MachineId() + "\nboot " + BootId() + "\npid " + QByteArray::number(pid) +
           "\nstart " + start + '\n';
}

int RemoveLeftovers(const QString& root) {
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

int MakeBufferFolder(const QString& root, QString* dir, QString* why) {
    static std::atomic<int> s_count{0};
    Fd rootFd(OpenRoot(root, why));
    if (rootFd.get() < 0)
        return -1;
    QByteArray name;
    for (int attempt = 0;; ++attempt) {
        name = QStringLiteral("live-%1-%2")
                   .arg(::getpid())
                   .arg(s_count.fetch_add(1, std::memory_order_relaxed))
                   .toLatin1();
        *dir = QDir(root).filePath(QString::fromLatin1(name));
        if (::mkdirat(rootFd.get(), name.constData(), 0700) == 0)
            break;
        if (errno != EEXIST || attempt >= 100) {
            *why = Why(root, errno);
            return -1;
        }
    }
    Fd dirFd(OpenOwnDirectory(rootFd.get(), name, *dir, why));
    if (dirFd.get() < 0)
        return -1;
    Fd owner(::openat(dirFd.get(), kOwnerFile, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                      0600));
    const QByteArray identity = OwnerOf(::getpid());
    if (owner.get() < 0 || ::write(owner.get(), identity.constData(), identity.size()) !=
                               static_cast<ssize_t>(identity.size())) {
        *why = Why(*dir + u'/' + QLatin1String(kOwnerFile), errno);
        ::unlinkat(dirFd.get(), kOwnerFile, 0);
        ::unlinkat(rootFd.get(), name.constData(), AT_REMOVEDIR);
        return -1;
    }
    return dirFd.release();
}

} // namespace didira::cachefolder
