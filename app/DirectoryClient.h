#pragma once
// The community station directory's HTTP API, asynchronously: a search by
// name, tag, country and language, ordered by votes; and the click counter
// of a station played. The server is a mirror from the list the directory
// publishes (/json/servers of the base), in random order, the next one taken
// when one cannot be reached; with no usable list, the base itself. Every
// request names Didira and its version as its User-Agent, as the directory
// asks of clients. A search ends, answered or failed, within kBudget of its
// start; every answer is bounded to kMaxAnswerBytes and read as untrusted
// (DirectoryAnswers). The base is DIDIRA_DIRECTORY_URL when that is an http
// or https URL, else the directory's round-robin name.

#include "app/DirectoryAnswers.h"

#include <QDeadlineTimer>
#include <QNetworkAccessManager>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <QUrl>
#include <chrono>
#include <functional>

class QNetworkReply;

namespace didira {

class CDirectoryClient final : public QObject {
    Q_OBJECT
public:
    enum class State { Idle, FindingServers, Searching };
    enum class Failure {
        Unreachable, // no server answered within the budget
        Refused,     // an answer of the wrong shape or size
        ServerError, // an HTTP error status
    };
    struct Query {
        QString name;
        QString tag;
        QString country; // a name, or a two-letter code
        QString language;
    };

    static constexpr std::chrono::milliseconds kBudget{5000};
    static constexpr qint64 kMaxAnswerBytes = qint64{2} << 20;
    static constexpr int kMaxStations = 100;

    // base: the directory's base URL (DefaultBase() in the program).
    explicit CDirectoryClient(const QUrl& base, QObject* parent = nullptr);
    ~CDirectoryClient() override;
    Q_DISABLE_COPY_MOVE(CDirectoryClient)

    static QUrl DefaultBase();
    static QByteArray UserAgent();

    // Starts a search; one still running is dropped (no signal for it).
    void Search(const Query& query);
    // Drops the search running, if any.
    void Cancel();
    // Counts a click on the station with this id, on the server in use.
    void CountClick(const QString& uuid);

    State GetState() const { return m_state; }
    // The server that answered last; the base until one has.
    QUrl Server() const { return m_server; }

signals:
    void Found(const QList<didira::DirectoryStation>& stations, const QString& note);
    void Failed(didira::CDirectoryClient::Failure failure, const QString& reason);
    void ClickCounted(const QString& uuid, bool counted);

private:
    struct Fetched;
    using Done = std::function<void(const Fetched&)>;

    QNetworkReply* Fetch(const QUrl& url, qint64 maxBytes, std::chrono::milliseconds timeout,
                         Done done);
    QUrl Endpoint(const QUrl& server, const QString& path) const;
    void FindServers();
    void TryServer(int index, const QString& lastReason);
    void OnSearched(int index, const Fetched& fetched);
    void Fail(Failure failure, const QString& reason);

    QNetworkAccessManager m_net;
    QUrl m_base;
    QUrl m_server;
    QList<QUrl> m_servers; // the mirrors to try, in order; empty until found
    Query m_query;
    State m_state = State::Idle;
    unsigned m_nGeneration = 0; // of the search running; answers of others are dropped
    QPointer<QNetworkReply> m_pReply;
    QDeadlineTimer m_deadline;
    QTimer m_budget; // ends a search at its deadline
};

} // namespace didira
