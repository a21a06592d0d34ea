// The MQTT wire format: topic names from configuration names, the command
// reader (table-driven), and the JSON the hub publishes.
#include "mqttprotocol.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

using namespace exel::hub;
using namespace exel::hub::mqtt;

TEST(MqttTopics, namesThatWouldBreakTheTopicTreeAreEscaped)
{
    const std::vector<std::pair<QString, QString>> cases {
        { QStringLiteral("PGM"), QStringLiteral("PGM") },
        { QStringLiteral("AUD L"), QStringLiteral("AUD L") },
        { QStringLiteral("A/B"), QStringLiteral("A%2FB") },
        { QStringLiteral("+#"), QStringLiteral("%2B%23") },
        { QStringLiteral("50%"), QStringLiteral("50%25") },
        { QStringLiteral("$SYS"), QStringLiteral("%24SYS") },
        { QStringLiteral("A$"), QStringLiteral("A$") },
        { QStringLiteral("x\ny"), QStringLiteral("x%0Ay") },
        { QString(), QStringLiteral("%00") },
        { QStringLiteral("Kamera ü/2"), QStringLiteral("Kamera ü%2F2") },
    };
    for (const auto &[name, part] : cases)
        EXPECT_EQ(topicPart(name), part) << qPrintable(name);
    // Two names never share a topic: the escape character is escaped too.
    EXPECT_NE(topicPart(QStringLiteral("A/B")), topicPart(QStringLiteral("A%2FB")));
}

TEST(MqttTopics, prefixCommandUserAndReplyTopics)
{
    for (const char *bad : { "", "exel/+", "exel/#", "$SYS/x", "exel//hub", "/exel", "exel/" }) {
        QString why;
        EXPECT_FALSE(validPrefix(QString::fromLatin1(bad), &why)) << bad;
        EXPECT_FALSE(why.isEmpty());
    }
    EXPECT_TRUE(validPrefix(QStringLiteral("site/exel/mcr-a"), nullptr));

    const Topics t(QStringLiteral("exel/hub"));
    EXPECT_EQ(t.destination(QStringLiteral("VIDEO"), QStringLiteral("VTR/1")),
        QStringLiteral("exel/hub/VIDEO/destination/VTR%2F1"));
    EXPECT_EQ(t.commandUser(QStringLiteral("exel/hub/command")), QString());
    EXPECT_EQ(t.commandUser(QStringLiteral("exel/hub/command/mcr")), QStringLiteral("mcr"));
    EXPECT_EQ(t.commandUser(QStringLiteral("exel/hub/command/mcr/x")), std::nullopt);
    EXPECT_EQ(t.commandUser(QStringLiteral("exel/hub/commands")), std::nullopt);
    EXPECT_EQ(t.commandUser(QStringLiteral("exel/hub2/command/mcr")), std::nullopt);
    EXPECT_EQ(t.commandUser(QStringLiteral("exel/hub/command/")), std::nullopt);
    EXPECT_EQ(t.reply(QString()), QStringLiteral("exel/hub/reply"));
    EXPECT_EQ(t.reply(QStringLiteral("mcr")), QStringLiteral("exel/hub/reply/mcr"));
}

TEST(MqttCommands, wellFormedCommandsReadAsTheirKind)
{
    CommandLimits limits;
    Command c;
    QString why;
    ASSERT_TRUE(readCommand(R"({"id":"t1","command":"take","destination":"PGM","source":"CAM1"})", limits, c, why))
        << qPrintable(why);
    EXPECT_EQ(c.kind, Command::Kind::Take);
    EXPECT_EQ(c.tag.toString(), QStringLiteral("t1"));
    EXPECT_EQ(c.destination, QStringLiteral("PGM"));
    EXPECT_EQ(c.source, QStringLiteral("CAM1"));
    EXPECT_TRUE(c.levels.empty());

    ASSERT_TRUE(readCommand(R"({"command":"take","destination":"PGM","levels":{"VIDEO":"CAM1","AUD-L":"VTR2"}})", limits,
        c, why));
    EXPECT_TRUE(c.tag.isNull());
    ASSERT_EQ(c.levels.size(), 2u);
    EXPECT_EQ(c.levels[0], std::make_pair(QStringLiteral("AUD-L"), QStringLiteral("VTR2")));

    ASSERT_TRUE(readCommand(R"({"id":7,"command":"unlock","destination":"PGM","force":true})", limits, c, why));
    EXPECT_EQ(c.kind, Command::Kind::Unlock);
    EXPECT_TRUE(c.force);
    EXPECT_EQ(c.tag.toInt(), 7);
    ASSERT_TRUE(readCommand(R"({"command":"lock","destination":"PGM"})", limits, c, why));
    EXPECT_FALSE(c.force);
    ASSERT_TRUE(readCommand(R"({"command":"salvo","name":"MORNING"})", limits, c, why));
    EXPECT_EQ(c.salvo, QStringLiteral("MORNING"));
}

