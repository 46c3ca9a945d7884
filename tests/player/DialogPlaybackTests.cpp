// The dialog with the real player control against the local radio: a click on
// a row and "Recieve" lead to the status texts of a playing stream; a
// listener skimming through stations as fast as the dialog takes the clicks
// leaves a dialog and player that still play; a station whose server goes
// away for long is waited for, quietly, and plays again.
#include "player/GstPlayerControl.h"
#include "support/DialogFixture.h"
#include "support/HttpTestServer.h"
#include "support/LocalRadio.h"
#include "support/MediaFiles.h"
#include "support/StreamTestServer.h"

#include <QCoreApplication>

using namespace didira;
using namespace didira::test;
using namespace std::chrono_literals;

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
                QStringLiteral("http://127.0.0.1:%1/live").arg(FreePort()),
                radio->Url(QStringLiteral("/mp3")),
                radio->Url(QStringLiteral("/ogg"))};
        QByteArray csv;
        for (int i = 0; i < urls.size(); ++i)
            csv += QStringLiteral("%1,Station %1,%2\r\n").arg(i).arg(urls[i]).toLatin1();
        WriteCatalogue(csv);
        Make();
        ASSERT_TRUE(created);
        ASSERT_TRUE(qobject_cast<CGstPlayerControl*>(dlg->m_player.GetControl()))
            << "the dialog does not host the real player";
    }

    void ReceiveRow(int row) {
        ClickRow(row);
        Press(IDC_RECEIVE);
    }

    bool WaitFields(const QString& play, const QString& open, std::chrono::seconds timeout) {
        return WaitUntil(
            [&] { return Field(IDC_PLAYSTATE) == play && Field(IDC_OPENSTATE) == open; }, timeout);
    }

    // ASX, PLS and M3U stations, a dead one, then the MP3 and Ogg mounts.
    QStringList urls;
};

// DIDIRA_SWITCHES overrides the number of rounds (each round is a row click
// with "Recieve" and a "Recieve"/"Cancel" pair).
int Rounds() {
    bool ok = false;
    const int n = qEnvironmentVariableIntValue("DIDIRA_SWITCHES", &ok);
    return ok && n > 0 ? n : 40;
}

// Lets the dialog take the next click after a moment that varies from round
// to round, so that clicks land before the connection, during it, while
// buffering and while playing.
void Dwell(int i) {
    if (i % 3 == 0)
        QCoreApplication::processEvents();
    else
        Pump(std::chrono::milliseconds((i * 29) % 45));
}

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

// Row clicks with "Recieve" alternately between the two live mounts, and
// "Recieve"/"Cancel" pairs, with the configured audio output.
TEST_F(DialogPlayback, RowClicksReceiveAndCancelInQuickSuccessionKeepThePlayer) {
    const int rounds = Rounds();
    for (int i = 0; i < rounds; ++i) {
        ClickRow(4 + i % 2);
        Press(IDC_RECEIVE);
        Dwell(i);
        Press(IDC_RECEIVE);
        Dwell(i + 1);
        Press(IDC_CANCEL);
        Dwell(i + 2);
    }
    RecordProperty("rounds", rounds);
    // Still a working player: a station plays to the end of its buffering.
    ReceiveRow(5);
    EXPECT_TRUE(WaitFields(kPlaying, kOpen, std::chrono::seconds(25)))
        << Field(IDC_PLAYSTATE).toStdString() << " / " << Field(IDC_OPENSTATE).toStdString();
    EXPECT_TRUE(boxes.empty()) << boxes.front().text.toStdString();
}

// The server goes away for longer than reconnection ever lasted before it gave
// up, with the network reported down meanwhile: the dialog shows waiting, no
// box, one outage; the network back, the station plays again at once rather
// than after the offline pause.
class DialogOutage : public DialogFixture {
protected:
    DialogOutage() : DialogFixture(false) {}
};

TEST_F(DialogOutage, AStationLostForLongIsWaitedForAndPlaysAgainWhenTheNetworkIsBack) {
    if (!media::Available())
        GTEST_SKIP() << "ffmpeg is needed to make the test stream";
    StreamTestServer::Options options;
    options.loop = {media::Mp3Loop()};
    options.bytesPerSecond = 128000 / 8;
    StreamTestServer server(options);
    WriteCatalogue(QStringLiteral("1,Live,%1\r\n").arg(server.Url()).toLatin1());
    Make();
    ASSERT_TRUE(created);
    auto* control = qobject_cast<CGstPlayerControl*>(dlg->m_player.GetControl());
    ASSERT_TRUE(control);
    control->SetStallTimeout(3000);
    control->SetReconnectDelays({200}); // the old code gave up after the list
    int outages = 0;
    QObject::connect(&dlg->m_nowPlaying, &CNowPlaying::interruptedChanged, dlg.get(),
                     [&] { outages += dlg->m_nowPlaying.IsInterrupted() ? 1 : 0; });
    const auto fields = [&] {
        return (Field(IDC_PLAYSTATE) + QStringLiteral(" / ") + Field(IDC_OPENSTATE)).toStdString();
    };

    ClickRow(0);
    Press(IDC_RECEIVE);
    ASSERT_TRUE(WaitUntil([&] { return Field(IDC_PLAYSTATE) == kPlaying; }, 20s)) << fields();

    server.Stop();
    control->SetNetworkAvailable(false);
    ASSERT_TRUE(WaitUntil(
        [&] { return Field(IDC_PLAYSTATE) == QStringLiteral("ストリームの開始待ち状態です。"); },
        10s))
        << fields();
    const int reconnects = control->ReconnectCount();
    Pump(4s);
    EXPECT_LE(control->ReconnectCount(), reconnects + 1) << "fast retries while offline";
    EXPECT_EQ(Field(IDC_PLAYSTATE), QStringLiteral("ストリームの開始待ち状態です。"));
    EXPECT_EQ(dlg->m_player.GetIsError(), FALSE);
    EXPECT_TRUE(boxes.empty()) << boxes.front().text.toStdString();

    ASSERT_TRUE(server.Restart());
    control->SetNetworkAvailable(true);
    // Well inside the offline pause of 10 s.
    EXPECT_TRUE(WaitUntil([&] { return Field(IDC_PLAYSTATE) == kPlaying; }, 8s)) << fields();
    EXPECT_EQ(Field(IDC_OPENSTATE), kOpen);
    EXPECT_EQ(outages, 1);
    EXPECT_FALSE(dlg->m_nowPlaying.IsInterrupted());
    EXPECT_TRUE(boxes.empty());
}
