// The panel server over real loopback sockets, with a line whose link answers
// from the emulator's core: answers from state, polls first when the state
// does not know, takes through the queue and journal, the configuration
// queries, offline silence, and clients that misbehave.
#include "hubcore.h"
#include "hublog.h"
#include "hubtesting.h"
#include "panelserver.h"
#include "scriptedpanel.h"

#include <QDir>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

using namespace exel;
using namespace exel::hub;

namespace {

struct ServerFixture : ::testing::Test {
    ServerFixture()
    {
        hubtest::loadModel(model, hubtest::smallRouter());
        state = std::make_unique<RouterState>(model);
        port = std::make_unique<hubtest::EmulatorPort>(model);
        static int n = 0;
        const QString dir = exel::test::tempHome() + QStringLiteral("/server-journal-%1").arg(++n);
        QDir(dir).removeRecursively();
        journal.open(dir, {}, nullptr);
        LineOptions lo;
        lo.sweepPauseMs = 0;
        line = std::make_unique<HubLine>(QStringLiteral("main"), *port, *state, journal, clock, lo);
        hub = std::make_unique<HubCore>(*state, journal, clock);
        hub->addLine(line.get());
        oldSink = setLogSink([this](const QString &l) { log << l; });
    }
    ~ServerFixture() override
    {
        server.reset();
        setLogSink(oldSink);
    }
    PanelServer &start(PanelServerOptions o = {}, bool runLine = true)
    {
        if (runLine)
            line->start();
        o.port = 0;
        server = std::make_unique<PanelServer>(*hub, o);
        QString error;
        if (!server->listen(&error))
            ADD_FAILURE() << qPrintable(error);
        return *server;
    }

    StatandConfig model;
    std::unique_ptr<RouterState> state;
    std::unique_ptr<hubtest::EmulatorPort> port;
    Journal journal;
    FakeClock clock;
    std::unique_ptr<HubLine> line;
    std::unique_ptr<HubCore> hub;
    std::unique_ptr<PanelServer> server;
    QStringList log;
    LogSink oldSink;
};

} // namespace

TEST_F(ServerFixture, status_unknownIsPolledFirstThenAnsweredFromState)
{
    PanelServer &s = start({}, false); // the test steps the line itself
    port->emu.setCrosspoint(0, 1, 2, 3);
    hubtest::ScriptedPanel p;
    ASSERT_TRUE(p.connectTo(s.port()));
    // Nothing read yet: the question is carried to the controller first.
    p.send(QStringLiteral("Y002"));
    EXPECT_TRUE(p.answer(100).isEmpty());
    line->step();
    EXPECT_EQ(HublinkCheckAnswer(QString::fromLatin1(p.answer())).body, QStringLiteral("00200003000"));
    EXPECT_EQ(port->sent, (QStringList { "Y002" }));
    // Now from the state, without a question on the line.
    EXPECT_EQ(p.ask(QStringLiteral("Y002")), QStringLiteral("00200003000"));
    EXPECT_EQ(port->sent.size(), 1);
    // Out of the controller's range: refused as the controller would.
    EXPECT_EQ(p.ask(QStringLiteral("Y009")), QStringLiteral("E"));
    // A damaged request gets no answer; the next good one does.
    p.sendRaw("Y001>;\r\n");
    EXPECT_TRUE(p.answer(100).isEmpty());
    p.send(QStringLiteral("WS"));
    hubtest::pumpFor(50);
    line->step();
    EXPECT_EQ(HublinkCheckAnswer(QString::fromLatin1(p.answer())).body, QStringLiteral("00000000"));
    // Stale readings are read again before they are answered.
    clock.advance(hub->freshness().statusStaleMs + 1);
    port->emu.setCrosspoint(0, 1, 2, 4);
    p.send(QStringLiteral("Y002"));
    hubtest::pumpFor(50);
    line->step();
    EXPECT_EQ(HublinkCheckAnswer(QString::fromLatin1(p.answer())).body, QStringLiteral("00200004000"));
}

