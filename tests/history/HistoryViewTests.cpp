// The song history as the listener sees it: the window (newest first,
// narrowed by text and by station, exported as CSV through the save dialog,
// Japanese text drawn) and the tray's "最近の曲" (the newest ten, copied as
// "Title — Station"); and the program's own wiring: the dialog's titles as
// heard become entries, and the window menu opens the window.
#include "app/ListenerTools.h"
#include "app/RecentSongsMenu.h"
#include "app/TrayIcon.h"
#include "control/SongHistory.h"
#include "support/DialogFixture.h"
#include "support/TestSupport.h"
#include "ui/DlgRemote.h"
#include "ui/HistoryExport.h"
#include "ui/HistoryWindow.h"
#include "ui/SaveFileDialog.h"

#include <QClipboard>
#include <QComboBox>
#include <QGuiApplication>
#include <QLabel>
#include <QMenu>
#include <QTableView>
#include <QTest>
#include <algorithm>

namespace didira {
namespace {

using namespace std::chrono_literals;

constexpr qint64 kMinute = 60 * 1000;

QStringList Titles(const std::vector<HeardEntry>& entries) {
    QStringList out;
    for (const HeardEntry& e : entries)
        out << e.title;
    return out;
}

class HistoryView : public ::testing::Test {
protected:
    void SetUp() override {
        CSongHistory::Options options;
        options.clock = [this] { return now; };
        history = std::make_unique<CSongHistory>(test::TempDir() + u"/history.sqlite"_qs, options);
        ASSERT_TRUE(test::WaitUntil(
            [&] { return history->CurrentState() == CSongHistory::State::Open; }, 10s));
    }
    void TearDown() override { SetSaveFileDialogHook({}); }
    void Hear(const QString& station, const QString& title) {
        now += 4 * kMinute;
        history->Heard(station, title);
    }

    qint64 now = QDateTime::currentMSecsSinceEpoch() - 3 * 60 * kMinute;
    std::unique_ptr<CSongHistory> history;
};

TEST_F(HistoryView, TheWindowListsNewestFirstNarrowsByTextAndStationAndExportsWhatItShows) {
    Hear(u"FM みなと"_qs, u"星降る坂道"_qs);
    Hear(u"Radio Kaze"_qs, u"Lemon Drop"_qs);
    CHistoryWindow window(*history);
    window.resize(640, 360);
    window.show();
    Hear(u"FM みなと"_qs, u"ドロップ, Lemon Drop"_qs); // while the window is open
    Hear(u"Night Jazz 7"_qs, u"Blue Step"_qs);
    EXPECT_EQ(Titles(window.Shown()), (QStringList{u"Blue Step"_qs, u"ドロップ, Lemon Drop"_qs,
                                                   u"Lemon Drop"_qs, u"星降る坂道"_qs}));

    auto* search = window.findChild<QLineEdit*>();
    auto* station = window.findChild<QComboBox*>();
    ASSERT_TRUE(search && station);
    ASSERT_EQ(station->count(), 4); // all, then each station
    const struct {
        QString text;
        QString station; // empty: all
        QStringList shown;
    } cases[] = {
        {u"lemon"_qs, QString(), {u"ドロップ, Lemon Drop"_qs, u"Lemon Drop"_qs}},
        {u"みなと"_qs, QString(), {u"ドロップ, Lemon Drop"_qs, u"星降る坂道"_qs}},
        {QString(), u"FM みなと"_qs, {u"ドロップ, Lemon Drop"_qs, u"星降る坂道"_qs}},
        {u"lemon"_qs, u"Radio Kaze"_qs, {u"Lemon Drop"_qs}},
        {u"nothing"_qs, QString(), {}},
        {QString(),
         QString(),
         {u"Blue Step"_qs, u"ドロップ, Lemon Drop"_qs, u"Lemon Drop"_qs, u"星降る坂道"_qs}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE((c.text + u'|' + c.station).toStdString());
        search->setText(c.text);
        station->setCurrentIndex(c.station.isEmpty() ? 0 : station->findText(c.station));
        EXPECT_EQ(Titles(window.Shown()), c.shown);
    }

    // A double-click copies the row as "Title — Station".
    auto* list = window.findChild<QTableView*>();
    ASSERT_TRUE(list);
    search->setText(u"lemon"_qs);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    const QRect second = list->visualRect(list->model()->index(1, 2));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, second.center());
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, second.center());
    EXPECT_EQ(QGuiApplication::clipboard()->text(), u"Lemon Drop — Radio Kaze"_qs);

