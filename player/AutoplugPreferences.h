#pragma once
// Which elements the player's playbin picks when it builds a stream's
// decoding chain. Applied once per process, in memory only (the registry
// file and other processes are untouched).

namespace didira {

// Sets the element ranks the player relies on; idempotent, thread-safe.
// Call after GStreamer is initialised and before the first pipeline plays.
void ApplyAutoplugPreferences();

// Loads the decoders that radio streams need but that are slow to load
// (libav, for AAC) on a thread of their own, once per process; idempotent,
// never blocks. Call when nothing waits for plugins: a load in the background
// holds up the plugin loads of a stream being started.
void PreloadSlowDecoders();

} // namespace didira
