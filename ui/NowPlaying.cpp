#include "ui/NowPlaying.h"

#include "control/PlayerStates.h"

#include <QPointer>
#include <QWidget>

namespace didira {

namespace {

// Paused is paused; playing, waiting and the scanning states are on their
// way to sound; stopped, closed and anything else are not. A closed stream
// never plays.
CNowPlaying::Status StatusOf(long playState, long openState) {
    if (openState == ToNumber(OpenState::Closed))
        return CNowPlaying::Status::Stopped;
    if (playState == ToNumber(PlayState::Paused))
        return CNowPlaying::Status::Paused;
    if (playState >= ToNumber(PlayState::Playing) && playState <= ToNumber(PlayState::SkipBackward))
        return CNowPlaying::Status::Playing;
    return CNowPlaying::Status::Stopped;
}

} // namespace

void CNowPlaying::Open(const QString& name, const QString& url, int flagImage) {
    m_strName = name;
    m_strUrl = url;
    m_nFlag = flagImage;
    ++m_nOpenCount;
    const bool hadTitle = !m_strTitle.isEmpty();
    const bool hadStreamName = !m_strStreamName.isEmpty();
    m_strTitle.clear();
    m_strStreamName.clear();
    emit stationChanged();
    if (hadTitle)
        emit titleChanged();
    if (hadStreamName)
        emit streamNameChanged();
    SetStatus(Status::Playing);
    SetHeard(false); // on its way to sound
}

void CNowPlaying::Stop() {
    SetTitle(QString());
    SetStreamName(QString());
    SetStatus(Status::Stopped);
    SetHeard(false);
}

void CNowPlaying::SetHeard(bool heard) {
    if (heard == m_bHeard)
        return;
    m_bHeard = heard;
    emit heardChanged();
}

void CNowPlaying::SetTitle(const QString& title) {
    if (title == m_strTitle)
        return;
    m_strTitle = title;
    emit titleChanged();
}

QString CNowPlaying::DisplayName() const {
    if (!m_strName.isEmpty())
        return m_strName;
    return m_strStreamName.isEmpty() ? m_strUrl : m_strStreamName;
}

void CNowPlaying::SetStreamName(const QString& name) {
    if (name == m_strStreamName)
        return;
    m_strStreamName = name;
    emit streamNameChanged();
}

void CNowPlaying::SetPlayerState(long playState, long openState) {
    const Status status = StatusOf(playState, openState);
    if (status == Status::Stopped) {
        SetTitle(QString());
        SetStreamName(QString());
    }
    SetStatus(status);
    SetHeard(status == Status::Playing && playState == ToNumber(PlayState::Playing));
}

void CNowPlaying::SetInterrupted(bool interrupted) {
    if (interrupted == m_bInterrupted)
        return;
    m_bInterrupted = interrupted;
    emit interruptedChanged();
}

void CNowPlaying::SetStatus(Status status) {
    if (status == m_status)
        return;
    m_status = status;
    emit statusChanged();
}

void CNowPlaying::ShowTitleOn(QWidget* field) {
    if (!field)
        return;
    const auto show = [this, target = QPointer<QWidget>(field)] {
        if (!target)
            return;
        target->setToolTip(m_strTitle);
        target->setAccessibleDescription(m_strTitle);
    };
    show();
    connect(this, &CNowPlaying::titleChanged, field, show);
}

} // namespace didira