    // Narrowed, it exports what it shows; the name gets its suffix.
    search->setText(u"lemon"_qs);
    const QString dir = test::TempDir();
    SetSaveFileDialogHook([&](const SaveFileRequest& request) {
        EXPECT_EQ(request.suggestedName, u"didira-history.csv"_qs);
        return dir + u"/export"_qs;
    });
    const auto exportButton = [&] {
        for (QPushButton* button : window.findChildren<QPushButton*>())
            if (button->text() == u"CSVに書き出す…"_qs)
                return button;
        return static_cast<QPushButton*>(nullptr);
    }();
    ASSERT_TRUE(exportButton);
    exportButton->click();
    QFile csv(dir + u"/export.csv"_qs);
    ASSERT_TRUE(csv.open(QIODevice::ReadOnly));
    EXPECT_EQ(csv.readAll(), HistoryCsv(window.Shown()));
    EXPECT_EQ(window.Shown().size(), 2u);

    // A folder that cannot be written is said in a stop box.
    test::MessageRecorder boxes;
    SetSaveFileDialogHook([](const SaveFileRequest&) { return u"/proc/didira-none/x.csv"_qs; });
    exportButton->click();
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].icon, MbIcon::Stop);
    EXPECT_TRUE(boxes.Texts()[0].contains(u"/proc/didira-none/x.csv"_qs));
}

TEST_F(HistoryView, TheTraysRecentSongsAreTheNewestTenAndCopyTitleAndStation) {
    QMenu tray;
    tray.addAction(u"一時停止"_qs);
    tray.addSeparator();
    tray.addAction(u"ウィンドウを表示"_qs);
    tray.addAction(u"終了"_qs);
    int opened = 0;
    CRecentSongsMenu recent(*history, tray, [&] { ++opened; });

    // Before the last separator, the window and "終了" after it.
    QStringList labels;
    for (QAction* action : tray.actions())
        labels << (action->isSeparator() ? u"-"_qs : action->text());
    EXPECT_EQ(labels, (QStringList{u"一時停止"_qs, u"最近の曲"_qs, u"曲の履歴…"_qs, u"-"_qs,
                                   u"ウィンドウを表示"_qs, u"終了"_qs}));
    ASSERT_EQ(recent.Recent()->actions().size(), 1);
    EXPECT_FALSE(recent.Recent()->actions()[0]->isEnabled()) << "nothing heard yet";

    for (int i = 1; i <= 12; ++i)
        Hear(i % 2 ? u"A & B"_qs : u"局"_qs, u"Song %1"_qs.arg(i));
    emit recent.Recent()->aboutToShow();
    const QList<QAction*> songs = recent.Recent()->actions();
    ASSERT_EQ(songs.size(), CRecentSongsMenu::kShown);
    EXPECT_TRUE(songs[0]->text().startsWith(u"Song 12 — 局  ("_qs))
        << songs[0]->text().toStdString();
    EXPECT_TRUE(songs[1]->text().startsWith(u"Song 11 — A && B  ("_qs))
        << songs[1]->text().toStdString();
    EXPECT_TRUE(songs[9]->text().startsWith(u"Song 3 — "_qs));
    const QString time =
        QDateTime::fromMSecsSinceEpoch(history->Entries().back().heardMs).toString(u"HH:mm"_qs);
    EXPECT_TRUE(songs[0]->text().contains(time)) << songs[0]->text().toStdString();

    songs[1]->trigger();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), u"Song 11 — A & B"_qs);

    // A long title is cut in the menu, whole on the clipboard.
    const QString longTitle(300, u'長');
    Hear(u"局"_qs, longTitle);
    emit recent.Recent()->aboutToShow();
    EXPECT_LT(recent.Recent()->actions()[0]->text().size(), 150);
    recent.Recent()->actions()[0]->trigger();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), longTitle + u" — 局"_qs);
    recent.WindowAction()->trigger();
    EXPECT_EQ(opened, 1);
}

