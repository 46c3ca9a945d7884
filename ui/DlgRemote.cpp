#include "ui/DlgRemote.h"

#include "res/Resources.h"
#include "ui/StationListCtrl.h"
#include "ui/VavarozDlg.h"

#include <QItemSelectionModel>
#include <QPushButton>
#include <QSlider>
#include <algorithm>
#include <cmath>

namespace didira::remote {

namespace {

void Press(CVavarozDlg& dlg, unsigned id) {
    MsgArgs args;
    args.id = id;
    dlg.RouteMessage(Msg::Command, args);
}

// Selects row and sends the list's click notification, as a click on it does.
void ClickRow(CVavarozDlg& dlg, int row) {
    dlg.m_listStations->selectRow(row);
    long result = 0;
    MsgArgs args;
    args.id = IDC_STATIONLIST;
    args.result = &result;
    dlg.RouteMessage(Msg::Notify, args);
}

int SelectedRow(const CStationListCtrl& list) {
    const QModelIndexList rows = list.selectionModel()->selectedRows();
    return rows.size() == 1 ? rows.first().row() : -1;
}

// The first row showing this name and URL; -1 when none does.
int RowOf(const CStationListCtrl& list, const QString& name, const QString& url) {
    for (int row = 0; row < list.rowCount(); ++row) {
        if (list.GetItemText(row, 0) == name && list.GetItemText(row, 1) == url)
            return row;
    }
    return -1;
}

} // namespace

bool CanPlay(const CVavarozDlg& dlg) {
    if (!dlg.m_strCurrentUrl.isEmpty())
        return true;
    return dlg.m_listStations && SelectedRow(*dlg.m_listStations) >= 0;
}

void Play(CVavarozDlg& dlg) {
    if (CanPlay(dlg))
        Press(dlg, IDC_RECEIVE);
}

void Stop(CVavarozDlg& dlg) {
    Press(dlg, IDC_CANCEL);
}

void PlayPause(CVavarozDlg& dlg) {
    if (dlg.m_nowPlaying.PlaybackStatus() == CNowPlaying::Status::Playing)
        Stop(dlg);
    else
        Play(dlg);
}

bool CanStep(const CVavarozDlg& dlg) {
    return dlg.m_listStations && dlg.m_listStations->rowCount() > 0;
}

void Step(CVavarozDlg& dlg, int delta) {
    if (!CanStep(dlg))
        return;
    const CStationListCtrl& list = *dlg.m_listStations;
    const int count = list.rowCount();
    int current = SelectedRow(list);
    if (current < 0)
        current = RowOf(list, dlg.m_strCurrentName, dlg.m_strCurrentUrl);
    const int next =
        current < 0 ? (delta > 0 ? 0 : count - 1) : ((current + delta) % count + count) % count;
    ClickRow(dlg, next);
    Press(dlg, IDC_RECEIVE);
}

void OpenUri(CVavarozDlg& dlg, const QString& url) {
    if (!dlg.m_listStations)
        return;
    CStationListCtrl& list = *dlg.m_listStations;
    for (int row = 0; row < list.rowCount(); ++row) {
        if (list.GetItemText(row, 1) == url) {
            ClickRow(dlg, row);
            Press(dlg, IDC_RECEIVE);
            return;
        }
    }
    // Not in the catalogue: taken as a station of its own, as a click takes
    // a row, so that "Recieve" opens it (now and again later).
    list.clearSelection();
    dlg.m_strCurrentName.clear();
    dlg.m_strCurrentUrl = url;
    dlg.m_strRadioStation = dlg.m_strCurrentName;
    dlg.m_strURL = dlg.m_strCurrentUrl;
    if (dlg.m_btnReceive)
        dlg.m_btnReceive->setEnabled(true);
    dlg.UpdateData(false);
    Press(dlg, IDC_RECEIVE);
}

double Volume(const CVavarozDlg& dlg) {
    const QSlider* slider = dlg.m_sliderVolume;
    if (!slider || slider->maximum() <= slider->minimum())
        return 1.0;
    return double(slider->value() - slider->minimum()) /
           double(slider->maximum() - slider->minimum());
}

void SetVolume(CVavarozDlg& dlg, double volume) {
    QSlider* slider = dlg.m_sliderVolume;
    if (!slider)
        return;
    const double v = std::clamp(volume, 0.0, 1.0); // NaN compares false: stays NaN
    if (!(v >= 0.0))
        return;
    const int span = slider->maximum() - slider->minimum();
    // The trackbar reports the move, as when the user drags it.
    slider->setValue(slider->minimum() + static_cast<int>(std::lround(v * span)));
}

void Raise(CVavarozDlg& dlg) {
    if (!dlg.IsWindowCreated() || dlg.ModalResult() != 0)
        return;
    if (dlg.isMinimized())
        dlg.showNormal();
    else
        dlg.show();
    dlg.raise();
    dlg.activateWindow();
}

void Quit(CVavarozDlg& dlg) {
    dlg.accept();
}

} // namespace didira::remote
