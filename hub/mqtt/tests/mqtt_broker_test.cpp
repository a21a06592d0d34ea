// The MQTT server end to end: Debian's mosquitto on a free loopback port with
// a password file and an ACL, the hub in front of the real controller
// emulator program (9600,N,8,2 on a pseudo-terminal), and libmosquitto
// clients subscribing and commanding as the accounts of a facility would.
#include "hubharness.h"
#include "mqtttesting.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

#include <gtest/gtest.h>

#include <csignal>

using namespace exel;
using namespace exel::hub;
using mqtttest::Broker;
using mqtttest::Client;
using mqtttest::Received;
using mqtttest::waitFor;

namespace {

QString mqttKeys(const Broker &broker, const QString &hub, const QString &extra = QString())
{
    return QStringLiteral("[mqtt]\nenabled = true\nport = %1\nusername = %2\npassword = %3\nprefix = exel/%2\n"
                          "client_id = xelhub-%2\nreconnect_min_seconds = 1\nreconnect_max_seconds = 1\n%4")
        .arg(broker.port())
        .arg(hub, Broker::password(hub), extra);
}

QJsonObject json(const QByteArray &payload)
{
    return QJsonDocument::fromJson(payload).object();
}

// The hub in this process with the MQTT server on, and the emulator behind it.
struct MqttHub {
    explicit MqttHub(Broker &broker, const QString &extra = QString())
    {
        h.ini += mqttKeys(broker, QStringLiteral("hub"), extra);
    }
    bool start(QString *error)
    {
        if (!h.startEmulator() || !h.startHub(error))
            return false;
        // Every output and the lock table read once.
        return waitFor(
            [&] { return h.line().sweepsDone() >= 1 && h.hub.state().locksReadAt(0) >= 0 && h.hub.mqttServer()->connected(); },
            20000);
    }
    MqttServer &server() { return *h.hub.mqttServer(); }
    hubtest::HubHarness h;
};

// A retained snapshot: subscribe and wait until count messages came.
std::map<QString, QByteArray> snapshot(Client &c, const QString &pattern, int count)
{
    c.clear();
    c.subscribe(pattern);
    waitFor([&] { return static_cast<int>(c.received().size()) >= count; }, 10000);
    return c.latest();
}

} // namespace

class MqttBroker : public ::testing::Test {
protected:
    void SetUp() override
    {
        static int n = 0;
        broker = std::make_unique<Broker>(exel::test::tempHome() + QStringLiteral("/broker-%1").arg(++n),
            QStringList { QStringLiteral("hub"), QStringLiteral("hub2") });
        ASSERT_TRUE(broker->start()) << qPrintable(broker->log());
    }
    std::unique_ptr<Broker> broker;
};

TEST_F(MqttBroker, afterStart_everyRetainedTopicHoldsTheControllersCrosspoints)
{
    MqttHub m(*broker);
    QString error;
    ASSERT_TRUE(m.start(&error)) << qPrintable(error);
    // Routes and a lock set at the controller before anyone subscribes.
    EXPECT_EQ(m.h.emu("route 0 1 1 3"), QByteArray("OK"));
    EXPECT_EQ(m.h.emu("route 0 1 2 5"), QByteArray("OK"));
    EXPECT_EQ(m.h.emu("route 0 4 2 7"), QByteArray("OK"));
    EXPECT_EQ(m.h.emu("lock 0 3 on").left(2), QByteArray("OK"));
    const int64_t sweeps = m.h.line().sweepsDone();
    ASSERT_TRUE(waitFor([&] { return m.h.line().sweepsDone() >= sweeps + 2; }, 20000));

    Client viewer(QStringLiteral("viewer-1"), QStringLiteral("viewer"), broker->port());
    ASSERT_EQ(viewer.connect(), 0);
    const int expected = m.server().retainedCount();
    EXPECT_EQ(expected, 1 + 1 + 4 + 64); // status, line, level links, 16 destinations x 4 levels
    const auto state = snapshot(viewer, QStringLiteral("exel/hub/#"), expected);
    ASSERT_EQ(static_cast<int>(state.size()), expected);
    EXPECT_EQ(state.at(QStringLiteral("exel/hub/status")), QByteArray("online"));
    EXPECT_EQ(json(state.at(QStringLiteral("exel/hub/line/main"))).value(QStringLiteral("state")).toString(),
        QStringLiteral("online"));
    EXPECT_EQ(json(state.at(QStringLiteral("exel/hub/TC/link"))).value(QStringLiteral("line")).toString(),
        QStringLiteral("main"));
    for (const Received &r : viewer.received())
        EXPECT_TRUE(r.retained) << qPrintable(r.topic);

    const StatandConfig &model = m.h.hub.state().model();
    int destinations = 0;
    for (const auto &[topic, payload] : state) {
        if (!topic.contains(QStringLiteral("/destination/")))
            continue;
        ++destinations;
        const QJsonObject o = json(payload);
        const int level = model.level(model.FindLevel(o.value(QStringLiteral("level")).toString())).levelNumber + 1;
        const int output = o.value(QStringLiteral("output")).toInt();
        int input = 0;
        if (level == 1 && output == 1)
            input = 3;
        if (level == 1 && output == 2)
            input = 5;
        if (level == 4 && output == 2)
            input = 7;
        EXPECT_EQ(o.value(QStringLiteral("input")).toInt(-1), input) << qPrintable(topic);
        EXPECT_EQ(o.value(QStringLiteral("locked")).toBool(), output == 3) << qPrintable(topic);
        EXPECT_TRUE(o.value(QStringLiteral("confirmed")).toBool()) << qPrintable(topic);
        EXPECT_TRUE(o.value(QStringLiteral("read_at")).isString()) << qPrintable(topic);
    }
    EXPECT_EQ(destinations, 64);
    const QJsonObject pvw = json(state.at(QStringLiteral("exel/hub/VIDEO/destination/PVW")));
    EXPECT_EQ(pvw.value(QStringLiteral("source")).toString(), QStringLiteral("VTR1"));
    EXPECT_EQ(pvw.value(QStringLiteral("controller")).toString(), QStringLiteral("R720"));
}

