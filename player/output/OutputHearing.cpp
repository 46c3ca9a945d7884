#include "player/output/OutputHearing.h"

#include <gst/audio/audio.h>
#include <mutex>
#include <utility>

namespace didira {

namespace {
// How far behind the clock data may arrive before it is moved to now; sinks
// align smaller differences themselves.
constexpr GstClockTime kLateAfter = 40 * GST_MSECOND;
} // namespace

struct OutputHearingState {
    std::mutex mutex;
    GstPad* internal = nullptr;   // owned by the OutputHearing, which outlives every probe call
    GstElement* output = nullptr; // the bin listened to, owned by the OutputHearing's owner
    GstSegment segment{};
    bool haveSegment = false;
    GstAudioInfo info{};
    bool haveInfo = false;
    bool pending = true;     // the next buffer is the run's first
    bool newSegment = false; // the next buffer is the first of a segment within the run
    bool ended = false;      // the stream ended: the output drains, it is not starved
    GstClockTimeDiff shift = 0;
    GstClockTime firstEnd = GST_CLOCK_TIME_NONE; // running times, shift included
    GstClockTime lastEnd = GST_CLOCK_TIME_NONE;
    // The clock has run past data that the sink held and could not hand on:
    // the sound server took nothing for a while, and its clock did not stop
    // meanwhile (libpulse reckons the stream's time on from its last report;
    // the pipeline's clock, which never goes back, then stands still until
    // the server's real time catches up). Data is late then without the
    // stream having been short: it is neither moved nor called starved until
    // it is on time again or the output has really run dry.
    bool sinkHeld = false;
    GstClockTime checkedEnd = GST_CLOCK_TIME_NONE; // lastEnd at the last check
    // Since when (monotonic ms) the sink has held its data without taking
    // more; -1 while it takes.
    gint64 heldSinceMs = -1;

    void Forget() {
        haveSegment = haveInfo = ended = sinkHeld = false;
        heldSinceMs = -1;
        pending = true;
        shift = 0;
        firstEnd = lastEnd = checkedEnd = GST_CLOCK_TIME_NONE;
        gst_pad_set_offset(internal, 0);
    }

    GstClockTime DurationOf(GstBuffer* buffer) const {
        if (GST_BUFFER_DURATION_IS_VALID(buffer))
            return GST_BUFFER_DURATION(buffer);
        if (!haveInfo || GST_AUDIO_INFO_BPF(&info) <= 0 || GST_AUDIO_INFO_RATE(&info) <= 0)
            return 0;
        const guint64 frames = gst_buffer_get_size(buffer) / GST_AUDIO_INFO_BPF(&info);
        return gst_util_uint64_scale(frames, GST_SECOND, GST_AUDIO_INFO_RATE(&info));
    }

    void OnEvent(GstEvent* event) {
        std::lock_guard lock(mutex);
        switch (GST_EVENT_TYPE(event)) {
        case GST_EVENT_SEGMENT: {
            const GstSegment* received = nullptr;
            gst_event_parse_segment(event, &received);
            gst_segment_copy_into(received, &segment);
            haveSegment = received->format == GST_FORMAT_TIME;
            newSegment = !pending;
            break;
        }
        case GST_EVENT_CAPS: {
            GstCaps* caps = nullptr;
            gst_event_parse_caps(event, &caps);
            haveInfo = gst_audio_info_from_caps(&info, caps);
            break;
        }
        case GST_EVENT_EOS:
            ended = true;
            break;
        case GST_EVENT_FLUSH_STOP:
            // Times start over after a flush.
            Forget();
            break;
        default:
            break;
        }
    }

