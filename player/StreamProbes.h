#pragma once
// Pad probes that read the stream as it flows: the bytes the network source
// reads and the audio buffers that reach the output (counted on the relay),
// the time shift's tap (which may send other bytes on in their place), the
// ICY titles on the source's pad and the timed ID3 of MPEG-TS segments
// where they enter the demuxer. Titles are posted to the bus as they arrive,
// ahead of the buffered audio they belong to. The probes run on streaming
// threads and touch nothing but their own state, the relay's counters and
// the time shift.

#include "player/PipelineBusRelay.h"

#include <QByteArray>
#include <QString>
#include <functional>
#include <optional>

namespace didira {

// On the network source's src pad: counts its bytes on relay (which must
// outlive the pad), taps them for relay's time shift when it has one, and
// reads ICY titles of what goes on.
void ProbeSourcePad(GstPad* pad, PipelineBusRelay* relay);
// On the sink bin's sink pad: counts the audio buffers on relay.
void ProbeOutputPad(GstPad* pad, PipelineBusRelay* relay);
// On an element playbin has just added: reads timed ID3 if it is a transport
// stream demuxer; cleans the start of the stream if it is an Ogg demuxer;
// taps the segments an HLS demuxer sends on for relay's time shift (see
// ProbeSegments).
void ProbeDemuxer(GstElement* element, PipelineBusRelay* relay);

// Drops what is downstream of pad (the network queue, the parser, the
// output) so that what pad sends next is heard at once, as a flushing seek
// would. Called on pad's streaming thread, before its next buffer; flushing
// runs once the flush has begun. The caps go again, so that an ICY demuxer
// counts from a fresh interval.
void RestartDownstream(GstPad* pad, const std::function<void()>& flushing = {});

// The title shown for tags: "Artist - Title", or the title alone; empty
// when they name none. Tag strings are UTF-8 already (see
// PrepareStreamTextEncoding); what is not fit to show is taken out.
QString TitleOfTags(const GstTagList* tags);

// The StreamTitle (the bytes as sent) of an application message the ICY
// probe posted; none for any other message.
std::optional<QByteArray> IcyTitleOf(GstMessage* message);

} // namespace didira
