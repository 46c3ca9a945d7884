// The output's hearing on a pipeline of its own: an appsrc feeds an output bin
// like the player's, with the timestamps a live stream joined mid-way has
// (the first buffer seconds after its segment's start).
#include "player/output/OutputHearing.h"
#include "support/TestSupport.h"

#include <atomic>
#include <gst/app/gstappsrc.h>
#include <gtest/gtest.h>

using namespace didira;
using namespace didira::test;
using namespace std::chrono_literals;

namespace {

constexpr int kRate = 48000;
constexpr GstClockTime kBufferTime = 20 * GST_MSECOND;

class OutputHearingTest : public ::testing::Test {
protected:
    void SetUp() override {
        gst_init(nullptr, nullptr);
        pipeline.reset(GST_ELEMENT(gst_object_ref_sink(gst_pipeline_new(nullptr))));
        source = gst_element_factory_make("appsrc", nullptr);
        GstElement* output = gst_parse_bin_from_description(
            "audioconvert ! fakesink name=out sync=true signal-handoffs=true", TRUE, nullptr);
        ASSERT_TRUE(source && output);
        GstCaps* parsed = gst_caps_from_string(
            "audio/x-raw,format=S16LE,layout=interleaved,rate=48000,channels=1");
        g_object_set(source, "format", GST_FORMAT_TIME, "caps", parsed, nullptr);
        gst_caps_unref(parsed);
        gst_bin_add_many(GST_BIN(pipeline.get()), source, output, nullptr);
        ASSERT_TRUE(gst_element_link(source, output));
        hearing = std::make_unique<OutputHearing>(output);
        gst::ElementPtr sink(gst_bin_get_by_name(GST_BIN(output), "out"));
        g_signal_connect(sink.get(), "handoff",
                         G_CALLBACK(+[](GstElement*, GstBuffer*, GstPad*, gpointer data) {
                             auto* self = static_cast<OutputHearingTest*>(data);
                             if (self->rendered++ == 0)
                                 self->firstRenderedAt =
                                     gst_element_get_current_running_time(self->pipeline.get());
                         }),
                         this);
    }
    void TearDown() override {
        hearing.reset();
        if (pipeline)
            gst_element_set_state(pipeline.get(), GST_STATE_NULL);
    }

    // Queues count buffers of a tone from pts on, 20 ms each.
    void Push(GstClockTime pts, int count) {
        const int samples = static_cast<int>(kRate * kBufferTime / GST_SECOND);
        for (int i = 0; i < count; ++i) {
            GstBuffer* buffer = gst_buffer_new_allocate(nullptr, samples * 2, nullptr);
            GstMapInfo map;
            gst_buffer_map(buffer, &map, GST_MAP_WRITE);
            auto* s = reinterpret_cast<gint16*>(map.data);
            for (int k = 0; k < samples; ++k)
                s[k] = static_cast<gint16>((k % 48) < 24 ? 8000 : -8000);
            gst_buffer_unmap(buffer, &map);
            GST_BUFFER_PTS(buffer) = pts + i * kBufferTime;
            GST_BUFFER_DURATION(buffer) = kBufferTime;
            ASSERT_EQ(gst_app_src_push_buffer(GST_APP_SRC(source), buffer), GST_FLOW_OK);
        }
    }

    OutputHearing::Output Check() const { return hearing->Check(pipeline.get()); }
    bool WaitFor(OutputHearing::Output output, std::chrono::milliseconds bound = 3s) {
        return WaitUntil([&] { return Check() == output; }, bound);
    }

    gst::ElementPtr pipeline;
    GstElement* source = nullptr; // owned by the pipeline
    std::unique_ptr<OutputHearing> hearing;
    std::atomic<int> rendered{0};
    std::atomic<GstClockTime> firstRenderedAt{GST_CLOCK_TIME_NONE};
};

} // namespace

