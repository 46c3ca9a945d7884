#pragma once
// A real player control created the way the dialog creates it, with the
// message boxes it shows recorded instead of shown, playing into a
// synchronised fake output whose rendered samples (float), gaps and titles
// the tests count.

#include "app/BuiltInControls.h"
#include "control/ControlHost.h"
#include "control/MediaPlayer2.h"
#include "control/PlayerStates.h"
#include "player/GstPlayerControl.h"
#include "player/gst/GstHandle.h"
#include "res/Resources.h"
#include "support/HttpTestServer.h"
#include "support/MediaFiles.h"
#include "support/TestSupport.h"
#include "ui/ControlErrorBox.h"

#include <QWidget>
#include <atomic>
#include <cmath>
#include <functional>
#include <gtest/gtest.h>

namespace didira::test {

// Creates the real control from the template entry, or from other state bytes.
inline ControlCreation CreatePlayer(QWidget* parent,
                                    const QByteArray& data = MediaPlayerInitData()) {
    RegisterBuiltInControls();
    return ControlHost::CreateControl(QString::fromLatin1(kMediaPlayerClsid), parent,
                                      {reinterpret_cast<const std::byte*>(data.constData()),
                                       static_cast<std::size_t>(data.size())});
}

class PlayerFixture : public ::testing::Test {
protected:
    void SetUp() override {
        const QByteArray saved = qgetenv(CGstPlayerControl::kAudioSinkVariable);
        qputenv(CGstPlayerControl::kAudioSinkVariable, outputSink);
        ControlCreation made = CreatePlayer(&window);
        qputenv(CGstPlayerControl::kAudioSinkVariable, saved);
        ASSERT_TRUE(made.control) << made.error.toStdString();
        control = qobject_cast<CGstPlayerControl*>(made.control);
        ASSERT_TRUE(control);
        control->SetSite(&MessageBoxControlSite()); // as the dialog does
        player.Attach(control);
        player.SetPlayOnOpen(TRUE);
        // The output bin joins the pipeline only when a stream plays.
        GstElement* rawBin = nullptr;
        g_object_get(control->Pipeline(), "audio-sink", &rawBin, nullptr);
        gst::ElementPtr bin(rawBin);
        ASSERT_TRUE(bin);
        m_output.reset(gst_bin_get_by_name(GST_BIN(bin.get()), "didira-test-output"));
        if (!m_output)
            return; // an output of the test's own choice: nothing counted
        m_handoff = g_signal_connect(m_output.get(), "handoff",
                                     G_CALLBACK(&PlayerFixture::OnRendered), this);
        m_outputPad.reset(gst_element_get_static_pad(m_output.get(), "sink"));
        m_outputProbe =
            gst_pad_add_probe(m_outputPad.get(),
                              static_cast<GstPadProbeType>(GST_PAD_PROBE_TYPE_BUFFER |
                                                           GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM |
                                                           GST_PAD_PROBE_TYPE_EVENT_FLUSH),
                              &PlayerFixture::OnOutput, this, nullptr);
    }
    // A pipeline whose teardown hangs may outlive the fixture: it no longer
    // reports to it.
    void TearDown() override {
        if (m_output) {
            g_signal_handler_disconnect(m_output.get(), m_handoff);
            gst_pad_remove_probe(m_outputPad.get(), m_outputProbe);
        }
        delete control;
    }

    PlayState Play() { return static_cast<PlayState>(player.GetPlayState()); }
    OpenState Opened() { return static_cast<OpenState>(player.GetOpenState()); }
    GstState PipelineState() {
        GstState state = GST_STATE_VOID_PENDING;
        gst_element_get_state(control->Pipeline(), &state, nullptr, 0);
        return state;
    }

