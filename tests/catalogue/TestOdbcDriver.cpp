// A small ODBC driver for the tests, loaded by the real driver manager. It
// serves a workbook fixture: a text file named by DBQ= in the connect string,
//
//   [Sheet]            a sheet; its first row holds the column names
//   no<TAB>name<TAB>url
//   1<TAB>a<TAB>b      cells separated by tabs; \N is SQL NULL
//   !fail-connect      (first line) every connection fails
//   !fail-fetch N      (in a sheet) fetching after N rows fails
//
// and answers the statement shapes the worksheet reader sends: SELECT * FROM
// [Sheet$A1:IV65536], CREATE TABLE [Sheet] ([c] char(255), ...) and a prepared
// INSERT INTO [Sheet$A1:IVn] ([c], ...) VALUES (?, ...) with its values bound
// (names in brackets with "]]" for "]"). CREATE TABLE and INSERT rewrite the
// fixture. Each connect string and statement is appended to the fixture's
// path + ".log", one per line.
#include <algorithm>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <regex>
#include <sql.h>
#include <sqlext.h>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct Diag {
    std::string state;
    std::string message;
};

struct Handle {
    SQLSMALLINT type;
    std::vector<Diag> diags;
    explicit Handle(SQLSMALLINT t) : type(t) {}
    virtual ~Handle() = default;
};

struct Sheet {
    std::string name;
    std::vector<std::vector<std::string>> rows; // row 0: column names; "\\N" is NULL
    int failFetchAfter = -1;
};

struct Workbook {
    bool failConnect = false;
    std::vector<Sheet> sheets;

    Sheet* Find(const std::string& name) {
        for (Sheet& s : sheets)
            if (s.name == name)
                return &s;
        return nullptr;
    }
};

std::vector<std::string> SplitTabs(const std::string& line) {
    std::vector<std::string> cells;
    std::string::size_type start = 0;
    for (;;) {
        const auto tab = line.find('\t', start);
        cells.push_back(line.substr(start, tab - start));
        if (tab == std::string::npos)
            return cells;
        start = tab + 1;
    }
}

bool LoadWorkbook(const std::string& path, Workbook& book) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    std::string line;
    Sheet* sheet = nullptr;
    bool first = true;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (first && line == "!fail-connect")
            book.failConnect = true;
        first = false;
        if (line.empty())
            continue;
        if (line.rfind("!fail-fetch ", 0) == 0 && sheet != nullptr) {
            sheet->failFetchAfter = std::stoi(line.substr(12));
            continue;
        }
        if (line.front() == '[' && line.back() == ']') {
            book.sheets.push_back(Sheet{line.substr(1, line.size() - 2), {}, -1});
            sheet = &book.sheets.back();
            continue;
        }
        if (sheet == nullptr)
            continue;
        sheet->rows.push_back(SplitTabs(line));
    }
    return true;
}

void SaveWorkbook(const std::string& path, const Workbook& book) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    for (const Sheet& s : book.sheets) {
        out << '[' << s.name << "]\n";
        for (const auto& row : s.rows) {
            for (std::size_t c = 0; c < row.size(); ++c)
                out << (c != 0 ? "\t" : "") << row[c];
            out << '\n';
        }
    }
}

struct Dbc : Handle {
    Dbc() : Handle(SQL_HANDLE_DBC) {}
    std::string path;
    Workbook book;
    void Log(const std::string& text) const {
        std::ofstream(path + ".log", std::ios::app | std::ios::binary) << text << '\n';
    }
};

struct Stmt : Handle {
    explicit Stmt(Dbc* d) : Handle(SQL_HANDLE_STMT), dbc(d) {}
    Dbc* dbc;
    bool open = false;
    std::vector<std::string> columns;
    std::vector<std::vector<std::string>> rows;
    int failFetchAfter = -1;
    long current = -1;                  // index into rows
    std::map<int, std::size_t> offsets; // SQLGetData progress per column
    std::string prepared;               // SQLPrepare's text, run by SQLExecute
    struct Param {
        const char* value = nullptr;
        SQLLEN* length = nullptr; // SQL_NTS, SQL_NULL_DATA or a byte count
    };
    std::map<SQLUSMALLINT, Param> params; // bound by SQLBindParameter, read at SQLExecute
};

