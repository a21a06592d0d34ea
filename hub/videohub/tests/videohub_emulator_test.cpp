// The Videohub server end to end: the real controller emulator program on a
// pseudo-terminal paced at 9600,N,8,2 behind the hub, several protocol
// clients (written from the published protocol) and scripted panels in
// front of it.
#include "hubharness.h"
#include "scriptedpanel.h"
#include "videohubclient.h"

#include <QElapsedTimer>

#include <gtest/gtest.h>

using namespace exel;
using namespace exel::hub;
using hubtest::VideohubTestClient;

namespace {

bool waitFor(const std::function<bool()> &pred, int ms)
{
    QElapsedTimer t;
    t.start();
    while (!pred()) {
        if (t.elapsed() > ms)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

// The hub with the emulator behind it and the given [videohub] sections, each
// listening on a free port.
class VideohubHub {
public:
    // lineKeys: more keys for the hub's [line].
    explicit VideohubHub(const QString &sections, const QString &lineKeys = QString())
        : h(lineKeys)
    {
        h.ini += sections;
    }
    bool start(QString *error)
    {
        if (!h.startEmulator()) {
            *error = QStringLiteral("the emulator did not start");
            return false;
        }
        ConfigProblem problem;
        if (!parseHubConfig(h.dir + QStringLiteral("/hub.ini"), h.ini.toUtf8(), h.config, problem)) {
            *error = problem.text();
            return false;
        }
        h.config.panel.port = 0;
        for (VideohubServerOptions &v : h.config.videohubs)
            v.port = 0;
        return h.hub.start(h.config, error);
    }
    quint16 port(size_t i = 0) { return h.hub.videohubServers().at(i)->port(); }
    // Take commands as they went out on the line, without checksums.
    void recordTakes()
    {
        QObject::connect(&h.line(), &HubLine::commandRan, [this](const QString &text, const QString &) {
            if (text.startsWith(QLatin1Char('H')))
                takes << text;
        });
    }
    bool swept()
    {
        return waitFor([&] { return h.line().sweepsDone() >= 1; }, 15000);
    }

    hubtest::HubHarness h;
    QStringList takes;
};

const QString kVideo = QStringLiteral("[videohub]\nlevels = VIDEO\nport = 19990\n");

} // namespace

TEST(VideohubEndToEnd, greeting_matchesTheConfigurationAndTheControllersCrosspoints)
{
    VideohubHub hub(kVideo + QStringLiteral("name = Studio A\n"));
    QString error;
    ASSERT_TRUE(hub.start(&error)) << qPrintable(error);
    EXPECT_EQ(hub.h.emu("route 0 1 3 7"), QByteArray("OK"));
    EXPECT_EQ(hub.h.emu("route 0 1 16 16"), QByteArray("OK"));
    EXPECT_EQ(hub.h.emu("route 0 2 4 9"), QByteArray("OK")); // another level: not this listener's
    EXPECT_EQ(hub.h.emu("lock 0 5 on").left(2), QByteArray("OK"));
    ASSERT_TRUE(hub.swept());
    ASSERT_TRUE(waitFor([&] { return hub.h.hub.state().locksReadAt(0) >= 0; }, 10000));

    VideohubTestClient c;
    ASSERT_TRUE(c.connectTo(hub.port()));
    EXPECT_FALSE(c.version.isEmpty());
    EXPECT_EQ(c.device["Device present"], QStringLiteral("true"));
    EXPECT_EQ(c.device["Friendly name"], QStringLiteral("Studio A"));
    EXPECT_EQ(c.device["Video inputs"], QStringLiteral("32")); // the level's own size
    EXPECT_EQ(c.device["Video outputs"], QStringLiteral("32"));
    EXPECT_EQ(c.device["Unique ID"].size(), 12);
    // Labels: the configuration's names, 0-based through the level's numbers.
    EXPECT_EQ(c.inputLabels[0], QStringLiteral("CAM1"));
    EXPECT_EQ(c.inputLabels[15], QStringLiteral("STU-B"));
    EXPECT_EQ(c.inputLabels[16], QStringLiteral("Input 17")); // no source configured there
    EXPECT_EQ(c.inputLabels.size(), 32u);
    EXPECT_EQ(c.outputLabels[0], QStringLiteral("PGM"));
    EXPECT_EQ(c.outputLabels[15], QStringLiteral("EDIT"));
    EXPECT_EQ(c.outputLabels[16], QStringLiteral("Output 17"));
    // Routing as the controller has it; an unrouted output has no line.
    EXPECT_EQ(c.routing[2], 6);
    EXPECT_EQ(c.routing[15], 15);
    EXPECT_EQ(c.routing.count(3), 0u);
    EXPECT_EQ(c.routing.size(), 2u);
    // A lock the hub did not make is another's to everyone.
    EXPECT_EQ(c.locks[4], 'L');
    EXPECT_EQ(c.locks[0], 'U');
    EXPECT_EQ(c.locks.size(), 32u);
    EXPECT_EQ(c.configuration, QStringLiteral("Take Mode: false"));
    // A second client of the same listener is the same device.
    VideohubTestClient d;
    ASSERT_TRUE(d.connectTo(hub.port()));
    EXPECT_EQ(d.device["Unique ID"], c.device["Unique ID"]);
    EXPECT_EQ(d.routing, c.routing);
}

TEST(VideohubEndToEnd, route_becomesTheTakeAtTheControllerAndEveryOneOf50ClientsHearsItOnce)
{
    VideohubHub hub(kVideo);
    QString error;
    ASSERT_TRUE(hub.start(&error)) << qPrintable(error);
    hub.recordTakes();
    ASSERT_TRUE(hub.swept());
    std::vector<std::unique_ptr<VideohubTestClient>> clients;
    for (int i = 0; i < 50; ++i) {
        clients.push_back(std::make_unique<VideohubTestClient>());
        ASSERT_TRUE(clients.back()->connectTo(hub.port()));
    }
    VideohubTestClient &a = *clients[0];
    a.route(4, 8); // MON3 <- GFX1
    EXPECT_EQ(a.reply(), QStringLiteral("ACK"));
    for (auto &c : clients)
        EXPECT_TRUE(c->routedTo(4, 8));
    EXPECT_EQ(hub.takes, QStringList { QStringLiteral("H005009000000000") });
    // The confirming poll changes nothing, so nothing more is sent.
    hubtest::pumpFor(1500);
    for (auto &c : clients)
        EXPECT_EQ(c->routeUpdates, (std::vector<std::pair<int, int>> { { 4, 8 } }));
    // The journal names the protocol and the client.
    const auto entries = hub.h.hub.journal().list(0);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].origin.server, QStringLiteral("videohub"));
    EXPECT_EQ(entries[0].origin.address, QStringLiteral("127.0.0.1:%1").arg(a.socket.localPort()));
}

