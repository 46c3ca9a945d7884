#pragma once
// The station catalogue as the dialog holds it.

#include <QString>
#include <array>

namespace didira {

inline constexpr int kMaxStations = 100;

// Entry k (1 to 100) is index k - 1 of each array. No count is kept: the
// first entry with an empty number ends the catalogue.
struct StationTable {
    std::array<QString, kMaxStations> number;
    std::array<QString, kMaxStations> name;
    std::array<QString, kMaxStations> url;
};

} // namespace didira