class HistoryOfTheDialog : public test::DialogFixture {
protected:
    void SetUp() override {
        DialogFixture::SetUp();
        data = test::TempDir();
        qputenv("XDG_DATA_HOME", data.toUtf8());
        Make();
        ASSERT_TRUE(created);
    }
    void TearDown() override {
        tools.reset();
        qunsetenv("XDG_DATA_HOME");
        DialogFixture::TearDown();
    }
    QString data;
    std::unique_ptr<CListenerTools> tools;
};

TEST_F(HistoryOfTheDialog, TheTitlesTheDialogPlaysAreEntriesAndTheWindowMenuOpensTheWindow) {
    tools = std::make_unique<CListenerTools>(*dlg, QDBusConnection(QString()));
    CSongHistory& history = tools->History();
    ASSERT_TRUE(
        test::WaitUntil([&] { return history.CurrentState() == CSongHistory::State::Open; }, 10s));
    remote::Step(*dlg, +1); // plays "Test Station"
    emit Player().TitleChanged(u"一曲目"_qs);
    emit Player().TitleChanged(QString());
    emit Player().TitleChanged(u"一曲目"_qs); // resent at once: the same entry
    emit Player().TitleChanged(u"二曲目"_qs);
    ASSERT_EQ(history.Entries().size(), 2u);
    EXPECT_EQ(history.Entries()[0].station, u"Test Station"_qs);
    EXPECT_EQ(history.Entries()[1].title, u"二曲目"_qs);
    ASSERT_TRUE(test::WaitUntil([&] { return history.Waiting() == 0; }, 10s));
    EXPECT_TRUE(QFileInfo::exists(data + u"/didira/history.sqlite"_qs));

    // The window menu holds the history's item among the items beside the
    // dialog, after a separator; the about item stays last, after its own.
    QMenu* menu = remote::Access::SystemMenu(*dlg);
    ASSERT_TRUE(menu);
    const QList<QAction*> items = menu->actions();
    const auto at = std::find_if(items.begin(), items.end(),
                                 [](QAction* a) { return a->text() == u"曲の履歴…"_qs; });
    ASSERT_NE(at, items.end());
    ASSERT_GE(at - items.begin(), 1);
    EXPECT_TRUE((*(at - 1))->isSeparator());
    EXPECT_EQ(items.back()->text(), LoadResourceString(IDS_ABOUTBOX));
    EXPECT_TRUE(items[items.size() - 2]->isSeparator());
    (*at)->trigger();
    const auto shown = [] {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* window = qobject_cast<CHistoryWindow*>(w); window && window->isVisible())
                return window;
        return static_cast<CHistoryWindow*>(nullptr);
    };
    CHistoryWindow* window = shown();
    ASSERT_TRUE(window);
    EXPECT_EQ(Titles(window->Shown()), (QStringList{u"二曲目"_qs, u"一曲目"_qs}));
    EXPECT_EQ(window->font(), dlg->font());

    // As a listener would see it, in the dialog's font (saved where asked).
    const QString shot = qEnvironmentVariable("DIDIRA_HISTORY_SCREENSHOT");
    if (!shot.isEmpty()) {
        for (const char* title :
             {"星降る坂道", "Lemon Drop", "みずいろの雨だれ, 2004", "Blue Step"})
            emit Player().TitleChanged(QString::fromUtf8(title));
        window->findChild<QLineEdit*>()->setText(u"曲"_qs);
        window->findChild<QLineEdit*>()->clear();
        test::Pump(300ms);
        EXPECT_TRUE(window->grab().save(shot));
    }
}

} // namespace
} // namespace didira
