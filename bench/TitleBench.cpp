// How long a title set on a station takes to reach the player control's
// TitleChanged, through the real control, headless:
//   didira_title_bench own MP3-FILE REPETITIONS
//       plays an ICY station of our own (tests/support/StreamTestServer) looping
//       MP3-FILE, and changes its title REPETITIONS times;
//   didira_title_bench icecast STREAM-URL UPDATE-URL REPETITIONS
//       plays STREAM-URL and sets each title with Icecast's metadata update:
//       UPDATE-URL with the title appended (percent-encoded), fetched by curl.
// Prints "title-ms=<ms>" per change and "median-ms=<ms>" at the end.
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
                         "       didira_title_bench icecast STREAM-URL UPDATE-URL REPETITIONS\n");
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
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
