// The [videohub] sections of the hub's configuration: what is read, what is
// refused and why.
#include "hubconfig.h"

#include <gtest/gtest.h>

using namespace exel::hub;

TEST(VideohubConfig, sectionsAreListenersWithTheirKeys)
{
    const QByteArray text = "[hub]\nrouter = a.cfg\nname = mcr\n"
                            "[videohub]\nlevels = VIDEO\n"
                            "[videohub audio]\nlevels = AUD-L + AUD-R\naddress = 0.0.0.0\nport = 9992\n"
                            "allow = 10.1.0.0/16\nforce_unlock = yes\nlabels = ignore\nname = MCR audio\n"
                            "model = Router\nblock_rate = 50\n";
    HubConfig c;
    ConfigProblem p;
    ASSERT_TRUE(parseHubConfig(QStringLiteral("/x/hub.ini"), text, c, p)) << qPrintable(p.text());
    ASSERT_EQ(c.videohubs.size(), 2u);
    const VideohubServerOptions &v = c.videohubs[0];
    EXPECT_EQ(v.name, QStringLiteral("VIDEO")); // unnamed: called by its levels
    EXPECT_EQ(v.port, 9990);
    EXPECT_TRUE(v.address.isLoopback());
    EXPECT_FALSE(v.forceUnlock);
    EXPECT_EQ(v.labels, VideohubServerOptions::Labels::Refuse);
    const VideohubServerOptions &a = c.videohubs[1];
    EXPECT_EQ(a.name, QStringLiteral("audio"));
    EXPECT_EQ(a.levels, QStringLiteral("AUD-L + AUD-R"));
    EXPECT_EQ(a.port, 9992);
    EXPECT_EQ(a.address, QHostAddress(QStringLiteral("0.0.0.0")));
    EXPECT_TRUE(a.allow.allows(QHostAddress(QStringLiteral("10.1.2.3"))));
    EXPECT_FALSE(a.allow.allows(QHostAddress(QStringLiteral("127.0.0.1"))));
    EXPECT_TRUE(a.forceUnlock);
    EXPECT_EQ(a.labels, VideohubServerOptions::Labels::Ignore);
    EXPECT_EQ(a.friendlyName, QStringLiteral("MCR audio"));
    EXPECT_EQ(a.blockRate, 50);
}

TEST(VideohubConfig, badSectionsStopTheStartWithLineAndReason)
{
    struct Case {
        const char *text;
        int line;
        const char *reason;
    };
    const Case cases[] = {
        { "[hub]\nrouter = a\n[videohub]\nlevels = VIDEO\nport = 9991\n", 5, "9991" },
        { "[hub]\nrouter = a\n[videohub]\nlevels = VIDEO\nport = 0\n", 5, "not a whole number" },
        { "[hub]\nrouter = a\n[videohub]\nport = 9992\n", 0, "needs levels" },
        { "[hub]\nrouter = a\n[videohub]\nlevels = VIDEO\n[videohub]\nlevels = AUD\n", 0, "port 9990 is already used" },
        { "[hub]\nrouter = a\n[videohub]\nlevels = VIDEO\nport = 4001\n", 0, "already used" }, // the panel server's
        { "[hub]\nrouter = a\n[videohub x]\nlevels = VIDEO\n[videohub x]\nlevels = TC\nport = 9993\n", 0,
            "described twice" },
        { "[hub]\nrouter = a\n[videohub]\nlevels = VIDEO\nlabels = rename\n", 5, "not refuse or ignore" },
        { "[hub]\nrouter = a\n[videohub]\nlevels = VIDEO\nforce_unlock = maybe\n", 5, "not true or false" },
        { "[hub]\nrouter = a\n[videohub]\nlevels = VIDEO\naddress = hub.local\n", 5, "not an address" },
        { "[hub]\nrouter = a\n[videohub]\nlevels = VIDEO\nlevels = TC\n", 5, "given twice" },
    };
    for (const Case &c : cases) {
        HubConfig cfg;
        ConfigProblem p;
        EXPECT_FALSE(parseHubConfig(QStringLiteral("/x/hub.ini"), c.text, cfg, p)) << c.text;
        EXPECT_EQ(p.line, c.line) << c.text;
        EXPECT_TRUE(p.reason.contains(QLatin1String(c.reason))) << c.text << " -> " << qPrintable(p.reason);
    }
    // The same key in two listeners is two keys.
    HubConfig cfg;
    ConfigProblem p;
    EXPECT_TRUE(parseHubConfig(QStringLiteral("/x/hub.ini"),
        "[hub]\nrouter = a\n[videohub]\nlevels = VIDEO\n[videohub]\nlevels = TC\nport = 9992\n", cfg, p))
        << qPrintable(p.text());
    EXPECT_TRUE(hubConfigHelp().contains(QStringLiteral("[videohub] or [videohub NAME]")));
    EXPECT_TRUE(hubConfigHelp().contains(QStringLiteral("force_unlock = false")));
}
