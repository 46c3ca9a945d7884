// A small ODBC driver for the tests, loaded by the real driver manager. It
// serves a workbook fixture: a text file named by DBQ= in the connect string,
//
//   [Sheet]            a sheet; its first row holds the column names
//   no<TAB>name<TAB>url
//   1<TAB>a<TAB>b      cells separated by tabs; \N is SQL NULL
//   !fail-connect      (first line) every connection fails
//   !fail-fetch N      (in a sheet) fetching after N rows fails
//
// and answers the three statements the worksheet reader sends, told apart by
// their first word; the first bracketed name ("]]" for "]") is the table, the
// others the columns: SELECT * FROM [Sheet$A1:IV65536], CREATE TABLE [Sheet]
// ([c] char(255), ...) and a prepared INSERT INTO [Sheet$A1:IVn] ([c], ...)
// VALUES (?, ...) with its values bound. CREATE TABLE and INSERT rewrite the
// fixture. Each connect string and statement is appended to the fixture's
// path + ".log", one per line.
#include <algorithm>
#include <cstring>
#include <fstream>
#include <map>
#include <sql.h>
#include <sqlext.h>
#include <string>
#include <vector>

namespace {

using Row = std::vector<std::string>;

struct Sheet {
    std::string name;
    std::vector<Row> rows; // row 0: column names; "\\N" is NULL
    int failFetchAfter = -1;
};

struct Handle {
    std::vector<std::pair<std::string, std::string>> diags; // state, message
    virtual ~Handle() = default;
};

struct Dbc : Handle {
    std::string path;
    bool failConnect = false;
    std::vector<Sheet> sheets;

