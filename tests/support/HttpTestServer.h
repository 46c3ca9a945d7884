#pragma once
// A small HTTP/1.0 server on 127.0.0.1 for player tests: fixed answers per
// path, redirects, wrong content, and a path that accepts and never answers.

#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTcpServer>
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
    };

    explicit HttpTestServer(QObject* parent = nullptr);
    ~HttpTestServer() override;

    quint16 port() const { return m_server.serverPort(); }
    QString Url(const QString& path) const;

    void Add(const QString& path, Route route) { m_routes.insert(path, std::move(route)); }
    void Serve(const QString& path, const QByteArray& type, const QByteArray& body) {
        Add(path, {200, type, body, {}, false});
    }
    void Redirect(const QString& path, const QByteArray& location) {
        Add(path, {302, {}, {}, location, false});
    }
    void Hang(const QString& path) { Add(path, {200, {}, {}, {}, true}); }
    int Requests(const QString& path) const { return m_hits.value(path); }

private:
    void OnConnection();
    void OnReadable(QTcpSocket* socket);

    QTcpServer m_server;
    QHash<QString, Route> m_routes;
    QHash<QString, int> m_hits;
    std::vector<QPointer<QTcpSocket>> m_silent; // kept open until the server goes
};

// An unused port on 127.0.0.1 (nothing listens there once this returns).
quint16 FreePort();

} // namespace didira::test
