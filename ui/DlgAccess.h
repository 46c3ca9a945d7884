#pragma once
// The dialog's members, for ui's own functions that act on the dialog from
// outside its message handlers (ui/DlgRemote, ui/DlgListener, the playback
// handlers' helpers) and for tests. What lives around the dialog (app/) goes
// through ui/DlgRemote.h instead.

#include "ui/VavarozDlg.h"

namespace didira::remote {

struct Access {
    // D is CVavarozDlg or const CVavarozDlg; the member comes as const as D.
    template <class D> static auto& NowPlaying(D& d) { return d.m_nowPlaying; }
    template <class D> static auto& Player(D& d) { return d.m_player; }
    template <class D> static auto& List(D& d) { return d.m_listStations; }
    template <class D> static auto& VolumeBar(D& d) { return d.m_sliderVolume; }
    template <class D> static auto& Volume(D& d) { return d.m_nVolume; }
    template <class D> static auto& ReceiveButton(D& d) { return d.m_btnReceive; }
    template <class D> static auto& CurrentName(D& d) { return d.m_strCurrentName; }
    template <class D> static auto& CurrentUrl(D& d) { return d.m_strCurrentUrl; }
    template <class D> static auto& RadioStation(D& d) { return d.m_strRadioStation; }
    template <class D> static auto& Url(D& d) { return d.m_strURL; }
    template <class D> static auto& SmallImages(D& d) { return d.m_imageSmall; }
    template <class D> static auto& PlayStateText(D& d) { return d.m_strPlayState; }
    template <class D> static auto& CatalogFile(D& d) { return d.m_strCatalogFile; }
    template <class D> static auto& Table(D& d) { return d.m_stationTable; }
    template <class D> static auto& SystemMenu(D& d) { return d.m_pSysMenu; }
};

} // namespace didira::remote
