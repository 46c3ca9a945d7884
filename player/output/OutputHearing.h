#pragma once
// Whether the listener hears the output: watches the audio that enters the
// output bin, tells when it is heard and when it has run dry.
//
// A live stream's first buffer can carry a timestamp well after the start of
// its segment: HLS segment times against the stream's own timestamps, fMP4
// decode times counted from the encoder's start, a demuxer joining a stream
// mid-way. The sink would hold that buffer back until the clock gets there,
// in silence. On the first buffer of a run it shifts the run's running
// time by that distance (a pad offset inside the output bin), so the first
// sample plays when it arrives; everything after keeps its spacing, so
// nothing is dropped. Data that arrives after the output ran dry (a network
// stall) is moved the same way to the present instead of being cut.
//
// Check() compares the pipeline's running time with what reached the output:
// audible once the clock has passed the end of the run's first buffer,
// starved once it has passed the end of the last one and nothing is on its
// way through the output (unless the stream has ended, which only drains the
// output). A sink that waits for the sound server is not starved, and what
// it held back is not moved: the server's stall is not the stream's.
// Thread contract: the
// probes run on streaming threads; Restart and Check take its lock and
// may run on any thread (the pipeline's state worker restarts it, the owner
// checks it); the destructor runs once no other call can come.

#include "player/gst/GstHandle.h"

#include <memory>

namespace didira {

struct OutputHearingState;

class OutputHearing {
public:
    enum class Output {
        Silent,  // nothing of this run has been played yet
        Audible, // the output is playing what it received
        Starved, // it has played everything it received and waits
    };

    // Time the clock may run past the last buffer before the output counts
    // as starved: above the poll interval and the jitter of buffer delivery.
    // A sink that takes each buffer only when the clock reaches it (no ring
    // buffer ahead) sees a streaming thread that a loaded machine holds back
    // for a moment as a gap, which must not pass for a stall: pausing for it
    // would turn a click into a second of silence.
    static constexpr GstClockTime kStarvedAfter = 200 * GST_MSECOND;
    // How long a sink may hold its data without taking more before the
    // output counts as starved: well above the sound server's own pauses
    // (such as when another client's stream has just been killed).
    static constexpr gint64 kHungAfterMs = 3000;

    // Watches outputBin's sink pad (a ghost pad).
    explicit OutputHearing(GstElement* outputBin);
    ~OutputHearing();
    OutputHearing(const OutputHearing&) = delete;
    OutputHearing& operator=(const OutputHearing&) = delete;

    // Before a new run (pipeline not running): forget the last run, undo its
    // shift; the next first buffer is measured again.
    void Restart();
    // What the output does now; pipeline must be PLAYING.
    Output Check(GstElement* pipeline) const;
    // The shift applied to this run's running time (0 or negative).
    GstClockTimeDiff Shift() const;

private:
    gst::PadPtr m_ghost;
    gst::PadPtr m_internal; // the ghost pad's inner side, which carries the offset
    std::shared_ptr<OutputHearingState> m_state;
    gulong m_probe = 0;
};

} // namespace didira
