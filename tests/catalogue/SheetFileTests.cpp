// Text worksheets: splitting rows into cells, counts, the row cursor, the
// backup beside the file, and files that are not catalogues at all.
#include "CatalogueTestSupport.h"
#include "catalogue/SheetFile.h"

#include <csignal>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace didira {
namespace {

using Cells = std::vector<std::string>;
using test::Cp932;
using test::Exists;
using test::ReadBytes;
using test::TempPath;
using test::WriteBytes;

constexpr char kRowError[] = "Desired row is greater than total number of rows in spreadsheet\n";

Cells CellsOfLine(std::string_view line, const std::string& delimiter = ",") {
    const std::string path = TempPath("line.csv");
    WriteBytes(path, std::string(line) + "\n");
    CSheetFile sheet(path, delimiter, false);
    Cells cells;
    EXPECT_TRUE(sheet.FetchRow(cells, 1));
    return cells;
}

TEST(SheetFileSplit, RowsSplitByTheQuotedDelimiterThenThePlainOneThenAsOneCell) {
    const struct {
        const char* line;
        Cells cells;
    } cases[] = {
        {"1,name,url", {"1", "name", "url"}},
        {R"("1","name","url")", {"1", "name", "url"}},
        {R"("1",name,url)", {R"("1")", "name", "url"}},
        {R"("only")", {"only"}},
        {"only", {"only"}},
        {"", {""}},
        {"\"", {""}},
        {"a,,b", {"a", "", "b"}},
        {"a,b,", {"a", "b", ""}},
        {R"(a","b)", {"", ""}},
        {R"("a,b","c")", {"a,b", "c"}},
        {R"(" 1 "," x""y ")", {" 1 ", R"( x""y )"}},
        {R"("a"b")", {R"(a"b)"}},
        {R"(x"only")", {R"(x"only")"}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(CellsOfLine(c.line), c.cells) << "line: " << c.line;
}

TEST(SheetFileSplit, ADoubleByteCharacterIsNeverCutByADelimiterThatMatchesItsTrailByte) {
    // In CP932 the second byte of 表 is 0x5C, the backslash.
    const std::string hyou = Cp932("表");
    ASSERT_EQ(hyou, "\x95\x5C");
    EXPECT_EQ(CellsOfLine(hyou + "\\x", "\\"), (Cells{hyou, "x"}));
    // The outer quotes of a quoted row go as whole characters.
    const std::string line = "\"" + Cp932("ニッポン放送") + "\",\"" + Cp932("ｵｰｽﾄﾗﾘｱ") + "\"";
    EXPECT_EQ(CellsOfLine(line), (Cells{Cp932("ニッポン放送"), Cp932("ｵｰｽﾄﾗﾘｱ")}));
}

TEST(SheetFileSplit, AUtf8ByteOrderMarkIsNoPartOfTheFirstCell) {
    const std::string path = TempPath("bom.csv");
    WriteBytes(path, "\xEF\xBB\xBF"
                     "1,名前,u\n\xEF\xBB\xBF"
                     "2,b,c\n");
    CSheetFile sheet(path, ",", false);
    EXPECT_EQ(sheet.Encoding(), TextEncoding::Utf8);
    Cells cells;
    ASSERT_TRUE(sheet.FetchRow(cells, 1));
    EXPECT_EQ(cells, (Cells{"1", "名前", "u"}));
    // Only the file's first bytes are a mark.
    ASSERT_TRUE(sheet.FetchRow(cells, 2));
    EXPECT_EQ(cells[0], "\xEF\xBB\xBF"
                        "2");
}

TEST(SheetFileCounts, ColumnCountIsTheWidestRowAndRowCountEveryLine) {
    // 65539 cells would wrap round to 3 in 16 bits and pass as a catalogue.
    std::string wide(65538, ',');
    wide += "\n1,a,b\n";
    const struct {
        std::string content;
        int rows;
        int columns;
    } cases[] = {
        {"a,b,c\nd,e,f\ng,h,i,j\n", 3, 4},
        {"a,b,c\r\n\r\nd,e,f", 3, 3},
        {wide, 2, 32767},
        {"", 0, 0},
    };
    for (const auto& c : cases) {
        const std::string path = TempPath("c.csv");
        WriteBytes(path, c.content);
        CSheetFile sheet(path, ",", true);
        EXPECT_EQ(sheet.RowCount(), c.rows) << c.content.substr(0, 20);
        EXPECT_EQ(sheet.ColumnCount(), c.columns) << c.content.substr(0, 20);
        // An empty file has no rows to back up.
        EXPECT_EQ(Exists(path + ".bak"), c.rows != 0);
        if (c.rows == 0) {
            EXPECT_EQ(sheet.ErrorText(), kRowError);
        }
    }
}

TEST(SheetFileFetch, RowsAreFetchedByNumberOrAtTheCursor) {
    const std::string path = TempPath("f.csv");
    WriteBytes(path, "1,a\n2,b\n3,c\n");
    CSheetFile sheet(path, ",", false);
    Cells cells{"untouched"};

    // After construction the cursor stands past the last row.
    EXPECT_FALSE(sheet.FetchRow(cells));
    EXPECT_EQ(sheet.ErrorText(), "");
    EXPECT_EQ(cells, Cells{"untouched"});

    EXPECT_FALSE(sheet.FetchRow(cells, 4));
    EXPECT_EQ(sheet.ErrorText(), kRowError);
    EXPECT_EQ(cells, Cells{"untouched"});

    ASSERT_TRUE(sheet.FetchRow(cells, 3));
    EXPECT_EQ(cells, (Cells{"3", "c"}));
    ASSERT_TRUE(sheet.FetchRow(cells, 1));
    ASSERT_TRUE(sheet.FetchRow(cells));
    EXPECT_EQ(cells, (Cells{"2", "b"}));
    ASSERT_TRUE(sheet.FetchRow(cells));
    EXPECT_EQ(cells, (Cells{"3", "c"}));
    EXPECT_FALSE(sheet.FetchRow(cells));
    EXPECT_EQ(cells, (Cells{"3", "c"}));
}

TEST(SheetFileBackup, TheBackupHoldsTheLinesAsReadEachEndedByCrLf) {
    const struct {
        const char* name;
        std::string source;
        std::string backup;
    } cases[] = {
        {"lf", "1,a,b\n2,c,d\n", "1,a,b\r\n2,c,d\r\n"},
        {"crlf", "1,a,b\r\n2,c,d\r\n", "1,a,b\r\n2,c,d\r\n"},
        {"no final newline", "1,a,b\n2,c,d", "1,a,b\r\n2,c,d\r\n"},
        {"blank line", "1,a,b\n\n2,c,d\n", "1,a,b\r\n\r\n2,c,d\r\n"},
        {"bytes kept",
         "\xEF\xBB\xBF"
         "1," +
             Cp932("ｱ") + "\x81\n",
         "\xEF\xBB\xBF"
         "1," +
             Cp932("ｱ") + "\x81\r\n"},
    };
    for (const auto& c : cases) {
        const std::string path = TempPath("radioname.csv");
        WriteBytes(path, c.source);
        CSheetFile sheet(path, ",", true);
        EXPECT_TRUE(sheet.MakeBackup()) << c.name;
        EXPECT_EQ(ReadBytes(path + ".bak"), c.backup) << c.name;
        EXPECT_EQ(ReadBytes(path), c.source) << c.name;
        // Only the file and its backup: no temporary file stays behind.
        EXPECT_EQ(test::DirEntries(path.substr(0, path.rfind('/'))).size(), 2u) << c.name;
    }
}

TEST(SheetFileBackup, AnUnwritableDirectoryClearsOnlyTheBackupFlag) {
    const std::string path = TempPath("radioname.csv");
    const std::string dir = path.substr(0, path.rfind('/'));
    WriteBytes(path, "1,a,b\n");
    ASSERT_EQ(::chmod(dir.c_str(), 0555), 0);
    // Root writes anywhere, so the check runs as an unprivileged user.
    const pid_t child = ::fork();
    if (child == 0) {
        if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0))
            ::_exit(10);
        CSheetFile sheet(path, ",", true);
        int code = 0;
        code |= sheet.MakeBackup() ? 1 : 0;
        code |= sheet.ColumnCount() == 3 && sheet.RowCount() == 1 ? 0 : 2;
        code |= sheet.ErrorText() == "Error writing file\n" ? 0 : 4;
        ::_exit(code);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ::chmod(dir.c_str(), 0755);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_FALSE(Exists(path + ".bak"));
}

TEST(SheetFileBackup, AWriteThatFailsMidwayLeavesTheOldBackupWhole) {
    const std::string path = TempPath("radioname.csv");
    const std::string dir = path.substr(0, path.rfind('/'));
    WriteBytes(path + ".bak", "old backup\r\n");
    std::string big;
    for (int i = 0; i < 2000; ++i)
        big += std::to_string(i) + ",station name,http://example.invalid/stream.asx\n";
    WriteBytes(path, big);

    // A file size limit makes the write fail part way, as a full disk would.
    struct rlimit saved {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit limited = saved;
    limited.rlim_cur = 10000;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limited), 0);
    CSheetFile sheet(path, ",", true);
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);

    EXPECT_FALSE(sheet.MakeBackup());
    EXPECT_EQ(sheet.ErrorText(), "Error writing file\n");
    EXPECT_EQ(sheet.RowCount(), 2000);
    EXPECT_EQ(ReadBytes(path + ".bak"), "old backup\r\n");
    EXPECT_EQ(ReadBytes(path), big);
    EXPECT_EQ(test::DirEntries(dir).size(), 2u);
}

