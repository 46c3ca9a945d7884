#pragma once
// One logind inhibitor lock (org.freedesktop.login1.Manager.Inhibit): held as
// the file descriptor logind hands out, released by closing it. Taking is
// asynchronous; a release asked for before logind has answered closes the
// descriptor as soon as it arrives. Without logind nothing is held.

#include <QDBusConnection>
#include <QDBusUnixFileDescriptor>
#include <QObject>
#include <QString>

namespace didira {

class CInhibitorLock final : public QObject {
    Q_OBJECT
public:
    // what: "sleep", "idle", ...; mode: "delay" or "block".
    CInhibitorLock(const QDBusConnection& systemBus, QString what, QString mode, QString why,
                   QObject* parent = nullptr);
    Q_DISABLE_COPY_MOVE(CInhibitorLock)

    // Asks for the lock unless it is held or asked for.
    void Take();
    // Lets the lock go (or forgets the pending request).
    void Release();
    // Whether logind has handed out the lock and it is still held.
    bool IsHeld() const { return m_fd.isValid(); }

private:
    QDBusConnection m_bus;
    QString m_what;
    QString m_mode;
    QString m_why;
    QDBusUnixFileDescriptor m_fd;
    bool m_wanted = false;
    bool m_asking = false;
};

} // namespace didira
