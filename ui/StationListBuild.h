#pragma once
// Building the station list's columns and rows from a heading list and the
// station table. The dialog's ResetStationList, BuildStationColumns
// and FillStationList are made of these.

#include <QString>

namespace didira {

class CStationListCtrl;
struct StationTable;

// Width of text in single-width units, as CP932 counts bytes: ASCII and
// half-width katakana count 1, every other character 2.
int Cp932Width(const QString& text);

// heading followed by |10 - width| blanks.
QString PadHeading(const QString& heading);

// The flag image of a station number: the number read as C's atoi does,
// 0 to 3 as is, anything else 4.
int FlagImageIndex(const QString& number);

// Removes every row, then every column.
void ClearStationList(CStationListCtrl& list);

// One column per heading that a comma ends in headings; text after the
// last comma makes none.
void AddStationColumns(CStationListCtrl& list, const QString& headings);

// One row per entry up to the first one with an empty number: name in
// column 0 led by the flag image, URL in column 1.
void AddStationRows(CStationListCtrl& list, const StationTable& table);

} // namespace didira
