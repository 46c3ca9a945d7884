#include "app/Automation.h"

#include "app/CommandLine.h"
#include "app/VavarozApp.h"
#include "ui/VavarozDlg.h"

#include <QCoreApplication>
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
    if (RunEmbedded(app) || RunAutomated(app))
        COleObjectFactory::RegisterAll();
    else
        COleObjectFactory::UpdateRegistryAll(true);
}

} // namespace didira