TEST_F(OutputHearingTest, LateFirstTimestampPlaysAtOnceAndKeepsEveryBuffer) {
    // Five seconds after the segment's start, as a mid-way join can give.
    Push(5 * GST_SECOND, 25);
    ASSERT_NE(gst_element_set_state(pipeline.get(), GST_STATE_PLAYING), GST_STATE_CHANGE_FAILURE);
    ASSERT_TRUE(WaitFor(OutputHearing::Output::Audible)) << "the output waited on the clock";
    EXPECT_EQ(hearing->Shift(), -GstClockTimeDiff(5 * GST_SECOND));
    EXPECT_LT(firstRenderedAt.load(), 500 * GST_MSECOND);

    // Nothing is dropped for it, and later buffers keep their spacing.
    Push(5 * GST_SECOND + 25 * kBufferTime, 25);
    ASSERT_TRUE(WaitUntil([&] { return rendered.load() == 50; }, 5s)) << rendered.load();

    // Once the output has played everything it got, it starves; what comes
    // after the stall is behind the clock and plays from then on, whole.
    EXPECT_TRUE(WaitFor(OutputHearing::Output::Starved));
    Pump(300ms);
    Push(5 * GST_SECOND + 50 * kBufferTime, 10);
    EXPECT_TRUE(WaitFor(OutputHearing::Output::Audible));
    EXPECT_TRUE(WaitUntil([&] { return rendered.load() == 60; }, 3s)) << rendered.load();
    // Moved later by at least the stall.
    EXPECT_GT(hearing->Shift(), -GstClockTimeDiff(5 * GST_SECOND - 300 * GST_MSECOND));
}

TEST_F(OutputHearingTest, NothingPlayedIsSilentAndANewRunIsMeasuredAgain) {
    // Playing before any data: the first buffer still plays when it comes.
    ASSERT_NE(gst_element_set_state(pipeline.get(), GST_STATE_PLAYING), GST_STATE_CHANGE_FAILURE);
    Pump(300ms);
    EXPECT_EQ(Check(), OutputHearing::Output::Silent);
    Push(2 * GST_SECOND, 5);
    ASSERT_TRUE(WaitFor(OutputHearing::Output::Audible));
    EXPECT_TRUE(WaitUntil([&] { return rendered.load() == 5; }, 3s)) << rendered.load();

    // A new run whose timestamps start with its segment is not shifted.
    gst_element_set_state(pipeline.get(), GST_STATE_NULL);
    hearing->Restart();
    rendered = 0;
    ASSERT_NE(gst_element_set_state(pipeline.get(), GST_STATE_PLAYING), GST_STATE_CHANGE_FAILURE);
    Push(0, 5);
    ASSERT_TRUE(WaitUntil([&] { return rendered.load() > 0; }, 3s));
    EXPECT_EQ(hearing->Shift(), 0);
}

TEST_F(OutputHearingTest, ASinkThatHoldsDataIsNeitherStarvedNorMoved) {
    // The sound server takes nothing for a while: the sink holds its buffer
    // while the clock runs on past the data.
    gst::ElementPtr sink(gst_bin_get_by_name(GST_BIN(pipeline.get()), "out"));
    gst::PadPtr pad(gst_element_get_static_pad(sink.get(), "sink"));
    const gulong hold = gst_pad_add_probe(
        pad.get(),
        static_cast<GstPadProbeType>(GST_PAD_PROBE_TYPE_BLOCK | GST_PAD_PROBE_TYPE_BUFFER),
        [](GstPad*, GstPadProbeInfo*, gpointer data) {
            return static_cast<std::atomic<int>*>(data)->load() >= 5 ? GST_PAD_PROBE_OK
                                                                     : GST_PAD_PROBE_PASS;
        },
        &rendered, nullptr);
    Push(0, 25);
    ASSERT_NE(gst_element_set_state(pipeline.get(), GST_STATE_PLAYING), GST_STATE_CHANGE_FAILURE);
    ASSERT_TRUE(WaitUntil([&] { return rendered.load() == 5; }, 3s));
    EXPECT_FALSE(WaitFor(OutputHearing::Output::Starved, 600ms));

    // Let go, the data comes late but in order: played as it is, all of it.
    gst_pad_remove_probe(pad.get(), hold);
    EXPECT_TRUE(WaitUntil([&] { return rendered.load() == 25; }, 3s)) << rendered.load();
    EXPECT_EQ(hearing->Shift(), 0);
    // Once it has played all it got and nothing more comes, it is dry.
    EXPECT_TRUE(WaitFor(OutputHearing::Output::Starved));
}
