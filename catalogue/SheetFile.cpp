#include "catalogue/SheetFile.h"

#include "catalogue/Odbc.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <new>
#include <sys/stat.h>
#include <unistd.h>

namespace didira {

namespace {

constexpr char kRowError[] = "Desired row is greater than total number of rows in spreadsheet\n";
constexpr char kOpenError[] = "Error in opening file\n";
constexpr char kReadRowError[] = "Error reading row\n";
constexpr char kWriteError[] = "Error writing file\n";
constexpr char kTooLargeError[] = "Spreadsheet exceeds the size limit\n";
constexpr char kWorkbookDelimiter[] = ",;.?";
constexpr char kBackupSheet[] = "CSheetFileBackup";
constexpr std::size_t kBufferSize = 4096;
// Column counts are 16-bit; a line with more cells than that saturates
// instead of wrapping round to a small, plausible count.
constexpr std::size_t kMaxColumns = std::numeric_limits<std::int16_t>::max();

// A connection string attribute value in braces with "}" doubled, so that a
// path holding ";", "=", quotes or braces stays one value.
std::string OdbcBraced(std::string_view value) {
    std::string out = "{";
    for (const char c : value) {
        out += c;
        if (c == '}')
            out += '}';
    }
    out += '}';
    return out;
}

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

enum class ReadResult { Read, Failed, TooLarge };

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

// name as a bracketed identifier; a "]" inside it is doubled, so that the
// name cannot end the identifier early. A CP932 trail byte equal to "]" is
// part of its character and stays single.
std::string Bracketed(std::string_view name, TextEncoding enc) {
    std::string out = "[";
    for (std::size_t i = 0; i < name.size();) {
        const std::size_t n = CharLength(name, i, enc);
        out.append(name.substr(i, n));
        if (n == 1 && name[i] == ']')
            out += ']';
        i += n;
    }
    out += ']';
    return out;
}

} // namespace

CSheetFile::CSheetFile(const std::string& path, const std::string& sheetOrDelimiter,
                       bool makeBackup, const SheetLimits& limits)
    : m_bMakeBackup(makeBackup), m_limits(limits), m_strPath(path) {
    // Paths are the file system's bytes (UTF-8 on this system, CP932 when
    // they are not valid UTF-8).
    const TextEncoding pathEncoding = IsValidUtf8(path) ? TextEncoding::Utf8 : TextEncoding::Cp932;
    if (LastCharsLower(path, 4, pathEncoding) == ".xls") {
        m_bExcelMode = true;
        m_strSheet = sheetOrDelimiter;
        m_strDelimiter = kWorkbookDelimiter;
    } else {
        m_strDelimiter = sheetOrDelimiter;
    }

    if (m_bExcelMode) {
        m_pDatabase = std::make_unique<CDatabase>();
        LocateExcelDriver();
        const std::string book = OdbcBraced(m_strPath);
        m_strConnect = "DRIVER=" + OdbcBraced(m_strDriver) +
                       ";DSN='';FIRSTROWHASNAMES=1;READONLY=FALSE;CREATE_DB=" + book +
                       ";DBQ=" + book;
    }

    const bool loaded = LoadSheet();
    // A backup of a worksheet that was not read whole would lose rows.
    if (m_bTooLarge)
        m_bMakeBackup = false;
    if (!loaded || !m_bMakeBackup || !m_bHasColumns)
        return;
    if (m_bExcelMode) {
        const std::string sheet = m_strSheet;
        m_strSheet = kBackupSheet;
        try {
            if (!WriteOut())
                m_bMakeBackup = false;
        } catch (const CDBException& e) {
            // The read succeeded; a backup that cannot connect must not undo it.
            m_strErrorText = e.m_strError;
            m_bMakeBackup = false;
        }
        m_strSheet = sheet;
        m_nCursorRow = 1;
    } else {
        const std::string original = m_strPath;
        m_strPath += ".bak";
        if (!WriteOut())
            m_bMakeBackup = false;
        m_strPath = original;
    }
}

CSheetFile::~CSheetFile() {
    m_pRecordset.reset();
    if (m_pDatabase)
        m_pDatabase->Close();
}

bool CSheetFile::LoadSheet() {
    return m_bExcelMode ? LoadWorkbook() : LoadText();
}

bool CSheetFile::WriteOut() {
    return m_bExcelMode ? WriteWorkbook() : WriteText();
}

void CSheetFile::LocateExcelDriver() {
    constexpr std::uint16_t kSize = 2000;
    char buffer[kSize] = {};
    std::uint16_t written = 0;
    if (!GetInstalledDrivers(buffer, kSize, &written)) {
        m_strDriver.clear();
        return;
    }
    // The list is NUL-separated and ends with an empty string; the bound
    // guards against a list cut short by the buffer.
    for (std::size_t pos = 0; pos < kSize && buffer[pos] != '\0';) {
        const std::size_t length = ::strnlen(buffer + pos, kSize - pos);
        const std::string_view description(buffer + pos, length);
        if (description.find("Excel") != std::string_view::npos) {
            m_strDriver = description;
            return;
        }
        pos += length + 1;
    }
}

void CSheetFile::DetectEncoding() {
    m_encoding = TextEncoding::Cp932;
    m_nBomLength = 0;
    if (!m_arrLines.empty() && m_arrLines.front().starts_with(kUtf8Bom)) {
        m_encoding = TextEncoding::Utf8;
        m_nBomLength = kUtf8Bom.size();
        return;
    }
    bool nonAscii = false;
    for (const std::string& line : m_arrLines) {
        if (!IsValidUtf8(line))
            return;
        nonAscii = nonAscii || HasNonAscii(line);
    }
    if (nonAscii)
        m_encoding = TextEncoding::Utf8;
}

std::string_view CSheetFile::RowText(std::size_t index) const {
    std::string_view line = m_arrLines[index];
    if (index == 0)
        line.remove_prefix(m_nBomLength);
    return line;
}

template <typename Emit> void CSheetFile::SplitLine(std::string_view line, Emit&& emit) const {
    constexpr auto npos = std::string_view::npos;
    const TextEncoding enc = m_encoding;
    if (!m_strDelimiter.empty()) {
        // Every cell quoted: cut at the quoted delimiter, so that a delimiter
        // inside a cell does not split it; the row's outer quotes go.
        const std::string quoted = "\"" + m_strDelimiter + "\"";
        std::size_t hit = FindText(line, quoted, 0, enc);
        if (hit != npos) {
            std::size_t start = 0;
            bool first = true;
            while (hit != npos) {
                std::string_view cell = line.substr(start, hit - start);
                if (first && !cell.empty())
                    cell.remove_prefix(CharLength(cell, 0, enc));
                first = false;
                emit(cell);
                start = hit + quoted.size();
                hit = FindText(line, quoted, start, enc);
            }
            std::string_view last = line.substr(start);
            if (!last.empty())
                last = last.substr(0, LastCharStart(last, enc));
            emit(last);
            return;
        }
        hit = FindText(line, m_strDelimiter, 0, enc);
        if (hit != npos) {
            std::size_t start = 0;
            while (hit != npos) {
                emit(line.substr(start, hit - start));
                start = hit + m_strDelimiter.size();
                hit = FindText(line, m_strDelimiter, start, enc);
            }
            emit(line.substr(start));
            return;
        }
    }
    // One cell; quotes round the whole of it go.
    std::string_view cell = line;
    if (!cell.empty() && cell.front() == '"' &&
        FindLastByte(cell, '"', enc) == LastCharStart(cell, enc)) {
        cell.remove_prefix(1);
        if (!cell.empty())
            cell = cell.substr(0, LastCharStart(cell, enc));
    }
    emit(cell);
}

bool CSheetFile::FetchRow(std::vector<std::string>& cells, std::int32_t row) {
    const std::size_t lineCount = m_arrLines.size();
    if (row < 0)
        return false;
    if (static_cast<std::size_t>(row) > lineCount) {
        m_strErrorText = kRowError;
        return false;
    }
    if (row != 0)
        m_nCursorRow = row;
    else if (m_nCursorRow < 1 || static_cast<std::size_t>(m_nCursorRow) > lineCount)
        return false;
    cells.clear();
    const std::string_view line = RowText(static_cast<std::size_t>(m_nCursorRow - 1));
    ++m_nCursorRow;
    SplitLine(line, [&cells](std::string_view cell) { cells.emplace_back(cell); });
    return true;
}

bool CSheetFile::LoadText() {
    try {
        m_arrLines.clear();
        const ReadResult read = ReadLines(m_strPath, m_arrLines, m_limits.maxBytes);
        if (read == ReadResult::TooLarge) {
            m_arrLines.clear();
            m_bTooLarge = true;
            m_strErrorText = kTooLargeError;
            return false;
        }
        if (read == ReadResult::Failed) {
            DetectEncoding();
            m_strErrorText = kOpenError;
            return false;
        }
        DetectEncoding();
        if (m_arrLines.empty()) {
            FetchRow(m_arrHeader, 1); // records the missing-row text
        } else {
            // Column names beyond the largest column count are never used.
            m_arrHeader.clear();
            SplitLine(RowText(0), [this](std::string_view cell) {
                if (m_arrHeader.size() < kMaxColumns)
                    m_arrHeader.emplace_back(cell);
            });
        }
        m_nRowCount = static_cast<std::int32_t>(
            std::min<std::size_t>(m_arrLines.size(), std::numeric_limits<std::int32_t>::max()));
        // The column count is the largest number of cells in any row;
        // cells are counted, not copied, so a huge line costs no memory.
        for (std::size_t i = 0; i < m_arrLines.size(); ++i) {
            std::size_t cells = 0;
            SplitLine(RowText(i), [&cells](std::string_view) { ++cells; });
            cells = std::min(cells, kMaxColumns);
            if (cells > static_cast<std::size_t>(m_nColumnCount))
                m_nColumnCount = static_cast<std::int16_t>(cells);
        }
        m_nCursorRow = m_nRowCount + 1;
    } catch (const std::bad_alloc&) {
        m_arrLines.clear();
        m_arrHeader.clear();
        m_nRowCount = 0;
        m_nColumnCount = 0;
        m_strErrorText = kOpenError;
        return false;
    }
    if (m_nColumnCount != 0)
        m_bHasColumns = true;
    return true;
}

void CSheetFile::Connect() {
    // With "DRIVER={}" the driver manager would take whichever driver its
    // list names first; without a workbook driver there is nothing to try.
    if (m_strDriver.empty())
        throw CDBException("No ODBC driver for workbooks is installed\n", "IM002");
    m_pDatabase->OpenEx(m_strConnect, CDatabase::noOdbcDialog);
}

bool CSheetFile::LoadWorkbook() {
    // A connection failure passes to the caller as CDBException.
    Connect();
    m_pRecordset = std::make_unique<CRecordset>(m_pDatabase.get());
    m_strQuery = "SELECT * FROM " + Bracketed(m_strSheet + "$A1:IV65536", m_encoding);
    try {
        m_pRecordset->Open(CRecordset::forwardOnly, m_strQuery, CRecordset::readOnly);
    } catch (const std::exception&) {
        m_pRecordset.reset();
        m_pDatabase->Close();
        return false;
    }
    m_nColumnCount = m_pRecordset->GetODBCFieldCount();
    if (m_nColumnCount != 0) {
        m_arrLines.clear();
        m_bHasColumns = true;
        ++m_nRowCount;
        try {
            std::string line;
            for (std::int16_t i = 0; i < m_nColumnCount; ++i) {
                CODBCFieldInfo info;
                m_pRecordset->GetODBCFieldInfo(i, info);
                m_arrHeader.push_back(info.m_strName);
                line += "\"" + info.m_strName + "\"";
                if (i + 1 < m_nColumnCount)
                    line += m_strDelimiter;
            }
            std::size_t bytes = line.size();
            m_arrLines.push_back(line);
            std::string value;
            while (!m_pRecordset->IsEOF()) {
                if (m_nRowCount >= m_limits.maxRows) {
                    m_bTooLarge = true;
                    break;
                }
                line.clear();
                for (std::int16_t i = 0; i < m_nColumnCount; ++i) {
                    // A value is read no further than the bytes left.
                    const std::size_t used = bytes + line.size();
                    const std::size_t left =
                        used < m_limits.maxBytes ? m_limits.maxBytes - used : 0;
                    if (!m_pRecordset->GetFieldValue(i, value, left)) {
                        m_bTooLarge = true;
                        break;
                    }
                    line += "\"" + value + "\"";
                    if (i + 1 < m_nColumnCount)
                        line += m_strDelimiter;
                }
                bytes += line.size();
                if (m_bTooLarge || bytes > m_limits.maxBytes) {
                    m_bTooLarge = true;
                    break;
                }
                ++m_nRowCount;
                m_arrLines.push_back(line);
                m_pRecordset->MoveNext();
            }
        } catch (const std::exception&) {
            m_strErrorText = kReadRowError;
            m_pRecordset.reset();
            m_pDatabase->Close();
            DetectEncoding();
            return false;
        }
    }
    m_pRecordset.reset();
    m_pDatabase->Close();
    DetectEncoding();
    m_nCursorRow = 1;
    if (m_bTooLarge) {
        m_strErrorText = kTooLargeError;
        return false;
    }
    return true;
}

bool CSheetFile::WriteText() {
    if (!ReplaceFile(m_strPath, m_arrLines)) {
        m_strErrorText = kWriteError;
        return false;
    }
    return true;
}

bool CSheetFile::WriteWorkbook() {
    // A connection failure passes to the caller as CDBException.
    Connect();
    try {
        std::string sql = "CREATE TABLE " + Bracketed(m_strSheet, m_encoding) + " (";
        for (const std::string& name : m_arrHeader)
            sql += Bracketed(name, m_encoding) + " char(255), ";
        if (!m_arrHeader.empty())
            sql.resize(sql.size() - 2);
        sql += ")";
        m_pDatabase->ExecuteSQL(sql);

        // Cell text goes to the driver only as bound parameters.
        for (std::int32_t i = 1; i < m_nRowCount; ++i) {
            FetchRow(m_arrCells, i + 1);
            sql = "INSERT INTO " +
                  Bracketed(m_strSheet + "$A1:IV" + std::to_string(i), m_encoding) + " (";
            for (std::size_t j = 0; j < m_arrCells.size(); ++j) {
                // A value holding the internal delimiter splits into more
                // cells than there are columns; those have no name.
                const std::string name = j < m_arrHeader.size() ? m_arrHeader[j] : std::string();
                sql += Bracketed(name, m_encoding) + ", ";
            }
            sql.resize(sql.size() - 2);
            sql += ") VALUES (";
            for (std::size_t j = 0; j < m_arrCells.size(); ++j)
                sql += "?, ";
            sql.resize(sql.size() - 2);
            sql += ")";
            m_pDatabase->ExecuteSQL(sql, m_arrCells);
        }
    } catch (const CDBException& e) {
        m_strErrorText = e.m_strError;
        m_pDatabase->Close();
        return false;
    }
    m_pDatabase->Close();
    return true;
}

} // namespace didira
