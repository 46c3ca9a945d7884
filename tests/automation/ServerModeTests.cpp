// The real program on a private bus: the activation file of a normal start,
// the switches of server mode, activation by a client's request, hiding
// while held, and the end of a server-mode process when its client lets go
// or dies. The program is its build with the test hook, through which each
// process owns "Didira.TestHook.p<pid>", tells its window state and
// takes End / Escape / Close / Show.
#include "PrivateBus.h"
#include "app/Automation.h"
#include "app/ObjectFactory.h"
#include "support/TestSupport.h"

#include <QDBusObjectPath>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <gtest/gtest.h>

namespace didira {
namespace {

using namespace std::chrono_literals;
using test::Call;
using test::NameHasOwner;
using test::WaitUntil;

const QString kExe = QFileInfo(QStringLiteral(DIDIRA_VAVAROZ_EXE)).absoluteFilePath();
const QString kProg = QString::fromLatin1(kProgId);

bool ProcessGone(qint64 pid) {
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return true;
    return status.readAll().contains("State:\tZ"); // exited, not yet reaped
}

class ServerMode : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(QFileInfo(kExe).isExecutable()) << kExe.toStdString();
        ASSERT_TRUE(m_bus.IsRunning());
        m_client = m_bus.Connect(QStringLiteral("client"));
    }
    void TearDown() override {
        for (auto& p : m_direct) {
            if (p->state() != QProcess::NotRunning) {
                p->kill();
                p->waitForFinished(5000);
            }
        }
    }

