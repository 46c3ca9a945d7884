// The title now playing, from the stream to the control's TitleChanged: ICY
// titles from a station of our own, reported as they arrive and once only,
// an empty one clearing the last;
// Icecast's metadata update; Vorbis and Opus comments from Icecast; ID3 in HLS segments (packed
// audio, timed ID3 in MPEG-TS); the station's own name; cleared on Cancel, on a new open and on
// Stop.
#include "PlayerFixture.h"
#include "support/HlsTestServer.h"
#include "support/LocalRadio.h"
#include "support/StreamTestServer.h"

#include <QCoreApplication>

using namespace didira;
using namespace didira::test;

namespace {

// Every title (or stream name) the control reports, in order.
struct TitleLog {
    explicit TitleLog(OleControl* control,
                      void (OleControl::*signal)(const QString&) = &OleControl::TitleChanged)
        : connection(QObject::connect(control, signal, control,
                                      [this](const QString& t) { titles << t; })) {}
    ~TitleLog() { QObject::disconnect(connection); }
    TitleLog(const TitleLog&) = delete;
    TitleLog& operator=(const TitleLog&) = delete;
    QString Last() const { return titles.isEmpty() ? QString() : titles.last(); }
    bool WaitFor(const QString& title, std::chrono::milliseconds bound = std::chrono::seconds(20)) {
        return WaitUntil([&] { return !titles.isEmpty() && titles.last() == title; }, bound);
    }
    QMetaObject::Connection connection;
    QStringList titles;
};

// A station of our own that sends titles set at run time.
class TitleTest : public PlayerFixture {
protected:
    void SetUp() override {
        PlayerFixture::SetUp();
        if (media::ToneMp3().isEmpty())
            GTEST_SKIP() << "ffmpeg is needed";
        station.emplace(StreamTestServer::TitledMp3(media::ToneMp3()));
    }
    std::optional<StreamTestServer> station;
};

TEST_F(TitleTest, AnIcyTitleIsReportedAsItArrivesAndNotAgainWhenItPlays) {
    TitleLog log(control);
    station->SetTitle("One");
    player.Open(station->Url());
    ASSERT_TRUE(log.WaitFor(u"One"_qs));
    // "Two" arrives while the audio before it is still buffered: it is
    // reported then, and the demuxer's tags for "One" and "Two", which reach
    // the output later, bring nothing back.
    std::atomic<bool> tagged{false}; // the output has had the demuxer's tag for "Two"
    std::atomic<int> played{0};      // buffers since
    SinkProbe probe(control->Pipeline(), [&](GstPadProbeInfo* info) {
        if (info->type & GST_PAD_PROBE_TYPE_BUFFER) {
            played += tagged ? 1 : 0;
        } else if (GST_EVENT_TYPE(GST_PAD_PROBE_INFO_EVENT(info)) == GST_EVENT_TAG) {
            GstTagList* tags = nullptr;
            gst_event_parse_tag(GST_PAD_PROBE_INFO_EVENT(info), &tags);
            const gchar* title = nullptr;
            if (gst_tag_list_peek_string_index(tags, GST_TAG_TITLE, 0, &title) &&
                g_strcmp0(title, "Two") == 0)
                tagged = true;
        }
    });
    station->SetTitle("Two");
    ASSERT_TRUE(log.WaitFor(u"Two"_qs));
    ASSERT_TRUE(WaitUntil([&] { return played > 0; }, std::chrono::seconds(20)));
    QCoreApplication::processEvents(); // the sink's tag message, posted by now
    EXPECT_EQ(log.titles, (QStringList{u"One"_qs, u"Two"_qs}));
    // An empty title (a fallback mount left for the live one) clears it.
    station->SetTitle("");
    ASSERT_TRUE(log.WaitFor(QString()));
}

TEST_F(TitleTest, ANewOpenStartsWithoutTitleOrNameAndStopClearsThem) {
    TitleLog log(control);
    TitleLog names(control, &OleControl::StreamNameChanged);
    // The station's own name (icy-name), cleaned as titles are.
    station->SetName("\xe3\x83\x86\xe3\x82\xb9\xe3\x83\x88\x01 FM");
    station->SetTitle("First");
    player.Open(station->Url());
    ASSERT_TRUE(log.WaitFor(u"First"_qs));
    EXPECT_EQ(names.titles, QStringList{u"テスト FM"_qs});
    // A name in Shift_JIS reaches the player with its bytes replaced by the
    // HTTP library: it is not shown.
    station->SetName(QByteArray::fromHex("83658358836795fa91978bc7"));
    station->SetTitle("Second");
    player.Open(station->Url());
    EXPECT_EQ(log.titles.value(1), QString()) << "the old title outlives the new open";
    EXPECT_EQ(names.titles.value(1), QString()) << "the old name outlives the new open";
    ASSERT_TRUE(log.WaitFor(u"Second"_qs));
    player.Stop();
    EXPECT_EQ(log.Last(), QString());
    EXPECT_EQ(names.titles, (QStringList{u"テスト FM"_qs, QString()}));
}

// ID3 in HLS: at the head of each packed-audio segment, and timed ID3 in
// MPEG-TS segments (a metadata stream the demuxer drops, read by the player).
class HlsTitleTest : public PlayerFixture, public ::testing::WithParamInterface<media::HlsKind> {};

TEST_P(HlsTitleTest, Id3InSegmentsGivesTheTitleOnceAsItChanges) {
    HlsTestServer hls(GetParam());
    if (!hls.Ready())
        GTEST_SKIP() << "ffmpeg is needed";
    const QString first = QString::fromUtf16(media::kHlsFirstTitle);
    const QString second = QString::fromUtf16(media::kHlsSecondTitle);
    TitleLog log(control);
    player.Open(hls.Url());
    // The segments carry the first title (artist and title apart), the second
    // (Shift_JIS in a frame marked Latin-1) and none, in turn; where the live
    // window starts decides which comes first. Each change is reported once,
    // and a segment without a title changes nothing.
    ASSERT_TRUE(WaitUntil([&] { return log.titles.size() >= 2; }, std::chrono::seconds(30)))
        << log.titles.join(u'|').toStdString();
    for (qsizetype i = 0; i < log.titles.size(); ++i) {
        EXPECT_TRUE(log.titles[i] == first || log.titles[i] == second)
            << log.titles.join(u'|').toStdString();
        if (i > 0) {
            EXPECT_NE(log.titles[i], log.titles[i - 1]);
        }
    }
    player.Cancel();
    EXPECT_EQ(log.Last(), QString());
}

INSTANTIATE_TEST_SUITE_P(Kinds, HlsTitleTest,
                         ::testing::Values(media::HlsKind::PackedAudio,
                                           media::HlsKind::MpegTsTimedId3),
                         [](const auto& kind) {
                             return kind.param == media::HlsKind::PackedAudio
                                        ? std::string("PackedAudio")
                                        : std::string("MpegTsTimedId3");
                         });

using IcecastTitleTest = WithLocalRadio<PlayerFixture>;

TEST_F(IcecastTitleTest, ATitleSetOnTheServerReachesTheControl) {
    TitleLog log(control);
    player.Open(radio->Url(QStringLiteral("/mp3")));
    ASSERT_TRUE(WaitPlaying());
    ASSERT_TRUE(
        radio->SetSong(QStringLiteral("/mp3"), "\xe5\xa4\x9c\xe3\x81\xae\xe6\x9b\xb2 - Song"));
    ASSERT_TRUE(log.WaitFor(u"夜の曲 - Song"_qs)) << log.titles.join(u'|').toStdString();
    player.Cancel();
    EXPECT_EQ(log.Last(), QString());
}

TEST_F(IcecastTitleTest, VorbisAndOpusCommentsGiveArtistAndTitle) {
    // The feeders of these mounts name artist and title in the comment header.
    for (const auto& [mount, title] : {std::pair{"/vorbis", u"ローカル - Vorbis"_qs},
                                       std::pair{"/ogg", u"ローカル - Opus"_qs}}) {
        SCOPED_TRACE(mount);
        TitleLog log(control);
        player.Open(radio->Url(QString::fromLatin1(mount)));
        ASSERT_TRUE(log.WaitFor(title)) << log.titles.join(u'|').toStdString();
        player.Cancel();
        EXPECT_EQ(log.titles, (QStringList{title, QString()}));
    }
}

} // namespace
