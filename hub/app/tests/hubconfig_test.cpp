// The hub's configuration file: what each key sets, and that a bad key or
// value stops the start with the file, the line and the reason.
#include "hubconfig.h"
#include "testsupport.h"

#include <gtest/gtest.h>

using namespace exel::hub;

TEST(HubConfig, fullFile_setsEveryPart)
{
    const QByteArray text = "; the studio hub\n"
                            "[hub]\n"
                            "name = studio\n"
                            "router = house.cfg\n"
                            "data = data\n"
                            "stale_seconds = 4\n"
                            "[line east]\n"
                            "port = com2\n"
                            "phone = 5551234\n"
                            "controllers = 0, 1\n"
                            "lock_share = 0.2\n"
                            "[line west]\n"
                            "port = COM3\n"
                            "controllers = 2\n"
                            "[panel]\n"
                            "listen = 0.0.0.0:4100\n"
                            "allow = 10.0.0.0/8, 127.0.0.1\n"
                            "[journal]\n"
                            "max_age_days = 7\n";
    HubConfig c;
    ConfigProblem p;
    ASSERT_TRUE(parseHubConfig(QStringLiteral("/etc/xelhub/hub.ini"), text, c, p)) << qPrintable(p.text());
    EXPECT_EQ(c.name, QStringLiteral("studio"));
    EXPECT_EQ(c.router, QStringLiteral("/etc/xelhub/house.cfg")); // relative to the file
    EXPECT_EQ(c.dataFolder(), QStringLiteral("/etc/xelhub/data"));
    EXPECT_EQ(c.freshness.statusStaleMs, 4000);
    ASSERT_EQ(c.lines.size(), 2u);
    EXPECT_EQ(c.lines[0].serial.name, QStringLiteral("east"));
    EXPECT_EQ(c.lines[0].serial.port, 2);
    EXPECT_EQ(c.lines[0].serial.phone, QStringLiteral("5551234"));
    EXPECT_EQ(c.lines[0].controllers, (std::vector<int16_t> { 0, 1 }));
    EXPECT_DOUBLE_EQ(c.lines[0].options.lockShare, 0.2);
    EXPECT_EQ(c.lines[1].serial.port, 3);
    EXPECT_EQ(c.panel.port, 4100);
    EXPECT_TRUE(c.panel.allow.allows(QHostAddress(QStringLiteral("10.2.3.4"))));
    EXPECT_FALSE(c.panel.allow.allows(QHostAddress(QStringLiteral("192.168.0.1"))));
    EXPECT_EQ(c.journal.maxAgeDays, 7);
}

TEST(HubConfig, defaults_oneLineOnCom1AndLoopbackOnly)
{
    HubConfig c;
    ConfigProblem p;
    ASSERT_TRUE(parseHubConfig(QStringLiteral("/x/hub.ini"), "[hub]\nrouter = auto\n", c, p));
    EXPECT_TRUE(c.autoConfigure());
    ASSERT_EQ(c.lines.size(), 1u);
    EXPECT_EQ(c.lines[0].serial.port, 1);
    EXPECT_EQ(c.lines[0].serial.lineSettings, QStringLiteral("9600,N,8,2"));
    EXPECT_EQ(c.panel.address, QHostAddress(QHostAddress::LocalHost));
    EXPECT_EQ(c.panel.port, 4001);
    EXPECT_TRUE(c.panel.allow.text().isEmpty()); // the server then allows loopback only
}

TEST(HubConfig, badInput_namesTheLineAndReason)
{
    struct Case {
        const char *text;
        int line;
        const char *reason;
    };
    const std::vector<Case> cases {
        { "[hub]\nrouter = a.cfg\nroutr = b\n", 3, "unknown key \"routr\" in [hub]" },
        { "[hub]\nrouter = a.cfg\n[line]\nport = COM5\n", 4, "port: \"COM5\" is not a port COM1 to COM4" },
        { "[hub]\nrouter = a.cfg\n[line]\nsettings = 9600,X,8,2\n", 4, "settings:" },
        { "[hub]\nrouter = a.cfg\n[panel]\nlisten = localhost\n", 4, "listen: \"localhost\" is not an address:port" },
        { "[hub]\nrouter = a.cfg\n[panel]\nallow = 10.0.0.0/33\n", 4, "allow:" },
        { "[hub]\nrouter = a.cfg\n[panel]\nmax_clients = 0\n", 4, "not a whole number from 1" },
        { "[hub]\nrouter = a.cfg\n[line]\nlock_share = 2\n", 4, "not a share from 0 to 1" },
        { "[hub]\nrouter = a.cfg\nrouter = b.cfg\n", 3, "given twice" },
        { "router = a.cfg\n", 1, "a key before the first section" },
        { "[hub]\nrouter a.cfg\n", 2, "expected key = value" },
        { "[hub\n", 1, "must end with" },
        { "[videohubs]\n", 1, "unknown section [videohubs]" },
        { "[hub]\nname = x\n", 0, "router is required" },
        { "[hub]\nrouter = a\n[line a]\nport=COM1\n[line b]\nport=COM1\n", 0, "two lines on COM1" },
        { "[hub]\nrouter = a\n[line a]\nport=COM1\n[line a]\n", 5, "described twice" },
        { "[hub]\nrouter = a\n[line a]\nport=COM1\ncontrollers=0\n[line b]\nport=COM2\n", 0,
            "must name its controllers" },
    };
    for (const Case &c : cases) {
        HubConfig cfg;
        ConfigProblem p;
        EXPECT_FALSE(parseHubConfig(QStringLiteral("/x/hub.ini"), c.text, cfg, p)) << c.text;
        EXPECT_EQ(p.line, c.line) << c.text;
        EXPECT_TRUE(p.reason.contains(QLatin1String(c.reason))) << c.text << " -> " << qPrintable(p.reason);
        EXPECT_TRUE(p.text().startsWith(QStringLiteral("/x/hub.ini"))) << c.text;
    }
}

TEST(HubConfig, help_listsEveryKeyWithItsDefault)
{
    const QString help = hubConfigHelp();
    for (const char *key : { "router = (required)", "port = COM1", "listen = 127.0.0.1:4001",
             "allow = 127.0.0.0/8, ::1", "max_entries = 100000", "phone = (none)", "lock_share = 0.1" })
        EXPECT_TRUE(help.contains(QLatin1String(key))) << key;
}

TEST(HubConfig, packagedExample_isAcceptedAsItStands)
{
    HubConfig c;
    ConfigProblem p;
    const QString path = exel::test::sourceDir() + QStringLiteral("/packaging/xelhub.ini");
    ASSERT_TRUE(readHubConfig(path, c, p)) << qPrintable(p.text());
    EXPECT_EQ(c.panel.port, 4001);
    EXPECT_TRUE(c.panel.allow.loopbackOnly());
}
