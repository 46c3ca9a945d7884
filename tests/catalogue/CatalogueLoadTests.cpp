// Loading the station catalogue into the dialog's table, its messages, and
// the import of another catalogue file.
#include "CatalogueTestSupport.h"
#include "catalogue/CatalogueLoad.h"
#include "support/DialogFixture.h"
#include "ui/DlgAccess.h"
#include "ui/OpenFileDialog.h"
#include "ui/StationListCtrl.h"
#include "ui/VavarozDlg.h"

#include <QCoreApplication>
#include <QDir>
#include <QDropEvent>
#include <QFile>
#include <QMimeData>
#include <QUrl>
#include <gtest/gtest.h>
#include <unistd.h>

namespace didira {
namespace {

using test::Cp932;
using test::Exists;
using test::MessageRecorder;
using test::ReadBytes;
using test::TempPath;
using test::WriteBytes;

QString Q(const std::string& path) {
    return QFile::decodeName(QByteArray::fromStdString(path));
}

std::string Lines(int count, const char* prefix = "st") {
    std::string text;
    for (int i = 1; i <= count; ++i)
        text += std::to_string(i % 4) + "," + prefix + std::to_string(i) + ",http://h/" +
                std::to_string(i) + ".asx\n";
    return text;
}

QString ColumnsMessage(const QString& path) {
    return QStringLiteral("CSVﾌｧｲﾙ%1は3列(no,name,url)にしてください").arg(path);
}

TEST(CatalogueLoad, AMissingFileShowsOneMessageAndTheBuiltInStations) {
    MessageRecorder boxes;
    StationTable table;
    table.number[10] = QStringLiteral("kept");
    EXPECT_EQ(LoadStationCatalogue(QStringLiteral("/nonexistent/radioname.csv"), table,
                                   test::ShowWithoutOwner),
              10);
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].text, QStringLiteral("CSVﾌｧｲﾙ/nonexistent/radioname.csvがありません"));
    EXPECT_EQ(boxes.boxes[0].owner, nullptr);
    EXPECT_EQ(table.name[0], QStringLiteral("ニッポン放送"));
    EXPECT_EQ(table.number[9], QString()); // the tenth entry ends the list at nine
    EXPECT_EQ(table.number[10], QStringLiteral("kept"));
}

TEST(CatalogueLoad, EachLineFillsItsEntryAndLaterEntriesStay) {
    MessageRecorder boxes;
    const std::string path = TempPath("radioname.csv");
    StationTable table;
    table.url[2] = QStringLiteral("previous url");
    table.name[3] = QStringLiteral("previous name");
    table.number[5] = QStringLiteral("later");
    WriteBytes(path, "no,name,url\n\"1\",\"quoted\",\"http://q/\"\n2,two\n\n3,a,b\n");
    EXPECT_EQ(LoadStationCatalogue(Q(path), table, test::ShowWithoutOwner), 5);
    EXPECT_TRUE(boxes.boxes.empty()) << boxes.Texts().join(u'\n').toStdString();
    // A header line is a station like any other.
    EXPECT_EQ(table.number[0], QStringLiteral("no"));
    EXPECT_EQ(table.url[0], QStringLiteral("url"));
    // Quotes do not reach the table.
    EXPECT_EQ(table.name[1], QStringLiteral("quoted"));
    EXPECT_EQ(table.url[1], QStringLiteral("http://q/"));
    // Two cells: the URL keeps what it held.
    EXPECT_EQ(table.name[2], QStringLiteral("two"));
    EXPECT_EQ(table.url[2], QStringLiteral("previous url"));
    // A blank line empties the number only.
    EXPECT_EQ(table.number[3], QString());
    EXPECT_EQ(table.name[3], QStringLiteral("previous name"));
    EXPECT_EQ(table.number[4], QStringLiteral("3"));
    EXPECT_EQ(table.number[5], QStringLiteral("later"));
}

TEST(CatalogueLoad, ShapeChecksReportOneMessageAndLeaveTheTable) {
    const auto path = TempPath("radioname.csv");
    const struct {
        const char* name;
        std::string content;
        QString message;
    } cases[] = {
        {"two cells", "1,a\n2,b\n", ColumnsMessage(Q(path))},
        {"a four-cell line", "1,a,b\n2,b,c,d\n3,c,d\n", ColumnsMessage(Q(path))},
        {"empty", "", ColumnsMessage(Q(path))},
        {"101 lines", Lines(101),
         QStringLiteral("CSVﾌｧｲﾙ%1は100行以内にしてください").arg(Q(path))},
        {"binary", std::string("\0\x81\xff\n\x82,\"\r\r\n", 10) + std::string(3000, '\x83'),
         ColumnsMessage(Q(path))},
    };
    for (const auto& c : cases) {
        ::unlink((path + ".bak").c_str());
        WriteBytes(path, c.content);
        MessageRecorder boxes;
        StationTable table;
        table.name[0] = QStringLiteral("unchanged");
        EXPECT_EQ(LoadStationCatalogue(Q(path), table, test::ShowWithoutOwner), -1) << c.name;
        EXPECT_EQ(boxes.Texts(), QStringList{c.message}) << c.name;
        EXPECT_EQ(table.name[0], QStringLiteral("unchanged")) << c.name;
        EXPECT_TRUE(table.number[0].isEmpty()) << c.name;
        // The backup is written before the checks, for every file with a column.
        EXPECT_EQ(Exists(path + ".bak"), !c.content.empty()) << c.name;
    }
}

