#include "support/StreamTestServer.h"

#include <QTcpSocket>
#include <algorithm>

namespace didira::test {

StreamTestServer::Options StreamTestServer::TitledMp3(QByteArray mp3) {
    Options options;
    options.loop = {std::move(mp3)};
    options.bytesPerSecond = 128000 / 8;
    options.burstBytes = options.bytesPerSecond;
    options.metaInterval = 4000;
    options.name.clear();
    return options;
}

StreamTestServer::StreamTestServer(Options options, QObject* parent)
    : QObject(parent), m_options(std::move(options)) {
    connect(&m_server, &QTcpServer::newConnection, this, &StreamTestServer::OnConnection);
    m_server.listen(QHostAddress::LocalHost, 0);
    m_port = m_server.serverPort();
    m_clock.start();
    m_pump.setInterval(50);
    connect(&m_pump, &QTimer::timeout, this, &StreamTestServer::Pump);
    m_pump.start();
}

StreamTestServer::~StreamTestServer() {
    CloseConnections();
}

QString StreamTestServer::Url(const QString& path) const {
    return QStringLiteral("http://127.0.0.1:%1%2").arg(m_port).arg(path);
}

void StreamTestServer::CloseConnections() {
    for (const auto& listener : m_listeners)
        if (listener->socket)
            listener->socket->abort();
    m_listeners.clear();
}

void StreamTestServer::Stop() {
    m_server.close();
    CloseConnections();
}

bool StreamTestServer::Restart() {
    return m_server.isListening() || m_server.listen(QHostAddress::LocalHost, m_port);
}

void StreamTestServer::SetTitle(const QByteArray& raw) {
    m_title = raw;
}

void StreamTestServer::OnConnection() {
    while (QTcpSocket* socket = m_server.nextPendingConnection()) {
        socket->setParent(this);
        ++m_connections;
        auto listener = std::make_unique<Listener>();
        listener->socket = socket;
        listener->startMs = m_clock.elapsed();
        Listener* raw = listener.get();
        m_listeners.push_back(std::move(listener));
        connect(socket, &QTcpSocket::readyRead, this, [this, raw] { OnReadable(*raw); });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
            std::erase_if(m_listeners, [socket](const auto& l) { return l->socket == socket; });
            socket->deleteLater();
        });
    }
}

void StreamTestServer::OnReadable(Listener& listener) {
    QTcpSocket* socket = listener.socket;
    if (!socket)
        return;
    if (listener.answered) {
        socket->readAll();
        return;
    }
    listener.request += socket->readAll();
    if (!listener.request.contains("\r\n\r\n"))
        return;
    listener.answered = true;
    // The header's name matched case by case, as some servers do.
    listener.metadata =
        m_options.metaInterval > 0 && listener.request.contains("\r\nIcy-MetaData: 1\r\n");
    QByteArray header = m_options.icyStatusLine ? "ICY 200 OK\r\n" : "HTTP/1.0 200 OK\r\n";
    header += "Content-Type: " + m_options.contentType + "\r\n";
    if (!m_options.name.isEmpty())
        header += "icy-name: " + m_options.name + "\r\n";
    header += "icy-br: " + QByteArray::number(m_options.bytesPerSecond * 8 / 1000) + "\r\n";
    if (listener.metadata)
        header += "icy-metaint: " + QByteArray::number(m_options.metaInterval) + "\r\n";
    header += "\r\n";
    socket->write(header);
    listener.startMs = m_clock.elapsed();
    if (!m_stalled)
        SendMedia(listener, m_options.burstBytes);
}

void StreamTestServer::Pump() {
    if (m_stalled)
        return;
    const qint64 now = m_clock.elapsed();
    for (const auto& listener : m_listeners) {
        if (!listener->answered || !listener->socket)
            continue;
        const qint64 due =
            m_options.burstBytes + (now - listener->startMs) * m_options.bytesPerSecond / 1000;
        if (due > listener->sent)
            SendMedia(*listener, due - listener->sent);
    }
}

QByteArray StreamTestServer::MetadataBlock(Listener& listener) {
    QByteArray title;
    if (m_options.newTitleBytes > 0) {
        ++m_titlesSent;
        title = QByteArray::number(m_titlesSent).rightJustified(m_options.newTitleBytes, 'x');
    } else if (m_title) {
        title = *m_title;
    } else if (listener.titlePending && !m_options.titles.empty()) {
        listener.titlePending = false;
        ++m_titlesSent;
        title = m_options.titles[listener.part % m_options.titles.size()];
    } else {
        return QByteArray(1, '\0');
    }
    QByteArray text = "StreamTitle='" + title + "';";
    const qsizetype blocks = (text.size() + 15) / 16;
    text.resize(blocks * 16, '\0');
    return char(blocks) + text;
}

void StreamTestServer::SendMedia(Listener& listener, qint64 bytes) {
    if (m_options.loop.empty())
        return;
    QByteArray out;
    while (bytes > 0) {
        const QByteArray& part = m_options.loop[listener.part % m_options.loop.size()];
        qint64 take = std::min<qint64>(bytes, part.size() - listener.offset);
        if (listener.metadata)
            take = std::min<qint64>(take, m_options.metaInterval - listener.sinceMeta);
        if (m_garbage)
            out += QByteArray(take, '\0');
        else
            out += QByteArrayView(part).sliced(listener.offset, take);
        listener.offset += take;
        listener.sent += take;
        listener.sinceMeta += take;
        bytes -= take;
        if (listener.metadata && listener.sinceMeta == m_options.metaInterval) {
            out += MetadataBlock(listener);
            listener.sinceMeta = 0;
        }
        if (listener.offset == part.size()) {
            listener.offset = 0;
            ++listener.part;
            listener.titlePending = true;
        }
    }
    listener.socket->write(out);
}

} // namespace didira::test
