#include "player/engine/BusTransport.h"

#include <QCoreApplication>

namespace didira {

const QEvent::Type BusEvent::kType = static_cast<QEvent::Type>(QEvent::registerEventType());

namespace {

// Runs on whichever thread posts the message: only schedules work. The bus
// hands over its reference with every message the handler drops, and a
// message holds its source element alive: each one is released here.
GstBusSyncReply SyncHandler(GstBus*, GstMessage* message, gpointer data) {
    gst::MessagePtr owned(message);
    PipelineRun& shared = **static_cast<std::shared_ptr<PipelineRun>*>(data);
    switch (GST_MESSAGE_TYPE(message)) {
    case GST_MESSAGE_STATE_CHANGED:
        if (GST_MESSAGE_SRC(message) != shared.pipeline)
            return GST_BUS_DROP;
        break;
    case GST_MESSAGE_ERROR:
    case GST_MESSAGE_EOS:
    case GST_MESSAGE_ASYNC_DONE:
    case GST_MESSAGE_BUFFERING:
    case GST_MESSAGE_TAG:
    case GST_MESSAGE_ELEMENT:
    case GST_MESSAGE_APPLICATION:
    case GST_MESSAGE_CLOCK_LOST:
        break;
    default:
        return GST_BUS_DROP;
    }
    std::lock_guard lock(shared.mutex);
    if (shared.target)
        QCoreApplication::postEvent(shared.target,
                                    new BusEvent(owned.release(), shared.run.load()));
    return GST_BUS_DROP;
}

void DeleteRunRef(gpointer data) {
    delete static_cast<std::shared_ptr<PipelineRun>*>(data);
}

} // namespace

void InstallBusTransport(GstElement* playbin, const std::shared_ptr<PipelineRun>& shared) {
    gst::BusPtr bus(gst_element_get_bus(playbin));
    gst_bus_set_sync_handler(bus.get(), SyncHandler, new std::shared_ptr<PipelineRun>(shared),
                             DeleteRunRef);
}

void RemoveBusTransport(GstElement* playbin) {
    gst::BusPtr bus(gst_element_get_bus(playbin));
    gst_bus_set_sync_handler(bus.get(), nullptr, nullptr, nullptr);
}

} // namespace didira
