// Listens at a sound server's monitor source while it runs a player, and
// reports what a listener perceives:
//   didira_listen [options] -- COMMAND ARGS...
//     --device NAME   the monitor to record (default: the server's default)
//     --freq HZ       the tone to wait for from the start of COMMAND
//     --seconds S     how long to keep playing once the tone has been heard
//                     for 2 s, CPU being counted over that time (10)
//     --wait-exit     let COMMAND end by itself instead of stopping it
//     --limit S       stop COMMAND after S seconds at most (120 with
//                     --wait-exit, else 25 + the playing time)
//     --idle-from MS  measure CPU from MS after the start instead (no tone)
//     --latency-ms MS the recording's fragment (5). The sound
//                     server keeps its latency as low as the lowest any
//                     client asks for, the recorder included: 2000 leaves it
//                     as it is with nobody recording (its own maximum, as
//                     when only a loudspeaker listens), at the cost of
//                     first=, which then comes in steps of that size
// COMMAND may print "mark HZ" lines: from each, the time to hear tone HZ is
// measured again (a click on a button, a switch to another station); and
// "end" before it stops playing by itself.
// Prints one line: first=MS marks=MS,MS,... gap=MS gap-at=MS gaps=MS,MS,...
// cpu=PERCENT rss=KIB
// ("none" where the tone never came). A tone is heard once a 20 ms window of
// the recording is louder than -50 dBFS with most of its energy at HZ; the
// longest silence is the longest run of near-zero samples after that (gap-at:
// where it began, from the moment the tone was last heard; gaps: the longest
// after each tone awaited), counted in samples of the recording, so that it
// does not depend on when the recording's blocks arrive.
#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <deque>
#include <gst/app/gstappsink.h>
#include <gst/gst.h>
#include <mutex>
#include <numbers>
#include <optional>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kRate = 48000;
constexpr int kWindow = kRate / 50;     // 20 ms
constexpr int kHop = kRate / 200;       // 5 ms
constexpr double kAudibleRms = 0.00316; // -50 dBFS
constexpr float kZero = 1e-4f;

qint64 NowUs() {
    return g_get_monotonic_time();
}

// Power of one frequency in a block of samples (Goertzel), normalised so that
// a pure tone at that frequency gives the same value as its mean square.
double TonePower(const std::vector<float>& x, double hz) {
    const double w = 2.0 * std::numbers::pi * hz / kRate;
    const double c = 2.0 * std::cos(w);
    double s1 = 0, s2 = 0;
    for (float v : x) {
        const double s0 = v + c * s1 - s2;
        s2 = s1;
        s1 = s0;
    }
    const double power = s1 * s1 + s2 * s2 - c * s1 * s2;
    const double n = static_cast<double>(x.size());
    return 2.0 * power / (n * n);
}

// Shared between the recording thread and the main thread.
struct Analysis {
    std::mutex mutex;
    bool recording = false;
    double targetHz = 0;      // 0: nothing awaited
    qint64 targetSinceUs = 0; // when the wait began
    std::optional<qint64> heardUs;
    qint64 heardAtSampleUs = 0;  // the same moment in samples of the recording
    std::vector<qint64> results; // ms from each wait's start to hearing, -1 while unheard
    qint64 longestGapUs = 0;
    qint64 longestGapAtUs = 0;  // its start, from the last time a tone was heard
    std::vector<qint64> gapsUs; // the longest silence after each wait's tone
    qint64 zeroRunStartUs = -1;
    bool counting = false; // silence counts once a tone has been heard
    std::uint64_t samples = 0;
    std::uint64_t recorded = 0; // samples of the recording so far
    std::deque<float> window;
    std::vector<float> scratch;

