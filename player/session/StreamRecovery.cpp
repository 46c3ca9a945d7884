// StreamSession, continued: what happens after a stream that played is lost
// (reconnection with growing pauses, never a failure), while the listener
// pauses it, around a system sleep, and when the network comes and goes.
#include "player/output/OutputFallback.h"
#include "player/output/OutputReturn.h"
#include "player/session/MetafileResolver.h"
#include "player/session/StallWatchdog.h"
#include "player/session/StreamSession.h"

#include <QLoggingCategory>
#include <algorithm>

namespace didira {

Q_DECLARE_LOGGING_CATEGORY(lcPlayer)

// ---- The listener's pause, sleep and the network ----------------------------

bool StreamSession::Pause(bool paused) {
    if (!paused && m_listenerPaused && m_phase != Phase::Paused) {
        // Reconnecting while paused: it plays once it is heard.
        m_listenerPaused = false;
        Report(m_openState, m_phasePlay);
        return true;
    }
    const bool heard =
        m_phase == Phase::Playing || m_phase == Phase::Resuming || m_phase == Phase::Starved;
    if (paused ? !heard : m_phase != Phase::Paused)
        return false;
    m_listenerPaused = paused;
    if (paused)
        m_watchdog->Disarm();
    else
        m_watchdog->Arm();                           // the pause is no stall
    Enter(paused ? Phase::Paused : Phase::Resuming); // playing again once heard
    return true;
}

void StreamSession::PausedAgain() {
    // Nothing goes downstream while paused, so the pipeline does not preroll:
    // the answer is the connection's success.
    m_openTimer.stop();
    m_reconnectAttempt = 0;
    m_reresolved = false;
    SetInterrupted(false);
    Enter(Phase::Paused);
}

void StreamSession::Suspend() {
    switch (m_phase) {
    case Phase::Closed:
    case Phase::Stopped:
    case Phase::Ready:
    case Phase::Suspended:
        return;
    default:
        break;
    }
    // A station that has played comes back as after a drop; one still on its
    // first open is opened again.
    m_suspendedAfterPlay = HasPlayed() || m_reconnectAttempt > 0;
    m_resumeWanted = false;
    Enter(Phase::Suspended);
}

void StreamSession::Resume() {
    if (m_phase != Phase::Suspended)
        return;
    m_resumeWanted = true;
    // Without a network the first attempt would only fail: wait for it.
    if (m_networkAvailable)
        ResumeNow();
}

void StreamSession::ResumeNow() {
    m_resumeWanted = false;
    if (!m_suspendedAfterPlay)
        return Open(m_url);
    m_reconnectAttempt = 1;
    Reconnect();
}

void StreamSession::SetNetworkAvailable(bool available) {
    m_networkAvailable = available;
    if (!available)
        return;
    if (m_phase == Phase::Suspended) {
        if (m_resumeWanted)
            ResumeNow();
        return;
    }
    if (m_reconnectAttempt == 0)
        return;
    // A reconnection waits, or its attempt began while the network was away
    // and may hang until a timeout: start again now, with short pauses.
    switch (m_phase) {
    case Phase::Reconnecting:
    case Phase::Resolving:
    case Phase::LookingUp:
    case Phase::Connecting:
    case Phase::Diagnosing:
        EndAttempt();
        m_resolver->Abort();
        m_reconnectAttempt = 1;
        Reconnect();
        return;
    default:
        return;
    }
}

// ---- Reconnection ---------------------------------------------------------

void StreamSession::StreamDropped(const QString& reason) {
    m_reconnectAttempt = 0;
    SetInterrupted(true);
    ScheduleReconnect(reason);
}

void StreamSession::ScheduleReconnect(const QString& reason) {
    qCDebug(lcPlayer) << "reconnecting after" << reason;
    EndAttempt();
    Enter(Phase::Reconnecting);
    int delay = kMaxReconnectDelayMs;
    if (m_networkAvailable && !m_reconnectDelaysMs.empty())
        delay = std::min(
            m_reconnectDelaysMs[std::min(m_reconnectAttempt, m_reconnectDelaysMs.size() - 1)],
            kMaxReconnectDelayMs);
    ++m_reconnectAttempt;
    m_reconnectTimer.start(delay);
}

void StreamSession::Reconnect() {
    ++m_reconnects;
    // First the stream that played; after that the station's list again from
    // the start, which may point elsewhere by now.
    if (m_stationIsList && m_reconnectAttempt > 1) {
        m_reresolved = true;
        Enter(Phase::Resolving);
        return m_resolver->Resolve(m_openUrl);
    }
    if (m_candidate >= m_candidates.size())
        m_candidate = 0;
    TryCandidate();
}

void StreamSession::NoAudioOutput() {
    const QString reason = NoAudioOutputReason();
    // Once per open or outage, not at every attempt.
    if (!m_outputMissingTold) {
        m_outputMissingTold = true;
        qWarning("didira: no sound output could be opened (tried: %s)",
                 qPrintable(AutomaticAudioSinks().join(QStringLiteral(", "))));
    }
    // A station that played waits for its output to come back (a sound server
    // restarting) as for its server.
    if (m_reconnectAttempt > 0) {
        ScheduleReconnect(reason);
        return WatchOutput();
    }
    Fail(playererror::NoAudioOutput, reason, false);
}

void StreamSession::OutputDropped() {
    StreamDropped(NoAudioOutputReason());
    WatchOutput();
}

void StreamSession::WatchOutput() {
    if (!m_outputReturn) {
        m_outputReturn = new OutputReturn(m_pipeline.SinkDescription(), this);
        connect(m_outputReturn, &OutputReturn::Back, this, [this] {
            if (m_phase != Phase::Reconnecting)
                return;
            qCDebug(lcPlayer) << "a sound output opens again";
            EndAttempt();
            m_reconnectAttempt = 1; // short pauses again, should this attempt fail
            Reconnect();
        });
    }
    m_outputReturn->Start();
}

void StreamSession::SetInterrupted(bool interrupted) {
    if (interrupted == m_interrupted)
        return;
    m_interrupted = interrupted;
    emit Interrupted(interrupted);
}

} // namespace didira
