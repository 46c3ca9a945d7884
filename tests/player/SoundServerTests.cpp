// A station whose sound server ends or hangs while it plays: it waits, says
// so, and is heard again as soon as the server is back, not at the next
// back-off step. The sound server is a private one of the test's own (a null sink),
// ended and started again; the automatic output can reach nothing else.

#include "PlayerFixture.h"
#include "support/StreamTestServer.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <csignal>

namespace didira::test {
namespace {

using namespace std::chrono_literals;

class PrivateSoundServer {
public:
    PrivateSoundServer() {
        QDir(m_dir.path()).mkpath(QStringLiteral("run"));
        QFile::setPermissions(Path("run"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        Write("pulse.pa", "load-module module-native-protocol-unix auth-anonymous=1 socket=" +
                              Path("run/native").toUtf8() +
                              "\nload-module module-null-sink sink_name=speakers"
                              "\nload-module module-null-sink sink_name=headphones"
                              "\nset-default-sink speakers\n");
        Write("client.conf", "autospawn = no\n");
        qputenv("PULSE_SERVER", "unix:" + Path("run/native").toUtf8());
        qputenv("PULSE_CLIENTCONFIG", Path("client.conf").toUtf8());
    }
    ~PrivateSoundServer() { End(); }

    bool Start() {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), m_dir.path());
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), Path("run"));
        m_process.setProcessEnvironment(env);
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start(test::Program(QStringLiteral("pulseaudio")),
                        {QStringLiteral("-n"), QStringLiteral("-F"), Path("pulse.pa"),
                         QStringLiteral("--daemonize=no"), QStringLiteral("--exit-idle-time=-1"),
                         QStringLiteral("--use-pid-file=no"), QStringLiteral("--log-target=stderr"),
                         QStringLiteral("--log-level=error")});
        return m_process.waitForStarted(5000) &&
               WaitUntil([&] { return QFile::exists(Path("run/native")); }, 10s);
    }
    // What pactl prints for args; empty when it fails.
    static QString Pactl(const QStringList& args) {
        QProcess pactl;
        pactl.start(test::Program(QStringLiteral("pactl")), args);
        if (!pactl.waitForFinished(5000) || pactl.exitCode() != 0)
            return {};
        return QString::fromUtf8(pactl.readAllStandardOutput());
    }
    // The sink each client stream plays into, one line per stream.
    static QString StreamSinks() {
        QStringList sinks;
        for (const QString& line :
             Pactl({QStringLiteral("list"), QStringLiteral("short"), QStringLiteral("sink-inputs")})
                 .split(u'\n', Qt::SkipEmptyParts))
            sinks << line.section(u'\t', 1, 1);
        return sinks.join(u',');
    }
    static QString SinkIndex(const QString& name) {
        for (const QString& line :
             Pactl({QStringLiteral("list"), QStringLiteral("short"), QStringLiteral("sinks")})
                 .split(u'\n', Qt::SkipEmptyParts))
            if (line.section(u'\t', 1, 1) == name)
                return line.section(u'\t', 0, 0);
        return {};
    }
    // Frozen (true) as a hung server is, or thawed.
    void Freeze(bool frozen) {
        ::kill(static_cast<pid_t>(m_process.processId()), frozen ? SIGSTOP : SIGCONT);
    }
    // As a crash would: no goodbye to its clients.
    void End() {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.kill();
        m_process.waitForFinished(5000);
        QFile::remove(Path("run/native"));
    }

private:
    QString Path(const char* name) const { return m_dir.filePath(QString::fromLatin1(name)); }
    void Write(const char* name, const QByteArray& text) {
        QFile file(Path(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(text);
    }

    QTemporaryDir m_dir;
    QProcess m_process;
};

class SoundServer : public PlayerFixture {
protected:
    SoundServer() { outputSink = "autoaudiosink"; }
    void SetUp() override {
        if (QStandardPaths::findExecutable(QStringLiteral("pulseaudio")).isEmpty())
            GTEST_SKIP() << "no pulseaudio here (scripts/setup.sh installs it)";
        // The automatic output can reach the private server only.
        GList* sinks = gst_element_factory_list_get_elements(
            GST_ELEMENT_FACTORY_TYPE_SINK | GST_ELEMENT_FACTORY_TYPE_MEDIA_AUDIO,
            GST_RANK_MARGINAL);
        for (GList* f = sinks; f; f = f->next)
            if (g_strcmp0(GST_OBJECT_NAME(f->data), "pulsesink") != 0)
                gst_plugin_feature_set_rank(GST_PLUGIN_FEATURE(f->data), GST_RANK_NONE);
        gst_plugin_feature_list_free(sinks);
        ASSERT_TRUE(sound.Start());
        PlayerFixture::SetUp();
    }

    PrivateSoundServer sound;
};

TEST_F(SoundServer, AStationWaitsForItsEndedSoundServerAndPlaysAgainAsSoonAsItIsBack) {
    // The back-off alone would wait ten seconds before each try.
    control->SetReconnectDelays({10000});
    StreamTestServer station(StreamTestServer::TitledMp3(media::ToneMp3()));
    player.Open(station.Url());
    ASSERT_TRUE(WaitPlaying()) << Opened() << ", " << Play();

    sound.End();
    ASSERT_TRUE(WaitUntil([&] { return Play() == PlayState::Waiting; }, 10s)) << Play();
    Pump(2s); // tries against a server that is not there
    EXPECT_EQ(Play(), PlayState::Waiting);
    EXPECT_EQ(player.GetIsError(), FALSE);

    ASSERT_TRUE(sound.Start());
    EXPECT_TRUE(WaitPlaying(6s)) << Opened() << ", " << Play();
    EXPECT_EQ(player.GetIsError(), FALSE);
    EXPECT_TRUE(boxes.empty()) << (boxes.empty() ? "" : boxes[0].text.toStdString());
}

TEST_F(SoundServer, AStationWhoseSoundServerHangsWaitsAndPlaysAgainOnceItAnswers) {
    StreamTestServer station(StreamTestServer::TitledMp3(media::ToneMp3()));
    player.Open(station.Url());
    ASSERT_TRUE(WaitPlaying()) << Opened() << ", " << Play();
    // Nothing is heard: told within seconds, not at the stall timeout.
    sound.Freeze(true);
    ASSERT_TRUE(WaitUntil([&] { return Play() == PlayState::Waiting; }, 6s)) << Play();
    Pump(12s);
    EXPECT_EQ(Play(), PlayState::Waiting);
    sound.Freeze(false);
    EXPECT_TRUE(WaitPlaying(15s)) << Opened() << ", " << Play();
    EXPECT_EQ(player.GetIsError(), FALSE);
    EXPECT_TRUE(boxes.empty()) << (boxes.empty() ? "" : boxes[0].text.toStdString());
}

TEST_F(SoundServer, AChangeOfTheDefaultOutputIsFollowedWithoutAReconnection) {
    StreamTestServer station(StreamTestServer::TitledMp3(media::ToneMp3()));
    player.Open(station.Url());
    ASSERT_TRUE(WaitPlaying()) << Opened() << ", " << Play();
    const QString speakers = PrivateSoundServer::SinkIndex(QStringLiteral("speakers"));
    const QString headphones = PrivateSoundServer::SinkIndex(QStringLiteral("headphones"));
    ASSERT_FALSE(headphones.isEmpty()) << "no pactl here (scripts/setup.sh installs it)";
    ASSERT_EQ(PrivateSoundServer::StreamSinks(), speakers);
    const int reconnects = control->ReconnectCount();

    PrivateSoundServer::Pactl({QStringLiteral("set-default-sink"), QStringLiteral("headphones")});
    bool stayedPlaying = true;
    EXPECT_TRUE(WaitUntil(
        [&] {
            stayedPlaying = stayedPlaying && Play() == PlayState::Playing;
            return PrivateSoundServer::StreamSinks() == headphones;
        },
        5s))
        << PrivateSoundServer::StreamSinks().toStdString();
    Pump(1s);
    EXPECT_TRUE(stayedPlaying && Play() == PlayState::Playing) << Play();
    EXPECT_EQ(control->ReconnectCount(), reconnects);
}

} // namespace
} // namespace didira::test
