#pragma once
// The station directory beside the dialog: "放送局を探す…" in the tray menu
// and in the dialog's window menu, and the directory window they show, made
// on first use and kept (with its search) while this object lives.

#include <QObject>
#include <QPointer>
#include <QUrl>
#include <memory>

class QAction;
class QMenu;

namespace didira {

class CDirectoryWindow;
class CVavarozDlg;

class CStationDirectory final : public QObject {
    Q_OBJECT
public:
    static constexpr char16_t kMenuText[] = u"放送局を探す…";

    // dlg must be created. trayMenu (may be null) gains the entry before its
    // first separator; base is the directory's base URL.
    CStationDirectory(CVavarozDlg& dlg, QMenu* trayMenu, const QUrl& base,
                      QObject* parent = nullptr);
    ~CStationDirectory() override;
    Q_DISABLE_COPY_MOVE(CStationDirectory)

    // Shows the window in front (made when it is not yet).
    void ShowWindow();
    // The window; null before it was first shown.
    CDirectoryWindow* Window() const { return m_window.get(); }

private:
    QPointer<CVavarozDlg> m_pDlg;
    QUrl m_base;
    std::unique_ptr<CDirectoryWindow> m_window;
};

} // namespace didira
