#pragma once
// A worksheet kept as a delimited text file: its lines read whole (a file
// past the byte limit refused by its size, or as soon as it grows past it,
// without being read whole), and written back as CRLF lines through a
// temporary file renamed into place, never as a truncated mix.

#include "catalogue/SheetRows.h"

#include <cstddef>
#include <string>

namespace didira {

enum class TextSheetRead { Read, Failed, TooLarge };

// Reads path's lines into rows (encoding detected) and, when read, their
// header. Too large: no lines; failed: the lines read before the failure.
// Memory exhaustion is a failure that leaves no lines.
TextSheetRead ReadTextSheet(const std::string& path, std::size_t maxBytes, SheetRows& rows);
// Writes rows' lines to path; false when path is not the new file.
bool WriteTextSheet(const std::string& path, const SheetRows& rows);

} // namespace didira
