#include "app/InhibitorLock.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>

namespace didira {

CInhibitorLock::CInhibitorLock(const QDBusConnection& systemBus, QString what, QString mode,
                               QString why, QObject* parent)
    : QObject(parent), m_bus(systemBus), m_what(std::move(what)), m_mode(std::move(mode)),
      m_why(std::move(why)) {}

void CInhibitorLock::Take() {
    m_wanted = true;
    if (m_asking || IsHeld() || !m_bus.isConnected())
        return;
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.login1"), QStringLiteral("/org/freedesktop/login1"),
        QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("Inhibit"));
    call.setArguments({m_what, QStringLiteral("Didira"), m_why, m_mode});
    m_asking = true;
    auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* w) {
        w->deleteLater();
        m_asking = false;
        const QDBusPendingReply<QDBusUnixFileDescriptor> reply = *w;
        if (reply.isError())
            return; // no logind, or it refused: playback goes on without the lock
        if (m_wanted)
            m_fd = reply.value();
        // else the descriptor in the reply is closed with it: released at once
    });
}

void CInhibitorLock::Release() {
    m_wanted = false;
    m_fd = QDBusUnixFileDescriptor();
}

} // namespace didira
