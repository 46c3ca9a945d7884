#include "app/DirectoryAnswers.h"

#include <QByteArray>
#include <QHostAddress>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QRegularExpression>
#include <QUrl>
#include <QUuid>
#include <cmath>
#include <optional>

namespace didira {

namespace {

constexpr int kMaxUrl = 2048;
constexpr int kMaxShort = 64; // codec, country code
constexpr int kMaxText = 200; // country, language, tags as shown
constexpr int kMaxMirrors = 100;
constexpr int kMaxBitrate = 100000;
constexpr int kMaxVotes = 1 << 30;

// Control and format characters (bidirectional overrides, zero widths) as
// blanks, runs of blanks as one, and the ends trimmed.
QString Plain(const QString& text) {
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        const QChar::Category category = c.category();
        const bool hidden = category == QChar::Other_Control || category == QChar::Other_Format ||
                            category == QChar::Separator_Line ||
                            category == QChar::Separator_Paragraph;
        out += hidden ? QChar(u' ') : c;
    }
    return out.simplified();
}

// A text field: absent or null is empty; any other type is refused (nullopt).
std::optional<QString> Text(const QJsonObject& object, const QString& key) {
    const QJsonValue value = object.value(key);
    if (value.isUndefined() || value.isNull())
        return QString();
    if (!value.isString())
        return std::nullopt;
    return Plain(value.toString());
}

// A count field: absent or null is 0; a non-integer or one out of 0..max is
// refused (nullopt).
std::optional<int> Count(const QJsonObject& object, const QString& key, int max) {
    const QJsonValue value = object.value(key);
    if (value.isUndefined() || value.isNull())
        return 0;
    if (!value.isDouble())
        return std::nullopt;
    const double d = value.toDouble();
    if (!std::isfinite(d) || d < 0 || d > max || std::floor(d) != d)
        return std::nullopt;
    return static_cast<int>(d);
}

// An http(s) address, fully encoded; empty when it is none.
QString StreamAddress(const QString& text) {
    if (text.isEmpty() || text.size() > kMaxUrl)
        return {};
    const QUrl url(text, QUrl::TolerantMode);
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || (scheme != u"http" && scheme != u"https") || url.host().isEmpty())
        return {};
    const QString encoded = url.toString(QUrl::FullyEncoded);
    return encoded.size() <= kMaxUrl ? encoded : QString();
}

// One station, or the reason it is left out.
std::optional<DirectoryStation> ReadStation(const QJsonValue& value, QString& reason) {
    if (!value.isObject()) {
        reason = QStringLiteral("放送局がオブジェクトではありません");
        return std::nullopt;
    }
    const QJsonObject o = value.toObject();
    const auto uuid = Text(o, QStringLiteral("stationuuid"));
    const auto name = Text(o, QStringLiteral("name"));
    const auto resolved = Text(o, QStringLiteral("url_resolved"));
    const auto given = Text(o, QStringLiteral("url"));
    const auto codec = Text(o, QStringLiteral("codec"));
    const auto code = Text(o, QStringLiteral("countrycode"));
    const auto country = Text(o, QStringLiteral("country"));
    const auto language = Text(o, QStringLiteral("language"));
    const auto tags = Text(o, QStringLiteral("tags"));
    const auto bitrate = Count(o, QStringLiteral("bitrate"), kMaxBitrate);
    const auto votes = Count(o, QStringLiteral("votes"), kMaxVotes);
    if (!uuid || !name || !resolved || !given || !codec || !code || !country || !language ||
        !tags || !bitrate || !votes) {
        reason = QStringLiteral("項目の型が正しくありません");
        return std::nullopt;
    }
    DirectoryStation station;
    if (QUuid::fromString(*uuid).isNull()) {
        reason = QStringLiteral("stationuuidがUUIDではありません");
        return std::nullopt;
    }
    station.uuid = uuid->toLower();
    if (name->isEmpty() || name->size() > kMaxStationName) {
        reason = QStringLiteral("名前が空か、長すぎます");
        return std::nullopt;
    }
    station.name = *name;
    station.url = StreamAddress(resolved->isEmpty() ? *given : *resolved);
    if (station.url.isEmpty()) {
        reason = QStringLiteral("アドレスがhttpかhttpsのURLではありません");
        return std::nullopt;
    }
    station.codec = codec->left(kMaxShort);
    static const QRegularExpression twoLetters(QStringLiteral("^[A-Za-z]{2}$"));
    station.countryCode = twoLetters.match(*code).hasMatch() ? code->toUpper() : QString();
    station.country = country->left(kMaxText);
    station.language = language->left(kMaxText);
    station.tags = tags->left(kMaxText);
    station.bitrate = *bitrate;
    station.votes = *votes;
    return station;
}

