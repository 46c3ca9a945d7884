#include "player/engine/BusMessages.h"

#include "player/gst/GstHandle.h"

#include <cstring>

namespace didira {

namespace {

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
