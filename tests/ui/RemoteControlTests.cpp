// What plays now as the dialog's handlers keep it, and the commands that
// reach the dialog from the desktop, against a recording player.
#include "support/DialogFixture.h"
#include "ui/DlgAccess.h"
#include "ui/DlgRemote.h"
#include "ui/NowPlaying.h"

#include <QPushButton>
#include <QSignalSpy>
#include <QSlider>
#include <cmath>

using namespace didira;
using namespace didira::test;

namespace {

class Remote : public DialogFixture {
protected:
    void SetUp() override {
        DialogFixture::SetUp();
        WriteCatalogue("1,Station A,http://127.0.0.1:9/a.mp3\r\n"
                       "2,Station B,http://127.0.0.1:9/b.ogg\r\n"
                       "7,Station C,http://127.0.0.1:9/c.pls\r\n");
        Make();
        ASSERT_TRUE(created);
        Player().calls.clear();
    }
    // The player reports a change, as it does the moment it happens.
    void Report(long play, long open) {
        emit Player().StateChanged(PlayState(play), OpenState(open));
    }
    CNowPlaying& Now() { return remote::Access::NowPlaying(*dlg); }
    QSlider* VolumeBar() { return Item<QSlider>(IDC_VOLUME); }
};

} // namespace

TEST_F(Remote, ReceiveAndCancelKeepWhatPlaysAndTheFieldShowsTheTitle) {
    QWidget* field = dlg->GetDlgItem(IDC_RADIOSTATION);
    ClickRow(1);
    EXPECT_EQ(Now().OpenCount(), 0u); // a click does not play
    Press(IDC_RECEIVE);
    EXPECT_EQ(Now().StationName(), "Station B");
    EXPECT_EQ(Now().StationUrl(), "http://127.0.0.1:9/b.ogg");
    EXPECT_EQ(Now().FlagImage(), 2);
    EXPECT_EQ(Now().PlaybackStatus(), CNowPlaying::Status::Playing);

    Now().SetTitle(QStringLiteral("Artist - 夜の曲"));
    EXPECT_EQ(field->toolTip(), "Artist - 夜の曲");
    EXPECT_EQ(field->accessibleDescription(), "Artist - 夜の曲");
    EXPECT_EQ(Field(IDC_RADIOSTATION), "Station B"); // the field's text stays

    // A new opening starts without a title, and counts as a new track.
    ClickRow(2);
    Press(IDC_RECEIVE);
    EXPECT_EQ(Now().Title(), "");
    EXPECT_EQ(field->toolTip(), "");
    EXPECT_EQ(Now().FlagImage(), 4);
    EXPECT_EQ(Now().OpenCount(), 2u);

    Now().SetTitle(QStringLiteral("News"));
    Press(IDC_CANCEL);
    EXPECT_EQ(Now().Title(), "");
    EXPECT_EQ(field->accessibleDescription(), "");
    EXPECT_EQ(Now().PlaybackStatus(), CNowPlaying::Status::Stopped);
    EXPECT_EQ(Now().StationName(), "Station C"); // what a later Play opens
}

TEST_F(Remote, TheReportedStateSetsTheStatusOnChangesOnlyAndAnEndedStationLosesItsTitle) {
    ClickRow(0);
    Press(IDC_RECEIVE);
    QSignalSpy status(&Now(), &CNowPlaying::statusChanged);
    Report(3, 4); // waiting counts as playing: no change
    Report(2, 6);
    EXPECT_EQ(status.count(), 0);
    Now().SetTitle(QStringLiteral("Song"));
    Report(1, 6);
    EXPECT_EQ(Now().PlaybackStatus(), CNowPlaying::Status::Paused);
    EXPECT_EQ(Now().Title(), "Song");
    Report(2, 0); // closed (after an error): stopped whatever the play state
    EXPECT_EQ(Now().PlaybackStatus(), CNowPlaying::Status::Stopped);
    EXPECT_EQ(Now().Title(), "");
    EXPECT_EQ(status.count(), 2);
}

