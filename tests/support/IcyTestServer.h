#pragma once
// A minimal ICY radio on 127.0.0.1 for title tests: answers every request
// with one MP3 played in a loop at its bit rate (after a one-second burst),
// with an icy-metaint header and, every kMetaInt bytes, a metadata block
// holding the current StreamTitle as the raw bytes given, so that titles in
// any encoding reach the player exactly as a station would send them.

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QTcpServer>
#include <QTimer>
#include <vector>

class QTcpSocket;

namespace didira::test {

class IcyTestServer final : public QObject {
    Q_OBJECT
public:
    static constexpr qsizetype kMetaInt = 4000;

    // mp3: the audio to loop; bytesPerSecond: its bit rate in bytes.
    IcyTestServer(QByteArray mp3, int bytesPerSecond, QObject* parent = nullptr);
    ~IcyTestServer() override;

    QString Url() const;
    // The StreamTitle of the following metadata blocks, sent byte for byte.
    void SetTitle(const QByteArray& raw);
    // The station's name sent as icy-name to later listeners, byte for byte;
    // none when empty.
    void SetName(const QByteArray& raw) { m_name = raw; }
    // Metadata blocks sent since the last SetTitle, to all listeners.
    int BlocksWithTitle() const { return m_blocksWithTitle; }

private:
    struct Listener {
        QPointer<QTcpSocket> socket;
        QByteArray request;
        bool answered = false;
        QElapsedTimer clock;
        qint64 sent = 0; // audio bytes
        qsizetype position = 0;
        qsizetype untilMeta = kMetaInt;
    };
    void OnConnection();
    void Pump();
    void Send(Listener& listener, qint64 bytes);

    QTcpServer m_server;
    QTimer m_timer;
    QByteArray m_mp3;
    int m_bytesPerSecond;
    QByteArray m_title;
    QByteArray m_name;
    int m_blocksWithTitle = 0;
    std::vector<Listener> m_listeners;
};

} // namespace didira::test
