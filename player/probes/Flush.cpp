#include "player/probes/Flush.h"

namespace didira {

void RestartDownstream(GstPad* pad, const std::function<void()>& flushing) {
    GstEvent* segment = gst_pad_get_sticky_event(pad, GST_EVENT_SEGMENT, 0);
    GstCaps* caps = gst_pad_get_current_caps(pad);
    gst_pad_push_event(pad, gst_event_new_flush_start());
    if (flushing)
        flushing();
    gst_pad_push_event(pad, gst_event_new_flush_stop(TRUE));
    if (caps) {
        gst_pad_push_event(pad, gst_event_new_caps(caps));
        gst_caps_unref(caps);
    }
    if (segment) {
        // A new number: an Ogg demuxer takes a segment with the old one's
        // number for the answer to a seek of its own.
        const GstSegment* values = nullptr;
        gst_event_parse_segment(segment, &values);
        gst_pad_push_event(pad, gst_event_new_segment(values));
        gst_event_unref(segment);
    }
}

} // namespace didira
