#include "player/session/ConnectionCheck.h"

#include "player/engine/TlsAnchors.h"

#include <QSslSocket>
#include <QTcpSocket>

namespace didira {

namespace {

ConnectCheck FromSocketError(QAbstractSocket::SocketError error, bool connected) {
    switch (error) {
    case QAbstractSocket::ConnectionRefusedError:
        return ConnectCheck::Refused;
    case QAbstractSocket::HostNotFoundError:
        return ConnectCheck::HostNotFound;
    case QAbstractSocket::SocketTimeoutError:
        return connected ? ConnectCheck::TlsFailed : ConnectCheck::TimedOut;
    case QAbstractSocket::SslHandshakeFailedError:
    case QAbstractSocket::SslInternalError:
    case QAbstractSocket::SslInvalidUserDataError:
        return ConnectCheck::TlsFailed;
    default:
        // Closed or reset during the handshake is a failed handshake too.
        return connected ? ConnectCheck::TlsFailed : ConnectCheck::Unreachable;
    }
}

} // namespace

ConnectionCheck::ConnectionCheck(QObject* parent) : QObject(parent) {
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this,
            [this] { Finish(m_connected ? ConnectCheck::TlsFailed : ConnectCheck::TimedOut); });
}

ConnectionCheck::~ConnectionCheck() {
    Abort();
}

ConnectCheck ConnectionCheck::FromCertificateErrors(const QList<QSslError>& errors) {
    bool expired = false;
    bool wrongHost = false;
    for (const QSslError& e : errors) {
        switch (e.error()) {
        case QSslError::CertificateExpired:
        case QSslError::CertificateNotYetValid:
            expired = true;
            break;
        case QSslError::HostNameMismatch:
            wrongHost = true;
            break;
        case QSslError::NoError:
            break;
        default:
            return ConnectCheck::TlsUntrusted; // self-signed, unknown issuer, revoked, ...
        }
    }
    return expired     ? ConnectCheck::TlsExpired
           : wrongHost ? ConnectCheck::TlsWrongHost
                       : ConnectCheck::Connected;
}

void ConnectionCheck::Start(const QUrl& url, int timeoutMs) {
    Abort();
    const bool tls = url.scheme().compare(u"https", Qt::CaseInsensitive) == 0;
    const auto port = static_cast<quint16>(url.port(tls                       ? 443
                                                    : url.scheme() == u"rtsp" ? 554
                                                                              : 80));
    m_connected = false;
    m_certificate = ConnectCheck::Connected;
    m_timer.start(timeoutMs);
    if (tls && QSslSocket::supportsSsl()) {
        auto socket = std::make_unique<QSslSocket>();
        QSslSocket* s = socket.get();
        QSslConfiguration config = s->sslConfiguration();
        tls::ApplyAnchors(config);
        s->setSslConfiguration(config);
        connect(s, &QSslSocket::connected, this, [this] { m_connected = true; });
        connect(s, &QSslSocket::sslErrors, this, [this](const QList<QSslError>& errors) {
            m_certificate = FromCertificateErrors(errors);
        });
        connect(s, &QSslSocket::encrypted, this, [this] { Finish(ConnectCheck::Connected); });
        connect(s, &QAbstractSocket::errorOccurred, this, [this](QAbstractSocket::SocketError e) {
            if (m_certificate != ConnectCheck::Connected)
                return Finish(m_certificate);
            Finish(FromSocketError(e, m_connected));
        });
        m_socket = std::move(socket);
        s->connectToHostEncrypted(url.host(), port);
        return;
    }
    auto socket = std::make_unique<QTcpSocket>();
    QTcpSocket* s = socket.get();
    connect(s, &QTcpSocket::connected, this, [this] { Finish(ConnectCheck::Connected); });
    connect(s, &QAbstractSocket::errorOccurred, this,
            [this](QAbstractSocket::SocketError e) { Finish(FromSocketError(e, false)); });
    m_socket = std::move(socket);
    s->connectToHost(url.host(), port);
}

void ConnectionCheck::Abort() {
    m_timer.stop();
    if (!m_socket)
        return;
    m_socket->disconnect(this);
    m_socket->abort();
    // Deleted from the event loop: this may run inside one of its signals.
    m_socket.release()->deleteLater();
}

void ConnectionCheck::Finish(ConnectCheck result) {
    if (!m_socket)
        return;
    Abort();
    emit Finished(result);
}

} // namespace didira
