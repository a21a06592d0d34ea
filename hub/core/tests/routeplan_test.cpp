// Routes, locks and salvos by name, as the hub's servers submit them: what
// goes on the line for them, lock sets that read before they toggle, lock
// owners, and salvo files from the hub's folder.
#include "hubcore.h"
#include "hubsalvos.h"
#include "hubtesting.h"
#include "routeplan.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

using namespace exel;
using namespace exel::hub;

namespace {

struct RouteFixture : ::testing::Test {
    explicit RouteFixture(QStringList extra = {})
    {
        QStringList lines = hubtest::smallRouter();
        lines << extra;
        hubtest::loadModel(model, lines);
        state = std::make_unique<RouterState>(model);
        port = std::make_unique<hubtest::EmulatorPort>(model);
        static int n = 0;
        dir = exel::test::tempHome() + QStringLiteral("/route-%1").arg(++n);
        QDir(dir).removeRecursively();
        QDir().mkpath(dir + QStringLiteral("/salvos"));
        journal.open(dir, {}, nullptr);
        line = std::make_unique<HubLine>(QStringLiteral("main"), *port, *state, journal, clock, LineOptions {});
        hub = std::make_unique<HubCore>(*state, journal, clock);
        hub->addLine(line.get());
        hub->setSalvoFolder(dir + QStringLiteral("/salvos"));
    }
    void steps(int n)
    {
        for (int i = 0; i < n; ++i)
            line->step();
    }
    // Runs the line until the entry has its answer (and what was due before it).
    void until(int64_t id)
    {
        for (int i = 0; i < 20 && journal.find(id) && journal.find(id)->state <= EntryState::Sent; ++i)
            line->step();
    }
    std::vector<int16_t> sources(std::initializer_list<const char *> names) const
    {
        std::vector<int16_t> out;
        for (const char *n : names)
            out.push_back(static_cast<int16_t>(*n ? model.FindSource(QString::fromLatin1(n)) : -1));
        return out;
    }
    int dest(const char *name) const { return model.FindDestination(QString::fromLatin1(name)); }
    static Origin client(const char *address, const char *name = "")
    {
        return Origin { QStringLiteral("videohub"), QString::fromLatin1(address), QString::fromLatin1(name) };
    }

    StatandConfig model;
    std::unique_ptr<RouterState> state;
    std::unique_ptr<hubtest::EmulatorPort> port;
    QString dir;
    Journal journal;
    FakeClock clock;
    std::unique_ptr<HubLine> line;
    std::unique_ptr<HubCore> hub;
};

// MONX uses output 5 on VIDEO but output 6 on AUDIO; CAM9 is on VIDEO only.
struct SplitFixture : RouteFixture {
    SplitFixture()
        : RouteFixture({ QStringLiteral("DST,MONX,VIDEO,5"), QStringLiteral("DST,MONX,AUDIO,6"),
            QStringLiteral("SRC,CAM9,VIDEO,8") })
    {
    }
};

} // namespace

TEST_F(SplitFixture, plan_oneCommandPerControllerAndOutput_andWhatCannotGoIsNamed)
{
    // Both levels on one output: one command carrying both inputs.
    RoutePlan p = planRoute(model, dest("MON2"), sources({ "CAM3", "CAM4" }));
    ASSERT_EQ(p.takes.size(), 1u);
    EXPECT_EQ(p.takes[0].output, 2);
    EXPECT_EQ(p.takes[0].inputs, (std::vector<int16_t> { 3, 4 }));
    EXPECT_TRUE(p.problem.isEmpty());

    // A destination on two outputs: two commands, each leaving the other level.
    p = planRoute(model, dest("MONX"), sources({ "CAM1", "CAM2" }));
    ASSERT_EQ(p.takes.size(), 2u);
    EXPECT_EQ(p.takes[0].output, 5);
    EXPECT_EQ(p.takes[0].inputs, (std::vector<int16_t> { 1, 0 }));
    EXPECT_EQ(p.takes[1].output, 6);
    EXPECT_EQ(p.takes[1].inputs, (std::vector<int16_t> { 0, 2 }));

    // A source missing from one level: the other level still goes, the gap is said.
    p = planRoute(model, dest("MON1"), sources({ "CAM9", "CAM9" }));
    ASSERT_EQ(p.takes.size(), 1u);
    EXPECT_EQ(p.takes[0].inputs, (std::vector<int16_t> { 8, 0 }));
    EXPECT_EQ(p.problem, QStringLiteral("CAM9 is not on level AUDIO"));

    EXPECT_TRUE(planRoute(model, -1, sources({ "CAM1" })).takes.empty());
    EXPECT_TRUE(planRoute(model, dest("MON1"), {}).takes.empty());

    const auto outputs = destinationOutputs(model, dest("MONX"));
    EXPECT_EQ(outputs, (std::vector<std::pair<int16_t, int>> { { 0, 5 }, { 0, 6 } }));
}

TEST_F(SplitFixture, submitRoute_reachesTheControllerAsPlanned)
{
    const Submitted s = submitRoute(*hub, dest("MONX"), sources({ "CAM1", "CAM2" }), client("10.0.0.1:5"));
    EXPECT_EQ(s.ids.size(), 2u);
    steps(4);
    EXPECT_EQ(port->emu.crosspoint(0, 1, 5), 1);
    EXPECT_EQ(port->emu.crosspoint(0, 2, 6), 2);
    EXPECT_EQ(port->emu.crosspoint(0, 2, 5), 0);
    EXPECT_EQ(journal.find(s.ids[0])->origin.address, QStringLiteral("10.0.0.1:5"));
}

