// The automation object of the main dialog, served in this process on a
// private bus: refusal without a live dialog, the pointers between proxy and
// dialog, and what the last release does in server mode and in a normal start.
#include "PrivateBus.h"
#include "app/Automation.h"
#include "app/VavarozApp.h"
#include "ui/DialogFixture.h"

#include <QDBusObjectPath>

namespace didira {
namespace {

using test::Call;
using test::NameHasOwner;

class AutomationObject : public test::DialogFixture {
protected:
    void SetUp() override {
        DialogFixture::SetUp();
        ASSERT_TRUE(m_bus.IsRunning());
        m_server = m_bus.Connect(QStringLiteral("server"));
        m_client = m_bus.Connect(QStringLiteral("client"));
        ASSERT_TRUE(CVavarozDlgAutoProxy::factory.Register(m_server));
        ASSERT_TRUE(test::WaitUntil([&] { return NameHasOwner(m_client, kProgId); }));
    }
    void TearDown() override {
        CVavarozDlgAutoProxy::factory.Revoke();
        app.m_pMainWnd = nullptr;
        DialogFixture::TearDown();
    }
    QDBusMessage Create() {
        return Call(m_client, QDBusMessage::createMethodCall(
                                  kProgId, QStringLiteral("/Vavaroz/Application"),
                                  QStringLiteral("Vavaroz.Application.ClassFactory"),
                                  QStringLiteral("CreateInstance")));
    }
    QDBusMessage Release(const QDBusMessage& object) {
        const QString path = qvariant_cast<QDBusObjectPath>(object.arguments().value(0)).path();
        return Call(m_client,
                    QDBusMessage::createMethodCall(object.service(), path,
                                                   QStringLiteral("Vavaroz.Application.Reference"),
                                                   QStringLiteral("Release")));
    }

    CVavarozApp app;
    test::PrivateBus m_bus;
    QDBusConnection m_server{QString()};
    QDBusConnection m_client{QString()};
};

TEST_F(AutomationObject, RequestWithoutALiveMainDialogIsRefusedAndUsesNothingUp) {
    const QDBusMessage early = Create(); // before the main window is set
    EXPECT_EQ(early.errorName(), QString::fromLatin1(kNoDialogError));
    EXPECT_EQ(AfxOleGetLockCount(), 0);

    Make();
    app.m_pMainWnd = dlg.get();
    dlg->DestroyWindow(); // the modal run has ended
    EXPECT_EQ(Create().errorName(), QString::fromLatin1(kNoDialogError));
    EXPECT_TRUE(NameHasOwner(m_client, kProgId));
    EXPECT_EQ(AfxOleGetLockCount(), 0);
}

TEST_F(AutomationObject, ProxyAndDialogPointAtEachOtherWhileHeld) {
    Make();
    app.m_pMainWnd = dlg.get();
    const QDBusMessage object = Create();
    ASSERT_EQ(object.type(), QDBusMessage::ReplyMessage) << object.errorMessage().toStdString();
    ASSERT_NE(dlg->m_pAutoProxy, nullptr);
    EXPECT_EQ(dlg->m_pAutoProxy->m_pDialog, dlg.get());
    EXPECT_EQ(AfxOleGetLockCount(), 1);
    EXPECT_FALSE(NameHasOwner(m_client, kProgId)); // single use

    dlg->show();
    EXPECT_FALSE(dlg->CanExit());
    EXPECT_FALSE(dlg->isVisible());

    EXPECT_EQ(Release(object).type(), QDBusMessage::ReplyMessage);
    EXPECT_EQ(dlg->m_pAutoProxy, nullptr);
    EXPECT_EQ(AfxOleGetLockCount(), 0);
    EXPECT_TRUE(dlg->CanExit());
}

TEST_F(AutomationObject, LastReleaseEndsTheDialogOnlyInServerModeAndOnlyOnce) {
    for (const bool serverMode : {true, false}) {
        CVavarozDlgAutoProxy::factory.Revoke();
        ASSERT_TRUE(CVavarozDlgAutoProxy::factory.Register(m_server));
        ASSERT_TRUE(test::WaitUntil([&] { return NameHasOwner(m_client, kProgId); }));
        Make();
        app.m_pMainWnd = dlg.get();
        app.m_bUserCtrl = !serverMode;
        const QDBusMessage object = Create();
        ASSERT_EQ(object.type(), QDBusMessage::ReplyMessage);
        ASSERT_EQ(Release(object).type(), QDBusMessage::ReplyMessage);
        EXPECT_EQ(dlg->ModalResult(), serverMode ? IDCANCEL : 0) << serverMode;
        EXPECT_TRUE(app.m_bUserCtrl) << serverMode; // the user has control from now on
    }
}

TEST_F(AutomationObject, ProxyOutlivingTheDialogNoLongerRefersToIt) {
    Make();
    app.m_pMainWnd = dlg.get();
    app.m_bUserCtrl = false;
    const QDBusMessage object = Create();
    ASSERT_EQ(object.type(), QDBusMessage::ReplyMessage);
    dlg.reset();
    // The release finds no dialog to end and the count still comes down.
    EXPECT_EQ(Release(object).type(), QDBusMessage::ReplyMessage);
    EXPECT_EQ(AfxOleGetLockCount(), 0);
}

} // namespace
} // namespace didira
