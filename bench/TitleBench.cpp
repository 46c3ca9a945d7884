// How long a title set on a station takes to reach the player control's
// TitleChanged, through the real control, headless:
//   didira_title_bench own MP3-FILE REPETITIONS
//       plays an ICY station of our own (tests/support/StreamTestServer) looping
//       MP3-FILE, and changes its title REPETITIONS times;
//   didira_title_bench icecast STREAM-URL UPDATE-URL REPETITIONS
//       plays STREAM-URL and sets each title with Icecast's metadata update:
//       UPDATE-URL with the title appended (percent-encoded), fetched by curl.
// Prints "title-ms=<ms>" per change and "median-ms=<ms>" at the end.
//   didira_title_bench memory MP3-FILE SECONDS METAINT TITLE-BYTES
//       plays an ICY station of our own looping MP3-FILE at 128 kbit/s with a
//       metadata block every METAINT bytes, each with a new title of
//       TITLE-BYTES (0: one title, as a normal station); prints
//       "rss-kib=<s> <KiB>" every 30 s and at the end.
#include "BenchControl.h"
#include "control/ControlHost.h"
#include "control/MediaPlayer2.h"
#include "control/PlayerStates.h"
#include "player/GstPlayerControl.h"
#include "res/Resources.h"
#include "support/StreamTestServer.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTimer>
#include <QUrl>
#include <QWidget>
#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>

namespace {

using namespace didira;

// Runs the event loop until done() or bound ms; false on the bound.
bool Wait(const std::function<bool()>& done, int bound) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > bound)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

int Usage() {
    std::fprintf(stderr, "usage: didira_title_bench own MP3-FILE REPETITIONS\n"
                         "       didira_title_bench icecast STREAM-URL UPDATE-URL REPETITIONS\n"
                         "       didira_title_bench memory MP3-FILE SECONDS METAINT TITLE-BYTES\n");
    return 2;
}

qint64 ResidentKiB() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    return -1;
}

// The memory mode: resident memory while a station plays for a while.
int Memory(const QStringList& args) {
    QFile mp3(args[1]);
    if (!mp3.open(QIODevice::ReadOnly))
        return Usage();
    test::StreamTestServer::Options options = test::StreamTestServer::TitledMp3(mp3.readAll());
    options.metaInterval = args[3].toInt();
    options.newTitleBytes = args[4].toInt();
    options.titles = {"Bench Artist - Song"};
    test::StreamTestServer station(options);
    bench::BenchPlayer made;
    if (!made.control)
        return 1;
    made.player.Open(station.Url());
    if (!Wait([&] { return made.player.GetPlayState() == ToNumber(PlayState::Playing); }, 20000)) {
        std::fprintf(stderr, "the station does not play\n");
        return 1;
    }
    const int seconds = args[2].toInt();
    QElapsedTimer clock;
    clock.start();
    for (int at = 30; at < seconds + 30; at += 30) {
        Wait([] { return false; }, 1000 * std::min(at, seconds) - int(clock.elapsed()));
        std::printf("rss-kib=%d %lld play-state=%ld titles-sent=%d\n", std::min(at, seconds),
                    static_cast<long long>(ResidentKiB()), made.player.GetPlayState(),
                    station.TitlesSent());
        std::fflush(stdout);
    }
    made.player.Cancel();
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    if (args.value(0) == u"memory" && args.size() == 5)
        return Memory(args);
    const bool own = args.value(0) == u"own" && args.size() == 3;
    const bool icecast = args.value(0) == u"icecast" && args.size() == 4;
    if (!own && !icecast)
        return Usage();
    const int repetitions = args.last().toInt();

    std::unique_ptr<test::StreamTestServer> station;
    QString url;
    std::function<void(const QByteArray&)> setTitle;
    if (own) {
        QFile mp3(args[1]);
        if (!mp3.open(QIODevice::ReadOnly))
            return Usage();
        station = std::make_unique<test::StreamTestServer>(
            test::StreamTestServer::TitledMp3(mp3.readAll()));
        url = station->Url();
        setTitle = [&](const QByteArray& title) { station->SetTitle(title); };
    } else {
        url = args[1];
        const QString update = args[2];
        // Started and left to run: the clock starts with the request.
        setTitle = [update](const QByteArray& title) {
            auto* curl = new QProcess(qApp);
            QObject::connect(curl, &QProcess::finished, curl, &QObject::deleteLater);
            curl->start(QStringLiteral("curl"),
                        {QStringLiteral("-sf"), QStringLiteral("--max-time"), QStringLiteral("5"),
                         QStringLiteral("-o"), QStringLiteral("/dev/null"),
                         update + QString::fromLatin1(QUrl::toPercentEncoding(title))});
        };
    }

    bench::BenchPlayer made;
    if (!made.control)
        return 1;
    CGstPlayerControl* control = made.control;
    CMediaPlayer2& player = made.player;
    QString title;
    QObject::connect(control, &OleControl::TitleChanged, control,
                     [&](const QString& t) { title = t; });

    player.Open(url);
    if (!Wait([&] { return player.GetPlayState() == ToNumber(PlayState::Playing); }, 20000)) {
        std::fprintf(stderr, "the station does not play\n");
        return 1;
    }
    // Past the start, whose burst fills the buffers as a listener's would be.
    Wait([] { return false; }, 3000);

    std::vector<qint64> times;
    for (int i = 1; i <= repetitions; ++i) {
        const QByteArray next = "Bench Artist - Song " + QByteArray::number(i);
        QElapsedTimer clock;
        clock.start();
        setTitle(next);
        if (!Wait([&] { return title == QString::fromLatin1(next); }, 20000)) {
            std::fprintf(stderr, "title %d did not arrive\n", i);
            return 1;
        }
        times.push_back(clock.elapsed());
        std::printf("title-ms=%lld\n", static_cast<long long>(times.back()));
        std::fflush(stdout);
        // Titles some way apart, as songs are; also lets the next block be
        // sent at an arbitrary point of the interval.
        Wait([] { return false; }, 1000 + 137 * i % 700);
    }
    player.Cancel();
    std::sort(times.begin(), times.end());
    std::printf("median-ms=%lld\n", static_cast<long long>(times[times.size() / 2]));
    return 0;
}