TEST_F(MqttBroker, changeAtTheController_isOneMessageOnItsTopicAndNoOther)
{
    MqttHub m(*broker);
    QString error;
    ASSERT_TRUE(m.start(&error)) << qPrintable(error);
    Client viewer(QStringLiteral("viewer-1"), QStringLiteral("viewer"), broker->port());
    ASSERT_EQ(viewer.connect(), 0);
    snapshot(viewer, QStringLiteral("exel/hub/+/destination/+"), 64);
    viewer.clear();
    // Output 5 on AUD-L is destination 5 of the demo router.
    EXPECT_EQ(m.h.emu("route 0 2 5 9"), QByteArray("OK"));
    const QString dest = m.h.hub.state().destinationName(0, 5);
    const QString topic = QStringLiteral("exel/hub/AUD-L/destination/") + dest;
    ASSERT_TRUE(waitFor([&] { return !viewer.on(topic).empty(); }, 10000));
    // Two more sweeps read it again unchanged: still one message.
    const int64_t sweeps = m.h.line().sweepsDone();
    ASSERT_TRUE(waitFor([&] { return m.h.line().sweepsDone() >= sweeps + 2; }, 20000));
    const auto got = viewer.received();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_FALSE(got.front().retained); // a live change, not the store's copy
    const QJsonObject o = json(got.front().payload);
    EXPECT_EQ(o.value(QStringLiteral("input")).toInt(), 9);
    EXPECT_EQ(o.value(QStringLiteral("source")).toString(), m.h.hub.state().sourceName(0, 2, 9));
}