TEST(SheetFileBadInput, FilesThatCannotBeReadFailTheReadWithoutHanging) {
    const std::string missing = TempPath("missing.csv");
    const std::string fifo = TempPath("fifo.csv");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    const std::string dir = TempPath("dir.csv");
    ASSERT_EQ(::mkdir(dir.c_str(), 0755), 0);
    for (const std::string& path : {missing, fifo, dir}) {
        CSheetFile sheet(path, ",", true);
        EXPECT_EQ(sheet.ErrorText(), "Error in opening file\n") << path;
        EXPECT_EQ(sheet.ColumnCount(), 0) << path;
        EXPECT_EQ(sheet.RowCount(), 0) << path;
        EXPECT_FALSE(Exists(path + ".bak")) << path;
    }
}

TEST(SheetFileBadInput, AFileOverTheByteLimitIsRefusedUnreadAndAnOldBackupStays) {
    const std::string path = TempPath("radioname.csv");
    const std::string content = "1,a,b\n2,c\n"; // ten bytes
    WriteBytes(path + ".bak", "old backup\r\n");
    WriteBytes(path, content);
    {
        CSheetFile sheet(path, ",", true, SheetLimits{10});
        EXPECT_FALSE(sheet.TooLarge());
        EXPECT_EQ(sheet.RowCount(), 2);
        EXPECT_EQ(ReadBytes(path + ".bak"), "1,a,b\r\n2,c\r\n");
    }
    WriteBytes(path + ".bak", "old backup\r\n");
    WriteBytes(path, content + "x");
    CSheetFile sheet(path, ",", true, SheetLimits{10});
    EXPECT_TRUE(sheet.TooLarge());
    EXPECT_FALSE(sheet.MakeBackup());
    EXPECT_EQ(sheet.RowCount(), 0);
    EXPECT_EQ(sheet.ColumnCount(), 0);
    EXPECT_TRUE(sheet.Lines().empty());
    EXPECT_EQ(sheet.ErrorText(), "Spreadsheet exceeds the size limit\n");
    EXPECT_EQ(ReadBytes(path + ".bak"), "old backup\r\n");
}

// A count that went back over the line for every delimiter would not finish
// within the test's time.
TEST(SheetFileBadInput, ATenMegabyteLineIsCountedInOnePass) {
    const std::string path = TempPath("long.csv");
    std::string line;
    for (int i = 0; i < 5 * 1024 * 1024; ++i)
        line += "\",";
    WriteBytes(path, line);
    CSheetFile sheet(path, ",", false, SheetLimits{std::size_t{16} << 20});
    EXPECT_EQ(sheet.RowCount(), 1);
    EXPECT_EQ(sheet.ColumnCount(), 32767);
}

} // namespace
} // namespace didira
