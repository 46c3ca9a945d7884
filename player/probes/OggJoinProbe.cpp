#include "player/probes/OggJoinProbe.h"

#include "player/formats/OggJoin.h"
#include "player/gst/MappedBuffer.h"

#include <gst/gst.h>

namespace didira {

namespace {

QByteArray Filtered(OggJoinFilter& filter, GstBuffer* buffer) {
    const gst::MappedBuffer mapped(buffer);
    return mapped.ok() ? filter.Feed(mapped.bytes()) : QByteArray();
}

// A buffer of what the filter passed on after like: its flags, and an end
// offset (where like's data ends) less what the filter still holds.
GstBuffer* BufferOf(const QByteArray& bytes, GstBuffer* like, const OggJoinFilter& filter) {
    GstBuffer* out = gst_buffer_new_memdup(bytes.constData(), static_cast<gsize>(bytes.size()));
    gst_buffer_copy_into(out, like, GST_BUFFER_COPY_FLAGS, 0, static_cast<gsize>(-1));
    if (GST_BUFFER_OFFSET_END_IS_VALID(like))
        GST_BUFFER_OFFSET_END(out) = GST_BUFFER_OFFSET_END(like) - guint64(filter.Holding());
    return out;
}

// Replaces what flows with what the filter passes on; drops what it holds.
GstPadProbeReturn FilterPages(GstPad*, GstPadProbeInfo* info, gpointer data) {
    auto& filter = *static_cast<OggJoinFilter*>(data);
    if (info->type & GST_PAD_PROBE_TYPE_EVENT_FLUSH) {
        if (GST_EVENT_TYPE(GST_PAD_PROBE_INFO_EVENT(info)) == GST_EVENT_FLUSH_STOP)
            filter.Flushed();
        return GST_PAD_PROBE_OK;
    }
    if (GstBuffer* buffer = GST_PAD_PROBE_INFO_BUFFER(info)) {
        const QByteArray out = Filtered(filter, buffer);
        if (out.isEmpty())
            return GST_PAD_PROBE_DROP;
        GstBuffer* replacement = BufferOf(out, buffer, filter);
        gst_buffer_unref(buffer);
        GST_PAD_PROBE_INFO_DATA(info) = replacement;
        return GST_PAD_PROBE_OK;
    }
    if (GstBufferList* list = GST_PAD_PROBE_INFO_BUFFER_LIST(info)) {
        QByteArray out;
        const guint n = gst_buffer_list_length(list);
        for (guint i = 0; i < n; ++i)
            out += Filtered(filter, gst_buffer_list_get(list, i));
        if (out.isEmpty())
            return GST_PAD_PROBE_DROP;
        GstBufferList* replacement = gst_buffer_list_new_sized(1);
        gst_buffer_list_add(replacement, BufferOf(out, gst_buffer_list_get(list, n - 1), filter));
        gst_buffer_list_unref(list);
        GST_PAD_PROBE_INFO_DATA(info) = replacement;
    }
    return GST_PAD_PROBE_OK;
}

} // namespace

void FilterOggJoin(GstPad* demuxerSink) {
    gst_pad_add_probe(demuxerSink,
                      static_cast<GstPadProbeType>(GST_PAD_PROBE_TYPE_BUFFER |
                                                   GST_PAD_PROBE_TYPE_BUFFER_LIST |
                                                   GST_PAD_PROBE_TYPE_EVENT_FLUSH),
                      FilterPages, new OggJoinFilter,
                      [](gpointer data) { delete static_cast<OggJoinFilter*>(data); });
}

} // namespace didira
