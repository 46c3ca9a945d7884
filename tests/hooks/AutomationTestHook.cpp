// Linked into the program under test only: the process owns
// "Didira.TestHook.p<pid>" and serves /Didira/TestHook with
// WindowState() -> "none" | "shown" | "hidden", and Send(command) with command
// "End" (click on the End button), "Escape" (the key), "Close" (a close
// request) or "Show". Integration tests use it to watch and drive the dialog
// of a process that the bus started.
#include "app/VavarozApp.h"
#include "ui/VavarozDlg.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QKeyEvent>
#include <QTimer>

namespace didira {
namespace {

class TestHook final : public QDBusVirtualObject {
public:
    using QDBusVirtualObject::QDBusVirtualObject;
    QString introspect(const QString&) const override {
        return QStringLiteral("  <interface name=\"Didira.TestHook\">\n"
                              "    <method name=\"WindowState\">\n"
                              "      <arg type=\"s\" direction=\"out\"/>\n"
                              "    </method>\n"
                              "    <method name=\"Send\">\n"
                              "      <arg type=\"s\" direction=\"in\"/>\n"
                              "    </method>\n"
                              "  </interface>\n");
    }
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& bus) override {
        CVavarozApp* app = AfxGetApp();
        auto* dlg = app ? qobject_cast<CVavarozDlg*>(app->m_pMainWnd.data()) : nullptr;
        if (message.member() == QLatin1String("WindowState")) {
            const QString state = !dlg               ? QStringLiteral("none")
                                  : dlg->isVisible() ? QStringLiteral("shown")
                                                     : QStringLiteral("hidden");
            bus.send(message.createReply(state));
            return true;
        }
        if (message.member() != QLatin1String("Send") || message.signature() != QLatin1String("s"))
            return false;
        const QString command = message.arguments().value(0).toString();
        // Answer before acting: the command may end the process.
        bus.send(message.createReply());
        if (!dlg)
            return true;
        if (command == QLatin1String("End")) {
            if (auto* end = qobject_cast<QAbstractButton*>(dlg->GetDlgItem(1)))
                end->click();
        } else if (command == QLatin1String("Escape")) {
            QKeyEvent press(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
            QCoreApplication::sendEvent(dlg, &press);
        } else if (command == QLatin1String("Close")) {
            dlg->close();
        } else if (command == QLatin1String("Show")) {
            dlg->show();
        }
        return true;
    }
};

void RegisterTestHook() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    auto* hook = new TestHook(QCoreApplication::instance()); // owned by the application
    bus.registerVirtualObject(QStringLiteral("/Didira/TestHook"), hook);
    bus.registerService(
        QStringLiteral("Didira.TestHook.p%1").arg(QCoreApplication::applicationPid()));
}

// Runs as the application object is made; the hook appears once the event
// loop first runs, after the start-up has offered the automation object.
void ScheduleTestHook() {
    QTimer::singleShot(0, QCoreApplication::instance(), &RegisterTestHook);
}

} // namespace

Q_COREAPP_STARTUP_FUNCTION(ScheduleTestHook)

} // namespace didira
