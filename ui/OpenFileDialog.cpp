#include "ui/OpenFileDialog.h"

#include <QFileDialog>
#include <QFileInfo>

namespace didira {

namespace {
OpenFileDialogHook& Hook() {
    static OpenFileDialogHook hook;
    return hook;
}
} // namespace

void SetOpenFileDialogHook(OpenFileDialogHook hook) {
    Hook() = std::move(hook);
}

QStringList NameFiltersFromFilterText(const QString& filterText) {
    const QStringList parts = filterText.split(u'|');
    QStringList filters;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        const QString& description = parts[i];
        if (description.isEmpty())
            break; // the "||" that ends the list
        const QString patterns = QString(parts[i + 1]).replace(u';', u' ');
        // The dialog reads the patterns from the parentheses of the text;
        // a description that already shows them is used as it is.
        const QString shown = QStringLiteral("(%1)").arg(patterns);
        filters << (description.contains(shown) ? description
                                                : QStringLiteral("%1 %2").arg(description, shown));
    }
    return filters;
}

QString GetOpenFileName(QWidget* owner, const QString& defaultSuffix, const QString& filterText) {
    OpenFileRequest request{owner, defaultSuffix, NameFiltersFromFilterText(filterText)};
    if (Hook())
        return Hook()(request);

    QFileDialog dialog(owner);
    // The toolkit's own dialog behaves the same on every desktop and can be
    // driven in tests.
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setDefaultSuffix(request.defaultSuffix);
    dialog.setNameFilters(request.nameFilters);
    if (!request.nameFilters.isEmpty())
        dialog.selectNameFilter(request.nameFilters.first());
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return QFileInfo(dialog.selectedFiles().first()).absoluteFilePath();
}

} // namespace didira
