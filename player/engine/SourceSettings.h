#pragma once
// How the player's network requests present themselves and behave: the user
// agent of every request (stream and metafile alike), and the settings of the
// network source playbin makes for a stream.

typedef struct _GstElement GstElement;

namespace didira {

inline constexpr char kUserAgent[] = "Vavaroz/1.0";

// Seconds the network source waits for an answer or data before failing.
inline constexpr unsigned kSourceTimeoutSeconds = 15;

// Configures a source playbin has just made: the player does its own retrying
// and follows redirects itself, and https is checked against the player's
// certificate authorities. Properties the source lacks are left alone.
void ConfigureSource(GstElement* source);

} // namespace didira
