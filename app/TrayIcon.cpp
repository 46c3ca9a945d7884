#include "app/TrayIcon.h"

#include "app/LiveActions.h"
#include "app/SleepTimer.h"
#include "ui/DlgListener.h"
#include "ui/DlgRemote.h"
#include "ui/NowPlaying.h"
#include "ui/VavarozDlg.h"

#include <QActionGroup>
#include <QMenu>

namespace didira {

namespace {

constexpr int kSleepMinutes[] = {15, 30, 60, 90};

} // namespace

CTrayIcon::CTrayIcon(CVavarozDlg& dlg, CSleepTimer& sleep, QObject* parent)
    : QObject(parent), m_pDlg(&dlg), m_sleep(sleep), m_menu(std::make_unique<QMenu>()) {
    m_icon.setIcon(dlg.windowIcon());
    AddLiveActions();
    AddSleepTimer();
    AddStations();
    AddWindowActions();
    m_menu->setToolTipsVisible(true);
    m_icon.setContextMenu(m_menu.get());

    connect(&m_icon, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                if (reason == QSystemTrayIcon::Trigger)
                    ToggleWindow();
            });
    const CNowPlaying* np = &remote::NowPlaying(dlg);
    connect(np, &CNowPlaying::stationChanged, this, &CTrayIcon::UpdateToolTip);
    connect(np, &CNowPlaying::titleChanged, this, &CTrayIcon::UpdateToolTip);
    connect(np, &CNowPlaying::streamNameChanged, this, &CTrayIcon::UpdateToolTip);
    connect(np, &CNowPlaying::statusChanged, this, &CTrayIcon::UpdateToolTip);
    connect(np, &CNowPlaying::statusChanged, this, &CTrayIcon::UpdateLiveActions);
    connect(m_menu.get(), &QMenu::aboutToShow, this, &CTrayIcon::UpdateLiveActions);
    UpdateToolTip();
    UpdateLiveActions();
}

void CTrayIcon::AddLiveActions() {
    // Pause, back and live act on the live buffer while one is kept.
    m_pause = m_menu->addAction(QStringLiteral("一時停止"));
    connect(m_pause, &QAction::triggered, this, [this] {
        if (m_pDlg && !live::Resume(*m_pDlg))
            live::Pause(*m_pDlg);
    });
    m_back = m_menu->addAction(QStringLiteral("30秒戻る"));
    connect(m_back, &QAction::triggered, this, [this] {
        if (m_pDlg)
            live::SeekBy(*m_pDlg, -30000);
    });
    m_live = m_menu->addAction(QStringLiteral("ライブに戻る"));
    connect(m_live, &QAction::triggered, this, [this] {
        if (m_pDlg)
            live::GoLive(*m_pDlg);
    });
    // What fails is told by the notifier (the control's RecordingFailed).
    m_record = m_menu->addAction(QStringLiteral("録音"));
    connect(m_record, &QAction::triggered, this, [this] {
        if (m_pDlg && !live::StopRecording(*m_pDlg))
            live::StartRecording(*m_pDlg, [](const QString&) {});
    });
    m_save = m_menu->addAction(QStringLiteral("最後の5分を保存"));
    connect(m_save, &QAction::triggered, this, [this] {
        if (m_pDlg)
            live::SaveLast(*m_pDlg, 5 * 60 * 1000, [](const QString&, const auto&) {});
    });
    if (OleControl* control = remote::PlayerControl(*m_pDlg))
        connect(control, &OleControl::RecordingChanged, this, &CTrayIcon::UpdateLiveActions);
}

void CTrayIcon::AddSleepTimer() {
    QMenu* sleepMenu = m_menu->addMenu(QStringLiteral("スリープタイマー"));
    m_sleepChoices = new QActionGroup(sleepMenu);
    m_sleepChoices->setExclusionPolicy(QActionGroup::ExclusionPolicy::ExclusiveOptional);
    for (const int minutes : kSleepMinutes) {
        QAction* choice = sleepMenu->addAction(QStringLiteral("%1分後").arg(minutes));
        choice->setCheckable(true);
        choice->setData(minutes);
        m_sleepChoices->addAction(choice);
        connect(choice, &QAction::triggered, this, [this, minutes] {
            m_sleep.Start(std::chrono::minutes(minutes));
            m_nSleepMinutes = minutes;
            UpdateSleepChoice();
        });
    }
    m_sleepOff = sleepMenu->addAction(QStringLiteral("オフ"));
    m_sleepOff->setCheckable(true);
    m_sleepChoices->addAction(m_sleepOff);
    connect(m_sleepOff, &QAction::triggered, &m_sleep, &CSleepTimer::Stop);
    connect(&m_sleep, &CSleepTimer::changed, this, [this] {
        // A time set elsewhere (on the bus) is not one of the tray's choices.
        if (m_sleep.GetState() == CSleepTimer::State::Off)
            m_nSleepMinutes = 0;
        UpdateSleepChoice();
    });
    UpdateSleepChoice();
}

