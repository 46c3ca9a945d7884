#pragma once
// A worksheet in memory: a delimited text file, or one sheet of a workbook
// reached through ODBC. Construction reads the whole worksheet and, when
// asked, writes a backup of what was read. Text stays in the file's bytes
// (CP932, or UTF-8 when the file is UTF-8); splitting never cuts a character.
// A worksheet past its limits is refused (TooLarge()) without being read
// whole and without a backup, so hostile input costs bounded memory and time.

#include "catalogue/TextCodec.h"

#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <string>
#include <vector>

namespace didira {

class CDatabase;
class CRecordset;

// Bounds on what a worksheet may hold. A text file larger than maxBytes is
// refused before it is read; a workbook's reading stops as soon as its lines
// (header included) exceed maxBytes or maxRows.
struct SheetLimits {
    std::size_t maxBytes = std::size_t{1} << 20;
    std::int32_t maxRows = std::numeric_limits<std::int32_t>::max();
};

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

    // The constructor's steps; not meant to be called again.
    bool LoadSheet();
    bool WriteOut();
    void LocateExcelDriver();

    bool ExcelMode() const { return m_bExcelMode; }
    bool MakeBackup() const { return m_bMakeBackup; }
    TextEncoding Encoding() const { return m_encoding; }
    const std::string& Driver() const { return m_strDriver; }
    const std::vector<std::string>& Header() const { return m_arrHeader; }
    const std::vector<std::string>& Lines() const { return m_arrLines; }

private:
    void Connect();
    bool LoadText();
    bool LoadWorkbook();
    bool WriteText();
    bool WriteWorkbook();
    void DetectEncoding();
    // Splits line by the row rules; emit(cell) for each cell, in order.
    template <typename Emit> void SplitLine(std::string_view line, Emit&& emit) const;
    std::string_view RowText(std::size_t index) const;

    bool m_bHasColumns = false;
    bool m_bMakeBackup = false;
    bool m_bExcelMode = false;
    bool m_bTooLarge = false;
    SheetLimits m_limits;
    std::int32_t m_nCursorRow = 1;
    std::int32_t m_nRowCount = 0;
    std::int16_t m_nColumnCount = 0;
    std::string m_strQuery;
    std::string m_strConnect;
    std::string m_strSheet;
    std::string m_strDriver;
    std::string m_strPath;
    std::string m_strDelimiter;
    std::string m_strErrorText;
    std::vector<std::string> m_arrCells;
    std::vector<std::string> m_arrHeader;
    std::vector<std::string> m_arrLines;
    std::unique_ptr<CDatabase> m_pDatabase;
    std::unique_ptr<CRecordset> m_pRecordset;
    TextEncoding m_encoding = TextEncoding::Cp932;
    std::size_t m_nBomLength = 0; // a UTF-8 byte-order mark at the start of line 1
};

} // namespace didira
