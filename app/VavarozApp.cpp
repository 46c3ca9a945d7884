#include "app/VavarozApp.h"

#include "app/Automation.h"
#include "app/BuiltInControls.h"
#include "app/DesktopNotifier.h"
#include "app/ExitSignals.h"
#include "app/ListenerTools.h"
#include "app/MprisService.h"
#include "app/NetworkWatch.h"
#include "app/SleepTimer.h"
#include "app/SleepWatch.h"
#include "control/ControlHost.h"
#include "player/gst/MediaFramework.h"
#include "res/Resources.h"
#include "ui/DlgRemote.h"
#include "ui/MessageBox.h"
#include "ui/VavarozDlg.h"

#include <QApplication>
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

// What lives beside the created dialog, destroyed before it.
struct AroundTheDialog {
    std::unique_ptr<CMprisService> mpris;
    std::unique_ptr<CDesktopNotifier> notifier;
    std::unique_ptr<CListenerTools> tools;
    std::unique_ptr<CNetworkWatch> network;
    std::unique_ptr<CSleepWatch> sleep;

    // The desktop's media controls and notifications, once the dialog's
    // controls exist; a session without a bus simply goes without them.
    void Start(CVavarozDlg& dlg, bool notify, bool blockIdle) {
        const QDBusConnection bus = QDBusConnection::sessionBus();
        if (bus.isConnected()) {
            mpris = std::make_unique<CMprisService>(dlg, bus);
            mpris->Register();
            if (notify) {
                notifier = std::make_unique<CDesktopNotifier>(remote::NowPlaying(dlg), bus);
                if (const OleControl* control = remote::PlayerControl(dlg)) {
                    notifier->TellRecordingFailures(*control);
                    notifier->TellPlaybackNotices(*control);
                }
            }
        }
        tools = std::make_unique<CListenerTools>(dlg, bus);
        if (notifier)
            notifier->TellHistoryTroubles(tools->History());
        const QDBusConnection system = QDBusConnection::systemBus();
        if (OleControl* control = remote::PlayerControl(dlg); system.isConnected() && control)
            WatchSystem(dlg, *control, system, blockIdle);
    }

    // Sleep and connectivity reach the player through its control.
    void WatchSystem(CVavarozDlg& dlg, OleControl& control, const QDBusConnection& system,
                     bool blockIdle) {
        OleControl* player = &control;
        network = std::make_unique<CNetworkWatch>(system);
        QObject::connect(network.get(), &CNetworkWatch::connected, player,
                         [player] { player->SetNetworkAvailable(true); });
        QObject::connect(network.get(), &CNetworkWatch::disconnected, player,
                         [player] { player->SetNetworkAvailable(false); });
        sleep = std::make_unique<CSleepWatch>(remote::NowPlaying(dlg), system, blockIdle);
        QObject::connect(sleep.get(), &CSleepWatch::aboutToSleep, player,
                         [player] { player->Suspend(); });
        // The sleep timer first: a count that ran out during the sleep stops
        // the station before it comes back.
        QObject::connect(sleep.get(), &CSleepWatch::woke, &tools->SleepTimer(),
                         &CSleepTimer::CheckNow);
        QObject::connect(sleep.get(), &CSleepWatch::wokeUp, player, [player] { player->Resume(); });
    }
};

// A request to end from outside (logout, Ctrl+C) ends the run as "End" does,
// also while an automation client holds the object, and closes a message box
// that waits for an answer first.
void EndOnSignals(CExitSignals& exitSignals, CVavarozDlg& dlg) {
    QObject::connect(&exitSignals, &CExitSignals::Requested, &dlg, [&dlg] {
        for (QWidget* window : QApplication::topLevelWidgets())
            if (window != &dlg && window->isVisible() && qobject_cast<QDialog*>(window))
                window->close();
        dlg.DestroyWindow();
    });
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
    CExitSignals exitSignals;
    EndOnSignals(exitSignals, dlg);
    AroundTheDialog around;
    const bool created = dlg.Create();
    if (created)
        around.Start(dlg, notify, blockIdle);
    if (!created || dlg.DoModal() == -1)
        m_nExitCode = kExitDialogFailed;
    m_pMainWnd = nullptr;
    return FALSE;
}

} // namespace didira
