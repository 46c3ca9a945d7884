#include "catalogue/SheetFile.h"

#include "catalogue/Odbc.h"
#include "catalogue/TextSheet.h"
#include "catalogue/WorkbookSheet.h"

#include <algorithm>
#include <limits>

namespace didira {

namespace {

constexpr char kOpenError[] = "Error in opening file\n";
constexpr char kWriteError[] = "Error writing file\n";
constexpr char kTooLargeError[] = "Spreadsheet exceeds the size limit\n";
constexpr char kBackupSheet[] = "CSheetFileBackup";

bool IsWorkbook(const std::string& path) {
    // Paths are the file system's bytes (UTF-8 on this system, CP932 when
    // they are not valid UTF-8).
    const TextEncoding pathEncoding = IsValidUtf8(path) ? TextEncoding::Utf8 : TextEncoding::Cp932;
    return LastCharsLower(path, 4, pathEncoding) == ".xls";
}

} // namespace

CSheetFile::CSheetFile(const std::string& path, const std::string& sheetOrDelimiter,
                       bool makeBackup, const SheetLimits& limits)
    : m_workbook(IsWorkbook(path) ? std::make_unique<WorkbookSheet>(path) : nullptr),
      m_rows(m_workbook ? std::string(WorkbookSheet::kDelimiter) : sheetOrDelimiter),
      m_limits(limits), m_bMakeBackup(makeBackup), m_strPath(path),
      m_strSheet(m_workbook ? sheetOrDelimiter : std::string()) {
    const bool loaded = m_workbook ? LoadWorkbook() : LoadText();
    // A backup of a worksheet that was not read whole would lose rows.
    if (m_bTooLarge)
        m_bMakeBackup = false;
    if (loaded && m_bMakeBackup && m_bHasColumns)
        WriteBackup();
}

CSheetFile::~CSheetFile() = default;

const std::string& CSheetFile::Driver() const {
    static const std::string kNone;
    return m_workbook ? m_workbook->Driver() : kNone;
}

bool CSheetFile::FetchRow(std::vector<std::string>& cells, std::int32_t row) {
    return m_rows.FetchRow(cells, row, m_strErrorText);
}

bool CSheetFile::LoadText() {
    const TextSheetRead read = ReadTextSheet(m_strPath, m_limits.maxBytes, m_rows);
    if (read == TextSheetRead::TooLarge) {
        m_bTooLarge = true;
        m_strErrorText = kTooLargeError;
        return false;
    }
    if (read == TextSheetRead::Failed) {
        m_strErrorText = kOpenError;
        return false;
    }
    if (m_rows.Lines().empty()) {
        std::vector<std::string> none;
        FetchRow(none, 1); // records the missing-row text
    }
    m_nRowCount = static_cast<std::int32_t>(
        std::min<std::size_t>(m_rows.Lines().size(), std::numeric_limits<std::int32_t>::max()));
    m_nColumnCount = m_rows.CountColumns();
    m_rows.SetCursor(m_nRowCount + 1);
    m_bHasColumns = m_nColumnCount != 0;
    return true;
}

bool CSheetFile::LoadWorkbook() {
    // A connection failure passes to the caller as CDBException.
    const bool read = m_workbook->Read(m_strSheet, m_limits, m_rows, m_bTooLarge, m_strErrorText);
    m_nColumnCount = m_workbook->Columns();
    m_bHasColumns = m_nColumnCount != 0;
    m_nRowCount = static_cast<std::int32_t>(m_rows.Lines().size());
    m_rows.SetCursor(1);
    if (m_bTooLarge)
        m_strErrorText = kTooLargeError;
    return read;
}

void CSheetFile::WriteBackup() {
    if (!m_workbook) {
        if (!WriteTextSheet(m_strPath + ".bak", m_rows)) {
            m_strErrorText = kWriteError;
            m_bMakeBackup = false;
        }
        return;
    }
    try {
        if (!m_workbook->Write(kBackupSheet, m_rows, m_strErrorText))
            m_bMakeBackup = false;
    } catch (const CDBException& e) {
        // The read succeeded; a backup that cannot connect must not undo it.
        m_strErrorText = e.m_strError;
        m_bMakeBackup = false;
    }
    m_rows.SetCursor(1);
}

} // namespace didira