    bool WaitPlaying(std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
        return WaitUntil(
            [&] { return Play() == PlayState::Playing && Opened() == OpenState::Open; }, timeout);
    }
    // Opens url afresh; the path (and query) of the stream that plays, or why
    // none does.
    QString PlaysFrom(const QString& url) {
        player.Cancel();
        player.Open(url);
        if (!WaitPlaying())
            return QStringLiteral("%1 not playing: open state %2")
                .arg(url)
                .arg(player.GetOpenState());
        const QUrl stream = control->CurrentStream();
        return stream.path() + (stream.hasQuery() ? u'?' + stream.query() : QString());
    }
    // Opens url afresh and expects it to fail, closed, with one box; its text.
    QString FailureText(const QString& url,
                        std::chrono::milliseconds bound = std::chrono::seconds(30)) {
        boxes.clear();
        player.Cancel();
        player.Open(url);
        if (!WaitUntil([&] { return !boxes.empty(); }, bound)) {
            ADD_FAILURE() << url.toStdString() << ": no box; play state " << Play();
            return {};
        }
        Pump(std::chrono::milliseconds(300)); // no second box
        EXPECT_EQ(boxes.size(), 1u) << url.toStdString();
        EXPECT_EQ(player.GetIsError(), TRUE) << url.toStdString();
        EXPECT_EQ(Opened(), OpenState::Closed) << url.toStdString();
        EXPECT_EQ(Play(), PlayState::Closed) << url.toStdString();
        return boxes.back().text;
    }

    // Opens url and waits for play state 2, which must not come before the
    // output has rendered samples; then for a tenth of a second of sound.
    void ExpectHeard(const QString& url, std::chrono::milliseconds within) {
        rendered = audible = 0;
        quietRun = 0;
        runningEnd = GST_CLOCK_TIME_NONE;
        longestGapNs = 0;
        player.Open(url);
        int renderedAtPlaying = -1;
        ASSERT_TRUE(WaitUntil(
            [&] {
                if (player.GetPlayState() != 2)
                    return false;
                renderedAtPlaying = rendered.load();
                return true;
            },
            within))
            << url.toStdString() << ": play state " << player.GetPlayState() << ", open state "
            << player.GetOpenState() << ", rendered " << rendered.load();
        EXPECT_GT(renderedAtPlaying, 0) << url.toStdString() << ": playing before any sound";
        EXPECT_TRUE(WaitUntil([&] { return audible.load() > 9600; }, within))
            << url.toStdString() << ": only " << audible.load() << " audible samples";
    }

    // Plays on for a while: never leaves playing, never a second without
    // output, no reconnection and no box.
    void ExpectSteady(const QString& url, std::chrono::milliseconds playFor) {
        const qint64 start = NowMs();
        lastRenderedMs = start;
        longestWaitMs = 0;
        bool steady = true;
        WaitUntil(
            [&] {
                steady = steady && player.GetPlayState() == 2;
                return false;
            },
            playFor);
        EXPECT_TRUE(steady) << url.toStdString() << " left the playing state";
        EXPECT_LT(std::max<qint64>(longestWaitMs, NowMs() - lastRenderedMs), 1000)
            << url.toStdString();
        EXPECT_GT(lastRenderedMs.load(), start) << url.toStdString();
        EXPECT_EQ(control->ReconnectCount(), 0) << url.toStdString();
        EXPECT_TRUE(boxes.empty()) << (boxes.empty() ? "" : boxes[0].text.toStdString());
    }

    // Set before SetUp for another output than the counted one.
    QByteArray outputSink = "capsfilter caps=audio/x-raw,format=F32LE"
                            " ! fakesink name=didira-test-output sync=true signal-handoffs=true";
    QWidget window;
    CGstPlayerControl* control = nullptr;
    CMediaPlayer2 player;
    MessageRecorder recorder;
    std::vector<MessageBoxRequest>& boxes = recorder.boxes;

    std::atomic<int> rendered{0};
    std::atomic<int> outputFlushes{0}; // reached the output (a move's restart)
    std::atomic<int> audible{0};
    // The longest silence since ExpectHeard: a gap in running time, or
    // near-silent samples between audible ones.
    std::atomic<guint64> longestGapNs{0};
    // Buffers that reached the output after a tag event titled
    // outputTitleWatched, once one has.
    std::atomic<int> buffersAfterWatchedTitle{-1};
    std::atomic<const char*> outputTitleWatched{nullptr};

private:
    static qint64 NowMs() {
        return std::chrono::duration_cast<std::chrono::milliseconds>(
                   std::chrono::steady_clock::now().time_since_epoch())
            .count();
    }