TEST_F(RouteFixture, lockSet_readsTheTableFirst_togglesOnlyWhenItDiffers_andKnowsItsOwner)
{
    const Origin a = client("10.0.0.1:5");
    const Origin b = client("10.0.0.2:7");
    // The table was never read: it is read before the toggle goes out.
    const int64_t lock = line->submitLock(0, 2, true, a);
    steps(1);
    EXPECT_EQ(port->sent, (QStringList { "WS", "LS002" }));
    EXPECT_TRUE(port->emu.locked(0, 2));
    ASSERT_NE(state->lockOwner(0, 2), nullptr);
    EXPECT_TRUE(state->lockOwner(0, 2)->sameClient(a));
    EXPECT_FALSE(state->lockOwner(0, 2)->sameClient(b));
    EXPECT_EQ(journal.find(lock)->summary, QStringLiteral("MON2 lock"));

    // Locking what is locked sends nothing and is settled at once.
    port->sent.clear();
    const int64_t again = line->submitLock(0, 2, true, b);
    until(again);
    EXPECT_FALSE(port->sent.contains(QStringLiteral("LS002")));
    EXPECT_EQ(journal.find(again)->state, EntryState::Confirmed);
    EXPECT_EQ(journal.find(again)->note, QStringLiteral("already locked"));
    EXPECT_TRUE(state->lockOwner(0, 2)->sameClient(a)); // still the first owner's

    // A forced release is journaled with the owner it overrode; the owner goes.
    const int64_t forced = line->submitLock(0, 2, false, b, {}, true);
    until(forced);
    EXPECT_FALSE(port->emu.locked(0, 2));
    EXPECT_EQ(state->lockOwner(0, 2), nullptr);
    EXPECT_TRUE(journal.find(forced)->note.startsWith(QStringLiteral("forced open: held by videohub 10.0.0.1:5")));

    // A lock set on the controller itself has no owner.
    port->emu.setLock(0, 3, true);
    clock.advance(5000);
    until(line->submitLock(0, 1, true, a));
    EXPECT_TRUE(state->locks(0)->at(2));
    EXPECT_EQ(state->lockOwner(0, 3), nullptr);
    // An owned lock seen free on a later read loses its owner.
    ASSERT_NE(state->lockOwner(0, 1), nullptr);
    port->emu.setLock(0, 1, false);
    bool read = false;
    line->requestLocks(0, [&](bool) { read = true; });
    for (int i = 0; i < 10 && !read; ++i)
        line->step();
    EXPECT_TRUE(read);
    EXPECT_EQ(state->lockOwner(0, 1), nullptr);
}

TEST_F(RouteFixture, lockSet_onADeadLineFailsWithoutToggling)
{
    port->silent = true;
    std::vector<JournalEntry> done;
    line->submitLock(0, 2, true, client("10.0.0.1:5"), [&](const JournalEntry &e) { done.push_back(e); });
    steps(1);
    ASSERT_EQ(done.size(), 1u);
    EXPECT_EQ(done[0].state, EntryState::Failed);
    EXPECT_FALSE(port->sent.contains(QStringLiteral("LS002")));
}

TEST_F(RouteFixture, salvo_onlyTheFolderSalvosAreRead_andFiredRouteByRoute)
{
    QFile f(hub->salvoFolder() + QStringLiteral("/Night.pre"));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("MON1,CAM2,VIDEO\r\nMON1,CAM3,AUDIO\r\nMON4,CAM1,AUDIO\r\nNOWHERE,CAM1,VIDEO\r\n");
    f.close();
    EXPECT_EQ(salvoNames(hub->salvoFolder()), QStringList { QStringLiteral("Night") });

    Salvo s;
    QString why;
    ASSERT_TRUE(loadSalvo(hub->salvoFolder(), QStringLiteral("Night"), model, s, &why)) << qPrintable(why);
    ASSERT_EQ(s.routes.size(), 2u);
    EXPECT_EQ(s.routes[0].destination, dest("MON1"));
    EXPECT_EQ(s.routes[1].sourcePerLevel, sources({ "", "CAM1" }));

    // A name from a client never becomes a path of its own.
    for (const char *bad : { "../Night", "Nope", "" })
        EXPECT_FALSE(loadSalvo(hub->salvoFolder(), QString::fromLatin1(bad), model, s, &why)) << bad;

    ASSERT_TRUE(loadSalvo(hub->salvoFolder(), QStringLiteral("Night"), model, s, &why));
    const Submitted fired = fireSalvo(*hub, s, client("10.0.0.1:5"));
    EXPECT_EQ(fired.ids.size(), 2u);
    steps(4);
    EXPECT_EQ(port->emu.crosspoint(0, 1, 1), 2);
    EXPECT_EQ(port->emu.crosspoint(0, 2, 1), 3);
    EXPECT_EQ(port->emu.crosspoint(0, 2, 4), 1);
    EXPECT_EQ(port->emu.crosspoint(0, 1, 4), 0);
}
