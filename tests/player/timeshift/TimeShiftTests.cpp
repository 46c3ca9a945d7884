// Pause and moves in a live station. The tap on its own: ICY framed again
// reads back as the same audio and titles, a hold sends nothing and a release
// goes on at the very byte the hold cut off, moves land by arrival time, and a
// hold longer than the buffer goes on from the oldest audio kept. Then the
// real player on a station whose titles count its 4 s parts: paused 10 s it
// goes on where it paused, not live; it moves back 5 s and goes live again.
// HLS stations (MPEG-TS, packed audio, fragmented MP4) the same, at segment
// starts, and recorded per title.
#include "../PlayerFixture.h"
#include "player/formats/TsAudio.h"
#include "player/timeshift/TimeShift.h"
#include "support/HlsTestServer.h"
#include "support/StreamTestServer.h"

#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QTimer>
#include <cstring>
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <iostream>
#include <thread>
#include <unistd.h>

// A slow disk for the live buffer's segment files, on demand: while
// slowWrites is set, each write to a file in a live buffer's folder takes
// 2 s. pwrite here takes the place of the C library's in this binary.
namespace slowdisk {
std::atomic<bool> slowWrites{false};
std::atomic<int> waiting{0}; // writes held up now
std::atomic<int> done{0};    // writes held up and done

void MaybeWait(int fd) {
    if (!slowWrites)
        return;
    char path[512] = {};
    const QByteArray link = "/proc/self/fd/" + QByteArray::number(fd);
    if (::readlink(link.constData(), path, sizeof path - 1) <= 0 || !std::strstr(path, "/live-"))
        return;
    ++waiting;
    std::this_thread::sleep_for(std::chrono::seconds(2));
    --waiting;
    ++done;
}
} // namespace slowdisk

extern "C" ssize_t pwrite(int fd, const void* bytes, size_t n, off_t at) {
    using Real = ssize_t (*)(int, const void*, size_t, off_t);
    static const auto real = reinterpret_cast<Real>(::dlsym(RTLD_NEXT, "pwrite"));
    slowdisk::MaybeWait(fd);
    return real(fd, bytes, n, at);
}

extern "C" ssize_t pwrite64(int fd, const void* bytes, size_t n, off64_t at) {
    using Real = ssize_t (*)(int, const void*, size_t, off64_t);
    static const auto real = reinterpret_cast<Real>(::dlsym(RTLD_NEXT, "pwrite64"));
    slowdisk::MaybeWait(fd);
    return real(fd, bytes, n, at);
}