TEST_F(MqttBroker, takeCommand_reachesTheControllerAndIsAnsweredStepByStep)
{
    MqttHub m(*broker);
    QString error;
    ASSERT_TRUE(m.start(&error)) << qPrintable(error);
    Client mcr(QStringLiteral("mcr-1"), QStringLiteral("mcr"), broker->port());
    ASSERT_EQ(mcr.connect(), 0);
    ASSERT_TRUE(mcr.subscribe(QStringLiteral("exel/hub/reply/mcr/#")));
    ASSERT_TRUE(mcr.subscribe(QStringLiteral("exel/hub/VIDEO/destination/PGM")));
    ASSERT_TRUE(mcr.subscribe(QStringLiteral("exel/hub/journal")));
    waitFor([&] { return !mcr.on(QStringLiteral("exel/hub/VIDEO/destination/PGM")).empty(); }, 5000);
    mcr.clear();

    // MQTT 5: the reply goes to the response topic with the correlation data.
    const QString replies = QStringLiteral("exel/hub/reply/mcr/desk-7");
    ASSERT_EQ(mcr.publish(QStringLiteral("exel/hub/command/mcr"),
                  R"({"id":"t1","command":"take","destination":"PGM","source":"CAM2"})", replies, "corr-1"),
        0);
    auto states = [&] {
        QStringList out;
        for (const Received &r : mcr.on(replies)) {
            const QJsonObject o = json(r.payload);
            EXPECT_EQ(r.correlation, QByteArray("corr-1"));
            EXPECT_EQ(o.value(QStringLiteral("id")).toString(), QStringLiteral("t1"));
            if (o.contains(QStringLiteral("entries"))) {
                for (const QJsonValue e : o.value(QStringLiteral("entries")).toArray())
                    out << QStringLiteral("accepted:") + e.toObject().value(QStringLiteral("state")).toString();
            } else {
                out << o.value(QStringLiteral("state")).toString();
            }
        }
        return out;
    };
    ASSERT_TRUE(waitFor([&] { return states().contains(QStringLiteral("confirmed")); }, 10000)) << qPrintable(states().join(u' '));
    EXPECT_EQ(states(), (QStringList { QStringLiteral("accepted:queued"), QStringLiteral("sent"),
                            QStringLiteral("acknowledged"), QStringLiteral("confirmed") }));
    // One take on the wire for all four levels, and the state follows.
    EXPECT_EQ(m.h.hub.state().status(0, 1)->input, (std::vector<int16_t> { 2, 2, 2, 2 }));
    const auto pgm = mcr.on(QStringLiteral("exel/hub/VIDEO/destination/PGM"));
    ASSERT_FALSE(pgm.empty());
    const QJsonObject last = json(pgm.back().payload);
    EXPECT_EQ(last.value(QStringLiteral("source")).toString(), QStringLiteral("CAM2"));
    EXPECT_TRUE(last.value(QStringLiteral("confirmed")).toBool());
    // The journal topic carried the entry with its origin.
    const auto journal = mcr.on(QStringLiteral("exel/hub/journal"));
    ASSERT_FALSE(journal.empty());
    const QJsonObject origin = json(journal.back().payload).value(QStringLiteral("origin")).toObject();
    EXPECT_EQ(origin.value(QStringLiteral("server")).toString(), QStringLiteral("mqtt"));
    EXPECT_EQ(origin.value(QStringLiteral("user")).toString(), QStringLiteral("mcr"));
    EXPECT_EQ(origin.value(QStringLiteral("client")).toString(), replies);

    // Without a response topic: the fixed reply topic of the user. A lock
    // from the same user is its own to open again.
    mcr.clear();
    ASSERT_EQ(mcr.publish(QStringLiteral("exel/hub/command/mcr"), R"({"id":2,"command":"lock","destination":"PGM"})"), 0);
    ASSERT_TRUE(waitFor(
        [&] {
            const auto r = mcr.on(QStringLiteral("exel/hub/reply/mcr"));
            return !r.empty() && json(r.back().payload).value(QStringLiteral("state")) == QStringLiteral("confirmed");
        },
        10000));
    EXPECT_TRUE((*m.h.hub.state().locks(0))[0]);
    ASSERT_NE(m.h.hub.state().lockOwner(0, 1), nullptr);
    EXPECT_EQ(m.h.hub.state().lockOwner(0, 1)->name, QStringLiteral("mcr"));
    EXPECT_EQ(json(mcr.on(QStringLiteral("exel/hub/reply/mcr")).front().payload).value(QStringLiteral("id")).toInt(), 2);
    ASSERT_TRUE(waitFor(
        [&] {
            const auto r = mcr.on(QStringLiteral("exel/hub/VIDEO/destination/PGM"));
            return !r.empty() && json(r.back().payload).value(QStringLiteral("locked")).toBool();
        },
        5000));
    EXPECT_EQ(json(mcr.on(QStringLiteral("exel/hub/VIDEO/destination/PGM")).back().payload)
                  .value(QStringLiteral("lock_owner"))
                  .toObject()
                  .value(QStringLiteral("user"))
                  .toString(),
        QStringLiteral("mcr"));
    mcr.clear();
    ASSERT_EQ(mcr.publish(QStringLiteral("exel/hub/command/mcr"), R"({"command":"unlock","destination":"PGM"})"), 0);
    ASSERT_TRUE(waitFor([&] { return !(*m.h.hub.state().locks(0))[0]; }, 10000));
}

TEST_F(MqttBroker, acl_hubWritesOnlyItsPrefixViewerCannotCommandOperatorCan)
{
    MqttHub m(*broker);
    QString error;
    ASSERT_TRUE(m.start(&error)) << qPrintable(error);
    constexpr int notAuthorised = 0x87;

    Client viewer(QStringLiteral("viewer-1"), QStringLiteral("viewer"), broker->port());
    ASSERT_EQ(viewer.connect(), 0);
    EXPECT_TRUE(viewer.subscribe(QStringLiteral("exel/#")));
    const QByteArray take = R"({"command":"take","destination":"PGM","source":"CAM4"})";
    EXPECT_EQ(viewer.publish(QStringLiteral("exel/hub/command/viewer"), take), notAuthorised);
    EXPECT_EQ(viewer.publish(QStringLiteral("exel/hub/command"), take), notAuthorised);
    EXPECT_EQ(viewer.publish(QStringLiteral("exel/hub/VIDEO/destination/PGM"), "{}", QString(), QByteArray(), true),
        notAuthorised);
    // An operator commands only as itself.
    Client mcr(QStringLiteral("mcr-1"), QStringLiteral("mcr"), broker->port());
    ASSERT_EQ(mcr.connect(), 0);
    EXPECT_EQ(mcr.publish(QStringLiteral("exel/hub/command/viewer"), take), notAuthorised);
    EXPECT_EQ(mcr.publish(QStringLiteral("exel/hub/status"), "offline"), notAuthorised);
    // Nothing of that reached the hub.
    for (int i = 0; i < 20; ++i)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    EXPECT_TRUE(m.h.hub.journal().list(0).empty());

    EXPECT_EQ(mcr.publish(QStringLiteral("exel/hub/command/mcr"), take), 0);
    ASSERT_TRUE(waitFor([&] { return m.h.hub.journal().list(0).size() == 1; }, 5000));

    // The hub's account: its own prefix, nothing else.
    Client asHub(QStringLiteral("hub-probe"), QStringLiteral("hub"), broker->port());
    ASSERT_EQ(asHub.connect(), 0);
    EXPECT_EQ(asHub.publish(QStringLiteral("exel/hub2/status"), "online"), notAuthorised);
    EXPECT_EQ(asHub.publish(QStringLiteral("other/thing"), "x"), notAuthorised);
    EXPECT_EQ(asHub.publish(QStringLiteral("exel/hub/probe"), "x"), 0);

    // Without credentials nobody gets in.
    Client stranger(QStringLiteral("x"), QString(), broker->port());
    EXPECT_NE(stranger.connect(), 0);
}

