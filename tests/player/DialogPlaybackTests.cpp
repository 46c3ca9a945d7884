// The dialog with the real player control against the local radio: a click on
// a row and "Recieve" lead to the status texts of a playing stream.
#include "player/GstPlayerControl.h"
#include "support/DialogFixture.h"
#include "support/HttpTestServer.h"
#include "support/LocalRadio.h"

#include <QSlider>

using namespace didira;
using namespace didira::test;

namespace {

const QString kPlaying = QStringLiteral("ストリームが再生されています。");
const QString kOpen = QStringLiteral("コンテンツ ファイルは開いた状態です。");
const QString kStopped = QStringLiteral("再生が停止しています。");

class DialogPlayback : public WithLocalRadio<DialogFixture> {
protected:
    DialogPlayback() : WithLocalRadio(false) {}

    void SetUp() override {
        WithLocalRadio::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        urls = {radio->Url(QStringLiteral("/station-mp3.asx")),
                radio->Url(QStringLiteral("/station-ogg.pls")),
                radio->Url(QStringLiteral("/station-aac.m3u")),
                QStringLiteral("http://127.0.0.1:%1/live").arg(FreePort())};
        QByteArray csv;
        for (int i = 0; i < urls.size(); ++i)
            csv += QStringLiteral("%1,Station %1,%2\r\n").arg(i).arg(urls[i]).toLatin1();
        WriteCatalogue(csv);
        Make();
        ASSERT_TRUE(created);
        control = qobject_cast<CGstPlayerControl*>(dlg->m_player.GetControl());
        ASSERT_TRUE(control) << "the dialog does not host the real player";
    }

    void ReceiveRow(int row) {
        ClickRow(row);
        Press(IDC_RECEIVE);
    }

    bool WaitFields(const QString& play, const QString& open, std::chrono::seconds timeout) {
        return WaitUntil(
            [&] { return Field(IDC_PLAYSTATE) == play && Field(IDC_OPENSTATE) == open; }, timeout);
    }

    QStringList urls; // ASX, PLS and M3U stations, then a dead one
    CGstPlayerControl* control = nullptr;
};

} // namespace

TEST_F(DialogPlayback, EachStationPlaysThroughItsMetafileAndCancelStopsIt) {
    for (int row = 0; row < 3; ++row) {
        ReceiveRow(row);
        EXPECT_EQ(Field(IDC_URL), urls[row]);
        ASSERT_TRUE(WaitFields(kPlaying, kOpen, std::chrono::seconds(25)))
            << "row " << row << ": " << Field(IDC_PLAYSTATE).toStdString() << " / "
            << Field(IDC_OPENSTATE).toStdString();
        // The bit rate appears on a tick once the stream has told it; the MP3
        // mount is fed at a constant 128 kbit/s.
        EXPECT_TRUE(WaitUntil(
            [&] {
                return row == 0 ? Field(IDC_BANDWIDTH) == QLatin1String("128000")
                                : Field(IDC_BANDWIDTH).toInt() > 0;
            },
            std::chrono::seconds(5)))
            << Field(IDC_BANDWIDTH).toStdString();
        Press(IDC_CANCEL);
        EXPECT_TRUE(WaitFields(kStopped, kOpen, std::chrono::seconds(3))) << "row " << row;
    }
    EXPECT_TRUE(boxes.empty());
}

TEST_F(DialogPlayback, TheTitleNowPlayingShowsOnTheStationFieldUntilCancel) {
    ReceiveRow(0);
    ASSERT_TRUE(WaitFields(kPlaying, kOpen, std::chrono::seconds(25)));
    QWidget* field = dlg->GetDlgItem(IDC_RADIOSTATION);
    const QString text = Field(IDC_RADIOSTATION);
    ASSERT_TRUE(radio->SetSong(QStringLiteral("/mp3"), "Artist - \xe6\x9b\xb2"));
    const QString title = u"Artist - 曲"_qs;
    EXPECT_TRUE(WaitUntil([&] { return field->toolTip() == title; }, std::chrono::seconds(10)))
        << field->toolTip().toStdString();
    EXPECT_EQ(field->accessibleDescription(), title);
    EXPECT_EQ(dlg->m_nowPlaying.Title(), title);
    EXPECT_EQ(Field(IDC_RADIOSTATION), text) << "the field itself keeps the station";
    Press(IDC_CANCEL);
    EXPECT_EQ(field->toolTip(), QString());
    EXPECT_EQ(dlg->m_nowPlaying.Title(), QString());
}

TEST_F(DialogPlayback, TrackbarsReachThePipelineInDecibels) {
    ReceiveRow(0);
    ASSERT_TRUE(WaitFields(kPlaying, kOpen, std::chrono::seconds(25)));
    dlg->m_sliderVolume->setValue(-500);
    EXPECT_NEAR(control->PipelineVolumeDb(), -5.0, 1e-4);
    dlg->m_sliderBalance->setValue(-10000);
    EXPECT_NEAR(control->PipelinePanorama(), -1.0, 1e-6);
    dlg->m_sliderBalance->setValue(2000);
    EXPECT_NEAR(control->PipelinePanorama(), 0.9, 1e-6); // left at -20 dB
    EXPECT_EQ(Field(IDC_PLAYSTATE), kPlaying);
    EXPECT_TRUE(boxes.empty());
}

TEST_F(DialogPlayback, ADeadStationSaysSoOnceWhileTheDialogGoesOn) {
    ReceiveRow(3);
    ASSERT_TRUE(WaitUntil([&] { return !boxes.empty(); }, std::chrono::seconds(10)));
    Pump(std::chrono::milliseconds(1500));
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_TRUE(boxes[0].text.contains(urls[3]));
    EXPECT_TRUE(boxes[0].text.contains(QStringLiteral("サーバーに接続できません")));
    // The dialog goes on: another station still plays.
    ReceiveRow(0);
    EXPECT_TRUE(WaitFields(kPlaying, kOpen, std::chrono::seconds(25)));
    EXPECT_EQ(boxes.size(), 1u);
}
