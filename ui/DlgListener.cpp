#include "ui/DlgListener.h"

#include "control/Dispatch.h"
#include "res/Resources.h"
#include "ui/DlgAccess.h"
#include "ui/StationListCtrl.h"
#include "ui/VavarozDlg.h"

#include <algorithm>
#include <cmath>

namespace didira::remote {

void SetFadeGain(CVavarozDlg& dlg, double gain) {
    // The player's volume is in hundredths of a decibel, -10000 being silence.
    constexpr long kSilent = -10000;
    const double g = std::clamp(gain, 0.0, 1.0);
    long level = kSilent;
    if (g >= 1.0)
        level = Access::Volume(dlg);
    else if (g > 0.0)
        level = std::max(kSilent, Access::Volume(dlg) + std::lround(2000.0 * std::log10(g)));
    try {
        Access::Player(dlg).SetVolume(level);
    } catch (const DispatchError&) {
        // No player to fade: nothing is heard anyway.
    }
}

QStringList StationNames(const CVavarozDlg& dlg) {
    QStringList names;
    if (const CStationListCtrl* list = Access::List(dlg)) {
        for (int row = 0; row < list->rowCount(); ++row)
            names << list->GetItemText(row, 0);
    }
    return names;
}

void PlayRow(CVavarozDlg& dlg, int row) {
    CStationListCtrl* list = Access::List(dlg);
    if (!list || row < 0 || row >= list->rowCount())
        return;
    list->selectRow(row);
    long result = 0;
    MsgArgs click;
    click.id = IDC_STATIONLIST;
    click.result = &result;
    dlg.RouteMessage(Msg::Notify, click);
    MsgArgs press;
    press.id = IDC_RECEIVE;
    dlg.RouteMessage(Msg::Command, press);
}

bool IsWindowShown(const CVavarozDlg& dlg) {
    return dlg.isVisible() && !dlg.isMinimized();
}

void HideWindow(CVavarozDlg& dlg) {
    dlg.hide();
}

} // namespace didira::remote
