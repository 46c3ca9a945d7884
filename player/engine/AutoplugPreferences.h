#pragma once
// Which elements the player's playbin picks when it builds a stream's
// decoding chain: ranks set once per process, in memory only (the registry
// file and other processes are untouched), and choices made per stream as
// its chain is built (the AAC decoder, the adaptive start).

typedef struct _GstElement GstElement;

namespace didira {

// Sets the element ranks the player relies on, and starts parsing the caps
// playbin matches elements by in the background; idempotent, thread-safe.
// Call after GStreamer is initialised and before the first pipeline plays.
void ApplyAutoplugPreferences();

// Loads the decoders that radio streams need but that are slow to load
// (libav, for AAC) on a thread of their own, once per process; idempotent,
// never blocks. Call when nothing waits for plugins: a load in the background
// holds up the plugin loads of a stream being started.
void PreloadSlowDecoders();

// The same, if a stream has started without them that needs them later.
// Call once a station is heard.
void PreloadSlowDecodersIfWanted();

// Lets an adaptive stream started in playbin start on its best variant (for
// an audio station) rather than its first.
void PreferBestVariantAtStart(GstElement* playbin);

// Lets each decodebin choose its AAC decoder by what its stream can do (see
// the .cpp). Call for every element added to a pipeline (deep), before it
// leaves NULL; elements it has no interest in are left alone.
void ChooseDecodersIn(GstElement* element);

} // namespace didira
