#include "catalogue/CatalogueAppend.h"

#include "catalogue/CatalogueRead.h"
#include "catalogue/SheetFile.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace didira {

namespace {

using Status = CatalogueAppend::Status;

const SheetLimits kLimits{kCatalogueMaxBytes, kCatalogueMaxRows};

CatalogueAppend Result(Status status, TextEncoding encoding, std::string error = {}) {
    CatalogueAppend result;
    result.status = status;
    result.encoding = encoding;
    result.error = std::move(error);
    return result;
}

bool IsAscii(std::string_view s) {
    for (const char c : s) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u >= 0x7F)
            return false;
    }
    return true;
}

// The whole of a regular file, at most kCatalogueMaxBytes bytes; false when
// it cannot be read or is larger.
bool ReadAll(const std::string& path, std::string& out) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return false;
    struct stat st {};
    bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    char buffer[4096];
    while (ok) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            ok = n == 0;
            break;
        }
        out.append(buffer, static_cast<std::size_t>(n));
        ok = out.size() <= kCatalogueMaxBytes;
    }
    ::close(fd);
    return ok;
}

// What ends the file's lines: CR LF unless its first line ends in a bare LF.
std::string LineEnd(const std::string& bytes) {
    const std::size_t lf = bytes.find('\n');
    return lf != std::string::npos && (lf == 0 || bytes[lf - 1] != '\r') ? "\n" : "\r\n";
}

// Writes bytes to a new file beside target (mode as given, 0 for the
// umask's); returns its
// path, or an empty one with errno's text in error.
std::string WriteTemporary(const std::string& target, const std::string& bytes, mode_t mode,
                           std::string& error) {
    static std::atomic<unsigned> counter{0};
    const std::size_t slash = target.rfind('/');
    const std::string dir =
        slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
    const std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string temp = dir + "." + base + "." + std::to_string(::getpid()) + "." +
                                 std::to_string(counter++) + ".add";
        const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno == EEXIST)
            continue;
        if (fd < 0)
            break;
        bool ok = mode == 0 || ::fchmod(fd, mode) == 0;
        for (std::size_t done = 0; ok && done < bytes.size();) {
            const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
            if (n < 0 && errno == EINTR)
                continue;
            ok = n > 0;
            if (ok)
                done += static_cast<std::size_t>(n);
        }
        ok = ok && ::fsync(fd) == 0;
        const int writeErrno = errno;
        ok = ::close(fd) == 0 && ok;
        if (ok)
            return temp;
        error = std::strerror(writeErrno);
        ::unlink(temp.c_str());
        return {};
    }
    error = std::strerror(errno);
    return {};
}

// Whether the file at temp reads as the old rows and then exactly the new
// cells, in the old encoding.
bool ReadsBack(const std::string& temp, std::int32_t oldRows, TextEncoding encoding,
               const std::vector<std::string>& cells) {
    CSheetFile sheet(temp, ",", false, kLimits);
    if (sheet.TooLarge() || sheet.ColumnCount() != kCatalogueColumns ||
        sheet.RowCount() != oldRows + 1 || sheet.Encoding() != encoding)
        return false;
    std::vector<std::string> read;
    return sheet.FetchRow(read, sheet.RowCount()) && read == cells;
}

} // namespace

CatalogueAppend AppendToCatalogue(const std::string& path, const CatalogueEntry& entry) {
    const TextEncoding pathEncoding = IsValidUtf8(path) ? TextEncoding::Utf8 : TextEncoding::Cp932;
    if (LastCharsLower(path, 4, pathEncoding) == ".xls")
        return Result(Status::Workbook, TextEncoding::Cp932);

    // The file as the load reads it (which writes its backup), and its bytes.
    std::string target = path;
    std::string bytes;
    std::int32_t rows = 0;
    TextEncoding encoding = TextEncoding::Cp932;
    mode_t mode = 0; // a new file's: as the umask gives
    if (::access(path.c_str(), F_OK) == 0) {
        CSheetFile sheet(path, ",", true, kLimits);
        if (sheet.TooLarge())
            return Result(Status::Full, sheet.Encoding());
        if (!ReadAll(path, bytes))
            return Result(Status::NotACatalogue, sheet.Encoding());
        encoding = sheet.Encoding();
        rows = sheet.RowCount();
        if (!bytes.empty() && sheet.ColumnCount() != kCatalogueColumns)
            return Result(Status::NotACatalogue, encoding);
        if (rows >= kCatalogueMaxRows)
            return Result(Status::Full, encoding);
        // A link keeps pointing at the catalogue: the file it names is replaced.
        char real[PATH_MAX];
        struct stat st {};
        if (::realpath(path.c_str(), real) == nullptr || ::stat(real, &st) != 0)
            return Result(Status::NotACatalogue, encoding);
        target = real;
        mode = st.st_mode & 07777;
    }

    std::string name;
    if (!FromUtf8(entry.name, encoding, name))
        return Result(Status::NameNotEncodable, encoding);
    if (name.empty() || name.find_first_of(std::string_view("\r\n\0", 3)) != std::string::npos)
        return Result(Status::NameNotWritable, encoding);
    if (!IsAscii(entry.number) || !IsAscii(entry.url) || entry.url.empty())
        return Result(Status::NameNotWritable, encoding);

    const std::string end = LineEnd(bytes);
    if (!bytes.empty() && bytes.back() != '\n')
        bytes += end;
    bytes += "\"" + entry.number + "\",\"" + name + "\",\"" + entry.url + "\"" + end;

    std::string error;
    const std::string temp = WriteTemporary(target, bytes, mode, error);
    if (temp.empty())
        return Result(Status::WriteFailed, encoding, error);
    if (!ReadsBack(temp, rows, encoding, {entry.number, name, entry.url})) {
        ::unlink(temp.c_str());
        return Result(bytes.size() > kCatalogueMaxBytes ? Status::Full : Status::NameNotWritable,
                      encoding);
    }
    if (::rename(temp.c_str(), target.c_str()) != 0) {
        error = std::strerror(errno);
        ::unlink(temp.c_str());
        return Result(Status::WriteFailed, encoding, error);
    }
    return Result(Status::Appended, encoding);
}

} // namespace didira
