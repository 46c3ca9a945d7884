#pragma once
// A private dbus-daemon for tests: its own socket and service directory under
// a temporary directory, never the user's session bus or files.

#include <QDBusConnection>
#include <QDBusMessage>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <chrono>

namespace didira::test {

class PrivateBus {
public:
    // Starts the daemon. Its working directory (dir()/wd) holds a one-line
    // station catalogue, and its environment (passed to the programs it
    // starts) points XDG_DATA_HOME and HOME into dir() and makes Didira
    // headless and silent.
    PrivateBus();
    ~PrivateBus();
    Q_DISABLE_COPY_MOVE(PrivateBus)

    bool IsRunning() const { return m_daemon.state() == QProcess::Running && !m_address.isEmpty(); }
    QString Address() const { return m_address; }
    QString Dir() const { return m_dir; }
    QString WorkDir() const { return m_dir + QStringLiteral("/wd"); }
    QString DataHome() const { return m_dir + QStringLiteral("/xdg"); }
    QString ServicesDir() const { return DataHome() + QStringLiteral("/dbus-1/services"); }
    QProcessEnvironment Environment() const { return m_env; }

    // A new connection to the bus under a fresh name, closed with the bus.
    QDBusConnection Connect(const QString& name);

    // A process the bus started for a test; killed at the end if still alive.
    void TrackPid(qint64 pid) { m_pids.push_back(pid); }

private:
    QString m_dir;
    QString m_address;
    QProcessEnvironment m_env;
    QProcess m_daemon;
    QStringList m_connections;
    std::vector<qint64> m_pids;
};

// A private bus with a server's and a client's connection, for fixtures.
struct BusPair {
    PrivateBus bus;
    QDBusConnection server = bus.Connect(QStringLiteral("server"));
    QDBusConnection client = bus.Connect(QStringLiteral("client"));
};

// Sends a call without blocking the event loop (a server in this process
// must be able to answer) and returns the reply or an error.
QDBusMessage Call(const QDBusConnection& bus, const QDBusMessage& call,
                  std::chrono::milliseconds timeout = std::chrono::seconds(20));
QDBusMessage Call(const QDBusConnection& bus, const QString& service, const QString& path,
                  const QString& iface, const QString& member, const QVariantList& args = {},
                  std::chrono::milliseconds timeout = std::chrono::seconds(20));
// A property read through org.freedesktop.DBus.Properties; invalid on error.
QVariant Property(const QDBusConnection& bus, const QString& service, const QString& path,
                  const QString& iface, const QString& name);

// python3-dbusmock serving on a bus (its arguments after "-m dbusmock"),
// until destroyed or stopped.
class Mock {
public:
    Mock(const QProcessEnvironment& env, const QStringList& args);
    ~Mock() { Stop(); }
    Q_DISABLE_COPY_MOVE(Mock)
    void Stop();

private:
    QProcess m_process;
};

// Calls on the bus daemon itself.
QDBusMessage BusCall(const QString& method, const QVariantList& args = {});
bool NameHasOwner(const QDBusConnection& bus, const QString& name);

} // namespace didira::test