// The JSON document of body, or the reason it is none.
std::optional<QJsonDocument> Document(const QByteArray& body, QString& error) {
    QJsonParseError parse{};
    const QJsonDocument document = QJsonDocument::fromJson(body, &parse);
    if (parse.error != QJsonParseError::NoError) {
        error = QStringLiteral("応答がJSONとして読めません（%1）").arg(parse.errorString());
        return std::nullopt;
    }
    return document;
}

bool IsHostName(const QString& name) {
    static const QRegularExpression host(
        QStringLiteral("^[A-Za-z0-9]([A-Za-z0-9-]{0,61}[A-Za-z0-9])?(\\.[A-Za-z0-9]([A-Za-z0-9-]{0,"
                       "61}[A-Za-z0-9])?)*$"));
    return name.size() <= 253 && host.match(name).hasMatch();
}

// Whether a mirror name belongs to the base's domain.
bool OfDomain(const QString& name, const QString& baseHost) {
    if (name.compare(baseHost, Qt::CaseInsensitive) == 0)
        return true;
    if (!QHostAddress(baseHost).isNull())
        return false;
    const qsizetype dot = baseHost.indexOf(u'.');
    if (dot < 0 || baseHost.indexOf(u'.', dot + 1) < 0)
        return false; // "localhost", "example.org": no parent domain to share
    return name.endsWith(baseHost.mid(dot), Qt::CaseInsensitive);
}

} // namespace

StationsAnswer ReadStations(const QByteArray& body, int maxStations) {
    StationsAnswer answer;
    const auto document = Document(body, answer.error);
    if (!document)
        return answer;
    if (!document->isArray()) {
        answer.error = QStringLiteral("応答が放送局の一覧（配列）ではありません");
        return answer;
    }
    const QJsonArray array = document->array();
    if (array.size() > maxStations) {
        answer.error = QStringLiteral("応答の放送局が多すぎます（%1件、上限%2件）")
                           .arg(array.size())
                           .arg(maxStations);
        return answer;
    }
    for (const QJsonValue& value : array) {
        QString reason;
        if (auto station = ReadStation(value, reason)) {
            answer.stations.append(std::move(*station));
        } else {
            if (answer.left++ == 0)
                answer.leftReason = reason;
        }
    }
    return answer;
}

QStringList ReadMirrors(const QByteArray& body, const QString& baseHost, QString* error) {
    QString reason;
    QStringList hosts;
    const auto document = Document(body, reason);
    if (document && (!document->isArray() || document->array().size() > kMaxMirrors))
        reason = QStringLiteral("応答がサーバーの一覧ではありません");
    if (document && reason.isEmpty()) {
        for (const QJsonValue& value : document->array()) {
            const QString name = value.toObject().value(QStringLiteral("name")).toString();
            if (IsHostName(name) && OfDomain(name, baseHost) &&
                !hosts.contains(name, Qt::CaseInsensitive))
                hosts.append(name.toLower());
        }
    }
    if (error)
        *error = reason;
    return reason.isEmpty() ? hosts : QStringList();
}

bool ReadClick(const QByteArray& body) {
    QString error;
    const auto document = Document(body, error);
    if (!document || !document->isObject())
        return false;
    // The documentation shows "ok" as the text "true"; servers send true.
    const QJsonValue ok = document->object().value(QStringLiteral("ok"));
    return ok.toBool() || ok.toString() == u"true";
}

} // namespace didira
