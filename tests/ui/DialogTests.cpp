// The main dialog: creation from its template, initialisation, the window
// menu and about box, the close paths, and dispatch errors.
#include "app/Automation.h"
#include "support/DialogFixture.h"
#include "ui/DialogLayout.h"
#include "ui/DlgAccess.h"
#include "ui/StationListCtrl.h"

#include <QApplication>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QSlider>
#include <QTest>
#include <QTimer>

using namespace didira;
using namespace didira::test;

namespace {

// Closes the next modal dialog that appears and reports whether one did.
class ModalCloser {
public:
    ModalCloser() {
        m_timer.setInterval(20);
        QObject::connect(&m_timer, &QTimer::timeout, &m_timer, [this] {
            if (QWidget* modal = QApplication::activeModalWidget()) {
                title = modal->windowTitle();
                ++count;
                QTest::keyClick(modal, Qt::Key_Escape);
            }
        });
        m_timer.start();
    }
    int count = 0;
    QString title;

private:
    QTimer m_timer;
};

} // namespace

using MainDialog = DialogFixture;

TEST_F(MainDialog, EveryTemplateControlStandsAtItsPlaceWithItsText) {
    Make();
    ASSERT_TRUE(created);
    EXPECT_EQ(dlg->windowTitle(), "Didira");
    // An application window with a minimise box, not a transient dialog.
    EXPECT_EQ(dlg->windowType(), Qt::Window);
    EXPECT_EQ(dlg->parentWidget(), nullptr);
    const Qt::WindowFlags frame = dlg->windowFlags();
    for (const Qt::WindowType hint : {Qt::WindowTitleHint, Qt::WindowSystemMenuHint,
                                      Qt::WindowMinimizeButtonHint, Qt::WindowCloseButtonHint})
        EXPECT_TRUE(frame.testFlag(hint)) << hint;
    EXPECT_FALSE(frame.testFlag(Qt::WindowMaximizeButtonHint));
    const QSize base = DialogBaseUnits(dlg->font());
    EXPECT_EQ(dlg->size(), MapDialogRect(QRect(0, 0, 359, 169), base).size());
    for (const ControlTemplate& c : GetDialogTemplate(IDD_VAVAROZ_DIALOG).controls) {
        if (c.id == IDC_STATIC || c.id == IDC_MEDIAPLAYER)
            continue;
        QWidget* w = dlg->GetDlgItem(c.id);
        ASSERT_NE(w, nullptr) << c.id;
        EXPECT_EQ(w->geometry(), MapDialogRect(c.rect, base)) << c.id;
        if (auto* b = qobject_cast<QPushButton*>(w)) {
            EXPECT_EQ(b->text(), c.text);
        }
    }
    // The player has no visible area.
    EXPECT_EQ(dlg->GetDlgItem(IDC_MEDIAPLAYER)->size(), QSize(0, 0));
    // "Recieve" waits for a station; "File inport" is hidden and disabled.
    EXPECT_FALSE(Item<QPushButton>(IDC_RECEIVE)->isEnabled());
    EXPECT_FALSE(Item<QPushButton>(IDC_IMPORT)->isEnabled());
    EXPECT_TRUE(Item<QPushButton>(IDC_IMPORT)->isHidden());
}

TEST_F(MainDialog, DialogUnitsScaleWithTheFontAndRoundDown) {
    const QFont small = DialogFont(GetDialogTemplate(IDD_VAVAROZ_DIALOG));
    QFont large = small;
    large.setPixelSize(small.pixelSize() * 2);
    EXPECT_GT(DialogBaseUnits(large).width(), DialogBaseUnits(small).width());
    EXPECT_GT(DialogBaseUnits(large).height(), DialogBaseUnits(small).height());
    EXPECT_EQ(MapDialogRect(QRect(7, 148, 46, 14), QSize(6, 13)), QRect(11, 241, 69, 22));
}

