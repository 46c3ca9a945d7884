#include "catalogue/CatalogueRead.h"

#include "catalogue/Odbc.h"
#include "catalogue/SheetFile.h"

#include <optional>
#include <unistd.h>

namespace didira {

CatalogueRead ReadCatalogue(const std::string& path) {
    CatalogueRead result;
    if (::access(path.c_str(), F_OK) == -1) {
        result.status = CatalogueRead::Status::Missing;
        return result;
    }
    std::optional<CSheetFile> sheet;
    try {
        sheet.emplace(path, ",", true, SheetLimits{kCatalogueMaxBytes, kCatalogueMaxRows});
    } catch (const CDBException& e) {
        // A workbook without a usable driver (there is none on a stock system).
        result.status = CatalogueRead::Status::NoWorkbook;
        result.error = e.m_strError;
        return result;
    }
    // A text file over the size limit is refused unread, before its columns
    // are known; a workbook stops at the row limit with its columns known.
    if (sheet->TooLarge() && sheet->ColumnCount() == 0) {
        result.status = CatalogueRead::Status::TooManyRows;
        return result;
    }
    if (sheet->ColumnCount() != kCatalogueColumns) {
        result.status = CatalogueRead::Status::BadColumns;
        return result;
    }
    if (sheet->TooLarge() || sheet->RowCount() > kCatalogueMaxRows) {
        result.status = CatalogueRead::Status::TooManyRows;
        return result;
    }
    result.status = CatalogueRead::Status::Loaded;
    std::vector<std::string> cells;
    for (std::int32_t i = 1; i <= sheet->RowCount(); ++i) {
        cells.clear();
        sheet->FetchRow(cells, i);
        if (cells.size() > static_cast<std::size_t>(kCatalogueColumns))
            cells.resize(kCatalogueColumns);
        auto& row = result.rows.emplace_back();
        for (const std::string& cell : cells)
            row.push_back(ToUtf8(cell, sheet->Encoding()));
    }
    return result;
}

} // namespace didira