TEST(VideohubEndToEnd, refusedRoute_isNeverShown)
{
    VideohubHub hub(kVideo);
    QString error;
    ASSERT_TRUE(hub.start(&error)) << qPrintable(error);
    ASSERT_TRUE(hub.swept());
    VideohubTestClient a, b;
    ASSERT_TRUE(a.connectTo(hub.port()));
    ASSERT_TRUE(b.connectTo(hub.port()));
    // Locked at the controller behind the hub's back, before the hub has
    // read the table again: the hub lets the take go, the controller refuses it.
    hub.h.hub.lines().front()->requestLocks(0);
    ASSERT_TRUE(waitFor([&] { return hub.h.hub.state().locksReadAt(0) >= 0; }, 10000));
    EXPECT_EQ(hub.h.emu("lock 0 7 on").left(2), QByteArray("OK"));
    a.route(6, 2);
    EXPECT_EQ(a.reply(), QStringLiteral("ACK")); // well-formed, and not known to be locked
    ASSERT_TRUE(waitFor(
        [&] {
            const auto e = hub.h.hub.journal().list(0);
            return !e.empty() && e.back().state == EntryState::Refused;
        },
        10000));
    hubtest::pumpFor(300);
    a.pumpUntil([] { return false; }, 10);
    b.pumpUntil([] { return false; }, 10);
    EXPECT_TRUE(a.routeUpdates.empty());
    EXPECT_TRUE(b.routeUpdates.empty());
}