TEST_F(MainDialog, InitialisationSetsUpThePlayerInOrder) {
    registration->prepare = [](RecordingPlayer& p) {
        p.Answer(dispid::Volume, std::int32_t{-500});
        p.Answer(dispid::Balance, std::int32_t{2500});
    };
    Make();
    ASSERT_TRUE(created);
    const auto& calls = Player().calls;
    ASSERT_EQ(calls.size(), 4u); // no error: neither code nor description is asked for
    EXPECT_EQ(calls[0].id, dispid::PlayOnOpen);
    EXPECT_EQ(calls[0].kind, InvokeKind::PropertyPut);
    EXPECT_EQ(std::get<VariantBool>(calls[0].args.at(0)).value, -1);
    EXPECT_EQ(calls[1].id, dispid::IsError);
    EXPECT_EQ(calls[2].id, dispid::Volume);
    EXPECT_EQ(calls[3].id, dispid::Balance);
    EXPECT_EQ(boxes.size(), boxesBeforeCreate);

    auto* volume = Item<QSlider>(IDC_VOLUME);
    auto* balance = Item<QSlider>(IDC_BALANCE);
    EXPECT_EQ(std::pair(volume->minimum(), volume->maximum()), std::pair(-1000, 0));
    EXPECT_EQ(volume->value(), -500);
    EXPECT_EQ(std::pair(balance->minimum(), balance->maximum()), std::pair(-10000, 10000));
    EXPECT_EQ(balance->value(), 2500);
}

TEST_F(MainDialog, PlayerErrorAtStartIsShownOnlyWhenTheControlSaysSo) {
    struct Case {
        Variant isError;
        bool shown;
    };
    for (const Case& c : {Case{VariantBool{0}, false}, Case{VariantBool{-1}, true},
                          Case{std::int32_t{5}, true}, Case{std::int32_t{0}, false}}) {
        boxes.clear();
        registration->prepare = [&](RecordingPlayer& p) {
            p.Answer(dispid::IsError, c.isError);
            p.Answer(dispid::ErrorCode, std::int32_t(0x80004005u));
            p.Answer(dispid::ErrorDescription, QStringLiteral("接続できません"));
        };
        Make();
        ASSERT_TRUE(created);
        const auto asked = Player().CallsTo({dispid::ErrorCode, dispid::ErrorDescription});
        if (!c.shown) {
            EXPECT_TRUE(asked.empty());
            EXPECT_EQ(boxes.size(), boxesBeforeCreate);
            continue;
        }
        ASSERT_EQ(asked.size(), 2u);
        EXPECT_EQ(asked[0].id, dispid::ErrorCode); // the code first, then the description
        ASSERT_EQ(boxes.size(), boxesBeforeCreate + 1);
        EXPECT_EQ(boxes.back().text, "ErrCode[80004005] Description[接続できません]");
        EXPECT_EQ(boxes.back().caption, "ERROR");
        EXPECT_EQ(boxes.back().owner, dlg.get());
        // Initialisation went on after the box.
        EXPECT_EQ(Item<QSlider>(IDC_VOLUME)->minimum(), -1000);
    }
}

TEST_F(MainDialog, VolumeOutsideTheRangeIsClampedOnTheTrackbarOnly) {
    registration->prepare = [](RecordingPlayer& p) {
        p.Answer(dispid::Volume, std::int32_t{-2000});
    };
    Make();
    EXPECT_EQ(Item<QSlider>(IDC_VOLUME)->value(), -1000);
    EXPECT_EQ(remote::Access::Volume(*dlg), -2000);
}

TEST_F(MainDialog, EndEscapeAndTheCloseBoxEachEndTheModalRun) {
    struct Way {
        const char* name;
        std::function<void(CVavarozDlg&)> act;
        int result;
    };
    const std::vector<Way> ways = {
        {"End", [](CVavarozDlg& d) { QTest::mouseClick(d.GetDlgItem(IDOK), Qt::LeftButton); },
         IDOK},
        {"Escape", [](CVavarozDlg& d) { QTest::keyClick(&d, Qt::Key_Escape); }, IDCANCEL},
        {"Enter", [](CVavarozDlg& d) { QTest::keyClick(&d, Qt::Key_Return); }, IDOK},
        {"close box", [](CVavarozDlg& d) { d.close(); }, IDCANCEL},
    };
    for (const Way& way : ways) {
        dlg = std::make_unique<CVavarozDlg>();
        CVavarozDlg* d = dlg.get();
        QTimer::singleShot(50, d, [d, &way] { way.act(*d); });
        QTimer::singleShot(5000, d, [d] { d->DestroyWindow(); }); // guard
        EXPECT_EQ(d->DoModal(), way.result) << way.name;
        EXPECT_FALSE(d->isVisible()) << way.name;
    }
}

