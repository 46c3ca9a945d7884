#pragma once
// Pad probes that read the stream as it flows: the bytes the network source
// reads and the audio buffers that reach the output (counted on the relay),
// the time shift's tap (which may send other bytes on in their place), the
// ICY titles on the source's pad and the timed ID3 of MPEG-TS segments
// where they enter the demuxer. Titles are posted to the bus as they arrive,
// ahead of the buffered audio they belong to. The probes run on streaming
// threads and touch nothing but their own state, the relay's counters and
// the time shift.

#include "player/gst/GstHandle.h"
#include "player/probes/ProbeContext.h"

#include <QByteArray>
#include <QString>
#include <optional>

namespace didira {

// On the network source's src pad: counts its bytes on relay (which must
// outlive the pad), taps them for relay's time shift when it has one, and
// reads ICY titles of what goes on.
void ProbeSourcePad(GstPad* pad, ProbeContext* relay);
// On the sink bin's sink pad: counts the audio buffers on relay.
void ProbeOutputPad(GstPad* pad, ProbeContext* relay);
// On an element playbin has just added: reads timed ID3 if it is a transport
// stream demuxer; cleans the start of the stream if it is an Ogg demuxer;
// taps the segments an HLS demuxer sends on for relay's time shift (see
// ProbeSegments).
void ProbeDemuxer(GstElement* element, ProbeContext* relay);

// The StreamTitle (the bytes as sent) of an application message the ICY
// probe posted; none for any other message.
std::optional<QByteArray> IcyTitleOf(GstMessage* message);

} // namespace didira
