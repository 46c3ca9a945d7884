// The directory's answers read as untrusted input: what is taken, what is
// left out or refused, and why.
#include "app/DirectoryAnswers.h"

#include <QByteArray>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <gtest/gtest.h>

namespace didira {
namespace {

QByteArray Fixture(const char* name) {
    QFile file(QStringLiteral(DIDIRA_SOURCE_DIR "/tests/directory/") + QLatin1String(name));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// One documented station object with some fields replaced (raw JSON).
QByteArray Station(const QByteArray& replaced = {}) {
    QByteArray object = R"({"changeuuid":"01234567-89ab-cdef-0123-456789abcdef",
        "stationuuid":"01234567-89ab-cdef-0123-456789abcdef","name":"Best Radio",
        "url":"http://www.example.com/test.pls","url_resolved":"http://stream.example.com/mp3_128",
        "homepage":"https://www.example.com","favicon":"https://www.example.com/icon.png",
        "tags":"jazz,pop,rock,indie","country":"Switzerland","countrycode":"CH","state":"",
        "language":"german,english","languagecodes":"ger,eng","votes":0,"codec":"MP3",
        "bitrate":128,"hls":0,"lastcheckok":1,"clicktimestamp_iso8601":null,"clickcount":0,
        "geo_lat":1.1,"geo_long":-2.2)";
    QJsonObject station = QJsonDocument::fromJson(object + "}").object();
    const QJsonObject changes = QJsonDocument::fromJson("{" + replaced + "}").object();
    for (auto it = changes.begin(); it != changes.end(); ++it)
        station.insert(it.key(), it.value());
    return QJsonDocument(station).toJson(QJsonDocument::Compact);
}

TEST(DirectoryAnswers, TheDocumentedSearchAnswerGivesEveryStationWithItsCodecBitrateAndVotes) {
    const StationsAnswer answer = ReadStations(Fixture("stations.json"), 100);
    ASSERT_TRUE(answer.error.isEmpty()) << answer.error.toStdString();
    EXPECT_EQ(answer.left, 0);
    ASSERT_EQ(answer.stations.size(), 6);
    const DirectoryStation& first = answer.stations[0];
    EXPECT_EQ(first.uuid, u"9617a958-0601-11e8-ae97-52543be04c01"_qs);
    EXPECT_EQ(first.name, u"ジャズ喫茶ラジオ"_qs);
    EXPECT_EQ(first.url, u"http://127.0.0.1:9/jazz.mp3"_qs); // url_resolved
    EXPECT_EQ(first.codec, u"MP3"_qs);
    EXPECT_EQ(first.bitrate, 128);
    EXPECT_EQ(first.votes, 523);
    EXPECT_EQ(first.countryCode, u"JP"_qs);
    EXPECT_EQ(first.language, u"japanese"_qs);
}

TEST(DirectoryAnswers, AnAnswerOfTheWrongShapeIsRefusedWholeWithTheReason) {
    QByteArray many = "[";
    for (int i = 0; i < 101; ++i)
        many += Station() + (i < 100 ? "," : "]");
    const struct {
        const char* what;
        QByteArray body;
        const char16_t* reason;
    } cases[] = {
        {"an HTML page", "<html><body>Bad gateway</body></html>", u"JSONとして読めません"},
        {"cut short", "[" + Station().left(40), u"JSONとして読めません"},
        {"an object", R"({"stations":[]})", u"配列"},
        {"a string", R"("stations")", u"読めません"},
        {"more than asked for", many, u"多すぎます（101件、上限100件）"},
        {"nested without end", QByteArray(5000, '[') + QByteArray(5000, ']'),
         u"JSONとして読めません"},
        {"empty", "", u"JSONとして読めません"},
    };
    for (const auto& c : cases) {
        const StationsAnswer answer = ReadStations(c.body, 100);
        EXPECT_TRUE(answer.stations.isEmpty()) << c.what;
        EXPECT_TRUE(answer.error.contains(QString::fromUtf16(c.reason)))
            << c.what << ": " << answer.error.toStdString();
    }
}

TEST(DirectoryAnswers, AStationWithoutAUsableIdNameOrHttpAddressIsLeftOutAndTheRestKept) {
    const struct {
        const char* what;
        QByteArray replaced;
        const char16_t* reason;
    } cases[] = {
        {"not an object", {}, u"オブジェクト"},
        {"a number for a name", R"("name":42)", u"型"},
        {"an array for an address", R"("url_resolved":["http://a/"])", u"型"},
        {"a text for the bitrate", R"("bitrate":"128")", u"型"},
        {"negative votes", R"("votes":-1)", u"型"},
        {"an absurd bitrate", R"("bitrate":1e300)", u"型"},
        {"a fraction of a vote", R"("votes":2.5)", u"型"},
        {"no id", R"("stationuuid":null)", u"UUID"},
        {"an id that is a path", R"("stationuuid":"../stats")", u"UUID"},
        {"an empty name", R"("name":"  ")", u"名前"},
        {"a name of 401 characters", "\"name\":\"" + QByteArray(401, 'x') + "\"", u"名前"},
        {"a script address", R"j("url_resolved":"javascript:alert(1)")j", u"http"},
        {"a local file", R"("url_resolved":"file:///etc/passwd")", u"http"},
        {"an ftp address", R"("url_resolved":"ftp://a/b.mp3")", u"http"},
        {"an address without host", R"("url_resolved":"http:///x")", u"http"},
        {"an address of 3000 characters",
         "\"url_resolved\":\"http://a/" + QByteArray(3000, 'x') + "\"", u"http"},
    };
    for (const auto& c : cases) {
        const QByteArray bad = c.replaced.isEmpty() ? QByteArray("7") : Station(c.replaced);
        const StationsAnswer answer = ReadStations("[" + Station() + "," + bad + "]", 100);
        EXPECT_TRUE(answer.error.isEmpty()) << c.what;
        EXPECT_EQ(answer.stations.size(), 1) << c.what;
        EXPECT_EQ(answer.left, 1) << c.what;
        EXPECT_TRUE(answer.leftReason.contains(QString::fromUtf16(c.reason)))
            << c.what << ": " << answer.leftReason.toStdString();
    }
}

TEST(DirectoryAnswers, TextsAreOnePlainBoundedLineAndAnEmptyResolvedAddressFallsBackToTheGivenOne) {
    const StationsAnswer answer = ReadStations(
        "[" +
            Station(R"("name":"\u202eevil\n\tname\u0000 ","url_resolved":"",)"
                    R"("url":"HTTPS://Stream.Example.com/a b","codec":null,"votes":null,)"
                    R"("countrycode":"jpn","tags":")" +
                    QByteArray(500, 't') + "\"") +
            "]",
        100);
    ASSERT_EQ(answer.stations.size(), 1) << answer.leftReason.toStdString();
    const DirectoryStation& s = answer.stations[0];
    EXPECT_EQ(s.name, u"evil name"_qs);
    EXPECT_EQ(s.url, u"https://stream.example.com/a%20b"_qs);
    EXPECT_EQ(s.codec, QString());
    EXPECT_EQ(s.votes, 0);
    EXPECT_EQ(s.countryCode, QString()); // not two letters
    EXPECT_EQ(s.tags.size(), 200);
}

TEST(DirectoryAnswers, MirrorsAreTheBaseDomainsHostNamesOnceEach) {
    const QByteArray list = R"([{"ip":"1.2.3.4","name":"de1.api.radio-browser.info"},
        {"ip":"::1","name":"DE1.api.radio-browser.info"},
        {"ip":"5.6.7.8","name":"nl1.api.radio-browser.info"},
        {"ip":"6.6.6.6","name":"evil.example.com"},
        {"ip":"6.6.6.6","name":"api.radio-browser.info.evil.example"},
        {"ip":"6.6.6.6","name":"x/../../y"},{"ip":"6.6.6.6","name":"a@b"},
        {"ip":"6.6.6.6","name":""},{"ip":"6.6.6.6","name":7},"de2.api.radio-browser.info"])";
    QString error;
    EXPECT_EQ(ReadMirrors(list, u"all.api.radio-browser.info"_qs, &error),
              (QStringList{u"de1.api.radio-browser.info"_qs, u"nl1.api.radio-browser.info"_qs}));
    EXPECT_TRUE(error.isEmpty());
    // An address as base: that address alone.
    EXPECT_EQ(ReadMirrors(Fixture("servers.json"), u"127.0.0.1"_qs, &error),
              QStringList{u"127.0.0.1"_qs});
    EXPECT_TRUE(ReadMirrors(list, u"127.0.0.1"_qs, &error).isEmpty());
    for (const QByteArray& bad : {QByteArray("{}"), QByteArray("[1,"), QByteArray("\"x\"")}) {
        EXPECT_TRUE(ReadMirrors(bad, u"all.api.radio-browser.info"_qs, &error).isEmpty());
        EXPECT_FALSE(error.isEmpty()) << bad.constData();
    }
}

TEST(DirectoryAnswers, AClickCountsWhenTheAnswerSaysOkAsTextOrAsTruth) {
    EXPECT_TRUE(ReadClick(Fixture("click.json")));
    EXPECT_TRUE(ReadClick(R"({"ok":true,"message":"retrieved station url"})"));
    EXPECT_FALSE(ReadClick(R"({"ok":false,"message":"station not found"})"));
    EXPECT_FALSE(ReadClick(R"(["ok"])"));
    EXPECT_FALSE(ReadClick("<html>"));
}

} // namespace
} // namespace didira
