// The station list: columns from a heading list, rows from the table.
#include "ui/ImageList.h"
#include "ui/StationListBuild.h"
#include "ui/StationListCtrl.h"
#include "ui/VavarozDlg.h"

#include <gtest/gtest.h>

namespace didira {
namespace {

const QString kColumns = QStringLiteral("Radio Station,URL                           ,");

TEST(StationColumns, HeadingsArePaddedToTenUnitsCountedAsCp932) {
    const struct {
        QString heading;
        int blanks;
    } cases[] = {
        {QStringLiteral("0123456789"), 0},     {QString(), 10},
        {QStringLiteral("局名"), 6},           // full-width: 2 units each
        {QStringLiteral("ﾗｼﾞｵ"), 6},           // half-width katakana: 1 unit each
        {QStringLiteral("ラジオ局の名前"), 4}, // 14 units: 4 beyond 10
    };
    for (const auto& c : cases)
        EXPECT_EQ(PadHeading(c.heading), c.heading + QString(c.blanks, u' '))
            << c.heading.toStdString();
}

TEST(StationColumns, EveryHeadingEndedByACommaMakesAPaddedColumn) {
    const std::pair<QString, QStringList> cases[] = {
        {kColumns, {"Radio Station   ", "URL" + QString(47, u' ')}},
        {"a,b", {"a         "}},
        {",x,", {QString(10, u' '), "x         "}},
    };
    for (const auto& [headings, expected] : cases) {
        CStationListCtrl list;
        AddStationColumns(list, headings);
        QStringList shown;
        for (int c = 0; c < list.columnCount(); ++c)
            shown << list.horizontalHeaderItem(c)->text();
        EXPECT_EQ(shown, expected) << headings.toStdString();
    }
}

TEST(StationColumns, ColumnsWidenWithTheListsFont) {
    CStationListCtrl small;
    QFont font = small.font();
    font.setPointSize(9);
    small.setFont(font);
    CStationListCtrl large;
    font.setPointSize(18);
    large.setFont(font);
    AddStationColumns(small, kColumns);
    AddStationColumns(large, kColumns);
    EXPECT_GT(large.columnWidth(0), small.columnWidth(0));
    EXPECT_GT(large.columnWidth(1), small.columnWidth(1));
}

TEST(StationRows, TheNumberSelectsTheFlagAsAtoiReadsIt) {
    const struct {
        const char* number;
        int image;
    } cases[] = {
        {"0", 0},   {"1", 1},   {"3", 3},    {"4", 4},  {"17", 4}, {"-1", 4},
        {"abc", 0}, {"  2", 2}, {"2abc", 2}, {"+3", 3}, {"-0", 0}, {"99999999999999999999", 4},
        {"\t1", 1}, {"３", 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FlagImageIndex(QString::fromUtf8(c.number)), c.image) << c.number;
}

TEST(StationRows, RowsRunUpToTheFirstEmptyNumber) {
    StationTable table;
    for (int i = 0; i < 5; ++i) {
        table.number[i] = QString::number(i == 3 ? 0 : 1);
        table.name[i] = QStringLiteral("name, %1").arg(i);
        table.url[i] = QStringLiteral("http://h/%1.asx?a=1,2").arg(i);
    }
    table.number[3].clear();
    CImageList images; // no bitmap: rows still carry their image index
    CStationListCtrl list;
    list.SetImageList(&images, LVSIL_SMALL);
    AddStationColumns(list, kColumns);
    AddStationRows(list, table);
    ASSERT_EQ(list.GetItemCount(), 3);
    // Commas in names and URLs are shown whole.
    EXPECT_EQ(list.GetItemText(2, 0), QStringLiteral("name, 2"));
    EXPECT_EQ(list.GetItemText(2, 1), QStringLiteral("http://h/2.asx?a=1,2"));
    EXPECT_EQ(list.GetItemImage(0), 1);
}

TEST(StationRows, AHundredEntriesGiveAHundredRowsWithImagesInTheFirstColumnOnly) {
    StationTable table;
    for (int i = 0; i < kMaxStations; ++i) {
        table.number[i] = QString::number(i % 6);
        table.name[i] = QStringLiteral("s%1").arg(i + 1);
        table.url[i] = QStringLiteral("u%1").arg(i + 1);
    }
    CStationListCtrl list;
    AddStationColumns(list, kColumns);
    AddStationRows(list, table);
    ASSERT_EQ(list.GetItemCount(), 100);
    EXPECT_EQ(list.GetItemText(99, 0), QStringLiteral("s100"));
    EXPECT_EQ(list.GetItemImage(5), 4);
    EXPECT_TRUE(list.item(2, 1)->icon().isNull());

    // Texts outside the rows and columns are refused.
    EXPECT_EQ(list.PutItemText(100, 1, QStringLiteral("no row")), 0);
    EXPECT_EQ(list.PutItemText(0, 2, QStringLiteral("no column")), 0);
    ClearStationList(list);
    EXPECT_EQ(list.columnCount(), 0);
    EXPECT_EQ(list.GetItemCount(), 0);
}

} // namespace
} // namespace didira