TEST_F(Remote, PlayStopAndPlayPauseGoThroughReceiveAndCancel) {
    remote::Play(*dlg); // nothing taken, nothing selected: nothing to play
    EXPECT_FALSE(remote::CanPlay(*dlg));
    EXPECT_TRUE(Player().calls.empty());

    remote::Access::List(*dlg)->selectRow(0); // selected without a click
    EXPECT_TRUE(remote::CanPlay(*dlg));
    remote::PlayPause(*dlg);
    EXPECT_EQ(Player().Opened(), QStringList{"http://127.0.0.1:9/a.mp3"});
    EXPECT_EQ(Field(IDC_PLAYSTATE), "接続中です しばらくお待ちください");

    remote::PlayPause(*dlg);
    EXPECT_EQ(Player().CallsTo({2003}).size(), 1u);
    remote::Access::List(*dlg)->clearSelection();
    remote::Play(*dlg); // the station taken last
    EXPECT_EQ(Player().Opened().size(), 2);
    EXPECT_EQ(Player().Opened().last(), "http://127.0.0.1:9/a.mp3");
}

TEST_F(Remote, NextAndPreviousClickTheNeighbouringRowAndWrapAround) {
    remote::Step(*dlg, -1); // nothing current: Previous starts at the end
    remote::Step(*dlg, +1); // and wraps to the start
    remote::Step(*dlg, +1);
    EXPECT_EQ(Player().Opened(),
              (QStringList{"http://127.0.0.1:9/c.pls", "http://127.0.0.1:9/a.mp3",
                           "http://127.0.0.1:9/b.ogg"}));
    EXPECT_TRUE(remote::Access::ReceiveButton(*dlg)->isEnabled());
    EXPECT_EQ(Field(IDC_RADIOSTATION), "Station B");

    // Without a selection the station taken last is where stepping starts.
    remote::Access::List(*dlg)->clearSelection();
    remote::Step(*dlg, -1);
    EXPECT_EQ(Player().Opened().last(), "http://127.0.0.1:9/a.mp3");
    EXPECT_EQ(Player().CallsTo({2006}).size(), 4u); // each through "Recieve"
}

TEST_F(Remote, OpenUriPlaysTheCatalogueRowOrTheUrlOnItsOwn) {
    remote::OpenUri(*dlg, QStringLiteral("http://127.0.0.1:9/b.ogg"));
    EXPECT_EQ(Field(IDC_RADIOSTATION), "Station B");
    EXPECT_EQ(Now().FlagImage(), 2);

    remote::OpenUri(*dlg, QStringLiteral("http://127.0.0.1:9/other.mp3"));
    EXPECT_EQ(Field(IDC_RADIOSTATION), "");
    EXPECT_EQ(Field(IDC_URL), "http://127.0.0.1:9/other.mp3");
    EXPECT_EQ(Now().FlagImage(), -1);
    EXPECT_EQ(Now().StationUrl(), "http://127.0.0.1:9/other.mp3");
    remote::Play(*dlg); // "Recieve" reopens it
    EXPECT_EQ(Player().Opened(),
              (QStringList{"http://127.0.0.1:9/b.ogg", "http://127.0.0.1:9/other.mp3",
                           "http://127.0.0.1:9/other.mp3"}));
}

TEST_F(Remote, VolumeMapsOntoTheTrackbarAndReachesThePlayerThroughItsHandler) {
    remote::SetVolume(*dlg, 0.25);
    EXPECT_EQ(VolumeBar()->value(), -750);
    EXPECT_DOUBLE_EQ(remote::Volume(*dlg), 0.25);
    remote::SetVolume(*dlg, 7.0);
    remote::SetVolume(*dlg, std::nan("")); // ignored
    remote::SetVolume(*dlg, -1.0);
    std::vector<std::int32_t> sent;
    for (const auto& call : Player().CallsTo({19}))
        sent.push_back(std::get<std::int32_t>(call.args.at(0)));
    EXPECT_EQ(sent, (std::vector<std::int32_t>{-750, 0, -1000}));
    EXPECT_EQ(remote::Access::Volume(*dlg), -1000);
    VolumeBar()->setValue(-100); // the user's move reads back
    EXPECT_DOUBLE_EQ(remote::Volume(*dlg), 0.9);
}

TEST_F(Remote, RaiseShowsAHiddenWindowUntilTheDialogHasEnded) {
    dlg->hide();
    remote::Raise(*dlg);
    EXPECT_TRUE(dlg->isVisible());
    remote::Quit(*dlg); // "End" without an automation client ends it
    EXPECT_EQ(dlg->ModalResult(), IDOK);
    remote::Raise(*dlg);
    EXPECT_FALSE(dlg->isVisible());
}