TEST_F(MqttBroker, malformedOversizedOrUnknown_getAnErrorReplyAndChangeNothing)
{
    MqttHub m(*broker, QStringLiteral("max_command_bytes = 1024\n"));
    QString error;
    ASSERT_TRUE(m.start(&error)) << qPrintable(error);
    Client mcr(QStringLiteral("mcr-1"), QStringLiteral("mcr"), broker->port());
    ASSERT_EQ(mcr.connect(), 0);
    ASSERT_TRUE(mcr.subscribe(QStringLiteral("exel/hub/reply/#")));
    const std::vector<std::pair<QByteArray, QString>> cases {
        { "{\"command\":\"take\",", "not JSON" },
        { "[1,2]", "one JSON object" },
        { "", "not JSON" },
        { R"({"id":"a","command":"route","destination":"PGM"})", "\"command\" must be" },
        { R"({"id":"b","command":"take","destination":"NOPE","source":"CAM1"})", "unknown destination" },
        { R"({"id":"c","command":"take","destination":"PGM","source":"NOPE"})", "unknown source" },
        { R"({"id":"d","command":"take","destination":"PGM","levels":{"SDI":"CAM1"}})", "unknown level" },
        { R"({"id":"e","command":"take","destination":"PGM","source":"CAM1","priority":1})", "not a key" },
        { R"({"id":"f","command":"salvo","name":"../../etc/passwd"})", "" },
        { "{\"command\":\"take\",\"destination\":\"PGM\",\"source\":\"" + QByteArray(2000, 'x') + "\"}", "longer than" },
    };
    for (const auto &[payload, why] : cases) {
        mcr.clear();
        ASSERT_EQ(mcr.publish(QStringLiteral("exel/hub/command/mcr"), payload), 0);
        ASSERT_TRUE(waitFor([&] { return !mcr.on(QStringLiteral("exel/hub/reply/mcr")).empty(); }, 5000))
            << payload.left(80).constData();
        const QJsonObject o = json(mcr.on(QStringLiteral("exel/hub/reply/mcr")).front().payload);
        EXPECT_FALSE(o.value(QStringLiteral("ok")).toBool(true)) << payload.left(80).constData();
        EXPECT_TRUE(o.value(QStringLiteral("error")).toString().contains(why))
            << qPrintable(o.value(QStringLiteral("error")).toString());
    }
    // A response topic outside the hub's replies could make the hub publish
    // false state: refused, on the fixed reply topic.
    mcr.clear();
    ASSERT_EQ(mcr.publish(QStringLiteral("exel/hub/command/mcr"), R"({"command":"take","destination":"PGM","source":"CAM1"})",
                  QStringLiteral("exel/hub/VIDEO/destination/PGM")),
        0);
    ASSERT_TRUE(waitFor([&] { return !mcr.on(QStringLiteral("exel/hub/reply/mcr")).empty(); }, 5000));
    EXPECT_TRUE(json(mcr.on(QStringLiteral("exel/hub/reply/mcr")).front().payload)
                    .value(QStringLiteral("error"))
                    .toString()
                    .contains(QStringLiteral("response topic")));
    // Past the broker's packet limit the message never arrives at all.
    EXPECT_NE(mcr.publish(QStringLiteral("exel/hub/command/mcr"), QByteArray(70000, '{')), 0);
    for (int i = 0; i < 20; ++i)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    EXPECT_TRUE(m.h.hub.journal().list(0).empty());
    EXPECT_EQ(m.h.hub.state().status(0, 1)->input, (std::vector<int16_t> { 0, 0, 0, 0 }));
}

