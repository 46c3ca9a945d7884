#pragma once
// Listener actions beside the dialog's buttons (the tray icon's menu, the
// sleep timer's fade). Like ui/DlgRemote.h they act as the user would, or on
// the dialog's player without moving its controls.

#include <QStringList>

namespace didira {

class CVavarozDlg;

namespace remote {

// Plays at gain (0.0 silent .. 1.0) of the volume trackbar's level, leaving
// the trackbar where it is; 1.0 gives the player the trackbar's volume again.
void SetFadeGain(CVavarozDlg& dlg, double gain);

// The station list's names, by row.
QStringList StationNames(const CVavarozDlg& dlg);
// Clicks row and presses "Recieve"; nothing for a row the list does not have.
void PlayRow(CVavarozDlg& dlg, int row);

// Whether the window shows (neither hidden nor minimised).
bool IsWindowShown(const CVavarozDlg& dlg);
// Hides the window; playback and the status fields go on.
void HideWindow(CVavarozDlg& dlg);

} // namespace remote
} // namespace didira
