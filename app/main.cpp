// Didira: a desktop internet-radio player.
#include "app/VavarozApp.h"
#include "player/StreamText.h"

#include <QApplication>

int main(int argc, char** argv) {
    // Before any thread runs: it sets an environment variable.
    didira::PrepareStreamTextEncoding();
    QApplication qtApp(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    // Ties the window to the installed menu entry (icon and name in the task bar).
    QGuiApplication::setDesktopFileName(QStringLiteral(DIDIRA_APP_ID));

    didira::CVavarozApp app;
    QStringList args = QApplication::arguments();
    args.removeFirst();
    app.m_cmdLine = args;
    app.InitInstance();
    return app.ExitCode();
}
