#pragma once
// The Ogg join filter (OggJoinFilter) on an Ogg demuxer's input.

#include <gst/gst.h>

namespace didira {

// Puts a filter of its own on the Ogg demuxer's sink pad.
void FilterOggJoin(GstPad* demuxerSink);

} // namespace didira
