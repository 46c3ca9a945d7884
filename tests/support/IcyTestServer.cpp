#include "support/IcyTestServer.h"

#include <QTcpSocket>
#include <algorithm>

namespace didira::test {

IcyTestServer::IcyTestServer(QByteArray mp3, int bytesPerSecond, QObject* parent)
    : QObject(parent), m_mp3(std::move(mp3)), m_bytesPerSecond(bytesPerSecond) {
    connect(&m_server, &QTcpServer::newConnection, this, &IcyTestServer::OnConnection);
    m_server.listen(QHostAddress::LocalHost, 0);
    connect(&m_timer, &QTimer::timeout, this, &IcyTestServer::Pump);
    m_timer.start(20);
}

IcyTestServer::~IcyTestServer() {
    for (Listener& l : m_listeners)
        if (l.socket)
            l.socket->abort();
}

QString IcyTestServer::Url() const {
    return QStringLiteral("http://127.0.0.1:%1/live").arg(m_server.serverPort());
}

void IcyTestServer::SetTitle(const QByteArray& raw) {
    m_title = raw;
    m_blocksWithTitle = 0;
}

void IcyTestServer::OnConnection() {
    while (QTcpSocket* socket = m_server.nextPendingConnection()) {
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        Listener listener;
        listener.socket = socket;
        m_listeners.push_back(std::move(listener));
    }
}

void IcyTestServer::Pump() {
    std::erase_if(m_listeners, [](const Listener& l) { return !l.socket; });
    for (Listener& l : m_listeners) {
        if (!l.answered) {
            l.request += l.socket->readAll();
            if (!l.request.contains("\r\n\r\n"))
                continue;
            const QByteArray name =
                m_name.isEmpty() ? QByteArray() : "icy-name: " + m_name + "\r\n";
            l.socket->write("HTTP/1.0 200 OK\r\nContent-Type: audio/mpeg\r\nicy-metaint: " +
                            QByteArray::number(kMetaInt) + "\r\n" + name + "\r\n");
            l.answered = true;
            l.clock.start();
        }
        if (l.socket->bytesToWrite() > 4 * kMetaInt)
            continue; // the listener does not keep up; nothing piles up here
        const qint64 due = m_bytesPerSecond + l.clock.elapsed() * m_bytesPerSecond / 1000;
        if (due > l.sent)
            Send(l, due - l.sent);
    }
}

void IcyTestServer::Send(Listener& l, qint64 bytes) {
    while (bytes > 0) {
        const qsizetype n = std::min<qsizetype>({bytes, l.untilMeta, m_mp3.size() - l.position});
        l.socket->write(m_mp3.constData() + l.position, n);
        l.sent += n;
        bytes -= n;
        l.position = (l.position + n) % m_mp3.size();
        l.untilMeta -= n;
        if (l.untilMeta == 0) {
            QByteArray block = "StreamTitle='" + m_title + "';";
            const qsizetype units = std::min<qsizetype>((block.size() + 15) / 16, 255);
            block.resize(units * 16, '\0');
            l.socket->write(QByteArray(1, char(units)) + block);
            ++m_blocksWithTitle;
            l.untilMeta = kMetaInt;
        }
    }
}

} // namespace didira::test
