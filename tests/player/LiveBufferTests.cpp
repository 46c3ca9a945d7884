// The live buffer: bytes come back as they went in across segments, with the
// time and title of each place; the window and the byte cap drop the oldest
// whole segments; a refused write keeps what was kept; leftovers of ended
// processes go and a live process's stay.
#include "player/timeshift/LiveBuffer.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QProcess>
#include <csignal>
#include <gtest/gtest.h>
#include <sys/resource.h>

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
    EXPECT_LE(QDir(buffer->Directory()).entryList(QDir::Files).size(), 3);

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

TEST(LiveBuffer, LeftoversOfEndedProcessesGoAndALiveOnesStay) {
    const QString root = test::TempDir();
    QProcess ended;
    ended.start(QStringLiteral("true"));
    ASSERT_TRUE(ended.waitForFinished(10000));
    const QString dead = root + QStringLiteral("/live-%1-0").arg(ended.processId());
    ASSERT_TRUE(QDir().mkpath(dead));
    QFile(dead + "/00000000.seg").open(QIODevice::WriteOnly);
    auto mine = LiveBuffer::Create(root, Small(std::chrono::minutes(1)));
    ASSERT_TRUE(QDir().mkpath(root + "/other")); // not a buffer: left alone

    EXPECT_EQ(LiveBuffer::RemoveLeftovers(root), 1);
    EXPECT_FALSE(QDir(dead).exists());
    EXPECT_TRUE(QDir(mine->Directory()).exists());
    EXPECT_TRUE(QDir(root + "/other").exists());
}

} // namespace
} // namespace didira