SQLRETURN Fail(Handle* h, const char* state, const std::string& message) {
    h->diags.push_back({state, "[Didira test driver]" + message});
    return SQL_ERROR;
}

std::string Text(SQLCHAR* s, SQLINTEGER length) {
    if (s == nullptr)
        return {};
    const char* c = reinterpret_cast<const char*>(s);
    return length == SQL_NTS ? std::string(c) : std::string(c, static_cast<std::size_t>(length));
}

// The value of key in a connect string of KEY=value pairs separated by ";",
// a value in braces ("}}" standing for "}") kept whole; the first wins.
std::string Value(const std::string& connect, const std::string& key) {
    std::string::size_type pos = 0;
    while (pos < connect.size()) {
        const auto equals = connect.find('=', pos);
        if (equals == std::string::npos)
            break;
        std::string name = connect.substr(pos, equals - pos);
        std::transform(name.begin(), name.end(), name.begin(), ::toupper);
        std::string value;
        pos = equals + 1;
        if (pos < connect.size() && connect[pos] == '{') {
            for (++pos; pos < connect.size(); ++pos) {
                if (connect[pos] == '}' && (pos + 1 >= connect.size() || connect[pos + 1] != '}'))
                    break;
                if (connect[pos] == '}')
                    ++pos;
                value += connect[pos];
            }
            pos = std::min(connect.find(';', pos), connect.size());
        } else {
            const auto end = std::min(connect.find(';', pos), connect.size());
            value = connect.substr(pos, end - pos);
            pos = end;
        }
        if (name == key)
            return value;
        ++pos;
    }
    return {};
}

void CopyOut(const std::string& s, SQLCHAR* buffer, SQLSMALLINT size, SQLSMALLINT* length) {
    if (length != nullptr)
        *length = static_cast<SQLSMALLINT>(s.size());
    if (buffer != nullptr && size > 0) {
        const std::size_t n = std::min<std::size_t>(s.size(), static_cast<std::size_t>(size - 1));
        std::memcpy(buffer, s.data(), n);
        buffer[n] = '\0';
    }
}

// The statement shapes above; a name is bracketed, "]]" standing for "]".
const std::string kName = R"(\[(?:[^\]]|\]\])*\])";
const std::regex kSelect("SELECT \\* FROM (" + kName + ")");
const std::regex kCreate("CREATE TABLE (" + kName + ") \\((" + kName + " char\\(255\\)(?:, " +
                         kName + " char\\(255\\))*)\\)");
const std::regex kInsert("INSERT INTO (" + kName + ") \\((" + kName + "(?:, " + kName +
                         ")*)\\) VALUES \\((\\?(?:, \\?)*)\\)");

// A bracketed name without its brackets.
std::string Unbracket(const std::string& bracketed) {
    std::string name;
    for (std::size_t i = 1; i + 1 < bracketed.size(); ++i) {
        name += bracketed[i];
        i += bracketed[i] == ']'; // the second of "]]"
    }
    return name;
}

// The names in a list of bracketed names, in order.
std::vector<std::string> Names(const std::string& list) {
    static const std::regex name(kName);
    std::vector<std::string> names;
    for (std::sregex_iterator it(list.begin(), list.end(), name), end; it != end; ++it)
        names.push_back(Unbracket(it->str()));
    return names;
}

