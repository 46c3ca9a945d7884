#pragma once
// The rows of a worksheet, as the lines of its bytes, and their cells: what a
// text sheet and a workbook sheet share once read. Text stays in the sheet's
// bytes (CP932, or UTF-8 when the lines are UTF-8); splitting never cuts a
// character. A row is split at the delimiter (at the quoted delimiter when
// every cell is quoted, whose outer quotes go); a row without one is one cell.

#include "catalogue/TextCodec.h"

#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

namespace didira {

// Bounds on what a worksheet may hold. A text file larger than maxBytes is
// refused before it is read; a workbook's reading stops as soon as its lines
// (header included) exceed maxBytes or maxRows.
struct SheetLimits {
    std::size_t maxBytes = std::size_t{1} << 20;
    std::int32_t maxRows = std::numeric_limits<std::int32_t>::max();
};

class SheetRows {
public:
    // Column counts are 16-bit; a line with more cells than that saturates
    // instead of wrapping round to a small, plausible count.
    static constexpr std::size_t kMaxColumns = std::numeric_limits<std::int16_t>::max();

    explicit SheetRows(std::string delimiter) : m_delimiter(std::move(delimiter)) {}

    // The lines as read; row 1 is the first. Call DetectEncoding once they are in.
    std::vector<std::string>& Lines() { return m_lines; }
    const std::vector<std::string>& Lines() const { return m_lines; }
    std::vector<std::string>& Header() { return m_header; }
    const std::vector<std::string>& Header() const { return m_header; }
    const std::string& Delimiter() const { return m_delimiter; }
    TextEncoding Encoding() const { return m_encoding; }

    // UTF-8 when the first line starts with a byte-order mark, or when every
    // line is valid UTF-8 and one is not ASCII; CP932 otherwise.
    void DetectEncoding();
    // Line index (from 0) without the byte-order mark.
    std::string_view RowText(std::size_t index) const;
    // Splits line by the row rules; emit(cell) for each cell, in order.
    template <typename Emit> void SplitLine(std::string_view line, Emit&& emit) const;
    // The header from the first line (names past kMaxColumns dropped).
    void HeaderFromFirstLine();
    // The largest number of cells in any line (at most kMaxColumns); cells
    // are counted, not copied, so a huge line costs no memory.
    std::int16_t CountColumns() const;

    // Row 1 is the first line; row 0 reads the cursor row and advances it.
    // False past the last row (with error set when a row was named).
    bool FetchRow(std::vector<std::string>& cells, std::int32_t row, std::string& error);
    void SetCursor(std::int32_t row) { m_cursor = row; }

private:
    std::string m_delimiter;
    std::vector<std::string> m_lines;
    std::vector<std::string> m_header;
    TextEncoding m_encoding = TextEncoding::Cp932;
    std::size_t m_bomLength = 0; // a UTF-8 byte-order mark at the start of line 1
    std::int32_t m_cursor = 1;
};

template <typename Emit> void SheetRows::SplitLine(std::string_view line, Emit&& emit) const {
    constexpr auto npos = std::string_view::npos;
    const TextEncoding enc = m_encoding;
    if (!m_delimiter.empty()) {
        // Every cell quoted: cut at the quoted delimiter, so that a delimiter
        // inside a cell does not split it; the row's outer quotes go.
        const std::string quoted = "\"" + m_delimiter + "\"";
        std::size_t hit = FindText(line, quoted, 0, enc);
        if (hit != npos) {
            std::size_t start = 0;
            bool first = true;
            while (hit != npos) {
                std::string_view cell = line.substr(start, hit - start);
                if (first && !cell.empty())
                    cell.remove_prefix(CharLength(cell, 0, enc));
                first = false;
                emit(cell);
                start = hit + quoted.size();
                hit = FindText(line, quoted, start, enc);
            }
            std::string_view last = line.substr(start);
            if (!last.empty())
                last = last.substr(0, LastCharStart(last, enc));
            emit(last);
            return;
        }
        hit = FindText(line, m_delimiter, 0, enc);
        if (hit != npos) {
            std::size_t start = 0;
            while (hit != npos) {
                emit(line.substr(start, hit - start));
                start = hit + m_delimiter.size();
                hit = FindText(line, m_delimiter, start, enc);
            }
            emit(line.substr(start));
            return;
        }
    }
    // One cell; quotes round the whole of it go.
    std::string_view cell = line;
    if (!cell.empty() && cell.front() == '"' &&
        FindLastByte(cell, '"', enc) == LastCharStart(cell, enc)) {
        cell.remove_prefix(1);
        if (!cell.empty())
            cell = cell.substr(0, LastCharStart(cell, enc));
    }
    emit(cell);
}

} // namespace didira
