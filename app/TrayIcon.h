#pragma once
// The tray icon (a StatusNotifierItem where the desktop offers one): the
// station and title as its tooltip, and a menu of the listener's actions.
// The live buffer's actions (pause, moves, recording) are shown disabled
// while nothing of a live station is kept.

#include <QObject>
#include <QPointer>
#include <QSystemTrayIcon>
#include <memory>

class QAction;
class QActionGroup;
class QMenu;

namespace didira {

class CSleepTimer;
class CVavarozDlg;

class CTrayIcon final : public QObject {
    Q_OBJECT
public:
    // dlg must be created; dlg and sleep must outlive this object.
    CTrayIcon(CVavarozDlg& dlg, CSleepTimer& sleep, QObject* parent = nullptr);
    ~CTrayIcon() override;
    Q_DISABLE_COPY_MOVE(CTrayIcon)

    // Shows the icon (where there is a tray to show it in).
    void Show();

    QSystemTrayIcon& Icon() { return m_icon; }
    QMenu* Menu() const { return m_menu.get(); }

private:
    // The menu's sections, in their order: the live buffer's actions, the
    // sleep timer's choices, the catalogue's stations, the window and "End".
    void AddLiveActions();
    void AddSleepTimer();
    void AddStations();
    void AddWindowActions();
    void UpdateToolTip();
    void UpdateSleepChoice();
    void UpdateLiveActions(); // enabled while a live buffer works; pause or resume
    void FillStations();
    void ToggleWindow();

    QPointer<CVavarozDlg> m_pDlg;
    CSleepTimer& m_sleep;
    std::unique_ptr<QMenu> m_menu; // parentless: the tray does not own it
    QSystemTrayIcon m_icon;
    QMenu* m_stations = nullptr;
    QActionGroup* m_sleepChoices = nullptr;
    QAction* m_sleepOff = nullptr;
    QAction* m_window = nullptr;
    QAction* m_pause = nullptr; // "一時停止", "再開" while paused
    QAction* m_back = nullptr;
    QAction* m_live = nullptr;
    QAction* m_record = nullptr; // "録音", "録音を停止" while recording
    QAction* m_save = nullptr;
    int m_nSleepMinutes = 0; // the tray's own choice while the timer counts
};

} // namespace didira
