#pragma once
// Appending one station to a catalogue file, as its last line. The line is
// written in the file's own encoding (CP932 unless the file is UTF-8), every
// cell quoted, ended as the file's lines are. The file is first read as the
// load reads it, which writes its backup; the new bytes (the old ones kept
// exactly, then the line) go to a temporary file beside it, which is read
// back as the load would and renamed over the catalogue only when it gives
// the old rows and the new one. So the catalogue is either the old file or
// the whole new one. A missing file is created with the line. Free of Qt.

#include "catalogue/TextCodec.h"

#include <string>

namespace didira {

// A station to add, in UTF-8.
struct CatalogueEntry {
    std::string number; // the flag's number (ASCII digits)
    std::string name;
    std::string url; // ASCII (percent-encoded)
};

struct CatalogueAppend {
    enum class Status {
        Appended,
        NameNotEncodable, // a character of the name that the file's encoding cannot hold
        NameNotWritable,  // the line would not read back as written (the name's quotes)
        Full,             // the file has kCatalogueMaxRows lines (or its size limit)
        NotACatalogue,    // the file does not load (columns, unreadable)
        Workbook,         // a workbook: nothing is added to one
        WriteFailed,      // the temporary file or the rename failed; nothing changed
    };
    Status status = Status::WriteFailed;
    TextEncoding encoding = TextEncoding::Cp932; // the file's
    std::string error;                           // the system's text for WriteFailed
};

// Appends entry to the catalogue at path (file system bytes).
CatalogueAppend AppendToCatalogue(const std::string& path, const CatalogueEntry& entry);

} // namespace didira
