// A listener skimming through stations: hundreds of quick Open/Open and
// Open/Cancel pairs against the local radio, as fast as the event loop takes
// them. The player must survive, still play afterwards, and keep no pipeline
// of an earlier station alive; a network source is made only once the one
// before it has left the pipeline, and none is taken down on the UI thread.
#include "PlayerFixture.h"
#include "support/LocalRadio.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <algorithm>
#include <gst/gst.h>
#include <map>
#include <mutex>
#include <string>
#include <thread>

using namespace didira;
using namespace didira::test;

namespace {

// DIDIRA_SWITCHES overrides the count; sanitizer builds run fewer by default.
int SwitchCount() {
    bool ok = false;
    const int n = qEnvironmentVariableIntValue("DIDIRA_SWITCHES", &ok);
    if (ok && n > 0)
        return n;
#if defined(__SANITIZE_ADDRESS__)
    return 80;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
    return 80;
#endif
#endif
    return 300;
}

// Lets the event loop run for a moment that varies from switch to switch, so
// that a switch lands before the connection, during it, while buffering and
// while playing.
void Dwell(int i) {
    if (i % 5 == 0)
        QCoreApplication::processEvents();
    else
        Pump(std::chrono::milliseconds((i * 37) % 40));
}

// GStreamer counts its live objects when its leak tracer is on; it must be
// chosen before GStreamer starts, which is when the first player is made.
const bool kTracerChosen = [] {
    if (!qEnvironmentVariableIsSet("GST_TRACERS"))
        // Elements, pads, buses and the messages that hold them; not the
        // buffers, which would only make the tracer slow.
        qputenv("GST_TRACERS", "leaks(filters=\"GstObject,GstMessage\",stack-traces-flags=none)");
    return true;
}();

// GStreamer's leak tracer: how many more objects of each type are alive than
// at Mark().
class LiveObjectWatch {
public:
    LiveObjectWatch() {
        GList* tracers = gst_tracing_get_active_tracers();
        for (GList* l = tracers; l; l = l->next)
            if (!m_tracer && g_strcmp0(G_OBJECT_TYPE_NAME(l->data), "GstLeaksTracer") == 0)
                m_tracer = GST_TRACER(gst_object_ref(l->data));
        g_list_free_full(tracers, gst_object_unref);
    }
    ~LiveObjectWatch() {
        if (m_tracer) {
            g_signal_emit_by_name(m_tracer, "activity-stop-tracking");
            gst_object_unref(m_tracer);
        }
    }
    LiveObjectWatch(const LiveObjectWatch&) = delete;
    LiveObjectWatch& operator=(const LiveObjectWatch&) = delete;

    bool Running() const { return m_tracer != nullptr; }
    void Mark() { g_signal_emit_by_name(m_tracer, "activity-start-tracking"); }
    // By type name; each call takes what changed since the previous one.
    const std::map<std::string, int>& MoreSinceMark() {
        GstStructure* info = nullptr;
        g_signal_emit_by_name(m_tracer, "activity-get-checkpoint", &info);
        auto tally = [&](const char* field, int sign) {
            const GValue* list = info ? gst_structure_get_value(info, field) : nullptr;
            for (guint i = 0; list && i < gst_value_list_get_size(list); ++i) {
                const GstStructure* o = gst_value_get_structure(gst_value_list_get_value(list, i));
                if (const gchar* type = gst_structure_get_string(o, "type-name"))
                    m_more[type] += sign;
            }
        };
        tally("objects-created-list", 1);
        tally("objects-removed-list", -1);
        if (info)
            gst_structure_free(info);
        return m_more;
    }
    bool NoneMore() {
        const auto& more = MoreSinceMark();
        return std::all_of(more.begin(), more.end(), [](const auto& t) { return t.second <= 0; });
    }

private:
    GstTracer* m_tracer = nullptr;
    std::map<std::string, int> m_more;
};

GstState CurrentState(GstElement* element) {
    GstState state = GST_STATE_VOID_PENDING;
    gst_element_get_state(element, &state, nullptr, 0);
    return state;
}

// The network sources a pipeline makes and drops: whether one was made while
// another was still in the pipeline, and whether one was taken down on the
// thread that made the watch (the UI thread).
class SourceWatch {
public:
    explicit SourceWatch(GstElement* pipeline)
        : m_pipeline(pipeline), m_uiThread(std::this_thread::get_id()) {
        m_addedId = g_signal_connect(pipeline, "deep-element-added", G_CALLBACK(OnAdded), this);
        m_removedId =
            g_signal_connect(pipeline, "deep-element-removed", G_CALLBACK(OnRemoved), this);
    }
    ~SourceWatch() {
        g_signal_handler_disconnect(m_pipeline, m_addedId);
        g_signal_handler_disconnect(m_pipeline, m_removedId);
    }
    SourceWatch(const SourceWatch&) = delete;
    SourceWatch& operator=(const SourceWatch&) = delete;

