// Appending a station to a catalogue file: the bytes written, the backup,
// the limits, and that nothing is written half.
#include "CatalogueTestSupport.h"
#include "catalogue/CatalogueAppend.h"
#include "catalogue/CatalogueRead.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace didira {
namespace {

using test::Cp932;
using test::DirEntries;
using test::Exists;
using test::ReadBytes;
using test::TempPath;
using test::WriteBytes;
using Status = CatalogueAppend::Status;

std::string Lines(int count) {
    std::string text;
    for (int i = 1; i <= count; ++i)
        text += "1,st" + std::to_string(i) + ",http://h/" + std::to_string(i) + "\r\n";
    return text;
}

// The lines of text, each ended by CR LF, as the backup writes them.
std::string CrLf(const std::string& text) {
    std::string out;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        std::string line = text.substr(start, end == std::string::npos ? end : end - start);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        out += line + "\r\n";
        start = end == std::string::npos ? text.size() : end + 1;
    }
    return out;
}

TEST(CatalogueAppend, TheLineIsWrittenInTheFilesOwnEncodingAndEndingAfterTheBackupOfTheOldFile) {
    const std::string japanese = Cp932("1,ニッポン放送,http://a/x.asx\r\n");
    const std::string utf8 = "1,Ｊ-ＷＡＶＥ,http://a/j\n";
    const struct {
        const char* what;
        std::string old;
        TextEncoding encoding;
        std::string added; // the bytes after the old ones
    } cases[] = {
        {"CP932 file", japanese, TextEncoding::Cp932,
         Cp932("\"0\",\"ジャズ喫茶ラジオ\",\"http://127.0.0.1:9/jazz.mp3\"\r\n")},
        {"ASCII file (CP932)", "1,plain,http://a/p\r\n", TextEncoding::Cp932,
         Cp932("\"0\",\"ジャズ喫茶ラジオ\",\"http://127.0.0.1:9/jazz.mp3\"\r\n")},
        {"UTF-8 file, LF lines", utf8, TextEncoding::Utf8,
         "\"0\",\"ジャズ喫茶ラジオ\",\"http://127.0.0.1:9/jazz.mp3\"\n"},
        {"UTF-8 with a mark",
         "\xEF\xBB\xBF"
         "1,a,http://a/a\r\n",
         TextEncoding::Utf8, "\"0\",\"ジャズ喫茶ラジオ\",\"http://127.0.0.1:9/jazz.mp3\"\r\n"},
        {"no final line end", "1,plain,http://a/p", TextEncoding::Cp932,
         Cp932("\r\n\"0\",\"ジャズ喫茶ラジオ\",\"http://127.0.0.1:9/jazz.mp3\"\r\n")},
        {"empty file", "", TextEncoding::Cp932,
         Cp932("\"0\",\"ジャズ喫茶ラジオ\",\"http://127.0.0.1:9/jazz.mp3\"\r\n")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string path = TempPath("radioname.csv");
        WriteBytes(path, c.old);
        const CatalogueAppend result =
            AppendToCatalogue(path, {"0", "ジャズ喫茶ラジオ", "http://127.0.0.1:9/jazz.mp3"});
        EXPECT_EQ(result.status, Status::Appended);
        EXPECT_EQ(result.encoding, c.encoding);
        EXPECT_EQ(ReadBytes(path), c.old + c.added);
        if (!c.old.empty()) { // the load's backup: the old lines, CR LF ended
            EXPECT_EQ(ReadBytes(path + ".bak"), CrLf(c.old));
        }
        // What was appended loads as the station, the old rows as before.
        const CatalogueRead read = ReadCatalogue(path);
        ASSERT_EQ(read.status, CatalogueRead::Status::Loaded);
        ASSERT_FALSE(read.rows.empty());
        EXPECT_EQ(read.rows.back(), (std::vector<std::string>{"0", "ジャズ喫茶ラジオ",
                                                              "http://127.0.0.1:9/jazz.mp3"}));
        // No temporary file is left beside it.
        for (const std::string& name : DirEntries(path.substr(0, path.rfind('/'))))
            EXPECT_TRUE(name == "radioname.csv" || name == "radioname.csv.bak") << name;
    }
}

TEST(CatalogueAppend, AMissingFileIsCreatedWithTheStationAndACommaInTheNameStaysInIt) {
    const std::string path = TempPath("radioname.csv");
    ASSERT_EQ(AppendToCatalogue(path, {"4", "Jazz, Blues & Soul", "https://s/j"}).status,
              Status::Appended);
    EXPECT_EQ(ReadBytes(path), "\"4\",\"Jazz, Blues & Soul\",\"https://s/j\"\r\n");
    const CatalogueRead read = ReadCatalogue(path);
    ASSERT_EQ(read.rows.size(), 1u);
    EXPECT_EQ(read.rows[0][1], "Jazz, Blues & Soul");
}

TEST(CatalogueAppend, WhatCannotBeWrittenWhollyLeavesTheFileAsItWas) {
    const std::string full = Lines(kCatalogueMaxRows);
    const struct {
        const char* what;
        std::string old;
        const char* name;
        Status status;
    } cases[] = {
        {"100 lines", full, "New", Status::Full},
        {"a Latin letter CP932 lacks", Lines(2), "Café", Status::NameNotEncodable},
        {"an emoji", Lines(2), "Jazz ☕", Status::NameNotEncodable},
        {"a wave dash that reads back as a tilde", Lines(2), "朝〜夜", Status::NameNotEncodable},
        {"the quoted delimiter", Lines(2), "a\",\"b", Status::NameNotWritable},
        {"a line break", Lines(2), "a\r\nb", Status::NameNotWritable},
        {"an empty name", Lines(2), "", Status::NameNotWritable},
        {"two columns", "1,a\r\n2,b\r\n", "New", Status::NotACatalogue},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string path = TempPath("radioname.csv");
        WriteBytes(path, c.old);
        EXPECT_EQ(AppendToCatalogue(path, {"4", c.name, "http://h/new"}).status, c.status);
        EXPECT_EQ(ReadBytes(path), c.old);
        EXPECT_EQ(DirEntries(path.substr(0, path.rfind('/'))).size(), 2u); // and its backup
    }
    // 99 lines take one more.
    const std::string path = TempPath("radioname.csv");
    WriteBytes(path, Lines(kCatalogueMaxRows - 1));
    EXPECT_EQ(AppendToCatalogue(path, {"4", "Last", "http://h/last"}).status, Status::Appended);
    EXPECT_EQ(ReadCatalogue(path).rows.size(), static_cast<std::size_t>(kCatalogueMaxRows));
}

TEST(CatalogueAppend, ALinkedCatalogueIsReplacedWhereItLivesWithItsModeAndAWorkbookIsRefused) {
    const std::string real = TempPath("stations.csv");
    WriteBytes(real, "1,a,http://h/a\r\n");
    ASSERT_EQ(::chmod(real.c_str(), 0640), 0);
    const std::string link = TempPath("radioname.csv");
    ASSERT_EQ(::symlink(real.c_str(), link.c_str()), 0);
    ASSERT_EQ(AppendToCatalogue(link, {"4", "b", "http://h/b"}).status, Status::Appended);
    struct stat st {};
    ASSERT_EQ(::lstat(link.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(ReadBytes(real), "1,a,http://h/a\r\n\"4\",\"b\",\"http://h/b\"\r\n");
    ASSERT_EQ(::stat(real.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);

    EXPECT_EQ(AppendToCatalogue(TempPath("book.XLS"), {"4", "b", "http://h/b"}).status,
              Status::Workbook);
}

TEST(TextCodecFromUtf8, CharactersAreHeldOnlyWhenTheyReadBackAsThemselves) {
    const struct {
        const char* text;
        TextEncoding enc;
        bool held;
    } cases[] = {
        {"ニッポン放送 ＦＭ ｵｰｽﾄﾗﾘｱ", TextEncoding::Cp932, true},
        {"①髙", TextEncoding::Cp932, true}, // NEC and IBM extensions are CP932's
        {"é", TextEncoding::Cp932, false},
        {"〜", TextEncoding::Cp932, false},
        {"한국", TextEncoding::Cp932, false},
        {"é 한국 ☕", TextEncoding::Utf8, true},
        {"\xC3", TextEncoding::Utf8, false}, // not UTF-8 at all
    };
    for (const auto& c : cases) {
        std::string out;
        EXPECT_EQ(FromUtf8(c.text, c.enc, out), c.held) << c.text;
        if (c.held) {
            EXPECT_EQ(ToUtf8(out, c.enc), c.text);
        }
    }
}

} // namespace
} // namespace didira
