#pragma once
// Sleep and idle around playback, through logind on the system bus. While a
// station is wanted (playing or on its way to sound) it holds a delay lock on
// sleep. Unless turned off, it holds a block lock on idle sleep while sound is
// heard, and for a while (idleGrace) of waiting for sound, a first open's or
// an outage's: a station that stays silent (the network or the server gone
// for hours) lets the machine go idle; the lock comes back with the sound.
// When the system prepares to sleep it asks the player to let the stream go
// (aboutToSleep) and then releases the delay lock; after the wake it tells
// (woke), asks the player to come back (wokeUp) and takes the locks again.
// Without logind nothing happens.

#include <QDBusConnection>
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QTimer>
#include <chrono>

namespace didira {

class CInhibitorLock;
class CNowPlaying;

class CSleepWatch final : public QObject {
    Q_OBJECT
public:
    static constexpr std::chrono::milliseconds kIdleGrace{std::chrono::seconds(60)};

    CSleepWatch(const CNowPlaying& nowPlaying, const QDBusConnection& systemBus, bool blockIdle,
                QObject* parent = nullptr, std::chrono::milliseconds idleGrace = kIdleGrace);
    ~CSleepWatch() override;
    Q_DISABLE_COPY_MOVE(CSleepWatch)

    // Between logind's PrepareForSleep(true) and PrepareForSleep(false).
    bool IsSleeping() const { return m_bSleeping; }

signals:
    // The system woke up (after every sleep, before wokeUp).
    void woke();
    // The system is about to sleep while a station was wanted: close the
    // stream now, cleanly, and remember it for wokeUp.
    void aboutToSleep();
    // The system woke up after an aboutToSleep: reconnect at the live edge.
    void wokeUp();

private slots:
    void OnPrepareForSleep(bool sleeping);

private:
    bool Wanted() const;
    // Takes or releases the locks as the station is wanted, heard or not.
    void UpdateLocks();
    // Whether the idle lock is wanted now; runs the wait for sound.
    bool IdleWanted(bool wanted);

    QPointer<const CNowPlaying> m_pNowPlaying;
    CInhibitorLock* m_pSleepLock;  // child
    CInhibitorLock* m_pIdleLock;   // child; null when idle sleep is not blocked
    QTimer m_idleGrace;            // runs while a wanted station waits for sound
    bool m_bIdleGraceOver = false; // it waited longer than the grace
    bool m_bSleeping = false;
    bool m_bSuspended = false; // aboutToSleep was sent for this sleep
};

// Whether playback blocks idle sleep: not when the command line holds
// "--no-idle-inhibit" (removed from it) or DIDIRA_NO_IDLE_INHIBIT is set to
// anything but "" or "0".
bool IdleInhibitWanted(QStringList& cmdLine);

} // namespace didira
