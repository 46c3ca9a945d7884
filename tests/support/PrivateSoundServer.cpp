#include "support/PrivateSoundServer.h"

#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <csignal>

namespace didira::test {

using namespace std::chrono_literals;

PrivateSoundServer::PrivateSoundServer() {
    QDir(m_dir.path()).mkpath(QStringLiteral("run"));
    QFile::setPermissions(Path("run"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    Write("pulse.pa", "load-module module-native-protocol-unix auth-anonymous=1 socket=" +
                          Path("run/native").toUtf8() +
                          "\nload-module module-null-sink sink_name=speakers"
                          "\nload-module module-null-sink sink_name=headphones"
                          "\nset-default-sink speakers\n");
    Write("client.conf", "autospawn = no\n");
    qputenv("PULSE_SERVER", "unix:" + Path("run/native").toUtf8());
    qputenv("PULSE_CLIENTCONFIG", Path("client.conf").toUtf8());
}

bool PrivateSoundServer::Available() {
    return !QStandardPaths::findExecutable(QStringLiteral("pulseaudio")).isEmpty();
}

bool PrivateSoundServer::Start() {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), m_dir.path());
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), Path("run"));
    m_process.setProcessEnvironment(env);
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process.start(Program(QStringLiteral("pulseaudio")),
                    {QStringLiteral("-n"), QStringLiteral("-F"), Path("pulse.pa"),
                     QStringLiteral("--daemonize=no"), QStringLiteral("--exit-idle-time=-1"),
                     QStringLiteral("--use-pid-file=no"), QStringLiteral("--log-target=stderr"),
                     QStringLiteral("--log-level=error")});
    return m_process.waitForStarted(5000) &&
           WaitUntil([&] { return QFile::exists(Path("run/native")); }, 10s);
}

QString PrivateSoundServer::Pactl(const QStringList& args) {
    QProcess pactl;
    pactl.start(Program(QStringLiteral("pactl")), args);
    if (!pactl.waitForFinished(5000) || pactl.exitCode() != 0)
        return {};
    return QString::fromUtf8(pactl.readAllStandardOutput());
}

QString PrivateSoundServer::StreamSinks() {
    QStringList sinks;
    for (const QString& line :
         Pactl({QStringLiteral("list"), QStringLiteral("short"), QStringLiteral("sink-inputs")})
             .split(u'\n', Qt::SkipEmptyParts))
        sinks << line.section(u'\t', 1, 1);
    return sinks.join(u',');
}

QString PrivateSoundServer::SinkIndex(const QString& name) {
    for (const QString& line :
         Pactl({QStringLiteral("list"), QStringLiteral("short"), QStringLiteral("sinks")})
             .split(u'\n', Qt::SkipEmptyParts))
        if (line.section(u'\t', 1, 1) == name)
            return line.section(u'\t', 0, 0);
    return {};
}

void PrivateSoundServer::Freeze(bool frozen) {
    ::kill(static_cast<pid_t>(m_process.processId()), frozen ? SIGSTOP : SIGCONT);
}

void PrivateSoundServer::End() {
    if (m_process.state() == QProcess::NotRunning)
        return;
    Freeze(false); // a frozen process takes no signal but SIGKILL, and never reaps
    m_process.kill();
    m_process.waitForFinished(5000);
    QFile::remove(Path("run/native"));
}

QString PrivateSoundServer::Path(const char* name) const {
    return m_dir.filePath(QString::fromLatin1(name));
}

bool PrivateSoundServer::Write(const char* name, const QByteArray& text) {
    QFile file(Path(name));
    return file.open(QIODevice::WriteOnly) && file.write(text) == text.size();
}

} // namespace didira::test
