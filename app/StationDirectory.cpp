#include "app/StationDirectory.h"

#include "app/DirectoryWindow.h"
#include "ui/DlgDirectory.h"
#include "ui/VavarozDlg.h"

#include <QAction>
#include <QMenu>

namespace didira {

CStationDirectory::CStationDirectory(CVavarozDlg& dlg, QMenu* trayMenu, const QUrl& base,
                                     QObject* parent)
    : QObject(parent), m_pDlg(&dlg), m_base(base) {
    const QString text = QString::fromUtf16(kMenuText);
    if (QAction* item = remote::AddWindowMenuItem(dlg, text))
        connect(item, &QAction::triggered, this, &CStationDirectory::ShowWindow);
    if (trayMenu) {
        // Among the listener's actions, before the window's own entries.
        QAction* before = nullptr;
        for (QAction* action : trayMenu->actions()) {
            if (action->isSeparator()) {
                before = action;
                break;
            }
        }
        auto* item = new QAction(text, trayMenu);
        trayMenu->insertAction(before, item);
        connect(item, &QAction::triggered, this, &CStationDirectory::ShowWindow);
    }
}

CStationDirectory::~CStationDirectory() = default;

void CStationDirectory::ShowWindow() {
    if (!m_pDlg)
        return;
    if (!m_window)
        m_window = std::make_unique<CDirectoryWindow>(*m_pDlg, m_base);
    if (m_window->isMinimized())
        m_window->showNormal();
    else
        m_window->show();
    m_window->raise();
    m_window->activateWindow();
}

} // namespace didira
