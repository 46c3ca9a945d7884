#pragma once
// A one-off connection to a stream's server, made after the engine failed
// without an answer, to learn why: refused, unreachable, no answer in time,
// or (for https) no TLS or which certificate problem, trusting the same
// authorities as the player. Asynchronous and bounded; the engine gives none
// of this as data.

#include "player/session/StreamErrors.h"

#include <QObject>
#include <QSslError>
#include <QTimer>
#include <QUrl>
#include <memory>

class QAbstractSocket;

namespace didira {

class ConnectionCheck final : public QObject {
    Q_OBJECT
public:
    explicit ConnectionCheck(QObject* parent = nullptr);
    ~ConnectionCheck() override;
    Q_DISABLE_COPY_MOVE(ConnectionCheck)

    // Starts checking url's server; emits Finished once, within timeoutMs,
    // unless Abort comes first. A running check is aborted.
    void Start(const QUrl& url, int timeoutMs);
    void Abort();
    bool IsRunning() const { return m_socket != nullptr; }

    // The certificate problem a list of verification errors shows: the
    // failure of trust first, then expiry, then the name; Connected if none.
    static ConnectCheck FromCertificateErrors(const QList<QSslError>& errors);

signals:
    void Finished(didira::ConnectCheck result);

private:
    void Finish(ConnectCheck result);

    std::unique_ptr<QAbstractSocket> m_socket;
    QTimer m_timer;
    bool m_connected = false; // TCP is up; for TLS, the handshake is running
    ConnectCheck m_certificate = ConnectCheck::Connected; // from the verification errors
};

} // namespace didira
