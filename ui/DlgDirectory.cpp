#include "ui/DlgDirectory.h"

#include "ui/DlgAccess.h"
#include "ui/DlgListener.h"
#include "ui/VavarozDlg.h"

#include <QAction>
#include <QMenu>

namespace didira::remote {

QString CatalogueFile(const CVavarozDlg& dlg) {
    return Access::CatalogFile(dlg);
}

void ReloadCatalogue(CVavarozDlg& dlg) {
    dlg.ImportCatalog(Access::CatalogFile(dlg));
}

QAction* AddWindowMenuItem(CVavarozDlg& dlg, const QString& text) {
    QMenu* menu = Access::SystemMenu(dlg);
    if (!menu)
        return nullptr;
    auto* item = new QAction(text, menu);
    AddToWindowMenu(dlg, item);
    return item;
}

} // namespace didira::remote
