#include "player/probes/StreamProbes.h"

#include "player/formats/IcyMetadata.h"
#include "player/formats/StreamText.h"
#include "player/formats/TimedId3.h"
#include "player/gst/MappedBuffer.h"
#include "player/probes/Flush.h"
#include "player/probes/OggJoinProbe.h"
#include "player/probes/SegmentProbes.h"
#include "player/timeshift/TimeShift.h"

#include <atomic>
#include <gst/tag/tag.h>
#include <optional>
#include <utility>
#include <vector>

namespace didira {

namespace {

constexpr char kIcyTitleMessage[] = "didira-icy-title";

GstPadProbeReturn CountBytes(GstPad*, GstPadProbeInfo* info, gpointer data) {
    auto* relay = static_cast<ProbeContext*>(data);
    if (info->type & GST_PAD_PROBE_TYPE_BUFFER)
        relay->bytes += gst_buffer_get_size(GST_PAD_PROBE_INFO_BUFFER(info));
    else if (info->type & GST_PAD_PROBE_TYPE_BUFFER_LIST)
        relay->bytes += gst_buffer_list_calculate_size(GST_PAD_PROBE_INFO_BUFFER_LIST(info));
    return GST_PAD_PROBE_OK;
}

GstPadProbeReturn CountAudio(GstPad*, GstPadProbeInfo*, gpointer data) {
    ++static_cast<ProbeContext*>(data)->audioBuffers;
    return GST_PAD_PROBE_OK;
}

// Frees a probe's data when the probe goes.
template <typename T> void DeleteProbeData(gpointer data) {
    delete static_cast<T*>(data);
}

// Calls read on each buffer a probe sees, alone or in a list.
template <typename Read> void ForEachBuffer(GstPadProbeInfo* info, Read read) {
    if (info->type & GST_PAD_PROBE_TYPE_BUFFER) {
        read(GST_PAD_PROBE_INFO_BUFFER(info));
    } else if (info->type & GST_PAD_PROBE_TYPE_BUFFER_LIST) {
        GstBufferList* list = GST_PAD_PROBE_INFO_BUFFER_LIST(info);
        for (guint i = 0, n = gst_buffer_list_length(list); i < n; ++i)
            read(gst_buffer_list_get(list, i));
    }
}

// Reads the ICY metadata where it leaves the network source, before the
// buffered audio it precedes: the interval comes with the source's caps
// (application/x-icy), and each new title is posted to the bus at once. The
// demuxer further down reads the same blocks only when the audio before them
// has played.
struct IcyProbe {
    std::uint32_t interval = 0;
    std::optional<IcyMetadataReader> reader;
    bool untitled = false; // told that the interval is too small for titles
};

// Posts raw as the ICY title of pad's source, to the bus.
void PostIcyTitle(GstPad* pad, QByteArrayView raw) {
    GstObject* source = GST_OBJECT_PARENT(pad);
    if (!source)
        return;
    GBytes* bytes = g_bytes_new(raw.data(), static_cast<gsize>(raw.size()));
    gst_element_post_message(
        GST_ELEMENT(source),
        gst_message_new_application(
            source, gst_structure_new(kIcyTitleMessage, "raw", G_TYPE_BYTES, bytes, nullptr)));
    g_bytes_unref(bytes);
}

// The interval is too small for its titles to be taken: the station plays
// without (an empty ICY title tells the session to take none from the
// demuxer's tags either), said once a connection.
void RefuseIcyTitles(GstPad* pad, IcyProbe& probe) {
    if (std::exchange(probe.untitled, true))
        return;
    qWarning("didira: the station's ICY metadata interval (%u bytes) is below %u: "
             "played without titles",
             probe.interval, IcyMetadataReader::kMinTitledInterval);
    PostIcyTitle(pad, {});
}

void ReadIcy(GstPad* pad, IcyProbe& probe, GstBuffer* buffer) {
    const gst::MappedBuffer mapped(buffer);
    if (mapped.ok() && probe.reader->Feed(mapped.bytes()))
        PostIcyTitle(pad, probe.reader->Title());
}

// The ICY metadata interval that a caps event names; 0 when none, none for
// another event.
std::optional<std::uint32_t> IcyIntervalOf(GstEvent* event) {
    if (GST_EVENT_TYPE(event) != GST_EVENT_CAPS)
        return std::nullopt;
    GstCaps* caps = nullptr;
    gst_event_parse_caps(event, &caps);
    const GstStructure* s = caps ? gst_caps_get_structure(caps, 0) : nullptr;
    gint interval = 0;
    if (!s || !gst_structure_has_name(s, "application/x-icy") ||
        !gst_structure_get_int(s, "metadata-interval", &interval) || interval <= 0)
        return 0;
    return static_cast<std::uint32_t>(interval);
}

GstPadProbeReturn WatchIcy(GstPad* pad, GstPadProbeInfo* info, gpointer data) {
    auto& probe = *static_cast<IcyProbe*>(data);
    if (info->type & GST_PAD_PROBE_TYPE_EVENT_FLUSH) {
        // The caps follow (RestartDownstream): what comes next starts an interval.
        if (GST_EVENT_TYPE(GST_PAD_PROBE_INFO_EVENT(info)) == GST_EVENT_FLUSH_STOP &&
            probe.interval >= IcyMetadataReader::kMinTitledInterval)
            probe.reader.emplace(probe.interval);
        return GST_PAD_PROBE_OK;
    }
    if (info->type & GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM) {
        const std::optional<std::uint32_t> interval = IcyIntervalOf(GST_PAD_PROBE_INFO_EVENT(info));
        if (!interval || *interval == probe.interval)
            return GST_PAD_PROBE_OK;
        // The source adds to its caps as it learns more (the content type):
        // the same interval goes on counting where it was.
        probe.interval = *interval;
        probe.reader.reset();
        if (probe.interval >= IcyMetadataReader::kMinTitledInterval)
            probe.reader.emplace(probe.interval);
        else if (probe.interval > 0)
            RefuseIcyTitles(pad, probe);
        return GST_PAD_PROBE_OK;
    }
    if (probe.reader)
        ForEachBuffer(info, [&](GstBuffer* buffer) { ReadIcy(pad, probe, buffer); });
    return GST_PAD_PROBE_OK;
}

// The ICY metadata interval of a caps event, for the tap: the caps are
// dropped when the tap sends the audio alone (an interval too small for
// titles), said once a process.
GstPadProbeReturn ShiftCaps(TimeShift::Tap& tap, GstEvent* event) {
    const std::optional<std::uint32_t> interval = IcyIntervalOf(event);
    if (!interval || !tap.SetIcyInterval(*interval))
        return GST_PAD_PROBE_OK;
    // The audio alone goes on, with no caps to say otherwise.
    static std::atomic<bool> s_told{false};
    if (!s_told.exchange(true))
        qWarning("didira: a station's ICY metadata interval (%u bytes) is below %u: "
                 "played without titles",
                 *interval, IcyMetadataReader::kMinTitledInterval);
    return GST_PAD_PROBE_DROP;
}

// Takes buffer; what goes downstream in its place: buffer itself (bytes none:
// unchanged), a new buffer of bytes with buffer's flags, or nothing (bytes
// empty).
GstBuffer* Replacement(GstBuffer* buffer, const std::optional<QByteArray>& bytes) {
    if (!bytes)
        return gst_buffer_make_writable(buffer);
    if (bytes->isEmpty()) {
        gst_buffer_unref(buffer);
        return nullptr;
    }
    GstBuffer* sent = gst_buffer_new_memdup(bytes->constData(), static_cast<gsize>(bytes->size()));
    gst_buffer_copy_into(sent, buffer, GST_BUFFER_COPY_FLAGS, 0, 0);
    gst_buffer_unref(buffer);
    return sent;
}

// The buffers of one probe call through the tap, in order, all received at
// the same time.
struct BufferShift {
    GstPad* pad;
    TimeShift::Tap& tap;
    qint64 now = TimeShift::NowMs();
    bool restarted = false; // a Shift flushed downstream