    void Feed(const float* data, int n, qint64 endUs) {
        std::lock_guard lock(mutex);
        recording = true;
        for (int i = 0; i < n; ++i) {
            const qint64 t = endUs - static_cast<qint64>(n - 1 - i) * 1000000 / kRate;
            const qint64 at = static_cast<qint64>(recorded++ * 1000000 / kRate);
            const float v = data[i];
            if (counting) {
                if (std::fabs(v) < kZero) {
                    if (zeroRunStartUs < 0)
                        zeroRunStartUs = at;
                    else {
                        const qint64 gap = at - zeroRunStartUs;
                        gapsUs.back() = std::max(gapsUs.back(), gap);
                        if (gap > longestGapUs) {
                            longestGapUs = gap;
                            longestGapAtUs = zeroRunStartUs - heardAtSampleUs;
                        }
                    }
                } else {
                    zeroRunStartUs = -1;
                }
            }
            window.push_back(v);
            if (window.size() > kWindow)
                window.pop_front();
            if (window.size() == kWindow && ++samples % kHop == 0)
                Examine(t, at);
        }
    }

    void Examine(qint64 t, qint64 atSample) {
        if (targetHz <= 0 || heardUs)
            return;
        scratch.assign(window.begin(), window.end());
        double energy = 0;
        for (float v : scratch)
            energy += double(v) * v;
        energy /= kWindow;
        if (std::sqrt(energy) < kAudibleRms || TonePower(scratch, targetHz) < 0.5 * energy)
            return;
        // The middle of the first window that holds the tone.
        const qint64 at = std::max(targetSinceUs, t - 10000);
        heardUs = at;
        heardAtSampleUs = atSample - 10000;
        results.back() = (at - targetSinceUs) / 1000;
        counting = true;
        zeroRunStartUs = -1;
    }

    // The player is about to stop: what follows is not a gap.
    void StopCounting() {
        std::lock_guard lock(mutex);
        counting = false;
        targetHz = 0;
    }

    void Await(double hz) {
        std::lock_guard lock(mutex);
        targetHz = hz;
        targetSinceUs = NowUs();
        heardUs.reset();
        results.push_back(-1);
        gapsUs.push_back(0);
        // A switch legitimately pauses: silence counts again once heard.
        counting = false;
        zeroRunStartUs = -1;
    }
};

Analysis g_analysis;

GstFlowReturn OnSample(GstAppSink* sink, gpointer) {
    GstSample* sample = gst_app_sink_pull_sample(sink);
    if (!sample)
        return GST_FLOW_EOS;
    const qint64 now = NowUs();
    GstBuffer* buffer = gst_sample_get_buffer(sample);
    GstMapInfo map;
    if (buffer && gst_buffer_map(buffer, &map, GST_MAP_READ)) {
        g_analysis.Feed(reinterpret_cast<const float*>(map.data),
                        static_cast<int>(map.size / sizeof(float)), now);
        gst_buffer_unmap(buffer, &map);
    }
    gst_sample_unref(sample);
    return GST_FLOW_OK;
}