TEST(VideohubEndToEnd, panelAndVideohub_takesReachEachOther)
{
    VideohubHub hub(kVideo);
    QString error;
    ASSERT_TRUE(hub.start(&error)) << qPrintable(error);
    ASSERT_TRUE(hub.swept());
    VideohubTestClient v;
    ASSERT_TRUE(v.connectTo(hub.port()));
    hubtest::ScriptedPanel panel;
    ASSERT_TRUE(panel.connectTo(hub.h.port()));
    // A take from a panel, on the video level and an audio level.
    EXPECT_EQ(panel.ask(QStringLiteral("H002011011000000")), QStringLiteral("G"));
    EXPECT_TRUE(v.routedTo(1, 10));
    // And the reverse: the panel's status row shows the Videohub's route.
    v.route(2, 12);
    EXPECT_EQ(v.reply(), QStringLiteral("ACK"));
    ASSERT_TRUE(v.routedTo(2, 12));
    EXPECT_EQ(panel.ask(QStringLiteral("Y003")).mid(5, 3), QStringLiteral("013"));
    // A change at the router's own panel reaches the client with the sweep.
    EXPECT_EQ(hub.h.emu("route 0 1 9 3"), QByteArray("OK"));
    EXPECT_TRUE(v.routedTo(8, 2, 10000));
}

TEST(VideohubEndToEnd, locks_ownerSeesOOthersLUnlockAndForce)
{
    VideohubHub hub(kVideo + QStringLiteral("[videohub forcing]\nlevels = VIDEO\nport = 19992\nforce_unlock = true\n"));
    QString error;
    ASSERT_TRUE(hub.start(&error)) << qPrintable(error);
    hub.recordTakes();
    ASSERT_TRUE(hub.swept());
    VideohubTestClient a, b, f;
    ASSERT_TRUE(a.connectTo(hub.port(0)));
    ASSERT_TRUE(b.connectTo(hub.port(0)));
    ASSERT_TRUE(f.connectTo(hub.port(1)));

    a.lock(3, 'O');
    EXPECT_EQ(a.reply(), QStringLiteral("ACK"));
    EXPECT_TRUE(a.lockIs(3, 'O'));
    EXPECT_TRUE(b.lockIs(3, 'L'));
    EXPECT_TRUE(f.lockIs(3, 'L'));
    // Another client can neither route, lock, unlock nor (here) force it.
    b.route(3, 1);
    EXPECT_EQ(b.reply(), QStringLiteral("NAK"));
    b.lock(3, 'O');
    EXPECT_EQ(b.reply(), QStringLiteral("NAK"));
    b.lock(3, 'U');
    EXPECT_EQ(b.reply(), QStringLiteral("NAK"));
    b.lock(3, 'F');
    EXPECT_EQ(b.reply(), QStringLiteral("NAK"));
    // The holder routes through its own lock: unlock, take, lock again.
    a.route(3, 5);
    EXPECT_EQ(a.reply(), QStringLiteral("ACK"));
    EXPECT_TRUE(b.routedTo(3, 5));
    EXPECT_TRUE(a.lockIs(3, 'O'));
    EXPECT_TRUE(b.lockIs(3, 'L'));
    EXPECT_EQ(hub.takes, QStringList { QStringLiteral("H004006000000000") });
    // A listener that allows forcing opens it, and the journal says so.
    f.lock(3, 'F');
    EXPECT_EQ(f.reply(), QStringLiteral("ACK"));
    EXPECT_TRUE(a.lockIs(3, 'U'));
    EXPECT_TRUE(b.lockIs(3, 'U'));
    const auto entries = hub.h.hub.journal().list(0);
    ASSERT_FALSE(entries.empty());
    EXPECT_EQ(entries.back().kind, JournalEntry::Kind::Lock);
    EXPECT_TRUE(entries.back().note.contains(QStringLiteral("forced"))) << qPrintable(entries.back().note);
    // Now free, the other client may lock and unlock it.
    b.lock(3, 'O');
    EXPECT_EQ(b.reply(), QStringLiteral("ACK"));
    EXPECT_TRUE(b.lockIs(3, 'O'));
    EXPECT_TRUE(a.lockIs(3, 'L'));
    b.lock(3, 'U');
    EXPECT_EQ(b.reply(), QStringLiteral("ACK"));
    EXPECT_TRUE(a.lockIs(3, 'U'));
    EXPECT_EQ(hub.h.emu("dump"), QByteArray("END")); // no lock left at the controller
}