void CTrayIcon::AddStations() {
    m_stations = m_menu->addMenu(QStringLiteral("放送局"));
    connect(m_stations, &QMenu::aboutToShow, this, &CTrayIcon::FillStations);
    FillStations();
}

void CTrayIcon::AddWindowActions() {
    m_menu->addSeparator();
    m_window = m_menu->addAction(QString());
    connect(m_window, &QAction::triggered, this, &CTrayIcon::ToggleWindow);
    connect(m_menu.get(), &QMenu::aboutToShow, this, [this] {
        m_window->setText(m_pDlg && remote::IsWindowShown(*m_pDlg)
                              ? QStringLiteral("ウィンドウを隠す")
                              : QStringLiteral("ウィンドウを表示"));
    });
    m_window->setText(remote::IsWindowShown(*m_pDlg) ? QStringLiteral("ウィンドウを隠す")
                                                     : QStringLiteral("ウィンドウを表示"));
    QAction* end = m_menu->addAction(QStringLiteral("終了"));
    connect(end, &QAction::triggered, this, [this] {
        // "End", after the menu has closed: ending the dialog may end the process.
        QMetaObject::invokeMethod(
            this,
            [this] {
                if (m_pDlg)
                    remote::Quit(*m_pDlg);
            },
            Qt::QueuedConnection);
    });
}

void CTrayIcon::UpdateLiveActions() {
    const bool paused =
        m_pDlg && remote::NowPlaying(*m_pDlg).PlaybackStatus() == CNowPlaying::Status::Paused;
    const bool can = m_pDlg && live::CanSeek(*m_pDlg);
    m_pause->setText(paused ? QStringLiteral("再開") : QStringLiteral("一時停止"));
    // Disabled for a reason the listener can act on: it shows on them.
    const QString why = can || !m_pDlg ? QString() : live::Problem(*m_pDlg);
    for (QAction* action : {m_pause, m_back, m_live, m_save}) {
        action->setEnabled(can);
        action->setToolTip(why);
    }
    const bool recording = m_pDlg && live::IsRecording(*m_pDlg);
    m_record->setText(recording ? QStringLiteral("録音を停止") : QStringLiteral("録音"));
    m_record->setEnabled(can || recording);
    m_record->setToolTip(can || recording ? QString() : why);
}

CTrayIcon::~CTrayIcon() {
    m_icon.hide();
    m_icon.setContextMenu(nullptr);
}

void CTrayIcon::Show() {
    m_icon.show();
}

void CTrayIcon::UpdateToolTip() {
    QString tip = QStringLiteral("Didira");
    if (m_pDlg) {
        const CNowPlaying& np = remote::NowPlaying(*m_pDlg);
        if (np.PlaybackStatus() != CNowPlaying::Status::Stopped) {
            tip = np.DisplayName();
            if (!np.Title().isEmpty())
                tip += QLatin1Char('\n') + np.Title();
        }
    }
    m_icon.setToolTip(tip);
}

void CTrayIcon::UpdateSleepChoice() {
    const bool off = m_sleep.GetState() == CSleepTimer::State::Off;
    for (QAction* choice : m_sleepChoices->actions()) {
        if (choice == m_sleepOff)
            choice->setChecked(off);
        else
            choice->setChecked(!off && choice->data().toInt() == m_nSleepMinutes);
    }
}

void CTrayIcon::FillStations() {
    m_stations->clear();
    if (!m_pDlg)
        return;
    const QStringList names = remote::StationNames(*m_pDlg);
    for (int row = 0; row < names.size(); ++row) {
        connect(m_stations->addAction(names[row]), &QAction::triggered, this, [this, row] {
            if (m_pDlg)
                remote::PlayRow(*m_pDlg, row);
        });
    }
    m_stations->setEnabled(!names.isEmpty());
}

void CTrayIcon::ToggleWindow() {
    if (!m_pDlg)
        return;
    if (remote::IsWindowShown(*m_pDlg))
        remote::HideWindow(*m_pDlg);
    else
        remote::Raise(*m_pDlg);
}

} // namespace didira