TEST_F(MqttBroker, operatorsOfTheHub_otherUsersAreRefusedEvenWhereTheBrokerLetsThemIn)
{
    MqttHub m(*broker, QStringLiteral("operators = studio1, studio2\n"));
    QString error;
    ASSERT_TRUE(m.start(&error)) << qPrintable(error);
    Client mcr(QStringLiteral("mcr-1"), QStringLiteral("mcr"), broker->port());
    ASSERT_EQ(mcr.connect(), 0);
    ASSERT_TRUE(mcr.subscribe(QStringLiteral("exel/hub/reply/#")));
    ASSERT_EQ(mcr.publish(QStringLiteral("exel/hub/command/mcr"), R"({"command":"lock","destination":"PGM"})"), 0);
    ASSERT_TRUE(waitFor([&] { return !mcr.on(QStringLiteral("exel/hub/reply/mcr")).empty(); }, 5000));
    EXPECT_TRUE(json(mcr.on(QStringLiteral("exel/hub/reply/mcr")).front().payload)
                    .value(QStringLiteral("error"))
                    .toString()
                    .contains(QStringLiteral("mcr may not command")));
    EXPECT_TRUE(m.h.hub.journal().list(0).empty());
}

TEST_F(MqttBroker, brokerKilledAndRestarted_hubReconnectsAndRetainedStateIsCompleteAgain)
{
    MqttHub m(*broker);
    QString error;
    ASSERT_TRUE(m.start(&error)) << qPrintable(error);
    int republished = 0;
    QObject::connect(&m.server(), &MqttServer::republished, [&] { ++republished; });
    broker->kill();
    ASSERT_TRUE(waitFor([&] { return !m.server().connected(); }, 10000));
    // A change while the broker is away is in the state published after.
    EXPECT_EQ(m.h.emu("route 0 3 4 6"), QByteArray("OK"));
    ASSERT_TRUE(waitFor([&] { return m.h.hub.state().status(0, 4)->input[2] == 6; }, 10000));
    ASSERT_TRUE(broker->start());
    ASSERT_TRUE(waitFor([&] { return republished == 1; }, 15000));

    Client viewer(QStringLiteral("viewer-1"), QStringLiteral("viewer"), broker->port());
    ASSERT_EQ(viewer.connect(), 0);
    const int expected = m.server().retainedCount();
    const auto state = snapshot(viewer, QStringLiteral("exel/hub/#"), expected);
    EXPECT_EQ(static_cast<int>(state.size()), expected);
    EXPECT_EQ(state.at(QStringLiteral("exel/hub/status")), QByteArray("online"));
    const QString dest = m.h.hub.state().destinationName(0, 4);
    EXPECT_EQ(json(state.at(QStringLiteral("exel/hub/AUD-R/destination/") + dest)).value(QStringLiteral("input")).toInt(), 6);
}

namespace {

// A real xelhub process for the MQTT tests: its configuration, started until
// it says so.
struct HubProcess {
    bool start(const QString &ini, const QString &iniPath)
    {
        if (!exel::test::writeFile(iniPath, ini.toUtf8()))
            return false;
        process.start(QStringLiteral(XELHUB_BINARY), { QStringLiteral("--config"), iniPath });
        if (!process.waitForStarted(5000))
            return false;
        for (int i = 0; i < 100 && !log.contains("mqtt: connected"); ++i) {
            process.waitForReadyRead(100);
            log += process.readAllStandardError();
        }
        return log.contains("mqtt: connected");
    }
    ~HubProcess()
    {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished(5000);
        }
    }
    QProcess process;
    QByteArray log;
};

} // namespace

TEST_F(MqttBroker, hubProcessKilled_lastWillSaysOffline_andACleanStopSaysSoToo)
{
    hubtest::HubHarness h;
    ASSERT_TRUE(h.startEmulator());
    const QString ini = h.ini.replace(QStringLiteral("listen = 127.0.0.1:1"), QStringLiteral("enabled = false"))
        + mqttKeys(*broker, QStringLiteral("hub"));
    Client viewer(QStringLiteral("viewer-1"), QStringLiteral("viewer"), broker->port());
    ASSERT_EQ(viewer.connect(), 0);
    ASSERT_TRUE(viewer.subscribe(QStringLiteral("exel/hub/status")));
    for (const bool kill : { true, false }) {
        HubProcess hub;
        ASSERT_TRUE(hub.start(ini, h.dir + QStringLiteral("/hub.ini"))) << hub.log.constData();
        ASSERT_TRUE(waitFor(
            [&] {
                const auto s = viewer.on(QStringLiteral("exel/hub/status"));
                return !s.empty() && s.back().payload == "online";
            },
            5000));
        viewer.clear();
        if (kill)
            ::kill(static_cast<pid_t>(hub.process.processId()), SIGKILL);
        else
            hub.process.terminate();
        ASSERT_TRUE(hub.process.waitForFinished(5000));
        ASSERT_TRUE(waitFor([&] { return !viewer.on(QStringLiteral("exel/hub/status")).empty(); }, 5000))
            << (kill ? "after SIGKILL" : "after SIGTERM");
        EXPECT_EQ(viewer.on(QStringLiteral("exel/hub/status")).back().payload, QByteArray("offline"));
    }
    // And it stays retained for those who come later.
    Client late(QStringLiteral("viewer-2"), QStringLiteral("viewer"), broker->port());
    ASSERT_EQ(late.connect(), 0);
    const auto state = snapshot(late, QStringLiteral("exel/hub/status"), 1);
    EXPECT_EQ(state.at(QStringLiteral("exel/hub/status")), QByteArray("offline"));
}

