// Plays one URL through the real player control, headless, and takes
// commands on standard input, one a line, for pause and moves in the live
// station:
//   didira_pause_bench URL
//     pause | resume | live | quit
// Each command answers "ok COMMAND RESULT" (RESULT: 1 when the control took
// it) and, for pause, the delay behind live; "first-audio" comes once the
// output first plays. Audio goes to DIDIRA_AUDIO_SINK or the default sink.
#include "BenchControl.h"
#include "control/MediaPlayer2.h"
#include "player/GstPlayerControl.h"

#include <QApplication>
#include <QSocketNotifier>
#include <cstdio>
#include <string>
#include <unistd.h>

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: didira_pause_bench URL\n");
        return 2;
    }
    using namespace didira;
    bench::BenchPlayer made;
    if (!made.control)
        return 1;
    CGstPlayerControl* control = made.control;
    QObject::connect(control, &CGstPlayerControl::FirstAudio, control, [] {
        std::printf("first-audio\n");
        std::fflush(stdout);
    });

    std::string pending;
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, &app, [&] {
        char chunk[256];
        const ssize_t n = ::read(STDIN_FILENO, chunk, sizeof chunk);
        if (n <= 0) {
            input.setEnabled(false);
            app.quit();
            return;
        }
        pending.append(chunk, static_cast<std::size_t>(n));
        for (std::size_t end; (end = pending.find('\n')) != std::string::npos;) {
            const std::string command = pending.substr(0, end);
            pending.erase(0, end + 1);
            bool done = false;
            if (command == "pause")
                done = control->Pause();
            else if (command == "resume")
                done = control->Unpause();
            else if (command == "live")
                done = control->GoLive();
            else if (command == "quit") {
                app.quit();
                return;
            }
            std::printf("ok %s %d behind-ms=%lld\n", command.c_str(), done ? 1 : 0,
                        static_cast<long long>(control->BehindLiveMs()));
            std::fflush(stdout);
        }
    });
    made.player.Open(QString::fromLocal8Bit(argv[1]));
    const int rc = app.exec();
    made.player.Cancel();
    return rc;
}
