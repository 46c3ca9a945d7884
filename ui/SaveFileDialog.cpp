#include "ui/SaveFileDialog.h"

#include <QDir>
#include <QFileDialog>

namespace didira {

namespace {
SaveFileDialogHook& Hook() {
    static SaveFileDialogHook hook;
    return hook;
}
} // namespace

void SetSaveFileDialogHook(SaveFileDialogHook hook) {
    Hook() = std::move(hook);
}

QString GetSaveFileName(const SaveFileRequest& request) {
    if (Hook())
        return Hook()(request);
    return QFileDialog::getSaveFileName(
        request.owner, QString(), QDir::home().filePath(request.suggestedName), request.nameFilter);
}

} // namespace didira
