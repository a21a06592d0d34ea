// The [mqtt] section of the hub's configuration: its keys and their checks,
// and what the service makes of the defaults.
#include "hubconfig.h"

#include <gtest/gtest.h>

using namespace exel::hub;

TEST(MqttConfig, keysAreReadAndRelativeFilesAreTakenFromTheConfigFolder)
{
    HubConfig c;
    ConfigProblem p;
    ASSERT_TRUE(parseHubConfig(QStringLiteral("/etc/xelhub/hub.ini"),
        "[hub]\nrouter = house.cfg\n[mqtt]\nenabled = yes\nhost = broker.example\nport = 8883\nusername = hub-a\n"
        "password = s3cret\nca_file = ca.pem\ncert_file = /pki/hub.pem\nkey_file = /pki/hub.key\nprefix = site/exel/a\n"
        "keepalive = 10\nqos = 0\noperators = mcr, studio1 ,\nmax_command_bytes = 2048\ncommand_rate = 5\n",
        c, p))
        << qPrintable(p.text());
    EXPECT_TRUE(c.mqttEnabled);
    EXPECT_EQ(c.mqtt.host, QStringLiteral("broker.example"));
    EXPECT_EQ(c.mqtt.port, 8883);
    EXPECT_EQ(c.mqtt.password, QStringLiteral("s3cret"));
    EXPECT_EQ(c.mqtt.caFile, QStringLiteral("/etc/xelhub/ca.pem"));
    EXPECT_EQ(c.mqtt.certFile, QStringLiteral("/pki/hub.pem"));
    EXPECT_TRUE(c.mqtt.tls());
    EXPECT_EQ(c.mqtt.prefix, QStringLiteral("site/exel/a"));
    EXPECT_EQ(c.mqtt.stateQos, 0);
    EXPECT_EQ(c.mqtt.operators, (QStringList { QStringLiteral("mcr"), QStringLiteral("studio1") }));
    EXPECT_EQ(c.mqtt.maxCommandBytes, 2048);
    EXPECT_EQ(c.mqtt.commandRate, 5);

    ASSERT_TRUE(parseHubConfig(QStringLiteral("/x/hub.ini"), "[hub]\nrouter = r.cfg\n", c, p));
    EXPECT_FALSE(c.mqttEnabled); // no broker unless asked for
    EXPECT_FALSE(c.mqtt.tls());
    EXPECT_EQ(c.mqtt.host, QStringLiteral("127.0.0.1"));
}

TEST(MqttConfig, badValuesStopTheStartWithTheLineAndReason)
{
    const std::vector<std::tuple<QByteArray, int, QString>> cases {
        { "[mqtt]\nprefix = exel/#\n", 2, QStringLiteral("wildcard") },
        { "[mqtt]\nprefix = exel//a\n", 2, QStringLiteral("empty topic level") },
        { "[mqtt]\nport = 0\n", 2, QStringLiteral("port") },
        { "[mqtt]\nqos = 2\n", 2, QStringLiteral("qos") },
        { "[mqtt]\nenabled = maybe\n", 2, QStringLiteral("true or false") },
        { "[mqtt]\nhost =\n", 2, QStringLiteral("host") },
        { "[mqtt]\nbroker = x\n", 2, QStringLiteral("unknown key") },
        { "[mqtt]\ncert_file = a.pem\n", 0, QStringLiteral("go together") },
        { "[mqtt]\nport = 1883\nport = 1884\n", 3, QStringLiteral("twice") },
    };
    for (const auto &[text, line, reason] : cases) {
        HubConfig c;
        ConfigProblem p;
        EXPECT_FALSE(parseHubConfig(QStringLiteral("/x/hub.ini"), "[hub]\nrouter = r.cfg\n" + text, c, p)) << text.constData();
        EXPECT_EQ(p.line, line == 0 ? 0 : line + 2) << text.constData();
        EXPECT_TRUE(p.reason.contains(reason)) << qPrintable(p.reason);
    }
}
