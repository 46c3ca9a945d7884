#pragma once
// What the station directory's window does with the dialog beside it: the
// dialog's catalogue file and its reload after a station was added, and an
// entry of its own in the window menu. Like ui/DlgRemote.h, it acts as the
// dialog itself would.

#include <QString>

class QAction;

namespace didira {

class CVavarozDlg;

namespace remote {

// The catalogue file the dialog reads (as it holds the path).
QString CatalogueFile(const CVavarozDlg& dlg);
// Reads the catalogue file again (with its backup and messages) and rebuilds
// the list from it; nothing changes when the load fails.
void ReloadCatalogue(CVavarozDlg& dlg);

// An item of the window menu for a window beside the dialog, after the
// window commands and before the about item (which stays last); the
// dialog's window must be created. Null when it has no window menu.
QAction* AddWindowMenuItem(CVavarozDlg& dlg, const QString& text);

} // namespace remote
} // namespace didira
