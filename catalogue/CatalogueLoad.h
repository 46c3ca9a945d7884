#pragma once
// Loading the station catalogue into the dialog's StationTable, with the
// messages the user sees.

#include "catalogue/StationTable.h"

#include <QString>
#include <functional>

namespace didira {

// Receives the load's messages for the user, in order (the caller shows
// them); an empty sink drops them.
using CatalogueMessageSink = std::function<void(const QString& text)>;

inline constexpr int kBuiltInStationCount = 10;

struct BuiltInStation {
    const char* number; // UTF-8
    const char* name;
    const char* url;
};
extern const BuiltInStation kBuiltInStations[kBuiltInStationCount];

// Puts the built-in stations into entries 1 to 10; later entries stay.
void InstallBuiltInStations(StationTable& table);

// Loads the catalogue file at path into table, passing one message to sink
// for a failed check or a fallback, at the moment it arises. Returns the
// number of leading entries written, or -1 when table was left as it was.
// Entries past the written ones are never touched.
int LoadStationCatalogue(const QString& path, StationTable& table,
                         const CatalogueMessageSink& sink);

} // namespace didira
