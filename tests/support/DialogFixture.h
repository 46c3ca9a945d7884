#pragma once
// A main dialog in a working directory of its own, holding a one-line station
// catalogue, on a recording player (or on the real one), with message boxes
// recorded instead of shown.

#include "player/GstPlayerControl.h"
#include "res/Resources.h"
#include "support/RecordingPlayer.h"
#include "support/TestSupport.h"
#include "ui/DlgAccess.h"
#include "ui/StationListCtrl.h"
#include "ui/VavarozDlg.h"

#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QTest>
#include <gtest/gtest.h>
#include <memory>
#include <optional>

namespace didira::test {

class DialogFixture : public ::testing::Test {
protected:
    explicit DialogFixture(bool recordingPlayer = true) {
        if (recordingPlayer)
            registration.emplace();
        else // also after a recording player of an earlier test took the class
            ControlHost::RegisterClass(QString::fromLatin1(kMediaPlayerClsid),
                                       &CGstPlayerControl::Create);
    }

    void SetUp() override {
        m_oldDir = QDir::currentPath();
        ASSERT_TRUE(QDir::setCurrent(TempDir()));
        WriteCatalogue("1,Test Station,http://127.0.0.1:9/test.mp3\r\n");
        ResetShownStatusForTesting();
    }

    void TearDown() override {
        dlg.reset();
        QDir::setCurrent(m_oldDir);
    }

    static void WriteCatalogue(const QByteArray& csv) {
        QFile file(QStringLiteral("radioname.csv"));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(csv);
    }

    // Constructs and creates the dialog (as the modal run would, without
    // entering it).
    CVavarozDlg& Make() {
        dlg = std::make_unique<CVavarozDlg>();
        boxesBeforeCreate = boxes.size();
        created = dlg->Create();
        return *dlg;
    }

    RecordingPlayer& Player() { return *registration->Last(); }

    // Selects a row (none for -1) and sends the list's click notification.
    void ClickRow(int row) {
        if (row >= 0)
            remote::Access::List(*dlg)->selectRow(row);
        else
            remote::Access::List(*dlg)->clearSelection();
        long result = -1;
        MsgArgs a;
        a.id = IDC_STATIONLIST;
        a.result = &result;
        dlg->RouteMessage(Msg::Notify, a);
        EXPECT_EQ(result, 0);
    }
    void Press(int id) { QTest::mouseClick(dlg->GetDlgItem(id), Qt::LeftButton); }
    QString Field(int id) { return Item<QLineEdit>(id)->text(); }

    template <typename T> T* Item(int id) { return qobject_cast<T*>(dlg->GetDlgItem(id)); }

    std::optional<RecordingPlayerRegistration> registration;
    MessageRecorder recorder;
    std::vector<MessageBoxRequest>& boxes = recorder.boxes;
    std::unique_ptr<CVavarozDlg> dlg;
    std::size_t boxesBeforeCreate = 0;
    bool created = false;

private:
    QString m_oldDir;
};

} // namespace didira::test
