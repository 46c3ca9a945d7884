#include "support/HttpTestServer.h"

#include "player/engine/TlsAnchors.h"
#include "support/TestSupport.h"

#include <QFile>
#include <QProcess>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslKey>
#include <QSslServer>
#include <QTcpSocket>
#include <QTimer>
#include <cctype>

namespace didira::test {

namespace {

QByteArray ReadAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

HttpTestServer::HttpTestServer(QObject* parent, const QString& certFile, const QString& keyFile)
    : QObject(parent), m_scheme(QStringLiteral("http")) {
    if (certFile.isEmpty()) {
        m_server = std::make_unique<QTcpServer>();
        connect(m_server.get(), &QTcpServer::newConnection, this, &HttpTestServer::OnConnection);
    } else {
        auto tls = std::make_unique<QSslServer>();
        QSslConfiguration config = QSslConfiguration::defaultConfiguration();
        config.setLocalCertificate(QSslCertificate(ReadAll(certFile)));
        config.setPrivateKey(QSslKey(ReadAll(keyFile), QSsl::Ec));
        if (config.privateKey().isNull())
            config.setPrivateKey(QSslKey(ReadAll(keyFile), QSsl::Rsa));
        config.setPeerVerifyMode(QSslSocket::VerifyNone);
        tls->setSslConfiguration(config);
        // Clients that refuse the certificate leave half-open handshakes behind.
        tls->setHandshakeTimeout(3000);
        connect(tls.get(), &QTcpServer::pendingConnectionAvailable, this,
                &HttpTestServer::OnConnection);
        m_server = std::move(tls);
        m_scheme = QStringLiteral("https");
    }
    m_server->listen(QHostAddress::LocalHost, 0);
}

HttpTestServer::~HttpTestServer() {
    for (const auto& socket : m_silent)
        if (socket)
            socket->abort();
}

QString HttpTestServer::Url(const QString& path) const {
    return QStringLiteral("%1://127.0.0.1:%2%3").arg(m_scheme).arg(port()).arg(path);
}

void HttpTestServer::OnConnection() {
    while (QTcpSocket* socket = m_server->nextPendingConnection()) {
        socket->setParent(this);
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { OnReadable(socket); });
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        if (socket->bytesAvailable() > 0)
            OnReadable(socket);
    }
}

void HttpTestServer::OnReadable(QTcpSocket* socket) {
    if (!socket->property("request").isNull())
        return; // already answered (or silent)
    QByteArray request = socket->property("buffer").toByteArray() + socket->readAll();
    socket->setProperty("buffer", request);
    // Not HTTP at all (a TLS handshake, for one): answered as servers do.
    if (!request.isEmpty() && !std::isalpha(static_cast<unsigned char>(request[0]))) {
        socket->setProperty("request", request);
        socket->write("HTTP/1.0 400 Bad Request\r\nConnection: close\r\n\r\n");
        socket->disconnectFromHost();
        return;
    }
    if (!request.contains("\r\n\r\n"))
        return;
    socket->setProperty("request", request);
    const QList<QByteArray> firstLine = request.left(request.indexOf("\r\n")).split(' ');
    // Routes and counts go by the path; the query is not looked at.
    const QString target = firstLine.size() >= 2 ? QString::fromLatin1(firstLine[1]) : QString();
    const QString path = target.section(u'?', 0, 0);
    m_hits[path] += 1;
    m_lastRequest[path] = request;

    Route route;
    if (const auto handler = m_handlers.constFind(path); handler != m_handlers.constEnd()) {
        route = (*handler)();
    } else if (const auto it = m_routes.constFind(path); it != m_routes.constEnd()) {
        route = *it;
    } else {
        route.status = 404;
        route.contentType = "text/html";
        route.body = "<html><body>Not Found</body></html>";
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
    if (route.stallAfterBytes >= 0 && route.stallAfterBytes < route.body.size()) {
        socket->write(answer + route.body.left(route.stallAfterBytes));
        QTimer::singleShot(route.stallMs, socket,
                           [socket, rest = route.body.mid(route.stallAfterBytes)] {
                               socket->write(rest);
                               socket->disconnectFromHost();
                           });
        return;
    }
    socket->write(answer + route.body);
    socket->disconnectFromHost();
}

QString TestCertificates() {
    static const QString dir = [] {
        const QString out = TempDir();
        const int rc = QProcess::execute(
            Program(QStringLiteral("bash")),
            {QStringLiteral(DIDIRA_SOURCE_DIR "/tests/support/test-certs.sh"), out});
        if (rc != 0)
            return QString();
        qputenv(tls::kAnchorsVariable, (out + QStringLiteral("/ca.pem")).toLocal8Bit());
        return out;
    }();
    return dir;
}

std::unique_ptr<HttpTestServer> MakeHttpsServer(const QString& certificate) {
    const QString dir = TestCertificates();
    return std::make_unique<HttpTestServer>(nullptr,
                                            dir + u'/' + certificate + QStringLiteral(".pem"),
                                            dir + u'/' + certificate + QStringLiteral(".key"));
}

quint16 FreePort() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

} // namespace didira::test