    static GstPadProbeReturn OnOutput(GstPad*, GstPadProbeInfo* info, gpointer data) {
        auto* self = static_cast<PlayerFixture*>(data);
        if (GstEvent* event = GST_PAD_PROBE_INFO_EVENT(info);
            event && GST_EVENT_TYPE(event) == GST_EVENT_SEGMENT) {
            gst_event_copy_segment(event, &self->segment);
            return GST_PAD_PROBE_OK;
        } else if (event && GST_EVENT_TYPE(event) == GST_EVENT_FLUSH_STOP) {
            self->runningEnd = GST_CLOCK_TIME_NONE; // running time starts again
            ++self->outputFlushes;
            return GST_PAD_PROBE_OK;
        } else if (event && GST_EVENT_TYPE(event) == GST_EVENT_TAG) {
            GstTagList* tags = nullptr;
            gst_event_parse_tag(event, &tags);
            const gchar* title = nullptr;
            if (self->buffersAfterWatchedTitle < 0 && self->outputTitleWatched &&
                gst_tag_list_peek_string_index(tags, GST_TAG_TITLE, 0, &title) &&
                g_strcmp0(title, self->outputTitleWatched) == 0)
                self->buffersAfterWatchedTitle = 0;
            return GST_PAD_PROBE_OK;
        }
        GstBuffer* buffer = GST_PAD_PROBE_INFO_BUFFER(info);
        if (buffer && self->buffersAfterWatchedTitle >= 0)
            ++self->buffersAfterWatchedTitle;
        if (!buffer || !GST_BUFFER_PTS_IS_VALID(buffer) || !GST_BUFFER_DURATION_IS_VALID(buffer))
            return GST_PAD_PROBE_OK;
        const guint64 start =
            gst_segment_to_running_time(&self->segment, GST_FORMAT_TIME, GST_BUFFER_PTS(buffer));
        const guint64 end = self->runningEnd;
        if (end != GST_CLOCK_TIME_NONE && start > end)
            self->longestGapNs = std::max<guint64>(self->longestGapNs, start - end);
        self->runningEnd = std::max<guint64>(start + GST_BUFFER_DURATION(buffer),
                                             end == GST_CLOCK_TIME_NONE ? 0 : end);
        return GST_PAD_PROBE_OK;
    }

    static void OnRendered(GstElement*, GstBuffer* buffer, GstPad* pad, gpointer data) {
        auto* self = static_cast<PlayerFixture*>(data);
        const qint64 now = NowMs();
        self->longestWaitMs = std::max<qint64>(self->longestWaitMs, now - self->lastRenderedMs);
        self->lastRenderedMs = now;
        gint rate = 0;
        gint channels = 0;
        if (GstCaps* caps = gst_pad_get_current_caps(pad)) {
            const GstStructure* format = gst_caps_get_structure(caps, 0);
            gst_structure_get_int(format, "rate", &rate);
            gst_structure_get_int(format, "channels", &channels);
            gst_caps_unref(caps);
        }
        GstMapInfo map;
        if (!gst_buffer_map(buffer, &map, GST_MAP_READ))
            return;
        const auto* samples = reinterpret_cast<const float*>(map.data);
        const std::size_t count = map.size / sizeof(float);
        int loud = 0;
        for (std::size_t i = 0; i < count; ++i) {
            if (std::fabs(samples[i]) <= 0.01f) {
                ++self->quietRun;
                continue;
            }
            ++loud;
            // Silence between sounds: a test tone has none of its own.
            if (self->audible > 0 && rate > 0 && channels > 0)
                self->longestGapNs = std::max<guint64>(
                    self->longestGapNs, self->quietRun * GST_SECOND / guint64(rate * channels));
            self->quietRun = 0;
        }
        gst_buffer_unmap(buffer, &map);
        self->rendered += static_cast<int>(count);
        self->audible += loud;
    }

    GstSegment segment{}; // the output's, on its streaming thread
    std::atomic<guint64> runningEnd{GST_CLOCK_TIME_NONE};
    guint64 quietRun = 0; // on the output's streaming thread
    std::atomic<qint64> lastRenderedMs{0};
    std::atomic<qint64> longestWaitMs{0}; // between two rendered buffers
    gst::ElementPtr m_output;
    gst::PadPtr m_outputPad;
    gulong m_handoff = 0;
    gulong m_outputProbe = 0;
};

} // namespace didira::test
