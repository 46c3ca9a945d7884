#include "app/ListenerTools.h"

#include "app/DidiraService.h"
#include "app/DirectoryClient.h"
#include "app/SleepTimer.h"
#include "app/StationDirectory.h"
#include "app/TrayIcon.h"
#include "ui/DlgListener.h"
#include "ui/DlgRemote.h"
#include "ui/VavarozDlg.h"

#include <QPointer>

namespace didira {

CListenerTools::CListenerTools(CVavarozDlg& dlg, const QDBusConnection& bus) {
    QPointer<CVavarozDlg> target(&dlg);
    m_sleep = std::make_unique<CSleepTimer>(CSleepTimer::Target{[target](double gain) {
                                                                    if (target)
                                                                        remote::SetFadeGain(*target,
                                                                                            gain);
                                                                },
                                                                [target] {
                                                                    if (target)
                                                                        remote::Stop(*target);
                                                                }});
    if (bus.isConnected()) {
        m_service = std::make_unique<CDidiraService>(*m_sleep, &dlg, bus);
        m_service->Register();
    }
    m_tray = std::make_unique<CTrayIcon>(dlg, *m_sleep);
    m_tray->Show();
    m_directory =
        std::make_unique<CStationDirectory>(dlg, m_tray->Menu(), CDirectoryClient::DefaultBase());
}

CListenerTools::~CListenerTools() = default;

} // namespace didira
