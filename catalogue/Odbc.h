#pragma once
// A thin database / record-set layer over the ODBC C API (unixODBC), offering
// the operations the worksheet reader needs. Failures raise CDBException.

#include <cstdint>
#include <exception>
#include <memory>
#include <string>
#include <vector>

namespace didira {

class CDBException : public std::exception {
public:
    explicit CDBException(std::string error, std::string state = {})
        : m_strError(std::move(error)), m_strSqlState(std::move(state)) {}
    const char* what() const noexcept override { return m_strError.c_str(); }

    std::string m_strError;    // the driver's (or driver manager's) message text
    std::string m_strSqlState; // five-character SQLSTATE of the first record
};

struct CODBCFieldInfo {
    std::string m_strName;
};

class CDatabase {
public:
    enum Options : unsigned { noOdbcDialog = 0x8 };

    CDatabase();
    ~CDatabase();
    CDatabase(const CDatabase&) = delete;
    CDatabase& operator=(const CDatabase&) = delete;

    // Connects with a full connect string without ever prompting.
    void OpenEx(const std::string& connect, unsigned options = noOdbcDialog);
    // Runs a statement that returns no rows.
    void ExecuteSQL(const std::string& sql);
    // Prepares sql and runs it with values bound, in order, as the character
    // parameters of its "?" markers; the values never become statement text.
    void ExecuteSQL(const std::string& sql, const std::vector<std::string>& values);
    // Harmless when already closed.
    void Close();
    bool IsOpen() const;

private:
    friend class CRecordset;
    struct Handles;
    std::unique_ptr<Handles> m_h;
};

class CRecordset {
public:
    enum OpenType { forwardOnly = 3 };
    enum Options : unsigned { readOnly = 0x4 };

    explicit CRecordset(CDatabase* database);
    ~CRecordset();
    CRecordset(const CRecordset&) = delete;
    CRecordset& operator=(const CRecordset&) = delete;

    // Runs the query and positions on the first record.
    void Open(OpenType type, const std::string& sql, unsigned options = readOnly);
    std::int16_t GetODBCFieldCount() const { return m_nFields; }
    void GetODBCFieldInfo(std::int16_t index, CODBCFieldInfo& info) const;
    bool IsEOF() const { return m_bEOF; }
    void MoveNext();
    // The field's value as text; SQL NULL gives the empty string. False when
    // the value is longer than maxLength: reading stops after the piece that
    // went past it, so value holds less than maxLength + 4 KiB.
    bool GetFieldValue(std::int16_t index, std::string& value,
                       std::size_t maxLength = std::string::npos);
    void Close();

private:
    void Fetch();

    CDatabase* m_pDatabase;
    void* m_hstmt = nullptr;
    std::int16_t m_nFields = 0;
    bool m_bEOF = true;
    std::vector<std::string> m_names;
};

// Descriptions of the installed ODBC drivers, as SQLGetInstalledDrivers lists
// them: NUL-separated, ending with an empty string. False when the call fails.
bool GetInstalledDrivers(char* buffer, std::uint16_t size, std::uint16_t* written);

} // namespace didira
