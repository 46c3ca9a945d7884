#include "PrivateBus.h"

#include "support/TestSupport.h"

#include <QDBusPendingCall>
#include <QDBusVariant>
#include <QDir>
#include <QFile>
#include <csignal>

namespace didira::test {

PrivateBus::PrivateBus() : m_dir(TempDir()) {
    QDir().mkpath(ServicesDir());
    QDir().mkpath(WorkDir());
    QDir().mkpath(m_dir + QStringLiteral("/home"));
    QDir().mkpath(m_dir + QStringLiteral("/run"));
    QFile::setPermissions(m_dir + QStringLiteral("/run"),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QFile csv(WorkDir() + QStringLiteral("/radioname.csv"));
    if (csv.open(QIODevice::WriteOnly))
        csv.write("1,Test,http://127.0.0.1:9/x.mp3\r\n");
    csv.close();

    const QString socket = m_dir + QStringLiteral("/bus");
    QFile conf(m_dir + QStringLiteral("/bus.conf"));
    if (conf.open(QIODevice::WriteOnly)) {
        conf.write(QStringLiteral("<busconfig><type>session</type><listen>unix:path=%1</listen>"
                                  "<servicedir>%2</servicedir>"
                                  "<limit name=\"service_start_timeout\">15000</limit>"
                                  "<policy context=\"default\"><allow send_destination=\"*\" "
                                  "eavesdrop=\"true\"/><allow eavesdrop=\"true\"/>"
                                  "<allow own=\"*\"/></policy></busconfig>\n")
                       .arg(socket, ServicesDir())
                       .toUtf8());
    }
    conf.close();

    m_env = QProcessEnvironment::systemEnvironment();
    m_env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QStringLiteral("unix:path=") + socket);
    m_env.insert(QStringLiteral("XDG_DATA_HOME"), DataHome());
    m_env.insert(QStringLiteral("HOME"), m_dir + QStringLiteral("/home"));
    m_env.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_dir + QStringLiteral("/run"));
    m_env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    m_env.insert(QStringLiteral("DIDIRA_AUDIO_SINK"), QStringLiteral("fakesink"));
    m_env.remove(QStringLiteral("DISPLAY"));
    m_env.remove(QStringLiteral("WAYLAND_DISPLAY"));

    m_daemon.setProcessEnvironment(m_env);
    m_daemon.setWorkingDirectory(WorkDir());
    m_daemon.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_daemon.start(Program(QStringLiteral("dbus-daemon")),
                   {QStringLiteral("--print-address"), QStringLiteral("--nofork"),
                    QStringLiteral("--config-file=") + conf.fileName()});
    if (!m_daemon.waitForStarted(5000))
        return;
    WaitUntil([&] { return m_daemon.canReadLine() || m_daemon.state() != QProcess::Running; });
    m_address = QString::fromUtf8(m_daemon.readLine()).trimmed();
}

PrivateBus::~PrivateBus() {
    for (const QString& name : std::as_const(m_connections))
        QDBusConnection::disconnectFromBus(name);
    // Programs the bus started would outlive it, headless and unseen.
    for (qint64 pid : m_pids)
        ::kill(static_cast<pid_t>(pid), SIGKILL);
    m_daemon.terminate();
    if (!m_daemon.waitForFinished(5000))
        m_daemon.kill();
    m_daemon.waitForFinished(5000);
}

QDBusConnection PrivateBus::Connect(const QString& name) {
    m_connections << name;
    return QDBusConnection::connectToBus(m_address, name);
}

QDBusMessage Call(const QDBusConnection& bus, const QDBusMessage& call,
                  std::chrono::milliseconds timeout) {
    QDBusPendingCall pending = bus.asyncCall(call, static_cast<int>(timeout.count()));
    WaitUntil([&] { return pending.isFinished(); }, timeout + std::chrono::seconds(1));
    if (!pending.isFinished())
        return QDBusMessage::createError(QStringLiteral("test.Timeout"),
                                         QStringLiteral("no reply"));
    return pending.reply();
}

QDBusMessage Call(const QDBusConnection& bus, const QString& service, const QString& path,
                  const QString& iface, const QString& member, const QVariantList& args,
                  std::chrono::milliseconds timeout) {
    QDBusMessage m = QDBusMessage::createMethodCall(service, path, iface, member);
    m.setArguments(args);
    return Call(bus, m, timeout);
}

QVariant Property(const QDBusConnection& bus, const QString& service, const QString& path,
                  const QString& iface, const QString& name) {
    const QDBusMessage reply =
        Call(bus, service, path, QStringLiteral("org.freedesktop.DBus.Properties"),
             QStringLiteral("Get"), {iface, name});
    return reply.arguments().value(0).value<QDBusVariant>().variant();
}

Mock::Mock(const QProcessEnvironment& env, const QStringList& args) {
    m_process.setProcessEnvironment(env);
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process.start(Program(QStringLiteral("/usr/bin/python3")),
                    QStringList{QStringLiteral("-m"), QStringLiteral("dbusmock")} + args);
}

void Mock::Stop() {
    m_process.terminate();
    if (!m_process.waitForFinished(5000))
        m_process.kill();
    m_process.waitForFinished(5000);
}

QDBusMessage BusCall(const QString& method, const QVariantList& args) {
    QDBusMessage m = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.DBus"),
                                                    QStringLiteral("/org/freedesktop/DBus"),
                                                    QStringLiteral("org.freedesktop.DBus"), method);
    m.setArguments(args);
    return m;
}

bool NameHasOwner(const QDBusConnection& bus, const QString& name) {
    const QDBusMessage reply = Call(bus, BusCall(QStringLiteral("NameHasOwner"), {name}));
    return reply.type() == QDBusMessage::ReplyMessage && reply.arguments().value(0).toBool();
}

} // namespace didira::test