TEST_F(MqttBroker, twoHubsOnOneBroker_oneClientSeesBothAndTakesOnEach)
{
    MqttHub one(*broker);
    QString error;
    ASSERT_TRUE(one.start(&error)) << qPrintable(error);
    // The second machine room: its own emulator and a hub process of its own.
    hubtest::HubHarness two;
    ASSERT_TRUE(two.startEmulator());
    const QString ini = two.ini.replace(QStringLiteral("listen = 127.0.0.1:1"), QStringLiteral("enabled = false"))
        + mqttKeys(*broker, QStringLiteral("hub2"));
    HubProcess hub2;
    ASSERT_TRUE(hub2.start(ini, two.dir + QStringLiteral("/hub.ini"))) << hub2.log.constData();
    qputenv("TOLCOM_DEVICE_DIR", (one.h.dir + QStringLiteral("/dev")).toLocal8Bit());

    Client mcr(QStringLiteral("mcr-1"), QStringLiteral("mcr"), broker->port());
    ASSERT_EQ(mcr.connect(), 0);
    ASSERT_TRUE(mcr.subscribe(QStringLiteral("exel/+/VIDEO/destination/+")));
    ASSERT_TRUE(mcr.subscribe(QStringLiteral("exel/+/reply/mcr")));
    ASSERT_TRUE(waitFor([&] { return mcr.latest().size() >= 32; }, 10000));
    EXPECT_TRUE(mcr.latest().count(QStringLiteral("exel/hub/VIDEO/destination/PGM")));
    EXPECT_TRUE(mcr.latest().count(QStringLiteral("exel/hub2/VIDEO/destination/PGM")));

    ASSERT_EQ(mcr.publish(QStringLiteral("exel/hub/command/mcr"), R"({"command":"take","destination":"PGM","source":"CAM3"})"), 0);
    ASSERT_EQ(mcr.publish(QStringLiteral("exel/hub2/command/mcr"), R"({"command":"take","destination":"PVW","source":"VTR2"})"), 0);
    auto sourceOf = [&](const QString &topic) {
        const auto latest = mcr.latest();
        const auto it = latest.find(topic);
        return it == latest.end() ? QString() : json(it->second).value(QStringLiteral("source")).toString();
    };
    ASSERT_TRUE(waitFor(
        [&] {
            return sourceOf(QStringLiteral("exel/hub/VIDEO/destination/PGM")) == QStringLiteral("CAM3")
                && sourceOf(QStringLiteral("exel/hub2/VIDEO/destination/PVW")) == QStringLiteral("VTR2");
        },
        10000));
    // Each take went to its own router only.
    EXPECT_EQ(sourceOf(QStringLiteral("exel/hub2/VIDEO/destination/PGM")), QString());
    EXPECT_EQ(sourceOf(QStringLiteral("exel/hub/VIDEO/destination/PVW")), QString());
    EXPECT_EQ(one.h.hub.state().status(0, 1)->input[0], 3);
    EXPECT_FALSE(mcr.on(QStringLiteral("exel/hub2/reply/mcr")).empty());
}

