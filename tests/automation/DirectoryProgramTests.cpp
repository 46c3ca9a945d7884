// The real program and the station directory: its window reached from the
// window menu, a search of the local directory (DIDIRA_DIRECTORY_URL) and a
// station added to the program's CP932 catalogue, with its backup. The
// program is its build with the test hook, driven over a private bus.
#include "PrivateBus.h"
#include "app/DirectoryClient.h"
#include "catalogue/CatalogueTestSupport.h"
#include "support/HttpTestServer.h"
#include "support/TestSupport.h"

#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>

namespace didira {
namespace {

using namespace std::chrono_literals;
using test::Call;
using test::WaitUntil;

const QString kExe = QFileInfo(QStringLiteral(DIDIRA_VAVAROZ_EXE)).absoluteFilePath();

QByteArray Fixture(const char* name) {
    QFile file(QStringLiteral(DIDIRA_SOURCE_DIR "/tests/directory/") + QLatin1String(name));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

TEST(DirectoryProgram, TheWindowMenusWindowFindsStationsAndAddsOneToTheCp932Catalogue) {
    ASSERT_TRUE(QFileInfo(kExe).isExecutable()) << kExe.toStdString();
    test::PrivateBus bus;
    ASSERT_TRUE(bus.IsRunning());
    QDBusConnection client = bus.Connect(QStringLiteral("client"));
    test::HttpTestServer directory;
    directory.Serve(QStringLiteral("/json/servers"), "application/json", Fixture("servers.json"));
    directory.Serve(QStringLiteral("/json/stations/search"), "application/json",
                    Fixture("stations.json"));
    const QString catalogue = bus.WorkDir() + QStringLiteral("/radioname.csv");
    const QByteArray old =
        QByteArray::fromStdString(test::Cp932("1,ニッポン放送,http://a/x.asx\r\n"));
    {
        QFile file(catalogue);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(old);
    }

    QProcessEnvironment env = bus.Environment();
    env.insert(QStringLiteral("DIDIRA_DIRECTORY_URL"), directory.Url(QString()));
    QProcess program;
    program.setProcessEnvironment(env);
    program.setWorkingDirectory(bus.WorkDir());
    program.setProcessChannelMode(QProcess::ForwardedChannels);
    program.start(kExe, {});
    ASSERT_TRUE(program.waitForStarted(5000));
    const QString hook = QStringLiteral("Didira.TestHook.p%1").arg(program.processId());
    const auto call = [&](const QString& member, const QVariantList& args = {}) {
        return Call(client, hook, QStringLiteral("/Didira/TestHook"),
                    QStringLiteral("Didira.TestHook"), member, args, 5s);
    };
    const auto state = [&] {
        return call(QStringLiteral("DirectoryState")).arguments().value(0).toString();
    };
    ASSERT_TRUE(WaitUntil(
        [&] { return call(QStringLiteral("WindowState")).arguments().value(0) == u"shown"_qs; },
        30s));

    // Beside the window commands, before the about item, which stays last.
    const QString menu = call(QStringLiteral("WindowMenu")).arguments().value(0).toString();
    EXPECT_TRUE(menu.contains(u"|-|曲の履歴…|放送局を探す…|-|Vavaroz のﾊﾞｰｼﾞｮﾝ情報(&A)..."_qs))
        << menu.toStdString();
    EXPECT_TRUE(menu.endsWith(u"|-|Vavaroz のﾊﾞｰｼﾞｮﾝ情報(&A)..."_qs)) << menu.toStdString();
    EXPECT_EQ(state(), u"none"_qs);
    call(QStringLiteral("Send"), {u"Menu:放送局を探す…"_qs});
    call(QStringLiteral("Send"), {u"DirectorySearch:jazz"_qs});
    EXPECT_TRUE(WaitUntil([&] { return state().startsWith(u"6局見つかりました"_qs); }, 10s))
        << state().toStdString();
    EXPECT_TRUE(directory.LastRequest(QStringLiteral("/json/stations/search"))
                    .contains("User-Agent: " + CDirectoryClient::UserAgent() + "\r\n"));
    EXPECT_TRUE(
        directory.LastRequest(QStringLiteral("/json/stations/search")).contains("tag=jazz"));

    call(QStringLiteral("Send"), {u"DirectoryAdd:0"_qs});
    EXPECT_TRUE(WaitUntil([&] { return state().endsWith(u"\n6\n2"_qs); }, 10s))
        << state().toStdString();
    const QByteArray expected =
        old + QByteArray::fromStdString(
                  test::Cp932("\"0\",\"ジャズ喫茶ラジオ\",\"http://127.0.0.1:9/jazz.mp3\"\r\n"));
    QFile written(catalogue);
    ASSERT_TRUE(written.open(QIODevice::ReadOnly));
    EXPECT_EQ(written.readAll(), expected);
    QFile backup(catalogue + QStringLiteral(".bak"));
    ASSERT_TRUE(backup.open(QIODevice::ReadOnly));
    EXPECT_EQ(backup.readAll(), expected);

    call(QStringLiteral("Send"), {u"End"_qs});
    EXPECT_TRUE(program.waitForFinished(20000));
    if (program.state() != QProcess::NotRunning) {
        program.kill();
        program.waitForFinished(5000);
    }
}

} // namespace
} // namespace didira
