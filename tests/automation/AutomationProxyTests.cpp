// The automation object of the main dialog, served in this process on a
// private bus: refusal without a live dialog, the pointers between proxy and
// dialog, the bus surface, and what the last release does.
#include "PrivateBus.h"
#include "app/Automation.h"
#include "app/VavarozApp.h"
#include "support/DialogFixture.h"

#include <QDBusObjectPath>

namespace didira {
namespace {

using test::Call;
using test::NameHasOwner;

class AutomationObject : public test::DialogFixture, protected test::BusPair {
protected:
    void SetUp() override {
        DialogFixture::SetUp();
        ASSERT_TRUE(bus.IsRunning());
        Serve();
    }
    void TearDown() override {
        CVavarozDlgAutoProxy::factory.Revoke();
        app.m_pMainWnd = nullptr;
        DialogFixture::TearDown();
    }
    // A fresh class object, as in a new server-mode process.
    void Serve() {
        CVavarozDlgAutoProxy::factory.Revoke();
        ASSERT_TRUE(CVavarozDlgAutoProxy::factory.Register(server));
        ASSERT_TRUE(test::WaitUntil([&] { return NameHasOwner(client, kProgId); }));
    }
    QDBusMessage Create(const QString& dest = kProgId) {
        return Call(client, dest, QStringLiteral("/Vavaroz/Application"),
                    QStringLiteral("Vavaroz.Application.ClassFactory"),
                    QStringLiteral("CreateInstance"));
    }
    // A call on the object a Create() reply names.
    QDBusMessage On(const QDBusMessage& object, const QString& iface, const QString& member,
                    const QDBusConnection& by) {
        return Call(by, object.service(),
                    qvariant_cast<QDBusObjectPath>(object.arguments().value(0)).path(), iface,
                    member);
    }
    QDBusMessage Release(const QDBusMessage& object, const QDBusConnection& by) {
        return On(object, QStringLiteral("Vavaroz.Application.Reference"),
                  QStringLiteral("Release"), by);
    }

    CVavarozApp app;
};

TEST_F(AutomationObject, RequestWithoutALiveMainDialogIsRefusedAndUsesNothingUp) {
    EXPECT_EQ(Create().errorName(), QString::fromLatin1(kNoDialogError)); // not yet set
    Make();
    app.m_pMainWnd = dlg.get();
    dlg->DestroyWindow(); // the modal run has ended
    EXPECT_EQ(Create().errorName(), QString::fromLatin1(kNoDialogError));
    EXPECT_TRUE(NameHasOwner(client, kProgId));
    EXPECT_EQ(AfxOleGetLockCount(), 0);
}

TEST_F(AutomationObject, HeldObjectLinksTheDialogAndOffersNoMembers) {
    Make();
    app.m_pMainWnd = dlg.get();
    const QDBusMessage object = Create();
    ASSERT_EQ(object.type(), QDBusMessage::ReplyMessage) << object.errorMessage().toStdString();
    ASSERT_NE(dlg->m_pAutoProxy, nullptr);
    EXPECT_EQ(dlg->m_pAutoProxy->m_pDialog, dlg.get());
    EXPECT_EQ(AfxOleGetLockCount(), 1);

    // Single use: the name is gone, and this process takes no more requests.
    EXPECT_FALSE(NameHasOwner(client, kProgId));
    EXPECT_EQ(Create(object.service()).errorName(),
              QStringLiteral("Vavaroz.Application.Error.ClassRevoked"));

    // The object's interface has no members.
    EXPECT_EQ(On(object, QString::fromLatin1(kProxyInterface), QStringLiteral("Quit"), client)
                  .errorName(),
              QStringLiteral("org.freedesktop.DBus.Error.UnknownMethod"));

    // Only a holder can release.
    EXPECT_EQ(Release(object, bus.Connect(QStringLiteral("other"))).errorName(),
              QStringLiteral("Vavaroz.Application.Error.NotHeld"));

    dlg->show();
    EXPECT_FALSE(dlg->CanExit());
    EXPECT_FALSE(dlg->isVisible());
    EXPECT_EQ(Release(object, client).type(), QDBusMessage::ReplyMessage);
    EXPECT_EQ(dlg->m_pAutoProxy, nullptr);
    EXPECT_EQ(AfxOleGetLockCount(), 0);
    EXPECT_TRUE(dlg->CanExit());
}

TEST_F(AutomationObject, LastReleaseEndsTheDialogOnlyInServerMode) {
    enum Kind { Server, Normal, DialogGoneFirst };
    for (const Kind kind : {Server, Normal, DialogGoneFirst}) {
        Serve();
        Make();
        app.m_pMainWnd = dlg.get();
        app.m_bUserCtrl = kind == Normal;
        const QDBusMessage object = Create();
        ASSERT_EQ(object.type(), QDBusMessage::ReplyMessage) << kind;
        if (kind == DialogGoneFirst)
            dlg.reset(); // the proxy must no longer refer to it
        ASSERT_EQ(Release(object, client).type(), QDBusMessage::ReplyMessage) << kind;
        if (dlg) {
            EXPECT_EQ(dlg->ModalResult(), kind == Server ? IDCANCEL : 0) << kind;
        }
        EXPECT_TRUE(app.m_bUserCtrl) << kind; // from now on the user's close ends it
        EXPECT_EQ(AfxOleGetLockCount(), 0) << kind;
    }
}

} // namespace
} // namespace didira
