#include "app/VavarozApp.h"

#include "app/Automation.h"
#include "app/BuiltInControls.h"
#include "app/DesktopNotifier.h"
#include "app/ListenerTools.h"
#include "app/MprisService.h"
#include "app/NetworkWatch.h"
#include "app/SleepWatch.h"
#include "control/ControlHost.h"
#include "player/gst/MediaFramework.h"
#include "res/Resources.h"
#include "ui/DlgRemote.h"
#include "ui/MessageBox.h"
#include "ui/VavarozDlg.h"

#include <sys/socket.h>
#include <unistd.h>

namespace didira {

namespace {

CVavarozApp* g_app = nullptr;

// The socket layer is usable when the process can open a TCP socket.
bool SocketLayerAvailable() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
        return false;
    ::close(fd);
    return true;
}

bool MediaFrameworkAvailable() {
    return StartMediaFramework();
}

constexpr int kExitStartupFailed = 1;
constexpr int kExitDialogFailed = 2;

} // namespace

CVavarozApp::CVavarozApp() {
    m_platform.socketInit = &SocketLayerAvailable;
    m_platform.oleInit = &MediaFrameworkAvailable;
    g_app = this;
}

CVavarozApp::~CVavarozApp() {
    if (g_app == this)
        g_app = nullptr;
}

CVavarozApp* AfxGetApp() {
    return g_app;
}

BOOL CVavarozApp::InitInstance() {
    m_nExitCode = 0;
    if (!m_platform.socketInit()) {
        ShowMessageBox(nullptr, LoadResourceString(IDP_SOCKETS_INIT_FAILED), QString(),
                       MbIcon::Warning);
        m_nExitCode = kExitStartupFailed;
        return FALSE;
    }
    if (!m_platform.oleInit()) {
        ShowMessageBox(nullptr, LoadResourceString(IDP_OLE_INIT_FAILED), QString(),
                       MbIcon::Warning);
        m_nExitCode = kExitStartupFailed;
        return FALSE;
    }
    RegisterBuiltInControls();

    RunAutomationStep(*this);
    const bool notify = NotificationsWanted(m_cmdLine);
    const bool blockIdle = IdleInhibitWanted(m_cmdLine);

    CVavarozDlg dlg;
    m_pMainWnd = &dlg;
    // The desktop's media controls and notifications, once the dialog's
    // controls exist; a session without a bus simply goes without them.
    std::unique_ptr<CMprisService> mpris;
    std::unique_ptr<CDesktopNotifier> notifier;
    std::unique_ptr<CListenerTools> tools;
    std::unique_ptr<CNetworkWatch> network;
    std::unique_ptr<CSleepWatch> sleep;
    const bool created = dlg.Create();
    if (created) {
        const QDBusConnection bus = QDBusConnection::sessionBus();
        if (bus.isConnected()) {
            mpris = std::make_unique<CMprisService>(dlg, bus);
            mpris->Register();
            if (notify) {
                notifier = std::make_unique<CDesktopNotifier>(remote::NowPlaying(dlg), bus);
                if (const OleControl* control = remote::PlayerControl(dlg))
                    notifier->TellRecordingFailures(*control);
            }
        }
        tools = std::make_unique<CListenerTools>(dlg, bus);
        if (notifier)
            notifier->TellHistoryTroubles(tools->History());
        // Sleep and connectivity reach the player through its control.
        const QDBusConnection system = QDBusConnection::systemBus();
        OleControl* control = remote::PlayerControl(dlg);
        if (system.isConnected() && control) {
            network = std::make_unique<CNetworkWatch>(system);
            QObject::connect(network.get(), &CNetworkWatch::connected, control,
                             [control] { control->SetNetworkAvailable(true); });
            QObject::connect(network.get(), &CNetworkWatch::disconnected, control,
                             [control] { control->SetNetworkAvailable(false); });
            sleep = std::make_unique<CSleepWatch>(remote::NowPlaying(dlg), system, blockIdle);
            QObject::connect(sleep.get(), &CSleepWatch::aboutToSleep, control,
                             [control] { control->Suspend(); });
            QObject::connect(sleep.get(), &CSleepWatch::wokeUp, control,
                             [control] { control->Resume(); });
        }
    }
    if (!created || dlg.DoModal() == -1)
        m_nExitCode = kExitDialogFailed;
    m_pMainWnd = nullptr;
    return FALSE;
}

} // namespace didira
