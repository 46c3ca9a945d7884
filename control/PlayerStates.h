#pragma once
// The play and open states that the player control reports, numbered as the
// status texts are indexed.

#include <cstdint>

namespace didira {

enum class PlayState : std::int32_t {
    Stopped = 0, // after Stop or the end of a file; the stream stays open
    Paused = 1,
    Playing = 2,
    Waiting = 3, // opening, buffering, reconnecting
    ScanForward = 4,
    ScanReverse = 5,
    SkipForward = 6,
    SkipBackward = 7,
    Closed = 8, // nothing open
};

enum class OpenState : std::int32_t {
    Closed = 0, // nothing opened, after Cancel, after a fatal error
    LoadingMetafile = 1,
    LoadingStationFile = 2,
    LocatingServer = 3, // name lookup
    Connecting = 4,
    Opening = 5, // opening the stream, buffering
    Open = 6,
};

// The number a state is reported as.
constexpr std::int32_t ToNumber(PlayState s) {
    return static_cast<std::int32_t>(s);
}
constexpr std::int32_t ToNumber(OpenState s) {
    return static_cast<std::int32_t>(s);
}

} // namespace didira
