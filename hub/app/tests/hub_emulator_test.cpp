// The hub end to end: the real controller emulator program on a
// pseudo-terminal paced at 9600,N,8,2 behind the hub (its engine, comm
// control and link), many scripted panels in front of it over TCP.
#include "hubharness.h"
#include "scriptedpanel.h"
#include "ser2netserver.h"

#include <QElapsedTimer>
#include <QSignalSpy>

#include <gtest/gtest.h>

using namespace exel;
using namespace exel::hub;

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

} // namespace

TEST(HubEndToEnd, manyPanels_takesInOrderAndEachSeesTheOthers)
{
    hubtest::HubHarness h;
    ASSERT_TRUE(h.startEmulator());
    QString error;
    ASSERT_TRUE(h.startHub(&error)) << qPrintable(error);
    QStringList onWire;
    QObject::connect(&h.line(), &HubLine::commandRan, [&](const QString &text, const QString &) {
        if (text.startsWith(QLatin1Char('H')))
            onWire << text;
    });
    std::vector<std::unique_ptr<hubtest::ScriptedPanel>> panels;
    for (int i = 0; i < 12; ++i) {
        panels.push_back(std::make_unique<hubtest::ScriptedPanel>());
        ASSERT_TRUE(panels.back()->connectTo(h.port()));
    }
    hubtest::ScriptedPanel &a = *panels[0];
    hubtest::ScriptedPanel &b = *panels[1];
    // Every panel polls; the hub answers each from what it read.
    for (auto &p : panels)
        EXPECT_EQ(p->ask(QStringLiteral("Y003")).left(3), QStringLiteral("003"));
    // Takes from two panels in turn reach the controller in that order.
    QStringList sent;
    for (int i = 0; i < 4; ++i) {
        hubtest::ScriptedPanel &p = i % 2 == 0 ? a : b;
        const QString take
            = QStringLiteral("H%1%2%2%2%2").arg(i + 1, 3, 10, QLatin1Char('0')).arg(i + 5, 3, 10, QLatin1Char('0'));
        EXPECT_EQ(p.ask(take), QStringLiteral("G")) << qPrintable(take);
        sent << take;
    }
    EXPECT_EQ(onWire, sent);
    // Each panel's status rows show the other's takes at once.
    EXPECT_EQ(a.ask(QStringLiteral("Y002")), QStringLiteral("00200006006006006"));
    EXPECT_EQ(b.ask(QStringLiteral("Y001")), QStringLiteral("00100005005005005"));
    EXPECT_EQ(h.emu("dump").left(3), QByteArray("END")); // the control socket answers
    ASSERT_TRUE(waitFor(
        [&] {
            const auto entries = h.hub.journal().list(0);
            return entries.size() == 4 && std::all_of(entries.begin(), entries.end(), [](const JournalEntry &e) {
                return e.state == EntryState::Confirmed;
            });
        },
        5000));
    EXPECT_EQ(h.hub.journal().list(0).front().origin.address, QStringLiteral("127.0.0.1:%1").arg(a.socket.localPort()));
}

TEST(HubEndToEnd, routeChangedAtTheController_reachesClientsWithinOneSweep)
{
    hubtest::HubHarness h;
    ASSERT_TRUE(h.startEmulator());
    QString error;
    ASSERT_TRUE(h.startHub(&error)) << qPrintable(error);
    HubLine &line = h.line();
    ASSERT_TRUE(waitFor([&] { return line.sweepsDone() >= 1; }, 10000));
    hubtest::ScriptedPanel p;
    ASSERT_TRUE(p.connectTo(h.port()));
    // Output 12 is not watched by anyone: only the sweep brings the change.
    EXPECT_EQ(h.emu("route 0 2 12 9"), QByteArray("OK"));
    const int64_t sweepsAtChange = line.sweepsDone();
    ASSERT_TRUE(waitFor(
        [&] {
            const OutputStatus *s = h.hub.state().status(0, 12);
            return s && s->input.size() >= 2 && s->input[1] == 9;
        },
        10000));
    EXPECT_LE(line.sweepsDone() - sweepsAtChange, 1);
    EXPECT_EQ(p.ask(QStringLiteral("Y012")), QStringLiteral("01200000009000000"));
}

TEST(HubEndToEnd, silentController_clientsGoOfflineTakesFailAndBothComeBack)
{
    // Short answer waits, so the three silent time-outs come quickly.
    hubtest::HubHarness h(QStringLiteral("answer_timeout_ms = 300\n"));
    ASSERT_TRUE(h.startEmulator());
    QString error;
    ASSERT_TRUE(h.startHub(&error)) << qPrintable(error);
    hubtest::ScriptedPanel p;
    ASSERT_TRUE(p.connectTo(h.port()));
    ASSERT_FALSE(p.ask(QStringLiteral("Y001")).isEmpty());
    EXPECT_EQ(h.emu("fault silence 1000").left(2), QByteArray("OK"));
    ASSERT_TRUE(waitFor([&] { return !h.line().online(); }, 10000));
    p.send(QStringLiteral("Y001"));
    EXPECT_TRUE(p.answer(500).isEmpty()); // as on a dead line: the panel shows Offline
    p.send(QStringLiteral("H001002002002002"));
    EXPECT_TRUE(p.answer(500).isEmpty());
    EXPECT_EQ(h.emu("fault clear").left(2), QByteArray("OK"));
    ASSERT_TRUE(waitFor([&] { return h.line().online(); }, 10000));
    EXPECT_EQ(p.ask(QStringLiteral("H001003003003003")), QStringLiteral("G"));
    // Nothing was lost silently: the take during the silence failed, and says why.
    const auto entries = h.hub.journal().list(0);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].state, EntryState::Failed);
    EXPECT_EQ(entries[0].note, QStringLiteral("line offline"));
    EXPECT_TRUE(entries[1].state == EntryState::Acknowledged || entries[1].state == EntryState::Confirmed);
}