TEST_F(ServerFixture, take_goesThroughTheQueueAndIsJournaledWithItsOrigin)
{
    PanelServer &s = start();
    hubtest::ScriptedPanel a;
    hubtest::ScriptedPanel b;
    ASSERT_TRUE(a.connectTo(s.port()));
    ASSERT_TRUE(b.connectTo(s.port()));
    EXPECT_EQ(a.ask(QStringLiteral("Y001")).left(3), QStringLiteral("001"));
    EXPECT_EQ(a.ask(QStringLiteral("H001004004")), QStringLiteral("G"));
    EXPECT_EQ(port->emu.crosspoint(0, 2, 1), 4);
    // The other client sees the take in the state at once.
    EXPECT_EQ(b.ask(QStringLiteral("Y001")), QStringLiteral("00100004004"));
    port->emu.setLock(0, 1, true);
    EXPECT_EQ(b.ask(QStringLiteral("H001002002")), QStringLiteral("L"));
    hubtest::pumpFor(50);
    const auto entries = journal.list(0);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].state, EntryState::Confirmed);
    EXPECT_EQ(entries[0].origin.server, QStringLiteral("panel"));
    EXPECT_EQ(entries[0].origin.address, QStringLiteral("127.0.0.1:%1").arg(a.socket.localPort()));
    EXPECT_EQ(entries[1].state, EntryState::Refused);
    EXPECT_EQ(entries[1].reply, QStringLiteral("L"));
}

TEST_F(ServerFixture, configurationQueries_answerAsTheEmulatorDoes)
{
    PanelServer &s = start();
    hubtest::ScriptedPanel p;
    ASSERT_TRUE(p.connectTo(s.port()));
    XelEmulator reference(model);
    auto direct = [&](const QString &body) {
        const EmuReply r = reference.handleLine((body + HublinkChecksumChars(body)).toLatin1());
        return HublinkCheckAnswer(QString::fromLatin1(r.bytes)).body;
    };
    for (const char *cmd : { "KCI", "KQLEV", "KQ", "KQ", "KQDST", "KQ", "KQSRC", "KQRTY", "KQSTL" })
        EXPECT_EQ(p.ask(QString::fromLatin1(cmd)), direct(QString::fromLatin1(cmd))) << cmd;
    // QSR repeats this client's last answer.
    const QString last = p.ask(QStringLiteral("KCI"));
    EXPECT_EQ(p.ask(QStringLiteral("QSR")), last);
    EXPECT_TRUE(port->sent.filter(QStringLiteral("K")).isEmpty()); // none of it went on the line
}

TEST_F(ServerFixture, offlineController_getsNoAnswers)
{
    PanelServer &s = start();
    hubtest::ScriptedPanel p;
    ASSERT_TRUE(p.connectTo(s.port()));
    ASSERT_FALSE(p.ask(QStringLiteral("Y001")).isEmpty());
    port->fake.offline = true;
    line->step();
    ASSERT_FALSE(line->online());
    p.send(QStringLiteral("Y001"));
    EXPECT_TRUE(p.answer(300).isEmpty());
    p.send(QStringLiteral("H001002002"));
    EXPECT_TRUE(p.answer(300).isEmpty());
    // The take is journaled as failed, never lost without a trace.
    const auto entries = journal.list(0);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].state, EntryState::Failed);
    EXPECT_EQ(entries[0].note, QStringLiteral("line offline"));
}

TEST_F(ServerFixture, askedButNeverAnswered_givesUpAtTheDeadline)
{
    PanelServerOptions o;
    o.answerDeadlineMs = 1500;
    PanelServer &s = start(o, false); // the line is stuck: nothing it is asked comes back
    state->locksRead(0, std::vector<bool>(8, false), clock.nowMs());
    hubtest::ScriptedPanel p;
    ASSERT_TRUE(p.connectTo(s.port()));
    p.send(QStringLiteral("Y001"));
    p.send(QStringLiteral("WS"));
    EXPECT_TRUE(p.answer(200).isEmpty()); // the lock table waits behind the status question
    clock.advance(1400);
    s.housekeeping();
    EXPECT_TRUE(p.answer(100).isEmpty());
    // Past the deadline the client has timed out: no late answer to the
    // status question, and its next request is served.
    clock.advance(200);
    s.housekeeping();
    EXPECT_EQ(HublinkCheckAnswer(QString::fromLatin1(p.answer())).body, QStringLiteral("00000000"));
    line->step();
    EXPECT_TRUE(p.answer(100).isEmpty());
}

