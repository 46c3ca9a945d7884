#pragma once
// Whether the automatic sink fell back: whether a pipeline's sound reaches a
// real output. The automatic audio sink tries the system's outputs (sound
// servers, ALSA, ...) and, when none of them opens, plays into a fake sink
// without an error: the stream would seem to play in silence.

#include <QStringList>

typedef struct _GstElement GstElement;

namespace didira {

// False when an automatic audio sink in pipeline (which has reached READY
// at least) fell back to its fake sink; true otherwise, also for an output
// configured by name.
bool HasRealAudioOutput(GstElement* pipeline);

// The outputs the automatic audio sink tries, best first.
QStringList AutomaticAudioSinks();

} // namespace didira