    // Takes buffer (one that cannot be read passes unchanged); returns its
    // replacement, or none, marked with where in the buffer what it carries
    // ends.
    GstBuffer* Shift(GstBuffer* buffer) {
        bool restart = false;
        std::optional<QByteArray> out;
        {
            const gst::MappedBuffer mapped(buffer);
            if (!mapped.ok())
                return buffer;
            out = tap.Received(mapped.bytes(), now, &restart);
        }
        if (restart) {
            RestartDownstream(pad, [&] { out = tap.Restart(); });
            restarted = true;
        }
        if (const std::optional<QByteArray> title = tap.TakeShownTitle())
            PostIcyTitle(pad, *title);
        GstBuffer* sent = Replacement(buffer, out);
        if (!sent)
            return nullptr;
        const qint64 end = tap.SentEnd();
        GST_BUFFER_OFFSET_END(sent) = end < 0 ? GST_BUFFER_OFFSET_NONE : guint64(end);
        return sent;
    }
};

// A buffer list through the tap: what a flush came after is not sent.
GstPadProbeReturn ShiftList(BufferShift& shift, GstPadProbeInfo* info) {
    GstBufferList* in = GST_PAD_PROBE_INFO_BUFFER_LIST(info);
    GstBufferList* out = gst_buffer_list_new();
    for (guint i = 0, n = gst_buffer_list_length(in); i < n; ++i) {
        GstBuffer* buffer = shift.Shift(gst_buffer_ref(gst_buffer_list_get(in, i)));
        if (std::exchange(shift.restarted, false))
            gst_buffer_list_remove(out, 0, gst_buffer_list_length(out)); // of the old place
        if (buffer)
            gst_buffer_list_add(out, buffer);
    }
    gst_buffer_list_unref(in);
    if (gst_buffer_list_length(out) == 0) {
        gst_buffer_list_unref(out);
        GST_PAD_PROBE_INFO_DATA(info) = nullptr;
        return GST_PAD_PROBE_DROP;
    }
    GST_PAD_PROBE_INFO_DATA(info) = out;
    return GST_PAD_PROBE_OK;
}

// Hands what the source reads to the time shift's tap, and sends on what the
// tap gives in its place (see TimeShift); posts the ICY titles of what goes
// downstream as the tap reads them.
GstPadProbeReturn ShiftBytes(GstPad* pad, GstPadProbeInfo* info, gpointer data) {
    auto& tap = *static_cast<TimeShift::Tap*>(data);
    if (info->type & GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM)
        return ShiftCaps(tap, GST_PAD_PROBE_INFO_EVENT(info));
    BufferShift shift{pad, tap};
    if (info->type & GST_PAD_PROBE_TYPE_BUFFER) {
        GstBuffer* out = shift.Shift(GST_PAD_PROBE_INFO_BUFFER(info));
        GST_PAD_PROBE_INFO_DATA(info) = out;
        return out ? GST_PAD_PROBE_OK : GST_PAD_PROBE_DROP;
    }
    if (info->type & GST_PAD_PROBE_TYPE_BUFFER_LIST)
        return ShiftList(shift, info);
    return GST_PAD_PROBE_OK;
}

// Reads the timed ID3 of MPEG-TS segments where they enter the transport
// stream demuxer, which drops these streams; each tag is posted to the bus as
// the demuxer's, as it arrives (ahead of the buffered audio, as ICY titles).
void ReadTimedId3(GstPad* pad, TimedId3Reader& reader, GstBuffer* buffer) {
    std::vector<QByteArray> tags;
    {
        const gst::MappedBuffer mapped(buffer);
        if (!mapped.ok())
            return;
        tags = reader.Feed(mapped.bytes());
    }
    GstObject* demuxer = GST_OBJECT_PARENT(pad);
    for (const QByteArray& tag : tags) {
        GstBuffer* bytes = gst_buffer_new_memdup(tag.constData(), static_cast<gsize>(tag.size()));
        GstTagList* list = gst_tag_list_from_id3v2_tag(bytes);
        gst_buffer_unref(bytes);
        if (list && demuxer)
            gst_element_post_message(GST_ELEMENT(demuxer), gst_message_new_tag(demuxer, list));
        else if (list)
            gst_tag_list_unref(list);
    }
}

GstPadProbeReturn WatchTimedId3(GstPad* pad, GstPadProbeInfo* info, gpointer data) {
    auto& reader = *static_cast<TimedId3Reader*>(data);
    ForEachBuffer(info, [&](GstBuffer* buffer) { ReadTimedId3(pad, reader, buffer); });
    return GST_PAD_PROBE_OK;
}

constexpr auto kBuffers =
    static_cast<GstPadProbeType>(GST_PAD_PROBE_TYPE_BUFFER | GST_PAD_PROBE_TYPE_BUFFER_LIST);

// On the Ogg demuxer's sink pad: the demuxer takes a byte segment with the
// number of the first one it got for the answer to a seek of its own, and
// seeks its time segment at the rate of a seek it never made (none: a
// critical), resetting its streams. An ICY demuxer before it hands the first
// segment over again as it starts; that repeat is kept on the pad (data must
// follow a segment) but not handed over.
GstPadProbeReturn DropRepeatedSegment(GstPad* pad, GstPadProbeInfo* info, gpointer data) {
    auto& first = *static_cast<guint32*>(data);
    GstEvent* event = GST_PAD_PROBE_INFO_EVENT(info);
    if (GST_EVENT_TYPE(event) != GST_EVENT_SEGMENT)
        return GST_PAD_PROBE_OK;
    const GstSegment* segment = nullptr;
    gst_event_parse_segment(event, &segment);
    if (segment->format != GST_FORMAT_BYTES)
        return GST_PAD_PROBE_OK;
    const guint32 seqnum = gst_event_get_seqnum(event);
    if (first == GST_SEQNUM_INVALID) {
        first = seqnum;
        return GST_PAD_PROBE_OK;
    }
    if (seqnum != first)
        return GST_PAD_PROBE_OK;
    gst_pad_store_sticky_event(pad, event);
    return GST_PAD_PROBE_DROP;
}

// On the Ogg demuxer's sink pad, for the time shift: tells it how far into
// the buffer the demuxer has got (the tap marks where each buffer ends), and
// leaves the demuxer out of a flush the shift asks that of, and of the byte
// segment after it (which would reset its streams as well). Its outputs are
// flushed all the same; it keeps its chain, and its own reading of pages.
struct OggDemuxerFollower {
    std::shared_ptr<TimeShift> shift;
    bool kept = false; // the demuxer was left out of the flush: not the segment either
};

GstPadProbeReturn FollowOggDemuxer(GstPad* pad, GstPadProbeInfo* info, gpointer data) {
    auto& follower = *static_cast<OggDemuxerFollower*>(data);
    if (info->type & (GST_PAD_PROBE_TYPE_EVENT_FLUSH | GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM)) {
        GstEvent* event = GST_PAD_PROBE_INFO_EVENT(info);
        if (GST_EVENT_TYPE(event) == GST_EVENT_SEGMENT && std::exchange(follower.kept, false)) {
            // Kept on the pad, as data must follow one, but not handed over.
            gst_pad_store_sticky_event(pad, event);
            return GST_PAD_PROBE_DROP;
        }
        if (GST_EVENT_TYPE(event) != GST_EVENT_FLUSH_STOP ||
            !follower.shift->TakeKeepDemuxerChain())
            return GST_PAD_PROBE_OK;
        follower.kept = true;
        if (GstElement* demuxer = gst_pad_get_parent_element(pad)) {
            gst_element_foreach_src_pad(
                demuxer,
                [](GstElement*, GstPad* src, gpointer stop) -> gboolean {
                    gst_pad_push_event(src, gst_event_ref(static_cast<GstEvent*>(stop)));
                    return TRUE;
                },
                event);
            gst_object_unref(demuxer);
        }
        return GST_PAD_PROBE_DROP;
    }
    ForEachBuffer(info, [&](GstBuffer* buffer) {
        if (GST_BUFFER_OFFSET_END_IS_VALID(buffer))
            follower.shift->NoteDemuxed(static_cast<qint64>(GST_BUFFER_OFFSET_END(buffer)));
    });
    return GST_PAD_PROBE_OK;
}

} // namespace

void ProbeSourcePad(GstPad* pad, ProbeContext* relay) {
    gst_pad_add_probe(pad, kBuffers, CountBytes, relay, nullptr);
    std::shared_ptr<TimeShift> shift;
    {
        std::lock_guard lock(relay->mutex);
        shift = relay->timeShift;
    }
    if (shift) {
        // The tap reads the ICY titles too.
        gst_pad_add_probe(
            pad, static_cast<GstPadProbeType>(kBuffers | GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM),
            ShiftBytes, shift->NewTap().release(), DeleteProbeData<TimeShift::Tap>);
        return;
    }
    gst_pad_add_probe(pad,
                      static_cast<GstPadProbeType>(kBuffers | GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM |
                                                   GST_PAD_PROBE_TYPE_EVENT_FLUSH),
                      WatchIcy, new IcyProbe, DeleteProbeData<IcyProbe>);
}

void ProbeOutputPad(GstPad* pad, ProbeContext* relay) {
    gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_BUFFER, CountAudio, relay, nullptr);
}