TEST_F(MqttBroker, commandLineClients_mqtt311TakeAnsweredOnTheFixedReplyTopic)
{
    MqttHub m(*broker);
    QString error;
    ASSERT_TRUE(m.start(&error)) << qPrintable(error);
    const QStringList account { QStringLiteral("-h"), QStringLiteral("127.0.0.1"), QStringLiteral("-p"),
        QString::number(broker->port()), QStringLiteral("-u"), QStringLiteral("mcr"), QStringLiteral("-P"),
        Broker::password(QStringLiteral("mcr")), QStringLiteral("-V"), QStringLiteral("mqttv311") };
    // The retained state as any MQTT 3.1.1 tool sees it.
    QProcess state;
    state.start(QStringLiteral("mosquitto_sub"),
        account + QStringList { QStringLiteral("-t"), QStringLiteral("exel/hub/TC/destination/PGM"), QStringLiteral("-C"),
            QStringLiteral("1"), QStringLiteral("-W"), QStringLiteral("5") });
    ASSERT_TRUE(waitFor([&] { return state.state() == QProcess::NotRunning; }, 8000));
    EXPECT_EQ(json(state.readAllStandardOutput().trimmed()).value(QStringLiteral("level")).toString(), QStringLiteral("TC"));

    // Four replies: accepted (queued), sent, acknowledged, confirmed.
    QProcess replies;
    replies.start(QStringLiteral("mosquitto_sub"),
        account + QStringList { QStringLiteral("-t"), QStringLiteral("exel/hub/reply/mcr"), QStringLiteral("-C"),
            QStringLiteral("4"), QStringLiteral("-W"), QStringLiteral("10") });
    ASSERT_TRUE(replies.waitForStarted(5000));
    waitFor([] { return false; }, 500); // subscribed
    const int rc = QProcess::execute(QStringLiteral("mosquitto_pub"),
        account + QStringList { QStringLiteral("-q"), QStringLiteral("1"), QStringLiteral("-t"), QStringLiteral("exel/hub/command/mcr"),
            QStringLiteral("-m"), QStringLiteral(R"({"id":"cli","command":"take","destination":"PVW","levels":{"TC":"CAM4"}})") });
    EXPECT_EQ(rc, 0);
    ASSERT_TRUE(waitFor([&] { return replies.state() == QProcess::NotRunning; }, 12000));
    const QList<QByteArray> lines = replies.readAllStandardOutput().trimmed().split('\n');
    ASSERT_EQ(lines.size(), 4);
    EXPECT_TRUE(json(lines[0]).value(QStringLiteral("ok")).toBool());
    EXPECT_EQ(json(lines[3]).value(QStringLiteral("state")).toString(), QStringLiteral("confirmed"));
    for (const QByteArray &l : lines)
        EXPECT_EQ(json(l).value(QStringLiteral("id")).toString(), QStringLiteral("cli"));
    // Only the TC level of PVW changed.
    EXPECT_EQ(m.h.hub.state().status(0, 2)->input, (std::vector<int16_t> { 0, 0, 0, 4 }));
}

TEST_F(MqttBroker, brokerDownWhenTheHubStarts_linesRunAndTheHubConnectsWhenItComes)
{
    broker->kill();
    MqttHub m(*broker);
    QString error;
    ASSERT_TRUE(m.h.startEmulator());
    ASSERT_TRUE(m.h.startHub(&error)) << qPrintable(error);
    ASSERT_TRUE(waitFor([&] { return m.h.line().sweepsDone() >= 1; }, 20000)); // the router is served meanwhile
    EXPECT_FALSE(m.server().connected());
    ASSERT_TRUE(broker->start());
    ASSERT_TRUE(waitFor([&] { return m.server().connected(); }, 15000));
    Client viewer(QStringLiteral("viewer-1"), QStringLiteral("viewer"), broker->port());
    ASSERT_EQ(viewer.connect(), 0);
    const auto state = snapshot(viewer, QStringLiteral("exel/hub/#"), m.server().retainedCount());
    EXPECT_EQ(static_cast<int>(state.size()), m.server().retainedCount());
}

TEST_F(MqttBroker, commandFlood_pastTheBurstIsAnsweredAndNotQueued)
{
    MqttHub m(*broker, QStringLiteral("command_burst = 3\ncommand_rate = 1\n"));
    QString error;
    ASSERT_TRUE(m.start(&error)) << qPrintable(error);
    Client mcr(QStringLiteral("mcr-1"), QStringLiteral("mcr"), broker->port());
    ASSERT_EQ(mcr.connect(), 0);
    ASSERT_TRUE(mcr.subscribe(QStringLiteral("exel/hub/reply/mcr")));
    for (int i = 0; i < 6; ++i) {
        const QByteArray take = QStringLiteral(R"({"id":%1,"command":"take","destination":"PGM","source":"CAM%2"})")
                                    .arg(i)
                                    .arg(i % 4 + 1)
                                    .toUtf8();
        ASSERT_TRUE(mcr.send(QStringLiteral("exel/hub/command/mcr"), take, 1, false));
    }
    auto first = [&](int id) {
        for (const Received &r : mcr.on(QStringLiteral("exel/hub/reply/mcr"))) {
            const QJsonObject o = json(r.payload);
            if (o.contains(QStringLiteral("ok")) && o.value(QStringLiteral("id")).toInt(-1) == id)
                return o;
        }
        return QJsonObject();
    };
    ASSERT_TRUE(waitFor([&] { return !first(5).isEmpty(); }, 5000));
    int refused = 0;
    for (int id = 0; id < 6; ++id) {
        const QJsonObject o = first(id);
        if (!o.value(QStringLiteral("ok")).toBool(true)) {
            ++refused;
            EXPECT_TRUE(o.value(QStringLiteral("error")).toString().contains(QStringLiteral("too many")));
        }
    }
    // The burst of three, perhaps one more for the time they took to arrive.
    EXPECT_GE(refused, 2);
    EXPECT_EQ(static_cast<int>(m.h.hub.journal().list(0).size()), 6 - refused);
}