namespace didira {
namespace {

using namespace std::chrono_literals;

QByteArray Pattern(qint64 from, qint64 n) {
    QByteArray bytes(n, '\0');
    for (qint64 i = 0; i < n; ++i)
        bytes[i] = char((from + i) * 7 % 251);
    return bytes;
}

// What a reader of an ICY stream takes out of it.
struct Unframed {
    QByteArray audio;
    QList<QByteArray> titles;
};
Unframed Unframe(IcyMetadataReader& reader, const QByteArray& stream) {
    Unframed out;
    qsizetype at = -1;
    if (reader.Feed(stream, &out.audio, &at))
        out.titles << reader.Title();
    return out;
}

TEST(IcyFramer, FramedAudioReadsBackAsTheSameAudioAndTitlesAlsoFromACutMidBlock) {
    IcyFramer framer(100, {100, 0}, {});
    QByteArray stream;
    framer.Frame(Pattern(0, 150), "one", &stream);
    framer.Frame(Pattern(150, 250), "two", &stream);
    IcyMetadataReader reader(100);
    QByteArray audio;
    QList<QByteArray> titles;
    // Piece by piece, as a network source hands it over.
    for (qsizetype at = 0; at < stream.size(); at += 37) {
        const Unframed piece = Unframe(reader, stream.mid(at, 37));
        audio += piece.audio;
        titles += piece.titles;
    }
    EXPECT_EQ(audio, Pattern(0, 400));
    EXPECT_EQ(titles, (QList<QByteArray>{"one", "two"}));
    EXPECT_EQ(stream.size(), 400 + 33 + 33 + 1); // two titled blocks and an empty one

    // A stream cut off inside a block goes on with that block completed.
    IcyFramer stream2(4, {0, 16}, {});
    QByteArray rest;
    stream2.Frame("abcdefgh", "x", &rest);
    EXPECT_EQ(rest, QByteArray(16, '\0') + "abcd" + '\x01' + "StreamTitle='x';" + "efgh");

    // Restarted (after a flush): a fresh interval whose block names the title
    // again, found also by a reader still holding part of an older block.
    stream2.Restart();
    rest.clear();
    stream2.Frame("ijklmnop", "x", &rest);
    ASSERT_EQ(rest.size(), 4 + 1 + 32 + 4);
    EXPECT_EQ(rest.mid(4, 1), "\x02");
    EXPECT_EQ(IcyStreamTitle("Title='y" + rest.mid(5, 32)), "x");
}

struct TapFixture : ::testing::Test {
    static constexpr std::uint32_t kInterval = 1000;
    // The station's stream: ICY framed, a title at each call.
    QByteArray Station(qint64 audioFrom, qint64 n, const QByteArray& title) {
        QByteArray out;
        station.Frame(Pattern(audioFrom, n), title, &out);
        return out;
    }
    // Sends 400 bytes of audio (with their metadata) through the tap at ms;
    // what goes downstream, unframed.
    Unframed Send(TimeShift::Tap& tap, qint64 ms, const QByteArray& title = "t") {
        const QByteArray in = Station(sent, 400, title);
        sent += 400;
        const std::optional<QByteArray> out = tap.Received(in, ms);
        return Unframe(downstream, out ? *out : in);
    }
    IcyFramer station{kInterval, {kInterval, 0}, {}};
    IcyMetadataReader downstream{kInterval};
    qint64 sent = 0;
};

TEST_F(TapFixture, AHoldSendsNothingAndAReleaseGoesOnAtTheCutMovesLandByTimeLiveAgain) {
    auto shift = TimeShift::Create(test::TempDir(), {});
    auto tap = shift->NewTap();
    tap->SetIcyInterval(kInterval);
    EXPECT_FALSE(shift->Pause()) << "nothing kept yet";
    QByteArray heard;
    for (int ms = 0; ms < 10; ++ms)
        heard += Send(*tap, ms * 100).audio;
    EXPECT_EQ(heard, Pattern(0, 4000)) << "live: as received";

    ASSERT_TRUE(shift->Pause());
    for (int ms = 10; ms < 20; ++ms)
        EXPECT_TRUE(Send(*tap, ms * 100).audio.isEmpty());
    EXPECT_EQ(shift->BehindMs(), 900);
    ASSERT_TRUE(shift->Unpause());
    // As much goes on as comes in, from the byte the hold cut off.
    for (int ms = 20; ms < 25; ++ms)
        heard += Send(*tap, ms * 100).audio;
    EXPECT_EQ(heard, Pattern(0, 6000));
    EXPECT_EQ(shift->CurrentMode(), TimeShift::Mode::Delayed);
    EXPECT_EQ(shift->BehindMs(), 900) << "the delay stays what the hold made it";

    // Back 1.2 s: the audio that arrived at 0.3 s; a new title shows there.
    ASSERT_TRUE(shift->SeekBy(-1200));
    EXPECT_EQ(shift->PositionMs(), 300);
    const Unframed back = Send(*tap, 2500, "new");
    EXPECT_EQ(back.audio, Pattern(1200, 400));
    EXPECT_EQ(back.titles, QList<QByteArray>{}) << "the old title goes on";
    // Forward past the newest: live, the stream still framed as downstream reads it.
    ASSERT_TRUE(shift->SeekBy(60000));
    EXPECT_EQ(shift->CurrentMode(), TimeShift::Mode::Live);
    Unframed live = Send(*tap, 2600, "new");
    for (int i = 0; i < 3; ++i)
        live.titles += Send(*tap, 2700 + 100 * i, "new").titles;
    EXPECT_EQ(live.audio, Pattern(sent - 1600, 400));
    EXPECT_EQ(live.titles, QList<QByteArray>{"new"});

    // A reconnection goes on live: its pipeline has nothing of the old one.
    ASSERT_TRUE(shift->SeekBy(-1000));
    auto again = shift->NewTap();
    EXPECT_EQ(shift->CurrentMode(), TimeShift::Mode::Live);
}

TEST_F(TapFixture, AHoldLongerThanTheBufferGoesOnFromTheOldestAudioKept) {
    LiveBuffer::Limits limits;
    limits.window = 1s;
    limits.segmentBytes = 4096;
    auto shift = TimeShift::Create(test::TempDir(), limits);
    auto tap = shift->NewTap(); // no ICY: the bytes are the audio
    auto send = [&](qint64 ms) {
        const QByteArray in = Pattern(sent, 400);
        sent += 400;
        const std::optional<QByteArray> out = tap->Received(in, ms);
        return out ? *out : in;
    };
    send(0);
    ASSERT_TRUE(shift->Pause());
    for (int ms = 1; ms < 100; ++ms)
        EXPECT_TRUE(send(ms * 100).isEmpty());
    EXPECT_LE(shift->LengthMs(), 1000 + 1100) << "the window and a segment";
    ASSERT_TRUE(shift->Unpause());
    const QByteArray next = send(10000);
    ASSERT_EQ(next.size(), 400);
    // The oldest kept begins a segment; the pattern names the place.
    qint64 from = -1;
    for (qint64 at = 0; at < sent; at += limits.segmentBytes)
        if (Pattern(at, 400) == next)
            from = at;
    EXPECT_GT(from, 400) << "went on at the cut, which is no longer kept";
    EXPECT_GE(sent - from, 400 * 10) << "not the oldest audio kept";
    EXPECT_LE(sent - from, 400 * 22) << "not the oldest audio kept";
}

// The segments of an HLS stream: a title noted for the next segment is
// marked at its start; a move restarts downstream at the start of the
// segment holding the time asked for, that segment given at once; going live
// restarts at the start of the newest segment.
TEST(SegmentTap, MovesRestartAtASegmentStartWithTheSegmentAtOnce) {
    auto shift = TimeShift::Create(test::TempDir(), {});
    auto tap = shift->NewSegmentTap([](const QByteArray&) { return QString(); });
    qint64 sent = 0;
    bool restart = false;
    // 100 bytes at ms; what goes downstream (none: the bytes as received).
    auto send = [&](qint64 ms, bool segmentStart) {
        const QByteArray in = Pattern(sent, 100);
        sent += 100;
        return tap->Received(in, ms, segmentStart, &restart);
    };
    // Five segments of four pieces, a second apart.
    for (int segment = 0; segment < 5; ++segment) {
        if (segment == 3)
            shift->NoteSegmentTitle(u"B"_qs);
        for (int piece = 0; piece < 4; ++piece)
            EXPECT_EQ(send(segment * 1000 + piece, piece == 0), std::nullopt);
    }
    EXPECT_EQ(shift->Buffer()->TitleAt(1199), QString());
    EXPECT_EQ(shift->Buffer()->TitleAt(1200), u"B"_qs);

    // 2.5 s back from 4.003 s: into the segment that came at 1 s.
    ASSERT_TRUE(shift->SeekBy(-2500));
    EXPECT_EQ(send(5000, true), Pattern(400, 400));
    EXPECT_TRUE(restart);
    EXPECT_EQ(send(5001, false), Pattern(800, 100));
    EXPECT_FALSE(restart);

    // Live: the newest segment (from 2000, as far as it came) at once.
    ASSERT_TRUE(shift->GoLive());
    EXPECT_EQ(send(5002, false), Pattern(2000, 300));
    EXPECT_TRUE(restart);
    EXPECT_EQ(send(5003, false), std::nullopt);
    EXPECT_FALSE(restart);
}

// --- The real player -----------------------------------------------------

class TimeShiftPlayback : public test::PlayerFixture {
protected:
    void SetUp() override {
        if (!test::media::Available())
            GTEST_SKIP() << "ffmpeg is needed to make the test streams";
        test::PlayerFixture::SetUp();
        root = test::TempDir();
        control->SetTimeShiftLimits(root, {});
    }
    QString root;
};

// Every title the control reports, with when.
struct Titles {
    explicit Titles(OleControl* control)
        : connection(QObject::connect(control, &OleControl::TitleChanged, control,
                                      [this](const QString& t) {
                                          log.push_back({t, clock.elapsed()});
                                      })) {
        clock.start();
    }
    ~Titles() { QObject::disconnect(connection); }
    QString Last() const { return log.empty() ? QString() : log.back().first; }
    qint64 Since(const QString& title) const {
        for (const auto& [t, ms] : log)
            if (t == title)
                return ms;
        return -1;
    }
    bool WaitFor(const QString& title, std::chrono::milliseconds bound) {
        return test::WaitUntil([&] { return Last() == title; }, bound);
    }
    QElapsedTimer clock;
    QMetaObject::Connection connection;
    std::vector<std::pair<QString, qint64>> log;
};

// The title of what reaches the output: the demuxer's tags travel with the
// audio they precede.
class HeardTitle {
public:
    explicit HeardTitle(GstElement* playbin) {
        GstElement* sink = nullptr;
        g_object_get(playbin, "audio-sink", &sink, nullptr);
        m_pad.reset(gst_element_get_static_pad(sink, "sink"));
        gst_object_unref(sink);
        m_probe = gst_pad_add_probe(m_pad.get(), GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM, &OnEvent,
                                    this, nullptr);
    }
    ~HeardTitle() { gst_pad_remove_probe(m_pad.get(), m_probe); }
    HeardTitle(const HeardTitle&) = delete;
    HeardTitle& operator=(const HeardTitle&) = delete;
    std::atomic<int> number{-1};

private:
    static GstPadProbeReturn OnEvent(GstPad*, GstPadProbeInfo* info, gpointer data) {
        GstEvent* event = GST_PAD_PROBE_INFO_EVENT(info);
        GstTagList* tags = nullptr;
        const gchar* title = nullptr;
        if (GST_EVENT_TYPE(event) == GST_EVENT_TAG && (gst_event_parse_tag(event, &tags), true) &&
            gst_tag_list_peek_string_index(tags, GST_TAG_TITLE, 0, &title) && title)
            static_cast<HeardTitle*>(data)->number = QByteArray(title).toInt();
        return GST_PAD_PROBE_OK;
    }
    gst::PadPtr m_pad;
    gulong m_probe = 0;
};

// Resident memory of this process, in KiB.
qint64 ResidentKiB() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    return -1;
}

qint64 BytesUnder(const QString& root) {
    qint64 bytes = 0;
    QDirIterator files(root, QDir::Files, QDirIterator::Subdirectories);
    while (files.hasNext())
        bytes += QFileInfo(files.next()).size();
    return bytes;
}

TEST_F(TimeShiftPlayback, PausedTenSecondsItGoesOnWherePausedMovesBackAndGoesLive) {
    // Parts of 4 s, titled by their number: a title tells where the stream is.
    test::StreamTestServer::Options options;
    const QByteArray part = test::media::Mp3Loop();
    for (int i = 0; i < 12; ++i) {
        options.loop.push_back(part);
        options.titles.push_back(QByteArray::number(i));
    }
    options.bytesPerSecond = 128000 / 8;
    const qint64 partMs = part.size() * 1000 / options.bytesPerSecond;
    test::StreamTestServer station(options);
    Titles titles(control);
    HeardTitle heardTitle(control->Pipeline());
    EXPECT_FALSE(control->CanSeek());
    player.Open(station.Url());
    ASSERT_TRUE(WaitPlaying());
    ASSERT_TRUE(titles.WaitFor(u"2"_qs, 20s));
    ASSERT_TRUE(control->CanSeek());
    test::Pump(1500ms);

    // Paused: nothing is heard, the state is Paused, reception goes on.
    const QString paused = titles.Last();
    const qint64 pausedAt = titles.clock.elapsed();
    const qint64 intoPart = pausedAt - titles.Since(paused);
    const qint64 residentBefore = ResidentKiB();
    ASSERT_TRUE(control->Pause());
    EXPECT_TRUE(control->Pause()) << "paused already";
    test::Pump(500ms);
    const int heard = rendered;
    test::Pump(9500ms);
    EXPECT_EQ(Play(), PlayState::Paused);
    EXPECT_EQ(rendered.load(), heard) << "heard while paused";
    EXPECT_NEAR(control->BehindLiveMs(), 10000, 700);
    EXPECT_EQ(titles.Last(), paused) << "the title of what was paused stays";
    const int heardAtPause = heardTitle.number;
    std::cout << "[figures] paused 10 s: resident +" << ResidentKiB() - residentBefore
              << " KiB, buffer " << BytesUnder(root) / 1024 << " KiB on disk\n";

    // Resumed: the next part's title comes when the paused part has played out.
    const qint64 resumedAt = titles.clock.elapsed();
    ASSERT_TRUE(control->Unpause());
    QElapsedTimer sinceResume;
    sinceResume.start();
    ASSERT_TRUE(test::WaitUntil([&] { return rendered > heard; }, 5s));
    const qint64 resumeToSound = sinceResume.elapsed();
    ASSERT_TRUE(WaitPlaying(5s));
    EXPECT_EQ(heardTitle.number, heardAtPause) << "heard elsewhere than where it paused";
    const QString next = QString::number(paused.toInt() + 1);
    ASSERT_TRUE(titles.WaitFor(next, 8s)) << "now " << titles.Last().toStdString();
    // Titles are marked, and framed again, at metadata blocks 0.5 s apart.
    const qint64 after = titles.Since(next) - resumedAt;
    EXPECT_GE(after, partMs - intoPart - 700) << "resumed elsewhere than where it paused";
    EXPECT_LE(after, partMs - intoPart + 1200) << "resumed elsewhere than where it paused";
    EXPECT_GT(rendered.load(), heard);

    // Back 5 s: an earlier part, and 15 s behind live.
    ASSERT_TRUE(control->SeekBy(-5000));
    EXPECT_TRUE(test::WaitUntil([&] { return titles.Last().toInt() < next.toInt(); }, 3s))
        << "now " << titles.Last().toStdString();
    EXPECT_NEAR(control->BehindLiveMs(), 15000, 1000);
    // Live: the newest part again, and within a second of the newest audio.
    const int liveTitle = paused.toInt() + 4; // 4 s parts, 16 s after the pause
    ASSERT_TRUE(control->GoLive());
    QElapsedTimer sinceLive;
    sinceLive.start();
    EXPECT_LT(control->BehindLiveMs(), 1000);
    EXPECT_TRUE(test::WaitUntil([&] { return titles.Last().toInt() >= paused.toInt() + 3; }, 3s))
        << "now " << titles.Last().toStdString();
    EXPECT_EQ(Play(), PlayState::Playing);
    EXPECT_TRUE(test::WaitUntil([&] { return heardTitle.number >= liveTitle; }, 3s))
        << "heard " << heardTitle.number << ", live " << liveTitle;
    const qint64 liveToSound = sinceLive.elapsed();
    // Heard near the live edge: the next title the station sends is heard
    // within about the lead, not after the seconds the network queue held.
    auto buffer = control->CurrentTimeShift()->Buffer();
    ASSERT_TRUE(buffer);
    const QString received = buffer->TitleAt(buffer->End() - 1);
    ASSERT_TRUE(
        test::WaitUntil([&] { return buffer->TitleAt(buffer->End() - 1) != received; }, 6s));
    QElapsedTimer sinceReceived;
    sinceReceived.start();
    const int newest = buffer->TitleAt(buffer->End() - 1).toInt();
    ASSERT_TRUE(test::WaitUntil([&] { return heardTitle.number >= newest; }, 6s));
    const qint64 behind = sinceReceived.elapsed();
    EXPECT_LT(behind, TimeShift::kLeadMs + 750) << "heard behind the live edge";
    std::cout << "[figures] resume to sound " << resumeToSound << " ms; live heard after "
              << liveToSound << " ms; then " << behind << " ms behind the newest audio\n";
    buffer.reset();

    // Cancel drops the buffer with its files.
    EXPECT_EQ(QDir(root).entryList(QDir::Dirs | QDir::NoDotAndDotDot).size(), 1);
    player.Cancel();
    EXPECT_FALSE(control->CurrentTimeShift());
    EXPECT_FALSE(control->CanSeek());
    EXPECT_TRUE(test::WaitUntil(
        [&] { return QDir(root).entryList(QDir::Dirs | QDir::NoDotAndDotDot).isEmpty(); }, 5s));
}

// The cache folder taken away under a station (the live folder removed, a
// link put where the cache root was): nothing crashes, a recording stops
// and says why, pause and moves are refused with the reason, the station
// plays on; once the folder can be made again, a new buffer is kept. An MP3
// station recording, an HLS station paused.
class LostLiveFolder : public TimeShiftPlayback {
protected:
    void SetUp() override {
        TimeShiftPlayback::SetUp();
        if (IsSkipped())
            return;
        LiveBuffer::Limits limits;
        limits.segmentBytes = 16 * 1024; // a new segment file about every second
        control->SetTimeShiftLimits(root, limits);
    }
    void TakeTheFolderAway() {
        ASSERT_TRUE(QDir(root).removeRecursively());
        ASSERT_TRUE(QFile::link(test::TempDir(), root));
        ASSERT_TRUE(test::WaitUntil([&] { return !control->LiveProblem().isEmpty(); }, 10s));
    }
    void ExpectRefusedThenBack() {
        // A new buffer is tried once a segment's worth of bytes has come.
        EXPECT_TRUE(test::WaitUntil(
            [&] { return control->LiveProblem().contains(u"is not a folder"_qs); }, 5s))
            << control->LiveProblem().toStdString();
        EXPECT_FALSE(control->CanSeek());
        EXPECT_FALSE(control->SeekBy(-1000));
        EXPECT_FALSE(control->StartRecording(u"S"_qs, [](const QString&) {}));
        ASSERT_TRUE(QFile::remove(root));
        ASSERT_TRUE(test::WaitUntil([&] { return control->CanSeek(); }, 15s))
            << "no buffer once the folder could be made again";
        EXPECT_TRUE(control->LiveProblem().isEmpty());
        ASSERT_TRUE(control->Pause());
        test::Pump(1s);
        EXPECT_EQ(Play(), PlayState::Paused);
        ASSERT_TRUE(control->Unpause());
        EXPECT_TRUE(WaitPlaying(10s));
        EXPECT_EQ(control->ReconnectCount(), 0);
    }
};

TEST_F(LostLiveFolder, ARecordingStopsAndSaysWhyTheStationPlaysOnAndTheBufferComesBack) {
    test::StreamTestServer station(test::StreamTestServer::TitledMp3(test::media::Mp3Loop()));
    station.SetTitle("A");
    const QString folder = test::TempDir() + u"/Didira"_qs;
    control->SetRecordingFolder(folder);
    std::vector<QString> failures;
    std::vector<bool> changes;
    const QObject scope;
    QObject::connect(control, &OleControl::RecordingFailed, &scope,
                     [&](const QString& reason) { failures.push_back(reason); });
    QObject::connect(control, &OleControl::RecordingChanged, &scope,
                     [&](bool recording) { changes.push_back(recording); });
    player.Open(station.Url());
    ASSERT_TRUE(WaitPlaying());
    ASSERT_TRUE(test::WaitUntil([&] { return control->CanSeek(); }, 10s));
    auto started = std::make_shared<std::optional<QString>>();
    ASSERT_TRUE(
        control->StartRecording(u"Station A"_qs, [started](const QString& e) { *started = e; }));
    ASSERT_TRUE(test::WaitUntil([&] { return started->has_value(); }, 10s));
    ASSERT_EQ(started->value(), QString());
    test::Pump(2s);

    TakeTheFolderAway();
    ASSERT_TRUE(test::WaitUntil([&] { return !failures.empty(); }, 5s)) << "told nothing";
    EXPECT_TRUE(failures[0].contains(u"live buffer"_qs)) << failures[0].toStdString();
    EXPECT_FALSE(control->IsRecording());
    EXPECT_EQ(changes, (std::vector<bool>{true, false}));
    const QStringList files = QDir(folder).entryList(QDir::Files);
    ASSERT_EQ(files.size(), 1);
    EXPECT_GT(QFileInfo(folder + u'/' + files[0]).size(), 16000) << "what was kept not written";
    const int heard = rendered;
    test::Pump(1s);
    EXPECT_EQ(Play(), PlayState::Playing);
    EXPECT_GT(rendered, heard) << "the station stopped with its buffer";
    ExpectRefusedThenBack();
    EXPECT_EQ(failures.size(), 1u);
}

TEST_F(LostLiveFolder, APausedHlsStationStaysPausedAndResumesWithoutCrashing) {
    test::HlsTestServer server(test::media::HlsKind::MpegTsTimedId3);
    if (!server.Ready())
        GTEST_SKIP() << "ffmpeg made no segments";
    player.Open(server.Url());
    ASSERT_TRUE(WaitPlaying());
    ASSERT_TRUE(test::WaitUntil([&] { return control->CanSeek(); }, 10s));
    test::Pump(1s);
    ASSERT_TRUE(control->Pause());
    test::Pump(1s);
    TakeTheFolderAway();
    test::Pump(4s); // segments come on, with no buffer to keep them
    EXPECT_EQ(Play(), PlayState::Paused);
    EXPECT_FALSE(control->CanSeek());
    ASSERT_TRUE(control->Unpause());
    ASSERT_TRUE(WaitPlaying(10s));
    const int heard = rendered;
    test::Pump(2s);
    EXPECT_GT(rendered, heard);
    ExpectRefusedThenBack();
    EXPECT_TRUE(boxes.empty()) << (boxes.empty() ? "" : boxes[0].text.toStdString());
}

// A hostile station: a new 4000-byte title in every metadata block. Below
// the smallest interval taken for titles (16) it plays without any; at 1024
// the titles are taken, and the marks kept are bounded a minute (the latest
// title in effect). Either way the audio kept is the audio alone.
TEST_F(TimeShiftPlayback, AStationWithANewLongTitleInEveryBlockPlaysWithBoundedMarks) {
    for (const int interval : {16, 1024}) {
        SCOPED_TRACE(interval);
        test::StreamTestServer::Options options =
            test::StreamTestServer::TitledMp3(test::media::Mp3Loop());
        options.metaInterval = interval;
        options.newTitleBytes = 4000;
        test::StreamTestServer station(options);
        int titles = 0;
        const QObject scope;
        QObject::connect(control, &OleControl::TitleChanged, &scope,
                         [&](const QString& t) { titles += t.isEmpty() ? 0 : 1; });
        ExpectHeard(station.Url(), 20s);
        test::Pump(3s);
        EXPECT_EQ(Play(), PlayState::Playing);
        ASSERT_TRUE(control->CurrentTimeShift()->Buffer());
        const auto buffer = control->CurrentTimeShift()->Buffer();
        const std::vector<LiveBuffer::Mark> marks = buffer->MarksIn(-1, buffer->End());
        EXPECT_GT(station.TitlesSent(), 30);
        if (interval < int(IcyMetadataReader::kMinTitledInterval)) {
            EXPECT_EQ(titles, 0);
            EXPECT_TRUE(marks.empty());
        } else {
            EXPECT_GT(titles, 0);
            EXPECT_LE(marks.size(), std::size_t(LiveBuffer::kMarksPerMinute) + 1);
            EXPECT_FALSE(buffer->TitleAt(buffer->End() - 1).isEmpty());
        }
        // Only audio kept: MP3 frames end to end from the first.
        QByteArray kept(buffer->End() - buffer->Begin(), '\0');
        ASSERT_EQ(buffer->Read(buffer->Begin(), kept.data(), kept.size()), kept.size());
        EXPECT_FALSE(kept.contains("StreamTitle")) << "metadata kept as audio";
        player.Cancel();
    }
}

// A slow disk (2 s a write) never holds up what the window and MPRIS ask
// once a second, nor the listener's moves: asked while a write waits, each
// answers before that write is done, and a one-second status poll keeps its
// pace.
TEST_F(TimeShiftPlayback, ASlowDiskNeverHoldsUpTheQuestionsAskedOnTheUiThread) {
    test::StreamTestServer station(test::StreamTestServer::TitledMp3(test::media::Mp3Loop()));
    player.Open(station.Url());
    ASSERT_TRUE(WaitPlaying());
    ASSERT_TRUE(test::WaitUntil([&] { return control->CanSeek(); }, 10s));
    test::Pump(2s);
    // Kept on the clock since boot (a step of the wall clock moves nothing),
    // the wall time beside it for names.
    const auto buffer = control->CurrentTimeShift()->Buffer();
    EXPECT_NEAR(double(buffer->TimeAt(buffer->End() - 1)), double(TimeShift::NowMs()), 3000);
    EXPECT_GT(std::abs(TimeShift::NowMs() - QDateTime::currentMSecsSinceEpoch()), 1000000);
    EXPECT_NEAR(double(buffer->WallTimeAt(buffer->End() - 1)),
                double(QDateTime::currentMSecsSinceEpoch()), 3000);
    slowdisk::slowWrites = true;
    ASSERT_TRUE(test::WaitUntil([] { return slowdisk::waiting > 0; }, 5s)) << "no write held up";
    const int doneBefore = slowdisk::done;
    EXPECT_TRUE(control->CanSeek());
    EXPECT_GT(control->PositionMs(), 0);
    control->BehindLiveMs();
    EXPECT_TRUE(control->LiveProblem().isEmpty());
    EXPECT_TRUE(control->SeekBy(-1000));
    EXPECT_GT(control->BehindLiveMs(), 0);
    EXPECT_EQ(slowdisk::done.load(), doneBefore) << "a question waited for the disk";

    // The status fields' pace: a tick a second for 5 s, each answered.
    QElapsedTimer clock;
    clock.start();
    qint64 last = 0;
    qint64 longest = 0;
    int ticks = 0;
    QTimer poll;
    poll.setInterval(1000);
    QObject::connect(&poll, &QTimer::timeout, &poll, [&] {
        player.GetPlayState();
        player.GetOpenState();
        player.GetBandwidth();
        control->CanSeek();
        control->PositionMs();
        control->BehindLiveMs();
        longest = std::max(longest, clock.elapsed() - last);
        last = clock.elapsed();
        ++ticks;
    });
    poll.start();
    test::Pump(5500ms);
    slowdisk::slowWrites = false;
    EXPECT_GE(ticks, 5);
    EXPECT_LT(longest, 1900) << "the one-second poll was held up";
    EXPECT_GT(slowdisk::done.load(), doneBefore);
    player.Cancel();
}

// An Ogg move is flushed and heard at once, within the chain the demuxer is
// in and into another (where the demuxer keeps its chain and is given the
// other chain's headers); the station plays on steadily after it, with no
// decoding error, gap or reconnection, also across the chain changes after.
TEST_F(TimeShiftPlayback, APauseOutlastsADropAndASleepAndResumesWhereItWas) {
    // Parts of 4 s, titled by their number: a title tells where the stream is.
    test::StreamTestServer::Options options;
    const QByteArray part = test::media::Mp3Loop();
    for (int i = 0; i < 12; ++i) {
        options.loop.push_back(part);
        options.titles.push_back(QByteArray::number(i));
    }
    options.bytesPerSecond = 128000 / 8;
    test::StreamTestServer station(options);
    control->SetReconnectDelays({300});
    const auto reset = [&] { station.ResetConnections(); };
    const struct {
        const char* what;
        std::function<void()> happen;
        bool placeKept = true; // else a buffer of 3 s: the paused place goes meanwhile
    } whiles[] = {
        {"the connection is reset", reset},
        {"the system sleeps and wakes",
         [&] {
             control->Suspend();
             test::Pump(500ms);
             control->Resume();
         }},
        {"the connection is reset, the place lost", reset, false},
    };
    for (const auto& c : whiles) {
        SCOPED_TRACE(c.what);
        LiveBuffer::Limits limits;
        if (!c.placeKept) {
            limits.window = 3s;
            limits.segmentBytes = 16 << 10;
        }
        control->SetTimeShiftLimits(root, limits);
        QStringList notices;
        const QMetaObject::Connection told =
            QObject::connect(control, &OleControl::PlaybackNotice, control,
                             [&](const QString& text) { notices << text; });
        Titles titles(control);
        player.Cancel();
        player.Open(station.Url());
        ASSERT_TRUE(WaitPlaying());
        HeardTitle heardTitle(control->Pipeline());
        ASSERT_TRUE(test::WaitUntil([&] { return heardTitle.number >= 1; }, 20s));
        test::Pump(1500ms);
        ASSERT_TRUE(control->Pause());
        test::Pump(500ms);
        const int heardAtPause = heardTitle.number;
        const int heard = rendered;
        const int connections = station.Connections();

        c.happen();
        bool stayedPaused = true;
        EXPECT_TRUE(test::WaitUntil(
            [&] {
                stayedPaused = stayedPaused && Play() == PlayState::Paused;
                return station.Connections() > connections;
            },
            15s))
            << "no new connection";
        test::Pump(c.placeKept ? 3s : 6s); // the new connection is kept
        stayedPaused = stayedPaused && Play() == PlayState::Paused;
        EXPECT_TRUE(stayedPaused) << Play();
        EXPECT_EQ(rendered.load(), heard) << "heard while paused";
        EXPECT_TRUE(control->CanSeek());
        EXPECT_GT(control->BehindLiveMs(), c.placeKept ? 3000 : 1500)
            << "the new connection was not kept";

        ASSERT_TRUE(control->Unpause());
        EXPECT_TRUE(WaitPlaying(8s)) << Play();
        EXPECT_TRUE(test::WaitUntil([&] { return rendered > heard; }, 5s));
        EXPECT_GT(control->BehindLiveMs(), c.placeKept ? 2000 : 1000) << "went live";
        if (c.placeKept) {
            EXPECT_EQ(heardTitle.number, heardAtPause) << "heard elsewhere than where it paused";
            EXPECT_EQ(notices, QStringList());
        } else {
            EXPECT_GE(heardTitle.number, heardAtPause);
            EXPECT_EQ(notices.size(), 1) << "the lost place was not told";
        }
        QObject::disconnect(told);
    }
}

TEST_F(TimeShiftPlayback, OggMovesFlushWithinAChainAndPlayOnAcrossChains) {
    const std::vector<QByteArray> tracks = test::media::OggChain();
    ASSERT_EQ(tracks.size(), 2u);
    for (const bool chained : {false, true}) {
        SCOPED_TRACE(chained ? "two chains" : "one chain");
        test::StreamTestServer::Options options;
        options.contentType = "application/ogg";
        const QByteArray single = chained ? QByteArray() : test::media::OggTrack(40);
        options.loop = chained ? tracks : std::vector<QByteArray>{single};
        options.metaInterval = 0;
        options.bytesPerSecond =
            static_cast<int>(chained ? tracks[0].size() / 3 : single.size() / 40);
        test::StreamTestServer station(options);
        player.Open(station.Url());
        ASSERT_TRUE(WaitPlaying());
        std::atomic<int> flushes{0};
        GstElement* sink = nullptr;
        g_object_get(control->Pipeline(), "audio-sink", &sink, nullptr);
        gst::PadPtr pad{gst_element_get_static_pad(sink, "sink")};
        gst_object_unref(sink);
        const gulong probe = gst_pad_add_probe(
            pad.get(), GST_PAD_PROBE_TYPE_EVENT_FLUSH,
            [](GstPad*, GstPadProbeInfo* info, gpointer data) {
                if (GST_EVENT_TYPE(GST_PAD_PROBE_INFO_EVENT(info)) == GST_EVENT_FLUSH_STOP)
                    ++*static_cast<std::atomic<int>*>(data);
                return GST_PAD_PROBE_OK;
            },
            &flushes, nullptr);
        test::Pump(4s);
        for (const bool live : {false, true}) {
            SCOPED_TRACE(live ? "live" : "back");
            const int flushedBefore = outputFlushes;
            QElapsedTimer sinceMove;
            sinceMove.start();
            ASSERT_TRUE(live ? control->GoLive() : control->SeekBy(-4000));
            // Heard at once: what downstream held is dropped, the new place follows.
            ASSERT_TRUE(test::WaitUntil([&] { return outputFlushes > flushedBefore; }, 3s));
            const int flushed = rendered;
            EXPECT_TRUE(test::WaitUntil([&] { return rendered > flushed + 4410; }, 1500ms));
            std::cout << "[figures] Ogg, " << (chained ? "two chains" : "one chain") << ", "
                      << (live ? "live" : "back") << ": move to sound " << sinceMove.elapsed()
                      << " ms, " << control->BehindLiveMs() << " ms behind live\n";
            const int before = rendered;
            ExpectSteady(station.Url(), 6s);
            EXPECT_GT(rendered.load(), before) << (live ? "live" : "back") << ": not heard";
            EXPECT_EQ(Play(), PlayState::Playing);
        }
        gst_pad_remove_probe(pad.get(), probe);
        EXPECT_EQ(flushes.load(), 2) << "moves not flushed";
        EXPECT_EQ(player.GetErrorCode(), 0);
        player.Cancel();
    }
}

// HLS: what the demuxer sends on is kept. Paused, the segments keep coming
// and nothing is heard; resumed it plays on from the pause; a move back
// lands on an earlier segment and plays on; live again; then recorded.
class HlsTimeShift : public TimeShiftPlayback,
                     public ::testing::WithParamInterface<test::media::HlsKind> {
protected:
    void ExpectRecordedPerTitle();
};

TEST_P(HlsTimeShift, PausedTheSegmentsAreKeptAndItResumesMovesBackAndGoesLive) {
    test::HlsTestServer server(GetParam());
    if (!server.Ready())
        GTEST_SKIP() << "ffmpeg made no segments";
    player.Open(server.Url());
    ASSERT_TRUE(WaitPlaying());
    ASSERT_TRUE(test::WaitUntil([&] { return control->CanSeek(); }, 10s));
    test::Pump(2s);

    const auto buffered = [&] { return control->CurrentTimeShift()->Buffer()->End(); };
    const qint64 keptAtPause = buffered();
    ASSERT_TRUE(control->Pause());
    test::Pump(500ms);
    const int heard = rendered;
    test::Pump(6s);
    EXPECT_EQ(Play(), PlayState::Paused);
    EXPECT_EQ(rendered.load(), heard) << "heard while paused";
    EXPECT_GT(buffered(), keptAtPause + 20000) << "the segments stopped coming";
    EXPECT_GT(control->BehindLiveMs(), 3000);

    ASSERT_TRUE(control->Unpause());
    ASSERT_TRUE(test::WaitUntil([&] { return rendered > heard; }, 5s));
    ASSERT_TRUE(WaitPlaying(5s));
    const qint64 behind = control->BehindLiveMs();
    EXPECT_GT(behind, 3000) << "resumed live, not where paused";

    // Back 3 s: an earlier segment's start, and it plays on.
    const qint64 position = control->PositionMs();
    ASSERT_TRUE(control->SeekBy(-3000));
    EXPECT_LE(control->PositionMs(), std::max<qint64>(position - 3000, 0));
    EXPECT_GE(control->BehindLiveMs(), behind + 2500);
    // Heard at once: what downstream held is dropped, and it plays on.
    QElapsedTimer sinceMove;
    sinceMove.start();
    EXPECT_TRUE(test::WaitUntil([&] { return outputFlushes > 0; }, 3s))
        << "the move was not restarted";
    const int flushed = rendered;
    EXPECT_TRUE(test::WaitUntil([&] { return rendered > flushed + 4800; }, 1500ms));
    std::cout << "[figures] HLS move to sound " << sinceMove.elapsed() << " ms\n";
    const int beforeMove = rendered;
    test::Pump(4s);
    EXPECT_EQ(Play(), PlayState::Playing);
    EXPECT_GT(rendered - beforeMove, 48000 * 2 * 2) << "little heard after the move";

    // Live: from the newest segment.
    ASSERT_TRUE(control->GoLive());
    EXPECT_LT(control->BehindLiveMs(), 1000);
    const int beforeLive = rendered;
    EXPECT_TRUE(test::WaitUntil([&] { return outputFlushes > 1; }, 3s))
        << "going live not restarted";
    test::Pump(4s);
    EXPECT_EQ(Play(), PlayState::Playing);
    EXPECT_GT(rendered - beforeLive, 48000 * 2 * 2) << "little heard once live";
    EXPECT_LT(control->BehindLiveMs(), 2500);
    EXPECT_TRUE(boxes.empty()) << (boxes.empty() ? "" : boxes[0].text.toStdString());
    ExpectRecordedPerTitle();
}

// Records across title changes (segments of 2 s titled in turn): the files
// decode and their audio is the segments' audio, each byte once; fragmented
// MP4 is refused with its reason.
void HlsTimeShift::ExpectRecordedPerTitle() {
    const QString folder = test::TempDir() + u"/Didira"_qs;
    control->SetRecordingFolder(folder);
    QString failed;
    const QObject scope;
    QObject::connect(control, &OleControl::RecordingFailed, &scope,
                     [&](const QString& why) { failed = why; });
    const std::shared_ptr<const LiveBuffer> buffer = control->CurrentTimeShift()->Buffer();
    const qint64 start = buffer->End();
    auto started = std::make_shared<std::optional<QString>>();
    ASSERT_TRUE(
        control->StartRecording(u"HLS FM"_qs, [started](const QString& e) { *started = e; }));
    ASSERT_TRUE(test::WaitUntil([&] { return started->has_value(); }, 10s));
    if (GetParam() == test::media::HlsKind::Fmp4) {
        EXPECT_TRUE(started->value().contains(u"MP4"_qs)) << started->value().toStdString();
        EXPECT_FALSE(control->IsRecording());
        return;
    }
    EXPECT_EQ(started->value(), QString());
    test::Pump(9s); // titles change 2 s and 4 s apart in turn: at least two changes
    ASSERT_TRUE(control->StopRecording());
    const QDir dir(folder);
    const auto files = [&] { return dir.entryInfoList(QDir::Files, QDir::Name); };
    for (int i = 0, size = -1; i < 20; ++i) { // bounded: until the files stop growing
        test::Pump(300ms);
        int now = 0;
        for (const QFileInfo& file : files())
            now += static_cast<int>(file.size());
        if (std::exchange(size, now) == now)
            break;
    }
    EXPECT_TRUE(failed.isEmpty()) << failed.toStdString();
    const qint64 end = buffer->End(); // the last bytes were written after the stop

    // The audio of what was kept, from the segment the recording began in.
    const qint64 from =
        GetParam() == test::media::HlsKind::PackedAudio ? start : buffer->EntryAtOrBefore(start);
    QByteArray kept(end - from, '\0');
    kept.resize(std::max<qint64>(buffer->Read(from, kept.data(), kept.size()), 0));
    if (GetParam() != test::media::HlsKind::PackedAudio) {
        TsAudio ts;
        QByteArray audio;
        for (qsizetype at = 0; at + TsAudio::kPacketSize <= kept.size(); at += TsAudio::kPacketSize)
            ts.Packet(reinterpret_cast<const unsigned char*>(kept.constData() + at), &audio);
        kept = audio;
    }
    // Each file a run of it, the runs end to end.
    std::map<qsizetype, qsizetype> runs;
    QStringList names;
    for (const QFileInfo& info : files()) {
        QFile file(info.filePath());
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        const QByteArray audio = file.readAll();
        names << info.fileName();
        const qsizetype at = kept.indexOf(audio);
        ASSERT_TRUE(audio.size() > 1000 && at >= 0) << info.fileName().toStdString();
        runs[at] = audio.size();
        QString error;
        const QStringList codecs = test::media::AudioCodecs(info.filePath(), &error);
        EXPECT_TRUE(codecs.size() == 1 && codecs[0].contains(u"AAC"_qs))
            << info.fileName().toStdString() << ": " << codecs.join(u", "_qs).toStdString()
            << error.toStdString();
    }
    EXPECT_GE(runs.size(), 2u) << names.join(u", "_qs).toStdString();
    EXPECT_TRUE(names.contains(u"HLS FM - "_qs + QString::fromUtf16(test::media::kHlsSecondTitle) +
                               u".aac"_qs))
        << names.join(u", "_qs).toStdString();
    for (auto run = runs.begin(); std::next(run) != runs.end(); ++run)
        EXPECT_EQ(run->first + run->second, std::next(run)->first)
            << "audio lost or doubled between two files";
    // It begins at the newest byte when its thread starts: a segment (2 s,
    // 24 KB of audio at 96 kbit/s) may have come at once since `start`.
    EXPECT_LT(runs.begin()->first, 32000) << "the recording began late";
}

INSTANTIATE_TEST_SUITE_P(Kinds, HlsTimeShift,
                         ::testing::Values(test::media::HlsKind::MpegTsTimedId3,
                                           test::media::HlsKind::PackedAudio,
                                           test::media::HlsKind::Fmp4));

} // namespace
} // namespace didira
