#pragma once
// Reading a station catalogue file: existence, shape checks and the cells of
// every line, decoded to UTF-8. Free of Qt so that a fuzz target can drive
// the whole read.

#include <cstddef>
#include <string>
#include <vector>

namespace didira {

inline constexpr int kCatalogueColumns = 3; // no, name, url
inline constexpr int kCatalogueMaxRows = 100;
// Far above any real catalogue of kCatalogueMaxRows lines; a larger file is
// refused unread.
inline constexpr std::size_t kCatalogueMaxBytes = std::size_t{1} << 20;

struct CatalogueRead {
    enum class Status {
        Loaded,      // rows hold the catalogue
        Missing,     // no such file
        BadColumns,  // unreadable, or the widest line does not have three cells
        TooManyRows, // more than kCatalogueMaxRows lines or kCatalogueMaxBytes bytes
        NoWorkbook,  // a workbook whose connection could not be made
    };
    Status status = Status::Missing;
    // Line k's cells (1 to 3 of them, UTF-8), in file order. A line with
    // fewer than three cells has fewer entries.
    std::vector<std::vector<std::string>> rows;
    std::string error; // the driver's text for NoWorkbook
};

// Reads path (file system bytes) with "," as delimiter, writing the backup
// beside it. Never throws for a bad file.
CatalogueRead ReadCatalogue(const std::string& path);

} // namespace didira