namespace {

// A test CA and a broker certificate for 127.0.0.1 signed by it, and a
// second CA that signed nothing.
bool makeCertificates(const QString &dir)
{
    auto run = [&](const QStringList &args) {
        QProcess p;
        p.setWorkingDirectory(dir);
        p.start(QStringLiteral("openssl"), args);
        return p.waitForFinished(30000) && p.exitCode() == 0;
    };
    QDir().mkpath(dir);
    if (!exel::test::writeFile(dir + QStringLiteral("/san.ext"), "subjectAltName=IP:127.0.0.1\n"))
        return false;
    for (const char *ca : { "ca", "other-ca" }) {
        if (!run({ QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"), QStringLiteral("rsa:2048"),
                QStringLiteral("-nodes"), QStringLiteral("-keyout"), QStringLiteral("%1.key").arg(QLatin1String(ca)),
                QStringLiteral("-out"), QStringLiteral("%1.pem").arg(QLatin1String(ca)), QStringLiteral("-days"),
                QStringLiteral("2"), QStringLiteral("-subj"), QStringLiteral("/CN=%1").arg(QLatin1String(ca)) }))
            return false;
    }
    return run({ QStringLiteral("req"), QStringLiteral("-newkey"), QStringLiteral("rsa:2048"), QStringLiteral("-nodes"),
               QStringLiteral("-keyout"), QStringLiteral("server.key"), QStringLiteral("-out"), QStringLiteral("server.csr"),
               QStringLiteral("-subj"), QStringLiteral("/CN=127.0.0.1") })
        && run({ QStringLiteral("x509"), QStringLiteral("-req"), QStringLiteral("-in"), QStringLiteral("server.csr"),
            QStringLiteral("-CA"), QStringLiteral("ca.pem"), QStringLiteral("-CAkey"), QStringLiteral("ca.key"),
            QStringLiteral("-CAcreateserial"), QStringLiteral("-out"), QStringLiteral("server.pem"), QStringLiteral("-days"),
            QStringLiteral("2"), QStringLiteral("-extfile"), QStringLiteral("san.ext") });
}

} // namespace

TEST(MqttTls, hubConnectsToABrokerItsCaVouchesFor_andNotToOneItDoesNot)
{
    const QString pki = exel::test::tempHome() + QStringLiteral("/pki");
    ASSERT_TRUE(makeCertificates(pki));
    Broker broker(exel::test::tempHome() + QStringLiteral("/tls-broker"), { QStringLiteral("hub") },
        QStringLiteral("cafile %1/ca.pem\ncertfile %1/server.pem\nkeyfile %1/server.key\n").arg(pki).toUtf8());
    ASSERT_TRUE(broker.start()) << qPrintable(broker.log());
    MqttHub m(broker, QStringLiteral("ca_file = %1/ca.pem\n").arg(pki));
    QString error;
    ASSERT_TRUE(m.start(&error)) << qPrintable(error);
    // A TLS subscriber sees the state.
    QProcess sub;
    sub.start(QStringLiteral("mosquitto_sub"),
        { QStringLiteral("-h"), QStringLiteral("127.0.0.1"), QStringLiteral("-p"), QString::number(broker.port()),
            QStringLiteral("--cafile"), pki + QStringLiteral("/ca.pem"), QStringLiteral("-u"), QStringLiteral("viewer"),
            QStringLiteral("-P"), Broker::password(QStringLiteral("viewer")), QStringLiteral("-t"),
            QStringLiteral("exel/hub/status"), QStringLiteral("-C"), QStringLiteral("1"), QStringLiteral("-W"),
            QStringLiteral("5") });
    ASSERT_TRUE(waitFor([&] { return sub.state() == QProcess::NotRunning; }, 8000));
    EXPECT_EQ(sub.readAllStandardOutput().trimmed(), QByteArray("online"));

    // Another CA: the broker's certificate is not trusted, no connection.
    MqttOptions other;
    other.port = broker.port();
    other.username = QStringLiteral("hub");
    other.password = Broker::password(QStringLiteral("hub"));
    other.caFile = pki + QStringLiteral("/other-ca.pem");
    other.prefix = QStringLiteral("exel/hub");
    other.clientId = QStringLiteral("xelhub-untrusting");
    MqttServer untrusting(m.h.hub.core(), other);
    ASSERT_TRUE(untrusting.start(&error)) << qPrintable(error);
    EXPECT_FALSE(waitFor([&] { return untrusting.connected(); }, 2000));
    EXPECT_TRUE(m.server().connected());
}
