#pragma once
// Pad probes on an HLS demuxer, for the time shift: what it sends on (the
// segments' bytes in order) goes through relay's time shift's SegmentTap,
// which keeps it and decides what goes downstream; what its fragment source
// reads is looked at for the ID3 tag that heads a packed-audio segment (the
// demuxer takes it out), whose title is noted for the segment. Run on
// streaming threads.

#include "player/gst/GstHandle.h"
#include "player/probes/ProbeContext.h"

#include <QByteArray>
#include <QString>

namespace didira {

// When element is an HLS demuxer or its fragment source, probes it for the
// time shift and returns true; false for any other element.
bool ProbeSegments(GstElement* element, ProbeContext* relay);

// The title an ID3 tag names (artist and title as the player shows them);
// empty when none.
QString Id3Title(const QByteArray& tag);

} // namespace didira
