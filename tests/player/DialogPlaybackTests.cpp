// The dialog with the real player control against the local radio: a click on
// a row and "Recieve" lead to the status texts of a playing stream.
#include "player/GstPlayerControl.h"
#include "res/Resources.h"
#include "support/LocalRadio.h"
#include "support/TestSupport.h"
#include "ui/MessageBox.h"
#include "ui/StationListCtrl.h"
#include "ui/VavarozDlg.h"

#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QSlider>
#include <QTcpServer>
#include <QTest>
#include <cmath>
#include <gtest/gtest.h>
#include <memory>

using namespace didira;
using namespace didira::test;

namespace {

const QString kPlaying = QStringLiteral("ストリームが再生されています。");
const QString kOpen = QStringLiteral("コンテンツ ファイルは開いた状態です。");
const QString kStopped = QStringLiteral("再生が停止しています。");

class DialogPlayback : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (!LocalRadio::Available())
            return;
        s_radio = new LocalRadio;
        if (!s_radio->Start()) {
            ADD_FAILURE() << s_radio->error().toStdString();
            delete s_radio;
            s_radio = nullptr;
        }
    }
    static void TearDownTestSuite() {
        delete s_radio;
        s_radio = nullptr;
    }

    void SetUp() override {
        if (!s_radio)
            GTEST_SKIP() << "icecast2, ffmpeg and curl are needed";
        m_oldDir = QDir::currentPath();
        QDir::setCurrent(TempDir());
        stations = {
            {QStringLiteral("Local MP3 (ASX)"), s_radio->Url(QStringLiteral("/station-mp3.asx"))},
            {QStringLiteral("Local Opus (PLS)"), s_radio->Url(QStringLiteral("/station-ogg.pls"))},
            {QStringLiteral("Local AAC (M3U)"), s_radio->Url(QStringLiteral("/station-aac.m3u"))},
            {QStringLiteral("Dead station"),
             QStringLiteral("http://127.0.0.1:%1/live").arg(FreeLoopbackPort())}};
        QFile csv(QStringLiteral("radioname.csv"));
        ASSERT_TRUE(csv.open(QIODevice::WriteOnly));
        for (std::size_t i = 0; i < stations.size(); ++i)
            csv.write(QStringLiteral("%1,%2,%3\r\n")
                          .arg(i)
                          .arg(stations[i].first, stations[i].second)
                          .toLatin1());
        csv.close();
        SetMessageBoxHook([this](const MessageBoxRequest& r) {
            boxes.push_back(r);
            return 1;
        });
        ResetShownStatusForTesting();
        ControlHost::EnableControlContainer();
        dlg = std::make_unique<CVavarozDlg>();
        ASSERT_TRUE(dlg->Create());
        control = qobject_cast<CGstPlayerControl*>(dlg->m_player.GetControl());
        ASSERT_TRUE(control) << "the dialog does not host the real player";
        // Until the catalogue fills the list, the rows are put in as it would.
        CStationListCtrl* list = dlg->m_listStations;
        if (list->rowCount() != static_cast<int>(stations.size())) {
            list->setRowCount(0);
            list->setColumnCount(2);
            for (const auto& [name, url] : stations) {
                const int row = list->rowCount();
                list->insertRow(row);
                list->setItem(row, 0, new QTableWidgetItem(name));
                list->setItem(row, 1, new QTableWidgetItem(url));
            }
        }
    }

    void TearDown() override {
        dlg.reset();
        SetMessageBoxHook({});
        if (!m_oldDir.isEmpty())
            QDir::setCurrent(m_oldDir);
    }

    static quint16 FreeLoopbackPort() {
        QTcpServer probe;
        probe.listen(QHostAddress::LocalHost, 0);
        return probe.serverPort();
    }

    void ReceiveRow(int row) {
        dlg->m_listStations->selectRow(row);
        long result = -1;
        MsgArgs a;
        a.id = IDC_STATIONLIST;
        a.result = &result;
        dlg->RouteMessage(Msg::Notify, a);
        QTest::mouseClick(dlg->GetDlgItem(IDC_RECEIVE), Qt::LeftButton);
    }

    QString Field(int id) { return qobject_cast<QLineEdit*>(dlg->GetDlgItem(id))->text(); }

    bool WaitFields(const QString& play, const QString& open, std::chrono::seconds timeout) {
        return WaitUntil(
            [&] { return Field(IDC_PLAYSTATE) == play && Field(IDC_OPENSTATE) == open; }, timeout);
    }

    static LocalRadio* s_radio;
    std::vector<std::pair<QString, QString>> stations;
    std::unique_ptr<CVavarozDlg> dlg;
    CGstPlayerControl* control = nullptr;
    std::vector<MessageBoxRequest> boxes;

private:
    QString m_oldDir;
};

LocalRadio* DialogPlayback::s_radio = nullptr;

} // namespace

TEST_F(DialogPlayback, EachStationPlaysThroughItsMetafileAndCancelStopsIt) {
    const char* const bandwidths[] = {"128000", nullptr, nullptr};
    for (int row = 0; row < 3; ++row) {
        ReceiveRow(row);
        EXPECT_EQ(Field(IDC_URL), stations[static_cast<std::size_t>(row)].second);
        ASSERT_TRUE(WaitFields(kPlaying, kOpen, std::chrono::seconds(25)))
            << "row " << row << ": " << Field(IDC_PLAYSTATE).toStdString() << " / "
            << Field(IDC_OPENSTATE).toStdString();
        // The bit rate appears on a tick once the stream has told it.
        if (bandwidths[row]) {
            EXPECT_TRUE(
                WaitUntil([&] { return Field(IDC_BANDWIDTH) == QLatin1String(bandwidths[row]); },
                          std::chrono::seconds(5)))
                << Field(IDC_BANDWIDTH).toStdString();
        } else {
            EXPECT_TRUE(WaitUntil([&] { return Field(IDC_BANDWIDTH).toInt() > 0; },
                                  std::chrono::seconds(5)))
                << Field(IDC_BANDWIDTH).toStdString();
        }
        QTest::mouseClick(dlg->GetDlgItem(IDC_CANCEL), Qt::LeftButton);
        EXPECT_TRUE(WaitFields(kStopped, kOpen, std::chrono::seconds(3))) << "row " << row;
    }
    EXPECT_TRUE(boxes.empty());
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
    WaitUntil([] { return false; }, std::chrono::milliseconds(1500));
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_TRUE(boxes[0].text.contains(stations[3].second));
    EXPECT_TRUE(boxes[0].text.contains(QStringLiteral("サーバーに接続できません")));
    // The dialog goes on: another station still plays.
    ReceiveRow(0);
    EXPECT_TRUE(WaitFields(kPlaying, kOpen, std::chrono::seconds(25)));
    EXPECT_EQ(boxes.size(), 1u);
}
