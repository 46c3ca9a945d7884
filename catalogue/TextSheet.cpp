#include "catalogue/TextSheet.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace didira {

namespace {

constexpr std::size_t kBufferSize = 4096;

// A file descriptor closed on every path.
class Fd {
public:
    explicit Fd(int fd) : m_fd(fd) {}
    ~Fd() {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return m_fd; }
    // Closes now and reports whether the close succeeded.
    bool close() {
        const int fd = m_fd;
        m_fd = -1;
        return fd < 0 || ::close(fd) == 0;
    }

private:
    int m_fd;
};

bool WriteAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

using ReadResult = TextSheetRead;

// Reads the lines of a regular file: LF ends a line, a CR just before it is
// dropped, a last line without terminator counts. A file of more than
// maxBytes is refused by its size before anything is read, and again if it
// grows past the bound while being read. Lines read before a failure stay.
ReadResult ReadLines(const std::string& path, std::vector<std::string>& lines,
                     std::size_t maxBytes) {
    // O_NONBLOCK: opening a FIFO must not wait for a writer; anything but a
    // regular file is refused below.
    Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (fd.get() < 0)
        return ReadResult::Failed;
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode))
        return ReadResult::Failed;
    if (static_cast<std::uintmax_t>(st.st_size) > maxBytes)
        return ReadResult::TooLarge;
    std::string line;
    bool pending = false;
    std::size_t total = 0;
    char buffer[kBufferSize];
    for (;;) {
        const ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return ReadResult::Failed;
        }
        if (n == 0)
            break;
        total += static_cast<std::size_t>(n);
        if (total > maxBytes)
            return ReadResult::TooLarge;
        const char* p = buffer;
        const char* const end = buffer + n;
        while (p < end) {
            const auto* lf = static_cast<const char*>(std::memchr(p, '\n', end - p));
            if (lf == nullptr) {
                line.append(p, end);
                pending = true;
                break;
            }
            line.append(p, lf);
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            lines.push_back(std::move(line));
            line.clear();
            pending = false;
            p = lf + 1;
        }
    }
    if (pending)
        lines.push_back(std::move(line));
    return fd.close() ? ReadResult::Read : ReadResult::Failed;
}

// Writes data to path through a temporary file in the same directory that is
// renamed into place, so the target is either the old file or the complete
// new one, never a truncated mix.
bool ReplaceFile(const std::string& path, const std::vector<std::string>& lines) {
    static std::atomic<unsigned> counter{0};
    const std::size_t slash = path.rfind('/');
    const std::string dir = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    std::string temp;
    int raw = -1;
    for (int attempt = 0; attempt < 100 && raw < 0; ++attempt) {
        temp = dir + "." + base + "." + std::to_string(::getpid()) + "." +
               std::to_string(counter++) + ".tmp";
        raw = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (raw < 0 && errno != EEXIST)
            return false;
    }
    if (raw < 0)
        return false;
    Fd fd(raw);
    bool ok = true;
    std::string buffer;
    buffer.reserve(kBufferSize * 2);
    for (const std::string& line : lines) {
        buffer += line;
        buffer += "\r\n";
        if (buffer.size() >= kBufferSize) {
            ok = WriteAll(fd.get(), buffer.data(), buffer.size());
            buffer.clear();
            if (!ok)
                break;
        }
    }
    ok = ok && WriteAll(fd.get(), buffer.data(), buffer.size());
    ok = ok && ::fsync(fd.get()) == 0;
    ok = fd.close() && ok;
    ok = ok && ::rename(temp.c_str(), path.c_str()) == 0;
    if (!ok)
        ::unlink(temp.c_str());
    return ok;
}

} // namespace

TextSheetRead ReadTextSheet(const std::string& path, std::size_t maxBytes, SheetRows& rows) {
    try {
        rows.Lines().clear();
        const ReadResult read = ReadLines(path, rows.Lines(), maxBytes);
        if (read == ReadResult::TooLarge)
            rows.Lines().clear();
        rows.DetectEncoding();
        if (read == ReadResult::Read && !rows.Lines().empty())
            rows.HeaderFromFirstLine();
        return read;
    } catch (const std::bad_alloc&) {
        rows.Lines().clear();
        rows.Header().clear();
        return ReadResult::Failed;
    }
}

bool WriteTextSheet(const std::string& path, const SheetRows& rows) {
    return ReplaceFile(path, rows.Lines());
}

} // namespace didira
