#include "ui/DlgDirectory.h"

#include "ui/DlgAccess.h"
#include "ui/VavarozDlg.h"

#include <QAction>
#include <QMenu>

namespace didira::remote {

namespace {
// Marks the items added beside the window commands.
constexpr char kBesideProperty[] = "didiraBesideWindow";
} // namespace

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
    const QList<QAction*> actions = menu->actions();
    // The about item's separator; the end when the menu has none.
    QAction* before = nullptr;
    bool grouped = false;
    for (QAction* action : actions) {
        const bool beside = action->property(kBesideProperty).toBool();
        if (action->isSeparator() && !beside)
            before = action;
        grouped = grouped || beside;
    }
    // The items beside the dialog make a group of their own.
    if (!grouped)
        menu->insertSeparator(before)->setProperty(kBesideProperty, true);
    auto* item = new QAction(text, menu);
    item->setProperty(kBesideProperty, true);
    menu->insertAction(before, item);
    return item;
}

} // namespace didira::remote
