#include "catalogue/SheetRows.h"

#include <algorithm>

namespace didira {

namespace {

constexpr char kRowError[] = "Desired row is greater than total number of rows in spreadsheet\n";

} // namespace

void SheetRows::DetectEncoding() {
    m_encoding = TextEncoding::Cp932;
    m_bomLength = 0;
    if (!m_lines.empty() && m_lines.front().starts_with(kUtf8Bom)) {
        m_encoding = TextEncoding::Utf8;
        m_bomLength = kUtf8Bom.size();
        return;
    }
    bool nonAscii = false;
    for (const std::string& line : m_lines) {
        if (!IsValidUtf8(line))
            return;
        nonAscii = nonAscii || HasNonAscii(line);
    }
    if (nonAscii)
        m_encoding = TextEncoding::Utf8;
}

std::string_view SheetRows::RowText(std::size_t index) const {
    std::string_view line = m_lines[index];
    if (index == 0)
        line.remove_prefix(m_bomLength);
    return line;
}

void SheetRows::HeaderFromFirstLine() {
    m_header.clear();
    SplitLine(RowText(0), [this](std::string_view cell) {
        if (m_header.size() < kMaxColumns)
            m_header.emplace_back(cell);
    });
}

std::int16_t SheetRows::CountColumns() const {
    std::size_t most = 0;
    for (std::size_t i = 0; i < m_lines.size(); ++i) {
        std::size_t cells = 0;
        SplitLine(RowText(i), [&cells](std::string_view) { ++cells; });
        most = std::max(most, std::min(cells, kMaxColumns));
    }
    return static_cast<std::int16_t>(most);
}

bool SheetRows::FetchRow(std::vector<std::string>& cells, std::int32_t row, std::string& error) {
    const std::size_t lineCount = m_lines.size();
    if (row < 0)
        return false;
    if (static_cast<std::size_t>(row) > lineCount) {
        error = kRowError;
        return false;
    }
    if (row != 0)
        m_cursor = row;
    else if (m_cursor < 1 || static_cast<std::size_t>(m_cursor) > lineCount)
        return false;
    cells.clear();
    const std::string_view line = RowText(static_cast<std::size_t>(m_cursor - 1));
    ++m_cursor;
    SplitLine(line, [&cells](std::string_view cell) { cells.emplace_back(cell); });
    return true;
}

} // namespace didira