TEST(VideohubEndToEnd, nakCases_andQueriesAndPing)
{
    VideohubHub hub(kVideo);
    QString error;
    ASSERT_TRUE(hub.start(&error)) << qPrintable(error);
    VideohubTestClient c;
    ASSERT_TRUE(c.connectTo(hub.port()));
    const QByteArray naks[] = {
        "VIDEO OUTPUT ROUTING:\n32 0\n\n", // one past the last output
        "VIDEO OUTPUT ROUTING:\n0 32\n\n", // one past the last input
        "VIDEO OUTPUT ROUTING:\n0 1\nbanana\n\n", // one bad item refuses all
        "SERIAL PORT ROUTING:\n0 1\n\n", // a block this device has not
        "INPUT LABELS:\n0 New name\n\n", // labels belong to the configuration
        "CONFIGURATION:\nTake Mode: true\n\n",
    };
    for (const QByteArray &n : naks) {
        c.send(n);
        EXPECT_EQ(c.reply(), QStringLiteral("NAK")) << n.constData();
    }
    c.send("PING:\n\n");
    EXPECT_EQ(c.reply(), QStringLiteral("ACK"));
    // An empty block asks for that block as it is now.
    const int before = c.blocksSeen[QStringLiteral("OUTPUT LABELS:")];
    c.send("OUTPUT LABELS:\n\n");
    EXPECT_EQ(c.reply(), QStringLiteral("ACK"));
    EXPECT_TRUE(c.pumpUntil([&] { return c.blocksSeen[QStringLiteral("OUTPUT LABELS:")] == before + 1; }, 3000));
    EXPECT_EQ(c.outputLabels[1], QStringLiteral("PVW"));
    // Nothing of the refused blocks reached the line.
    EXPECT_TRUE(hub.h.hub.journal().list(0).empty());
}

TEST(VideohubEndToEnd, burstOf100Routes_allReachTheControllerInOrder)
{
    VideohubHub hub(kVideo);
    QString error;
    ASSERT_TRUE(hub.start(&error)) << qPrintable(error);
    hub.recordTakes();
    VideohubTestClient a, b;
    ASSERT_TRUE(a.connectTo(hub.port()));
    ASSERT_TRUE(b.connectTo(hub.port()));
    QByteArray burst;
    QStringList expected;
    for (int i = 0; i < 100; ++i) {
        const int out = i % 16;
        const int in = (i * 7) % 32;
        burst += "VIDEO OUTPUT ROUTING:\n" + QByteArray::number(out) + ' ' + QByteArray::number(in) + "\n\n";
        expected << QStringLiteral("H%1%2").arg(out + 1, 3, 10, QLatin1Char('0')).arg(in + 1, 3, 10, QLatin1Char('0'))
                + QStringLiteral("000000000");
    }
    a.send(burst); // one write: the server reads it all at once
    for (int i = 0; i < 100; ++i)
        ASSERT_EQ(a.reply(), QStringLiteral("ACK")) << i;
    ASSERT_TRUE(waitFor([&] { return hub.takes.size() >= 100; }, 60000)) << hub.takes.size();
    EXPECT_EQ(hub.takes, expected);
    // The last route of each output is what both clients end with.
    for (int i = 84; i < 100; ++i) {
        EXPECT_TRUE(b.routedTo(i % 16, (i * 7) % 32)) << i;
        EXPECT_TRUE(a.routedTo(i % 16, (i * 7) % 32)) << i;
    }
}

TEST(VideohubEndToEnd, levelsTakenTogether_oneRouteOnEveryLevel)
{
    VideohubHub hub(QStringLiteral("[videohub]\nlevels = VIDEO+AUD-L+AUD-R\nport = 19994\n"));
    QString error;
    ASSERT_TRUE(hub.start(&error)) << qPrintable(error);
    hub.recordTakes();
    ASSERT_TRUE(hub.swept());
    VideohubTestClient a;
    ASSERT_TRUE(a.connectTo(hub.port()));
    a.route(0, 4); // PGM <- VTR1 on video and both audio levels, TC left
    EXPECT_EQ(a.reply(), QStringLiteral("ACK"));
    EXPECT_TRUE(a.routedTo(0, 4));
    EXPECT_EQ(hub.takes, QStringList { QStringLiteral("H001005005005000") });
    // An input without a configured source cannot be taken on every level.
    a.route(0, 20);
    EXPECT_EQ(a.reply(), QStringLiteral("NAK"));
    // A lock covers the destination.
    a.lock(1, 'O');
    EXPECT_EQ(a.reply(), QStringLiteral("ACK"));
    EXPECT_TRUE(a.lockIs(1, 'O'));
}

