#pragma once
// The save-file dialog of exports. Tests replace the modal dialog by a hook,
// as with message boxes.

#include <QString>
#include <functional>

class QWidget;

namespace didira {

struct SaveFileRequest {
    QWidget* owner = nullptr;
    QString suggestedName; // a file name, in the home folder
    QString nameFilter;    // "description (patterns)"
};

// The chosen path, or an empty string when the user cancels.
using SaveFileDialogHook = std::function<QString(const SaveFileRequest&)>;
// An empty hook restores the real dialog.
void SetSaveFileDialogHook(SaveFileDialogHook hook);

// Runs a modal save-file dialog (which asks before replacing a file); the
// chosen path, or an empty string when cancelled.
QString GetSaveFileName(const SaveFileRequest& request);

} // namespace didira
