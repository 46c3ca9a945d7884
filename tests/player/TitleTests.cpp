// The title now playing, from the stream to the control's TitleChanged: ICY
// titles in UTF-8, Shift_JIS and Latin-1 from a station of our own and from
// Icecast's metadata update, Vorbis and Opus comments; cleared on Cancel, on
// a new open, on Stop and at the end of the stream.
#include "PlayerFixture.h"
#include "support/HttpTestServer.h"
#include "support/IcyTestServer.h"
#include "support/LocalRadio.h"

#include <QElapsedTimer>

using namespace didira;
using namespace didira::test;

namespace {

// Every title the control reports, in order, and when the last one came.
struct TitleLog {
    explicit TitleLog(OleControl* control) {
        QObject::connect(control, &OleControl::TitleChanged, control,
                         [this](const QString& t) { titles << t; });
    }
    QString Last() const { return titles.isEmpty() ? QString() : titles.last(); }
    bool WaitFor(const QString& title, std::chrono::milliseconds bound = std::chrono::seconds(20)) {
        return WaitUntil([&] { return !titles.isEmpty() && titles.last() == title; }, bound);
    }
    QStringList titles;
};

// A few seconds of tone in Ogg with the given codec and comments.
QByteArray OggWithComments(const QString& codec, const QString& artist, const QString& title) {
    if (QStandardPaths::findExecutable(QStringLiteral("ffmpeg")).isEmpty())
        return QByteArray();
    const QString path = QDir(TempDir()).filePath(codec + QStringLiteral(".ogg"));
    const int rc =
        QProcess::execute(QStringLiteral("ffmpeg"),
                          {QStringLiteral("-nostdin"), QStringLiteral("-y"),
                           QStringLiteral("-loglevel"), QStringLiteral("error"),
                           QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"),
                           QStringLiteral("sine=frequency=440:duration=3"), QStringLiteral("-c:a"),
                           codec, QStringLiteral("-metadata"), QStringLiteral("artist=") + artist,
                           QStringLiteral("-metadata"), QStringLiteral("title=") + title, path});
    QFile file(path);
    if (rc != 0 || !file.open(QIODevice::ReadOnly))
        return QByteArray();
    return file.readAll();
}

using TitleTest = PlayerFixture;

TEST_F(TitleTest, IcyTitlesArriveDecodedChangeAndGoOnCancel) {
    const QByteArray mp3 = ToneMp3();
    if (mp3.isEmpty())
        GTEST_SKIP() << "ffmpeg is needed";
    IcyTestServer station(mp3, 128000 / 8);
    TitleLog log(control);
    // Shift_JIS, as many Japanese stations send it.
    station.SetTitle(
        QByteArray::fromHex("8da196e982cc838a834e834783588367202d20955c8cbb835c8393834f"));
    player.Open(station.Url());
    ASSERT_TRUE(log.WaitFor(u"今夜のリクエスト - 表現ソング"_qs))
        << log.titles.join(u'|').toStdString();

    QElapsedTimer clock;
    clock.start();
    station.SetTitle("Caf\xe9 - Chanson");
    ASSERT_TRUE(log.WaitFor(u"Café - Chanson"_qs)) << log.titles.join(u'|').toStdString();
    RecordProperty("title_latency_ms", int(clock.elapsed()));
    std::printf("ICY title reached the control after %lld ms\n", clock.elapsed());

    // An empty title changes nothing; UTF-8 comes as it is.
    station.SetTitle("");
    ASSERT_TRUE(WaitUntil([&] { return station.BlocksWithTitle() >= 3; }));
    station.SetTitle("\xe5\xa4\x9c - Night");
    ASSERT_TRUE(log.WaitFor(u"夜 - Night"_qs));
    // Every block repeats the title; each change is reported once.
    EXPECT_EQ(log.titles, (QStringList{u"今夜のリクエスト - 表現ソング"_qs, u"Café - Chanson"_qs,
                                       u"夜 - Night"_qs}));

    player.Cancel();
    EXPECT_EQ(log.Last(), QString());
    EXPECT_EQ(log.titles.size(), 4);
}

TEST_F(TitleTest, ANewOpenStartsWithoutTitleAndStopClearsIt) {
    const QByteArray mp3 = ToneMp3();
    if (mp3.isEmpty())
        GTEST_SKIP() << "ffmpeg is needed";
    IcyTestServer station(mp3, 128000 / 8);
    TitleLog log(control);
    station.SetTitle("First");
    player.Open(station.Url());
    ASSERT_TRUE(log.WaitFor(u"First"_qs));
    station.SetTitle("Second");
    player.Open(station.Url());
    EXPECT_EQ(log.titles.value(1), QString()) << "the old title outlives the new open";
    ASSERT_TRUE(log.WaitFor(u"Second"_qs));
    player.Stop();
    EXPECT_EQ(log.Last(), QString());
}

TEST_F(TitleTest, VorbisAndOpusCommentsGiveArtistAndTitleUntilTheEnd) {
    for (const char* codec : {"libvorbis", "libopus"}) {
        SCOPED_TRACE(codec);
        const QByteArray ogg =
            OggWithComments(QString::fromLatin1(codec), u"アーティスト"_qs, u"曲名"_qs);
        if (ogg.isEmpty())
            GTEST_SKIP() << "ffmpeg with Vorbis and Opus is needed";
        HttpTestServer server;
        server.Serve(QStringLiteral("/tone.ogg"), "application/ogg", ogg);
        TitleLog log(control);
        player.Open(server.Url(QStringLiteral("/tone.ogg")));
        ASSERT_TRUE(log.WaitFor(u"アーティスト - 曲名"_qs)) << log.titles.join(u'|').toStdString();
        // The end of the stream takes the title away.
        ASSERT_TRUE(log.WaitFor(QString()));
        player.Cancel();
    }
}

using IcecastTitleTest = WithLocalRadio<PlayerFixture>;

TEST_F(IcecastTitleTest, ATitleSetOnTheServerReachesTheControl) {
    TitleLog log(control);
    player.Open(radio->Url(QStringLiteral("/mp3")));
    ASSERT_TRUE(WaitPlaying());
    QElapsedTimer clock;
    clock.start();
    ASSERT_TRUE(
        radio->SetSong(QStringLiteral("/mp3"), "\xe5\xa4\x9c\xe3\x81\xae\xe6\x9b\xb2 - Song"));
    ASSERT_TRUE(log.WaitFor(u"夜の曲 - Song"_qs)) << log.titles.join(u'|').toStdString();
    RecordProperty("title_latency_ms", int(clock.elapsed()));
    std::printf("Icecast title reached the control after %lld ms\n", clock.elapsed());
    // Icecast passes the bytes of an update without a charset on as they are.
    ASSERT_TRUE(radio->SetSong(QStringLiteral("/mp3"),
                               QByteArray::fromHex("8da196e982cc838a834e834783588367")));
    ASSERT_TRUE(log.WaitFor(u"今夜のリクエスト"_qs)) << log.titles.join(u'|').toStdString();
    player.Cancel();
    EXPECT_EQ(log.Last(), QString());
}

} // namespace