TEST_F(MainDialog, ALiveAutomationObjectTurnsEndingIntoHiding) {
    Make();
    CVavarozDlgAutoProxy proxy;
    proxy.m_pDialog = dlg.get();
    dlg->m_pAutoProxy = &proxy;
    CVavarozDlg* d = dlg.get();
    bool stillRunning = false;
    QTimer::singleShot(30, d, [d] { QTest::keyClick(d, Qt::Key_Escape); });
    QTimer::singleShot(60, d, [d] { d->close(); });
    QTimer::singleShot(90, d, [d] { QTest::mouseClick(d->GetDlgItem(IDOK), Qt::LeftButton); });
    QTimer::singleShot(200, d, [d, &stillRunning] {
        stillRunning = !d->isVisible();
        d->DestroyWindow();
    });
    EXPECT_EQ(d->DoModal(), IDCANCEL);
    EXPECT_TRUE(stillRunning);
    dlg.reset();
    // The dialog let go of the proxy when it went.
    EXPECT_EQ(proxy.m_pDialog, nullptr);
}

TEST_F(MainDialog, AboutBoxFromTheWindowMenuAndFromADoubleClickOnFreeArea) {
    Make();
    dlg->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(dlg.get()));
    {
        ModalCloser closer;
        MsgArgs a;
        a.id = 0x0010;
        dlg->RouteMessage(Msg::SysCommand, a);
        EXPECT_EQ(closer.count, 1);
        EXPECT_EQ(closer.title, "Didira");
    }
    auto* menu = dlg->findChild<QMenu*>();
    ASSERT_NE(menu, nullptr);
    ASSERT_FALSE(menu->actions().isEmpty());
    EXPECT_EQ(menu->actions().last()->text(), "Vavaroz のﾊﾞｰｼﾞｮﾝ情報(&A)...");
    {
        ModalCloser closer;
        menu->actions().last()->trigger();
        EXPECT_EQ(closer.count, 1);
    }
    {
        // A free spot between the trackbars and the buttons.
        ModalCloser closer;
        QTest::mouseDClick(dlg.get(), Qt::LeftButton, {}, QPoint(5, 5));
        EXPECT_EQ(closer.count, 1);
    }
    for (int id : {IDC_STATIONLIST, IDC_PLAYSTATE, IDC_VOLUME, IDOK}) {
        ModalCloser closer;
        QWidget* child = dlg->GetDlgItem(id);
        QWidget* target =
            id == IDC_STATIONLIST ? qobject_cast<CStationListCtrl*>(child)->viewport() : child;
        QTest::mouseDClick(target, Qt::LeftButton, {}, QPoint(3, 3));
        QTest::qWait(60);
        EXPECT_EQ(closer.count, 0) << id;
    }
}

TEST_F(MainDialog, DispatchErrorsAreReportedAndTheDialogGoesOn) {
    Make();
    Player().failures.insert_or_assign(dispid::Stop,
                                       DispatchError(static_cast<std::int32_t>(0x80004005u),
                                                     QStringLiteral("再生を停止できません")));
    const std::size_t before = boxes.size();
    Press(IDC_CANCEL);
    ASSERT_EQ(boxes.size(), before + 1);
    EXPECT_EQ(boxes.back().text, "再生を停止できません");
    EXPECT_EQ(boxes.back().icon, MbIcon::Stop);
    EXPECT_EQ(boxes.back().caption, AppName());

    // A failure without a text of its own gets the internal-error text; the
    // rest of the handler is skipped.
    Player().failures.insert_or_assign(dispid::PlayState, DispatchError(1, QString()));
    dlg->RouteMessage(Msg::Timer);
    ASSERT_EQ(boxes.size(), before + 2);
    EXPECT_EQ(boxes.back().text, "ｱﾌﾟﾘｹｰｼｮﾝの内部ｴﾗｰです。");
    EXPECT_TRUE(Player().CallsTo({dispid::OpenState}).empty());

    Player().failures.clear();
    Player().Answer(dispid::PlayState, ToNumber(PlayState::Playing));
    Player().Answer(dispid::OpenState, ToNumber(OpenState::Open));
    dlg->RouteMessage(Msg::Timer);
    EXPECT_EQ(remote::Access::PlayStateText(*dlg), "ストリームが再生されています。");
}
