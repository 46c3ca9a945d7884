#pragma once
// The flush the time shift's taps use to be heard at once.

#include <functional>
#include <gst/gst.h>

namespace didira {

// Drops what is downstream of pad (the network queue, the parser, the
// output) so that what pad sends next is heard at once, as a flushing seek
// would. Called on pad's streaming thread, before its next buffer; flushing
// runs once the flush has begun. The caps go again, so that an ICY demuxer
// counts from a fresh interval.
void RestartDownstream(GstPad* pad, const std::function<void()>& flushing = {});

} // namespace didira
