#pragma once
// The song history written as CSV (RFC 4180): UTF-8, lines ended by CR LF,
// a header line, then one line per entry with its time (ISO 8601), station
// and title; a field with a comma, a quote, a line break or space at either
// end is quoted, its quotes doubled. A field that a spreadsheet would take
// for a formula (it starts with '=', '+', '-', '@', a tab or a CR: titles
// come from the stations) starts with an apostrophe, so that it is shown as
// the text it is. Written through a temporary file and
// renamed into place, so that a failed export leaves no half file.

#include "control/HistoryFile.h"

#include <QByteArray>
#include <QString>
#include <vector>

namespace didira {

// The CSV text of entries, in their order.
QByteArray HistoryCsv(const std::vector<HeardEntry>& entries);
// Writes it to path; false, with the reason in *error, when it cannot.
bool WriteHistoryCsv(const QString& path, const std::vector<HeardEntry>& entries, QString* error);

} // namespace didira
