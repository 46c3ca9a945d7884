// The switches of server mode and the activation file.
#include "app/CommandLine.h"
#include "app/ObjectFactory.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

namespace didira {
namespace {

TEST(ServerSwitch, OnlyTheExactWordAfterDashOrSlashCountsAndIsRemoved) {
    struct Case {
        QStringList args;
        bool taken;
        QStringList rest;
    };
    const Case cases[] = {
        {{"-Embedding"}, true, {}},
        {{"a", "/Embedding", "b"}, true, {"a", "b"}},
        {{"embedding"}, false, {"embedding"}},
        {{"Embedding"}, false, {"Embedding"}},
        {{"-embedding"}, false, {"-embedding"}},
        {{"--Embedding"}, false, {"--Embedding"}},
        {{"-Embedding=1"}, false, {"-Embedding=1"}},
    };
    for (const Case& c : cases) {
        QStringList args = c.args;
        EXPECT_EQ(TakeSwitch(args, QStringLiteral("Embedding")), c.taken)
            << c.args.join(' ').toStdString();
        EXPECT_EQ(args, c.rest) << c.args.join(' ').toStdString();
    }
}

TEST(ActivationFile, ExecIsQuotedForTheBusOrNotWrittenAtAll) {
    EXPECT_EQ(ActivationFileText("A.B", "{1}", "/opt/x/Vavaroz"),
              QStringLiteral("# Starts Didira for clients of its automation object.\n"
                             "# Rewritten by every normal start of Didira.\n"
                             "[D-BUS Service]\n"
                             "Name=A.B\n"
                             "Exec=/opt/x/Vavaroz -Embedding\n"
                             "X-Vavaroz-ClassId={1}\n"));
    EXPECT_TRUE(ActivationFileText("A.B", "{1}", "/opt/my apps/Vavaroz")
                    .contains(QStringLiteral("Exec='/opt/my apps/Vavaroz' -Embedding\n")));
    // A line break would let the path write keys of its own.
    EXPECT_TRUE(ActivationFileText("A.B", "{1}", "/opt/x/Vavaroz\nName=Evil").isEmpty());
    EXPECT_TRUE(ActivationFileText("A.B", "{1}", "/opt/it's/Vavaroz").isEmpty());
    EXPECT_TRUE(ActivationFileText("A.B", "{1}", "Vavaroz").isEmpty());
}

TEST(ActivationFile, AFailedWriteIsOnlyAFalseResult) {
    static const CRuntimeClass none = {"None", "Test.None", nullptr};
    COleObjectFactory factory("{C}", none, true, "Test.Fake");
    const QString blocked = test::TempDir() + QStringLiteral("/blocked");
    QFile block(blocked); // a plain file where the directory should be
    ASSERT_TRUE(block.open(QIODevice::WriteOnly));
    block.close();
    EXPECT_FALSE(
        factory.UpdateRegistry(blocked + QStringLiteral("/services"), QStringLiteral("/bin/one")));
    EXPECT_FALSE(factory.UpdateRegistry(test::TempDir(), QStringLiteral("/bin/it's")));
}

TEST(ActivationFile, UserServicesDirFollowsAnAbsoluteXdgDataHome) {
    const QByteArray saved = qgetenv("XDG_DATA_HOME");
    const QString fallback = QDir::homePath() + QStringLiteral("/.local/share/dbus-1/services");
    for (const char* value : {"/data/home", "relative/dir", ""}) {
        qputenv("XDG_DATA_HOME", value);
        EXPECT_EQ(UserServicesDir(), *value == '/' ? "/data/home/dbus-1/services" : fallback);
    }
    qputenv("XDG_DATA_HOME", saved);
}

} // namespace
} // namespace didira