TEST(CatalogueLoad, AnOversizedCatalogueIsRefusedUnreadAndAHundredLinesLoad) {
    const auto text = TempPath("radioname.csv");
    const auto book = TempPath("radioname.xls");
    // A sparse 200 MB file: one long line of NUL bytes, nothing on disk.
    WriteBytes(text, "");
    ASSERT_EQ(::truncate(text.c_str(), 200 << 20), 0);
    // A workbook of 101 rows (its header is one) stops being read at the limit.
    std::string rows = "[,]\nno\tname\turl\n";
    for (int i = 1; i <= 100; ++i)
        rows += "1\tst" + std::to_string(i) + "\thttp://h/\n";
    WriteBytes(book, rows);
    for (const auto& path : {text, book}) {
        MessageRecorder boxes;
        StationTable table;
        table.name[0] = QStringLiteral("unchanged");
        EXPECT_EQ(LoadStationCatalogue(Q(path), table, test::ShowWithoutOwner), -1) << path;
        EXPECT_EQ(boxes.Texts(),
                  QStringList{QStringLiteral("CSVﾌｧｲﾙ%1は100行以内にしてください").arg(Q(path))});
        EXPECT_EQ(table.name[0], QStringLiteral("unchanged"));
        EXPECT_TRUE(table.number[0].isEmpty());
    }
    // No backup of either.
    EXPECT_FALSE(Exists(text + ".bak"));
    EXPECT_EQ(ReadBytes(book).find("CSheetFileBackup"), std::string::npos);
    // A hundred lines are within the limit.
    MessageRecorder boxes;
    WriteBytes(text, Lines(100));
    StationTable table;
    EXPECT_EQ(LoadStationCatalogue(Q(text), table, test::ShowWithoutOwner), 100);
    EXPECT_TRUE(boxes.boxes.empty());
    EXPECT_EQ(table.name[99], QStringLiteral("st100"));
}

TEST(CatalogueLoad, ADirectoryOrAnUnreadableFileIsReportedNotFatal) {
    const auto dir = TempPath("radioname.csv");
    ASSERT_EQ(QDir().mkpath(Q(dir)), true);
    MessageRecorder boxes;
    StationTable table;
    EXPECT_EQ(LoadStationCatalogue(Q(dir), table, test::ShowWithoutOwner), -1);
    EXPECT_EQ(boxes.Texts(), QStringList{ColumnsMessage(Q(dir))});
}

TEST(CatalogueLoad, Cp932AndUtf8CataloguesDecodeToTheSameNames) {
    const std::string text = "0,ニッポン放送,http://a/\n4,ABC\u3000coast FM ｵｰｽﾄﾗﾘｱ,http://b/\n"
                             "1,表示\\テスト,http://c/\n";
    const auto cp932 = TempPath("radioname.csv");
    WriteBytes(cp932, Cp932(text));
    const auto utf8 = TempPath("radioname.csv");
    WriteBytes(utf8, "\xEF\xBB\xBF" + text);
    for (const auto& path : {cp932, utf8}) {
        MessageRecorder boxes;
        StationTable table;
        ASSERT_EQ(LoadStationCatalogue(Q(path), table, test::ShowWithoutOwner), 3) << path;
        EXPECT_EQ(table.number[0], QStringLiteral("0"));
        EXPECT_EQ(table.name[0], QStringLiteral("ニッポン放送"));
        EXPECT_EQ(table.name[1], QStringLiteral("ABC\u3000coast FM ｵｰｽﾄﾗﾘｱ"));
        EXPECT_EQ(table.name[2], QStringLiteral("表示\\テスト"));
    }
    // The backup keeps the file's own bytes.
    EXPECT_EQ(ReadBytes(cp932 + ".bak"),
              Cp932("0,ニッポン放送,http://a/\r\n4,ABC\u3000coast FM "
                    "ｵｰｽﾄﾗﾘｱ,http://b/\r\n1,表示\\テスト,http://c/\r\n"));
}

// ---- through the dialog ----

class CatalogueDialog : public test::DialogFixture {
protected:
    void TearDown() override {
        SetOpenFileDialogHook({});
        DialogFixture::TearDown();
    }
};

