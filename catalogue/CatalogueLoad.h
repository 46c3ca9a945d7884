#pragma once
// Loading the station catalogue into the dialog's StationTable, with the
// messages the user sees.

#include <QString>

class QWidget;

namespace didira {

struct StationTable;

inline constexpr int kBuiltInStationCount = 10;

struct BuiltInStation {
    const char* number; // UTF-8
    const char* name;
    const char* url;
};
extern const BuiltInStation kBuiltInStations[kBuiltInStationCount];

// Puts the built-in stations into entries 1 to 10; later entries stay.
void InstallBuiltInStations(StationTable& table);

// Loads the catalogue file at path into table, showing one message box (owned
// by owner; null before the main window exists) for a failed check. Returns
// the number of leading entries written, or -1 when table was left as it was.
// Entries past the written ones are never touched.
int LoadStationCatalogue(const QString& path, StationTable& table, QWidget* owner);

} // namespace didira
