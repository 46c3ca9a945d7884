#pragma once
// A small HTTP/1.0 server on 127.0.0.1 for player tests: fixed or computed
// answers per path, redirects, wrong content, a path that accepts and never
// answers, bodies that stall part-way; optionally over TLS with a given
// certificate.

#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTcpServer>
#include <functional>
#include <memory>
#include <vector>

class QTcpSocket;

namespace didira::test {

class HttpTestServer final : public QObject {
    Q_OBJECT
public:
    struct Route {
        int status = 200;
        QByteArray contentType;
        QByteArray body;
        QByteArray location;      // for 3xx
        bool neverAnswer = false; // read the request, then stay silent
        int stallAfterBytes = -1; // send this much of the body, then wait stallMs
        int stallMs = 0;
    };
    // Computes the answer when the request comes (live playlists, failures).
    using Handler = std::function<Route()>;

    // Plain HTTP, or TLS with the PEM certificate and key files when given.
    explicit HttpTestServer(QObject* parent = nullptr, const QString& certFile = {},
                            const QString& keyFile = {});
    ~HttpTestServer() override;

    quint16 port() const { return m_server->serverPort(); }
    QString Url(const QString& path) const;

    void Add(const QString& path, Route route) { m_routes.insert(path, std::move(route)); }
    void Handle(const QString& path, Handler handler) { m_handlers.insert(path, handler); }
    void Serve(const QString& path, const QByteArray& type, const QByteArray& body) {
        Add(path, {200, type, body, {}, false});
    }
    void Redirect(const QString& path, const QByteArray& location, int status = 302) {
        Add(path, {status, {}, {}, location, false});
    }
    void Hang(const QString& path) { Add(path, {200, {}, {}, {}, true}); }
    int Requests(const QString& path) const { return m_hits.value(path); }
    // The last request for path as received (request line and headers).
    QByteArray LastRequest(const QString& path) const { return m_lastRequest.value(path); }

private:
    void OnConnection();
    void OnReadable(QTcpSocket* socket);

    std::unique_ptr<QTcpServer> m_server;
    QString m_scheme;
    QHash<QString, Route> m_routes;
    QHash<QString, Handler> m_handlers;
    QHash<QString, int> m_hits;
    QHash<QString, QByteArray> m_lastRequest;
    std::vector<QPointer<QTcpSocket>> m_silent; // kept open until the server goes
};

// The test authority and certificates (tests/support/test-certs.sh), made once
// per process in a temporary directory; the player is made to trust that
// authority only, through its anchors variable. Empty when openssl failed.
QString TestCertificates();
// An https server with one of those certificates: "good" or "untrusted"
// (self-signed).
std::unique_ptr<HttpTestServer> MakeHttpsServer(const QString& certificate);

// An unused port on 127.0.0.1 (nothing listens there once this returns).
quint16 FreePort();

} // namespace didira::test
