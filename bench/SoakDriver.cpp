// The two long-running loads of bench/soak.sh, each in a process of its own so
// that the memory of one never shows in the other:
//
//   didira_soak play BASE_URL SECONDS SWITCH_SECONDS
//     The real player control, headless, as the dialog drives it: every
//     SWITCH_SECONDS it cancels and opens the next station of the local radio
//     under BASE_URL. One line per switch: "switch <n> <path> audio=<0|1>"
//     (whether the station left behind reached the sink), then "end ...".
//
//   didira_soak automation CYCLES SECONDS CSV
//     A client on the session bus (the private bus of the soak): first
//     creates one object and holds it to the end (the server-mode process it
//     starts is printed as "held pid=<pid>"), then spreads CYCLES
//     CreateInstance / Release cycles over SECONDS. Each cycle starts a new
//     server-mode process; its pid, memory, threads and descriptors just
//     before the release and the times of the cycle go to CSV. Ends with
//     "end cycles=<n> failed=<n>".
#include "BenchControl.h"
#include "control/ControlHost.h"
#include "control/MediaPlayer2.h"
#include "player/GstPlayerControl.h"
#include "res/Resources.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QThread>
#include <QTimer>
#include <QWidget>
#include <cstdio>

namespace {

using namespace didira;

int Play(const QString& base, double seconds, double switchSeconds) {
    const QStringList stations = {
        QStringLiteral("/mp3"),
        QStringLiteral("/ogg"),
        QStringLiteral("/aac"),
        QStringLiteral("/vorbis"),
        QStringLiteral("/flac"),
        QStringLiteral("/hls-ts/live.m3u8"),
        QStringLiteral("/station-mp3.asx"),
        QStringLiteral("/station-ogg.pls"),
    };
    bench::BenchPlayer made;
    if (!made.control)
        return 1;
    CGstPlayerControl* control = made.control;
    CMediaPlayer2& player = made.player;

    bool audio = false;
    int switches = 0;
    int withAudio = 0;
    QObject::connect(control, &CGstPlayerControl::FirstAudio, control, [&] { audio = true; });
    auto next = [&] {
        const QString& path = stations[switches % stations.size()];
        if (switches > 0) {
            withAudio += audio ? 1 : 0;
            std::printf("switch %d %s audio=%d\n", switches,
                        qPrintable(stations[(switches - 1) % stations.size()]), audio ? 1 : 0);
            std::fflush(stdout);
        }
        ++switches;
        audio = false;
        // What the dialog's "Recieve" does.
        player.Cancel();
        player.Open(base + path);
    };
    QTimer switcher;
    QObject::connect(&switcher, &QTimer::timeout, &switcher, next);
    switcher.start(static_cast<int>(switchSeconds * 1000));
    QTimer::singleShot(static_cast<int>(seconds * 1000), qApp, [&] {
        withAudio += audio ? 1 : 0;
        std::printf("end switches=%d with-audio=%d play-state=%ld open-state=%ld\n", switches,
                    withAudio, player.GetPlayState(), player.GetOpenState());
        std::fflush(stdout);
        player.Cancel();
        qApp->quit();
    });
    next();
    return qApp->exec();
}

const QString kProgId = QStringLiteral("Vavaroz.Application");
const QString kFactoryPath = QStringLiteral("/Vavaroz/Application");

QDBusMessage BusCall(const QString& method, const QVariantList& args) {
    QDBusMessage m = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.DBus"),
                                                    QStringLiteral("/org/freedesktop/DBus"),
                                                    QStringLiteral("org.freedesktop.DBus"), method);
    m.setArguments(args);
    return m;
}

struct Created {
    QString service;
    QString path;
    qint64 pid = 0;
    QString error;
};

Created CreateInstance(QDBusConnection& bus) {
    const QDBusMessage reply =
        bus.call(QDBusMessage::createMethodCall(kProgId, kFactoryPath,
                                                kProgId + QStringLiteral(".ClassFactory"),
                                                QStringLiteral("CreateInstance")),
                 QDBus::Block, 30000);
    Created c;
    if (reply.type() != QDBusMessage::ReplyMessage) {
        c.error = reply.errorName() + QStringLiteral(": ") + reply.errorMessage();
        return c;
    }
    c.service = reply.service();
    c.path = qvariant_cast<QDBusObjectPath>(reply.arguments().value(0)).path();
    const QDBusMessage pid =
        bus.call(BusCall(QStringLiteral("GetConnectionUnixProcessID"), {c.service}));
    c.pid = pid.arguments().value(0).toLongLong();
    return c;
}