void ProbeDemuxer(GstElement* element, ProbeContext* relay) {
    GstElementFactory* factory = gst_element_get_factory(element);
    const gchar* name = factory ? GST_OBJECT_NAME(factory) : "";
    if (ProbeSegments(element, relay))
        return;
    const bool ts = g_strcmp0(name, "tsdemux") == 0;
    if (!ts && g_strcmp0(name, "oggdemux") != 0)
        return;
    gst::PadPtr pad{gst_element_get_static_pad(element, "sink")};
    if (pad && ts)
        gst_pad_add_probe(pad.get(), kBuffers, WatchTimedId3, new TimedId3Reader,
                          DeleteProbeData<TimedId3Reader>);
    if (!pad || ts)
        return;
    gst_pad_add_probe(pad.get(), GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM, DropRepeatedSegment,
                      new guint32(GST_SEQNUM_INVALID), DeleteProbeData<guint32>);
    FilterOggJoin(pad.get()); // what passes it is what the demuxer gets
    std::lock_guard lock(relay->mutex);
    if (relay->timeShift)
        gst_pad_add_probe(pad.get(),
                          static_cast<GstPadProbeType>(kBuffers | GST_PAD_PROBE_TYPE_EVENT_FLUSH |
                                                       GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM),
                          FollowOggDemuxer, new OggDemuxerFollower{relay->timeShift},
                          DeleteProbeData<OggDemuxerFollower>);
}

std::optional<QByteArray> IcyTitleOf(GstMessage* message) {
    const GstStructure* s = gst_message_get_structure(message);
    if (!s || !gst_structure_has_name(s, kIcyTitleMessage))
        return std::nullopt;
    const GValue* value = gst_structure_get_value(s, "raw");
    GBytes* raw = value && G_VALUE_HOLDS(value, G_TYPE_BYTES)
                      ? static_cast<GBytes*>(g_value_get_boxed(value))
                      : nullptr;
    gsize size = 0;
    const auto* bytes = raw ? static_cast<const char*>(g_bytes_get_data(raw, &size)) : "";
    return QByteArray(bytes, static_cast<qsizetype>(size));
}

} // namespace didira