    void OnBuffer(GstBuffer* buffer) {
        std::lock_guard lock(mutex);
        if (!haveSegment || !GST_BUFFER_PTS_IS_VALID(buffer))
            return;
        const GstClockTime start =
            gst_segment_to_running_time(&segment, GST_FORMAT_TIME, GST_BUFFER_PTS(buffer));
        if (!GST_CLOCK_TIME_IS_VALID(start))
            return; // outside the segment: clipped downstream
        GstClockTimeDiff newShift = shift;
        if (pending) {
            // A run's first buffer (the running time starts over at a start
            // or a flush) plays at once, wherever its segment puts it: past
            // the stream's start when joined live, or where an Ogg demuxer
            // counts a chain's time on from the chains before.
            pending = false;
            newShift = -static_cast<GstClockTimeDiff>(start);
        } else if (std::exchange(newSegment, false) && GST_CLOCK_TIME_IS_VALID(lastEnd) &&
                   start + shift > lastEnd + kLateAfter) {
            // A new segment within a run (the next chain of an Ogg stream)
            // follows what played before it; a demuxer that counts time on
            // from before a flush would put it seconds ahead, heard as a gap.
            newShift -= GST_CLOCK_DIFF(lastEnd, start + shift);
        }
        // Data that comes after the output has run dry (a first buffer after
        // the pipeline started playing, a network stall) would be behind the
        // clock and be cut by the sink: it plays from now on instead.
        // Not while the output is on its way to pausing: playing resumes
        // from the running time it paused at.
        if (GST_STATE(output) == GST_STATE_PLAYING &&
            GST_STATE_TARGET(output) == GST_STATE_PLAYING) {
            const GstClockTime now = gst_element_get_current_running_time(output);
            const GstClockTime at = start + newShift;
            const bool late = GST_CLOCK_TIME_IS_VALID(now) && now > at + kLateAfter;
            if (!late)
                sinkHeld = false;
            else if (!sinkHeld)
                newShift += GST_CLOCK_DIFF(at, now);
        }
        if (newShift != shift) {
            shift = newShift;
            // Applies to this buffer already: the inner pad sends the
            // segment again, with the offset, before it.
            gst_pad_set_offset(internal, shift);
        }
        const GstClockTime end = start + shift + DurationOf(buffer);
        if (!GST_CLOCK_TIME_IS_VALID(firstEnd))
            firstEnd = end;
        lastEnd = end;
    }
};

namespace {

GstPadProbeReturn OnData(GstPad*, GstPadProbeInfo* info, gpointer data) {
    OutputHearingState& state = **static_cast<std::shared_ptr<OutputHearingState>*>(data);
    if (info->type & GST_PAD_PROBE_TYPE_BUFFER)
        state.OnBuffer(GST_PAD_PROBE_INFO_BUFFER(info));
    else if (info->type & (GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM | GST_PAD_PROBE_TYPE_EVENT_FLUSH))
        state.OnEvent(GST_PAD_PROBE_INFO_EVENT(info));
    return GST_PAD_PROBE_OK;
}

void DeleteStateRef(gpointer data) {
    delete static_cast<std::shared_ptr<OutputHearingState>*>(data);
}

} // namespace

OutputHearing::OutputHearing(GstElement* outputBin)
    : m_ghost(gst_element_get_static_pad(outputBin, "sink")),
      m_state(std::make_shared<OutputHearingState>()) {
    if (!m_ghost || !GST_IS_GHOST_PAD(m_ghost.get()))
        return;
    m_internal.reset(GST_PAD(gst_proxy_pad_get_internal(GST_PROXY_PAD(m_ghost.get()))));
    m_state->internal = m_internal.get();
    m_state->output = outputBin;
    gst_segment_init(&m_state->segment, GST_FORMAT_TIME);
    m_probe =
        gst_pad_add_probe(m_ghost.get(),
                          static_cast<GstPadProbeType>(GST_PAD_PROBE_TYPE_BUFFER |
                                                       GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM |
                                                       GST_PAD_PROBE_TYPE_EVENT_FLUSH),
                          OnData, new std::shared_ptr<OutputHearingState>(m_state), DeleteStateRef);
}

OutputHearing::~OutputHearing() {
    if (m_probe)
        gst_pad_remove_probe(m_ghost.get(), m_probe);
}

void OutputHearing::Restart() {
    if (!m_internal)
        return;
    std::lock_guard lock(m_state->mutex);
    m_state->Forget();
}

OutputHearing::Output OutputHearing::Check(GstElement* pipeline) const {
    const GstClockTime now = gst_element_get_current_running_time(pipeline);
    // The streaming thread holds the bin's sink pad's stream lock while a
    // buffer is on its way through the bin, also while the sink waits for
    // the sound server to take data: the output is not dry then.
    bool holding = false;
    if (m_ghost) {
        holding = !GST_PAD_STREAM_TRYLOCK(m_ghost.get());
        if (!holding)
            GST_PAD_STREAM_UNLOCK(m_ghost.get());
    }
    OutputHearingState& state = *m_state;
    std::lock_guard lock(state.mutex);
    if (!GST_CLOCK_TIME_IS_VALID(now) || !GST_CLOCK_TIME_IS_VALID(state.firstEnd) ||
        now < state.firstEnd)
        return Output::Silent;
    const bool took = state.lastEnd != state.checkedEnd;
    state.checkedEnd = state.lastEnd;
    if (holding) {
        if (now > state.lastEnd + kLateAfter)
            state.sinkHeld = true;
        // A sound server that takes nothing for long has hung: nothing is
        // heard, whatever its clock says.
        const gint64 nowMs = g_get_monotonic_time() / 1000;
        if (took || state.heldSinceMs < 0)
            state.heldSinceMs = nowMs;
        else if (nowMs - state.heldSinceMs > kHungAfterMs)
            return Output::Starved;
        return Output::Audible;
    }
    state.heldSinceMs = -1;
    if (now <= state.lastEnd + kStarvedAfter || state.ended)
        return Output::Audible;
    // After the server held the sink, the data arrives late until it has
    // caught up: dry only once nothing more has come since the last check.
    if (state.sinkHeld && took)
        return Output::Audible;
    state.sinkHeld = false;
    return Output::Starved;
}

GstClockTimeDiff OutputHearing::Shift() const {
    std::lock_guard lock(m_state->mutex);
    return m_state->shift;
}

} // namespace didira
