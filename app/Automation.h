#pragma once
// The automation object "Vavaroz.Application" offered on the session bus. It
// has no members of its own: a client that holds it keeps the main dialog (and
// this process) alive, closing the dialog only hides it, and in server mode
// the release of the last reference ends the process.

#include "app/ObjectFactory.h"
#include "ui/AutoProxyLink.h"

namespace didira {

class CVavarozApp;
class CVavarozDlg;

inline constexpr char kProgId[] = "Vavaroz.Application";
inline constexpr char kClassId[] = "{ABCCED5F-C134-4A67-952D-A12E0A6BCF48}";
// The proxy's own bus interface (identifier {B411342F-85BD-47C2-A58E-D1043277CBEC});
// it has no methods, properties or signals.
inline constexpr char kProxyInterface[] = "Vavaroz.Application.DlgAutoProxy";
// Error of a request that finds no main dialog to stand for.
inline constexpr char kNoDialogError[] = "Vavaroz.Application.Error.NoMainWindow";

// Start-up step: server mode (a "-Embedding" / "-Automation" switch) serves
// the class object; a normal start rewrites the activation file.
void RunAutomationStep(CVavarozApp& app);

// True when the command line holds "Embedding", respectively "Automation",
// right after "-" or "/"; the switch is removed and the application is marked
// as not under the user's control.
bool RunEmbedded(CVavarozApp& app);
bool RunAutomated(CVavarozApp& app);

// The module's count of live automation objects. When the last one goes in
// server mode, the application returns to the user's control and its main
// dialog, if enabled, is destroyed, which ends the process.
void AfxOleLockApp();
void AfxOleUnlockApp();
long AfxOleGetLockCount();

class CVavarozDlgAutoProxy final : public CCmdTarget, public CDlgAutoProxyLink {
public:
    // Only the factory creates it, and only while the main dialog exists.
    CVavarozDlgAutoProxy();
    ~CVavarozDlgAutoProxy() override;
    Q_DISABLE_COPY_MOVE(CVavarozDlgAutoProxy)

    static const CRuntimeClass classCVavarozDlgAutoProxy;
    // The class factory, single use; constructed before the application object.
    static COleObjectFactory factory;
};

} // namespace didira
