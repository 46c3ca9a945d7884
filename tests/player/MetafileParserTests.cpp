#include "player/MetafileParser.h"

#include <gtest/gtest.h>

using namespace didira;
using namespace didira::metafile;

namespace {

const QUrl kBase(QStringLiteral("http://radio.example/lists/station.asx"));

std::vector<QString> Urls(const Result& r) {
    std::vector<QString> urls;
    for (const Entry& e : r.entries)
        urls.push_back(e.url.toString());
    return urls;
}

using Strings = std::vector<QString>;

} // namespace

TEST(MetafileAsx, AnyLetterCaseEntitiesAndRelativeReferencesAreRead) {
    const QByteArray asx = R"(<?xml version="1.0"?>
<!-- a comment with <ref href="http://not.this/"> inside -->
<Asx Version="3.0">
  <TITLE>Station &amp; friends</TITLE>
  <ENTRY>
    <REF HREF="mms://radio.example/live" />
    <Ref href="http://radio.example/live?a=1&amp;b=2"/>
  </ENTRY>
  <entry><ref href='../mp3/high'/></entry>
  <EntryRef HREF="more.asx" />
</Asx>)";
    const Result r = Parse(asx, kBase);
    EXPECT_EQ(r.format, Format::Asx);
    EXPECT_EQ(Urls(r), (Strings{QStringLiteral("http://radio.example/live?a=1&b=2"),
                                QStringLiteral("http://radio.example/mp3/high"),
                                QStringLiteral("http://radio.example/lists/more.asx")}));
    ASSERT_EQ(r.entries.size(), 3u);
    EXPECT_FALSE(r.entries[0].nested);
    EXPECT_TRUE(r.entries[2].nested);
}

TEST(MetafileAsx, MalformedFilesStillGiveTheirReferences) {
    static constexpr char16_t kUtf16Asx[] = u"<asx><ref href=\"http://a.example/5\"/></asx>";
    struct Case {
        const char* name;
        QByteArray asx;
        Strings urls;
    };
    const std::vector<Case> cases = {
        {"unquoted attribute and bare ampersand",
         "<asx><entry><ref href=http://a.example/s?x=1&y=2></entry></asx>",
         {QStringLiteral("http://a.example/s?x=1&y=2")}},
        {"self-closing without space",
         "<asx><entry><ref href=http://a.example/s/></entry>",
         {QStringLiteral("http://a.example/s")}},
        {"unclosed entry and asx",
         "<ASX version=3><Entry><Ref href=\"http://a.example/1\">",
         {QStringLiteral("http://a.example/1")}},
        {"ref outside any entry",
         "<asx><ref href=\"http://a.example/2\"/></asx>",
         {QStringLiteral("http://a.example/2")}},
        {"missing closing quote",
         "<asx><entry><ref href=\"http://a.example/3",
         {QStringLiteral("http://a.example/3")}},
        {"numeric entities",
         "<asx><ref href=\"http://a.example/&#x41;&#66;\"/></asx>",
         {QStringLiteral("http://a.example/AB")}},
        {"junk between tags",
         "garbage <asx> text < > <entry <ref href='http://a.example/4'>",
         {QStringLiteral("http://a.example/4")}},
        {"UTF-16 with byte-order mark",
         QByteArray("\xFF\xFE", 2) +
             QByteArray(reinterpret_cast<const char*>(kUtf16Asx), sizeof kUtf16Asx - 2),
         {QStringLiteral("http://a.example/5")}},
    };
    for (const Case& c : cases) {
        const Result r = Parse(c.asx, kBase);
        EXPECT_EQ(r.format, Format::Asx) << c.name;
        EXPECT_EQ(Urls(r), c.urls) << c.name;
    }
}

TEST(MetafileAsx, OnlyUnsupportedSchemesGiveAnErrorText) {
    const Result r = Parse("<asx><entry><ref href=\"mms://a.example/x\"/></entry></asx>", kBase);
    EXPECT_TRUE(r.entries.empty());
    EXPECT_EQ(r.error, QStringLiteral("メタファイルの項目は対応していないプロトコルです。"));
    const Result none = Parse("<asx><entry></entry></asx>", kBase);
    EXPECT_EQ(none.error, QStringLiteral("メタファイルに再生できる項目がありません。"));
}

TEST(MetafileAsx, ARemoteListCannotPointToLocalFiles) {
    const QByteArray asx = "<asx><ref href=\"file:///etc/passwd\"/><ref href=\"/ok\"/></asx>";
    EXPECT_EQ(Urls(Parse(asx, kBase)), (Strings{QStringLiteral("http://radio.example/ok")}));
    const Result local = Parse(asx, QUrl::fromLocalFile(QStringLiteral("/tmp/list.asx")));
    EXPECT_EQ(Urls(local),
              (Strings{QStringLiteral("file:///etc/passwd"), QStringLiteral("file:///ok")}));
}

