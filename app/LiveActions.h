#pragma once
// The listener's pause, moves and recording in what the dialog's player keeps
// of a live station, for the tray, Didira's bus interface and MPRIS alike.
// Each goes to the player control (the dialog has no word for them) and is
// false when it cannot be done now: nothing plays, or the player keeps
// nothing.

#include "control/ControlHost.h"
#include "control/PlayerStates.h"
#include "ui/DlgRemote.h"
#include "ui/NowPlaying.h"

namespace didira::live {

inline bool CanSeek(const CVavarozDlg& dlg) {
    const OleControl* control = remote::PlayerControl(dlg);
    return control && control->CanSeek();
}
inline bool Pause(CVavarozDlg& dlg) {
    OleControl* control = remote::PlayerControl(dlg);
    return control && control->Pause();
}
inline bool Resume(CVavarozDlg& dlg) {
    OleControl* control = remote::PlayerControl(dlg);
    return control && control->Unpause();
}
inline bool GoLive(CVavarozDlg& dlg) {
    OleControl* control = remote::PlayerControl(dlg);
    return control && control->GoLive();
}
inline bool SeekBy(CVavarozDlg& dlg, qint64 ms) {
    OleControl* control = remote::PlayerControl(dlg);
    return control && control->SeekBy(ms);
}
inline bool SeekTo(CVavarozDlg& dlg, qint64 ms) {
    OleControl* control = remote::PlayerControl(dlg);
    return control && control->SeekTo(ms);
}
// Of what is heard, from the oldest audio kept; 0 without a buffer.
inline qint64 PositionMs(const CVavarozDlg& dlg) {
    const OleControl* control = remote::PlayerControl(dlg);
    return control ? control->PositionMs() : 0;
}
// How far what is heard is behind the newest audio kept; 0 when live.
inline qint64 BehindLiveMs(const CVavarozDlg& dlg) {
    const OleControl* control = remote::PlayerControl(dlg);
    return control ? control->BehindLiveMs() : 0;
}

// Why nothing of the station is kept although it plays; empty when there is
// no such reason.
inline QString Problem(const CVavarozDlg& dlg) {
    const OleControl* control = remote::PlayerControl(dlg);
    return control ? control->LiveProblem() : QString();
}

// Recording, one file per title named after the station as the listener
// knows it; reply as the control's (later, on the UI thread).
inline bool StartRecording(CVavarozDlg& dlg, OleControl::RecordingReply reply) {
    OleControl* control = remote::PlayerControl(dlg);
    return control &&
           control->StartRecording(remote::NowPlaying(dlg).DisplayName(), std::move(reply));
}
inline bool StopRecording(CVavarozDlg& dlg) {
    OleControl* control = remote::PlayerControl(dlg);
    return control && control->StopRecording();
}
inline bool IsRecording(const CVavarozDlg& dlg) {
    const OleControl* control = remote::PlayerControl(dlg);
    return control && control->IsRecording();
}
inline bool SaveLast(CVavarozDlg& dlg, qint64 ms, OleControl::SaveReply reply) {
    OleControl* control = remote::PlayerControl(dlg);
    return control &&
           control->SaveLast(remote::NowPlaying(dlg).DisplayName(), ms, std::move(reply));
}

} // namespace didira::live
