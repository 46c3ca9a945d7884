// Linked into the program under test only: the process owns
// "Didira.TestHook.p<pid>" and serves /Didira/TestHook with
// WindowState() -> "none" | "shown" | "hidden", and Send(command) with command
// "End" (click on the End button), "Escape" (the key), "Close" (a close
// request) or "Show". Integration tests use it to watch and drive the dialog
// of a process that the bus started. For the station directory's window:
// Send("Menu:<text>") chooses the window menu's item of that text,
// Send("DirectorySearch:<tag>") searches by tag, Send("DirectoryAdd:<row>")
// adds a found station, and DirectoryState() -> "<status>\n<stations found>
// \n<rows of the dialog's list>". WindowMenu() -> the window menu's items,
// "|" between them, "-" for a separator.
#include "app/DirectoryWindow.h"
#include "app/VavarozApp.h"
#include "ui/DlgListener.h"
#include "ui/VavarozDlg.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QTableWidget>
#include <QTimer>

namespace didira {
namespace {

CDirectoryWindow* DirectoryWindow() {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (auto* window = qobject_cast<CDirectoryWindow*>(widget))
            return window;
    }
    return nullptr;
}

QString DirectoryState(const CVavarozDlg& dlg) {
    CDirectoryWindow* window = DirectoryWindow();
    if (!window)
        return QStringLiteral("none");
    return window->findChild<QLabel*>(QStringLiteral("status"))->text() + u'\n' +
           QString::number(window->Stations().size()) + u'\n' +
           QString::number(remote::StationNames(dlg).size());
}

QString WindowMenu(const CVavarozDlg& dlg) {
    QStringList items;
    for (const QMenu* menu : dlg.findChildren<QMenu*>()) {
        for (const QAction* action : menu->actions())
            items << (action->isSeparator() ? QStringLiteral("-") : action->text());
    }
    return items.join(u'|');
}

// The directory's commands; false for a command of another kind.
bool DirectoryCommand(CVavarozDlg& dlg, const QString& command) {
    const QString argument = command.section(u':', 1);
    if (command.startsWith(QLatin1String("Menu:"))) {
        for (QMenu* menu : dlg.findChildren<QMenu*>()) {
            for (QAction* action : menu->actions()) {
                if (action->text() == argument)
                    action->trigger();
            }
        }
        return true;
    }
    CDirectoryWindow* window = DirectoryWindow();
    if (command.startsWith(QLatin1String("DirectorySearch:")) && window) {
        window->findChild<QLineEdit*>(QStringLiteral("tag"))->setText(argument);
        window->Search();
        return true;
    }
    if (command.startsWith(QLatin1String("DirectoryAdd:")) && window) {
        window->findChild<QTableWidget*>(QStringLiteral("results"))->selectRow(argument.toInt());
        window->Add();
        return true;
    }
    return false;
}

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
                              "    <method name=\"DirectoryState\">\n"
                              "      <arg type=\"s\" direction=\"out\"/>\n"
                              "    </method>\n"
                              "    <method name=\"WindowMenu\">\n"
                              "      <arg type=\"s\" direction=\"out\"/>\n"
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
        if (message.member() == QLatin1String("WindowMenu")) {
            bus.send(message.createReply(dlg ? WindowMenu(*dlg) : QString()));
            return true;
        }
        if (message.member() == QLatin1String("DirectoryState")) {
            bus.send(message.createReply(dlg ? DirectoryState(*dlg) : QStringLiteral("none")));
            return true;
        }
        if (message.member() != QLatin1String("Send") || message.signature() != QLatin1String("s"))
            return false;
        const QString command = message.arguments().value(0).toString();
        // Answer before acting: the command may end the process.
        bus.send(message.createReply());
        if (!dlg || DirectoryCommand(*dlg, command))
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
