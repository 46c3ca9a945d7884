#include "player/engine/PipelineBusRelay.h"

#include <QCoreApplication>
#include <cstring>

namespace didira {

const QEvent::Type BusEvent::kType = static_cast<QEvent::Type>(QEvent::registerEventType());

namespace {

// Runs on whichever thread posts the message: only schedules work. The bus
// hands over its reference with every message the handler drops, and a
// message holds its source element alive: each one is released here.
GstBusSyncReply SyncHandler(GstBus*, GstMessage* message, gpointer data) {
    gst::MessagePtr owned(message);
    PipelineBusRelay& relay = **static_cast<std::shared_ptr<PipelineBusRelay>*>(data);
    switch (GST_MESSAGE_TYPE(message)) {
    case GST_MESSAGE_STATE_CHANGED:
        if (GST_MESSAGE_SRC(message) != relay.pipeline)
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
    std::lock_guard lock(relay.mutex);
    if (relay.target)
        QCoreApplication::postEvent(relay.target, new BusEvent(owned.release(), relay.run.load()));
    return GST_BUS_DROP;
}

void DeleteRelayRef(gpointer data) {
    delete static_cast<std::shared_ptr<PipelineBusRelay>*>(data);
}

static_assert(kCoreMissingPlugin == GST_CORE_ERROR_MISSING_PLUGIN);
static_assert(kResourceNotFound == GST_RESOURCE_ERROR_NOT_FOUND);
static_assert(kResourceNotAuthorized == GST_RESOURCE_ERROR_NOT_AUTHORIZED);

ErrorDomain DomainOf(const GError* error) {
    if (!error)
        return ErrorDomain::None;
    if (error->domain == GST_CORE_ERROR)
        return ErrorDomain::Core;
    if (error->domain == GST_LIBRARY_ERROR)
        return ErrorDomain::Library;
    if (error->domain == GST_RESOURCE_ERROR)
        return ErrorDomain::Resource;
    if (error->domain == GST_STREAM_ERROR)
        return ErrorDomain::Stream;
    return ErrorDomain::None;
}

} // namespace

void InstallBusRelay(GstElement* playbin, const std::shared_ptr<PipelineBusRelay>& relay) {
    gst::BusPtr bus(gst_element_get_bus(playbin));
    gst_bus_set_sync_handler(bus.get(), SyncHandler, new std::shared_ptr<PipelineBusRelay>(relay),
                             DeleteRelayRef);
}

void RemoveBusRelay(GstElement* playbin) {
    gst::BusPtr bus(gst_element_get_bus(playbin));
    gst_bus_set_sync_handler(bus.get(), nullptr, nullptr, nullptr);
}

PipelineError ErrorOf(GstMessage* message) {
    GError* raw = nullptr;
    gchar* rawDebug = nullptr;
    gst_message_parse_error(message, &raw, &rawDebug);
    gst::ErrorPtr error(raw);
    gst::CharPtr debug(rawDebug);
    const GstStructure* details = nullptr;
    gst_message_parse_error_details(message, &details);

    PipelineError e;
    e.domain = DomainOf(error.get());
    e.code = error ? error->code : 0;
    e.detail = QString::fromUtf8(error ? error->message : "");
    e.debug = QString::fromUtf8(debug ? debug.get() : "");
    e.httpStatus = HttpStatusField(details, "http-status-code");
    // An audio sink, or an element inside one (an automatic sink's child).
    for (GstObject* o = GST_MESSAGE_SRC(message); o && !e.fromOutput; o = GST_OBJECT_PARENT(o)) {
        GstElementFactory* factory =
            GST_IS_ELEMENT(o) ? gst_element_get_factory(GST_ELEMENT(o)) : nullptr;
        const gchar* klass =
            factory ? gst_element_factory_get_metadata(factory, GST_ELEMENT_METADATA_KLASS) : "";
        e.fromOutput = klass && strstr(klass, "Sink") && strstr(klass, "Audio");
    }
    return e;
}

std::optional<const GstStructure*> ResponseHeadersOf(GstMessage* message, int* status) {
    const GstStructure* s = gst_message_get_structure(message);
    if (!s || !gst_structure_has_name(s, "http-headers"))
        return std::nullopt;
    *status = HttpStatusField(s, "http-status-code");
    const GValue* value = gst_structure_get_value(s, "response-headers");
    return value && GST_VALUE_HOLDS_STRUCTURE(value) ? gst_value_get_structure(value) : nullptr;
}

int HttpStatusField(const GstStructure* s, const char* name) {
    guint value = 0;
    if (s && gst_structure_get_uint(s, name, &value) && value < 1000)
        return static_cast<int>(value);
    return 0;
}

QString HeaderValue(const GstStructure* headers, const char* name) {
    const int fields = headers ? gst_structure_n_fields(headers) : 0;
    for (int i = 0; i < fields; ++i) {
        const char* field = gst_structure_nth_field_name(headers, i);
        if (g_ascii_strcasecmp(field, name) != 0)
            continue;
        const GValue* v = gst_structure_get_value(headers, field);
        if (v && G_VALUE_HOLDS_STRING(v))
            return QString::fromUtf8(g_value_get_string(v));
    }
    return QString();
}

} // namespace didira
