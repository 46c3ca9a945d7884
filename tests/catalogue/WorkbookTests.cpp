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

TEST(Workbook, AnExistingBackupSheetAbandonsTheBackupButTheReadStands) {
    const std::string path = TempPath("book.xls");
    WriteBytes(path, "[Sheet1]\nno\tname\turl\n1\ta\tu1\n[CSheetFileBackup]\nold\n");
    CSheetFile sheet(path, "Sheet1", true);
    EXPECT_FALSE(sheet.MakeBackup());
    EXPECT_NE(sheet.ErrorText().find("already exists"), std::string::npos) << sheet.ErrorText();
    EXPECT_EQ(sheet.RowCount(), 2);
    EXPECT_EQ(sheet.ColumnCount(), 3);
}

TEST(Workbook, APathStaysOneValueOfTheConnectString) {
    // Each name would, unquoted, end the path early or add attributes of its
    // own (another driver, another workbook).
    for (const char* name :
         {"a;DRIVER=none.so;DBQ=b.xls", "q\";DBQ=c.xls", "br}};{DRIVER=x}.xls"}) {
        const std::string path = TempPath(name);
        WriteBytes(path, "[Sheet1]\nno\tname\turl\n1\ta\tu1\n");
        CSheetFile sheet(path, "Sheet1", true);
        EXPECT_EQ(sheet.RowCount(), 2) << name;
        EXPECT_TRUE(sheet.MakeBackup()) << name << ": " << sheet.ErrorText();
        EXPECT_NE(ReadBytes(path).find("[CSheetFileBackup]"), std::string::npos) << name;
    }
}

// The statements the driver received, one per line, without the connect
// strings.
std::vector<std::string> Statements(const std::string& path) {
    std::vector<std::string> out;
    const std::string log = ReadBytes(path + ".log");
    for (std::size_t start = 0, lf; (lf = log.find('\n', start)) != std::string::npos;
         start = lf + 1) {
        const std::string line = log.substr(start, lf - start);
        if (line.rfind("DRIVER=", 0) != 0)
            out.push_back(line);
    }
    return out;
}

TEST(Workbook, CellTextReachesTheBackupOnlyAsBoundValuesAndIsKeptAsWritten) {
    const std::string path = TempPath("book.xls");
    const std::string rows = "1\tO'Hara\tu1\n"
                             "2\t';DROP TABLE x;--\tu2\n"
                             "3\t]\t'); DELETE FROM [Sh]]eet$A1:IV65536]; --\n";
    WriteBytes(path, "[Sh]eet]\nno\tna]me\turl\n" + rows);
    CSheetFile sheet(path, "Sh]eet", true);
    EXPECT_TRUE(sheet.MakeBackup()) << sheet.ErrorText();
    EXPECT_EQ(sheet.Header(), (Cells{"no", "na]me", "url"}));
    // The cursor is back at the first row after the backup.
    Cells cells;
    ASSERT_TRUE(sheet.FetchRow(cells));
    EXPECT_EQ(cells, sheet.Header());
    EXPECT_EQ(
        Statements(path),
        (Cells{"SELECT * FROM [Sh]]eet$A1:IV65536]",
               "CREATE TABLE [CSheetFileBackup] ([no] char(255), [na]]me] char(255), "
               "[url] char(255))",
               "INSERT INTO [CSheetFileBackup$A1:IV1] ([no], [na]]me], [url]) VALUES (?, ?, ?)",
               "INSERT INTO [CSheetFileBackup$A1:IV2] ([no], [na]]me], [url]) VALUES (?, ?, ?)",
               "INSERT INTO [CSheetFileBackup$A1:IV3] ([no], [na]]me], [url]) VALUES (?, ?, ?)"}));
    const std::string header = "no\tna]me\turl\n";
    EXPECT_EQ(ReadBytes(path),
              "[Sh]eet]\n" + header + rows + "[CSheetFileBackup]\n" + header + rows);
}

TEST(Workbook, AFailedInsertEndsTheBackupKeepingTheRowsBeforeIt) {
    const std::string path = TempPath("book.xls");
    // The second row's cell holds the internal delimiter between quotes, so
    // it splits into a fourth cell that has no column to go to.
    WriteBytes(path, "[Sheet1]\nno\tname\turl\n1\ta\tu1\n2\tx\",;.?\"y\tu2\n3\tc\tu3\n");
    CSheetFile sheet(path, "Sheet1", true);
    EXPECT_FALSE(sheet.MakeBackup());
    EXPECT_NE(sheet.ErrorText().find("Unknown field name"), std::string::npos) << sheet.ErrorText();
    EXPECT_EQ(sheet.RowCount(), 4);
    const std::string book = ReadBytes(path);
    EXPECT_EQ(book.substr(book.find("[CSheetFileBackup]")),
              "[CSheetFileBackup]\nno\tname\turl\n1\ta\tu1\n");
    // Nothing was tried after the failing row.
    EXPECT_EQ(Statements(path).size(), 4u);
}

TEST(Workbook, ReadingStopsPastTheLimitsAndNothingIsBackedUp) {
    const std::string path = TempPath("book.xls");
    const struct {
        const char* name;
        std::string rows;
        SheetLimits limits;
        bool tooLarge;
        std::size_t linesRead; // header included
    } cases[] = {
        {"one row too many", "1\ta\tu\n2\tb\tu\n3\tc\tu\n", {1000, 3}, true, 3},
        {"a cell past the bytes",
         "1\ta\tu\n2\t" + std::string(5000, 'b') + "\tu\n",
         {1000, 9},
         true,
         2},
        {"within both", "1\ta\tu\n2\tb\tu\n", {1000, 3}, false, 3},
    };
    for (const auto& c : cases) {
        WriteBytes(path, "[Sheet1]\nno\tname\turl\n" + c.rows);
        CSheetFile sheet(path, "Sheet1", true, c.limits);
        EXPECT_EQ(sheet.TooLarge(), c.tooLarge) << c.name;
        EXPECT_EQ(sheet.Lines().size(), c.linesRead) << c.name;
        EXPECT_EQ(sheet.ColumnCount(), 3) << c.name;
        // Only a sheet read whole is backed up.
        EXPECT_EQ(sheet.MakeBackup(), !c.tooLarge) << c.name;
        EXPECT_EQ(ReadBytes(path).find("CSheetFileBackup") != std::string::npos, !c.tooLarge)
            << c.name;
    }
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
