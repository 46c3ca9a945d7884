#pragma once
// What the listener reaches beside the dialog: the sleep timer, the song
// history (kept in UserDataDir(), with its window), the tray icon, Didira's own
// bus interface and the station directory, all acting on one created dialog.

#include <QDBusConnection>
#include <QFont>
#include <QString>
#include <memory>

namespace didira {

class CDidiraService;
class CHistoryWindow;
class CRecentSongsMenu;
class CSleepTimer;
class CSongHistory;
class CStationDirectory;
class CTrayIcon;
class CVavarozDlg;

class CListenerTools final {
public:
    // dlg must be created and outlive this object. The bus interface is
    // exported on bus when it is connected (the MPRIS connection).
    CListenerTools(CVavarozDlg& dlg, const QDBusConnection& bus);
    ~CListenerTools();
    CListenerTools(const CListenerTools&) = delete;
    CListenerTools& operator=(const CListenerTools&) = delete;

    CSleepTimer& SleepTimer() const { return *m_sleep; }
    CSongHistory& History() const { return *m_history; }
    // Shows the history window in front (made on first use).
    void ShowHistory();

    // The song history's file in folder.
    static QString HistoryPath(const QString& folder);

private:
    void AddHistory(CVavarozDlg& dlg);

    std::unique_ptr<CSleepTimer> m_sleep;
    std::unique_ptr<CSongHistory> m_history;
    std::unique_ptr<CDidiraService> m_service;
    std::unique_ptr<CTrayIcon> m_tray;
    std::unique_ptr<CRecentSongsMenu> m_recent;
    std::unique_ptr<CHistoryWindow> m_historyWindow;
    QFont m_historyFont; // the dialog's, for the window
    std::unique_ptr<CStationDirectory> m_directory;
};

} // namespace didira
