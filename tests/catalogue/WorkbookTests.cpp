// Workbooks through the real ODBC driver manager and the test driver that
// this directory builds (registered through ODBCSYSINI).
#include "CatalogueTestSupport.h"
#include "catalogue/Odbc.h"
#include "catalogue/SheetFile.h"

#include <gtest/gtest.h>

namespace didira {
namespace {

using Cells = std::vector<std::string>;
using test::ReadBytes;
using test::TempPath;
using test::WriteBytes;

TEST(Workbook, ThePathsLastFourCharactersDecideTheKind) {
    for (const char* name : {"book.xls", "book.XLS", "book.Xls"}) {
        CSheetFile sheet(TempPath(name), "Sheet1", false);
        EXPECT_TRUE(sheet.ExcelMode()) << name;
    }
    for (const std::string& name : {TempPath("book.xlsx"), std::string("xls"), std::string("ab")}) {
        CSheetFile sheet(name, ",", false);
        EXPECT_FALSE(sheet.ExcelMode()) << name;
    }
}

TEST(Workbook, RowsComeThroughTheExcelDriverAsQuotedLinesAndSplitLikeText) {
    const std::string path = TempPath("book.xls");
    const std::string longValue(10000, 'x');
    WriteBytes(path, "[Sheet1]\nno\tname\turl\n1\tニッポン放送\thttp://a/b.asx\n2\t\\N\t" +
                         longValue + "\n3\ta,b\t\n");
    CSheetFile sheet(path, "Sheet1", false);
    // The first installed driver whose name mentions Excel.
    EXPECT_EQ(sheet.Driver(), "Didira Test Excel Driver (*.xls)");
    EXPECT_EQ(sheet.ColumnCount(), 3);
    EXPECT_EQ(sheet.RowCount(), 4);
    EXPECT_EQ(sheet.Header(), (Cells{"no", "name", "url"}));
    EXPECT_EQ(sheet.Lines()[0], R"("no",;.?"name",;.?"url")");
    Cells cells;
    ASSERT_TRUE(sheet.FetchRow(cells, 2));
    EXPECT_EQ(cells, (Cells{"1", "ニッポン放送", "http://a/b.asx"}));
    ASSERT_TRUE(sheet.FetchRow(cells));
    // NULL reads as empty; a value longer than one read buffer comes whole.
    EXPECT_EQ(cells, (Cells{"2", "", longValue}));
    ASSERT_TRUE(sheet.FetchRow(cells));
    EXPECT_EQ(cells, (Cells{"3", "a,b", ""}));
}

TEST(Workbook, TheBackupSheetIsCreatedAndFilledFromTheRows) {
    const std::string path = TempPath("book.xls");
    WriteBytes(path, "[Sheet1]\nno\tname\turl\n1\ta\tu1\n2\tb\tu2\n");
    CSheetFile sheet(path, "Sheet1", true);
    EXPECT_TRUE(sheet.MakeBackup());
    EXPECT_EQ(ReadBytes(path), "[Sheet1]\nno\tname\turl\n1\ta\tu1\n2\tb\tu2\n"
                               "[CSheetFileBackup]\nno\tname\turl\n1\ta\tu1\n2\tb\tu2\n");
    // The cursor is back at the first row after the backup.
    Cells cells;
    ASSERT_TRUE(sheet.FetchRow(cells));
    EXPECT_EQ(cells, (Cells{"no", "name", "url"}));
}

TEST(Workbook, AnExistingBackupSheetAbandonsTheBackupButTheReadStands) {
    const std::string path = TempPath("book.xls");
    WriteBytes(path, "[Sheet1]\nno\tname\turl\n1\ta\tu1\n[CSheetFileBackup]\nold\n");
    CSheetFile sheet(path, "Sheet1", true);
    EXPECT_FALSE(sheet.MakeBackup());
    EXPECT_NE(sheet.ErrorText().find("already exists"), std::string::npos) << sheet.ErrorText();
    EXPECT_EQ(sheet.RowCount(), 2);
    EXPECT_EQ(sheet.ColumnCount(), 3);
}

TEST(Workbook, ASingleQuoteInACellStopsTheBackupAtItsRow) {
    const std::string path = TempPath("book.xls");
    WriteBytes(path, "[Sheet1]\nno\tname\turl\n1\ta\tu1\n2\tO'Hara\tu2\n3\tc\tu3\n");
    CSheetFile sheet(path, "Sheet1", true);
    EXPECT_FALSE(sheet.MakeBackup());
    EXPECT_NE(sheet.ErrorText().find("Syntax error"), std::string::npos) << sheet.ErrorText();
    EXPECT_EQ(sheet.RowCount(), 4);
    // The rows inserted before the failing one stay in the backup sheet.
    EXPECT_NE(ReadBytes(path).find("[CSheetFileBackup]\nno\tname\turl\n1\ta\tu1\n"),
              std::string::npos);
    EXPECT_EQ(ReadBytes(path).find("u3\n", ReadBytes(path).find("[CSheetFileBackup]")),
              std::string::npos);
}

TEST(Workbook, AMissingSheetFailsTheReadQuietly) {
    const std::string path = TempPath("book.xls");
    WriteBytes(path, "[Sheet1]\nno\tname\turl\n");
    CSheetFile sheet(path, ",", true);
    EXPECT_EQ(sheet.ColumnCount(), 0);
    EXPECT_EQ(sheet.RowCount(), 0);
    EXPECT_EQ(sheet.ErrorText(), "");
}

TEST(Workbook, AnErrorWhileReadingRowsKeepsTheRowsReadSoFar) {
    const std::string path = TempPath("book.xls");
    WriteBytes(path, "[Sheet1]\n!fail-fetch 2\nno\tname\turl\n1\ta\tu1\n2\tb\tu2\n3\tc\tu3\n");
    CSheetFile sheet(path, "Sheet1", true);
    EXPECT_EQ(sheet.ErrorText(), "Error reading row\n");
    EXPECT_EQ(sheet.Lines().size(), 3u);
    EXPECT_EQ(sheet.ColumnCount(), 3);
    // No backup after a failed read.
    EXPECT_EQ(ReadBytes(path).find("CSheetFileBackup"), std::string::npos);
}

TEST(Workbook, AConnectionThatCannotBeMadeRaisesTheDatabaseError) {
    const std::string path = TempPath("book.xls");
    WriteBytes(path, "!fail-connect\n[Sheet1]\nno\tname\turl\n");
    try {
        CSheetFile sheet(path, "Sheet1", true);
        ADD_FAILURE() << "no exception";
    } catch (const CDBException& e) {
        EXPECT_NE(e.m_strError.find("cannot be opened"), std::string::npos) << e.m_strError;
        EXPECT_EQ(e.m_strSqlState, "08001");
    }
}

} // namespace
} // namespace didira
