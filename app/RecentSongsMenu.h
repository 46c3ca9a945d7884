#pragma once
// The song history's place in the tray menu: "最近の曲", the newest ten
// entries (title, station and time), each copying "Title — Station" to the
// clipboard when chosen, and "曲の履歴…", which opens the history window.
// Put before the tray menu's last separator (the window and "終了" items).

#include <QObject>
#include <functional>

class QAction;
class QMenu;

namespace didira {

class CSongHistory;

class CRecentSongsMenu final : public QObject {
    Q_OBJECT
public:
    static constexpr int kShown = 10;

    // history and trayMenu must outlive this object; openWindow shows the
    // history window.
    CRecentSongsMenu(const CSongHistory& history, QMenu& trayMenu, std::function<void()> openWindow,
                     QObject* parent = nullptr);
    ~CRecentSongsMenu() override;
    Q_DISABLE_COPY_MOVE(CRecentSongsMenu)

    QMenu* Recent() const { return m_recent; }
    QAction* WindowAction() const { return m_window; }

private:
    void Fill();

    const CSongHistory& m_history;
    QMenu* m_recent = nullptr; // owned by the tray menu
    QAction* m_window = nullptr;
};

} // namespace didira