    QString ActivationFile() const {
        return m_bus.ServicesDir() + QStringLiteral("/Vavaroz.Application.service");
    }
    QByteArray ReadActivationFile() const {
        QFile f(ActivationFile());
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    void WriteActivationFile(const QString& text) {
        QFile f(ActivationFile());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(text.toUtf8());
    }

    // Starts the program itself (not through the bus) in the bus's working
    // directory and environment.
    QProcess& Start(const QStringList& args) {
        m_direct.push_back(std::make_unique<QProcess>());
        QProcess& p = *m_direct.back();
        p.setProcessEnvironment(m_bus.Environment());
        p.setWorkingDirectory(m_bus.WorkDir());
        p.setProcessChannelMode(QProcess::ForwardedChannels);
        p.start(kExe, args);
        EXPECT_TRUE(p.waitForStarted(5000));
        return p;
    }

    static QString Hook(qint64 pid) { return QStringLiteral("Didira.TestHook.p%1").arg(pid); }
    QDBusMessage OnHook(qint64 pid, const QString& member, const QVariantList& args = {}) {
        return Call(m_client, Hook(pid), QStringLiteral("/Didira/TestHook"),
                    QStringLiteral("Didira.TestHook"), member, args, 5s);
    }
    QString WindowState(qint64 pid) {
        const QDBusMessage reply = OnHook(pid, QStringLiteral("WindowState"));
        return reply.type() == QDBusMessage::ReplyMessage ? reply.arguments().value(0).toString()
                                                          : reply.errorName();
    }
    bool WaitState(qint64 pid, const QString& state) {
        return WaitUntil([&] { return WindowState(pid) == state; }, 20s);
    }
    void Send(qint64 pid, const QString& command) {
        EXPECT_EQ(OnHook(pid, QStringLiteral("Send"), {command}).type(), QDBusMessage::ReplyMessage)
            << command.toStdString();
    }
    bool WaitGone(qint64 pid) {
        return WaitUntil([&] { return ProcessGone(pid) && !NameHasOwner(m_client, Hook(pid)); },
                         20s);
    }

    QDBusMessage CreateInstance() {
        return Call(m_client, kProg, QStringLiteral("/Vavaroz/Application"),
                    QStringLiteral("Vavaroz.Application.ClassFactory"),
                    QStringLiteral("CreateInstance"), {}, 30s);
    }
    // The pid of a server-mode process other than `other`, by its hook's name.
    qint64 ServerPid(qint64 other = 0) {
        const QRegularExpression hook(QStringLiteral("^Didira\\.TestHook\\.p(\\d+)$"));
        for (const QString& name : Call(m_client, test::BusCall(QStringLiteral("ListNames")), 5s)
                                       .arguments()
                                       .value(0)
                                       .toStringList()) {
            const auto m = hook.match(name);
            if (m.hasMatch() && m.captured(1).toLongLong() != other) {
                m_bus.TrackPid(m.captured(1).toLongLong());
                return m.captured(1).toLongLong();
            }
        }
        return 0;
    }

    test::PrivateBus m_bus;
    QDBusConnection m_client{QString()};
    std::vector<std::unique_ptr<QProcess>> m_direct;
};

TEST_F(ServerMode, NormalStartsRewriteTheActivationFileAndOnlyExactSwitchesServe) {
    struct Case {
        QStringList args;
        bool server;
    };
    const Case cases[] = {
        {{}, false},
        {{"-automation"}, false},
        {{"-Embedding"}, true},
        {{"/Automation"}, true},
    };
    for (const Case& c : cases) {
        const std::string name = c.args.join(' ').toStdString();
        // A stale file from elsewhere, which a normal start replaces.
        WriteActivationFile("[D-BUS Service]\nName=Vavaroz.Application\nExec=/nowhere/Vavaroz\n");
        const QByteArray before = ReadActivationFile();

        QProcess& p = Start(c.args);
        ASSERT_TRUE(WaitState(p.processId(), QStringLiteral("shown"))) << name;
        const QByteArray file = ReadActivationFile();
        if (c.server) {
            EXPECT_EQ(file, before) << name;
            EXPECT_TRUE(WaitUntil([&] { return NameHasOwner(m_client, kProg); }, 10s)) << name;
        } else {
            EXPECT_EQ(file, ActivationFileText(kProg, kClassId, kExe).toUtf8()) << name;
            EXPECT_FALSE(NameHasOwner(m_client, kProg)) << name;
        }
        // With no client holding an object, closing ends the process.
        Send(p.processId(), QStringLiteral("Close"));
        ASSERT_TRUE(p.waitForFinished(20000)) << name;
        EXPECT_EQ(p.exitCode(), 0) << name;
    }
}

TEST_F(ServerMode, EachRequestStartsAServerThatOnlyHidesWhileHeldAndEndsWithItsClient) {
    WriteActivationFile(ActivationFileText(kProg, kClassId, kExe)); // as a normal start does
    const QDBusMessage reply = CreateInstance();
    ASSERT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorMessage().toStdString();
    const qint64 pid = ServerPid();
    ASSERT_GT(pid, 0);
    EXPECT_TRUE(WaitState(pid, QStringLiteral("shown")));
    EXPECT_FALSE(NameHasOwner(m_client, kProg)); // single use

    for (const QString& command :
         {QStringLiteral("End"), QStringLiteral("Escape"), QStringLiteral("Close")}) {
        Send(pid, QStringLiteral("Show"));
        ASSERT_TRUE(WaitState(pid, QStringLiteral("shown"))) << command.toStdString();
        Send(pid, command);
        EXPECT_TRUE(WaitState(pid, QStringLiteral("hidden"))) << command.toStdString();
        EXPECT_FALSE(ProcessGone(pid)) << command.toStdString();
    }

    // A second client, the documentation's shell command, gets a process of
    // its own; its call stays open while it holds the object.
    QProcess gdbus;
    gdbus.setProcessEnvironment(m_bus.Environment());
    gdbus.start(test::Program(QStringLiteral("gdbus")),
                {"call", "--session", "--dest", "Vavaroz.Application", "--object-path",
                 "/Vavaroz/Application", "--method", "Vavaroz.Application.ClassFactory.Hold",
                 "--timeout", "2147483"});
    ASSERT_TRUE(gdbus.waitForStarted(5000));
    qint64 pidOther = 0;
    ASSERT_TRUE(WaitUntil(
        [&] { return (pidOther = ServerPid(pid)) > 0 && !NameHasOwner(m_client, kProg); }, 30s));
    EXPECT_TRUE(WaitState(pidOther, QStringLiteral("shown")));

    // Release ends the first; the second lives on until its client dies
    // without releasing.
    const QString path = qvariant_cast<QDBusObjectPath>(reply.arguments().value(0)).path();
    const QDBusMessage released =
        Call(m_client, reply.service(), path, QStringLiteral("Vavaroz.Application.Reference"),
             QStringLiteral("Release"));
    EXPECT_EQ(released.type(), QDBusMessage::ReplyMessage) << released.errorMessage().toStdString();
    EXPECT_TRUE(WaitGone(pid));
    EXPECT_EQ(WindowState(pidOther), QStringLiteral("shown"));
    EXPECT_EQ(gdbus.state(), QProcess::Running);
    gdbus.kill();
    gdbus.waitForFinished(5000);
    EXPECT_TRUE(WaitGone(pidOther));
}

} // namespace
} // namespace didira
