#include "app/NetworkWatch.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QDBusVariant>

namespace didira {

namespace {

const QString kService = QStringLiteral("org.freedesktop.NetworkManager");
const QString kPath = QStringLiteral("/org/freedesktop/NetworkManager");
const QString kInterface = QStringLiteral("org.freedesktop.NetworkManager");

bool IsConnected(uint state) {
    return state >= static_cast<uint>(CNetworkWatch::Level::ConnectedLocal);
}

} // namespace

CNetworkWatch::CNetworkWatch(const QDBusConnection& systemBus, QObject* parent)
    : QObject(parent), m_bus(systemBus) {
    if (!m_bus.isConnected())
        return;
    m_bus.connect(kService, kPath, kInterface, QStringLiteral("StateChanged"), this,
                  SLOT(OnStateSignal(QDBusMessage)));
    auto* watcher =
        new QDBusServiceWatcher(kService, m_bus, QDBusServiceWatcher::WatchForOwnerChange, this);
    connect(watcher, &QDBusServiceWatcher::serviceOwnerChanged, this,
            [this](const QString&, const QString&, const QString& owner) {
                if (owner.isEmpty())
                    OnState(static_cast<uint>(Level::Unknown));
                else
                    AskState();
            });
    AskState();
}

void CNetworkWatch::AskState() {
    QDBusMessage call = QDBusMessage::createMethodCall(
        kService, kPath, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    call.setArguments({kInterface, QStringLiteral("State")});
    const quint64 query = ++m_query;
    auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, query](QDBusPendingCallWatcher* w) {
                w->deleteLater();
                const QDBusPendingReply<QDBusVariant> reply = *w;
                // A signal that came meanwhile is newer than this answer.
                if (query != m_query)
                    return;
                OnState(reply.isError() ? static_cast<uint>(Level::Unknown)
                                        : reply.value().variant().toUInt());
            });
}

void CNetworkWatch::OnStateSignal(const QDBusMessage& message) {
    ++m_query;
    OnState(message.arguments().value(0).toUInt());
}

void CNetworkWatch::OnState(uint state) {
    const uint previous = m_state;
    m_state = state;
    const bool wasOnline = m_online;
    // Unknown is NetworkManager gone or not yet answering: not a reason to wait.
    m_online = state == static_cast<uint>(Level::Unknown) || IsConnected(state);
    if (wasOnline && !m_online)
        emit disconnected();
    else if (m_online && (!wasOnline || (IsConnected(state) && state > previous)))
        emit connected();
}

} // namespace didira
