// A workbook catalogue on a system without a workbook ODBC driver (as every
// stock Debian system is): reported, with the built-in stations.
#include "CatalogueTestSupport.h"
#include "catalogue/CatalogueLoad.h"
#include "catalogue/Odbc.h"
#include "catalogue/SheetFile.h"
#include "ui/VavarozDlg.h"

#include <QFile>
#include <gtest/gtest.h>

namespace didira {
namespace {

TEST(NoExcelDriver, NoDriverIsFoundWhenNoneNamesExcel) {
    const std::string path = test::TempPath("book.xls");
    test::WriteBytes(path, "[Sheet1]\nno\tname\turl\n");
    try {
        CSheetFile sheet(path, "Sheet1", true);
        ADD_FAILURE() << "connected without a driver";
    } catch (const CDBException& e) {
        EXPECT_EQ(e.m_strSqlState, "IM002");
    }
    // The driver that is installed was never asked to connect.
    EXPECT_FALSE(test::Exists(path + ".log"));
}

TEST(NoExcelDriver, AWorkbookCatalogueFallsBackToTheBuiltInStations) {
    const std::string path = test::TempPath("radioname.xls");
    test::WriteBytes(path, "[,]\nno\tname\turl\n1\ta\tb\n");
    test::MessageRecorder boxes;
    StationTable table;
    table.number[20] = QStringLiteral("kept");
    EXPECT_EQ(LoadStationCatalogue(QFile::decodeName(path.c_str()), table, test::ShowWithoutOwner),
              10);
    EXPECT_EQ(boxes.Texts(),
              QStringList{QStringLiteral("Excel ｺﾝﾎﾟｰﾈﾝﾄが無いのでﾃﾞﾌｫﾙﾄ設定で表示します")});
    EXPECT_EQ(table.name[0], QStringLiteral("ニッポン放送"));
    EXPECT_EQ(table.number[20], QStringLiteral("kept"));
}

} // namespace
} // namespace didira
