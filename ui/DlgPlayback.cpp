// Playback handlers of the main dialog: taking a station from the list,
// receive and stop, the status shown once a second, volume and balance.
#include "control/PlayerStates.h"
#include "ui/DlgAccess.h"
#include "ui/StationListBuild.h"
#include "ui/StationListCtrl.h"
#include "ui/StatusTexts.h"
#include "ui/VavarozDlg.h"

#include <QPushButton>
#include <QSet>
#include <QSlider>

namespace didira {

namespace {

// The status last written by the timer. It belongs to the process, not to a
// dialog: it starts at 0, 0, 0 and changes only when the timer shows a change.
struct ShownStatus {
    long playState = 0;
    long openState = 0;
    long bandwidth = 0;
};
ShownStatus g_lastShown;

// The name and URL of the one selected row; false unless exactly one row is
// selected.
bool SelectedStation(const CStationListCtrl* list, QString& name, QString& url) {
    if (!list || !list->selectionModel())
        return false;
    QSet<int> rows;
    for (const QModelIndex& index : list->selectionModel()->selectedIndexes())
        rows.insert(index.row());
    if (rows.size() != 1)
        return false;
    const int count = list->rowCount();
    for (int row = 0; row < count; ++row) {
        if (!rows.contains(row))
            continue;
        const QTableWidgetItem* nameItem = list->item(row, 0);
        const QTableWidgetItem* urlItem = list->item(row, 1);
        name = nameItem ? nameItem->text() : QString();
        url = urlItem ? urlItem->text() : QString();
        return true;
    }
    return false;
}

// Makes the one selected row the current station, shown in the station
// fields; with no single selected row the previous station stays.
void TakeSelectedStation(CVavarozDlg& dlg) {
    QString name;
    QString url;
    if (!SelectedStation(remote::Access::List(dlg), name, url))
        return;
    remote::Access::CurrentName(dlg) = name;
    remote::Access::CurrentUrl(dlg) = url;
    remote::Access::RadioStation(dlg) = remote::Access::CurrentName(dlg);
    remote::Access::Url(dlg) = remote::Access::CurrentUrl(dlg);
}

// The flag image of the first catalogue entry with this name and URL; -1
// when the station is not in the catalogue.
int FlagOfStation(const StationTable& table, const QString& name, const QString& url) {
    for (std::size_t i = 0; i < table.number.size() && !table.number[i].isEmpty(); ++i) {
        if (table.name[i] == name && table.url[i] == url)
            return FlagImageIndex(table.number[i]);
    }
    return -1;
}

} // namespace

void ResetShownStatusForTesting() {
    g_lastShown = ShownStatus{};
}

void CVavarozDlg::OnClickStationList(long* pResult) {
    if (m_btnReceive)
        m_btnReceive->setEnabled(true);
    TakeSelectedStation(*this);
    UpdateData(false);
    if (pResult)
        *pResult = 0;
}

void CVavarozDlg::OnReceiveButton() {
    TakeSelectedStation(*this);
    m_strPlayState = WaitingText();
    m_strOpenState.clear();
    m_strBandWidth.clear();
    UpdateData(false);
    // With no selection this reopens the station taken last (possibly none).
    m_player.Cancel();
    m_nowPlaying.Open(m_strCurrentName, m_strCurrentUrl,
                      FlagOfStation(m_stationTable, m_strCurrentName, m_strCurrentUrl));
    m_player.Open(m_strCurrentUrl);
    UpdateData(false);
}

void CVavarozDlg::OnCancelButton() {
    m_player.Stop();
    m_nowPlaying.Stop();
}

void CVavarozDlg::OnTimer(unsigned) {
    const long play = m_player.GetPlayState();
    const long open = m_player.GetOpenState();
    const long band = m_player.GetBandwidth();
    // A closed player leaves the last texts standing; unchanged values are
    // not redrawn.
    if (open == ToNumber(OpenState::Closed))
        return;
    if (play == g_lastShown.playState && open == g_lastShown.openState &&
        band == g_lastShown.bandwidth)
        return;
    m_strPlayState = PlayStateText(play);
    m_strOpenState = OpenStateText(open);
    m_strBandWidth = QString::number(band);
    UpdateData(false);
    g_lastShown = ShownStatus{play, open, band};
}

void CVavarozDlg::OnHScroll(int, int, QSlider*) {
    // Both trackbars are examined on every message; only a changed position
    // reaches the player.
    if (m_sliderVolume) {
        const int volume = m_sliderVolume->sliderPosition();
        if (volume != m_nVolume) {
            m_nVolume = volume;
            m_player.SetVolume(volume);
        }
    }
    if (m_sliderBalance) {
        const int balance = m_sliderBalance->sliderPosition();
        if (balance != m_nBalance) {
            m_nBalance = balance;
            m_player.SetBalance(balance);
        }
    }
}

} // namespace didira
