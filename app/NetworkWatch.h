#pragma once
// The system's connectivity as NetworkManager reports it on the system bus
// (its State property and StateChanged signal). Without NetworkManager (no
// system bus, or the service is not running) the network counts as up, so
// nothing ever waits for it.

#include <QDBusConnection>
#include <QObject>

class QDBusMessage;

namespace didira {

class CNetworkWatch final : public QObject {
    Q_OBJECT
public:
    // NetworkManager's global states (NMState).
    enum class Level : uint {
        Unknown = 0,
        Asleep = 10,
        Disconnected = 20,
        Disconnecting = 30,
        Connecting = 40,
        ConnectedLocal = 50, // a local network, no default route
        ConnectedSite = 60,  // a default route, the internet not confirmed
        ConnectedGlobal = 70,
    };

    explicit CNetworkWatch(const QDBusConnection& systemBus, QObject* parent = nullptr);
    Q_DISABLE_COPY_MOVE(CNetworkWatch)

    // Whether the system has a network connection; true while NetworkManager's
    // state is unknown.
    bool IsOnline() const { return m_online; }

signals:
    // The network came up, or got better (a local link that gained a route):
    // a stream waiting for it may try again now.
    void connected();
    // The network went down.
    void disconnected();

private slots:
    void OnStateSignal(const QDBusMessage& message);

private:
    void AskState();
    void OnState(uint state);

    QDBusConnection m_bus;
    uint m_state = 0;
    bool m_online = true;
    quint64 m_query = 0; // replies to older questions are dropped
};

} // namespace didira
