#include "support/HttpTestServer.h"

#include <QTcpSocket>

namespace didira::test {

HttpTestServer::HttpTestServer(QObject* parent) : QObject(parent) {
    connect(&m_server, &QTcpServer::newConnection, this, &HttpTestServer::OnConnection);
    m_server.listen(QHostAddress::LocalHost, 0);
}

HttpTestServer::~HttpTestServer() {
    for (const auto& socket : m_silent)
        if (socket)
            socket->abort();
}

QString HttpTestServer::Url(const QString& path) const {
    return QStringLiteral("http://127.0.0.1:%1%2").arg(port()).arg(path);
}

void HttpTestServer::OnConnection() {
    while (QTcpSocket* socket = m_server.nextPendingConnection()) {
        socket->setParent(this);
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { OnReadable(socket); });
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    }
}

void HttpTestServer::OnReadable(QTcpSocket* socket) {
    if (!socket->property("request").isNull())
        return; // already answered (or silent)
    QByteArray request = socket->property("buffer").toByteArray() + socket->readAll();
    socket->setProperty("buffer", request);
    if (!request.contains("\r\n\r\n"))
        return;
    socket->setProperty("request", request);
    const QList<QByteArray> firstLine = request.left(request.indexOf("\r\n")).split(' ');
    const QString path = firstLine.size() >= 2 ? QString::fromLatin1(firstLine[1]) : QString();
    m_hits[path] += 1;

    const auto it = m_routes.constFind(path);
    Route route;
    if (it == m_routes.constEnd()) {
        route.status = 404;
        route.contentType = "text/html";
        route.body = "<html><body>Not Found</body></html>";
    } else {
        route = *it;
    }
    if (route.neverAnswer) {
        m_silent.emplace_back(socket);
        return;
    }
    QByteArray answer = "HTTP/1.0 " + QByteArray::number(route.status) + " Test\r\n";
    if (!route.contentType.isEmpty())
        answer += "Content-Type: " + route.contentType + "\r\n";
    if (!route.location.isEmpty())
        answer += "Location: " + route.location + "\r\n";
    answer += "Content-Length: " + QByteArray::number(route.body.size()) + "\r\n";
    answer += "Connection: close\r\n\r\n";
    socket->write(answer + route.body);
    socket->disconnectFromHost();
}

quint16 FreePort() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

} // namespace didira::test
