#include "catalogue/WorkbookSheet.h"

#include "catalogue/Odbc.h"

#include <cstring>

namespace didira {

namespace {

constexpr char kReadRowError[] = "Error reading row\n";

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

WorkbookSheet::WorkbookSheet(const std::string& path) : m_database(std::make_unique<CDatabase>()) {
    LocateDriver();
    const std::string book = OdbcBraced(path);
    m_connect = "DRIVER=" + OdbcBraced(m_driver) +
                ";DSN='';FIRSTROWHASNAMES=1;READONLY=FALSE;CREATE_DB=" + book + ";DBQ=" + book;
}

WorkbookSheet::~WorkbookSheet() {
    m_recordset.reset();
    m_database->Close();
}

void WorkbookSheet::LocateDriver() {
    constexpr std::uint16_t kSize = 2000;
    char buffer[kSize] = {};
    std::uint16_t written = 0;
    if (!GetInstalledDrivers(buffer, kSize, &written)) {
        m_driver.clear();
        return;
    }
    // The list is NUL-separated and ends with an empty string; the bound
    // guards against a list cut short by the buffer.
    for (std::size_t pos = 0; pos < kSize && buffer[pos] != '\0';) {
        const std::size_t length = ::strnlen(buffer + pos, kSize - pos);
        const std::string_view description(buffer + pos, length);
        if (description.find("Excel") != std::string_view::npos) {
            m_driver = description;
            return;
        }
        pos += length + 1;
    }
}

void WorkbookSheet::Connect() {
    // With "DRIVER={}" the driver manager would take whichever driver its
    // list names first; without a workbook driver there is nothing to try.
    if (m_driver.empty())
        throw CDBException("No ODBC driver for workbooks is installed\n", "IM002");
    m_database->OpenEx(m_connect, CDatabase::noOdbcDialog);
}

bool WorkbookSheet::Read(const std::string& sheet, const SheetLimits& limits, SheetRows& rows,
                         bool& tooLarge, std::string& error) {
    // A connection failure passes to the caller as CDBException.
    Connect();
    m_recordset = std::make_unique<CRecordset>(m_database.get());
    const std::string query = "SELECT * FROM " + Bracketed(sheet + "$A1:IV65536", rows.Encoding());
    try {
        m_recordset->Open(CRecordset::forwardOnly, query, CRecordset::readOnly);
    } catch (const std::exception&) {
        m_recordset.reset();
        m_database->Close();
        return false;
    }
    m_columns = m_recordset->GetODBCFieldCount();
    bool read = true;
    if (m_columns != 0) {
        try {
            ReadRecords(limits, rows, tooLarge);
        } catch (const std::exception&) {
            error = kReadRowError;
            read = false;
        }
    }
    m_recordset.reset();
    m_database->Close();
    rows.DetectEncoding();
    return read && !tooLarge;
}

// The header and the records as quoted lines, until the records end or the
// limits are passed.
void WorkbookSheet::ReadRecords(const SheetLimits& limits, SheetRows& rows, bool& tooLarge) {
    const std::string& delimiter = rows.Delimiter();
    std::vector<std::string>& lines = rows.Lines();
    lines.clear();
    std::string line;
    for (std::int16_t i = 0; i < m_columns; ++i) {
        CODBCFieldInfo info;
        m_recordset->GetODBCFieldInfo(i, info);
        rows.Header().push_back(info.m_strName);
        line += "\"" + info.m_strName + "\"";
        if (i + 1 < m_columns)
            line += delimiter;
    }
    std::size_t bytes = line.size();
    lines.push_back(line);
    std::string value;
    while (!m_recordset->IsEOF()) {
        if (static_cast<std::int64_t>(lines.size()) >= limits.maxRows) {
            tooLarge = true;
            return;
        }
        line.clear();
        for (std::int16_t i = 0; i < m_columns; ++i) {
            // A value is read no further than the bytes left.
            const std::size_t used = bytes + line.size();
            const std::size_t left = used < limits.maxBytes ? limits.maxBytes - used : 0;
            if (!m_recordset->GetFieldValue(i, value, left)) {
                tooLarge = true;
                return;
            }
            line += "\"" + value + "\"";
            if (i + 1 < m_columns)
                line += delimiter;
        }
        bytes += line.size();
        if (bytes > limits.maxBytes) {
            tooLarge = true;
            return;
        }
        lines.push_back(line);
        m_recordset->MoveNext();
    }
}

bool WorkbookSheet::Write(const std::string& sheet, SheetRows& rows, std::string& error) {
    // A connection failure passes to the caller as CDBException.
    Connect();
    try {
        std::string sql = "CREATE TABLE " + Bracketed(sheet, rows.Encoding()) + " (";
        for (const std::string& name : rows.Header())
            sql += Bracketed(name, rows.Encoding()) + " char(255), ";
        if (!rows.Header().empty())
            sql.resize(sql.size() - 2);
        sql += ")";
        m_database->ExecuteSQL(sql);

        // Cell text goes to the driver only as bound parameters.
        const auto rowCount = static_cast<std::int32_t>(rows.Lines().size());
        std::vector<std::string> cells;
        std::string unused;
        for (std::int32_t i = 1; i < rowCount; ++i) {
            rows.FetchRow(cells, i + 1, unused);
            sql = "INSERT INTO " +
                  Bracketed(sheet + "$A1:IV" + std::to_string(i), rows.Encoding()) + " (";
            for (std::size_t j = 0; j < cells.size(); ++j) {
                // A value holding the internal delimiter splits into more
                // cells than there are columns; those have no name.
                const std::string name =
                    j < rows.Header().size() ? rows.Header()[j] : std::string();
                sql += Bracketed(name, rows.Encoding()) + ", ";
            }
            sql.resize(sql.size() - 2);
            sql += ") VALUES (";
            for (std::size_t j = 0; j < cells.size(); ++j)
                sql += "?, ";
            sql.resize(sql.size() - 2);
            sql += ")";
            m_database->ExecuteSQL(sql, cells);
        }
    } catch (const CDBException& e) {
        error = e.m_strError;
        m_database->Close();
        return false;
    }
    m_database->Close();
    return true;
}

} // namespace didira
