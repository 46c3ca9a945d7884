// A listener skimming through stations in the window: a click on a row and
// "Recieve" alternately between two live stations, and "Recieve"/"Cancel"
// pairs, as fast as the dialog takes them, with the real player control and
// the configured audio output. The dialog and its player must survive and
// still play.
#include "player/GstPlayerControl.h"
#include "support/DialogFixture.h"
#include "support/LocalRadio.h"

#include <QCoreApplication>

using namespace didira;
using namespace didira::test;

namespace {

const QString kPlaying = QStringLiteral("ストリームが再生されています。");
const QString kOpen = QStringLiteral("コンテンツ ファイルは開いた状態です。");

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

class DialogSwitching : public WithLocalRadio<DialogFixture> {
protected:
    DialogSwitching() : WithLocalRadio(false) {}

    void SetUp() override {
        WithLocalRadio::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        WriteCatalogue(
            QStringLiteral("1,MP3,%1\r\n2,Ogg,%2\r\n")
                .arg(radio->Url(QStringLiteral("/mp3")), radio->Url(QStringLiteral("/ogg")))
                .toLatin1());
        Make();
        ASSERT_TRUE(created);
        ASSERT_TRUE(qobject_cast<CGstPlayerControl*>(dlg->m_player.GetControl()))
            << "the dialog does not host the real player";
    }

    bool WaitPlayingFields(std::chrono::seconds timeout) {
        return WaitUntil(
            [&] { return Field(IDC_PLAYSTATE) == kPlaying && Field(IDC_OPENSTATE) == kOpen; },
            timeout);
    }
};

} // namespace

TEST_F(DialogSwitching, RowClicksReceiveAndCancelInQuickSuccessionKeepThePlayer) {
    const int rounds = Rounds();
    for (int i = 0; i < rounds; ++i) {
        ClickRow(i % 2);
        Press(IDC_RECEIVE);
        Dwell(i);
        Press(IDC_RECEIVE);
        Dwell(i + 1);
        Press(IDC_CANCEL);
        Dwell(i + 2);
    }
    RecordProperty("rounds", rounds);
    // Still a working player: a station plays to the end of its buffering.
    ClickRow(1);
    Press(IDC_RECEIVE);
    EXPECT_TRUE(WaitPlayingFields(std::chrono::seconds(25)))
        << Field(IDC_PLAYSTATE).toStdString() << " / " << Field(IDC_OPENSTATE).toStdString();
    EXPECT_TRUE(boxes.empty()) << boxes.front().text.toStdString();
}
