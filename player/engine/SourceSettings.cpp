#include "player/engine/SourceSettings.h"

#include "player/engine/TlsAnchors.h"

#include <gst/gst.h>

namespace didira {

namespace {

bool HasProperty(gpointer object, const char* name) {
    return g_object_class_find_property(G_OBJECT_GET_CLASS(object), name) != nullptr;
}

} // namespace

void ConfigureSource(GstElement* source) {
    if (HasProperty(source, "user-agent"))
        g_object_set(source, "user-agent", kUserAgent, nullptr);
    // ICY metadata is asked for as "Icy-MetaData: 1": some servers match the
    // header's name case by case, and the HTTP source's own iradio mode
    // spells it in lower case. The source reads icy-metaint from the answer
    // either way.
    if (HasProperty(source, "iradio-mode") && HasProperty(source, "extra-headers")) {
        GstStructure* headers =
            gst_structure_new("extra-headers", "Icy-MetaData", G_TYPE_STRING, "1", nullptr);
        g_object_set(source, "iradio-mode", FALSE, "extra-headers", headers, nullptr);
        gst_structure_free(headers);
    } else if (HasProperty(source, "iradio-mode")) {
        g_object_set(source, "iradio-mode", TRUE, nullptr);
    }
    if (HasProperty(source, "retries"))
        g_object_set(source, "retries", 0, nullptr);
    if (HasProperty(source, "timeout"))
        g_object_set(source, "timeout", kSourceTimeoutSeconds, nullptr);
    // Redirects are followed by the session, which bounds the chain.
    if (HasProperty(source, "automatic-redirect"))
        g_object_set(source, "automatic-redirect", FALSE, nullptr);
    if (GTlsDatabase* anchors = tls::SourceDatabase()) {
        if (HasProperty(source, "tls-database"))
            g_object_set(source, "tls-database", anchors, nullptr);
        g_object_unref(anchors);
    }
}

} // namespace didira