TEST(VideohubEndToEnd, garbageAndOverLongLines_endOnlyThatClient)
{
    VideohubHub hub(kVideo);
    QString error;
    ASSERT_TRUE(hub.start(&error)) << qPrintable(error);
    VideohubTestClient good, binary, longLine, silent;
    ASSERT_TRUE(good.connectTo(hub.port()));
    ASSERT_TRUE(binary.connectTo(hub.port()));
    ASSERT_TRUE(longLine.connectTo(hub.port()));
    ASSERT_TRUE(silent.connectTo(hub.port()));
    silent.send("VIDEO OUTPUT ROUTING:\n1 "); // half a block, then nothing
    binary.send(QByteArray("\x16\x03\x01\x02\x00\x01\x00\x01\xfc\x03\x03", 11)); // a TLS hello
    longLine.send(QByteArray(5000, 'x'));
    EXPECT_TRUE(binary.closedByServer());
    EXPECT_TRUE(longLine.closedByServer());
    good.send("PING:\n\n");
    EXPECT_EQ(good.reply(), QStringLiteral("ACK"));
    EXPECT_EQ(hub.h.hub.videohubServers().front()->clientCount(), 2);
}

TEST(VideohubEndToEnd, clientThatStopsReading_isDroppedAndHoldsNoOneUp)
{
    VideohubHub hub(kVideo + QStringLiteral("output_buffer = 65536\nblock_rate = 100000\n"));
    QString error;
    ASSERT_TRUE(hub.start(&error)) << qPrintable(error);
    VideohubTestClient good;
    ASSERT_TRUE(good.connectTo(hub.port()));
    // A client that asks and asks and never reads the answers.
    QTcpSocket deaf;
    deaf.setReadBufferSize(1024);
    deaf.setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, 4096);
    deaf.connectToHost(QStringLiteral("127.0.0.1"), hub.port());
    ASSERT_TRUE(deaf.waitForConnected(3000));
    QByteArray asks;
    for (int i = 0; i < 200; ++i)
        asks += "INPUT LABELS:\n\n";
    QElapsedTimer t;
    t.start();
    while (deaf.state() == QAbstractSocket::ConnectedState && t.elapsed() < 20000) {
        deaf.write(asks);
        deaf.flush();
        // The other client is answered all along.
        good.send("PING:\n\n");
        ASSERT_EQ(good.reply(2000), QStringLiteral("ACK"));
    }
    EXPECT_TRUE(waitFor([&] { return hub.h.hub.videohubServers().front()->clientCount() == 1; }, 5000));
    good.route(1, 2);
    EXPECT_EQ(good.reply(), QStringLiteral("ACK"));
    EXPECT_TRUE(good.routedTo(1, 2));
}

TEST(VideohubEndToEnd, labelsIgnored_ackAndTheConfigurationsNamesBack)
{
    VideohubHub hub(kVideo + QStringLiteral("labels = ignore\n"));
    QString error;
    ASSERT_TRUE(hub.start(&error)) << qPrintable(error);
    VideohubTestClient c;
    ASSERT_TRUE(c.connectTo(hub.port()));
    c.send("OUTPUT LABELS:\n0 Not the name\n\n");
    EXPECT_EQ(c.reply(), QStringLiteral("ACK"));
    EXPECT_TRUE(c.pumpUntil([&] { return c.blocksSeen[QStringLiteral("OUTPUT LABELS:")] == 2; }, 3000));
    EXPECT_EQ(c.outputLabels[0], QStringLiteral("PGM"));
    EXPECT_EQ(c.blocksSeen[QStringLiteral("INPUT LABELS:")], 1); // only the block that was asked about
}

TEST(VideohubEndToEnd, offlineLine_routesAreRefusedNotAcknowledged)
{
    VideohubHub hub(kVideo, QStringLiteral("answer_timeout_ms = 300\n"));
    QString error;
    ASSERT_TRUE(hub.start(&error)) << qPrintable(error);
    VideohubTestClient c;
    ASSERT_TRUE(c.connectTo(hub.port()));
    EXPECT_EQ(hub.h.emu("fault silence 1000").left(2), QByteArray("OK"));
    ASSERT_TRUE(waitFor([&] { return !hub.h.line().online(); }, 10000));
    c.route(0, 1);
    EXPECT_EQ(c.reply(), QStringLiteral("NAK"));
    c.lock(0, 'O');
    EXPECT_EQ(c.reply(), QStringLiteral("NAK"));
    EXPECT_EQ(hub.h.emu("fault clear").left(2), QByteArray("OK"));
    ASSERT_TRUE(waitFor([&] { return hub.h.line().online(); }, 10000));
    c.route(0, 1);
    EXPECT_EQ(c.reply(), QStringLiteral("ACK"));
    EXPECT_TRUE(c.routedTo(0, 1));
}
