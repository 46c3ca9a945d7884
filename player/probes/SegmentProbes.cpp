#include "player/probes/SegmentProbes.h"

#include "player/formats/StreamText.h"
#include "player/gst/MappedBuffer.h"
#include "player/gst/Tags.h"
#include "player/probes/Flush.h"
#include "player/timeshift/TimeShift.h"

#include <gst/tag/tag.h>

namespace didira {

namespace {

constexpr char kHlsDemuxer[] = "hlsdemux";

bool IsHlsDemuxer(GstElement* element) {
    GstElementFactory* factory = element ? gst_element_get_factory(element) : nullptr;
    return factory && g_strcmp0(GST_OBJECT_NAME(factory), kHlsDemuxer) == 0;
}

std::shared_ptr<TimeShift> ShiftOf(ProbeContext* relay) {
    std::lock_guard lock(relay->mutex);
    return relay->timeShift;
}

void DeleteTap(gpointer data) {
    delete static_cast<TimeShift::SegmentTap*>(data);
}

// Hands each buffer the demuxer sends on to the tap and sends on what the
// tap gives in its place. A buffer at offset 0 starts a segment.
GstPadProbeReturn ShiftSegments(GstPad* pad, GstPadProbeInfo* info, gpointer data) {
    auto& tap = *static_cast<TimeShift::SegmentTap*>(data);
    GstBuffer* in = GST_PAD_PROBE_INFO_BUFFER(info);
    bool restart = false;
    std::optional<QByteArray> out;
    {
        const gst::MappedBuffer mapped(in);
        if (!mapped.ok())
            return GST_PAD_PROBE_OK;
        out =
            tap.Received(mapped.bytes(), TimeShift::NowMs(), GST_BUFFER_OFFSET(in) == 0, &restart);
    }
    if (restart)
        RestartDownstream(pad);
    if (out && out->isEmpty()) {
        gst_buffer_unref(in);
        GST_PAD_PROBE_INFO_DATA(info) = nullptr;
        return GST_PAD_PROBE_DROP;
    }
    GstBuffer* next = nullptr;
    if (out) {
        // The kept bytes carry no timing of their own: the demuxer after
        // reads it from the stream.
        next = gst_buffer_new_memdup(out->constData(), static_cast<gsize>(out->size()));
        gst_buffer_unref(in);
    } else {
        next = restart ? gst_buffer_make_writable(in) : in;
    }
    if (restart)
        GST_BUFFER_FLAG_SET(next, GST_BUFFER_FLAG_DISCONT);
    GST_PAD_PROBE_INFO_DATA(info) = next;
    return GST_PAD_PROBE_OK;
}

void OnDemuxerPad(GstElement*, GstPad* pad, gpointer relay) {
    const std::shared_ptr<TimeShift> shift = ShiftOf(static_cast<ProbeContext*>(relay));
    if (!shift || !GST_PAD_IS_SRC(pad))
        return;
    gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_BUFFER, ShiftSegments,
                      shift->NewSegmentTap(&Id3Title).release(), DeleteTap);
}

// On the fragment source's pad: the ID3 tag at the start of a packed-audio
// segment (offset 0), whose title is the next segment's.
GstPadProbeReturn ReadSegmentTag(GstPad*, GstPadProbeInfo* info, gpointer relay) {
    GstBuffer* buffer = GST_PAD_PROBE_INFO_BUFFER(info);
    if (!buffer || GST_BUFFER_OFFSET(buffer) != 0)
        return GST_PAD_PROBE_OK;
    QByteArray head;
    {
        const gst::MappedBuffer mapped(buffer);
        if (!mapped.ok())
            return GST_PAD_PROBE_OK;
        head = mapped.bytes().toByteArray();
    }
    if (!head.startsWith("ID3"))
        return GST_PAD_PROBE_OK;
    const QString title = Id3Title(head);
    if (const std::shared_ptr<TimeShift> shift = ShiftOf(static_cast<ProbeContext*>(relay));
        shift && !title.isEmpty())
        shift->NoteSegmentTitle(title);
    return GST_PAD_PROBE_OK;
}

void ProbeFragmentPad(GstPad* pad, ProbeContext* relay) {
    if (GST_PAD_IS_SRC(pad))
        gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_BUFFER, ReadSegmentTag, relay, nullptr);
}

void OnFragmentPad(GstElement*, GstPad* pad, gpointer relay) {
    ProbeFragmentPad(pad, static_cast<ProbeContext*>(relay));
}

} // namespace

QString Id3Title(const QByteArray& tag) {
    GstBuffer* bytes = gst_buffer_new_memdup(tag.constData(), static_cast<gsize>(tag.size()));
    GstTagList* list = gst_tag_list_from_id3v2_tag(bytes);
    gst_buffer_unref(bytes);
    if (!list)
        return {};
    // As the session shows a title from tags.
    const QString title =
        ShownTitle(TagString(list, GST_TAG_ARTIST), TagString(list, GST_TAG_TITLE));
    gst_tag_list_unref(list);
    return title;
}

bool ProbeSegments(GstElement* element, ProbeContext* relay) {
    if (!relay)
        return false;
    if (IsHlsDemuxer(element)) {
        g_signal_connect(element, "pad-added", G_CALLBACK(OnDemuxerPad), relay);
        return true;
    }
    GstObject* parent = GST_OBJECT_PARENT(element);
    if (!parent || !GST_IS_ELEMENT(parent) || !IsHlsDemuxer(GST_ELEMENT(parent)))
        return false;
    // The demuxer's fragment source (a bin of its own); its pad may come later.
    if (gst::PadPtr pad{gst_element_get_static_pad(element, "src")})
        ProbeFragmentPad(pad.get(), relay);
    else
        g_signal_connect(element, "pad-added", G_CALLBACK(OnFragmentPad), relay);
    return true;
}

} // namespace didira
