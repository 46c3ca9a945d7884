#pragma once
// The player control's persisted properties as a dialog template stores them:
// a version, the control's extent in 0.01 mm, then a fixed number of typed
// values (a 16-bit variant type tag followed by the value).

#include "control/Dispatch.h"

#include <QString>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace didira {

struct PersistedState {
    static constexpr std::uint32_t kVersion = 1;
    static constexpr std::size_t kValueCount = 61;

    std::uint32_t version = 0;
    std::int32_t extentX = 0; // 0.01 mm
    std::int32_t extentY = 0;
    std::vector<Variant> values; // kValueCount values, in stream order

    // The values the player control takes from the stream (1-based positions);
    // a value of another type or out of range leaves the control's default.
    static constexpr std::size_t kAutoStartValue = 3; // boolean: play after Open
    static constexpr std::size_t kBalanceValue = 57;  // I4, hundredths of dB
    static constexpr std::size_t kVolumeValue = 60;   // I4, hundredths of dB
};

// Parses a persisted stream. Returns nothing and sets *error when the stream is
// truncated, carries an unknown tag, a malformed string, another version, or
// bytes after the last value. Never reads outside stream.
std::optional<PersistedState> ParsePersistedState(std::span<const std::byte> stream,
                                                  QString* error = nullptr);

} // namespace didira
