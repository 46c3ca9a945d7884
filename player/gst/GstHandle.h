#pragma once
// Owning handles for GLib and GStreamer references, so that every early return
// releases what it holds.

#include <glib.h>
#include <gst/gst.h>
#include <memory>

namespace didira::gst {

struct ObjectUnref {
    void operator()(gpointer p) const {
        if (p)
            gst_object_unref(p);
    }
};
struct MessageUnref {
    void operator()(GstMessage* m) const {
        if (m)
            gst_message_unref(m);
    }
};
struct ErrorFree {
    void operator()(GError* e) const {
        if (e)
            g_error_free(e);
    }
};
struct GFree {
    void operator()(gpointer p) const { g_free(p); }
};

using ElementPtr = std::unique_ptr<GstElement, ObjectUnref>;
using BusPtr = std::unique_ptr<GstBus, ObjectUnref>;
using PadPtr = std::unique_ptr<GstPad, ObjectUnref>;
using MessagePtr = std::unique_ptr<GstMessage, MessageUnref>;
using ErrorPtr = std::unique_ptr<GError, ErrorFree>;
using CharPtr = std::unique_ptr<gchar, GFree>;

} // namespace didira::gst
