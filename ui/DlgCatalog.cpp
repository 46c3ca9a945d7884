// The station catalogue of the main dialog: the load at construction and the
// import of another catalogue file.
#include "catalogue/CatalogueLoad.h"
#include "ui/MessageBox.h"
#include "ui/OpenFileDialog.h"
#include "ui/StationListCtrl.h"
#include "ui/VavarozDlg.h"

namespace didira {

namespace {
constexpr char kImportFilter[] = "CSVﾌｧｲﾙ (*.csv)|*.csv|全て (*.*)|*.*||";
} // namespace

bool CVavarozDlg::LoadCatalog() {
    // In the constructor the window does not exist yet and the messages
    // have no owner.
    QWidget* owner = IsWindowCreated() ? this : nullptr;
    return LoadStationCatalogue(m_strCatalogFile, m_stationTable,
                                [owner](const QString& text) { ShowMessageBox(owner, text); }) >= 0;
}

void CVavarozDlg::OnImportButton() {
    const QString path =
        GetOpenFileName(this, QStringLiteral("CSV"), QString::fromUtf8(kImportFilter));
    if (!path.isEmpty())
        ImportCatalog(path);
}

void CVavarozDlg::ImportCatalog(const QString& path) {
    // The import loads into an empty table, so that the list shows exactly
    // the imported catalogue; a failed load changes nothing at all.
    StationTable table;
    if (LoadStationCatalogue(path, table,
                             [this](const QString& text) { ShowMessageBox(this, text); }) < 0)
        return;
    m_strCatalogFile = path;
    m_stationTable = std::move(table);
    if (m_listStations)
        FillStationList();
}

} // namespace didira
