#pragma once
// A main dialog on a recording player, in a working directory of its own,
// with message boxes recorded instead of shown.

#include "res/Resources.h"
#include "support/RecordingPlayer.h"
#include "support/TestSupport.h"
#include "ui/MessageBox.h"
#include "ui/VavarozDlg.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>
#include <memory>
#include <vector>

namespace didira::test {

class DialogFixture : public ::testing::Test {
protected:
    void SetUp() override {
        m_oldDir = QDir::currentPath();
        const QString dir = TempDir();
        QDir::setCurrent(dir);
        QFile csv(dir + QStringLiteral("/radioname.csv"));
        ASSERT_TRUE(csv.open(QIODevice::WriteOnly));
        csv.write("1,Test Station,http://127.0.0.1:9/test.mp3\r\n");
        csv.close();
        SetMessageBoxHook([this](const MessageBoxRequest& r) {
            boxes.push_back(r);
            return 1;
        });
        ResetShownStatusForTesting();
    }

    void TearDown() override {
        dlg.reset();
        SetMessageBoxHook({});
        QDir::setCurrent(m_oldDir);
    }

    // Constructs and creates the dialog (as the modal run would, without
    // entering it).
    CVavarozDlg& Make() {
        dlg = std::make_unique<CVavarozDlg>();
        boxesBeforeCreate = boxes.size();
        created = dlg->Create();
        return *dlg;
    }

    RecordingPlayer& Player() { return *registration.Last(); }

    template <typename T> T* Item(int id) { return qobject_cast<T*>(dlg->GetDlgItem(id)); }

    RecordingPlayerRegistration registration;
    std::unique_ptr<CVavarozDlg> dlg;
    std::vector<MessageBoxRequest> boxes;
    std::size_t boxesBeforeCreate = 0;
    bool created = false;

private:
    QString m_oldDir;
};

} // namespace didira::test