TEST(HubEndToEnd, hangUp_portReopensAndClientsAreServedAgain)
{
    hubtest::HubHarness h(QStringLiteral("answer_timeout_ms = 300\nreopen_seconds = 1\n"));
    ASSERT_TRUE(h.startEmulator());
    QString error;
    ASSERT_TRUE(h.startHub(&error)) << qPrintable(error);
    hubtest::ScriptedPanel p;
    ASSERT_TRUE(p.connectTo(h.port()));
    ASSERT_FALSE(p.ask(QStringLiteral("Y001")).isEmpty());
    EXPECT_FALSE(h.emu("hangup").startsWith("ERR"));
    ASSERT_TRUE(waitFor([&] { return !h.line().online(); }, 10000));
    EXPECT_FALSE(h.emu("reopen").startsWith("ERR"));
    ASSERT_TRUE(waitFor([&] { return h.line().online(); }, 15000));
    EXPECT_EQ(p.ask(QStringLiteral("H004002002002002")), QStringLiteral("G"));
}

TEST(HubEndToEnd, badChecksumsAndSlowAnswers_clientsGetNothingStaleAndRecover)
{
    hubtest::HubHarness h(QStringLiteral("answer_timeout_ms = 300\n"));
    h.ini.replace(QStringLiteral("[line]"), QStringLiteral("stale_seconds = 1\n[line]"));
    ASSERT_TRUE(h.startEmulator());
    QString error;
    ASSERT_TRUE(h.startHub(&error)) << qPrintable(error);
    hubtest::ScriptedPanel p;
    ASSERT_TRUE(p.connectTo(h.port()));
    ASSERT_FALSE(p.ask(QStringLiteral("Y005")).isEmpty());
    // Damaged answers are no answers: once the reading is stale the hub
    // answers nothing rather than an old reading.
    EXPECT_TRUE(h.emu("fault badsum 100000").startsWith("OK"));
    hubtest::pumpFor(1500);
    p.send(QStringLiteral("Y005"));
    EXPECT_TRUE(p.answer(1000).isEmpty());
    EXPECT_TRUE(h.emu("fault clear").startsWith("OK"));
    EXPECT_EQ(p.ask(QStringLiteral("Y005")).left(3), QStringLiteral("005"));
    // Answers slower than the wait count as silence: offline, then back.
    EXPECT_TRUE(h.emu("fault slow 100000").startsWith("OK"));
    ASSERT_TRUE(waitFor([&] { return !h.line().online(); }, 15000));
    EXPECT_TRUE(h.emu("fault clear").startsWith("OK"));
    ASSERT_TRUE(waitFor([&] { return h.line().online(); }, 15000));
    EXPECT_EQ(p.ask(QStringLiteral("Y005")).left(3), QStringLiteral("005"));
}

TEST(HubEndToEnd, throughSer2net_theLineIsANetworkSerialServer)
{
    if (exel::test::Ser2netServer::program().isEmpty())
        GTEST_SKIP() << "ser2net is not installed";
    hubtest::HubHarness h;
    ASSERT_TRUE(h.startEmulator());
    exel::test::Ser2netServer server(QString::fromLocal8Bit(h.emulator.path()), exel::test::Ser2netServer::Raw, false);
    const QString why = server.start();
    ASSERT_TRUE(why.isEmpty()) << qPrintable(why);
    server.writePortMap(1);
    QString error;
    const bool started = h.startHub(&error);
    exel::test::Ser2netServer::removePortMap();
    ASSERT_TRUE(started) << qPrintable(error);
    hubtest::ScriptedPanel p;
    ASSERT_TRUE(p.connectTo(h.port()));
    EXPECT_EQ(p.ask(QStringLiteral("H003007007007007")), QStringLiteral("G"));
    EXPECT_EQ(p.ask(QStringLiteral("Y003")), QStringLiteral("00300007007007007"));
}

TEST(HubEndToEnd, autoConfiguration_fromTheControllerThenServedToPanels)
{
    hubtest::HubHarness h;
    // The emulator still needs its router; the hub asks the controller for it.
    h.ini.replace(QStringLiteral("router = ") + h.router, QStringLiteral("router = auto"));
    ASSERT_TRUE(h.startEmulator());
    QString error;
    ASSERT_TRUE(h.startHub(&error)) << qPrintable(error);
    const StatandConfig &model = h.hub.state().model();
    EXPECT_EQ(model.levelCount(), 4);
    EXPECT_EQ(model.destinationCount(), 16);
    EXPECT_GE(h.hub.state().model().FindDestination(QStringLiteral("PGM")), 0);
    // A panel's own auto-configuration through the hub gets the same records.
    hubtest::ScriptedPanel p;
    ASSERT_TRUE(p.connectTo(h.port()));
    EXPECT_TRUE(p.ask(QStringLiteral("KQLEV")).startsWith(QStringLiteral("K*M*D*(LEV,VIDEO,1)")));
    EXPECT_EQ(p.ask(QStringLiteral("Y001")).left(3), QStringLiteral("001"));
}
