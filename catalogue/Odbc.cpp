#include "catalogue/Odbc.h"

#include <odbcinst.h>
#include <sql.h>
#include <sqlext.h>
#include <vector>

namespace didira {

namespace {

// Collects the diagnostic records of a failed call into an exception.
[[noreturn]] void Throw(SQLSMALLINT type, SQLHANDLE handle, const char* fallback) {
    std::string text;
    std::string state;
    for (SQLSMALLINT rec = 1; handle != nullptr; ++rec) {
        SQLCHAR sqlState[6] = {};
        SQLINTEGER native = 0;
        SQLCHAR message[1024] = {};
        SQLSMALLINT length = 0;
        const SQLRETURN rc =
            SQLGetDiagRec(type, handle, rec, sqlState, &native, message, sizeof message, &length);
        if (!SQL_SUCCEEDED(rc))
            break;
        if (state.empty())
            state = reinterpret_cast<const char*>(sqlState);
        text += reinterpret_cast<const char*>(message);
        text += '\n';
    }
    if (text.empty())
        text = std::string(fallback) + '\n';
    throw CDBException(std::move(text), std::move(state));
}

SQLCHAR* Sql(const std::string& s) {
    return reinterpret_cast<SQLCHAR*>(const_cast<char*>(s.c_str()));
}

} // namespace

struct CDatabase::Handles {
    SQLHENV env = SQL_NULL_HENV;
    SQLHDBC dbc = SQL_NULL_HDBC;
    bool connected = false;
};

CDatabase::CDatabase() : m_h(std::make_unique<Handles>()) {}

CDatabase::~CDatabase() {
    Close();
    if (m_h->dbc != SQL_NULL_HDBC)
        SQLFreeHandle(SQL_HANDLE_DBC, m_h->dbc);
    if (m_h->env != SQL_NULL_HENV)
        SQLFreeHandle(SQL_HANDLE_ENV, m_h->env);
}

bool CDatabase::IsOpen() const {
    return m_h->connected;
}

void CDatabase::OpenEx(const std::string& connect, unsigned /*options*/) {
    Close();
    if (m_h->env == SQL_NULL_HENV) {
        if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &m_h->env))) {
            m_h->env = SQL_NULL_HENV;
            throw CDBException("Cannot allocate an ODBC environment\n");
        }
        SQLSetEnvAttr(m_h->env, SQL_ATTR_ODBC_VERSION,
                      reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(SQL_OV_ODBC3)), 0);
    }
    if (m_h->dbc == SQL_NULL_HDBC &&
        !SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_DBC, m_h->env, &m_h->dbc))) {
        m_h->dbc = SQL_NULL_HDBC;
        Throw(SQL_HANDLE_ENV, m_h->env, "Cannot allocate an ODBC connection");
    }
    SQLCHAR out[1024];
    SQLSMALLINT outLength = 0;
    // SQL_DRIVER_NOPROMPT: never show a dialog, fail instead.
    const SQLRETURN rc = SQLDriverConnect(m_h->dbc, nullptr, Sql(connect), SQL_NTS, out, sizeof out,
                                          &outLength, SQL_DRIVER_NOPROMPT);
    if (!SQL_SUCCEEDED(rc))
        Throw(SQL_HANDLE_DBC, m_h->dbc, "Cannot connect");
    m_h->connected = true;
}

namespace {

// A statement handle freed on every path.
class Statement {
public:
    explicit Statement(SQLHDBC dbc) {
        if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_STMT, dbc, &m_stmt))) {
            m_stmt = SQL_NULL_HSTMT;
            Throw(SQL_HANDLE_DBC, dbc, "Cannot allocate a statement");
        }
    }
    ~Statement() { SQLFreeHandle(SQL_HANDLE_STMT, m_stmt); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;
    SQLHSTMT get() const { return m_stmt; }
    // Raises the statement's diagnostics unless rc succeeded (or found no rows).
    void Check(SQLRETURN rc, const char* fallback) const {
        if (!SQL_SUCCEEDED(rc) && rc != SQL_NO_DATA)
            Throw(SQL_HANDLE_STMT, m_stmt, fallback);
    }

private:
    SQLHSTMT m_stmt = SQL_NULL_HSTMT;
};

} // namespace

void CDatabase::ExecuteSQL(const std::string& sql) {
    if (!m_h->connected)
        throw CDBException("Not connected\n");
    Statement stmt(m_h->dbc);
    stmt.Check(SQLExecDirect(stmt.get(), Sql(sql), SQL_NTS), "Statement failed");
}

void CDatabase::ExecuteSQL(const std::string& sql, const std::vector<std::string>& values) {
    if (!m_h->connected)
        throw CDBException("Not connected\n");
    Statement stmt(m_h->dbc);
    stmt.Check(SQLPrepare(stmt.get(), Sql(sql), SQL_NTS), "Cannot prepare the statement");
    // The driver reads the bound buffers and lengths at SQLExecute; values and
    // lengths outlive it.
    std::vector<SQLLEN> lengths(values.size());
    for (std::size_t i = 0; i < values.size(); ++i) {
        const std::string& value = values[i];
        lengths[i] = static_cast<SQLLEN>(value.size());
        const SQLULEN columnSize = value.empty() ? 1 : value.size();
        stmt.Check(SQLBindParameter(stmt.get(), static_cast<SQLUSMALLINT>(i + 1), SQL_PARAM_INPUT,
                                    SQL_C_CHAR, SQL_VARCHAR, columnSize, 0,
                                    const_cast<char*>(value.data()), lengths[i], &lengths[i]),
                   "Cannot bind a parameter");
    }
    stmt.Check(SQLExecute(stmt.get()), "Statement failed");
}