// utime + stime of a process in clock ticks, and its peak resident memory.
qint64 CpuTicks(qint64 pid) {
    QFile f(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray text = f.readAll();
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    // Fields after the name start at "state" (3rd); utime and stime are 14th and 15th.
    if (fields.size() < 13)
        return -1;
    return fields[11].toLongLong() + fields[12].toLongLong();
}

qint64 PeakRssKib(qint64 pid) {
    QFile f(QStringLiteral("/proc/%1/status").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toLongLong();
    return -1;
}

} // namespace

int main(int argc, char** argv) {
    // GStreamer's own option parsing would take the "--" away.
    gst_init(nullptr, nullptr);
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    QString device;
    double freq = 0;
    double seconds = 10;
    bool waitExit = false;
    int idleFromMs = -1;
    int latencyMs = 5;
    double limitSeconds = 0;
    while (!args.isEmpty() && args.first() != u"--") {
        const QString option = args.takeFirst();
        if (option == u"--wait-exit") {
            waitExit = true;
            continue;
        }
        const QString value = args.isEmpty() ? QString() : args.takeFirst();
        if (option == u"--device")
            device = value;
        else if (option == u"--freq")
            freq = value.toDouble();
        else if (option == u"--seconds")
            seconds = value.toDouble();
        else if (option == u"--idle-from")
            idleFromMs = value.toInt();
        else if (option == u"--limit")
            limitSeconds = value.toDouble();
        else if (option == u"--latency-ms")
            latencyMs = std::max(value.toInt(), 1);
        else {
            std::fprintf(stderr, "didira_listen: unknown option %s\n", qPrintable(option));
            return 2;
        }
    }
    if (args.size() < 2) {
        std::fprintf(stderr, "usage: didira_listen [options] -- COMMAND ARGS...\n");
        return 2;
    }
    args.removeFirst();

    const QByteArray description =
        "pulsesrc name=src buffer-time=" + QByteArray::number(std::max(latencyMs * 2000, 20000)) +
        " latency-time=" + QByteArray::number(latencyMs * 1000) +
        " ! audio/x-raw,format=F32LE,rate=48000,channels=1 ! "
        "appsink name=out sync=false max-buffers=1000";
    GError* error = nullptr;
    GstElement* recorder = gst_parse_launch(description.constData(), &error);
    if (!recorder || error) {
        std::fprintf(stderr, "didira_listen: %s\n", error ? error->message : "no recorder");
        return 1;
    }
    if (!device.isEmpty()) {
        GstElement* src = gst_bin_get_by_name(GST_BIN(recorder), "src");
        g_object_set(src, "device", device.toUtf8().constData(), nullptr);
        gst_object_unref(src);
    }
    GstElement* out = gst_bin_get_by_name(GST_BIN(recorder), "out");
    GstAppSinkCallbacks callbacks{};
    callbacks.new_sample = OnSample;
    gst_app_sink_set_callbacks(GST_APP_SINK(out), &callbacks, nullptr, nullptr);
    gst_object_unref(out);
    gst_element_set_state(recorder, GST_STATE_PLAYING);

    // The player starts once the recording runs.
    const qint64 recordDeadline = NowUs() + 5000000;
    while (true) {
        {
            std::lock_guard lock(g_analysis.mutex);
            if (g_analysis.recording)
                break;
        }
        if (NowUs() > recordDeadline) {
            std::fprintf(stderr, "didira_listen: the monitor delivers nothing\n");
            return 1;
        }
        g_usleep(2000);
    }

    QProcess player;
    player.setProcessChannelMode(QProcess::SeparateChannels);
    player.setStandardErrorFile(QProcess::nullDevice());
    qint64 pid = 0;
    qint64 cpuStart = -1;
    qint64 cpuStartUs = 0;
    qint64 cpuEnd = -1;
    qint64 cpuEndUs = 0;
    qint64 rss = -1;
    const qint64 startUs = NowUs();
    bool playingTimerStarted = false;
    qint64 heardUs = 0;
    constexpr int kSettleMs = 2000;

    auto finish = [&] {
        g_analysis.StopCounting();
        if (pid > 0 && cpuEnd < 0) {
            cpuEnd = CpuTicks(pid);
            cpuEndUs = NowUs();
            rss = PeakRssKib(pid);
        }
        if (player.state() != QProcess::NotRunning) {
            player.terminate();
            if (!player.waitForFinished(3000)) {
                player.kill();
                player.waitForFinished(2000);
            }
        }
        app.quit();
    };
    auto startCpu = [&] {
        if (cpuStart < 0 && pid > 0) {
            cpuStart = CpuTicks(pid);
            cpuStartUs = NowUs();
        }
    };

    QObject::connect(&player, &QProcess::readyReadStandardOutput, &player, [&] {
        while (player.canReadLine()) {
            const QByteArray line = player.readLine().trimmed();
            if (line.startsWith("mark "))
                g_analysis.Await(line.mid(5).toDouble());
            else if (line == "end")
                g_analysis.StopCounting();
        }
    });
    QObject::connect(&player, &QProcess::finished, &app, [&] {
        pid = 0; // its /proc entry is gone
        app.quit();
    });

    // Polls the analysis: the playing period starts when the tone is heard.
    QTimer poll;
    poll.setInterval(20);
    QObject::connect(&poll, &QTimer::timeout, &app, [&] {
        if (idleFromMs >= 0 && (NowUs() - startUs) / 1000 >= idleFromMs)
            startCpu();
        bool heard;
        {
            std::lock_guard lock(g_analysis.mutex);
            heard = std::any_of(g_analysis.results.begin(), g_analysis.results.end(),
                                [](qint64 ms) { return ms >= 0; });
        }
        // CPU is counted once playing has settled: one-time work (plugin
        // loads, probing the stream) is left out, for every player alike.
        if (heard && heardUs == 0)
            heardUs = NowUs();
        if (heard && NowUs() - heardUs >= kSettleMs * 1000)
            startCpu();
        if (heard && !waitExit && !playingTimerStarted) {
            playingTimerStarted = true;
            QTimer::singleShot(kSettleMs + static_cast<int>(seconds * 1000), &app, finish);
        }
        // Just before a self-ending player exits, the figures are taken.
        if (waitExit && pid > 0) {
            // A process that is ending has no memory figures left: keep the last.
            const qint64 ticks = CpuTicks(pid);
            const qint64 peak = PeakRssKib(pid);
            if (ticks >= 0 && peak > 0) {
                cpuEnd = ticks;
                cpuEndUs = NowUs();
                rss = peak;
            }
        }
    });
    poll.start();
    // Bound on the whole run: a player that never sounds is stopped.
    const double limit = limitSeconds > 0 ? limitSeconds : (waitExit ? 120 : 25 + seconds);
    const int hardLimitMs = static_cast<int>(limit * 1000);
    QTimer::singleShot(hardLimitMs, &app, finish);
    if (idleFromMs >= 0)
        QTimer::singleShot(idleFromMs + static_cast<int>(seconds * 1000), &app, finish);

    if (freq > 0)
        g_analysis.Await(freq);
    player.start(args.first(), args.mid(1));
    if (!player.waitForStarted(5000)) {
        std::fprintf(stderr, "didira_listen: cannot start %s\n", qPrintable(args.first()));
        return 1;
    }
    pid = player.processId();
    app.exec();
    if (player.state() != QProcess::NotRunning)
        finish();

    gst_element_set_state(recorder, GST_STATE_NULL);
    gst_object_unref(recorder);

    std::lock_guard lock(g_analysis.mutex);
    const long ticksPerSecond = sysconf(_SC_CLK_TCK);
    QString cpu = QStringLiteral("none");
    if (cpuStart >= 0 && cpuEnd >= cpuStart && cpuEndUs > cpuStartUs)
        cpu = QString::number(100.0 * double(cpuEnd - cpuStart) / double(ticksPerSecond) /
                                  (double(cpuEndUs - cpuStartUs) / 1e6),
                              'f', 1);
    QStringList marks;
    for (qint64 ms : g_analysis.results)
        marks << (ms >= 0 ? QString::number(ms) : QStringLiteral("none"));
    const bool awaitedFromStart = freq > 0;
    const QString first =
        awaitedFromStart && !marks.isEmpty() ? marks.first() : QStringLiteral("none");
    if (awaitedFromStart && !marks.isEmpty())
        marks.removeFirst();
    QStringList gaps;
    for (qint64 us : g_analysis.gapsUs)
        gaps << QString::number(us / 1000);
    std::printf("first=%s marks=%s gap=%lld gap-at=%lld gaps=%s cpu=%s rss=%lld\n",
                qPrintable(first), marks.isEmpty() ? "none" : qPrintable(marks.join(u',')),
                static_cast<long long>(g_analysis.longestGapUs / 1000),
                static_cast<long long>(g_analysis.longestGapAtUs / 1000),
                qPrintable(gaps.join(u',')), qPrintable(cpu), static_cast<long long>(rss));
    return 0;
}
