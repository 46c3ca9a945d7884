// Didira: a desktop internet-radio player.
#include "app/CommandLine.h"
#include "app/VavarozApp.h"
#include "player/formats/StreamText.h"
#include "player/gst/DetachedWork.h"

#include <QApplication>
#include <QFileInfo>
#include <QThreadPool>
#include <cstdio>
#include <unistd.h>

namespace {

// How long the end waits for work in the background once the window is gone.
constexpr int kLastWorkMs = 1000;

void Print(std::FILE* to, const QString& text) {
    std::fputs(text.toUtf8().constData(), to);
}

} // namespace

int main(int argc, char** argv) {
    // Before any thread runs: it sets an environment variable.
    didira::PrepareStreamTextEncoding();

    // The usage and the version need no display: answered before Qt starts.
    {
        QStringList raw;
        for (int i = 1; i < argc; ++i)
            raw.append(QString::fromLocal8Bit(argv[i]));
        const QString program = QFileInfo(QString::fromLocal8Bit(argv[0])).fileName();
        switch (didira::CommandLine(raw).Requested()) {
        case didira::CommandLine::Action::ShowHelp:
            Print(stdout, didira::CommandLine::HelpText(program));
            return 0;
        case didira::CommandLine::Action::ShowVersion:
            Print(stdout,
                  QStringLiteral("%1 (Didira) %2\n").arg(program, QStringLiteral(DIDIRA_VERSION)));
            return 0;
        case didira::CommandLine::Action::Run:
            break;
        }
    }

    QApplication qtApp(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    // Ties the window to the installed menu entry (icon and name in the task bar).
    QGuiApplication::setDesktopFileName(QStringLiteral(DIDIRA_APP_ID));

    // Qt has taken its own options by now; what is left and unknown is only
    // reported, so that any command line starts the player.
    QStringList args = QApplication::arguments();
    args.removeFirst();
    const didira::CommandLine cmdLine(args);
    for (const QString& arg : cmdLine.Unknown())
        Print(stderr, QStringLiteral("%1: 不明な引数を無視します / ignoring unknown argument: %2\n")
                          .arg(QApplication::applicationName(), arg));
    // The menu entry's start: the catalogue, its backup and imports live in
    // the data folder rather than wherever the desktop starts programs.
    QString error;
    if (cmdLine.InDataDir() && !didira::EnterUserDataDir(&error))
        Print(stderr, QStringLiteral("%1: %2\n").arg(QApplication::applicationName(), error));

    didira::CVavarozApp app;
    app.m_cmdLine = args;
    app.InitInstance();
    // Everything has been told to end by now; what is still at work gets a
    // short while (a recording's last file, the live buffer's removal).
    // Work that cannot finish (a sound server or a disk that hangs) is left
    // behind: the process ends without the destructors that would wait for
    // it or run under it. What a recording wrote stays a file.
    if (!QThreadPool::globalInstance()->waitForDone(kLastWorkMs) ||
        didira::DetachedWork::Running() > 0) {
        std::fflush(stdout);
        std::fflush(stderr);
        ::_exit(app.ExitCode());
    }
    return app.ExitCode();
}
