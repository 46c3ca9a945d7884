#pragma once
// A sound server of the test's own: a private pulseaudio with two null sinks
// ("speakers", the default, and "headphones") on a socket in a temporary
// folder. Constructing it points this process's PULSE_SERVER (and what it
// starts) at that socket, with autospawn off. It can be ended as a crash
// would, started again, and frozen as a hung server is.

#include <QProcess>
#include <QString>
#include <QTemporaryDir>

namespace didira::test {

class PrivateSoundServer {
public:
    PrivateSoundServer();
    ~PrivateSoundServer() { End(); }
    Q_DISABLE_COPY_MOVE(PrivateSoundServer)

    // Whether pulseaudio is installed (scripts/setup.sh installs it).
    static bool Available();
    bool Start();
    // What pactl prints for args; empty when it fails.
    static QString Pactl(const QStringList& args);
    // The sink each client stream plays into, one per stream, comma-separated.
    static QString StreamSinks();
    static QString SinkIndex(const QString& name);
    // Frozen (true) as a hung server is, or thawed.
    void Freeze(bool frozen);
    // As a crash would: no goodbye to its clients.
    void End();

private:
    QString Path(const char* name) const;
    bool Write(const char* name, const QByteArray& text);

    QTemporaryDir m_dir;
    QProcess m_process;
};

} // namespace didira::test
