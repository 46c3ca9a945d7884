#pragma once
// Which elements the player's playbin picks when it builds a stream's
// decoding chain. Applied once per process, in memory only (the registry
// file and other processes are untouched).

namespace didira {

// Sets the element ranks the player relies on; idempotent, thread-safe.
// Call after GStreamer is initialised and before the first pipeline plays.
void ApplyAutoplugPreferences();

} // namespace didira
