// The station directory's window beside the dialog (on a recording player),
// against a local server serving the directory's documented answers: search,
// listening through the dialog's player with the click counted, adding to the
// catalogue, and a directory that does not answer or answers wrongly.
#include "app/DirectoryWindow.h"
#include "app/StationDirectory.h"
#include "catalogue/CatalogueTestSupport.h"
#include "support/DialogFixture.h"
#include "support/HttpTestServer.h"
#include "ui/DlgDirectory.h"

#include <QLabel>
#include <QMenu>
#include <QSignalSpy>
#include <QTableWidget>

namespace didira {
namespace {

using test::Cp932;
using test::HttpTestServer;
using test::WaitUntil;

QByteArray Fixture(const char* name) {
    QFile file(QStringLiteral(DIDIRA_SOURCE_DIR "/tests/directory/") + QLatin1String(name));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QByteArray Bytes(const char* path) {
    QFile file(QString::fromUtf8(path));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

const QString kSearch = QStringLiteral("/json/stations/search");
const QString kFirstClick = QStringLiteral("/json/url/9617a958-0601-11e8-ae97-52543be04c01");

class DirectoryWindow : public test::DialogFixture {
protected:
    void SetUp() override {
        DialogFixture::SetUp();
        WriteCatalogue(QByteArray::fromStdString(Cp932("1,ニッポン放送,http://a/x.asx\r\n")));
        Make();
        ASSERT_TRUE(created);
        server.Serve(QStringLiteral("/json/servers"), "application/json", Fixture("servers.json"));
        server.Serve(kSearch, "application/json", Fixture("stations.json"));
        server.Serve(kFirstClick, "application/json", Fixture("click.json"));
        window = std::make_unique<CDirectoryWindow>(*dlg, QUrl(server.Url(QString())));
    }
    void TearDown() override {
        window.reset();
        DialogFixture::TearDown();
    }
    template <typename T> T* Child(const char* name) {
        return window->findChild<T*>(QString::fromLatin1(name));
    }
    QTableWidget* Results() { return Child<QTableWidget>("results"); }
    QString Status() { return Child<QLabel>("status")->text(); }
    // Searches and waits until the window has said how it went.
    void SearchAndWait() {
        const QString before = u"検索しています…"_qs;
        window->Search();
        ASSERT_EQ(Status(), before);
        ASSERT_TRUE(WaitUntil([&] { return Status() != before; }, std::chrono::seconds(8)));
    }
    void Pick(int row) { Results()->selectRow(row); }
    // Presses "追加" and waits until the write is done and told.
    void AddAndWait() {
        const QString adding = u"追加しています…"_qs;
        Child<QPushButton>("add")->click();
        ASSERT_EQ(Status(), adding);
        EXPECT_FALSE(Child<QPushButton>("add")->isEnabled());
        ASSERT_TRUE(WaitUntil([&] { return Status() != adding; }));
        EXPECT_TRUE(Child<QPushButton>("add")->isEnabled());
    }

    HttpTestServer server;
    std::unique_ptr<CDirectoryWindow> window;
};

TEST_F(DirectoryWindow, ASearchListsTheStationsAsAskedOfTheMirrorWithCodecAndBitrate) {
    Child<QLineEdit>("name")->setText(u" jazz "_qs);
    Child<QLineEdit>("country")->setText(u"jp"_qs);
    Child<QLineEdit>("language")->setText(u"japanese"_qs);
    SearchAndWait();
    EXPECT_EQ(Status(), u"6局見つかりました（票の多い順）"_qs);
    ASSERT_EQ(Results()->rowCount(), 6);
    EXPECT_EQ(Results()->item(0, 0)->text(), u"ジャズ喫茶ラジオ"_qs);
    EXPECT_EQ(Results()->item(0, 1)->text(), u"MP3"_qs);
    EXPECT_EQ(Results()->item(0, 2)->text(), u"128 kbps"_qs);
    EXPECT_EQ(Results()->item(0, 3)->text(), u"523"_qs);
    EXPECT_EQ(Results()->item(1, 1)->text(), u"AAC+"_qs);

    // The mirror list first, then the search with the documented parameters
    // and a User-Agent naming Didira and its version.
    EXPECT_EQ(server.Requests(QStringLiteral("/json/servers")), 1);
    const QByteArray request = server.LastRequest(kSearch);
    const QByteArray line = request.left(request.indexOf("\r\n"));
    for (const char* part : {"name=jazz", "countrycode=JP", "language=japanese", "order=votes",
                             "reverse=true", "limit=100"})
        EXPECT_TRUE(line.contains(part)) << part << " in " << line.constData();
    EXPECT_FALSE(line.contains("tag=")) << line.constData();
    EXPECT_TRUE(request.contains("User-Agent: " + CDirectoryClient::UserAgent() + "\r\n"));
    EXPECT_TRUE(CDirectoryClient::UserAgent().startsWith("Didira/"));

    // The mirrors are kept for the next search.
    SearchAndWait();
    EXPECT_EQ(server.Requests(QStringLiteral("/json/servers")), 1);
    EXPECT_EQ(server.Requests(kSearch), 2);
}

TEST_F(DirectoryWindow, ListeningPlaysThroughTheDialogsPlayerAndCountsTheClick) {
    SearchAndWait();
    QSignalSpy counted(&window->Client(), &CDirectoryClient::ClickCounted);
    Pick(0);
    Player().calls.clear();
    Child<QPushButton>("listen")->click();
    EXPECT_EQ(Player().Opened(), QStringList{u"http://127.0.0.1:9/jazz.mp3"_qs});
    EXPECT_EQ(Field(IDC_RADIOSTATION), u"ジャズ喫茶ラジオ"_qs);
    EXPECT_EQ(Field(IDC_URL), u"http://127.0.0.1:9/jazz.mp3"_qs);
    ASSERT_TRUE(WaitUntil([&] { return counted.size() == 1; }));
    EXPECT_EQ(counted[0][0].toString(), u"9617a958-0601-11e8-ae97-52543be04c01"_qs);
    EXPECT_TRUE(counted[0][1].toBool());
    EXPECT_TRUE(server.LastRequest(kFirstClick).contains("User-Agent: Didira/"));
}

TEST_F(DirectoryWindow, AddingWritesTheCatalogueInCp932WithItsBackupAndTheListReloads) {
    SearchAndWait();
    Pick(0);
    EXPECT_EQ(Child<QLineEdit>("entryName")->text(), u"ジャズ喫茶ラジオ"_qs);
    AddAndWait();
    const QByteArray expected = QByteArray::fromStdString(
        Cp932("1,ニッポン放送,http://a/x.asx\r\n"
              "\"0\",\"ジャズ喫茶ラジオ\",\"http://127.0.0.1:9/jazz.mp3\"\r\n"));
    EXPECT_EQ(Bytes("radioname.csv"), expected);
    EXPECT_EQ(Bytes("radioname.csv.bak"), expected); // the reload's backup, lines CR LF ended
    EXPECT_TRUE(boxes.empty());
    const CStationListCtrl* list = remote::Access::List(*dlg);
    ASSERT_EQ(list->rowCount(), 2);
    EXPECT_EQ(list->GetItemText(1, 0), u"ジャズ喫茶ラジオ"_qs);
    EXPECT_EQ(Status(), u"「ジャズ喫茶ラジオ」をCSVﾌｧｲﾙradioname.csvに追加しました"_qs);

    // Another, under an edited name; a German one gets the plain tile.
    Pick(1);
    Child<QLineEdit>("entryName")->setText(u"タンネンブリック"_qs);
    window->Add();
    window->Add(); // while the first is being written: nothing more
    ASSERT_TRUE(WaitUntil([&] { return Status() != u"追加しています…"_qs; }));
    EXPECT_TRUE(Bytes("radioname.csv")
                    .endsWith(QByteArray::fromStdString(Cp932(
                        "\"4\",\"タンネンブリック\",\"http://127.0.0.1:9/tannenblick.aac\"\r\n"))));
    EXPECT_EQ(list->rowCount(), 3);
}

TEST_F(DirectoryWindow, AFullCatalogueIsToldInItsOwnMessageAndLeftAsItWas) {
    QByteArray full;
    for (int i = 1; i <= 100; ++i)
        full += "1,st" + QByteArray::number(i) + ",http://h/" + QByteArray::number(i) + "\r\n";
    WriteCatalogue(full);
    SearchAndWait();
    Pick(0);
    AddAndWait();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(
        boxes[0].text,
        u"CSVﾌｧｲﾙradioname.csvには100局までしか登録できません。放送局を減らしてから追加してください"_qs);
    EXPECT_EQ(boxes[0].owner, window.get());
    EXPECT_EQ(Bytes("radioname.csv"), full);
}

TEST_F(DirectoryWindow, ANameCp932CannotHoldIsOfferedForEditingBeforeAnythingIsWritten) {
    SearchAndWait();
    Pick(2); // "Café ☕ Lounge"
    const QByteArray before = Bytes("radioname.csv");
    AddAndWait();
    EXPECT_TRUE(Status().contains(u"文字コード（CP932）で書けない文字があります"_qs))
        << Status().toStdString();
    auto* entry = Child<QLineEdit>("entryName");
    EXPECT_EQ(entry->selectedText(), u"é"_qs); // the first character it cannot hold
    EXPECT_EQ(Bytes("radioname.csv"), before);
    EXPECT_TRUE(boxes.empty());

    entry->setText(u"Cafe Lounge"_qs);
    AddAndWait();
    EXPECT_TRUE(Bytes("radioname.csv")
                    .endsWith("\"1\",\"Cafe Lounge\",\"http://127.0.0.1:9/cafe.ogg\"\r\n"));
}

TEST_F(DirectoryWindow, ADirectoryThatDoesNotAnswerIsToldWithinFiveSecondsAndThePlayerGoesOn) {
    HttpTestServer silent;
    silent.Hang(QStringLiteral("/json/servers"));
    const struct {
        const char* what;
        QUrl base;
        const char16_t* reason;
    } cases[] = {
        {"nothing listening", QUrl(QStringLiteral("http://127.0.0.1:%1").arg(test::FreePort())),
         u"接続を拒否されました"},
        {"accepts and stays silent", QUrl(silent.Url(QString())),
         u"5秒以内に応答がありませんでした"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        window = std::make_unique<CDirectoryWindow>(*dlg, c.base);
        window->Search();
        // Meanwhile the dialog plays on.
        Player().calls.clear();
        ClickRow(0);
        Press(IDC_RECEIVE);
        EXPECT_EQ(Player().Opened(), QStringList{u"http://a/x.asx"_qs});
        EXPECT_TRUE(WaitUntil([&] { return Status().contains(u"接続できません"_qs); },
                              std::chrono::milliseconds(CDirectoryClient::kBudget) +
                                  std::chrono::seconds(2)))
            << Status().toStdString();
        EXPECT_TRUE(Status().contains(QString::fromUtf16(c.reason))) << Status().toStdString();
        EXPECT_EQ(window->Client().GetState(), CDirectoryClient::State::Idle);
    }
}

TEST_F(DirectoryWindow, AHostileAnswerIsRefusedWithItsReasonAndNothingListed) {
    QByteArray huge = "[\"" + QByteArray(3 << 20, 'x') + "\"]";
    QByteArray wrongTypes = Fixture("stations.json");
    wrongTypes.replace("\"bitrate\": ", "\"bitrate\": \"fast\", \"was\": ");
    const struct {
        const char* what;
        QByteArray body;
        const char16_t* said;
    } cases[] = {
        {"3 MiB", huge, u"応答を使えません：応答が大きすぎます（上限2 MiB）"},
        {"malformed", "[{\"name\": ", u"応答を使えません：応答がJSONとして読めません"},
        {"an object", "{\"name\": \"x\"}",
         u"応答を使えません：応答が放送局の一覧（配列）ではありません"},
        {"wrong types", wrongTypes, u"見つかりませんでした。6局は使えない情報のため除きました"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        server.Serve(kSearch, "application/json", c.body);
        SearchAndWait();
        EXPECT_TRUE(Status().contains(QString::fromUtf16(c.said))) << Status().toStdString();
        EXPECT_EQ(Results()->rowCount(), 0);
    }
    // An error status of the server, and its mirror list missing: the base serves.
    server.Add(QStringLiteral("/json/servers"), {404, "text/html", "<html></html>", {}, false});
    server.Add(kSearch, {400, "text/html", "<html></html>", {}, false});
    window = std::make_unique<CDirectoryWindow>(*dlg, QUrl(server.Url(QString())));
    SearchAndWait();
    EXPECT_EQ(Status(),
              u"放送局ディレクトリで検索できません：サーバーがエラーを返しました（HTTP 400）"_qs);
}

TEST_F(DirectoryWindow, TheWindowIsInTheWindowMenuBeforeTheAboutItemAndInTheTrayMenu) {
    window.reset();
    QMenu tray;
    tray.addAction(u"一時停止"_qs);
    QAction* separator = tray.addSeparator();
    CStationDirectory directory(*dlg, &tray, QUrl(server.Url(QString())));
    const QList<QAction*> trayItems = tray.actions();
    ASSERT_EQ(trayItems.size(), 3);
    EXPECT_EQ(trayItems[1]->text(), u"放送局を探す…"_qs);
    EXPECT_EQ(trayItems[2], separator);

    QMenu* menu = remote::Access::SystemMenu(*dlg);
    const QList<QAction*> items = menu->actions();
    ASSERT_GE(items.size(), 4);
    EXPECT_EQ(items.back()->text(), LoadResourceString(IDS_ABOUTBOX)); // still last
    EXPECT_TRUE(items[items.size() - 2]->isSeparator());
    EXPECT_EQ(items[items.size() - 3]->text(), u"放送局を探す…"_qs);
    EXPECT_TRUE(items[items.size() - 4]->isSeparator());

    EXPECT_EQ(directory.Window(), nullptr);
    items[items.size() - 3]->trigger();
    ASSERT_NE(directory.Window(), nullptr);
    EXPECT_TRUE(directory.Window()->isVisible());
    EXPECT_EQ(directory.Window()->windowTitle(), u"放送局を探す"_qs);
    trayItems[1]->trigger(); // the same window again
    EXPECT_TRUE(boxes.empty());
}

} // namespace
} // namespace didira

namespace didira {
namespace {

// Not a check: with DIDIRA_SCREENSHOT set to a file name, the window with a
// search's results is drawn into it, to look at as the listener sees it.
TEST_F(DirectoryWindow, Screenshot) {
    const QString file = qEnvironmentVariable("DIDIRA_SCREENSHOT");
    if (file.isEmpty())
        GTEST_SKIP() << "DIDIRA_SCREENSHOT names no file";
    window->show();
    Child<QLineEdit>("tag")->setText(u"jazz"_qs);
    SearchAndWait();
    Pick(0);
    test::Pump(std::chrono::milliseconds(300));
    ASSERT_TRUE(window->grab().save(file));
}

} // namespace
} // namespace didira
