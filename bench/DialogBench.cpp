// Drives the real main dialog, headless, as a listener would with the mouse:
//   didira_dialog_bench STEP...   (in a directory holding radioname.csv)
//     ROW:HZ:SECONDS   click list row ROW (from 0), press "Recieve", print
//                      "mark HZ" at the press, then wait SECONDS
//     idle:SECONDS     wait SECONDS with nothing pressed
// Prints "ready" once the window is up and "end" before it closes.
#include "app/BuiltInControls.h"
#include "control/ControlHost.h"
#include "res/Resources.h"
#include "ui/DlgAccess.h"
#include "ui/StationListCtrl.h"
#include "ui/VavarozDlg.h"

#include <QAbstractButton>
#include <QApplication>
#include <QTimer>
#include <cstdio>
#include <functional>

namespace {

void Say(const char* text) {
    std::printf("%s\n", text);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    using namespace didira;
    QStringList steps = app.arguments().mid(1);
    if (steps.isEmpty()) {
        std::fprintf(stderr, "usage: didira_dialog_bench ROW:HZ:SECONDS|idle:SECONDS...\n");
        return 2;
    }
    RegisterBuiltInControls();
    CVavarozDlg dlg;
    if (!dlg.Create()) {
        std::fprintf(stderr, "didira_dialog_bench: the dialog cannot be created\n");
        return 1;
    }
    dlg.show();
    Say("ready");

    std::function<void()> next = [&] {
        if (steps.isEmpty()) {
            Say("end");
            app.quit();
            return;
        }
        const QStringList parts = steps.takeFirst().split(u':');
        const double seconds = parts.last().toDouble();
        if (parts.size() == 3) {
            const int row = parts[0].toInt();
            remote::Access::List(dlg)->selectRow(row);
            long result = -1;
            MsgArgs click;
            click.id = IDC_STATIONLIST;
            click.result = &result;
            dlg.RouteMessage(Msg::Notify, click);
            std::printf("mark %s\n", qPrintable(parts[1]));
            std::fflush(stdout);
            if (auto* receive = qobject_cast<QAbstractButton*>(dlg.GetDlgItem(IDC_RECEIVE)))
                receive->click();
        }
        QTimer::singleShot(static_cast<int>(seconds * 1000), &app, next);
    };
    QTimer::singleShot(0, &app, next);
    const int code = app.exec();
    remote::Access::Player(dlg).Cancel();
    return code;
}
