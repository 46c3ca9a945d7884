#include "app/Automation.h"

#include "app/VavarozApp.h"
#include "ui/VavarozDlg.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QKeyEvent>
#include <atomic>
#include <memory>

namespace didira {

namespace {

std::atomic<long> s_nLockCount{0};

// The main dialog while it can stand behind an automation object: set as the
// main window and not yet ended.
CVavarozDlg* LiveMainDialog() {
    CVavarozApp* app = AfxGetApp();
    auto* dlg = app ? qobject_cast<CVavarozDlg*>(app->m_pMainWnd.data()) : nullptr;
    return dlg && dlg->ModalResult() == 0 ? dlg : nullptr;
}

std::unique_ptr<CCmdTarget> CreateDlgAutoProxy(CreateError& error) {
    // A request can be served while a message box of the catalogue load runs
    // (before the main window is set) or after the dialog has ended.
    if (!LiveMainDialog()) {
        error = {QString::fromLatin1(kNoDialogError),
                 QStringLiteral("Didira has no main window: it is not open yet or already closed")};
        return nullptr;
    }
    return std::make_unique<CVavarozDlgAutoProxy>();
}

// Test hook, only with DIDIRA_AUTOMATION_TEST_HOOK=1 in the environment: the
// process owns "Didira.TestHook.p<pid>" and serves /Didira/TestHook with
// WindowState() -> "none" | "shown" | "hidden", and Send(command) with command
// "End" (click on the End button), "Escape" (the key), "Close" (a close
// request) or "Show". Integration tests use it to watch and drive the dialog
// of a process that the bus started.
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
    if (qEnvironmentVariable("DIDIRA_AUTOMATION_TEST_HOOK") != QLatin1String("1"))
        return;
    QDBusConnection bus = QDBusConnection::sessionBus();
    auto* hook = new TestHook(QCoreApplication::instance()); // owned by the application
    bus.registerVirtualObject(QStringLiteral("/Didira/TestHook"), hook);
    bus.registerService(
        QStringLiteral("Didira.TestHook.p%1").arg(QCoreApplication::applicationPid()));
}

} // namespace

const CRuntimeClass CVavarozDlgAutoProxy::classCVavarozDlgAutoProxy = {
    "CVavarozDlgAutoProxy", kProxyInterface, &CreateDlgAutoProxy};

// Constructed before the application object, whatever the link order.
COleObjectFactory CVavarozDlgAutoProxy::factory
    __attribute__((init_priority(1000))) (kClassId, CVavarozDlgAutoProxy::classCVavarozDlgAutoProxy,
                                          true, kProgId);

CVavarozDlgAutoProxy::CVavarozDlgAutoProxy() {
    EnableAutomation();
    AfxOleLockApp();
    m_pDialog = LiveMainDialog();
    if (m_pDialog)
        m_pDialog->m_pAutoProxy = this;
}

CVavarozDlgAutoProxy::~CVavarozDlgAutoProxy() {
    if (m_pDialog && m_pDialog->m_pAutoProxy == this)
        m_pDialog->m_pAutoProxy = nullptr;
    AfxOleUnlockApp();
}

void AfxOleLockApp() {
    ++s_nLockCount;
}

void AfxOleUnlockApp() {
    if (--s_nLockCount != 0)
        return;
    CVavarozApp* app = AfxGetApp();
    if (!app || app->m_bUserCtrl)
        return;
    // Once: from here on the user's closing of the dialog ends the process.
    app->m_bUserCtrl = true;
    auto* dlg = qobject_cast<CVavarozDlg*>(app->m_pMainWnd.data());
    if (dlg && dlg->isEnabled())
        dlg->DestroyWindow();
}

long AfxOleGetLockCount() {
    return s_nLockCount;
}

bool RunEmbedded(CVavarozApp& app) {
    if (!TakeSwitch(app.m_cmdLine, QStringLiteral("Embedding")))
        return false;
    app.m_bUserCtrl = false;
    return true;
}

bool RunAutomated(CVavarozApp& app) {
    if (!TakeSwitch(app.m_cmdLine, QStringLiteral("Automation")))
        return false;
    app.m_bUserCtrl = false;
    return true;
}

void RunAutomationStep(CVavarozApp& app) {
    if (RunEmbedded(app) || RunAutomated(app)) {
        COleObjectFactory::RegisterAll();
        RegisterTestHook();
    } else {
        COleObjectFactory::UpdateRegistryAll(true);
        RegisterTestHook();
    }
}

} // namespace didira
