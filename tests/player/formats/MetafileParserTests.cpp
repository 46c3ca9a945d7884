#include "player/formats/MetafileParser.h"

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
    static constexpr char16_t kUtf16Asx[] = u"<asx><ref href=\"http://a/5\"/></asx>";
    const std::pair<QByteArray, const char*> cases[] = {
        {"<asx><entry><ref href=http://a/s?x=1&y=2></entry></asx>", "http://a/s?x=1&y=2"},
        {"<asx><entry><ref href=http://a/s/></entry>", "http://a/s"}, // self-closing
        {"<ASX version=3><Entry><Ref href=\"http://a/1\">", "http://a/1"},
        {"<asx><ref href=\"http://a/2\"/></asx>", "http://a/2"}, // outside any entry
        {"<asx><entry><ref href=\"http://a/3", "http://a/3"},
        {"<asx><ref href=\"http://a/&#x41;&#66;\"/></asx>", "http://a/AB"},
        {"garbage <asx> text < > <entry <ref href='http://a/4'>", "http://a/4"},
        {QByteArray("\xFF\xFE", 2) +
             QByteArray(reinterpret_cast<const char*>(kUtf16Asx), sizeof kUtf16Asx - 2),
         "http://a/5"},
    };
    for (const auto& [asx, url] : cases) {
        const Result r = Parse(asx, kBase);
        EXPECT_EQ(r.format, Format::Asx) << url;
        EXPECT_EQ(Urls(r), Strings{QString::fromLatin1(url)}) << url;
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
    using enum Format;
    struct Case {
        QByteArray data;
        const char* type;
        const char* path;
        Format format;
    };
    const Case cases[] = {
        {"#EXTM3U\n#EXT-X-TARGETDURATION:10\nseg1.ts\n", "", "/a.m3u8", Hls},
        {"#EXTM3U\n#EXT-X-STREAM-INF:BANDWIDTH=1\nlow.m3u8\n", "", "/x", Hls},
        {"<!DOCTYPE html><html><body>radio</body></html>", "text/html", "/x", None},
        {"<html><body>http://x/</body></html>", "", "/a.m3u", None},
        {QByteArray("\xFF\xFB\x90\x64\x00\x00", 6), "audio/mpeg", "/a.pls", None}, // MP3
        {"ID3\x04", "", "/x.m3u", None},
        {"OggS", "", "/x", None},
        {QByteArray("\x30\x26\xB2\x75\x8E\x66", 6), "", "/a.asx", None}, // binary ASF
        {"Welcome to our radio!\nListen here.", "text/plain", "/x", None},
        {"File1=http://a/\n", "audio/x-scpls", "/x", Pls},
        {"a.mp3\n", "audio/x-mpegurl", "/x", M3u},
        {"", "", "/x", None},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Detect(c.data, QString::fromLatin1(c.type), QString::fromLatin1(c.path)),
                  c.format)
            << c.path << ": " << c.data.left(20).toStdString();
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