TEST_F(ServerFixture, misbehavingClients_areDroppedAndOthersKeepGoing)
{
    PanelServerOptions o;
    o.requestRate = 10;
    o.requestBurst = 20;
    PanelServer &s = start(o);
    hubtest::ScriptedPanel good;
    hubtest::ScriptedPanel longLine;
    hubtest::ScriptedPanel flood;
    hubtest::ScriptedPanel half;
    ASSERT_TRUE(good.connectTo(s.port()));
    ASSERT_TRUE(longLine.connectTo(s.port()));
    ASSERT_TRUE(flood.connectTo(s.port()));
    ASSERT_TRUE(half.connectTo(s.port()));
    ASSERT_TRUE(good.pumpUntil([&] { return s.clientCount() == 4; }, 3000));
    half.sendRaw("Y00"); // half a line, never finished
    longLine.sendRaw(QByteArray(2000, 'A'));
    QByteArray garbage;
    for (int i = 0; i < 40; ++i)
        garbage += "Z" + QByteArray::number(i) + "\r\n";
    flood.sendRaw(garbage);
    EXPECT_TRUE(longLine.closedByServer());
    EXPECT_TRUE(flood.closedByServer());
    EXPECT_FALSE(good.ask(QStringLiteral("Y003")).isEmpty());
    EXPECT_EQ(s.clientCount(), 2);
    const QString text = log.join(u'\n');
    EXPECT_TRUE(text.contains(QStringLiteral("a line longer than 512 characters")));
    EXPECT_TRUE(text.contains(QStringLiteral("flooding")));
}

TEST_F(ServerFixture, allowList_refusesOthers)
{
    PanelServerOptions o;
    ASSERT_TRUE(o.allow.parse(QStringLiteral("10.0.0.0/8")));
    PanelServer &s = start(o);
    hubtest::ScriptedPanel p;
    p.connectTo(s.port(), 300); // may already be closed again when it looks
    EXPECT_TRUE(p.closedByServer());
    EXPECT_TRUE(log.join(u'\n').contains(QStringLiteral("not in the allow-list")));
    EXPECT_EQ(s.clientCount(), 0);

    AllowList list;
    QString bad;
    EXPECT_FALSE(list.parse(QStringLiteral("127.0.0.1, bogus"), &bad));
    EXPECT_EQ(bad, QStringLiteral("bogus"));
    ASSERT_TRUE(list.parse(QStringLiteral("192.168.1.0/24, ::1")));
    EXPECT_TRUE(list.allows(QHostAddress(QStringLiteral("::ffff:192.168.1.7"))));
    EXPECT_FALSE(list.allows(QHostAddress(QStringLiteral("192.168.2.7"))));
    EXPECT_TRUE(list.allows(QHostAddress(QStringLiteral("::1"))));
}

TEST_F(ServerFixture, clientThatStopsReading_isDroppedWithoutHoldingUpOthers)
{
    PanelServerOptions o;
    o.requestRate = 1e6;
    o.requestBurst = 1e6;
    o.maxQueued = 100000;
    o.maxOutput = 2048;
    PanelServer &s = start(o);
    state->statusRead(0, 1, { 1, 1 }, { false, false }, clock.nowMs()); // answered from the state
    // A client with a tiny receive window that never reads what it is sent.
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    const int small = 1024;
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    sockaddr_in a {};
    a.sin_family = AF_INET;
    a.sin_port = htons(s.port());
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a), 0);
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    hubtest::ScriptedPanel good;
    ASSERT_TRUE(good.connectTo(s.port()));
    const QByteArray request = HublinkFrame(u"Y001").toLatin1();
    QByteArray burst;
    for (int i = 0; i < 500; ++i)
        burst += request;
    bool dropped = false;
    for (int round = 0; round < 200 && !dropped; ++round) {
        (void)!::write(fd, burst.constData(), static_cast<size_t>(burst.size()));
        // The other client is answered all along.
        ASSERT_EQ(good.ask(QStringLiteral("Y001"), 1000).left(3), QStringLiteral("001")) << round;
        dropped = log.join(u'\n').contains(QStringLiteral("not reading its answers"));
    }
    ::close(fd);
    EXPECT_TRUE(dropped);
    EXPECT_EQ(s.clientCount(), 1);
}

TEST_F(ServerFixture, fiftyPanels_allServed)
{
    PanelServer &s = start();
    std::vector<std::unique_ptr<hubtest::ScriptedPanel>> panels;
    for (int i = 0; i < 60; ++i) {
        panels.push_back(std::make_unique<hubtest::ScriptedPanel>());
        ASSERT_TRUE(panels.back()->connectTo(s.port()));
    }
    ASSERT_TRUE(panels.front()->pumpUntil([&] { return s.clientCount() == 60; }, 5000));
    // Every panel asks at once; every one is answered, each for its own output.
    for (size_t i = 0; i < panels.size(); ++i)
        panels[i]->send(QStringLiteral("Y%1").arg(i % 4 + 1, 3, 10, QLatin1Char('0')));
    for (size_t i = 0; i < panels.size(); ++i) {
        const QString body = HublinkCheckAnswer(QString::fromLatin1(panels[i]->answer())).body;
        EXPECT_EQ(body.left(3), QStringLiteral("%1").arg(i % 4 + 1, 3, 10, QLatin1Char('0'))) << i;
    }
}