TEST(MetafilePls, EntriesComeInTheOrderOfTheirNumbers) {
    const QByteArray pls = "\xEF\xBB\xBF[playlist]\r\n"
                           "numberofentries=3\r\n"
                           "File2=http://b.example:8000/two\r\n"
                           "Title2=Two\r\n"
                           "FILE1 = http://a.example/one\r\n"
                           "file10=relative/ten\r\n"
                           "Length1=-1\r\nVersion=2\r\n";
    const Result r = Parse(pls, QUrl(QStringLiteral("http://host.example/dir/list.pls")));
    EXPECT_EQ(r.format, Format::Pls);
    EXPECT_EQ(Urls(r), (Strings{QStringLiteral("http://a.example/one"),
                                QStringLiteral("http://b.example:8000/two"),
                                QStringLiteral("http://host.example/dir/relative/ten")}));
}

TEST(MetafileM3u, ExtendedAndPlainListsSkipCommentsAndResolvePaths) {
    const QByteArray m3u = "#EXTM3U\r\n#EXTINF:-1,Station One\r\nhttp://a.example/1\r\n\r\n"
                           "#EXTINF:-1,Station Two\n/abs/two\nrel/three.mp3\n  \n";
    const Result r = Parse(m3u, QUrl(QStringLiteral("https://h.example/x/list.m3u")));
    EXPECT_EQ(r.format, Format::M3u);
    EXPECT_EQ(Urls(r), (Strings{QStringLiteral("http://a.example/1"),
                                QStringLiteral("https://h.example/abs/two"),
                                QStringLiteral("https://h.example/x/rel/three.mp3")}));

    // Served as text/plain under an extension-less name: a list of URLs only.
    const Result plain =
        Parse("http://a.example/1\nhttp://a.example/2\n",
              QUrl(QStringLiteral("http://h.example/listen")), QStringLiteral("text/plain"));
    EXPECT_EQ(plain.format, Format::M3u);
    EXPECT_EQ(plain.entries.size(), 2u);
}

TEST(MetafileReference, RefLinesAreTaken) {
    const QByteArray ref = "[Reference]\r\nRef1=http://a.example/live?MSWMExt=.asf\r\n"
                           "Ref2=http://b.example/live\r\n";
    const Result r = Parse(ref, kBase, QStringLiteral("video/x-ms-asf"));
    EXPECT_EQ(r.format, Format::Reference);
    EXPECT_EQ(Urls(r), (Strings{QStringLiteral("http://a.example/live?MSWMExt=.asf"),
                                QStringLiteral("http://b.example/live")}));
}

TEST(MetafileDetect, OnlyListsAreMetafiles) {
    struct Case {
        const char* name;
        QByteArray data;
        QString type;
        QString path;
        Format format;
    };
    const std::vector<Case> cases = {
        {"HLS media playlist",
         "#EXTM3U\n#EXT-X-TARGETDURATION:10\nseg1.ts\n",
         {},
         "/a.m3u8",
         Format::Hls},
        {"HLS master playlist",
         "#EXTM3U\n#EXT-X-STREAM-INF:BANDWIDTH=1\nlow.m3u8\n",
         {},
         "/x",
         Format::Hls},
        {"an HTML page", "<!DOCTYPE html><html><body>radio</body></html>", "text/html", "/x",
         Format::None},
        {"an HTML page named .m3u",
         "<html><body>http://x/</body></html>",
         {},
         "/a.m3u",
         Format::None},
        {"MP3 frames", QByteArray("\xFF\xFB\x90\x64\x00\x00", 6), "audio/mpeg", "/a.pls",
         Format::None},
        {"ID3 then MP3", "ID3\x04\x00", {}, "/x.m3u", Format::None},
        {"Ogg", "OggS\x00\x02", {}, "/x", Format::None},
        {"binary ASF named .asx",
         QByteArray("\x30\x26\xB2\x75\x8E\x66", 6),
         {},
         "/a.asx",
         Format::None},
        {"prose", "Welcome to our radio!\nListen here.", "text/plain", "/x", Format::None},
        {"PLS by content type", "File1=http://a/\n", "audio/x-scpls", "/x", Format::Pls},
        {"M3U by content type", "a.mp3\n", "audio/x-mpegurl", "/x", Format::M3u},
        {"empty body", "", {}, "/x", Format::None},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Detect(c.data, c.type, c.path), c.format) << c.name;
}

TEST(MetafileDetect, HlsIsPassedOnAsTheUrlItself) {
    const QUrl url(QStringLiteral("http://h.example/live/index.m3u8"));
    const Result r = Parse("#EXTM3U\n#EXT-X-MEDIA-SEQUENCE:1\n", url);
    EXPECT_EQ(r.format, Format::Hls);
    EXPECT_EQ(Urls(r), (Strings{url.toString()}));
    EXPECT_FALSE(HasMetafileSuffix(url));
    EXPECT_TRUE(HasMetafileSuffix(QUrl(QStringLiteral("http://h.example/a.PLS?x=1"))));
}

TEST(MetafileEntities, KnownReferencesAreReplacedAndOthersKept) {
    EXPECT_EQ(DecodeEntities(u"a&amp;b&lt;&gt;&quot;&apos;"), QStringLiteral("a&b<>\"'"));
    EXPECT_EQ(DecodeEntities(u"&#x65E5;&#26412;"), QStringLiteral("日本"));
    EXPECT_EQ(DecodeEntities(u"&nbsp; & &#xD800; &#0; &"),
              QStringLiteral("&nbsp; & &#xD800; &#0; &"));
}