// "rss_kib,threads,fds" of a live process, from /proc.
QByteArray ProcessFigures(qint64 pid) {
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    qint64 rss = -1;
    qint64 threads = -1;
    if (status.open(QIODevice::ReadOnly)) {
        for (const QByteArray& line : status.readAll().split('\n')) {
            if (line.startsWith("VmRSS:"))
                rss = line.mid(6).trimmed().split(' ').value(0).toLongLong();
            else if (line.startsWith("Threads:"))
                threads = line.mid(8).trimmed().toLongLong();
        }
    }
    const qsizetype fds =
        QDir(QStringLiteral("/proc/%1/fd").arg(pid)).entryList(QDir::Files | QDir::System).size();
    return QByteArray::number(rss) + ',' + QByteArray::number(threads) + ',' +
           QByteArray::number(fds);
}

bool ProcessGone(qint64 pid) {
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    return !status.open(QIODevice::ReadOnly) || status.readAll().contains("State:\tZ");
}

int Automation(int cycles, double seconds, const QString& csvPath) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        std::fprintf(stderr, "no session bus\n");
        return 1;
    }
    QFile csv(csvPath);
    if (!csv.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(csvPath));
        return 1;
    }
    csv.write("cycle,elapsed_s,pid,rss_kib,threads,fds,create_ms,gone_ms,error\n");

    const Created held = CreateInstance(bus);
    if (held.pid <= 0) {
        std::fprintf(stderr, "no held object: %s\n", qPrintable(held.error));
        return 1;
    }
    std::printf("held pid=%lld\n", static_cast<long long>(held.pid));
    std::fflush(stdout);

    QElapsedTimer clock;
    clock.start();
    const double interval = seconds / cycles;
    int done = 0;
    int failed = 0;
    for (int n = 1; n <= cycles; ++n) {
        // Evenly spread; a cycle that ran late is followed at once.
        const qint64 slot = static_cast<qint64>((n - 1) * interval * 1000);
        if (slot > clock.elapsed())
            QThread::msleep(static_cast<unsigned long>(slot - clock.elapsed()));
        if (clock.elapsed() > static_cast<qint64>(seconds * 1000))
            break;
        QElapsedTimer cycle;
        cycle.start();
        const Created c = CreateInstance(bus);
        const qint64 createMs = cycle.elapsed();
        QByteArray figures = "-1,-1,-1";
        qint64 goneMs = -1;
        QString error = c.error;
        if (error.isEmpty() && c.pid > 0) {
            figures = ProcessFigures(c.pid);
            const QDBusMessage released = bus.call(QDBusMessage::createMethodCall(
                c.service, c.path, kProgId + QStringLiteral(".Reference"),
                QStringLiteral("Release")));
            if (released.type() != QDBusMessage::ReplyMessage)
                error = released.errorName();
            // The server-mode process ends with its last reference.
            QElapsedTimer wait;
            wait.start();
            while (!ProcessGone(c.pid) && wait.elapsed() < 20000)
                QThread::msleep(20);
            if (ProcessGone(c.pid))
                goneMs = cycle.elapsed();
            else if (error.isEmpty())
                error = QStringLiteral("process still running 20 s after Release");
        } else if (error.isEmpty()) {
            error = QStringLiteral("no process id");
        }
        ++done;
        failed += error.isEmpty() ? 0 : 1;
        error.replace(QLatin1Char(','), QLatin1Char(';'));
        csv.write(QByteArray::number(n) + ',' +
                  QByteArray::number(clock.elapsed() / 1000.0, 'f', 1) + ',' +
                  QByteArray::number(c.pid) + ',' + figures + ',' + QByteArray::number(createMs) +
                  ',' + QByteArray::number(goneMs) + ',' + error.toUtf8() + '\n');
        csv.flush();
    }
    bus.call(QDBusMessage::createMethodCall(held.service, held.path,
                                            kProgId + QStringLiteral(".Reference"),
                                            QStringLiteral("Release")));
    std::printf("end cycles=%d failed=%d\n", done, failed);
    std::fflush(stdout);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QString mode = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString();
    if (mode == QLatin1String("play") && argc == 5)
        return Play(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]).toDouble(),
                    QString::fromLocal8Bit(argv[4]).toDouble());
    if (mode == QLatin1String("automation") && argc == 5)
        return Automation(QString::fromLocal8Bit(argv[2]).toInt(),
                          QString::fromLocal8Bit(argv[3]).toDouble(),
                          QString::fromLocal8Bit(argv[4]));
    std::fprintf(stderr, "usage: didira_soak play BASE_URL SECONDS SWITCH_SECONDS\n"
                         "       didira_soak automation CYCLES SECONDS CSV\n");
    return 2;
}
