// Recording what the live buffer keeps: file names made safe, the folder
// found; the newest 20 s of a buffer split per title, and a full disk told;
// an Ogg file started inside a chain whose start has left the buffer still
// decodes. Then the real player recording a station across a title change
// (the files' audio is the buffer's bytes, nothing lost or doubled) and
// failing to record into a folder that cannot be made while playback goes on;
// a recording that fills the disk.
#include "../PlayerFixture.h"
#include "player/formats/OggHeaderPages.h"
#include "player/timeshift/Recorder.h"
#include "player/timeshift/RecordingNames.h"
#include "player/timeshift/TimeShift.h"
#include "support/StreamTestServer.h"

#include <QDir>
#include <QRegularExpression>
#include <QUrl>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <gtest/gtest.h>
#include <sys/resource.h>

namespace didira {
namespace {

using namespace std::chrono_literals;

// Whether GStreamer decodes path to its end, with audio.
bool Decodes(const QString& path) {
    gst_init(nullptr, nullptr);
    gst::ElementPtr playbin(gst_element_factory_make("playbin", nullptr));
    g_object_set(playbin.get(), "uri", QUrl::fromLocalFile(path).toEncoded().constData(),
                 "audio-sink", gst_element_factory_make("fakesink", nullptr), nullptr);
    gst_element_set_state(playbin.get(), GST_STATE_PLAYING);
    GstBus* bus = gst_element_get_bus(playbin.get());
    GstMessage* message = gst_bus_timed_pop_filtered(
        bus, 20 * GST_SECOND, static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
    const bool eos = message && GST_MESSAGE_TYPE(message) == GST_MESSAGE_EOS;
    gint64 position = 0;
    gst_element_query_position(playbin.get(), GST_FORMAT_TIME, &position);
    if (message)
        gst_message_unref(message);
    gst_object_unref(bus);
    gst_element_set_state(playbin.get(), GST_STATE_NULL);
    return eos && position > 0;
}

QByteArray Contents(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// A file's audio: after its ID3v2 tag, when it has one.
QByteArray Audio(const QString& path) {
    const QByteArray bytes = Contents(path);
    if (!bytes.startsWith("ID3") || bytes.size() < 10)
        return bytes;
    qint64 size = 0;
    for (int i = 6; i < 10; ++i)
        size = size << 7 | (bytes[i] & 0x7F);
    return bytes.mid(10 + size);
}

QByteArray Read(const LiveBuffer& buffer, qint64 from, qint64 to) {
    QByteArray bytes(to - from, '\0');
    bytes.resize(std::max<qint64>(buffer.Read(from, bytes.data(), bytes.size()), 0));
    return bytes;
}

QStringList Names(const QStringList& paths) {
    QStringList names;
    for (const QString& path : paths)
        names << QFileInfo(path).fileName();
    return names;
}

TEST(RecorderNames, WhatAFileNameCannotHoldIsReplacedAndTheNameTrimmedAndBounded) {
    const std::pair<QString, QString> cases[] = {
        {u"  Artist - Song  "_qs, u"Artist - Song"_qs},
        {u"AC/DC: Back\\In*Black?"_qs, u"AC_DC_ Back_In_Black_"_qs},
        {u"\"quoted\" <a|b>"_qs, u"_quoted_ _a_b_"_qs},
        {QStringLiteral("tab\there\nnul") + QChar(0) + u"x\u0085y"_qs, u"tab_here_nul_x_y"_qs},
        {u"今夜のリクエスト"_qs, u"今夜のリクエスト"_qs},
    };
    for (const auto& [text, safe] : cases)
        EXPECT_EQ(SafeFileName(text), safe) << text.toStdString();
    // Bounded in UTF-8 bytes, cut between characters.
    EXPECT_EQ(SafeFileName(QString(100, QChar(u'曲')), 10), QString(3, QChar(u'曲')));

    // The folder: user-dirs.dirs first, then the environment, then ~/Music.
    const QString config = test::TempDir();
    qputenv("XDG_CONFIG_HOME", config.toUtf8());
    qputenv("XDG_MUSIC_DIR", "/srv/env-music");
    EXPECT_EQ(DefaultRecordingFolder(), u"/srv/env-music/Didira"_qs);
    QFile dirs(config + u"/user-dirs.dirs"_qs);
    ASSERT_TRUE(dirs.open(QIODevice::WriteOnly));
    dirs.write("# comment\nXDG_MUSIC_DIR=\"$HOME/Tunes\"\n");
    dirs.close();
    EXPECT_EQ(DefaultRecordingFolder(), QDir::homePath() + u"/Tunes/Didira"_qs);
    dirs.remove();
    qunsetenv("XDG_MUSIC_DIR");
    EXPECT_EQ(DefaultRecordingFolder(), QDir::homePath() + u"/Music/Didira"_qs);
    qunsetenv("XDG_CONFIG_HOME");
}

class RecorderFiles : public ::testing::Test {
protected:
    void SetUp() override {
        if (!test::media::Available())
            GTEST_SKIP() << "ffmpeg is needed to make the test streams";
        folder = test::TempDir();
        buffer = LiveBuffer::Create(test::TempDir(), {});
        ASSERT_TRUE(buffer);
    }
    // Appends bytes in pieces of 1000 (as a network source hands them over),
    // a second of arrival time per 16000 bytes from ms on, and what a new
    // Ogg chain must carry, as the time shift's tap does.
    void Append(const QByteArray& bytes, qint64 ms) {
        for (qsizetype at = 0; at < bytes.size(); at += 1000) {
            const QByteArrayView piece =
                QByteArrayView(bytes).sliced(at, std::min<qsizetype>(1000, bytes.size() - at));
            oggHeaders.Feed(piece, buffer->End(), [&](qint64 chainAt, QByteArray headers) {
                buffer->KeepHeaders(chainAt, std::move(headers));
            });
            buffer->Append(piece, ms + at / 16);
        }
    }
    QString folder;
    std::unique_ptr<LiveBuffer> buffer;
    OggHeaderPages oggHeaders;
};

TEST_F(RecorderFiles, TheNewestTwentySecondsAreSplitPerTitleWithNothingLostOrDoubled) {
    const QByteArray loop = test::media::Mp3Loop(); // 4 s
    for (int i = 0; i < 10; ++i) {
        if (i == 8) {
            Append(loop.first(1234), i * 4000);
            buffer->MarkTitle(u"Song"_qs, 0); // mid-frame, as ICY blocks come
            Append(loop.sliced(1234), i * 4000 + 1234 / 16);
        } else {
            Append(loop, i * 4000);
        }
    }
    const qint64 from = buffer->OffsetAt(40000 - 20000);
    QStringList files;
    ASSERT_EQ(Recorder::SaveRange(*buffer, from, buffer->End(), folder, u"Radio A"_qs, &files),
              QString());
    ASSERT_EQ(files.size(), 2);
    EXPECT_TRUE(Names(files)[0].contains(
        QRegularExpression(u"^Radio A - \\d{4}-\\d\\d-\\d\\d \\d\\d\\.\\d\\d\\.\\d\\d\\.mp3$"_qs)))
        << Names(files)[0].toStdString(); // no title yet: when
    EXPECT_EQ(Names(files)[1], u"Radio A - Song.mp3"_qs);
    const QByteArray audio = Audio(files[0]) + Audio(files[1]);
    const QByteArray range = Read(*buffer, from, buffer->End());
    EXPECT_TRUE(range.endsWith(audio)) << "the files are not the buffer's bytes";
    EXPECT_LT(range.size() - audio.size(), 1500) << "more than the first frame left out";
    for (const QString& file : files)
        EXPECT_TRUE(Decodes(file)) << file.toStdString();

    // Saved again: the names taken are not overwritten.
    ASSERT_EQ(Recorder::SaveRange(*buffer, from, buffer->End(), folder, u"Radio A"_qs, &files),
              QString());
    EXPECT_EQ(Names(files).value(1), u"Radio A - Song (2).mp3"_qs);
    // All numbers taken (a title repeated all day): the time the file starts
    // goes in the name, never a failed save.
    for (int n = 3; n <= 999; ++n)
        QFile(QDir(folder).filePath(u"Radio A - Song (%1).mp3"_qs.arg(n)))
            .open(QIODevice::WriteOnly);
    for (const char* numbered : {"", " \\(2\\)"}) {
        ASSERT_EQ(Recorder::SaveRange(*buffer, from, buffer->End(), folder, u"Radio A"_qs, &files),
                  QString());
        EXPECT_TRUE(Names(files).value(1).contains(QRegularExpression(
            u"^Radio A - Song \\d{4}-\\d\\d-\\d\\d \\d\\d\\.\\d\\d\\.\\d\\d%1\\.mp3$"_qs.arg(
                QLatin1String(numbered)))))
            << Names(files).value(1).toStdString();
        EXPECT_TRUE(Decodes(files.value(1)));
    }

    // A disk that takes no more (a file size limit stands in): an error
    // naming the file, not a short file passed off as saved.
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit saved{};
    getrlimit(RLIMIT_FSIZE, &saved);
    rlimit small = saved;
    small.rlim_cur = 100000;
    setrlimit(RLIMIT_FSIZE, &small);
    const QString full = Recorder::SaveRange(*buffer, from, buffer->End(), folder, u"Radio A"_qs);
    setrlimit(RLIMIT_FSIZE, &saved);
    EXPECT_TRUE(full.contains(u"Radio A - "_qs)) << full.toStdString();
}

TEST_F(RecorderFiles, AnOggFileStartedMidChainCarriesItsHeadersAlsoOnceTheyLeftTheBuffer) {
    // A chain whose start the buffer no longer keeps, then the next, titled.
    const QByteArray track = test::media::OggChain().at(0);
    buffer =
        LiveBuffer::Create(test::TempDir(), {std::chrono::minutes(30), track.size() * 7 / 5, 4096});
    Append(track, 0);
    buffer->MarkTitle(u"Later"_qs, 0);
    Append(track, 10000);
    ASSERT_GT(buffer->Begin(), track.size() / 2);
    QStringList files;
    ASSERT_EQ(
        Recorder::SaveRange(*buffer, buffer->Begin(), buffer->End(), folder, u"Ogg FM"_qs, &files),
        QString());
    ASSERT_EQ(files.size(), 2);
    EXPECT_EQ(Names(files)[1], u"Ogg FM - Later.ogg"_qs);
    EXPECT_EQ(Contents(files[1]), track) << "a chain's own start needs no headers of ours";
    EXPECT_TRUE(Contents(files[0]).startsWith(track.first(27))) << "no header pages first";
    EXPECT_TRUE(Decodes(files[0]));
    EXPECT_TRUE(Decodes(files[1]));
}

// ---- The real player ---------------------------------------------------------

class RecorderPlayback : public test::PlayerFixture {
protected:
    void SetUp() override {
        if (!test::media::Available())
            GTEST_SKIP() << "ffmpeg is needed to make the test streams";
        test::PlayerFixture::SetUp();
        control->SetTimeShiftLimits(test::TempDir(), {});
        folder = test::TempDir() + u"/Music/Didira"_qs;
        control->SetRecordingFolder(folder);
    }
    // Whether reply came (within a bound), and what it said.
    std::optional<QString> Await(const std::function<bool(OleControl::RecordingReply)>& call) {
        auto answer = std::make_shared<std::optional<QString>>(); // may come late
        if (!call([answer](const QString& error) { *answer = error; }))
            return std::nullopt;
        test::WaitUntil([&] { return answer->has_value(); }, 20s);
        return *answer;
    }
    QString folder;
};

TEST_F(RecorderPlayback, ARecordingAcrossATitleChangeIsTwoFilesOfTheBuffersBytes) {
    test::StreamTestServer::Options options;
    const QByteArray part = test::media::Mp3Loop();
    options.loop = {part, part};
    options.titles = {"First", "Second/Last"};
    options.bytesPerSecond = 128000 / 8;
    test::StreamTestServer station(options);
    QString title;
    int failures = 0;
    const QObject scope; // the connections end with the test's locals
    QObject::connect(control, &OleControl::TitleChanged, &scope,
                     [&](const QString& t) { title = t; });
    QObject::connect(control, &OleControl::RecordingFailed, &scope, [&] { ++failures; });
    player.Open(station.Url());
    ASSERT_TRUE(WaitPlaying());
    ASSERT_TRUE(test::WaitUntil([&] { return title == u"First"_qs; }, 20s));
    const std::shared_ptr<const LiveBuffer> buffer = control->CurrentTimeShift()->Buffer();
    ASSERT_TRUE(buffer);

    // A folder that cannot be made: refused with the reason, playback goes on.
    control->SetRecordingFolder(u"/proc/didira-test/Didira"_qs);
    const std::optional<QString> refused =
        Await([&](auto reply) { return control->StartRecording(u"Station A"_qs, reply); });
    ASSERT_TRUE(refused);
    EXPECT_TRUE(refused->contains(u"/proc/didira-test"_qs)) << refused->toStdString();
    EXPECT_FALSE(control->IsRecording());
    EXPECT_EQ(failures, 1);
    control->SetRecordingFolder(folder);

    const qint64 start = buffer->End();
    EXPECT_EQ(Await([&](auto reply) { return control->StartRecording(u"Station A"_qs, reply); }),
              QString());
    EXPECT_TRUE(control->IsRecording());
    ASSERT_TRUE(test::WaitUntil([&] { return title == u"Second/Last"_qs; }, 10s));
    test::Pump(1500ms);
    EXPECT_EQ(Play(), PlayState::Playing);
    ASSERT_TRUE(control->StopRecording());
    const qint64 end = buffer->End();
    const QStringList expected{u"Station A - First.mp3"_qs, u"Station A - Second_Last.mp3"_qs};
    const QDir dir(folder);
    // The last bytes are written after the stop, away from the UI thread.
    const auto audio = [&] {
        return Audio(dir.filePath(expected[0])) + Audio(dir.filePath(expected[1]));
    };
    for (int i = 0; i < 25; ++i) { // bounded: until the files stop growing
        const qsizetype before = audio().size();
        test::Pump(400ms);
        if (before == audio().size() && before >= end - start - 1500)
            break;
    }
    EXPECT_EQ(dir.entryList(QDir::Files, QDir::Name), expected);
    // From the first frame of the recording on, every byte once.
    const QByteArray recorded = audio();
    const qsizetype skipped = Read(*buffer, start, end).indexOf(recorded.first(64));
    EXPECT_TRUE(skipped >= 0 && skipped < 1500) << skipped;
    EXPECT_EQ(recorded, Read(*buffer, start + skipped, start + skipped + recorded.size()))
        << "the files are not the buffer's bytes from the start of the recording";
    for (const QString& name : expected)
        EXPECT_TRUE(Decodes(dir.filePath(name))) << name.toStdString();

    EXPECT_EQ(failures, 1);
}

// Run by small-disk.sh (tests/player/CMakeLists.txt): the recording folder on
// a tmpfs of 96 KiB, titles changing every two seconds until it is full.
TEST_F(RecorderPlayback, ARecordingThatFillsTheDiskStopsOnceKeepingWhatFittedAndPlaybackGoesOn) {
    const QString disk = qEnvironmentVariable("DIDIRA_TEST_SMALL_DISK");
    if (disk.isEmpty())
        GTEST_SKIP() << "needs a small disk: run through tests/support/small-disk.sh";
    test::StreamTestServer station(test::StreamTestServer::TitledMp3(test::media::Mp3Loop()));
    station.SetTitle("A");
    std::vector<QString> failures;
    std::vector<bool> changes;
    const QObject scope;
    QObject::connect(control, &OleControl::RecordingFailed, &scope,
                     [&](const QString& reason) { failures.push_back(reason); });
    QObject::connect(control, &OleControl::RecordingChanged, &scope,
                     [&](bool recording) { changes.push_back(recording); });
    player.Open(station.Url());
    ASSERT_TRUE(WaitPlaying());
    const std::shared_ptr<const LiveBuffer> buffer = control->CurrentTimeShift()->Buffer();
    ASSERT_TRUE(buffer);
    folder = disk + u"/Didira"_qs;
    control->SetRecordingFolder(folder);
    const qint64 start = buffer->End();
    ASSERT_EQ(Await([&](auto reply) { return control->StartRecording(u"Station A"_qs, reply); }),
              QString());
    // Titles B, C, ... so that the files' names sort as they were written.
    for (char title = 'B'; failures.empty() && title <= 'P'; ++title) {
        test::WaitUntil([&] { return !failures.empty(); }, 2s);
        station.SetTitle(QByteArray(1, title));
    }
    ASSERT_EQ(failures.size(), 1u) << "the disk never filled";
    const qint64 end = buffer->End();
    test::Pump(1s); // no second report
    EXPECT_EQ(failures.size(), 1u);
    EXPECT_TRUE(failures[0].contains(QString::fromLocal8Bit(strerror(ENOSPC))) &&
                failures[0].contains(folder))
        << failures[0].toStdString();
    EXPECT_FALSE(control->IsRecording());
    EXPECT_EQ(changes, (std::vector<bool>{true, false}));

    // The station plays on.
    const int heard = rendered;
    test::Pump(1s);
    EXPECT_EQ(Play(), PlayState::Playing);
    EXPECT_GT(rendered, heard);
    EXPECT_GT(buffer->End(), end);

    // What fitted is kept: the files in the order written are the buffer's
    // bytes from the recording's first frame, up to the disk's end.
    const QDir dir(folder);
    const QStringList names = dir.entryList(QDir::Files, QDir::Name);
    ASSERT_GE(names.size(), 2) << names.join(u'|').toStdString();
    EXPECT_EQ(names[0], u"Station A - A.mp3"_qs);
    QByteArray recorded;
    qint64 onDisk = 0;
    for (const QString& name : names) {
        recorded += Audio(dir.filePath(name));
        onDisk += QFileInfo(dir.filePath(name)).size();
        EXPECT_TRUE(Decodes(dir.filePath(name))) << name.toStdString();
    }
    const qsizetype skipped = Read(*buffer, start, end).indexOf(recorded.first(64));
    EXPECT_TRUE(skipped >= 0 && skipped < 1500) << skipped;
    EXPECT_EQ(recorded, Read(*buffer, start + skipped, start + skipped + recorded.size()))
        << "the files are not the buffer's bytes from the start of the recording";
    EXPECT_GT(onDisk, 80 * 1024) << "the disk was not full";
}

} // namespace
} // namespace didira
