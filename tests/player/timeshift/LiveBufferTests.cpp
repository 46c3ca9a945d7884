// The live buffer: bytes come back as they went in across segments, with the
// time and title of each place; the window and the byte cap drop the oldest
// whole segments; a refused write keeps what was kept; leftovers of ended
// processes go, a live process's stay, and links and others' folders are
// never followed.
#include "player/formats/OggHeaderPages.h"
#include "player/timeshift/LiveBuffer.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QProcess>
#include <csignal>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace didira {
namespace {

QByteArray Pattern(qint64 from, qint64 n) {
    QByteArray bytes(n, '\0');
    for (qint64 i = 0; i < n; ++i)
        bytes[i] = char((from + i) * 7 % 251);
    return bytes;
}

QByteArray ReadAll(const LiveBuffer& buffer, qint64 from) {
    QByteArray out(buffer.End() - from, '\0');
    const qint64 n = buffer.Read(from, out.data(), out.size());
    return n < 0 ? QByteArray("<failed>") : out.left(n);
}

LiveBuffer::Limits Small(std::chrono::milliseconds window) {
    LiveBuffer::Limits limits;
    limits.window = window;
    limits.segmentBytes = 4096;
    return limits;
}

TEST(LiveBuffer, KeepsBytesTimesAndTitlesAtTheirPlace) {
    auto buffer = LiveBuffer::Create(test::TempDir(), Small(std::chrono::minutes(1)));
    ASSERT_TRUE(buffer);
    buffer->MarkTitle("one", 0);
    // 1000 bytes a second for ten seconds, across several segments.
    for (qint64 s = 0; s < 10; ++s) {
        ASSERT_TRUE(buffer->Append(Pattern(s * 1000, 1000), s * 1000));
        if (s == 6)
            buffer->MarkTitle("two", s * 1000);
    }
    EXPECT_EQ(buffer->Begin(), 0);
    EXPECT_EQ(buffer->End(), 10000);
    EXPECT_EQ(ReadAll(*buffer, 0), Pattern(0, 10000));
    EXPECT_EQ(ReadAll(*buffer, 4090), Pattern(4090, 5910)); // across a segment's end

    const struct {
        qint64 offset, time;
        const char* title;
    } places[] = {{0, 0, "one"},
                  {3999, 3000, "one"},
                  {6999, 6000, "one"},
                  {7000, 7000, "two"},
                  {9999, 9000, "two"}};
    for (const auto& p : places) {
        EXPECT_EQ(buffer->TimeAt(p.offset), p.time) << p.offset;
        EXPECT_EQ(buffer->TitleAt(p.offset), p.title) << p.offset;
    }
    EXPECT_EQ(buffer->OffsetAt(4500), 5000);
    EXPECT_EQ(buffer->OffsetAt(-5), 0);
    EXPECT_EQ(buffer->OffsetAt(99000), 10000);
    EXPECT_EQ(buffer->TimeAt(10000), -1);

    const QString dir = buffer->Directory();
    buffer.reset();
    EXPECT_FALSE(QDir(dir).exists());
}

TEST(LiveBuffer, DropsWholeOldSegmentsBeyondTheWindowOrTheCap) {
    auto buffer = LiveBuffer::Create(test::TempDir(), Small(std::chrono::seconds(5)));
    ASSERT_TRUE(buffer);
    for (qint64 s = 0; s < 40; ++s) {
        if (s % 10 == 0)
            buffer->MarkTitle(QStringLiteral("t%1").arg(s), s * 1000);
        ASSERT_TRUE(buffer->Append(Pattern(s * 1000, 1000), s * 1000));
    }
    // Everything of the last five seconds is kept, and at most a segment more.
    const qint64 begin = buffer->Begin();
    EXPECT_LE(begin, 34000);
    EXPECT_GE(begin, 34000 - 4096 - 1000);
    EXPECT_EQ(begin % 4096, 0);
    EXPECT_EQ(ReadAll(*buffer, begin), Pattern(begin, 40000 - begin));
    EXPECT_EQ(buffer->Read(begin - 1, nullptr, 1), -1);
    EXPECT_EQ(buffer->TitleAt(begin), "t30"); // the title in effect there stays known
    EXPECT_LE(QDir(buffer->Directory()).entryList({u"*.seg"_qs}, QDir::Files).size(), 3);

    LiveBuffer::Limits capped = Small(std::chrono::hours(1));
    capped.maxBytes = 10000;
    auto small = LiveBuffer::Create(test::TempDir(), capped);
    for (qint64 s = 0; s < 40; ++s)
        small->Append(Pattern(s * 1000, 1000), s * 1000);
    EXPECT_LE(small->End() - small->Begin(), 10000);
    EXPECT_EQ(ReadAll(*small, small->Begin()), Pattern(small->Begin(), 40000 - small->Begin()));
}

TEST(LiveBuffer, AWriteTheDiskRefusesIsReportedAndKeepsWhatWasKept) {
    auto buffer = LiveBuffer::Create(test::TempDir(), Small(std::chrono::minutes(1)));
    ASSERT_TRUE(buffer);
    ASSERT_TRUE(buffer->Append(Pattern(0, 3000), 0));
    // A file-size limit stands in for a full disk.
    rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit tight = old;
    tight.rlim_cur = 3500;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &tight), 0);
    const bool ok = buffer->Append(Pattern(3000, 1000), 1000);
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_FALSE(ok);
    EXPECT_FALSE(buffer->Error().isEmpty());
    EXPECT_EQ(ReadAll(*buffer, 0), Pattern(0, buffer->End()));
    EXPECT_TRUE(buffer->Append(Pattern(buffer->End(), 100), 2000)); // goes on once there is room
}

