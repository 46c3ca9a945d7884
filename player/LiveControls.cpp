// The control's pause, moves in the live buffer and recording: what the
// listener does with what the time shift keeps of the live station.
#include "player/GstPlayerControl.h"
#include "player/session/StreamSession.h"
#include "player/timeshift/Recorder.h"
#include "player/timeshift/TimeShift.h"

#include <QCoreApplication>
#include <QPointer>
#include <QThreadPool>
#include <algorithm>

namespace didira {

// ---- Pause and moves in the live buffer --------------------------------------

bool CGstPlayerControl::Pause() {
    if (m_session->GetPlayState() == PlayState::Paused)
        return true;
    if (!CanSeek() || !m_session->Pause(true))
        return false;
    m_timeShift->Pause();
    return true;
}

bool CGstPlayerControl::Unpause() {
    if (m_session->GetPlayState() != PlayState::Paused)
        return m_session->GetPlayState() == PlayState::Playing;
    bool fromOldest = false;
    if (m_timeShift)
        m_timeShift->Unpause(&fromOldest);
    if (fromOldest) {
        qWarning("didira: the paused place is no longer kept; playing on from the oldest audio "
                 "kept");
        emit Moved();
        emit PlaybackNotice(QStringLiteral(
            "一時停止した位置はもう残っていないため、残っている最も古い位置から再生します。"));
    }
    return m_session->Pause(false);
}

bool CGstPlayerControl::SeekBy(qint64 ms) {
    return CanSeek() && NoteMove(m_timeShift->SeekBy(ms));
}

bool CGstPlayerControl::SeekTo(qint64 ms) {
    return CanSeek() && NoteMove(m_timeShift->SeekTo(ms));
}

bool CGstPlayerControl::GoLive() {
    if (!CanSeek())
        return false;
    NoteMove(m_timeShift->GoLive());
    // Live now, also while the output waits for the new place.
    return m_session->GetPlayState() != PlayState::Paused || Unpause();
}

bool CGstPlayerControl::NoteMove(bool moved) {
    if (moved)
        emit Moved();
    return moved;
}

bool CGstPlayerControl::CanSeek() const {
    const PlayState state = m_session->GetPlayState();
    // Waiting: resuming, starved or reconnecting after it played (a buffer
    // that works has kept what was received).
    return m_timeShift && m_timeShift->Works() &&
           (state == PlayState::Playing || state == PlayState::Paused ||
            state == PlayState::Waiting);
}

qint64 CGstPlayerControl::PositionMs() const {
    return m_timeShift ? m_timeShift->PositionMs() : 0;
}

qint64 CGstPlayerControl::BehindLiveMs() const {
    return m_timeShift ? m_timeShift->BehindMs() : 0;
}

QString CGstPlayerControl::LiveProblem() const {
    return m_timeShift ? m_timeShift->Error() : QString();
}

// ---- Recording -------------------------------------------------------------

namespace {

// Calls reply on the UI thread.
void PostReply(const OleControl::RecordingReply& reply, const QString& error) {
    QMetaObject::invokeMethod(
        QCoreApplication::instance(), [reply, error] { reply(error); }, Qt::QueuedConnection);
}

} // namespace

std::shared_ptr<const LiveBuffer> CGstPlayerControl::RecordableBuffer() const {
    return CanSeek() ? m_timeShift->Buffer() : nullptr;
}

bool CGstPlayerControl::StartRecording(const QString& station, RecordingReply reply) {
    if (m_recorder) {
        PostReply(reply, {});
        return true;
    }
    std::shared_ptr<const LiveBuffer> buffer = RecordableBuffer();
    if (!buffer)
        return false;
    const quint64 recording = ++m_nRecording;
    // The recorder's reports come on its thread.
    const QPointer<CGstPlayerControl> self(this);
    const auto ended = [self, recording](const QString& error) {
        if (!self)
            return;
        if (self->m_nRecording == recording && self->m_recorder)
            self->DropRecorder();
        emit self->RecordingFailed(error);
    };
    auto started = [reply, ended](const QString& error) {
        PostReply(
            [reply, ended](const QString& e) {
                if (!e.isEmpty())
                    ended(e);
                reply(e);
            },
            error);
    };
    auto failed = [ended](const QString& error) { PostReply(ended, error); };
    m_recorder = std::make_shared<Recorder>(std::move(buffer), m_recordFolder, station,
                                            std::move(started), std::move(failed));
    emit RecordingChanged(true);
    return true;
}

bool CGstPlayerControl::StopRecording() {
    if (!m_recorder)
        return false;
    DropRecorder();
    return true;
}

void CGstPlayerControl::DropRecorder(bool tell) {
    m_recorder->Stop();
    QThreadPool::globalInstance()->start(
        [recorder = std::move(m_recorder)]() mutable { recorder.reset(); });
    m_recorder.reset();
    if (tell)
        emit RecordingChanged(false);
}

bool CGstPlayerControl::SaveLast(const QString& station, qint64 ms, SaveReply reply) {
    std::shared_ptr<const LiveBuffer> buffer = RecordableBuffer();
    if (!buffer)
        return false;
    const QPointer<CGstPlayerControl> self(this);
    QThreadPool::globalInstance()->start(
        [buffer = std::move(buffer), station, ms, folder = m_recordFolder, self, reply] {
            const qint64 end = buffer->End();
            const qint64 newest = buffer->TimeAt(end - 1);
            const qint64 from = buffer->OffsetAt(newest - ms);
            SavedAudio saved;
            const QString error =
                Recorder::SaveRange(*buffer, from, end, folder, station, &saved.files);
            if (error.isEmpty())
                saved.ms = std::clamp<qint64>(newest - buffer->TimeAt(from), 0, ms);
            QMetaObject::invokeMethod(
                QCoreApplication::instance(),
                [self, reply, error, saved] {
                    if (self && !error.isEmpty())
                        emit self->RecordingFailed(error);
                    reply(error, saved);
                },
                Qt::QueuedConnection);
        });
    return true;
}

} // namespace didira
