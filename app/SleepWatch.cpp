#include "app/SleepWatch.h"

#include "app/InhibitorLock.h"
#include "ui/NowPlaying.h"

namespace didira {

CSleepWatch::CSleepWatch(const CNowPlaying& nowPlaying, const QDBusConnection& systemBus,
                         bool blockIdle, QObject* parent, std::chrono::milliseconds idleGrace)
    : QObject(parent), m_pNowPlaying(&nowPlaying),
      m_pSleepLock(
          new CInhibitorLock(systemBus, QStringLiteral("sleep"), QStringLiteral("delay"),
                             QStringLiteral("再生中のストリームを閉じてからスリープします"), this)),
      m_pIdleLock(blockIdle ? new CInhibitorLock(systemBus, QStringLiteral("idle"),
                                                 QStringLiteral("block"),
                                                 QStringLiteral("ラジオを再生しています"), this)
                            : nullptr) {
    if (systemBus.isConnected())
        QDBusConnection(systemBus).connect(
            QStringLiteral("org.freedesktop.login1"), QStringLiteral("/org/freedesktop/login1"),
            QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("PrepareForSleep"),
            this, SLOT(OnPrepareForSleep(bool)));
    m_idleGrace.setSingleShot(true);
    m_idleGrace.setInterval(idleGrace);
    connect(&m_idleGrace, &QTimer::timeout, this, [this] {
        m_bIdleGraceOver = true;
        UpdateLocks();
    });
    connect(&nowPlaying, &CNowPlaying::statusChanged, this, &CSleepWatch::UpdateLocks);
    connect(&nowPlaying, &CNowPlaying::heardChanged, this, &CSleepWatch::UpdateLocks);
    UpdateLocks();
}

CSleepWatch::~CSleepWatch() = default;

bool CSleepWatch::Wanted() const {
    return m_pNowPlaying && m_pNowPlaying->PlaybackStatus() == CNowPlaying::Status::Playing;
}

void CSleepWatch::UpdateLocks() {
    // Asleep, nothing is held: logind wants the delay lock back only after the wake.
    const bool hold = Wanted() && !m_bSleeping;
    const bool idle = IdleWanted(hold);
    for (auto [lock, take] : {std::pair{m_pSleepLock, hold}, std::pair{m_pIdleLock, idle}}) {
        if (!lock)
            continue;
        if (take)
            lock->Take();
        else
            lock->Release();
    }
}

bool CSleepWatch::IdleWanted(bool wanted) {
    if (!wanted || m_pNowPlaying->IsHeard()) {
        m_idleGrace.stop();
        m_bIdleGraceOver = false;
        return wanted;
    }
    if (!m_bIdleGraceOver && !m_idleGrace.isActive())
        m_idleGrace.start();
    return !m_bIdleGraceOver;
}

void CSleepWatch::OnPrepareForSleep(bool sleeping) {
    if (sleeping == m_bSleeping)
        return;
    m_bSleeping = sleeping;
    if (sleeping) {
        m_bSuspended = Wanted();
        if (m_bSuspended)
            emit aboutToSleep();
        // The stream is let go: sleep may go on.
        UpdateLocks();
        return;
    }
    UpdateLocks();
    emit woke();
    if (std::exchange(m_bSuspended, false))
        emit wokeUp();
}

bool IdleInhibitWanted(QStringList& cmdLine) {
    const bool switchGiven = cmdLine.removeAll(QStringLiteral("--no-idle-inhibit")) > 0;
    const QString env = qEnvironmentVariable("DIDIRA_NO_IDLE_INHIBIT");
    return !switchGiven && (env.isEmpty() || env == QLatin1String("0"));
}

} // namespace didira