TEST_F(CatalogueDialog, WithoutACatalogueTheMessageHasNoOwnerAndNineStationsShow) {
    ASSERT_TRUE(QFile::remove(QStringLiteral("radioname.csv")));
    CVavarozDlg& d = Make();
    ASSERT_EQ(recorder.Texts(), QStringList{QStringLiteral("CSVﾌｧｲﾙradioname.csvがありません")});
    EXPECT_EQ(boxes[0].owner, nullptr);
    ASSERT_TRUE(created);
    EXPECT_EQ(remote::Access::List(d)->GetItemCount(), 9);
    EXPECT_EQ(remote::Access::List(d)->GetItemText(8, 0), QStringLiteral("WNKU"));
}

TEST_F(CatalogueDialog, AnImportShowsExactlyTheImportedCatalogue) {
    WriteBytes("radioname.csv", Lines(8, "old"));
    CVavarozDlg& d = Make();
    ASSERT_TRUE(created);
    ASSERT_EQ(remote::Access::List(d)->GetItemCount(), 8);

    const std::string shorter = TempPath("short.csv");
    WriteBytes(shorter, "1,new1,u1\n2,new2\n3,new3,u3\n");
    d.ImportCatalog(Q(shorter));
    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ(remote::Access::CatalogFile(d), Q(shorter));
    EXPECT_EQ(remote::Access::List(d)->GetItemCount(), 3);
    EXPECT_EQ(remote::Access::List(d)->GetItemText(2, 0), QStringLiteral("new3"));
    // Entries past the imported lines are emptied, and a short line's
    // missing URL is empty rather than the old catalogue's.
    EXPECT_TRUE(remote::Access::Table(d).number[3].isEmpty());
    EXPECT_TRUE(remote::Access::Table(d).name[7].isEmpty());
    EXPECT_TRUE(remote::Access::Table(d).url[1].isEmpty());
    EXPECT_EQ(remote::Access::List(d)->columnCount(), 2);
}

TEST_F(CatalogueDialog, AFailedImportChangesNothing) {
    WriteBytes("radioname.csv", Lines(4));
    CVavarozDlg& d = Make();
    ASSERT_TRUE(created);
    const StationTable before = remote::Access::Table(d);

    const std::string bad = TempPath("bad.csv");
    WriteBytes(bad, "1,a\n");
    d.ImportCatalog(Q(bad));
    ASSERT_EQ(recorder.Texts(), QStringList{ColumnsMessage(Q(bad))});
    EXPECT_EQ(boxes[0].owner, &d);
    EXPECT_EQ(remote::Access::CatalogFile(d), QStringLiteral("radioname.csv"));
    EXPECT_EQ(remote::Access::Table(d).name, before.name);
    EXPECT_EQ(remote::Access::List(d)->GetItemCount(), 4);
}

TEST_F(CatalogueDialog, TheImportButtonAsksForACsvFileAndLoadsItUnlessCancelled) {
    CVavarozDlg& d = Make();
    ASSERT_TRUE(created);
    boxes.clear();
    const std::string chosen = TempPath("chosen.csv");
    WriteBytes(chosen, Lines(2, "chosen"));
    // Cancelled, the dialog changes nothing; then a file is chosen.
    OpenFileRequest seen;
    QString answer;
    SetOpenFileDialogHook([&](const OpenFileRequest& request) {
        seen = request;
        return answer;
    });
    const int rows = remote::Access::List(d)->GetItemCount();
    d.OnImportButton();
    EXPECT_EQ(seen.owner, &d);
    EXPECT_EQ(remote::Access::List(d)->GetItemCount(), rows);
    EXPECT_TRUE(boxes.empty());
    answer = Q(chosen);
    d.OnImportButton();
    EXPECT_EQ(seen.defaultSuffix, QStringLiteral("CSV"));
    EXPECT_EQ(seen.nameFilters,
              (QStringList{QStringLiteral("CSVﾌｧｲﾙ (*.csv)"), QStringLiteral("全て (*.*)")}));
    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ(remote::Access::List(d)->GetItemCount(), 2);
    EXPECT_EQ(remote::Access::List(d)->GetItemText(1, 0), QStringLiteral("chosen2"));
}

TEST_F(CatalogueDialog, ACatalogueDroppedOnTheWindowIsImported) {
    WriteBytes("radioname.csv", Lines(6));
    CVavarozDlg& d = Make();
    ASSERT_TRUE(created);
    const std::string dropped = TempPath("dropped.csv");
    WriteBytes(dropped, Lines(2, "dropped"));
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(Q(dropped))});
    // The drop goes to the widget that accepted the drag's entry.
    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&d, &enter);
    ASSERT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&d, &drop);
    EXPECT_TRUE(test::WaitUntil([&] { return remote::Access::List(d)->GetItemCount() == 2; }));
    EXPECT_EQ(remote::Access::List(d)->GetItemText(0, 0), QStringLiteral("dropped1"));
    EXPECT_EQ(remote::Access::CatalogFile(d), Q(dropped));
    EXPECT_TRUE(boxes.empty());
}

} // namespace
} // namespace didira
