// The class factory on a private bus, with a stand-in class; the switches of
// server mode; the activation file.
#include "PrivateBus.h"
#include "app/ObjectFactory.h"
#include "support/TestSupport.h"

#include <QDBusObjectPath>
#include <QDBusPendingCall>
#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

namespace didira {
namespace {

using test::Call;
using test::NameHasOwner;
using test::PrivateBus;
using test::WaitUntil;

struct Counted final : CCmdTarget {
    static inline int s_live = 0;
    Counted() {
        EnableAutomation();
        ++s_live;
    }
    ~Counted() override { --s_live; }
    Q_DISABLE_COPY_MOVE(Counted)
};

bool s_refuse = false;

std::unique_ptr<CCmdTarget> CreateCounted(CreateError& error) {
    if (s_refuse) {
        error = {QStringLiteral("Test.Fake.Error.NotNow"), QStringLiteral("not now")};
        return nullptr;
    }
    return std::make_unique<Counted>();
}

const CRuntimeClass kCountedClass = {"Counted", "Test.Fake.Own", &CreateCounted};

QDBusMessage FactoryCall(const QString& member, const QString& dest = QStringLiteral("Test.Fake")) {
    return QDBusMessage::createMethodCall(dest, QStringLiteral("/Test/Fake"),
                                          QStringLiteral("Test.Fake.ClassFactory"), member);
}

QDBusMessage ReleaseCall(const QString& dest, const QString& path) {
    return QDBusMessage::createMethodCall(dest, path, QStringLiteral("Test.Fake.Reference"),
                                          QStringLiteral("Release"));
}

QString PathOf(const QDBusMessage& reply) {
    return qvariant_cast<QDBusObjectPath>(reply.arguments().value(0)).path();
}

class FactoryOnBus : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_bus.IsRunning());
        Counted::s_live = 0;
        s_refuse = false;
        m_server = m_bus.Connect(QStringLiteral("server"));
        m_client = m_bus.Connect(QStringLiteral("client"));
        ASSERT_TRUE(m_server.isConnected());
    }
    void Start(COleObjectFactory& factory) {
        ASSERT_TRUE(factory.Register(m_server));
        ASSERT_TRUE(WaitUntil([&] { return NameHasOwner(m_client, QStringLiteral("Test.Fake")); }));
    }
    // Closes the client's connection, as a client leaving the bus would.
    void DropClient() {
        m_client = QDBusConnection(QStringLiteral("none"));
        m_bus.Disconnect(QStringLiteral("client"));
    }
    bool WaitLive(int n) {
        return WaitUntil([&] { return Counted::s_live == n; }, std::chrono::seconds(5));
    }

    PrivateBus m_bus;
    QDBusConnection m_server{QString()};
    QDBusConnection m_client{QString()};
};

TEST_F(FactoryOnBus, CreateAndReleaseAnObjectWhoseOwnInterfaceIsEmpty) {
    COleObjectFactory factory("{0}", kCountedClass, false, "Test.Fake");
    Start(factory);

    const QDBusMessage reply = Call(m_client, FactoryCall(QStringLiteral("CreateInstance")));
    ASSERT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorMessage().toStdString();
    const QString path = PathOf(reply);
    EXPECT_EQ(path, QStringLiteral("/Test/Fake/Object1"));
    EXPECT_EQ(Counted::s_live, 1);

    const QDBusMessage xml =
        Call(m_client,
             QDBusMessage::createMethodCall(QStringLiteral("Test.Fake"), path,
                                            QStringLiteral("org.freedesktop.DBus.Introspectable"),
                                            QStringLiteral("Introspect")));
    const QString text = xml.arguments().value(0).toString();
    const qsizetype own = text.indexOf(QStringLiteral("<interface name=\"Test.Fake.Own\">"));
    ASSERT_GE(own, 0) << text.toStdString();
    const qsizetype body = text.indexOf(QLatin1Char('>'), own) + 1;
    const qsizetype end = text.indexOf(QStringLiteral("</interface>"), body);
    EXPECT_TRUE(text.mid(body, end - body).trimmed().isEmpty()) << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("<method name=\"Release\"/>")));

    // Someone who holds nothing cannot release it.
    QDBusConnection other = m_bus.Connect(QStringLiteral("other"));
    const QDBusMessage notHeld = Call(other, ReleaseCall(QStringLiteral("Test.Fake"), path));
    EXPECT_EQ(notHeld.errorName(), QStringLiteral("Test.Fake.Error.NotHeld"));
    EXPECT_EQ(Counted::s_live, 1);

    const QDBusMessage released = Call(m_client, ReleaseCall(QStringLiteral("Test.Fake"), path));
    EXPECT_EQ(released.type(), QDBusMessage::ReplyMessage) << released.errorMessage().toStdString();
    EXPECT_EQ(Counted::s_live, 0);
    EXPECT_EQ(factory.LiveObjectCount(), 0);
    const QDBusMessage again = Call(m_client, ReleaseCall(QStringLiteral("Test.Fake"), path));
    EXPECT_EQ(again.type(), QDBusMessage::ErrorMessage);
}