    struct Counts {
        int made = 0;
        int overlapping = 0; // made while another was in the pipeline
        int removedOnUi = 0;
    };
    Counts Get() {
        std::lock_guard lock(m_mutex);
        return m_counts;
    }

private:
    static bool IsNetworkSource(GstElement* element) {
        GstElementFactory* factory = gst_element_get_factory(element);
        return factory && g_strcmp0(GST_OBJECT_NAME(factory), "souphttpsrc") == 0;
    }
    static void OnAdded(GstBin*, GstBin*, GstElement* element, gpointer data) {
        auto* self = static_cast<SourceWatch*>(data);
        if (!IsNetworkSource(element))
            return;
        std::lock_guard lock(self->m_mutex);
        ++self->m_counts.made;
        if (self->m_live++ > 0)
            ++self->m_counts.overlapping;
    }
    static void OnRemoved(GstBin*, GstBin*, GstElement* element, gpointer data) {
        auto* self = static_cast<SourceWatch*>(data);
        if (!IsNetworkSource(element))
            return;
        std::lock_guard lock(self->m_mutex);
        --self->m_live;
        if (std::this_thread::get_id() == self->m_uiThread)
            ++self->m_counts.removedOnUi;
    }

    GstElement* m_pipeline;
    std::thread::id m_uiThread;
    gulong m_addedId = 0;
    gulong m_removedId = 0;
    std::mutex m_mutex;
    int m_live = 0;
    Counts m_counts;
};

using Switching = WithLocalRadio<PlayerFixture>;

} // namespace

TEST_F(Switching, SkimmingBetweenTwoStationsKeepsThePlayer) {
    const QString stations[] = {radio->Url(QStringLiteral("/mp3")),
                                radio->Url(QStringLiteral("/ogg"))};
    const int count = SwitchCount();
    player.Open(stations[0]);
    ASSERT_TRUE(WaitPlaying());
    player.Cancel();
    // The teardown goes on in the background; counting starts once it is done
    // (an automatic sink makes a stand-in sink of its own at NULL).
    ASSERT_TRUE(WaitUntil([&] { return CurrentState(control->Pipeline()) == GST_STATE_NULL; },
                          std::chrono::seconds(10)));
    SourceWatch sources(control->Pipeline());
    LiveObjectWatch watch;
    ASSERT_TRUE(watch.Running()) << "GStreamer's leak tracer is not running";
    watch.Mark();

    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < count; ++i) {
        // "Recieve" closes what is open, then opens the station.
        player.Cancel();
        player.Open(stations[i % 2]);
        Dwell(i);
        if (i % 2 == 1) { // and "Cancel" stops, as often as stations change
            player.Stop();
            EXPECT_EQ(Play(), PlayState::Stopped);
            Dwell(i + 3);
        }
    }
    player.Cancel();
    // Everything the switches made is gone once the player is closed and the
    // last messages are handled.
    EXPECT_TRUE(WaitUntil([&] { return watch.NoneMore(); }, std::chrono::seconds(10)));
    for (const auto& [type, n] : watch.MoreSinceMark())
        EXPECT_LE(n, 0) << n << " more " << type << " alive than before the switches";
    const SourceWatch::Counts made = sources.Get();
    EXPECT_GT(made.made, 0);
    EXPECT_EQ(made.overlapping, 0) << "a network source was made before the last one was gone";
    EXPECT_EQ(made.removedOnUi, 0) << "a network source was taken down on the UI thread";
    RecordProperty("sources", made.made);
    RecordProperty("switches", count);
    RecordProperty("switch_ms", static_cast<int>(clock.elapsed()));

    // Still a working player: the last station plays, with no message.
    player.Open(stations[1]);
    EXPECT_TRUE(WaitPlaying()) << Opened() << ", " << Play();
    EXPECT_EQ(player.GetIsError(), FALSE);
    EXPECT_TRUE(boxes.empty()) << boxes.front().text.toStdString();
}
