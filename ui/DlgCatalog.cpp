// Placeholder until the catalogue load lands.
#include "ui/VavarozDlg.h"

namespace didira {

bool CVavarozDlg::LoadCatalog() {
    return false;
}
void CVavarozDlg::ImportCatalog(const QString&) {}
void CVavarozDlg::OnImportButton() {}

} // namespace didira
