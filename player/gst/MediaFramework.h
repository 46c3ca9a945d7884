#pragma once
// GStreamer's start-up, for whichever needs it first: the application's
// start-up check or the player control. Safe to call again; later calls
// return at once with the first one's answer.

#include <QString>

namespace didira {

// True when GStreamer is usable; otherwise false, with why in *error when
// error is not null.
bool StartMediaFramework(QString* error = nullptr);

} // namespace didira
