#pragma once
// A live radio stream on 127.0.0.1 of the tests' own: answers every GET with
// a header (Icecast-style "HTTP/1.0 200 OK" or Shoutcast-v1-style
// "ICY 200 OK") and then sends a loop of media in real time, with
// icy-metaint title blocks when the client asks for them ("Icy-MetaData: 1",
// the name matched case by case): each loop part's
// title once, or a title set at run time in every block, as raw bytes so that
// titles in any encoding reach the player exactly as sent. Failures on demand:
// stall (connections stay open, nothing more is sent), garbage in place of
// the media, close every connection, stop listening and listen again on the
// same port.

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QTcpServer>
#include <QTimer>
#include <memory>
#include <optional>
#include <vector>

class QTcpSocket;

namespace didira::test {

class StreamTestServer final : public QObject {
    Q_OBJECT
public:
    struct Options {
        bool icyStatusLine = false; // "ICY 200 OK" and no HTTP version
        QByteArray contentType = "audio/mpeg";
        std::vector<QByteArray> loop;   // sent one after the other, again and again
        std::vector<QByteArray> titles; // StreamTitle of each loop part (ICY metadata)
        int bytesPerSecond = 16000;     // the media's own rate
        int burstBytes = 32000;         // sent at once to a new listener
        int metaInterval = 8192;        // when the client sends "Icy-MetaData: 1"
        int newTitleBytes = 0;          // > 0: a new title this long in every block (hostile)
        // icy-name, sent byte for byte; none when empty
        QByteArray name = "Didira test stream";
    };

    // An MP3 loop at 128 kbit/s, a second of it at once, a metadata block
    // every 4000 bytes and no name: a station for titles set at run time.
    static Options TitledMp3(QByteArray mp3);

    explicit StreamTestServer(Options options, QObject* parent = nullptr);
    ~StreamTestServer() override;

    quint16 port() const { return m_port; }
    QString Url(const QString& path = QStringLiteral("/stream")) const;

    void Stall(bool stalled) { m_stalled = stalled; }
    // Sends zero bytes in place of the media (data flows, nothing decodes).
    void SendGarbage(bool garbage) { m_garbage = garbage; }
    // Closes every connection and the listening socket (a crashed server).
    void Stop();
    bool Restart(); // listens again on the same port
    int Connections() const { return m_connections; }
    int TitlesSent() const { return m_titlesSent; }

    // From now on every metadata block carries this StreamTitle (an empty one
    // included), byte for byte, in place of the loop parts' titles.
    void SetTitle(const QByteArray& raw);
    // The icy-name sent to later listeners; none when empty.
    void SetName(const QByteArray& raw) { m_options.name = raw; }

private:
    struct Listener {
        QPointer<QTcpSocket> socket;
        bool metadata = false;
        bool answered = false;
        QByteArray request;
        std::size_t part = 0; // loop part being sent
        qsizetype offset = 0; // within that part
        qint64 sinceMeta = 0; // media bytes since the last metadata block
        qint64 sent = 0;      // media bytes sent in all
        qint64 startMs = 0;   // when the listener came
        bool titlePending = true;
    };

    void CloseConnections();
    void OnConnection();
    void OnReadable(Listener& listener);
    void Pump();
    void SendMedia(Listener& listener, qint64 bytes);
    QByteArray MetadataBlock(Listener& listener);

    Options m_options;
    QTcpServer m_server;
    quint16 m_port = 0;
    std::vector<std::unique_ptr<Listener>> m_listeners;
    QTimer m_pump;
    QElapsedTimer m_clock;
    bool m_stalled = false;
    bool m_garbage = false;
    int m_connections = 0;
    int m_titlesSent = 0;
    std::optional<QByteArray> m_title;
};

} // namespace didira::test