TEST(MqttCommands, anythingElseIsRefusedWithItsReasonAndTheTagWhenReadable)
{
    CommandLimits limits;
    limits.maxBytes = 200;
    limits.maxNameChars = 16;
    limits.maxLevels = 2;
    const std::vector<std::pair<QByteArray, QString>> cases {
        { "", "not JSON" },
        { "take PGM CAM1", "not JSON" },
        { "{\"command\":\"take\"", "not JSON" },
        { "\"take\"", "" }, // not an object; how Qt words it depends on its version
        { "[{\"command\":\"lock\"}]", "one JSON object" },
        { R"({"destination":"PGM"})", "\"command\" must be" },
        { R"({"command":"TAKE","destination":"PGM","source":"C"})", "\"command\" must be" },
        { R"({"command":7})", "\"command\" must be" },
        { R"({"id":{"a":1},"command":"lock","destination":"PGM"})", "\"id\" must be" },
        { R"({"id":"12345678901234567","command":"lock","destination":"PGM"})", "\"id\" must be" },
        { R"({"command":"lock"})", "\"destination\" must be" },
        { R"({"command":"lock","destination":""})", "\"destination\" must be" },
        { R"({"command":"lock","destination":3})", "\"destination\" must be" },
        { R"({"command":"lock","destination":"12345678901234567"})", "\"destination\" must be" },
        { R"({"command":"lock","destination":"PGM","source":"CAM1"})", "not a key of a lock" },
        { R"({"command":"lock","destination":"PGM","force":true})", "not a key of a lock" },
        { R"({"command":"unlock","destination":"PGM","force":"yes"})", "\"force\" must be" },
        { R"({"command":"take","destination":"PGM"})", "either" },
        { R"({"command":"take","destination":"PGM","source":"A","levels":{"V":"A"}})", "either" },
        { R"({"command":"take","destination":"PGM","levels":{}})", "\"levels\" must be" },
        { R"({"command":"take","destination":"PGM","levels":["V","A"]})", "\"levels\" must be" },
        { R"({"command":"take","destination":"PGM","levels":{"A":"1","B":"2","C":"3"}})", "\"levels\" must be" },
        { R"({"command":"take","destination":"PGM","levels":{"V":5}})", "\"levels.V\" must be" },
        { R"({"command":"take","destination":"PGM","levels":{"":"CAM1"}})", "level name" },
        { R"({"command":"salvo"})", "\"name\" must be" },
        { "{\"command\":\"lock\",\"destination\":\"" + QByteArray(300, 'x') + "\"}", "longer than the 200" },
    };
    for (const auto &[payload, reason] : cases) {
        Command c;
        QString why;
        EXPECT_FALSE(readCommand(payload, limits, c, why)) << payload.constData();
        EXPECT_TRUE(why.contains(reason)) << payload.constData() << " -> " << qPrintable(why);
    }
    Command c;
    QString why;
    ASSERT_FALSE(readCommand(R"({"id":"x9","command":"lock"})", limits, c, why));
    EXPECT_EQ(c.tag.toString(), QStringLiteral("x9")); // the error reply can carry it
    // An error reply is valid JSON even for text that is not.
    const QJsonObject e = QJsonDocument::fromJson(errorReply(c.tag, QStringLiteral("\"quoted\"\n"))).object();
    EXPECT_EQ(e.value(QStringLiteral("error")).toString(), QStringLiteral("\"quoted\"\n"));
    EXPECT_FALSE(e.value(QStringLiteral("ok")).toBool(true));
}

TEST(MqttPayloads, destinationStateSaysWhatIsKnownAndNothingMore)
{
    DestinationView v;
    v.destination = QStringLiteral("PGM");
    v.level = QStringLiteral("VIDEO");
    v.controller = QStringLiteral("R720");
    v.output = 1;
    // Never read: no input, no lock, not confirmed.
    QJsonObject o = QJsonDocument::fromJson(destinationPayload(v)).object();
    EXPECT_TRUE(o.value(QStringLiteral("input")).isNull());
    EXPECT_TRUE(o.value(QStringLiteral("source")).isNull());
    EXPECT_TRUE(o.value(QStringLiteral("locked")).isNull());
    EXPECT_TRUE(o.value(QStringLiteral("read_at")).isNull());
    EXPECT_FALSE(o.value(QStringLiteral("confirmed")).toBool());

    // Read, routed from an input the configuration has no name for, locked
    // by a client, taken and not yet confirmed.
    v.input = 12;
    v.locked = 1;
    v.lockOwner = Origin { QStringLiteral("videohub"), QStringLiteral("10.0.0.5:4000"), QString() };
    v.readAtMs = 1'700'000'000'123;
    v.unconfirmed = true;
    o = QJsonDocument::fromJson(destinationPayload(v)).object();
    EXPECT_EQ(o.value(QStringLiteral("input")).toInt(), 12);
    EXPECT_TRUE(o.value(QStringLiteral("source")).isNull());
    EXPECT_TRUE(o.value(QStringLiteral("locked")).toBool());
    EXPECT_EQ(o.value(QStringLiteral("lock_owner")).toObject().value(QStringLiteral("client")).toString(),
        QStringLiteral("10.0.0.5:4000"));
    EXPECT_EQ(o.value(QStringLiteral("read_at")).toString(), QStringLiteral("2023-11-14T22:13:20.123Z"));
    EXPECT_FALSE(o.value(QStringLiteral("confirmed")).toBool());
    // Unrouted (input 0) is a reading too.
    v.input = 0;
    v.unconfirmed = false;
    o = QJsonDocument::fromJson(destinationPayload(v)).object();
    EXPECT_EQ(o.value(QStringLiteral("input")).toInt(-1), 0);
    EXPECT_TRUE(o.value(QStringLiteral("confirmed")).toBool());
}
