#include "app/ListenerTools.h"

#include "app/CommandLine.h"
#include "app/DidiraService.h"
#include "app/DirectoryClient.h"
#include "app/RecentSongsMenu.h"
#include "app/SleepTimer.h"
#include "app/StationDirectory.h"
#include "app/TrayIcon.h"
#include "control/SongHistory.h"
#include "ui/DlgDirectory.h"
#include "ui/DlgListener.h"
#include "ui/DlgRemote.h"
#include "ui/HistoryWindow.h"
#include "ui/NowPlaying.h"
#include "ui/VavarozDlg.h"

#include <QAction>
#include <QCoreApplication>
#include <QPointer>
#include <cstdio>

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
    m_history = std::make_unique<CSongHistory>(HistoryPath(UserDataDir()));
    if (bus.isConnected()) {
        m_service = std::make_unique<CDidiraService>(*m_sleep, &dlg, bus);
        m_service->ServeHistory(*m_history);
        m_service->Register();
    }
    m_tray = std::make_unique<CTrayIcon>(dlg, *m_sleep);
    AddHistory(dlg);
    m_tray->Show();
    m_directory =
        std::make_unique<CStationDirectory>(dlg, m_tray->Menu(), CDirectoryClient::DefaultBase());
}

CListenerTools::~CListenerTools() = default;

QString CListenerTools::HistoryPath(const QString& folder) {
    return folder + QStringLiteral("/history.sqlite");
}

void CListenerTools::AddHistory(CVavarozDlg& dlg) {
    // The title as heard: the player reports a time-shifted title when it
    // is played, and the dialog's NowPlaying follows it.
    const CNowPlaying* np = &remote::NowPlaying(dlg);
    QObject::connect(np, &CNowPlaying::titleChanged, m_history.get(),
                     [this, np] { m_history->Heard(np->DisplayName(), np->Title()); });
    QObject::connect(
        m_history.get(), &CSongHistory::trouble, m_history.get(), [](const QString& message) {
            std::fprintf(stderr, "%s: %s\n", qPrintable(QCoreApplication::applicationName()),
                         qPrintable(message));
        });
    m_historyFont = dlg.font();
    const auto show = [this] { ShowHistory(); };
    m_recent = std::make_unique<CRecentSongsMenu>(*m_history, *m_tray->Menu(), show);
    if (QAction* item = remote::AddWindowMenuItem(dlg, QStringLiteral("曲の履歴…")))
        QObject::connect(item, &QAction::triggered, m_history.get(), show);
}

void CListenerTools::ShowHistory() {
    if (!m_historyWindow) {
        m_historyWindow = std::make_unique<CHistoryWindow>(*m_history);
        m_historyWindow->setFont(m_historyFont);
    }
    m_historyWindow->Present();
}

} // namespace didira
