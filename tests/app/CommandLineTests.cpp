// The program's switches, its data folder, and the usage and version printed
// by the real program where no display exists.
#include "app/CommandLine.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace didira;

namespace {

// Sets an environment variable for one scope.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const QByteArray& value)
        : m_name(name), m_old(qgetenv(name)), m_had(qEnvironmentVariableIsSet(name)) {
        qputenv(name, value);
    }
    ~ScopedEnv() {
        if (m_had)
            qputenv(m_name, m_old);
        else
            qunsetenv(m_name);
    }

private:
    const char* m_name;
    QByteArray m_old;
    bool m_had;
};

} // namespace

TEST(CommandLine, SortsArgumentsIntoRequestDataFolderAndUnknown) {
    using A = CommandLine::Action;
    struct Case {
        QStringList args;
        A action;
        bool dataDir;
        QStringList unknown;
    };
    const Case cases[] = {
        {{}, A::Run, false, {}},
        {{"--version", "--help"}, A::ShowVersion, false, {}},
        {{"-h", "--version"}, A::ShowHelp, false, {}},
        // Switches read elsewhere are not reported.
        {{"--data-dir", "-Embedding", "/Automation", "--no-notifications", "--no-idle-inhibit"},
         A::Run,
         true,
         {}},
        // Server mode takes exactly its own spellings; anything else is reported.
        {{"-embedding", "--bogus", "stations.csv", "/Embedding", "--data-dir=x"},
         A::Run,
         false,
         {"-embedding", "--bogus", "stations.csv", "--data-dir=x"}},
    };
    for (const Case& c : cases) {
        const CommandLine cmd(c.args);
        EXPECT_EQ(cmd.Requested(), c.action) << c.args.join(' ').toStdString();
        EXPECT_EQ(cmd.InDataDir(), c.dataDir) << c.args.join(' ').toStdString();
        EXPECT_EQ(cmd.Unknown(), c.unknown) << c.args.join(' ').toStdString();
    }
}

TEST(CommandLine, DataFolderIsMadeAndEnteredOrLeftAlone) {
    const QString before = QDir::currentPath();
    QTemporaryDir home;
    ASSERT_TRUE(home.isValid());
    {
        ScopedEnv xdg("XDG_DATA_HOME", "relative/share");
        EXPECT_EQ(UserDataDir(), QDir::homePath() + "/.local/share/didira");
    }
    {
        ScopedEnv xdg("XDG_DATA_HOME", (home.path() + "/a/b").toUtf8());
        QString error;
        ASSERT_TRUE(EnterUserDataDir(&error)) << error.toStdString();
        EXPECT_EQ(QDir::currentPath(), home.path() + "/a/b/didira");
        QDir::setCurrent(before);
    }
    {
        // A file where the folder should be: reported, and nothing moves.
        QFile blocker(home.path() + "/file");
        ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
        ScopedEnv xdg("XDG_DATA_HOME", blocker.fileName().toUtf8());
        QString error;
        EXPECT_FALSE(EnterUserDataDir(&error));
        EXPECT_TRUE(error.contains(blocker.fileName())) << error.toStdString();
        EXPECT_EQ(QDir::currentPath(), before);
    }
}

// Before any QApplication: without a display, one would abort the process.
TEST(CommandLine, HelpAndVersionNeedNoDisplay) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("DISPLAY");
    env.remove("WAYLAND_DISPLAY");
    env.insert("QT_QPA_PLATFORM", "xcb");
    for (const char* arg : {"--help", "--version"}) {
        QProcess program;
        program.setProcessEnvironment(env);
        program.start(DIDIRA_VAVAROZ_EXE, {arg});
        ASSERT_TRUE(program.waitForFinished(30000)) << arg;
        EXPECT_EQ(program.exitStatus(), QProcess::NormalExit) << arg;
        EXPECT_EQ(program.exitCode(), 0) << arg;
        const QString out = QString::fromUtf8(program.readAllStandardOutput());
        if (QByteArray(arg) == "--help") {
            for (const char* part : {"使い方", "Usage:", "--data-dir", "-Embedding",
                                     "DIDIRA_AUDIO_SINK", "radioname.csv"})
                EXPECT_TRUE(out.contains(QString::fromUtf8(part))) << part;
        } else {
            EXPECT_TRUE(out.startsWith("Vavaroz (Didira) ")) << out.toStdString();
        }
    }
}
