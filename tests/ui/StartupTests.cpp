// Start-up: the failure paths and the normal end.
#include "app/VavarozApp.h"
#include "support/DialogFixture.h"

#include <QApplication>
#include <QTimer>

using namespace didira;
using namespace didira::test;

using Startup = DialogFixture;

namespace {
int g_oleInits = 0;
bool Fails() {
    return false;
}
bool Works() {
    return true;
}
bool CountedOle() {
    ++g_oleInits;
    return true;
}
} // namespace

TEST_F(Startup, EachFailingLayerShowsOnlyItsMessageAndNothingElseStarts) {
    struct Case {
        bool (*socketInit)();
        bool (*oleInit)();
        const char* message;
    };
    for (const Case& c : {Case{&Fails, &CountedOle, "Windows ｿｹｯﾄの初期化に失敗しました。"},
                          Case{&Works, &Fails,
                               "OLE の初期化に失敗しました。 OLE "
                               "ﾗｲﾌﾞﾗﾘのﾊﾞｰｼﾞｮﾝが正しいことを確認してください。"}}) {
        boxes.clear();
        g_oleInits = 0;
        CVavarozApp app;
        app.m_platform.socketInit = c.socketInit;
        app.m_platform.oleInit = c.oleInit;
        bool dialogSeen = false;
        QTimer probe;
        QObject::connect(&probe, &QTimer::timeout, &probe, [&] {
            for (QWidget* w : QApplication::topLevelWidgets())
                dialogSeen |= qobject_cast<CVavarozDlg*>(w) != nullptr;
        });
        probe.start(1);
        EXPECT_EQ(app.InitInstance(), FALSE);
        ASSERT_EQ(boxes.size(), 1u) << c.message;
        EXPECT_EQ(boxes[0].text, c.message);
        EXPECT_EQ(boxes[0].icon, MbIcon::Warning);
        EXPECT_EQ(boxes[0].caption, AppName());
        EXPECT_EQ(boxes[0].owner, nullptr);
        EXPECT_EQ(g_oleInits, 0); // nothing after a failed socket layer
        EXPECT_NE(app.ExitCode(), 0);
        EXPECT_FALSE(dialogSeen);
    }
}

TEST_F(Startup, ANormalEndReturnsFalseWithExitStatusZero) {
    CVavarozApp app;
    app.m_platform.socketInit = &Works;
    app.m_platform.oleInit = &Works;
    QWidget* seenMain = nullptr;
    QTimer::singleShot(100, [&] {
        seenMain = app.m_pMainWnd;
        if (auto* d = qobject_cast<CVavarozDlg*>(app.m_pMainWnd.data()))
            d->OnOK();
    });
    EXPECT_EQ(app.InitInstance(), FALSE);
    EXPECT_NE(seenMain, nullptr); // the dialog was the main window while it ran
    EXPECT_EQ(app.m_pMainWnd, nullptr);
    EXPECT_EQ(app.ExitCode(), 0);
}

TEST_F(Startup, APlayerThatCannotBeCreatedEndsTheProcessWithAFailureStatus) {
    registration->failCreation = true;
    CVavarozApp app;
    app.m_platform.socketInit = &Works;
    app.m_platform.oleInit = &Works;
    EXPECT_EQ(app.InitInstance(), FALSE);
    EXPECT_NE(app.ExitCode(), 0);
    EXPECT_EQ(registration->Last(), nullptr);
}
