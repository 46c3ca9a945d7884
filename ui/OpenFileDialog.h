#pragma once
// The open-file dialog of the catalogue import. Tests replace the modal
// dialog by a hook, as with message boxes.

#include <QString>
#include <QStringList>
#include <functional>

class QWidget;

namespace didira {

struct OpenFileRequest {
    QWidget* owner = nullptr;
    QString defaultSuffix;
    QStringList nameFilters; // the first is selected
};

// The chosen path, or an empty string when the user cancels.
using OpenFileDialogHook = std::function<QString(const OpenFileRequest&)>;
// An empty hook restores the real dialog.
void SetOpenFileDialogHook(OpenFileDialogHook hook);

// Turns a filter text of "description|patterns|...||" pairs (patterns
// separated by ';') into name filters of the form "description (patterns)".
QStringList NameFiltersFromFilterText(const QString& filterText);

// Runs a modal open-file dialog for an existing file; returns its absolute
// path, or an empty string when cancelled.
QString GetOpenFileName(QWidget* owner, const QString& defaultSuffix, const QString& filterText);

} // namespace didira
