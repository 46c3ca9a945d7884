// The playback handlers against a recording player: what reaches the player
// and what the status fields show.
#include "support/DialogFixture.h"
#include "ui/DlgAccess.h"
#include "ui/StationListCtrl.h"

#include <QPushButton>
#include <QSignalBlocker>
#include <QSlider>

using namespace didira;
using namespace didira::test;

namespace {

class Playback : public DialogFixture {
protected:
    void SetUp() override {
        DialogFixture::SetUp();
        WriteCatalogue(
            "1,Station A,http://127.0.0.1:9/a.asx\r\n2,WNKU,http://127.0.0.1:9/b.pls\r\n");
        Make();
        ASSERT_TRUE(created);
        Player().calls.clear();
    }
    void Tick(PlayState play, OpenState open, long band) {
        TickRaw(ToNumber(play), ToNumber(open), band);
    }
    // Any numbers, also those no player state has.
    void TickRaw(long play, long open, long band) {
        Player().Answer(dispid::PlayState, std::int32_t(play));
        Player().Answer(dispid::OpenState, std::int32_t(open));
        Player().Answer(dispid::Bandwidth, std::int32_t(band));
        dlg->RouteMessage(Msg::Timer);
    }
};

} // namespace

TEST_F(Playback, AClickTakesTheStationAndEnablesReceiveButNeverPlays) {
    ClickRow(1);
    EXPECT_TRUE(dlg->GetDlgItem(IDC_RECEIVE)->isEnabled());
    EXPECT_EQ(Field(IDC_RADIOSTATION), "WNKU");
    EXPECT_EQ(Field(IDC_URL), "http://127.0.0.1:9/b.pls");
    EXPECT_EQ(remote::Access::CurrentUrl(*dlg), "http://127.0.0.1:9/b.pls");
    EXPECT_TRUE(Player().calls.empty());

    // A click that leaves no row selected keeps the station taken before.
    ClickRow(-1);
    EXPECT_EQ(Field(IDC_RADIOSTATION), "WNKU");
}

TEST_F(Playback, ReceiveCancelsThenOpensTheSelectedUrlAndShowsTheWaitingText) {
    ClickRow(0);
    Tick(PlayState::Playing, OpenState::Open, 128000);
    Press(IDC_RECEIVE);
    const auto calls = Player().CallsTo({dispid::Stop, dispid::Cancel, dispid::Open});
    ASSERT_EQ(calls.size(), 2u); // no Stop first
    EXPECT_EQ(calls[0].id, dispid::Cancel);
    EXPECT_EQ(calls[1].id, dispid::Open);
    EXPECT_EQ(std::get<QString>(calls[1].args.at(0)), "http://127.0.0.1:9/a.asx");
    EXPECT_EQ(Field(IDC_PLAYSTATE), "接続中です しばらくお待ちください");
    EXPECT_EQ(Field(IDC_OPENSTATE), "");
    EXPECT_EQ(Field(IDC_BANDWIDTH), "");

    // The same values as last shown do not replace the waiting text.
    Tick(PlayState::Playing, OpenState::Open, 128000);
    EXPECT_EQ(Field(IDC_PLAYSTATE), "接続中です しばらくお待ちください");
    Tick(PlayState::Waiting, OpenState::Opening, 0);
    EXPECT_EQ(Field(IDC_PLAYSTATE), "ストリームの開始待ち状態です。");
    EXPECT_EQ(Field(IDC_OPENSTATE), "ストリームを開いているか、監視しています。");
    EXPECT_EQ(Field(IDC_BANDWIDTH), "0");
}

TEST_F(Playback, ReceiveWithoutAStationEverTakenOpensAnEmptyUrl) {
    remote::Access::ReceiveButton(*dlg)->setEnabled(true);
    Press(IDC_RECEIVE);
    EXPECT_EQ(Player().Opened(), QStringList{QString()});
}

TEST_F(Playback, CancelOnlyStops) {
    ClickRow(0);
    Press(IDC_CANCEL);
    ASSERT_EQ(Player().calls.size(), 1u);
    EXPECT_EQ(Player().calls[0].id, dispid::Stop);
    EXPECT_EQ(Field(IDC_RADIOSTATION), "Station A");
}

TEST_F(Playback, TheTimerShowsChangesOnlyAndNeverIndexesOutsideTheTables) {
    Tick(PlayState::Playing, OpenState::Closed, 5000); // open state 0: nothing changes
    EXPECT_EQ(Field(IDC_PLAYSTATE), "");
    Tick(PlayState::Playing, OpenState::Open, 131072);
    EXPECT_EQ(Field(IDC_PLAYSTATE), "ストリームが再生されています。");
    EXPECT_EQ(Field(IDC_OPENSTATE), "コンテンツ ファイルは開いた状態です。");
    EXPECT_EQ(Field(IDC_BANDWIDTH), "131072");
    Tick(PlayState::Stopped, OpenState::Open, -1);
    EXPECT_EQ(Field(IDC_PLAYSTATE), "再生が停止しています。");
    EXPECT_EQ(Field(IDC_BANDWIDTH), "-1");
    // Slots without text, and values outside 0..9, show an empty text.
    for (long bad : {9L, 10L, -1L, 1000000L, -2147483647L - 1}) {
        TickRaw(bad, bad == 9 ? 7 : bad, 1);
        EXPECT_EQ(Field(IDC_PLAYSTATE), "") << bad;
        EXPECT_EQ(Field(IDC_OPENSTATE), "") << bad;
        Tick(PlayState::Playing, OpenState::Open, 0);
    }
}

TEST_F(Playback, TrackbarsSendOnlyChangedPositions) {
    auto* volume = qobject_cast<QSlider*>(dlg->GetDlgItem(IDC_VOLUME));
    auto* balance = qobject_cast<QSlider*>(dlg->GetDlgItem(IDC_BALANCE));
    balance->setValue(1500);
    auto calls = Player().CallsTo({dispid::Volume, dispid::Balance});
    ASSERT_EQ(calls.size(), 1u); // only the balance moved
    EXPECT_EQ(calls[0].id, dispid::Balance);
    EXPECT_EQ(calls[0].kind, InvokeKind::PropertyPut);
    EXPECT_EQ(std::get<std::int32_t>(calls[0].args.at(0)), 1500);

    Player().calls.clear();
    MsgArgs none;
    dlg->RouteMessage(Msg::HScroll, none); // nothing moved: no call
    EXPECT_TRUE(Player().calls.empty());

    volume->setValue(volume->minimum());
    balance->setValue(0);
    calls = Player().CallsTo({dispid::Volume, dispid::Balance});
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(std::get<std::int32_t>(calls[0].args.at(0)), -1000);
    EXPECT_EQ(std::get<std::int32_t>(calls[1].args.at(0)), 0);
}

TEST_F(Playback, AClampedVolumeIsSentOnTheFirstScrollOfEitherTrackbar) {
    auto* volume = qobject_cast<QSlider*>(dlg->GetDlgItem(IDC_VOLUME));
    {
        const QSignalBlocker block(volume);
        volume->setValue(-2000); // shown clamped
    }
    remote::Access::Volume(*dlg) = -2000; // as read from a player outside the range
    MsgArgs a;
    dlg->RouteMessage(Msg::HScroll, a);
    const auto calls = Player().CallsTo({dispid::Volume});
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(std::get<std::int32_t>(calls[0].args.at(0)), -1000);
}
