// Didira: a desktop internet-radio player.
#include "app/VavarozApp.h"

#include <QApplication>

int main(int argc, char** argv) {
    QApplication qtApp(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);

    didira::CVavarozApp app;
    QStringList args = QApplication::arguments();
    args.removeFirst();
    app.m_cmdLine = args;
    app.InitInstance();
    return app.ExitCode();
}