void CDatabase::Close() {
    if (m_h->connected) {
        SQLDisconnect(m_h->dbc);
        m_h->connected = false;
    }
}

CRecordset::CRecordset(CDatabase* database) : m_pDatabase(database) {}

CRecordset::~CRecordset() {
    Close();
}

void CRecordset::Open(OpenType /*type*/, const std::string& sql, unsigned /*options*/) {
    Close();
    if (m_pDatabase == nullptr || !m_pDatabase->IsOpen())
        throw CDBException("Not connected\n");
    SQLHDBC dbc = m_pDatabase->m_h->dbc;
    SQLHSTMT stmt = SQL_NULL_HSTMT;
    if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt)))
        Throw(SQL_HANDLE_DBC, dbc, "Cannot allocate a statement");
    m_hstmt = stmt;
    if (!SQL_SUCCEEDED(SQLExecDirect(stmt, Sql(sql), SQL_NTS)))
        Throw(SQL_HANDLE_STMT, stmt, "Query failed");
    SQLSMALLINT count = 0;
    if (!SQL_SUCCEEDED(SQLNumResultCols(stmt, &count)))
        Throw(SQL_HANDLE_STMT, stmt, "Cannot count the result columns");
    m_nFields = count < 0 ? 0 : count;
    m_names.assign(static_cast<std::size_t>(m_nFields), {});
    for (SQLSMALLINT i = 0; i < m_nFields; ++i) {
        SQLCHAR name[256] = {};
        SQLSMALLINT length = 0;
        SQLSMALLINT dataType = 0;
        SQLULEN size = 0;
        SQLSMALLINT digits = 0;
        SQLSMALLINT nullable = 0;
        if (!SQL_SUCCEEDED(SQLDescribeCol(stmt, static_cast<SQLUSMALLINT>(i + 1), name, sizeof name,
                                          &length, &dataType, &size, &digits, &nullable)))
            Throw(SQL_HANDLE_STMT, stmt, "Cannot describe a result column");
        m_names[static_cast<std::size_t>(i)] = reinterpret_cast<const char*>(name);
    }
    m_bEOF = false;
    if (m_nFields > 0)
        Fetch();
    else
        m_bEOF = true;
}

void CRecordset::GetODBCFieldInfo(std::int16_t index, CODBCFieldInfo& info) const {
    if (index < 0 || index >= m_nFields)
        throw CDBException("Invalid column index\n");
    info.m_strName = m_names[static_cast<std::size_t>(index)];
}

void CRecordset::Fetch() {
    const SQLRETURN rc = SQLFetch(m_hstmt);
    if (rc == SQL_NO_DATA) {
        m_bEOF = true;
        return;
    }
    if (!SQL_SUCCEEDED(rc))
        Throw(SQL_HANDLE_STMT, m_hstmt, "Fetch failed");
}

void CRecordset::MoveNext() {
    if (m_hstmt == nullptr || m_bEOF)
        throw CDBException("No current record\n");
    Fetch();
}

bool CRecordset::GetFieldValue(std::int16_t index, std::string& value, std::size_t maxLength) {
    if (m_hstmt == nullptr || m_bEOF || index < 0 || index >= m_nFields)
        throw CDBException("No such field\n");
    value.clear();
    char buffer[4096];
    for (;;) {
        SQLLEN indicator = 0;
        const SQLRETURN rc = SQLGetData(m_hstmt, static_cast<SQLUSMALLINT>(index + 1), SQL_C_CHAR,
                                        buffer, sizeof buffer, &indicator);
        if (rc == SQL_NO_DATA)
            return true;
        if (!SQL_SUCCEEDED(rc))
            Throw(SQL_HANDLE_STMT, m_hstmt, "Cannot read a field");
        if (indicator == SQL_NULL_DATA)
            return true;
        // A long value comes in pieces; every piece but the last fills the
        // buffer up to its terminating NUL.
        const bool more =
            indicator == SQL_NO_TOTAL || indicator >= static_cast<SQLLEN>(sizeof buffer);
        const std::size_t got =
            more ? sizeof buffer - 1 : static_cast<std::size_t>(indicator < 0 ? 0 : indicator);
        value.append(buffer, got);
        if (value.size() > maxLength)
            return false;
        if (rc == SQL_SUCCESS || !more)
            return true;
    }
}

void CRecordset::Close() {
    if (m_hstmt != nullptr) {
        SQLFreeHandle(SQL_HANDLE_STMT, m_hstmt);
        m_hstmt = nullptr;
    }
    m_nFields = 0;
    m_bEOF = true;
    m_names.clear();
}

bool GetInstalledDrivers(char* buffer, std::uint16_t size, std::uint16_t* written) {
    WORD out = 0;
    const BOOL ok = SQLGetInstalledDrivers(buffer, size, &out);
    if (written != nullptr)
        *written = out;
    return ok != 0;
}

} // namespace didira
