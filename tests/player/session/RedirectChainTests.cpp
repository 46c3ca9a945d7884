#include "player/session/RedirectChain.h"

#include <gtest/gtest.h>

using namespace didira;
using Step = RedirectChain::Step;

TEST(RedirectChain, FollowsRelativeAndAbsoluteLocationsWithinTheLimit) {
    RedirectChain chain;
    chain.Start(QUrl(QStringLiteral("http://a.example/radio/live")));
    EXPECT_EQ(chain.Redirected(QStringLiteral("../other/live")), Step::Follow);
    EXPECT_EQ(chain.current(), QUrl(QStringLiteral("http://a.example/other/live")));
    EXPECT_EQ(chain.Redirected(QStringLiteral(" https://b.example:8443/x?y=1 ")), Step::Follow);
    EXPECT_EQ(chain.current(), QUrl(QStringLiteral("https://b.example:8443/x?y=1")));
    EXPECT_EQ(chain.Redirected(QStringLiteral("//c.example/z")), Step::Follow);
    EXPECT_EQ(chain.current().scheme(), QStringLiteral("https"));
    for (const char* bad : {"", "ftp://c.example/z", "file:///etc/passwd", "http://"})
        EXPECT_EQ(chain.Redirected(QString::fromLatin1(bad)), Step::Invalid) << bad;

    chain.Start(QUrl(QStringLiteral("http://a.example/0")));
    for (int i = 1; i <= RedirectChain::kMaxHops; ++i)
        ASSERT_EQ(chain.Redirected(QStringLiteral("/%1").arg(i)), Step::Follow) << i;
    EXPECT_EQ(chain.Redirected(QStringLiteral("/11")), Step::TooMany);
    EXPECT_EQ(chain.hops(), RedirectChain::kMaxHops);
}

TEST(RedirectChain, ALoopIsSeenEvenWhenWrittenDifferently) {
    RedirectChain chain;
    chain.Start(QUrl(QStringLiteral("http://a.example/live")));
    EXPECT_EQ(chain.Redirected(QStringLiteral("/b")), Step::Follow);
    EXPECT_EQ(chain.Redirected(QStringLiteral("/x/../live#top")), Step::Loop);
    // A new chain forgets the old one.
    chain.Start(QUrl(QStringLiteral("http://a.example/b")));
    EXPECT_EQ(chain.Redirected(QStringLiteral("/live")), Step::Follow);
}