// An Ogg page: flags, granule position and serial, payload bytes.
QByteArray OggPage(char flags, qint64 granule, quint32 serial, int payload) {
    QByteArray page("OggS\0", 5);
    page += flags;
    page.append(reinterpret_cast<const char*>(&granule), 8);
    page.append(reinterpret_cast<const char*>(&serial), 4);
    page += QByteArray(8, '\0'); // sequence, checksum
    page += char(payload / 255 + 1);
    page += QByteArray(payload / 255, '\xff') + char(payload % 255);
    return page + QByteArray(payload, 'h');
}

// A station that announces without end: a new 4000-character title every
// 100 ms keeps at most kMarksPerMinute marks a minute within a budget, the
// latest title in effect; an Ogg chain whose headers never end keeps none,
// and the next chain's are kept again. A station that changes its title as
// songs change keeps every mark.
TEST(LiveBuffer, AStreamThatAnnouncesWithoutEndIsBounded) {
    auto buffer = LiveBuffer::Create(test::TempDir(), Small(std::chrono::minutes(30)));
    ASSERT_TRUE(buffer);
    QString title;
    for (qint64 ms = 0; ms < 10 * 60000; ms += 100) {
        title = QString::number(ms).rightJustified(4000, u'x');
        buffer->MarkTitle(title, ms);
        ASSERT_TRUE(buffer->Append(Pattern(buffer->End(), 16), ms));
    }
    const std::vector<LiveBuffer::Mark> marks = buffer->MarksIn(-1, buffer->End());
    qint64 bytes = 0;
    for (const LiveBuffer::Mark& mark : marks)
        bytes += mark.title.size() * 2;
    EXPECT_LE(marks.size(), std::size_t(LiveBuffer::kMarksPerMinute * 10 + 1));
    EXPECT_LE(bytes, LiveBuffer::kMaxMarkBytes);
    EXPECT_EQ(buffer->TitleAt(buffer->End() - 1), title) << "not the latest title";

    auto songs = LiveBuffer::Create(test::TempDir(), Small(std::chrono::hours(2)));
    for (int song = 0; song < 40; ++song) {
        songs->MarkTitle(QStringLiteral("Song %1").arg(song), song * 180000);
        ASSERT_TRUE(songs->Append(Pattern(songs->End(), 100), song * 180000));
    }
    EXPECT_EQ(songs->MarksIn(-1, songs->End()).size(), 40u);

    // Ogg: a chain of endless header pages, then a sound one.
    OggHeaderPages headers;
    auto feed = [&](const QByteArray& pages) {
        headers.Feed(pages, buffer->End(),
                     [&](qint64 at, QByteArray kept) { buffer->KeepHeaders(at, std::move(kept)); });
        ASSERT_TRUE(buffer->Append(pages, 600000));
    };
    feed(OggPage(2, 0, 1, 100));
    for (int i = 0; i < 40; ++i)
        feed(OggPage(0, 0, 1, 60000));
    feed(OggPage(0, 1000, 1, 100));
    EXPECT_TRUE(buffer->HeadersAt(buffer->End() - 1).isEmpty()) << "a broken chain's headers kept";
    const QByteArray chain = OggPage(2, 0, 2, 30) + OggPage(0, 0, 2, 3000);
    feed(chain);
    feed(OggPage(0, 960, 2, 100));
    EXPECT_EQ(buffer->HeadersAt(buffer->End() - 1), chain);
}

