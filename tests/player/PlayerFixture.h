#pragma once
// A real player control created the way the dialog creates it, with the
// message boxes it shows recorded instead of shown.

#include "app/BuiltInControls.h"
#include "control/ControlHost.h"
#include "control/MediaPlayer2.h"
#include "control/PlayerStates.h"
#include "player/GstHandle.h"
#include "player/GstPlayerControl.h"
#include "res/Resources.h"
#include "support/HttpTestServer.h"
#include "support/MediaFiles.h"
#include "support/TestSupport.h"
#include "ui/ControlErrorBox.h"

#include <QElapsedTimer>
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
    return ControlHost::CreateControl(QString::fromLatin1(CGstPlayerControl::kClsid), parent,
                                      {reinterpret_cast<const std::byte*>(data.constData()),
                                       static_cast<std::size_t>(data.size())});
}

// Calls back, on a streaming thread, with every buffer and downstream event
// that reaches the sink pad of the player's audio output, while it lives.
class SinkProbe {
public:
    SinkProbe(GstElement* playbin, std::function<void(GstPadProbeInfo*)> callback)
        : m_callback(std::move(callback)) {
        GstElement* sink = nullptr;
        g_object_get(playbin, "audio-sink", &sink, nullptr);
        m_pad.reset(gst_element_get_static_pad(sink, "sink"));
        gst_object_unref(sink);
        m_probe = gst_pad_add_probe(
            m_pad.get(),
            static_cast<GstPadProbeType>(GST_PAD_PROBE_TYPE_BUFFER |
                                         GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM),
            +[](GstPad*, GstPadProbeInfo* info, gpointer data) {
                static_cast<SinkProbe*>(data)->m_callback(info);
                return GST_PAD_PROBE_OK;
            },
            this, nullptr);
    }
    ~SinkProbe() { gst_pad_remove_probe(m_pad.get(), m_probe); }
    SinkProbe(const SinkProbe&) = delete;
    SinkProbe& operator=(const SinkProbe&) = delete;

private:
    std::function<void(GstPadProbeInfo*)> m_callback;
    gst::PadPtr m_pad;
    gulong m_probe = 0;
};

// Watches the audio that reaches the sink: how long the longest silence was
// since the last Reset (in wall-clock time, the sink plays in real time).
class SinkWatch {
public:
    explicit SinkWatch(GstElement* playbin)
        : m_probe(playbin, [this](GstPadProbeInfo* info) {
              if (!(info->type & GST_PAD_PROBE_TYPE_BUFFER))
                  return;
              const qint64 now = Now();
              m_maxGap = std::max<qint64>(m_maxGap, now - m_last.load());
              m_last = now;
              ++m_buffers;
          }) {}

    void Reset() {
        m_last = Now();
        m_maxGap = 0;
        m_buffers = 0;
    }
    // The longest time without audio, up to now.
    qint64 MaxGapMs() const { return std::max<qint64>(m_maxGap, Now() - m_last); }
    int Buffers() const { return m_buffers; }

private:
    qint64 Now() const {
        return std::chrono::duration_cast<std::chrono::milliseconds>(
                   std::chrono::steady_clock::now() - m_start)
            .count();
    }

    const std::chrono::steady_clock::time_point m_start = std::chrono::steady_clock::now();
    std::atomic<qint64> m_last{0};
    std::atomic<qint64> m_maxGap{0};
    std::atomic<int> m_buffers{0};
    SinkProbe m_probe; // last: gone first
};

class PlayerFixture : public ::testing::Test {
protected:
    void SetUp() override {
        ControlCreation made = CreatePlayer(&window);
        ASSERT_TRUE(made.control) << made.error.toStdString();
        control = qobject_cast<CGstPlayerControl*>(made.control);
        ASSERT_TRUE(control);
        control->SetSite(&MessageBoxControlSite()); // as the dialog does
        player.Attach(control);
        player.SetPlayOnOpen(TRUE);
    }
    void TearDown() override { delete control; }

    PlayState Play() { return static_cast<PlayState>(player.GetPlayState()); }
    OpenState Opened() { return static_cast<OpenState>(player.GetOpenState()); }

