#pragma once
// The pipeline's bus messages the player acts on, decoded into plain values:
// errors, and the HTTP source's status and response headers.

#include "player/engine/ErrorDomain.h"
#include "player/engine/MissingPlugins.h"

#include <QString>
#include <gst/gst.h>
#include <optional>

namespace didira {

// An error message of the pipeline, in structured form.
struct PipelineError {
    ErrorDomain domain = ErrorDomain::None;
    int code = 0;
    QString detail;     // the engine's (translated) text, for reasons and logs only
    QString debug;      // the engine's debug text, for logs only
    int httpStatus = 0; // "http-status-code" of the error's details; 0 when absent
    // What the run reported missing before the error (a decoder, a demuxer).
    MissingPlugin missing;
    bool fromOutput = false; // posted by the audio output (a sound server that went away)
};

PipelineError ErrorOf(GstMessage* error);
// An HTTP status field of s (as the source's messages carry it); 0 when absent
// or not a status.
int HttpStatusField(const GstStructure* s, const char* name);
// The response headers (null when absent) and HTTP status of the source's
// "http-headers" message; none for any other message.
std::optional<const GstStructure*> ResponseHeadersOf(GstMessage* message, int* status);
// The value of a response header by case-insensitive name; null when absent.
QString HeaderValue(const GstStructure* headers, const char* name);

} // namespace didira
