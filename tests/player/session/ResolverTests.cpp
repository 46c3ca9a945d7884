#include "player/session/MetafileResolver.h"
#include "support/HttpTestServer.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>
#include <optional>

using namespace didira;
using namespace didira::test;

namespace {

class Resolver : public ::testing::Test {
protected:
    std::optional<ResolveOutcome> Resolve(const QString& path,
                                          MetafileResolver::Limits limits = {}) {
        MetafileResolver resolver;
        resolver.SetLimits(limits);
        std::optional<ResolveOutcome> outcome;
        int finished = 0;
        QObject::connect(&resolver, &MetafileResolver::Finished, &resolver,
                         [&](const ResolveOutcome& o) {
                             outcome = o;
                             ++finished;
                         });
        resolver.Resolve(QUrl(server.Url(path)));
        WaitUntil([&] { return finished > 0; }, std::chrono::seconds(10));
        WaitUntil([] { return false; }, std::chrono::milliseconds(50));
        EXPECT_LE(finished, 1);
        return outcome;
    }

    static QStringList Paths(const ResolveOutcome& o) {
        QStringList paths;
        for (const QUrl& u : o.streams)
            paths << u.path();
        return paths;
    }

    HttpTestServer server;
};

} // namespace

TEST_F(Resolver, NestedListsAreFlattenedInOrder) {
    server.Serve("/top.asx", "video/x-ms-asf",
                 "<asx><entry><ref href=\"/a\"/></entry><entryref href=\"/mid.pls\"/>"
                 "<entry><ref href=\"/z\"/></entry></asx>");
    server.Serve("/mid.pls", "audio/x-scpls", "[playlist]\nFile1=/b\nFile2=/inner.m3u\n");
    server.Serve("/inner.m3u", "audio/x-mpegurl", "/c\n");
    const auto o = Resolve("/top.asx");
    ASSERT_TRUE(o);
    EXPECT_EQ(Paths(*o), (QStringList{"/a", "/b", "/c", "/z"}));
}

TEST_F(Resolver, LoopsDepthSizeAndSilenceEndInErrors) {
    server.Serve("/ping.pls", "audio/x-scpls", "[playlist]\nFile1=/pong.m3u\n");
    server.Serve("/pong.m3u", "audio/x-mpegurl", "/ping.pls\n");
    for (int i = 0; i < 8; ++i)
        server.Serve(QStringLiteral("/d%1.m3u").arg(i), "audio/x-mpegurl",
                     QStringLiteral("/d%1.m3u\n").arg(i + 1).toUtf8());
    server.Serve("/huge.m3u", "audio/x-mpegurl", QByteArray(300 * 1024, '#'));
    server.Hang("/silent.pls");
    server.Redirect("/r1.pls", "/r2.pls");
    server.Redirect("/r2.pls", "/r1.pls");

    struct Case {
        const char* path;
        ResolveError error;
        const char* reason;
    };
    MetafileResolver::Limits limits;
    limits.timeoutMs = 700;
    for (const Case& c : {Case{"/ping.pls", ResolveError::Loop, "自分自身を参照"},
                          Case{"/d0.m3u", ResolveError::TooDeep, "入れ子が深すぎます"},
                          Case{"/huge.m3u", ResolveError::TooLarge, "大きすぎます"},
                          Case{"/silent.pls", ResolveError::Timeout, "応答しません"},
                          Case{"/r1.pls", ResolveError::Loop, "リダイレクト"},
                          Case{"/gone.pls", ResolveError::HttpStatus, "HTTP 404"}}) {
        const auto o = Resolve(QString::fromLatin1(c.path), limits);
        ASSERT_TRUE(o) << c.path;
        EXPECT_TRUE(o->streams.empty()) << c.path;
        EXPECT_EQ(o->error, c.error) << c.path;
        EXPECT_TRUE(o->reason.contains(QString::fromUtf8(c.reason)))
            << c.path << ": " << o->reason.toStdString();
    }
}

TEST_F(Resolver, AStreamWhereAListWasExpectedIsReportedOrPlayed) {
    server.Serve("/radio.pls", "audio/mpeg", QByteArray(4096, '\xFF'));
    server.Serve("/list.m3u", "audio/x-mpegurl", "/radio.pls\n/other\n");
    const auto direct = Resolve("/radio.pls");
    ASSERT_TRUE(direct);
    EXPECT_EQ(direct->error, ResolveError::NotMetafile);

    const auto nested = Resolve("/list.m3u");
    ASSERT_TRUE(nested);
    EXPECT_EQ(Paths(*nested), (QStringList{"/radio.pls", "/other"}));
}
