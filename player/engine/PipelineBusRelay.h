#pragma once
// Carries a pipeline's bus messages from GStreamer's threads to the pipeline
// object on the UI thread, as BusEvents stamped with the run they came from;
// and decodes the messages the player acts on. The relay is shared by the bus
// handler, the stream probes (as their ProbeContext) and the state worker,
// which may all still run while the pipeline object goes away; once its target
// is cleared nothing more is posted.

#include "player/engine/ErrorDomain.h"
#include "player/engine/MissingPlugins.h"
#include "player/gst/GstHandle.h"
#include "player/probes/ProbeContext.h"

#include <QEvent>
#include <QString>
#include <atomic>
#include <memory>
#include <mutex>
#include <optional>

class QObject;

namespace didira {

struct PipelineBusRelay : ProbeContext {
    // Cleared (under mutex) before the pipeline object goes away or gives
    // this pipeline up.
    QObject* target = nullptr;
    GstObject* pipeline = nullptr;
    // The run the pipeline is carrying now, stamped on its messages; 0 while
    // it is torn down or has not started. Set by the state worker only.
    std::atomic<quint64> run{0};
};

// A bus message posted to the UI thread, stamped with the run it came from.
class BusEvent final : public QEvent {
public:
    static const QEvent::Type kType;
    BusEvent(GstMessage* message, quint64 run) : QEvent(kType), m_message(message), m_run(run) {}
    GstMessage* message() const { return m_message.get(); }
    quint64 run() const { return m_run; }

private:
    gst::MessagePtr m_message;
    quint64 m_run;
};

// Posts the messages of playbin that the player acts on to relay's target;
// the bus holds a reference to relay until RemoveBusRelay.
void InstallBusRelay(GstElement* playbin, const std::shared_ptr<PipelineBusRelay>& relay);
void RemoveBusRelay(GstElement* playbin);

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
