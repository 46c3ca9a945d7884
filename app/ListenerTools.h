#pragma once
// What the listener reaches beside the dialog: the sleep timer, the tray icon,
// Didira's own bus interface and the station directory, all acting on one
// created dialog.

#include <QDBusConnection>
#include <memory>

namespace didira {

class CDidiraService;
class CSleepTimer;
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

private:
    std::unique_ptr<CSleepTimer> m_sleep;
    std::unique_ptr<CDidiraService> m_service;
    std::unique_ptr<CTrayIcon> m_tray;
    std::unique_ptr<CStationDirectory> m_directory;
};

} // namespace didira
