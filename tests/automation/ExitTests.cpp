// The real program ends promptly and in order when asked, however it is
// asked: "End", MPRIS Quit, SIGTERM, SIGINT, SIGHUP; also while its sound
// server is frozen (a hung server: its output and every look at it block).
// In order: the recording that runs is closed with what it had, and the live
// buffer is removed. The program is its build with the test hook, on a
// private bus, playing through a private sound server.
#include "PrivateBus.h"
#include "app/DidiraService.h"
#include "app/MprisService.h"
#include "support/MediaFiles.h"
#include "support/PrivateSoundServer.h"
#include "support/StreamTestServer.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <csignal>
#include <gtest/gtest.h>

namespace didira {
namespace {

using namespace std::chrono_literals;
using test::Call;
using test::StreamTestServer;
using test::WaitUntil;
namespace media = test::media;

const QString kMpris = QString::fromLatin1(kMprisName);
const QString kMprisObject = QString::fromLatin1(kMprisPath);

const QString kExe = QFileInfo(QStringLiteral(DIDIRA_VAVAROZ_EXE)).absoluteFilePath();

class Exit : public ::testing::Test {
protected:
    void SetUp() override {
        if (!test::PrivateSoundServer::Available())
            GTEST_SKIP() << "no pulseaudio here (scripts/setup.sh installs it)";
        ASSERT_TRUE(m_bus.IsRunning());
        ASSERT_TRUE(m_sound.Start());
        m_client = m_bus.Connect(QStringLiteral("client"));
    }
    void TearDown() override {
        m_sound.Freeze(false);
        if (m_program.state() != QProcess::NotRunning) {
            m_program.kill();
            m_program.waitForFinished(5000);
        }
    }

    QString Cache() const { return m_bus.Dir() + QStringLiteral("/cache"); }
    QString Recordings() const { return m_bus.Dir() + QStringLiteral("/home/Music/Didira"); }
    QStringList LiveBuffers() const {
        return QDir(Cache() + QStringLiteral("/didira"))
            .entryList({QStringLiteral("live-*")}, QDir::Dirs);
    }

    // Starts the program and plays the station into the sound server.
    void StartPlaying() {
        QProcessEnvironment env = m_bus.Environment();
        for (const char* name : {"PULSE_SERVER", "PULSE_CLIENTCONFIG"})
            env.insert(QString::fromLatin1(name), qEnvironmentVariable(name));
        env.insert(QStringLiteral("DIDIRA_AUDIO_SINK"), QStringLiteral("pulsesink"));
        env.insert(QStringLiteral("XDG_CACHE_HOME"), Cache());
        m_program.setProcessEnvironment(env);
        m_program.setWorkingDirectory(m_bus.WorkDir());
        m_program.setProcessChannelMode(QProcess::ForwardedChannels);
        m_program.start(kExe, {});
        ASSERT_TRUE(m_program.waitForStarted(5000));
        ASSERT_TRUE(WaitUntil([&] { return test::NameHasOwner(m_client, kMpris); }, 20s));
        EXPECT_EQ(Call(m_client, kMpris, kMprisObject, QString::fromLatin1(kMprisPlayerInterface),
                       QStringLiteral("OpenUri"), {m_station.Url()})
                      .type(),
                  QDBusMessage::ReplyMessage);
        ASSERT_TRUE(
            WaitUntil([&] { return !test::PrivateSoundServer::StreamSinks().isEmpty(); }, 20s))
            << "the station never reached the sound server";
        test::Pump(1s); // kept in the live buffer a while
        const QDBusMessage recording =
            Call(m_client, kMpris, QString::fromLatin1(kDidiraPath),
                 QString::fromLatin1(kDidiraInterface), QStringLiteral("StartRecording"));
        EXPECT_EQ(recording.type(), QDBusMessage::ReplyMessage)
            << recording.errorMessage().toStdString();
        test::Pump(1s);
        EXPECT_FALSE(LiveBuffers().isEmpty());
    }

    // How long the program took to end after ask(); -1 when it did not
    // within 10 s.
    qint64 EndTime(const std::function<void()>& ask) {
        QElapsedTimer clock;
        clock.start();
        ask();
        if (!m_program.waitForFinished(10000))
            return -1;
        return clock.elapsed();
    }

    // The recording's file: there, and read as MP3.
    void ExpectRecordingClosed() {
        const QFileInfoList files = QDir(Recordings()).entryInfoList(QDir::Files);
        ASSERT_EQ(files.size(), 1) << Recordings().toStdString();
        EXPECT_GT(files[0].size(), 4096);
        QString error;
        const QStringList codecs = media::AudioCodecs(files[0].filePath(), &error);
        EXPECT_TRUE(codecs.size() == 1 && codecs[0].contains(QStringLiteral("MPEG")))
            << codecs.join(u',').toStdString() << error.toStdString();
    }

    test::PrivateBus m_bus;
    test::PrivateSoundServer m_sound;
    StreamTestServer m_station{StreamTestServer::TitledMp3(media::ToneMp3())};
    QDBusConnection m_client{QString()};
    QProcess m_program;
};

TEST_F(Exit, TheProgramEndsInOrderWhenAskedAlsoWithAFrozenSoundServer) {
    const struct {
        const char* how;
        bool frozen;
    } cases[] = {
        {"End", true}, {"Quit", true}, {"SIGTERM", true}, {"SIGINT", false}, {"SIGHUP", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.how);
        QDir(Recordings()).removeRecursively();
        StartPlaying();
        if (HasFatalFailure())
            return;
        if (c.frozen) {
            m_sound.Freeze(true);
            // Long enough for the station to find its output hung and look for
            // another, which blocks too.
            test::Pump(8s);
        }
        const QString how = QString::fromLatin1(c.how);
        const qint64 pid = m_program.processId();
        const qint64 ms = EndTime([&] {
            if (how == u"End")
                Call(m_client, QStringLiteral("Didira.TestHook.p%1").arg(pid),
                     QStringLiteral("/Didira/TestHook"), QStringLiteral("Didira.TestHook"),
                     QStringLiteral("Send"), {QStringLiteral("End")}, 5s);
            else if (how == u"Quit")
                Call(m_client, kMpris, kMprisObject, QString::fromLatin1(kMprisRootInterface),
                     QStringLiteral("Quit"), {}, 5s);
            else
                ::kill(static_cast<pid_t>(pid), how == u"SIGTERM"  ? SIGTERM
                                                : how == u"SIGINT" ? SIGINT
                                                                   : SIGHUP);
        });
        m_sound.Freeze(false);
        ASSERT_GE(ms, 0) << "the program did not end";
        RecordProperty(std::string("end_ms_") + c.how, static_cast<int>(ms));
        EXPECT_LT(ms, 3000);
        EXPECT_EQ(m_program.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(m_program.exitCode(), 0);
        EXPECT_EQ(LiveBuffers(), QStringList());
        ExpectRecordingClosed();
    }
}

} // namespace
} // namespace didira
