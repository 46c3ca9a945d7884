#pragma once
// Commands that reach the main dialog from outside its window (the desktop's
// media controls and keys). Each acts as the user would: through the list
// click, "Recieve", "Cancel", "End" and the volume trackbar, so the dialog's
// own handlers do the work and its fields show what happened.

#include <QPixmap>
#include <QString>
#include <functional>

class QObject;

namespace didira {

class CNowPlaying;
class CVavarozDlg;
class OleControl;

namespace remote {

// What plays now, as the dialog and its player keep it; it signals each
// change.
const CNowPlaying& NowPlaying(const CVavarozDlg& dlg);
// The dialog's player control; null before the dialog is created.
OleControl* PlayerControl(const CVavarozDlg& dlg);
// Calls changed (in context's thread, for as long as context lives)
// whenever what Play, Next, Previous and Volume answer may have changed: the
// volume trackbar moved, the list's selection or rows changed.
void WatchControls(const CVavarozDlg& dlg, QObject* context, const std::function<void()>& changed);
// The station list's small flag image number flag; null when there is none.
QPixmap FlagImage(const CVavarozDlg& dlg, int flag);

// Whether Play has a station: a selected row or one taken before.
bool CanPlay(const CVavarozDlg& dlg);
// "Recieve" on the selected (or last taken) station; nothing without one.
void Play(CVavarozDlg& dlg);
// "Cancel".
void Stop(CVavarozDlg& dlg);
// Stop while it plays, else Play.
void PlayPause(CVavarozDlg& dlg);

// Whether the list has a station to step to.
bool CanStep(const CVavarozDlg& dlg);
// Clicks the row `delta` rows after the current station (wrapping around
// the list) and presses "Recieve". The current station is the selected row,
// else the row of the station taken last; with neither, Next starts at the
// first row and Previous at the last.
void Step(CVavarozDlg& dlg, int delta);

// Plays url: the catalogue's row for it when there is one, else the URL on
// its own, under name (none when empty).
void OpenUri(CVavarozDlg& dlg, const QString& url, const QString& name = QString());

// The volume trackbar's position as 0.0 (left end) to 1.0 (right end).
double Volume(const CVavarozDlg& dlg);
// Moves the volume trackbar to volume (clamped to 0.0..1.0), which sends
// the new position to the player as a user's move does.
void SetVolume(CVavarozDlg& dlg, double volume);

// Shows the window in front, also when it was hidden or minimised; nothing
// once the dialog has ended.
void Raise(CVavarozDlg& dlg);
// "End": ends the dialog, or only hides it while an automation client holds
// the automation object.
void Quit(CVavarozDlg& dlg);

} // namespace remote
} // namespace didira