TEST_F(FactoryOnBus, ClientLeavingTheBusLosesItsReferencesAndOnlyThose) {
    COleObjectFactory factory("{0}", kCountedClass, false, "Test.Fake"); // multiple use
    Start(factory);
    QDBusConnection second = m_bus.Connect(QStringLiteral("second"));

    ASSERT_EQ(Call(m_client, FactoryCall(QStringLiteral("CreateInstance"))).type(),
              QDBusMessage::ReplyMessage);
    const QDBusMessage kept = Call(second, FactoryCall(QStringLiteral("CreateInstance")));
    ASSERT_EQ(kept.type(), QDBusMessage::ReplyMessage);
    EXPECT_EQ(Counted::s_live, 2);
    EXPECT_TRUE(NameHasOwner(m_client, QStringLiteral("Test.Fake"))); // not single use

    DropClient();
    EXPECT_TRUE(WaitLive(1));
    EXPECT_EQ(Call(second, ReleaseCall(QStringLiteral("Test.Fake"), PathOf(kept))).type(),
              QDBusMessage::ReplyMessage);
    EXPECT_EQ(Counted::s_live, 0);
}

TEST_F(FactoryOnBus, SingleUseClassLetsTheNameGoAndRefusesMore) {
    COleObjectFactory factory("{0}", kCountedClass, true, "Test.Fake");
    Start(factory);

    const QDBusMessage first = Call(m_client, FactoryCall(QStringLiteral("CreateInstance")));
    ASSERT_EQ(first.type(), QDBusMessage::ReplyMessage);
    // The name is gone by the time the reply arrives.
    EXPECT_FALSE(NameHasOwner(m_client, QStringLiteral("Test.Fake")));

    const QDBusMessage second =
        Call(m_client, FactoryCall(QStringLiteral("CreateInstance"), first.service()));
    EXPECT_EQ(second.errorName(), QStringLiteral("Test.Fake.Error.ClassRevoked"));
    EXPECT_EQ(Counted::s_live, 1);
}

TEST_F(FactoryOnBus, RefusedCreationPassesTheErrorOnAndUsesNothingUp) {
    COleObjectFactory factory("{0}", kCountedClass, true, "Test.Fake");
    Start(factory);
    s_refuse = true;
    const QDBusMessage refused = Call(m_client, FactoryCall(QStringLiteral("CreateInstance")));
    EXPECT_EQ(refused.errorName(), QStringLiteral("Test.Fake.Error.NotNow"));
    EXPECT_EQ(refused.errorMessage(), QStringLiteral("not now"));
    EXPECT_TRUE(NameHasOwner(m_client, QStringLiteral("Test.Fake")));

    s_refuse = false;
    EXPECT_EQ(Call(m_client, FactoryCall(QStringLiteral("CreateInstance"))).type(),
              QDBusMessage::ReplyMessage);

    QDBusMessage withArgs = FactoryCall(QStringLiteral("CreateInstance"), refused.service());
    withArgs << 1;
    EXPECT_EQ(Call(m_client, withArgs).errorName(),
              QStringLiteral("org.freedesktop.DBus.Error.InvalidArgs"));
}

TEST_F(FactoryOnBus, HoldKeepsTheCallOpenUntilTheCallerLeaves) {
    COleObjectFactory factory("{0}", kCountedClass, true, "Test.Fake");
    Start(factory);
    QDBusPendingCall hold = m_client.asyncCall(FactoryCall(QStringLiteral("Hold")), 60000);
    ASSERT_TRUE(WaitLive(1));
    WaitUntil([] { return false; }, std::chrono::milliseconds(300));
    EXPECT_FALSE(hold.isFinished());
    EXPECT_FALSE(NameHasOwner(m_client, QStringLiteral("Test.Fake")));

    DropClient();
    EXPECT_TRUE(WaitLive(0));
}

TEST_F(FactoryOnBus, RevokeDestroysLiveObjectsAndAnswersHolds) {
    COleObjectFactory factory("{0}", kCountedClass, false, "Test.Fake");
    Start(factory);
    QDBusPendingCall hold = m_client.asyncCall(FactoryCall(QStringLiteral("Hold")), 60000);
    ASSERT_TRUE(WaitLive(1));
    factory.Revoke();
    EXPECT_EQ(Counted::s_live, 0);
    EXPECT_TRUE(WaitUntil([&] { return hold.isFinished(); }));
    EXPECT_FALSE(hold.isError());
    EXPECT_TRUE(WaitUntil([&] { return !NameHasOwner(m_client, QStringLiteral("Test.Fake")); }));
}