    bool WaitPlaying(std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
        return WaitUntil(
            [&] { return Play() == PlayState::Playing && Opened() == OpenState::Open; }, timeout);
    }
    bool WaitError(std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
        return WaitUntil([&] { return player.GetIsError() == TRUE; }, timeout);
    }
    // Opens url afresh; the path of the stream that plays, or why none does.
    QString PlaysFrom(const QString& url) {
        player.Cancel();
        player.Open(url);
        if (!WaitPlaying())
            return QStringLiteral("%1 not playing: open state %2")
                .arg(url)
                .arg(player.GetOpenState());
        return control->CurrentStream().path();
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

    QWidget window;
    CGstPlayerControl* control = nullptr;
    CMediaPlayer2 player;
    MessageRecorder recorder;
    std::vector<MessageBoxRequest>& boxes = recorder.boxes;
};

// The player and an HTTP server of the tests' own serving the tone (empty
// without ffmpeg) at /tone.mp3.
class ServedToneFixture : public PlayerFixture {
protected:
    void SetUp() override {
        PlayerFixture::SetUp();
        tone = media::ToneMp3();
        server.Serve("/tone.mp3", "audio/mpeg", tone);
    }
    HttpTestServer server;
    QByteArray tone;
};

// The player with a synchronised fake sink as its output whose rendered
// samples (float) the test counts: all of them, and the audible ones.
class RenderedAudioFixture : public PlayerFixture {
protected:
    void SetUp() override {
        const QByteArray saved = qgetenv(CGstPlayerControl::kAudioSinkVariable);
        qputenv(CGstPlayerControl::kAudioSinkVariable,
                "capsfilter caps=audio/x-raw,format=F32LE"
                " ! fakesink name=didira-test-output sync=true signal-handoffs=true");
        PlayerFixture::SetUp();
        qputenv(CGstPlayerControl::kAudioSinkVariable, saved);
        if (HasFatalFailure())
            return;
        // The output bin joins the pipeline only when a stream plays.
        GstElement* rawBin = nullptr;
        g_object_get(control->Pipeline(), "audio-sink", &rawBin, nullptr);
        gst::ElementPtr bin(rawBin);
        ASSERT_TRUE(bin);
        gst::ElementPtr output(gst_bin_get_by_name(GST_BIN(bin.get()), "didira-test-output"));
        ASSERT_TRUE(output);
        g_signal_connect(output.get(), "handoff", G_CALLBACK(&RenderedAudioFixture::OnRendered),
                         this);
        gst::PadPtr pad(gst_element_get_static_pad(output.get(), "sink"));
        gst_pad_add_probe(pad.get(),
                          static_cast<GstPadProbeType>(GST_PAD_PROBE_TYPE_BUFFER |
                                                       GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM),
                          &RenderedAudioFixture::OnOutput, this, nullptr);
    }

    // Gaps in the output's running time: silence the listener would hear.
    static GstPadProbeReturn OnOutput(GstPad*, GstPadProbeInfo* info, gpointer data) {
        auto* self = static_cast<RenderedAudioFixture*>(data);
        if (GstEvent* event = GST_PAD_PROBE_INFO_EVENT(info);
            event && GST_EVENT_TYPE(event) == GST_EVENT_SEGMENT) {
            gst_event_copy_segment(event, &self->segment);
            return GST_PAD_PROBE_OK;
        } else if (event && GST_EVENT_TYPE(event) == GST_EVENT_FLUSH_STOP) {
            self->runningEnd = GST_CLOCK_TIME_NONE; // running time starts again
            return GST_PAD_PROBE_OK;
        }
        GstBuffer* buffer = GST_PAD_PROBE_INFO_BUFFER(info);
        if (!buffer || !GST_BUFFER_PTS_IS_VALID(buffer) || !GST_BUFFER_DURATION_IS_VALID(buffer))
            return GST_PAD_PROBE_OK;
        const guint64 start =
            gst_segment_to_running_time(&self->segment, GST_FORMAT_TIME, GST_BUFFER_PTS(buffer));
        if (self->runningEnd != GST_CLOCK_TIME_NONE && start > self->runningEnd)
            self->longestGapNs = std::max<guint64>(self->longestGapNs, start - self->runningEnd);
        self->runningEnd = std::max<guint64>(
            start + GST_BUFFER_DURATION(buffer),
            self->runningEnd == GST_CLOCK_TIME_NONE ? 0 : self->runningEnd.load());
        return GST_PAD_PROBE_OK;
    }

    static void OnRendered(GstElement*, GstBuffer* buffer, GstPad* pad, gpointer data) {
        auto* self = static_cast<RenderedAudioFixture*>(data);
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

    std::atomic<int> rendered{0};
    std::atomic<int> audible{0};
    GstSegment segment{}; // the output's, on its streaming thread
    std::atomic<guint64> runningEnd{GST_CLOCK_TIME_NONE};
    guint64 quietRun = 0; // on the output's streaming thread
    // The longest silence since Open: a gap in running time, or near-silent
    // samples between audible ones.
    std::atomic<guint64> longestGapNs{0};
};

} // namespace didira::test
