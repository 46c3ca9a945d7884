#pragma once
// A worksheet in memory: a delimited text file (TextSheet), or one sheet of
// a workbook reached through ODBC (WorkbookSheet), chosen by the file's name,
// read into rows of cells (SheetRows). Construction reads the whole worksheet
// and, when asked, writes a backup of what was read (a text file beside it,
// a sheet of the workbook). A worksheet past its limits is refused
// (TooLarge()) without being read whole and without a backup, so hostile
// input costs bounded memory and time.

#include "catalogue/SheetRows.h"
#include "catalogue/TextCodec.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace didira {

class WorkbookSheet;

class CSheetFile {
public:
    // path ending in ".xls" (any case): a workbook, sheetOrDelimiter names
    // the sheet. Otherwise a text file split at sheetOrDelimiter.
    // A workbook whose connection cannot be made raises CDBException.
    CSheetFile(const std::string& path, const std::string& sheetOrDelimiter, bool makeBackup,
               const SheetLimits& limits = {});
    ~CSheetFile();
    CSheetFile(const CSheetFile&) = delete;
    CSheetFile& operator=(const CSheetFile&) = delete;

    std::int32_t RowCount() const { return m_nRowCount; }
    std::int16_t ColumnCount() const { return m_nColumnCount; }
    const std::string& ErrorText() const { return m_strErrorText; }
    // The worksheet went past its limits: nothing (text) or only its first
    // rows (workbook) were read, and no backup was written.
    bool TooLarge() const { return m_bTooLarge; }

    // Row 1 is the first line; row 0 reads the cursor row and advances it.
    bool FetchRow(std::vector<std::string>& cells, std::int32_t row = 0);

    bool ExcelMode() const { return m_workbook != nullptr; }
    bool MakeBackup() const { return m_bMakeBackup; }
    TextEncoding Encoding() const { return m_rows.Encoding(); }
    // The workbook driver used; empty for a text file or when none is installed.
    const std::string& Driver() const;
    const std::vector<std::string>& Header() const { return m_rows.Header(); }
    const std::vector<std::string>& Lines() const { return m_rows.Lines(); }

private:
    bool LoadText();
    bool LoadWorkbook();
    void WriteBackup();

    std::unique_ptr<WorkbookSheet> m_workbook; // null for a text file
    SheetRows m_rows;
    SheetLimits m_limits;
    bool m_bHasColumns = false;
    bool m_bMakeBackup = false;
    bool m_bTooLarge = false;
    std::int32_t m_nRowCount = 0;
    std::int16_t m_nColumnCount = 0;
    std::string m_strPath;
    std::string m_strSheet;
    std::string m_strErrorText;
};

} // namespace didira