SQLRETURN Execute(Stmt* st, const std::string& sql, const std::vector<std::string>& params) {
    Dbc* dbc = st->dbc;
    dbc->Log(sql);
    std::smatch m;
    if (std::regex_match(sql, m, kSelect)) {
        const std::string range = "$A1:IV65536";
        const std::string table = Unbracket(m[1]);
        if (table.size() <= range.size() ||
            table.compare(table.size() - range.size(), range.size(), range) != 0)
            return Fail(st, "42000", "Syntax error in SELECT statement.");
        const std::string name = table.substr(0, table.size() - range.size());
        const Sheet* sheet = dbc->book.Find(name);
        if (sheet == nullptr)
            return Fail(st, "42S02", "The table '" + name + "$' does not exist.");
        st->columns = sheet->rows.empty() ? std::vector<std::string>() : sheet->rows.front();
        st->rows.assign(sheet->rows.begin() + (sheet->rows.empty() ? 0 : 1), sheet->rows.end());
        st->failFetchAfter = sheet->failFetchAfter;
        st->current = -1;
        st->open = true;
        return SQL_SUCCESS;
    }
    if (std::regex_match(sql, m, kCreate)) {
        const std::string table = Unbracket(m[1]);
        if (dbc->book.Find(table) != nullptr)
            return Fail(st, "42S01", "Table '" + table + "' already exists.");
        dbc->book.sheets.push_back(Sheet{table, {Names(m[2])}, -1});
        SaveWorkbook(dbc->path, dbc->book);
        return SQL_SUCCESS;
    }
    if (std::regex_match(sql, m, kInsert)) {
        // Values are parameter markers only, one per named column.
        const std::string table = Unbracket(m[1]);
        const std::vector<std::string> names = Names(m[2]);
        const auto markers = static_cast<std::size_t>(std::count(m[3].first, m[3].second, '?'));
        const auto dollar = table.rfind("$A1:IV");
        if (dollar == std::string::npos || markers != names.size())
            return Fail(st, "42000", "Syntax error in INSERT INTO statement.");
        if (params.size() < markers)
            return Fail(st, "07002", "Too few parameters bound.");
        Sheet* sheet = dbc->book.Find(table.substr(0, dollar));
        if (sheet == nullptr)
            return Fail(st, "42S02", "The table does not exist.");
        const auto& header = sheet->rows.front();
        std::vector<std::string> row(header.size());
        for (std::size_t i = 0; i < names.size(); ++i) {
            const auto it = std::find(header.begin(), header.end(), names[i]);
            if (it == header.end())
                return Fail(st, "07002", "Unknown field name: '" + names[i] + "'.");
            row[static_cast<std::size_t>(it - header.begin())] = params[i];
        }
        sheet->rows.push_back(std::move(row));
        SaveWorkbook(dbc->path, dbc->book);
        return SQL_SUCCESS;
    }
    return Fail(st, "42000", "Statement not understood.");
}

template <typename T> T* As(SQLHANDLE h) {
    return static_cast<T*>(static_cast<Handle*>(h));
}

void Clear(SQLHANDLE h) {
    if (h != nullptr)
        static_cast<Handle*>(h)->diags.clear();
}

} // namespace

