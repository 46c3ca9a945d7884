#pragma once
// A worksheet kept as one sheet of a workbook, reached through the installed
// workbook driver over ODBC: read as quoted lines joined by the workbook
// delimiter (the header first), within the limits, and written as a new
// sheet whose cell text goes to the driver only as bound parameters. A
// connection that cannot be made raises CDBException.

#include "catalogue/SheetRows.h"

#include <memory>
#include <string>

namespace didira {

class CDatabase;
class CRecordset;

class WorkbookSheet {
public:
    // The delimiter the lines of a workbook's rows are joined by.
    static constexpr char kDelimiter[] = ",;.?";

    explicit WorkbookSheet(const std::string& path);
    ~WorkbookSheet();
    WorkbookSheet(const WorkbookSheet&) = delete;
    WorkbookSheet& operator=(const WorkbookSheet&) = delete;

    // The workbook driver's description; empty when none is installed.
    const std::string& Driver() const { return m_driver; }
    // The columns of the sheet read last.
    std::int16_t Columns() const { return m_columns; }

    // Reads sheet into rows (encoding detected); false when the sheet cannot
    // be read or went past limits (tooLarge set, the rows before kept).
    bool Read(const std::string& sheet, const SheetLimits& limits, SheetRows& rows, bool& tooLarge,
              std::string& error);
    // Makes sheet with rows' header as its columns and the rows after the
    // first as its rows.
    bool Write(const std::string& sheet, SheetRows& rows, std::string& error);

private:
    void LocateDriver();
    void Connect();
    void ReadRecords(const SheetLimits& limits, SheetRows& rows, bool& tooLarge);

    std::string m_driver;
    std::string m_connect;
    std::int16_t m_columns = 0;
    std::unique_ptr<CDatabase> m_database;
    std::unique_ptr<CRecordset> m_recordset;
};

} // namespace didira