// ---------------------------------------------------------------------------

TEST(ServerSwitch, OnlyTheExactWordAfterDashOrSlashCounts) {
    struct Case {
        QStringList args;
        bool embedded;
        QStringList rest;
    };
    const Case cases[] = {
        {{"-Embedding"}, true, {}},
        {{"/Embedding", "x.csv"}, true, {"x.csv"}},
        {{"a", "-Embedding", "b"}, true, {"a", "b"}},
        {{"embedding"}, false, {"embedding"}},
        {{"Embedding"}, false, {"Embedding"}},
        {{"-embedding"}, false, {"-embedding"}},
        {{"--Embedding"}, false, {"--Embedding"}},
        {{"-Embedding=1"}, false, {"-Embedding=1"}},
        {{"-Automation"}, false, {"-Automation"}},
    };
    for (const Case& c : cases) {
        QStringList args = c.args;
        EXPECT_EQ(TakeSwitch(args, QStringLiteral("Embedding")), c.embedded)
            << c.args.join(' ').toStdString();
        EXPECT_EQ(args, c.rest) << c.args.join(' ').toStdString();
    }
}

TEST(ActivationFile, NamesTheBusNameAndStartsThisProgramInServerMode) {
    EXPECT_EQ(ActivationFileText("A.B", "{1}", "/opt/x/Vavaroz"),
              QStringLiteral("# Starts Didira for clients of its automation object.\n"
                             "# Rewritten by every normal start of Didira.\n"
                             "[D-BUS Service]\n"
                             "Name=A.B\n"
                             "Exec=/opt/x/Vavaroz -Embedding\n"
                             "X-Vavaroz-ClassId={1}\n"));
    // The bus splits Exec like a shell.
    EXPECT_TRUE(ActivationFileText("A.B", "{1}", "/opt/my apps/Vavaroz")
                    .contains(QStringLiteral("Exec='/opt/my apps/Vavaroz' -Embedding\n")));
    EXPECT_TRUE(ActivationFileText("A.B", "{1}", "/opt/x/Vavaroz\nName=Evil").isEmpty());
    EXPECT_TRUE(ActivationFileText("A.B", "{1}", "/opt/it's/Vavaroz").isEmpty());
    EXPECT_TRUE(ActivationFileText("A.B", "{1}", "Vavaroz").isEmpty());
}

TEST(ActivationFile, IsCreatedRewrittenAndAFailedWriteIsOnlyAFalseResult) {
    COleObjectFactory factory("{C}", kCountedClass, true, "Test.Fake");
    const QString dir = test::TempDir() + QStringLiteral("/a/dbus-1/services");
    ASSERT_TRUE(factory.UpdateRegistry(dir, QStringLiteral("/bin/one")));
    QFile file(dir + QStringLiteral("/Test.Fake.service"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_TRUE(file.readAll().contains("Exec=/bin/one -Embedding\n"));
    file.close();

    ASSERT_TRUE(factory.UpdateRegistry(dir, QStringLiteral("/bin/two")));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray text = file.readAll();
    EXPECT_TRUE(text.contains("Exec=/bin/two -Embedding\n"));
    EXPECT_FALSE(text.contains("/bin/one"));
    file.close();

    // A plain file where the directory should be.
    const QString blocked = test::TempDir() + QStringLiteral("/blocked");
    QFile block(blocked);
    ASSERT_TRUE(block.open(QIODevice::WriteOnly));
    block.close();
    EXPECT_FALSE(
        factory.UpdateRegistry(blocked + QStringLiteral("/services"), QStringLiteral("/bin/one")));
}

TEST(ActivationFile, UserServicesDirFollowsXdgDataHome) {
    const QByteArray saved = qgetenv("XDG_DATA_HOME");
    qputenv("XDG_DATA_HOME", "/data/home");
    EXPECT_EQ(UserServicesDir(), QStringLiteral("/data/home/dbus-1/services"));
    qputenv("XDG_DATA_HOME", "relative/dir");
    EXPECT_EQ(UserServicesDir(),
              QDir::homePath() + QStringLiteral("/.local/share/dbus-1/services"));
    qunsetenv("XDG_DATA_HOME");
    EXPECT_EQ(UserServicesDir(),
              QDir::homePath() + QStringLiteral("/.local/share/dbus-1/services"));
    if (!saved.isNull())
        qputenv("XDG_DATA_HOME", saved);
}

} // namespace
} // namespace didira
