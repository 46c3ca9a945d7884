#include "ui/DlgRemote.h"

#include "res/Resources.h"
#include "ui/DlgAccess.h"
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
    Access::List(dlg)->selectRow(row);
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

const CNowPlaying& NowPlaying(const CVavarozDlg& dlg) {
    return Access::NowPlaying(dlg);
}

OleControl* PlayerControl(const CVavarozDlg& dlg) {
    return Access::Player(dlg).GetControl();
}

void WatchControls(const CVavarozDlg& dlg, QObject* context, const std::function<void()>& changed) {
    if (QSlider* volume = Access::VolumeBar(dlg))
        QObject::connect(volume, &QSlider::valueChanged, context, changed);
    CStationListCtrl* list = Access::List(dlg);
    if (!list)
        return;
    QObject::connect(list->selectionModel(), &QItemSelectionModel::selectionChanged, context,
                     changed);
    QAbstractItemModel* rows = list->model();
    QObject::connect(rows, &QAbstractItemModel::rowsInserted, context, changed);
    QObject::connect(rows, &QAbstractItemModel::rowsRemoved, context, changed);
    QObject::connect(rows, &QAbstractItemModel::modelReset, context, changed);
}

QPixmap FlagImage(const CVavarozDlg& dlg, int flag) {
    return flag < 0 ? QPixmap() : Access::SmallImages(dlg).GetImage(flag);
}

bool CanPlay(const CVavarozDlg& dlg) {
    if (!Access::CurrentUrl(dlg).isEmpty())
        return true;
    return Access::List(dlg) && SelectedRow(*Access::List(dlg)) >= 0;
}

void Play(CVavarozDlg& dlg) {
    if (CanPlay(dlg))
        Press(dlg, IDC_RECEIVE);
}

void Stop(CVavarozDlg& dlg) {
    Press(dlg, IDC_CANCEL);
}

void PlayPause(CVavarozDlg& dlg) {
    if (Access::NowPlaying(dlg).PlaybackStatus() == CNowPlaying::Status::Playing)
        Stop(dlg);
    else
        Play(dlg);
}

bool CanStep(const CVavarozDlg& dlg) {
    return Access::List(dlg) && Access::List(dlg)->rowCount() > 0;
}

void Step(CVavarozDlg& dlg, int delta) {
    if (!CanStep(dlg))
        return;
    const CStationListCtrl& list = *Access::List(dlg);
    const int count = list.rowCount();
    int current = SelectedRow(list);
    if (current < 0)
        current = RowOf(list, Access::CurrentName(dlg), Access::CurrentUrl(dlg));
    const int next =
        current < 0 ? (delta > 0 ? 0 : count - 1) : ((current + delta) % count + count) % count;
    ClickRow(dlg, next);
    Press(dlg, IDC_RECEIVE);
}

void OpenUri(CVavarozDlg& dlg, const QString& url, const QString& name) {
    if (!Access::List(dlg))
        return;
    CStationListCtrl& list = *Access::List(dlg);
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
    Access::CurrentName(dlg) = name;
    Access::CurrentUrl(dlg) = url;
    Access::RadioStation(dlg) = Access::CurrentName(dlg);
    Access::Url(dlg) = Access::CurrentUrl(dlg);
    if (Access::ReceiveButton(dlg))
        Access::ReceiveButton(dlg)->setEnabled(true);
    dlg.UpdateData(false);
    Press(dlg, IDC_RECEIVE);
}

double Volume(const CVavarozDlg& dlg) {
    const QSlider* slider = Access::VolumeBar(dlg);
    if (!slider || slider->maximum() <= slider->minimum())
        return 1.0;
    return double(slider->value() - slider->minimum()) /
           double(slider->maximum() - slider->minimum());
}

void SetVolume(CVavarozDlg& dlg, double volume) {
    QSlider* slider = Access::VolumeBar(dlg);
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
