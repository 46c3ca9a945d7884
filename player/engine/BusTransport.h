#pragma once
// Carries a pipeline's bus messages from GStreamer's threads to the pipeline
// object on the UI thread, as BusEvents stamped with the run they came from
// (PipelineRun). Once the run's target is cleared nothing more is posted.

#include "player/engine/BusMessages.h"
#include "player/engine/PipelineRun.h"
#include "player/gst/GstHandle.h"

#include <QEvent>
#include <atomic>
#include <memory>
#include <mutex>

class QObject;

namespace didira {

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

// Posts the messages of playbin that the player acts on to run's target;
// the bus holds a reference to run until RemoveBusTransport.
void InstallBusTransport(GstElement* playbin, const std::shared_ptr<PipelineRun>& run);
void RemoveBusTransport(GstElement* playbin);

} // namespace didira
