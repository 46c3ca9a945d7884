// Plays one URL through the real player control, headless, and reports when
// the first decoded audio reaches the sink:
//   didira_bench URL SECONDS [IDLE_SECONDS]
// prints "first-audio open-ms=<ms from Open>" once, then plays until SECONDS
// have passed and prints the final states. Audio goes to DIDIRA_AUDIO_SINK.
// With IDLE_SECONDS, Open comes that long after start-up, as a listener's
// first click in the dialog does. With DBUS_SYSTEM_BUS_ADDRESS set (the
// recovery benchmark's private bus), connectivity and sleep reach the control
// from that bus as in the program.
#include "BenchControl.h"
#include "app/NetworkWatch.h"
#include "app/SleepWatch.h"
#include "control/ControlHost.h"
#include "control/MediaPlayer2.h"
#include "player/GstPlayerControl.h"
#include "res/Resources.h"
#include "ui/NowPlaying.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>
#include <cstdio>

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: didira_bench URL SECONDS [IDLE_SECONDS]\n");
        return 2;
    }
    using namespace didira;
    bench::BenchPlayer made;
    if (!made.control)
        return 1;
    CGstPlayerControl* control = made.control;
    CMediaPlayer2& player = made.player;

    CNowPlaying now;
    std::unique_ptr<CNetworkWatch> network;
    std::unique_ptr<CSleepWatch> sleep;
    if (!qEnvironmentVariableIsEmpty("DBUS_SYSTEM_BUS_ADDRESS")) {
        const QDBusConnection system = QDBusConnection::systemBus();
        network = std::make_unique<CNetworkWatch>(system);
        QObject::connect(network.get(), &CNetworkWatch::connected, control,
                         [control] { control->SetNetworkAvailable(true); });
        QObject::connect(network.get(), &CNetworkWatch::disconnected, control,
                         [control] { control->SetNetworkAvailable(false); });
        sleep = std::make_unique<CSleepWatch>(now, system, false);
        QObject::connect(sleep.get(), &CSleepWatch::aboutToSleep, control,
                         [control] { control->Suspend(); });
        QObject::connect(sleep.get(), &CSleepWatch::wokeUp, control,
                         [control] { control->Resume(); });
        QObject::connect(control, &OleControl::StateChanged, &now,
                         [&now](PlayState play, OpenState open) {
                             now.SetPlayerState(static_cast<long>(play), static_cast<long>(open));
                         });
    }

    QElapsedTimer clock;
    QObject::connect(control, &CGstPlayerControl::FirstAudio, control, [&] {
        std::printf("first-audio open-ms=%lld\n", static_cast<long long>(clock.elapsed()));
        std::fflush(stdout);
    });
    const auto ms = [](const char* seconds) {
        return static_cast<int>(QString::fromLocal8Bit(seconds).toDouble() * 1000);
    };
    const auto start = [&] {
        QTimer::singleShot(ms(argv[2]), &app, [&] {
            std::printf("end play-state=%ld open-state=%ld bandwidth=%ld\n", player.GetPlayState(),
                        player.GetOpenState(), player.GetBandwidth());
            std::fflush(stdout);
            player.Cancel();
            app.quit();
        });
        clock.start();
        const QString url = QString::fromLocal8Bit(argv[1]);
        now.Open(url, url, 0);
        player.Open(url);
    };
    if (argc > 3)
        QTimer::singleShot(ms(argv[3]), &app, start);
    else
        start();
    return app.exec();
}
