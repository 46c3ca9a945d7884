// StreamSession, continued: the one transition, Enter(), with the open and
// play states each phase reports and what entering it does.
#include "player/output/OutputReturn.h"
#include "player/session/ConnectionCheck.h"
#include "player/session/MetafileResolver.h"
#include "player/session/StallWatchdog.h"
#include "player/session/StreamSession.h"
#include "player/session/StreamUrl.h"

#include <QHostInfo>
#include <QLoggingCategory>
#include <iterator>

namespace didira {

Q_DECLARE_LOGGING_CATEGORY(lcPlayer)

// Bound of the connection check after a failure without answer.
constexpr int kCheckTimeoutMs = 5000;

bool StreamSession::HasPlayed() const {
    return m_phase == Phase::Playing || m_phase == Phase::Starved || m_phase == Phase::Paused ||
           m_phase == Phase::Rebuffering || m_phase == Phase::Resuming || m_phase == Phase::Ready;
}

// ---- The transition --------------------------------------------------------

void StreamSession::Enter(Phase next) {
    const Phase previous = m_phase;
    m_phase = next;
    qCDebug(lcPlayer) << "phase" << PhaseName(previous) << "->" << PhaseName(next);
    if (m_outputReturn && next != Phase::Reconnecting)
        m_outputReturn->Stop();
    const Reported states = ReportedStates(next, m_openState, IsNetworkUrl(m_current));
    EnterActions(next);
    Report(states.open, states.play);
}

StreamSession::Reported StreamSession::ReportedStates(Phase phase, OpenState before, bool network) {
    switch (phase) {
    case Phase::Closed:
        return {OpenState::Closed, PlayState::Closed};
    case Phase::Stopped: // the stream stays open: it is what a later play starts again
        return {before == OpenState::Closed ? OpenState::Closed : OpenState::Open,
                PlayState::Stopped};
    case Phase::Resolving:
    case Phase::Sniffing:
        return {OpenState::LoadingMetafile, PlayState::Waiting};
    case Phase::LookingUp:
        return {OpenState::LocatingServer, PlayState::Waiting};
    case Phase::Connecting:
        return {network ? OpenState::Connecting : OpenState::Opening, PlayState::Waiting};
    case Phase::Opening:
    case Phase::Buffering:
    case Phase::Rebuffering:
        return {OpenState::Opening, PlayState::Waiting};
    case Phase::Starting:
        return {before, PlayState::Waiting};
    case Phase::Starved:
    case Phase::Resuming:
        return {OpenState::Open, PlayState::Waiting};
    case Phase::Paused:
        return {OpenState::Open, PlayState::Paused};
    case Phase::Playing:
        return {OpenState::Open, PlayState::Playing};
    case Phase::Ready:
        return {OpenState::Open, PlayState::Stopped};
    case Phase::Diagnosing:
    case Phase::Reconnecting:
    case Phase::Suspended:
        return {OpenState::Connecting, PlayState::Waiting};
    }
    return {before, PlayState::Waiting};
}

void StreamSession::EnterActions(Phase next) {
    switch (next) {
    case Phase::Closed:
    case Phase::Stopped:
        EndOpen();
        break;
    case Phase::Connecting:
        m_bufferPercent = 100;
        m_titleFromIcy = false;
        m_answer.Start(m_current);
        m_pipeline.Start(m_current);
        m_meter.Start();
        break;
    case Phase::Starting:
    case Phase::Resuming:
        m_pipeline.SetPlaying(true);
        break;
    case Phase::Rebuffering:
    case Phase::Paused: // the listener's pause: the pipeline keeps what it has queued
        m_pipeline.SetPlaying(false);
        break;
    case Phase::Playing:
    case Phase::Ready:
        m_openTimer.stop();
        m_reconnectAttempt = 0; // a reconnection has succeeded
        m_reresolved = false;
        if (next == Phase::Playing) {
            m_watchdog->Arm(); // kept through rebuffering and resuming
            m_outputMissingTold = false;
            SetInterrupted(false);
        }
        break;
    case Phase::Diagnosing:
        m_check->Start(m_current, kCheckTimeoutMs);
        break;
    case Phase::Suspended: // the title stays: the same station comes back after the wake
        m_resolver->Abort();
        EndAttempt();
        break;
    case Phase::Resolving:
    case Phase::Sniffing:
    case Phase::LookingUp:
    case Phase::Opening:
    case Phase::Buffering:
    case Phase::Reconnecting:
        break;
    case Phase::Starved:
        // Not paused: data that comes again plays at once, moved to the
        // present by the output hearing, so nothing is cut. A stream that
        // stays dry is the stall watchdog's.
        break;
    }
}

void StreamSession::EndOpen() {
    m_listenerPaused = false;
    m_resolver->Abort();
    EndAttempt();
    SetTitle(QString());
    SetStreamName(QString());
    m_reconnectAttempt = 0;
    m_resumeWanted = false;
    SetInterrupted(false);
}

void StreamSession::Report(OpenState open, PlayState play) {
    m_phasePlay = play;
    if (m_listenerPaused && play == PlayState::Waiting)
        play = PlayState::Paused;
    if (open == m_openState && play == m_playState)
        return;
    m_openState = open;
    m_playState = play;
    emit StateChanged(play, open);
}

const char* StreamSession::PhaseName(Phase phase) {
    // In the order of Phase.
    static constexpr const char* kNames[] = {
        "Closed",    "Resolving", "Sniffing",   "LookingUp",    "Connecting",  "Opening",
        "Buffering", "Starting",  "Playing",    "Starved",      "Rebuffering", "Resuming",
        "Ready",     "Stopped",   "Diagnosing", "Reconnecting", "Suspended",   "Paused"};
    static_assert(std::size(kNames) == std::size_t(Phase::Paused) + 1);
    return kNames[std::size_t(phase)];
}

void StreamSession::EndAttempt() {
    m_watchdog->Disarm();
    m_openTimer.stop();
    m_reconnectTimer.stop();
    m_meter.Stop();
    m_check->Abort();
    ++m_lookupSerial;
    if (m_lookupId >= 0) {
        QHostInfo::abortHostLookup(m_lookupId);
        m_lookupId = -1;
    }
    m_pipeline.Teardown();
}

} // namespace didira
