#include "app/DirectoryClient.h"

#include <QNetworkReply>
#include <QNetworkRequest>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QUrlQuery>
#include <QUuid>
#include <algorithm>

namespace didira {

namespace {

constexpr qint64 kMaxClickBytes = 64 * 1024;
constexpr char kBaseVariable[] = "DIDIRA_DIRECTORY_URL";
constexpr char kRoundRobinBase[] = "https://all.api.radio-browser.info";

// Why a request failed, in the listener's words.
QString Reason(QNetworkReply::NetworkError error, const QString& detail) {
    switch (error) {
    case QNetworkReply::HostNotFoundError:
        return QStringLiteral("サーバーが見つかりません（オフラインかもしれません）");
    case QNetworkReply::ConnectionRefusedError:
        return QStringLiteral("接続を拒否されました");
    case QNetworkReply::TimeoutError:
    case QNetworkReply::OperationCanceledError:
        return QStringLiteral("5秒以内に応答がありませんでした");
    case QNetworkReply::SslHandshakeFailedError:
        return QStringLiteral("安全な接続を確立できません");
    case QNetworkReply::NetworkSessionFailedError:
    case QNetworkReply::TemporaryNetworkFailureError:
        return QStringLiteral("ネットワークにつながっていません");
    case QNetworkReply::UnknownNetworkError: // the network unreachable, among others
        return QStringLiteral("ネットワークに接続できません（オフラインかもしれません）");
    default:
        return QStringLiteral("接続できません（%1）").arg(detail);
    }
}

} // namespace

// One answer as read: the body up to its bound, or why there is none.
struct CDirectoryClient::Fetched {
    QNetworkReply::NetworkError error = QNetworkReply::NoError;
    QString errorText;
    int status = 0;
    bool tooLarge = false;
    QByteArray body;
};

CDirectoryClient::CDirectoryClient(const QUrl& base, QObject* parent)
    : QObject(parent), m_base(base), m_server(base) {
    m_budget.setSingleShot(true);
    connect(&m_budget, &QTimer::timeout, this, [this] {
        if (m_state != State::Idle)
            Fail(Failure::Unreachable, Reason(QNetworkReply::TimeoutError, {}));
    });
}

CDirectoryClient::~CDirectoryClient() {
    Cancel();
}

QUrl CDirectoryClient::DefaultBase() {
    const QUrl set(QString::fromLocal8Bit(qgetenv(kBaseVariable)), QUrl::StrictMode);
    const QString scheme = set.scheme().toLower();
    if (set.isValid() && (scheme == u"http" || scheme == u"https") && !set.host().isEmpty())
        return set;
    return QUrl(QString::fromLatin1(kRoundRobinBase));
}

QByteArray CDirectoryClient::UserAgent() {
    return QByteArrayLiteral("Didira/" DIDIRA_VERSION);
}

QUrl CDirectoryClient::Endpoint(const QUrl& server, const QString& path) const {
    QUrl url = server;
    QString prefix = m_base.path();
    while (prefix.endsWith(u'/'))
        prefix.chop(1);
    url.setPath(prefix + path);
    url.setQuery(QString());
    url.setFragment(QString());
    return url;
}

QNetworkReply* CDirectoryClient::Fetch(const QUrl& url, qint64 maxBytes,
                                       std::chrono::milliseconds timeout, Done done) {
    QNetworkRequest request(url);
    request.setHeader(QNetworkRequest::UserAgentHeader, UserAgent());
    request.setRawHeader("Accept", "application/json");
    request.setTransferTimeout(static_cast<int>(std::max<qint64>(1, timeout.count())));
    request.setMaximumRedirectsAllowed(3);
    QNetworkReply* reply = m_net.get(request);
    auto fetched = std::make_shared<Fetched>();
    const auto take = [reply, fetched, maxBytes] {
        if (fetched->tooLarge || !reply->isOpen())
            return;
        fetched->body += reply->readAll();
        const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
        if (fetched->body.size() > maxBytes ||
            (length.isValid() && length.toLongLong() > maxBytes)) {
            fetched->tooLarge = true;
            fetched->body.clear();
            reply->abort();
        }
    };
    connect(reply, &QNetworkReply::metaDataChanged, this, take);
    connect(reply, &QNetworkReply::readyRead, this, take);
    connect(reply, &QNetworkReply::finished, this, [reply, fetched, take, done = std::move(done)] {
        take();
        fetched->error = fetched->tooLarge ? QNetworkReply::NoError : reply->error();
        fetched->errorText = reply->errorString();
        fetched->status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        reply->deleteLater();
        done(*fetched);
    });
    return reply;
}

void CDirectoryClient::Search(const Query& query) {
    Cancel();
    m_query = query;
    m_deadline = QDeadlineTimer(kBudget);
    m_budget.start(kBudget);
    if (m_servers.isEmpty())
        FindServers();
    else
        TryServer(0, {});
}

void CDirectoryClient::Cancel() {
    ++m_nGeneration;
    m_state = State::Idle;
    m_budget.stop();
    if (m_pReply)
        m_pReply->abort();
    m_pReply = nullptr;
}

void CDirectoryClient::FindServers() {
    m_state = State::FindingServers;
    const unsigned generation = m_nGeneration;
    const auto left = std::chrono::milliseconds(m_deadline.remainingTime());
    m_pReply = Fetch(Endpoint(m_base, QStringLiteral("/json/servers")), kMaxAnswerBytes, left,
                     [this, generation](const Fetched& fetched) {
                         if (generation != m_nGeneration)
                             return;
                         QStringList hosts;
                         if (fetched.error == QNetworkReply::NoError && fetched.status == 200 &&
                             !fetched.tooLarge)
                             hosts = ReadMirrors(fetched.body, m_base.host(), nullptr);
                         // Random order spreads the listeners over the mirrors.
                         std::shuffle(hosts.begin(), hosts.end(), *QRandomGenerator::global());
                         m_servers.clear();
                         for (const QString& host : hosts) {
                             QUrl server = m_base;
                             server.setHost(host);
                             m_servers.append(server);
                         }
                         // Without a list (or with none of its names usable) the base
                         // itself serves; it is a mirror too.
                         if (m_servers.isEmpty())
                             m_servers.append(m_base);
                         TryServer(0, {});
                     });
}

void CDirectoryClient::TryServer(int index, const QString& lastReason) {
    if (index >= m_servers.size() || m_deadline.hasExpired()) {
        m_servers.clear(); // found again on the next search
        Fail(Failure::Unreachable,
             lastReason.isEmpty() ? Reason(QNetworkReply::TimeoutError, {}) : lastReason);
        return;
    }
    m_state = State::Searching;
    QUrl url = Endpoint(m_servers[index], QStringLiteral("/json/stations/search"));
    QUrlQuery query;
    const auto add = [&query](const char* key, const QString& value) {
        if (!value.trimmed().isEmpty())
            query.addQueryItem(QString::fromLatin1(key), value.trimmed());
    };
    add("name", m_query.name);
    add("tag", m_query.tag);
    static const QRegularExpression code(QStringLiteral("^\\s*[A-Za-z]{2}\\s*$"));
    if (code.match(m_query.country).hasMatch())
        add("countrycode", m_query.country.trimmed().toUpper());
    else
        add("country", m_query.country);
    add("language", m_query.language);
    query.addQueryItem(QStringLiteral("order"), QStringLiteral("votes"));
    query.addQueryItem(QStringLiteral("reverse"), QStringLiteral("true"));
    query.addQueryItem(QStringLiteral("hidebroken"), QStringLiteral("true"));
    query.addQueryItem(QStringLiteral("limit"), QString::number(kMaxStations));
    url.setQuery(query);
    const unsigned generation = m_nGeneration;
    m_pReply = Fetch(url, kMaxAnswerBytes, std::chrono::milliseconds(m_deadline.remainingTime()),
                     [this, generation, index](const Fetched& fetched) {
                         if (generation == m_nGeneration)
                             OnSearched(index, fetched);
                     });
}

void CDirectoryClient::OnSearched(int index, const Fetched& fetched) {
    if (fetched.tooLarge) {
        Fail(Failure::Refused,
             QStringLiteral("応答が大きすぎます（上限%1 MiB）").arg(kMaxAnswerBytes >> 20));
        return;
    }
    const bool serverDown = fetched.status >= 500;
    if (fetched.error != QNetworkReply::NoError && (fetched.status == 0 || serverDown)) {
        // Not reached, or the mirror is down: the next one.
        TryServer(
            index + 1,
            serverDown
                ? QStringLiteral("サーバーがエラーを返しました（HTTP %1）").arg(fetched.status)
                : Reason(fetched.error, fetched.errorText));
        return;
    }
    if (fetched.status != 200) {
        Fail(Failure::ServerError,
             QStringLiteral("サーバーがエラーを返しました（HTTP %1）").arg(fetched.status));
        return;
    }
    m_server = m_servers[index];
    const StationsAnswer answer = ReadStations(fetched.body, kMaxStations);
    if (!answer.error.isEmpty()) {
        Fail(Failure::Refused, answer.error);
        return;
    }
    ++m_nGeneration;
    m_state = State::Idle;
    m_budget.stop();
    m_pReply = nullptr;
    QString note;
    if (answer.left > 0)
        note = QStringLiteral("%1局は使えない情報のため除きました（%2）")
                   .arg(answer.left)
                   .arg(answer.leftReason);
    emit Found(answer.stations, note);
}

void CDirectoryClient::Fail(Failure failure, const QString& reason) {
    Cancel();
    emit Failed(failure, reason);
}

void CDirectoryClient::CountClick(const QString& uuid) {
    if (QUuid::fromString(uuid).isNull())
        return;
    const QUrl url = Endpoint(m_server, QStringLiteral("/json/url/") + uuid);
    Fetch(url, kMaxClickBytes, kBudget, [this, uuid](const Fetched& fetched) {
        emit ClickCounted(uuid, fetched.error == QNetworkReply::NoError && !fetched.tooLarge &&
                                    ReadClick(fetched.body));
    });
}

} // namespace didira