    Sheet* Find(const std::string& name) {
        const auto it = std::find_if(sheets.begin(), sheets.end(),
                                     [&](const Sheet& s) { return s.name == name; });
        return it == sheets.end() ? nullptr : &*it;
    }
    void Load() {
        std::ifstream in(path, std::ios::binary);
        std::string line;
        for (bool first = true; std::getline(in, line); first = false) {
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            if (first && line == "!fail-connect")
                failConnect = true;
            else if (line.starts_with("!fail-fetch ") && !sheets.empty())
                sheets.back().failFetchAfter = std::stoi(line.substr(12));
            else if (line.size() > 1 && line.front() == '[' && line.back() == ']')
                sheets.push_back({line.substr(1, line.size() - 2), {}, -1});
            else if (!line.empty() && !sheets.empty())
                sheets.back().rows.emplace_back(Split(line));
        }
    }
    void Save() const {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        for (const Sheet& s : sheets) {
            out << '[' << s.name << "]\n";
            for (const Row& row : s.rows)
                for (std::size_t c = 0; c < row.size(); ++c)
                    out << row[c] << (c + 1 < row.size() ? '\t' : '\n');
        }
    }
    void Log(const std::string& text) const {
        std::ofstream(path + ".log", std::ios::app | std::ios::binary) << text << '\n';
    }
    static Row Split(const std::string& line) {
        Row cells(1);
        for (const char c : line)
            if (c == '\t')
                cells.emplace_back();
            else
                cells.back().push_back(c);
        return cells;
    }
};

struct Stmt : Handle {
    explicit Stmt(Dbc* d) : dbc(d) {}
    Dbc* dbc;
    bool open = false;
    Row columns;
    std::vector<Row> rows;
    int failFetchAfter = -1;
    long current = -1;                  // index into rows
    std::map<int, std::size_t> offsets; // SQLGetData progress per column
    std::string prepared;               // SQLPrepare's text, run by SQLExecute
    std::map<SQLUSMALLINT, std::pair<const char*, SQLLEN*>> params; // value, length
};

SQLRETURN Fail(Handle* h, const char* state, const std::string& message) {
    h->diags.emplace_back(state, "[Didira test driver]" + message);
    return SQL_ERROR;
}

template <typename T> T* As(SQLHANDLE h) {
    auto* handle = static_cast<Handle*>(h);
    handle->diags.clear();
    return static_cast<T*>(handle);
}

std::string Text(SQLCHAR* s, SQLINTEGER length) {
    const char* c = reinterpret_cast<const char*>(s);
    return length == SQL_NTS ? std::string(c) : std::string(c, static_cast<std::size_t>(length));
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

// The value of DBQ in a connect string of KEY=value pairs separated by ";",
// a value in braces ("}}" standing for "}") kept whole.
std::string Dbq(const std::string& connect) {
    for (std::size_t pos = 0; pos < connect.size();) {
        const auto equals = connect.find('=', pos);
        if (equals == std::string::npos)
            break;
        const std::string name = connect.substr(pos, equals - pos);
        std::string value;
        pos = equals + 1;
        if (pos < connect.size() && connect[pos] == '{') {
            for (++pos; pos < connect.size() && (connect[pos] != '}' || connect[pos + 1] == '}');
                 ++pos)
                value += connect[connect[pos] == '}' ? pos++ : pos];
            pos = std::min(connect.find(';', pos), connect.size());
        } else {
            pos = std::min(connect.find(';', pos), connect.size());
            value = connect.substr(equals + 1, pos - equals - 1);
        }
        if (name == "DBQ")
            return value;
        ++pos;
    }
    return {};
}

// The bracketed names of a statement, in order, without their brackets.
Row Names(const std::string& sql) {
    Row names;
    for (std::size_t at = sql.find('['); at != std::string::npos; at = sql.find('[', at)) {
        std::string name;
        for (++at; at < sql.size() && (sql[at] != ']' || sql[at + 1] == ']'); ++at)
            name += sql[sql[at] == ']' ? at++ : at];
        names.push_back(name);
    }
    return names;
}

SQLRETURN Execute(Stmt* st, const std::string& sql, const Row& values) {
    Dbc* dbc = st->dbc;
    dbc->Log(sql);
    Row names = Names(sql);
    if (names.empty())
        return Fail(st, "42000", "Statement not understood.");
    const std::string table = names.front().substr(0, names.front().rfind("$A1:IV"));
    names.erase(names.begin());
    if (sql.starts_with("SELECT ")) {
        const Sheet* sheet = dbc->Find(table);
        if (sheet == nullptr)
            return Fail(st, "42S02", "The table '" + table + "$' does not exist.");
        st->columns = sheet->rows.empty() ? Row() : sheet->rows.front();
        st->rows.assign(sheet->rows.begin() + (sheet->rows.empty() ? 0 : 1), sheet->rows.end());
        st->failFetchAfter = sheet->failFetchAfter;
        st->current = -1;
        st->open = true;
        return SQL_SUCCESS;
    }
    if (sql.starts_with("CREATE TABLE ")) {
        if (dbc->Find(table) != nullptr)
            return Fail(st, "42S01", "Table '" + table + "' already exists.");
        dbc->sheets.push_back({table, {names}, -1});
        dbc->Save();
        return SQL_SUCCESS;
    }
    Sheet* sheet = dbc->Find(table);
    if (!sql.starts_with("INSERT INTO ") || sheet == nullptr || sheet->rows.empty() ||
        values.size() != names.size())
        return Fail(st, "42000", "Statement not understood.");
    const Row& header = sheet->rows.front();
    Row row(header.size());
    for (std::size_t i = 0; i < names.size(); ++i) {
        const auto it = std::find(header.begin(), header.end(), names[i]);
        if (it == header.end())
            return Fail(st, "07002", "Unknown field name: '" + names[i] + "'.");
        row[static_cast<std::size_t>(it - header.begin())] = values[i];
    }
    sheet->rows.push_back(std::move(row));
    dbc->Save();
    return SQL_SUCCESS;
}

} // namespace

extern "C" {

SQLRETURN SQL_API SQLAllocHandle(SQLSMALLINT type, SQLHANDLE input, SQLHANDLE* output) {
    if (type == SQL_HANDLE_ENV)
        *output = new Handle;
    else if (type == SQL_HANDLE_DBC)
        *output = static_cast<Handle*>(new Dbc);
    else if (type == SQL_HANDLE_STMT)
        *output = static_cast<Handle*>(new Stmt(static_cast<Dbc*>(static_cast<Handle*>(input))));
    else
        return SQL_ERROR;
    return SQL_SUCCESS;
}

SQLRETURN SQL_API SQLFreeHandle(SQLSMALLINT, SQLHANDLE handle) {
    delete static_cast<Handle*>(handle);
    return SQL_SUCCESS;
}

SQLRETURN SQL_API SQLSetEnvAttr(SQLHENV, SQLINTEGER, SQLPOINTER, SQLINTEGER) {
    return SQL_SUCCESS;
}

// The driver manager asks for the driver's ODBC version and a few numbers.
SQLRETURN SQL_API SQLGetInfo(SQLHDBC, SQLUSMALLINT type, SQLPOINTER value, SQLSMALLINT size,
                             SQLSMALLINT* length) {
    if (type == SQL_DRIVER_ODBC_VER || type == SQL_DBMS_NAME || type == SQL_DBMS_VER ||
        type == SQL_DRIVER_NAME || type == SQL_DRIVER_VER) {
        CopyOut(type == SQL_DRIVER_ODBC_VER ? "03.00" : "test", static_cast<SQLCHAR*>(value), size,
                length);
    } else if (value != nullptr) {
        std::memset(value, 0, size >= 4 ? 4 : 2);
    }
    return SQL_SUCCESS;
}

SQLRETURN SQL_API SQLDriverConnect(SQLHDBC hdbc, SQLHWND, SQLCHAR* in, SQLSMALLINT inLength,
                                   SQLCHAR* out, SQLSMALLINT outMax, SQLSMALLINT* outLength,
                                   SQLUSMALLINT) {
    Dbc* dbc = As<Dbc>(hdbc);
    const std::string connect = Text(in, inLength);
    dbc->path = Dbq(connect);
    if (dbc->path.empty())
        return Fail(dbc, "08001", "No workbook given.");
    dbc->Log(connect);
    dbc->sheets.clear();
    dbc->Load(); // a missing workbook is an empty one (CREATE_DB)
    if (dbc->failConnect)
        return Fail(dbc, "08001", "The workbook cannot be opened.");
    CopyOut(connect, out, outMax, outLength);
    return SQL_SUCCESS;
}

SQLRETURN SQL_API SQLDisconnect(SQLHDBC) {
    return SQL_SUCCESS;
}

SQLRETURN SQL_API SQLExecDirect(SQLHSTMT hstmt, SQLCHAR* text, SQLINTEGER length) {
    return Execute(As<Stmt>(hstmt), Text(text, length), {});
}

SQLRETURN SQL_API SQLPrepare(SQLHSTMT hstmt, SQLCHAR* text, SQLINTEGER length) {
    As<Stmt>(hstmt)->prepared = Text(text, length);
    return SQL_SUCCESS;
}

SQLRETURN SQL_API SQLBindParameter(SQLHSTMT hstmt, SQLUSMALLINT number, SQLSMALLINT io,
                                   SQLSMALLINT valueType, SQLSMALLINT, SQLULEN, SQLSMALLINT,
                                   SQLPOINTER value, SQLLEN, SQLLEN* length) {
    Stmt* st = As<Stmt>(hstmt);
    if (io != SQL_PARAM_INPUT || valueType != SQL_C_CHAR || length == nullptr)
        return Fail(st, "HYC00", "Only character input parameters of a given length.");
    st->params[number] = {static_cast<const char*>(value), length};
    return SQL_SUCCESS;
}

// The bound values are read now, in the order of their numbers.
SQLRETURN SQL_API SQLExecute(SQLHSTMT hstmt) {
    Stmt* st = As<Stmt>(hstmt);
    Row values;
    for (const auto& [number, param] : st->params)
        values.emplace_back(param.first, static_cast<std::size_t>(*param.second));
    return Execute(st, st->prepared, values);
}

SQLRETURN SQL_API SQLNumResultCols(SQLHSTMT hstmt, SQLSMALLINT* count) {
    *count = static_cast<SQLSMALLINT>(As<Stmt>(hstmt)->columns.size());
    return SQL_SUCCESS;
}

SQLRETURN SQL_API SQLDescribeCol(SQLHSTMT hstmt, SQLUSMALLINT column, SQLCHAR* name,
                                 SQLSMALLINT size, SQLSMALLINT* length, SQLSMALLINT* type,
                                 SQLULEN* columnSize, SQLSMALLINT* digits, SQLSMALLINT* nullable) {
    Stmt* st = As<Stmt>(hstmt);
    if (column < 1 || column > st->columns.size())
        return Fail(st, "07009", "Invalid column number.");
    CopyOut(st->columns[column - 1], name, size, length);
    *type = SQL_VARCHAR;
    *columnSize = 255;
    *digits = 0;
    *nullable = SQL_NULLABLE;
    return SQL_SUCCESS;
}

SQLRETURN SQL_API SQLFetch(SQLHSTMT hstmt) {
    Stmt* st = As<Stmt>(hstmt);
    if (!st->open)
        return Fail(st, "24000", "Invalid cursor state.");
    if (st->failFetchAfter >= 0 && st->current + 1 >= st->failFetchAfter)
        return Fail(st, "HY000", "Cannot read the next row.");
    st->offsets.clear();
    st->current = std::min(st->current + 1, static_cast<long>(st->rows.size()));
    return st->current == static_cast<long>(st->rows.size()) ? SQL_NO_DATA : SQL_SUCCESS;
}

// A value longer than the buffer comes in pieces, each ended by a NUL.
SQLRETURN SQL_API SQLGetData(SQLHSTMT hstmt, SQLUSMALLINT column, SQLSMALLINT, SQLPOINTER target,
                             SQLLEN size, SQLLEN* indicator) {
    Stmt* st = As<Stmt>(hstmt);
    if (st->current < 0 || st->current >= static_cast<long>(st->rows.size()) || size <= 0)
        return Fail(st, "24000", "Invalid cursor state.");
    const Row& row = st->rows[static_cast<std::size_t>(st->current)];
    if (column < 1 || column > row.size())
        return Fail(st, "07009", "Invalid column number.");
    const std::string& value = row[column - 1];
    if (value == "\\N") {
        *indicator = SQL_NULL_DATA;
        return SQL_SUCCESS;
    }
    std::size_t& offset = st->offsets[column];
    if (offset > 0 && offset >= value.size())
        return SQL_NO_DATA;
    const std::size_t left = value.size() - offset;
    const std::size_t n = std::min(left, static_cast<std::size_t>(size - 1));
    *indicator = static_cast<SQLLEN>(left);
    std::memcpy(target, value.data() + offset, n);
    static_cast<char*>(target)[n] = '\0';
    offset = std::max<std::size_t>(offset + n, 1); // a second call reports no more data
    if (n < left) {
        st->diags.emplace_back("01004", "String data, right truncated");
        return SQL_SUCCESS_WITH_INFO;
    }
    return SQL_SUCCESS;
}

SQLRETURN SQL_API SQLGetDiagRec(SQLSMALLINT, SQLHANDLE handle, SQLSMALLINT record, SQLCHAR* state,
                                SQLINTEGER* native, SQLCHAR* message, SQLSMALLINT size,
                                SQLSMALLINT* length) {
    const auto& diags = static_cast<Handle*>(handle)->diags;
    if (record < 1 || static_cast<std::size_t>(record) > diags.size())
        return SQL_NO_DATA;
    const auto& [sqlState, text] = diags[static_cast<std::size_t>(record - 1)];
    CopyOut(sqlState, state, 6, nullptr);
    if (native != nullptr)
        *native = 0;
    CopyOut(text, message, size, length);
    return SQL_SUCCESS;
}

// The driver manager reads diagnostics only when this is exported too.
SQLRETURN SQL_API SQLGetDiagField(SQLSMALLINT, SQLHANDLE handle, SQLSMALLINT record, SQLSMALLINT id,
                                  SQLPOINTER info, SQLSMALLINT size, SQLSMALLINT* length) {
    const auto& diags = static_cast<Handle*>(handle)->diags;
    if (id == SQL_DIAG_NUMBER) {
        *static_cast<SQLINTEGER*>(info) = static_cast<SQLINTEGER>(diags.size());
        return SQL_SUCCESS;
    }
    if (record < 1 || static_cast<std::size_t>(record) > diags.size() ||
        (id != SQL_DIAG_SQLSTATE && id != SQL_DIAG_MESSAGE_TEXT))
        return SQL_NO_DATA;
    const auto& [sqlState, text] = diags[static_cast<std::size_t>(record - 1)];
    CopyOut(id == SQL_DIAG_SQLSTATE ? sqlState : text, static_cast<SQLCHAR*>(info), size, length);
    return SQL_SUCCESS;
}

} // extern "C"