extern "C" {

SQLRETURN SQL_API SQLAllocHandle(SQLSMALLINT type, SQLHANDLE input, SQLHANDLE* output) {
    switch (type) {
    case SQL_HANDLE_ENV:
        *output = std::make_unique<Handle>(SQL_HANDLE_ENV).release();
        return SQL_SUCCESS;
    case SQL_HANDLE_DBC:
        *output = static_cast<Handle*>(std::make_unique<Dbc>().release());
        return SQL_SUCCESS;
    case SQL_HANDLE_STMT:
        *output = static_cast<Handle*>(std::make_unique<Stmt>(As<Dbc>(input)).release());
        return SQL_SUCCESS;
    default:
        return SQL_ERROR;
    }
}

SQLRETURN SQL_API SQLFreeHandle(SQLSMALLINT, SQLHANDLE handle) {
    delete static_cast<Handle*>(handle);
    return SQL_SUCCESS;
}

SQLRETURN SQL_API SQLSetEnvAttr(SQLHENV, SQLINTEGER, SQLPOINTER, SQLINTEGER) {
    return SQL_SUCCESS;
}

SQLRETURN SQL_API SQLGetInfo(SQLHDBC, SQLUSMALLINT type, SQLPOINTER value, SQLSMALLINT size,
                             SQLSMALLINT* length) {
    if (type == SQL_DRIVER_ODBC_VER || type == SQL_DBMS_NAME || type == SQL_DBMS_VER ||
        type == SQL_DRIVER_NAME || type == SQL_DRIVER_VER) {
        CopyOut(type == SQL_DRIVER_ODBC_VER ? "03.00" : "test", static_cast<SQLCHAR*>(value), size,
                length);
        return SQL_SUCCESS;
    }
    if (value != nullptr && size >= 4)
        *static_cast<SQLUINTEGER*>(value) = 0;
    else if (value != nullptr)
        *static_cast<SQLUSMALLINT*>(value) = 0;
    if (length != nullptr)
        *length = 4;
    return SQL_SUCCESS;
}

SQLRETURN SQL_API SQLDriverConnect(SQLHDBC hdbc, SQLHWND, SQLCHAR* in, SQLSMALLINT inLength,
                                   SQLCHAR* out, SQLSMALLINT outMax, SQLSMALLINT* outLength,
                                   SQLUSMALLINT) {
    Clear(hdbc);
    Dbc* dbc = As<Dbc>(hdbc);
    const std::string connect = Text(in, inLength);
    dbc->path = Value(connect, "DBQ");
    if (dbc->path.empty())
        return Fail(dbc, "08001", "No workbook given.");
    dbc->Log(connect);
    dbc->book = Workbook{};
    if (!LoadWorkbook(dbc->path, dbc->book)) {
        // CREATE_DB: a missing workbook is created empty.
        if (Value(connect, "CREATE_DB").empty())
            return Fail(dbc, "08001", "Cannot open the workbook.");
        SaveWorkbook(dbc->path, dbc->book);
    }
    if (dbc->book.failConnect)
        return Fail(dbc, "08001", "The workbook cannot be opened.");
    CopyOut(connect, out, outMax, outLength);
    return SQL_SUCCESS;
}

SQLRETURN SQL_API SQLDisconnect(SQLHDBC hdbc) {
    Clear(hdbc);
    return SQL_SUCCESS;
}

SQLRETURN SQL_API SQLExecDirect(SQLHSTMT hstmt, SQLCHAR* text, SQLINTEGER length) {
    Clear(hstmt);
    return Execute(As<Stmt>(hstmt), Text(text, length), {});
}

SQLRETURN SQL_API SQLPrepare(SQLHSTMT hstmt, SQLCHAR* text, SQLINTEGER length) {
    Clear(hstmt);
    As<Stmt>(hstmt)->prepared = Text(text, length);
    return SQL_SUCCESS;
}

SQLRETURN SQL_API SQLBindParameter(SQLHSTMT hstmt, SQLUSMALLINT number, SQLSMALLINT io,
                                   SQLSMALLINT valueType, SQLSMALLINT, SQLULEN, SQLSMALLINT,
                                   SQLPOINTER value, SQLLEN, SQLLEN* length) {
    Clear(hstmt);
    Stmt* st = As<Stmt>(hstmt);
    if (number < 1 || io != SQL_PARAM_INPUT || valueType != SQL_C_CHAR)
        return Fail(st, "HYC00", "Only character input parameters are supported.");
    st->params[number] = {static_cast<const char*>(value), length};
    return SQL_SUCCESS;
}

SQLRETURN SQL_API SQLExecute(SQLHSTMT hstmt) {
    Clear(hstmt);
    Stmt* st = As<Stmt>(hstmt);
    std::vector<std::string> values;
    for (const auto& [number, param] : st->params) {
        if (number != values.size() + 1)
            return Fail(st, "07002", "Parameters are not bound in sequence.");
        const SQLLEN n = param.length == nullptr ? SQL_NTS : *param.length;
        if (n == SQL_NULL_DATA)
            values.emplace_back("\\N");
        else if (n == SQL_NTS)
            values.emplace_back(param.value);
        else
            values.emplace_back(param.value, static_cast<std::size_t>(n));
    }
    return Execute(st, st->prepared, values);
}

SQLRETURN SQL_API SQLNumResultCols(SQLHSTMT hstmt, SQLSMALLINT* count) {
    Clear(hstmt);
    *count = static_cast<SQLSMALLINT>(As<Stmt>(hstmt)->columns.size());
    return SQL_SUCCESS;
}

SQLRETURN SQL_API SQLDescribeCol(SQLHSTMT hstmt, SQLUSMALLINT column, SQLCHAR* name,
                                 SQLSMALLINT size, SQLSMALLINT* length, SQLSMALLINT* type,
                                 SQLULEN* columnSize, SQLSMALLINT* digits, SQLSMALLINT* nullable) {
    Clear(hstmt);
    Stmt* st = As<Stmt>(hstmt);
    if (column < 1 || column > st->columns.size())
        return Fail(st, "07009", "Invalid column number.");
    CopyOut(st->columns[column - 1], name, size, length);
    if (type != nullptr)
        *type = SQL_VARCHAR;
    if (columnSize != nullptr)
        *columnSize = 255;
    if (digits != nullptr)
        *digits = 0;
    if (nullable != nullptr)
        *nullable = SQL_NULLABLE;
    return SQL_SUCCESS;
}

SQLRETURN SQL_API SQLFetch(SQLHSTMT hstmt) {
    Clear(hstmt);
    Stmt* st = As<Stmt>(hstmt);
    if (!st->open)
        return Fail(st, "24000", "Invalid cursor state.");
    if (st->failFetchAfter >= 0 && st->current + 1 >= st->failFetchAfter)
        return Fail(st, "HY000", "Cannot read the next row.");
    st->offsets.clear();
    if (st->current + 1 >= static_cast<long>(st->rows.size())) {
        st->current = static_cast<long>(st->rows.size());
        return SQL_NO_DATA;
    }
    ++st->current;
    return SQL_SUCCESS;
}

SQLRETURN SQL_API SQLGetData(SQLHSTMT hstmt, SQLUSMALLINT column, SQLSMALLINT, SQLPOINTER target,
                             SQLLEN size, SQLLEN* indicator) {
    Clear(hstmt);
    Stmt* st = As<Stmt>(hstmt);
    if (!st->open || st->current < 0 || st->current >= static_cast<long>(st->rows.size()))
        return Fail(st, "24000", "Invalid cursor state.");
    const auto& row = st->rows[static_cast<std::size_t>(st->current)];
    if (column < 1 || column > row.size())
        return Fail(st, "07009", "Invalid column number.");
    const std::string& value = row[column - 1];
    if (value == "\\N") {
        if (indicator != nullptr)
            *indicator = SQL_NULL_DATA;
        return SQL_SUCCESS;
    }
    std::size_t& offset = st->offsets[column];
    if (offset > 0 && offset >= value.size())
        return SQL_NO_DATA;
    const std::size_t left = value.size() - offset;
    if (indicator != nullptr)
        *indicator = static_cast<SQLLEN>(left);
    if (size <= 0)
        return SQL_SUCCESS_WITH_INFO;
    const std::size_t n = std::min(left, static_cast<std::size_t>(size - 1));
    std::memcpy(target, value.data() + offset, n);
    static_cast<char*>(target)[n] = '\0';
    offset += n;
    if (n < left) {
        st->diags.push_back({"01004", "String data, right truncated"});
        return SQL_SUCCESS_WITH_INFO;
    }
    if (value.empty())
        offset = 1; // a second call reports no more data
    return SQL_SUCCESS;
}

SQLRETURN SQL_API SQLGetDiagRec(SQLSMALLINT, SQLHANDLE handle, SQLSMALLINT record, SQLCHAR* state,
                                SQLINTEGER* native, SQLCHAR* message, SQLSMALLINT size,
                                SQLSMALLINT* length) {
    Handle* h = static_cast<Handle*>(handle);
    if (h == nullptr || record < 1 || static_cast<std::size_t>(record) > h->diags.size())
        return SQL_NO_DATA;
    const Diag& d = h->diags[static_cast<std::size_t>(record - 1)];
    if (state != nullptr)
        CopyOut(d.state, state, 6, nullptr);
    if (native != nullptr)
        *native = 0;
    CopyOut(d.message, message, size, length);
    return SQL_SUCCESS;
}

// The driver manager reads diagnostics only when this is exported too.
SQLRETURN SQL_API SQLGetDiagField(SQLSMALLINT, SQLHANDLE handle, SQLSMALLINT record, SQLSMALLINT id,
                                  SQLPOINTER info, SQLSMALLINT size, SQLSMALLINT* length) {
    Handle* h = static_cast<Handle*>(handle);
    if (h == nullptr)
        return SQL_INVALID_HANDLE;
    if (id == SQL_DIAG_NUMBER) {
        *static_cast<SQLINTEGER*>(info) = static_cast<SQLINTEGER>(h->diags.size());
        return SQL_SUCCESS;
    }
    if (record < 1 || static_cast<std::size_t>(record) > h->diags.size())
        return SQL_NO_DATA;
    const Diag& d = h->diags[static_cast<std::size_t>(record - 1)];
    if (id == SQL_DIAG_SQLSTATE || id == SQL_DIAG_MESSAGE_TEXT) {
        CopyOut(id == SQL_DIAG_SQLSTATE ? d.state : d.message, static_cast<SQLCHAR*>(info), size,
                length);
        return SQL_SUCCESS;
    }
    return SQL_NO_DATA;
}

} // extern "C"
