// The station list of the main dialog: its columns from a string resource
// and its rows from the station table.
#include "res/Resources.h"
#include "ui/StationListBuild.h"
#include "ui/StationListCtrl.h"
#include "ui/VavarozDlg.h"

#include <QCoreApplication>
#include <QEvent>

namespace didira {

namespace {
// Paints what is invalid in the window now rather than on the next pass of
// the event loop.
void UpdateWindowNow(QWidget* window) {
    if (window->isVisible())
        QCoreApplication::sendPostedEvents(window, QEvent::UpdateRequest);
}
} // namespace

void CVavarozDlg::ResetStationList() {
    if (m_listStations)
        ClearStationList(*m_listStations);
    UpdateWindowNow(this);
}

void CVavarozDlg::BuildStationColumns(unsigned resourceId) {
    const QString headings = LoadResourceString(resourceId);
    ResetStationList();
    if (m_listStations)
        AddStationColumns(*m_listStations, headings);
}

void CVavarozDlg::FillStationList() {
    BuildStationColumns(IDS_STATION_COLUMNS); // on an emptied list
    if (m_listStations)
        AddStationRows(*m_listStations, m_stationTable);
    UpdateWindowNow(this);
}

} // namespace didira
