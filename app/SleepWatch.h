#pragma once
// Sleep and idle around playback, through logind on the system bus. While a
// station is wanted (playing or on its way to sound) it holds a delay lock on
// sleep and, unless turned off, a block lock on idle sleep. When the system
// prepares to sleep it asks the player to let the stream go (aboutToSleep)
// and then releases the delay lock; after the wake it asks the player to come
// back (wokeUp) and takes the locks again. Without logind nothing happens.

#include <QDBusConnection>
#include <QObject>
#include <QPointer>
#include <QStringList>

namespace didira {

class CInhibitorLock;
class CNowPlaying;

class CSleepWatch final : public QObject {
    Q_OBJECT
public:
    CSleepWatch(const CNowPlaying& nowPlaying, const QDBusConnection& systemBus, bool blockIdle,
                QObject* parent = nullptr);
    ~CSleepWatch() override;
    Q_DISABLE_COPY_MOVE(CSleepWatch)

    // Between logind's PrepareForSleep(true) and PrepareForSleep(false).
    bool IsSleeping() const { return m_bSleeping; }

signals:
    // The system is about to sleep while a station was wanted: close the
    // stream now, cleanly, and remember it for wokeUp.
    void aboutToSleep();
    // The system woke up after an aboutToSleep: reconnect at the live edge.
    void wokeUp();

private slots:
    void OnPrepareForSleep(bool sleeping);

private:
    bool Wanted() const;
    // Takes or releases the locks as the station is wanted or not.
    void UpdateLocks();

    QPointer<const CNowPlaying> m_pNowPlaying;
    CInhibitorLock* m_pSleepLock; // child
    CInhibitorLock* m_pIdleLock;  // child; null when idle sleep is not blocked
    bool m_bSleeping = false;
    bool m_bSuspended = false; // aboutToSleep was sent for this sleep
};

// Whether playback blocks idle sleep: not when the command line holds
// "--no-idle-inhibit" (removed from it) or DIDIRA_NO_IDLE_INHIBIT is set to
// anything but "" or "0".
bool IdleInhibitWanted(QStringList& cmdLine);

} // namespace didira
