#pragma once
// Desktop notifications of the title now playing: one notification, showing
// the station and the title, replaced whenever the title changes while a
// station plays, and withdrawn when playback stops (Cancel, a station that
// ends) and at exit. A station that is lost and being reconnected is told
// once per outage, and the title shown again when it plays again. The
// notification service (org.freedesktop.Notifications) is called
// asynchronously, but for the withdrawal at exit, which waits a bounded time
// so that it leaves before the process does; without a service nothing is
// shown.

#include <QDBusConnection>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>

namespace didira {

class CNowPlaying;
class CSongHistory;
class OleControl;

class CDesktopNotifier final : public QObject {
    Q_OBJECT
public:
    CDesktopNotifier(const CNowPlaying& nowPlaying, const QDBusConnection& bus,
                     QObject* parent = nullptr);
    ~CDesktopNotifier() override;
    Q_DISABLE_COPY_MOVE(CDesktopNotifier)

    // The id the service gave the notification shown last; 0 before the
    // first, and again after the service went away.
    uint NotificationId() const { return m_nId; }
    // Tells the listener that recording failed, and why, in the same
    // notification.
    void TellRecordingFailed(const QString& reason);
    // Tells each failure of control's recordings and savings
    // (OleControl::RecordingFailed) that way.
    void TellRecordingFailures(const OleControl& control);
    // Tells what goes wrong with history's file (CSongHistory::trouble), in
    // the same notification.
    void TellHistoryTroubles(const CSongHistory& history);

private:
    enum class Markup { Unknown, Asking, Supported, Unsupported };

    void OnTitleChanged();
    void OnStatusChanged();
    void OnInterruptedChanged();
    void Show(const QString& summary, const QString& body);
    // Sends what is pending (a withdrawal first, then a notification) unless
    // a call is still out; the reply of each call sends the next, so every
    // notification replaces the one before and a withdrawal asked for while
    // a notification was on its way takes that one.
    void Pump();
    void ServiceGone();

    QPointer<const CNowPlaying> m_pNowPlaying;
    QDBusConnection m_bus;
    uint m_nId = 0;
    Markup m_markup = Markup::Unknown;
    bool m_bInFlight = false;
    bool m_bPending = false;
    bool m_bWithdraw = false; // pending
    QString m_strSummary;     // pending
    QString m_strBody;        // pending, plain text
};

// Whether notifications are wanted: not when the command line holds
// "--no-notifications" (removed from it) or DIDIRA_NO_NOTIFICATIONS is set to
// anything but "" or "0".
bool NotificationsWanted(QStringList& cmdLine);

} // namespace didira