// A buffer directory as another process left it: its owner file (none when
// empty) and a segment.
QString Leftover(const QString& root, const QString& name, const QByteArray& owner) {
    const QString dir = root + u'/' + name;
    EXPECT_TRUE(QDir().mkpath(dir));
    if (!owner.isEmpty()) {
        QFile file(dir + u'/' + QLatin1String(LiveBuffer::kOwnerFile));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(owner);
    }
    QFile(dir + u"/00000000.seg"_qs).open(QIODevice::WriteOnly);
    return dir;
}

QByteArray WithField(const QByteArray& owner, const QByteArray& key, const QByteArray& value) {
    QList<QByteArray> lines = owner.split('\n');
    for (QByteArray& line : lines)
        if (line.startsWith(key + ' '))
            line = key + ' ' + value;
    return lines.join('\n');
}

// Leftovers go by who made them (boot, pid and its start time, machine):
// an ended process's and one of an earlier boot go; a running process's,
// another machine's, a link and what is not a buffer stay, and only a
// buffer's own files are removed, never through a link.
TEST(LiveBuffer, LeftoversGoByTheirOwnerAndNeverThroughALink) {
    const QString root = test::TempDir();
    QProcess ended;
    ended.start(test::Program(QStringLiteral("true")));
    ASSERT_TRUE(ended.waitForFinished(10000));
    QProcess running;
    running.start(test::Program(u"sleep"_qs), {u"30"_qs});
    ASSERT_TRUE(running.waitForStarted(10000));
    const QByteArray mine = LiveBuffer::OwnerOf(::getpid());
    ASSERT_FALSE(mine.isEmpty());
    const QByteArray endedOwner = WithField(mine, "pid", QByteArray::number(ended.processId()));

    // A link planted where a buffer would be, to a folder of the user's.
    const QString outside = test::TempDir();
    for (const char* name : {"/a.txt", "/b.txt"}) {
        QFile file(outside + QLatin1String(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("keep");
    }
    ASSERT_TRUE(QFile::link(outside, root + u"/live-99999999-0"_qs));
    const QString dirWithLink = Leftover(root, u"live-99999998-0"_qs, {});
    ASSERT_TRUE(QFile::link(outside + u"/a.txt"_qs, dirWithLink + u"/00000001.seg"_qs));

    const struct {
        const char* name;
        QByteArray owner;
        bool goes;
    } cases[] = {
        {"live-99999997-0", {}, true}, // no owner file: by the pid alone
        {"live-1-0", endedOwner, true},
        {"live-2-0", WithField(mine, "boot", "another-boot"), true}, // this pid, earlier boot
        {"live-3-0", WithField(mine, "start", "1"), true},           // this pid reused
        {"live-4-0", LiveBuffer::OwnerOf(running.processId()), false},
        {"live-5-0", WithField(endedOwner, "machine", "another-machine"), false},
        {"other", endedOwner, false}, // not a buffer's name
    };
    for (const auto& c : cases)
        Leftover(root, QLatin1String(c.name), c.owner);
    const QString withForeign = Leftover(root, u"live-6-0"_qs, endedOwner);
    QFile(withForeign + u"/notes.txt"_qs).open(QIODevice::WriteOnly);
    auto buffer = LiveBuffer::Create(root, Small(std::chrono::minutes(1)));
    ASSERT_TRUE(buffer);

    EXPECT_EQ(LiveBuffer::RemoveLeftovers(root), 5);
    for (const auto& c : cases)
        EXPECT_EQ(QDir(root + u'/' + QLatin1String(c.name)).exists(), !c.goes) << c.name;
    EXPECT_TRUE(QDir(buffer->Directory()).exists());
    EXPECT_EQ(QDir(outside).entryList(QDir::Files).size(), 2) << "files behind a link removed";
    EXPECT_TRUE(QFileInfo(root + u"/live-99999999-0"_qs).isSymLink());
    EXPECT_EQ(QDir(withForeign).entryList(QDir::Files), QStringList{u"notes.txt"_qs});
    running.kill();
    running.waitForFinished(5000);
}

// The cache root is the user's alone: made 0700, one that others may read
// made so, refused (and nothing made in it) when it is a link, another
// user's, or writable by others.
TEST(LiveBuffer, ARootThatIsNotTheUsersOwnIsRefused) {
    const QString base = test::TempDir();
    const QString made = base + u"/new/didira"_qs;
    auto buffer = LiveBuffer::Create(made, Small(std::chrono::minutes(1)));
    ASSERT_TRUE(buffer);
    const auto mode = [](const QString& path) {
        struct stat st {};
        return ::lstat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_mode & 07777 : 0u;
    };
    EXPECT_EQ(mode(made), 0700u);
    EXPECT_EQ(mode(buffer->Directory()), 0700u);
    const QString readable = base + u"/readable"_qs;
    ASSERT_TRUE(QDir().mkpath(readable));
    ::chmod(QFile::encodeName(readable).constData(), 0755);
    EXPECT_TRUE(LiveBuffer::Create(readable, Small(std::chrono::minutes(1))));
    EXPECT_EQ(mode(readable), 0700u);

    const QString link = base + u"/link"_qs;
    ASSERT_TRUE(QFile::link(made, link));
    const QString shared = base + u"/shared"_qs;
    ASSERT_TRUE(QDir().mkpath(shared));
    ::chmod(QFile::encodeName(shared).constData(), 0777);
    const QString foreign = base + u"/foreign"_qs;
    ASSERT_TRUE(QDir().mkpath(foreign));
    ::chmod(QFile::encodeName(foreign).constData(), 0700);
    // Another user's: a folder given away when the tests run as root, else /.
    const bool root = ::geteuid() == 0;
    if (root) {
        ASSERT_EQ(::chown(QFile::encodeName(foreign).constData(), 65534, 65534), 0);
    }
    const struct {
        QString path;
        const char* why;
    } refused[] = {{link, "is not a folder"},
                   {shared, "can be written by other users"},
                   {root ? foreign : u"/"_qs, "belongs to another user"}};
    for (const auto& r : refused) {
        QString error;
        const int before = QDir(r.path).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).size();
        EXPECT_FALSE(LiveBuffer::Create(r.path, Small(std::chrono::minutes(1)), &error));
        EXPECT_TRUE(error.contains(QLatin1String(r.why))) << error.toStdString();
        EXPECT_EQ(QDir(r.path).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).size(), before)
            << r.path.toStdString();
        EXPECT_EQ(LiveBuffer::RemoveLeftovers(r.path), 0);
    }
    EXPECT_EQ(QDir(made).entryList(QDir::Dirs | QDir::NoDotAndDotDot).size(), 1);
}

} // namespace
} // namespace didira
