// The real control against a real local radio: Icecast on 127.0.0.1 fed by
// ffmpeg. Skipped when icecast2 or ffmpeg is not installed.
#include "PlayerFixture.h"
#include "support/LocalRadio.h"

using namespace didira;
using namespace didira::test;

namespace {

LocalRadio* g_radio = nullptr;

class LocalRadioTest : public PlayerFixture {
protected:
    static void SetUpTestSuite() {
        if (!LocalRadio::Available())
            return;
        g_radio = new LocalRadio;
        if (!g_radio->Start()) {
            ADD_FAILURE() << "local radio did not start: " << g_radio->error().toStdString();
            delete g_radio;
            g_radio = nullptr;
        }
    }
    static void TearDownTestSuite() {
        delete g_radio;
        g_radio = nullptr;
    }
    void SetUp() override {
        if (!g_radio)
            GTEST_SKIP() << "icecast2, ffmpeg and curl are needed";
        PlayerFixture::SetUp();
    }
};

struct Station {
    const char* metafile;
    const char* mount;
    int bandwidth; // 0: any positive value
};

class LocalRadioStations : public LocalRadioTest, public ::testing::WithParamInterface<Station> {};

} // namespace

TEST_P(LocalRadioStations, EachMetafileKindPlaysItsStation) {
    const Station s = GetParam();
    player.Cancel();
    player.Open(g_radio->Url(QString::fromLatin1(s.metafile)));
    ASSERT_TRUE(WaitPlaying()) << "open state " << player.GetOpenState() << ", play state "
                               << player.GetPlayState() << ", "
                               << player.GetErrorDescription().toStdString();
    EXPECT_EQ(control->CurrentStream().path(), QString::fromLatin1(s.mount));
    EXPECT_TRUE(WaitUntil([&] { return player.GetBandwidth() > 0; }, std::chrono::seconds(5)));
    if (s.bandwidth) {
        EXPECT_EQ(player.GetBandwidth(), s.bandwidth);
    }
    player.Stop();
    EXPECT_EQ(player.GetPlayState(), 0);
    EXPECT_TRUE(boxes.empty());
}

INSTANTIATE_TEST_SUITE_P(Metafiles, LocalRadioStations,
                         ::testing::Values(Station{"/station-mp3.asx", "/mp3", 128000},
                                           Station{"/station-ogg.pls", "/ogg", 0},
                                           Station{"/station-aac.m3u", "/aac", 0}));

TEST_F(LocalRadioTest, PlaybackResumesByItselfAfterTheServerComesBack) {
    player.Open(g_radio->Url(QStringLiteral("/mp3")));
    ASSERT_TRUE(WaitPlaying());

    g_radio->Kill();
    ASSERT_TRUE(WaitUntil([&] { return player.GetPlayState() == 3; }, std::chrono::seconds(20)))
        << "the drop was not noticed";
    EXPECT_EQ(player.GetIsError(), FALSE);
    ASSERT_TRUE(g_radio->Restart()) << g_radio->error().toStdString();
    EXPECT_TRUE(WaitPlaying(std::chrono::seconds(40)))
        << "open state " << player.GetOpenState() << ", play state " << player.GetPlayState();
    EXPECT_GE(control->ReconnectCount(), 1);
    EXPECT_EQ(player.GetIsError(), FALSE);
    EXPECT_TRUE(boxes.empty());
}

TEST_F(LocalRadioTest, StopDuringAnOutageEndsTheReconnection) {
    control->SetReconnectDelays({500, 500, 500});
    player.Open(g_radio->Url(QStringLiteral("/ogg")));
    ASSERT_TRUE(WaitPlaying());
    g_radio->Kill();
    ASSERT_TRUE(WaitUntil([&] { return player.GetPlayState() == 3; }, std::chrono::seconds(20)));
    player.Stop();
    ASSERT_TRUE(g_radio->Restart()) << g_radio->error().toStdString();
    Pump(std::chrono::seconds(2));
    EXPECT_EQ(player.GetPlayState(), 0);
    EXPECT_TRUE(boxes.empty());
    const int reconnects = control->ReconnectCount();
    Pump(std::chrono::seconds(1));
    EXPECT_EQ(control->ReconnectCount(), reconnects);
}

TEST_F(LocalRadioTest, ReconnectionGivesUpWithOneMessage) {
    control->SetReconnectDelays({300, 300});
    player.Open(g_radio->Url(QStringLiteral("/aac")));
    ASSERT_TRUE(WaitPlaying());
    g_radio->Kill();
    ASSERT_TRUE(WaitUntil([&] { return player.GetIsError() == TRUE; }, std::chrono::seconds(30)));
    Pump(std::chrono::milliseconds(500));
    EXPECT_EQ(player.GetErrorCode(), playererror::StreamLost);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_TRUE(boxes[0].text.contains(QStringLiteral("再接続できませんでした")));
    EXPECT_TRUE(boxes[0].text.contains(g_radio->Url(QStringLiteral("/aac"))));
    EXPECT_EQ(player.GetOpenState(), 0);
    ASSERT_TRUE(g_radio->Restart()) << g_radio->error().toStdString();
}
