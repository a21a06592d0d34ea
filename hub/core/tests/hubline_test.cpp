// The controller line: order of work, the take and lock lifecycle in the
// journal, offline and closed ports, re-entry from inside a command, and the
// shares of the line, against the emulator's answers.
#include "hubline.h"
#include "hublog.h"
#include "hubtesting.h"

#include <QDir>

#include <gtest/gtest.h>

using namespace exel;
using namespace exel::hub;

namespace {

struct LineFixture : ::testing::Test {
    LineFixture()
    {
        hubtest::loadModel(model, hubtest::smallRouter());
        state = std::make_unique<RouterState>(model);
        port = std::make_unique<hubtest::EmulatorPort>(model);
        static int n = 0;
        const QString dir = exel::test::tempHome() + QStringLiteral("/line-journal-%1").arg(++n);
        QDir(dir).removeRecursively();
        journal.open(dir, {}, nullptr);
        oldSink = setLogSink([this](const QString &l) { log << l; });
    }
    ~LineFixture() override { setLogSink(oldSink); }

    HubLine &line(LineOptions o = {})
    {
        if (!m_line)
            m_line = std::make_unique<HubLine>(QStringLiteral("main"), *port, *state, journal, clock, o);
        return *m_line;
    }
    void steps(int n)
    {
        for (int i = 0; i < n; ++i)
            line().step();
    }
    QStringList kinds() const
    {
        QStringList out;
        for (const QString &c : port->sent)
            out << c.left(c.startsWith(QLatin1String("LS")) || c.startsWith(QLatin1String("WS")) ? 2 : 1);
        return out;
    }
    Origin who() const { return Origin { QStringLiteral("panel"), QStringLiteral("127.0.0.1:1"), QString() }; }

    StatandConfig model;
    std::unique_ptr<RouterState> state;
    std::unique_ptr<hubtest::EmulatorPort> port;
    Journal journal;
    FakeClock clock;
    QStringList log;
    LogSink oldSink;
    std::unique_ptr<HubLine> m_line;
};

} // namespace

TEST_F(LineFixture, sweep_readsEveryOutputOnceInOrder)
{
    LineOptions o;
    o.lockShare = 0; // no lock tables in the way
    HubLine &l = line(o);
    ASSERT_EQ(l.sweepOrder().size(), 4u); // MON1..MON4 on two levels: one question each
    port->emu.setCrosspoint(0, 1, 3, 2);
    port->emu.setCrosspoint(0, 2, 3, 4);
    steps(4);
    EXPECT_EQ(port->sent, (QStringList { "Y001", "Y002", "Y003", "Y004" }));
    EXPECT_EQ(l.sweepsDone(), 1);
    EXPECT_EQ(state->status(0, 3)->input, (std::vector<int16_t> { 2, 4 }));
    EXPECT_EQ(state->status(0, 3)->readAt, clock.nowMs());
}

TEST_F(LineFixture, take_isAcknowledgedThenConfirmedByTheNextPoll)
{
    HubLine &l = line();
    steps(6); // the state knows the router
    port->sent.clear();
    std::vector<JournalEntry> done;
    const int64_t id
        = l.submitTake(TakeRequest { 0, 2, { 3, 3 } }, who(), [&](const JournalEntry &e) { done.push_back(e); });
    EXPECT_EQ(journal.find(id)->state, EntryState::Queued);
    steps(1);
    ASSERT_EQ(done.size(), 1u);
    EXPECT_EQ(done[0].state, EntryState::Acknowledged);
    EXPECT_EQ(done[0].reply, QStringLiteral("G"));
    EXPECT_EQ(done[0].previous, (std::vector<int16_t> { 0, 0 }));
    EXPECT_EQ(port->emu.crosspoint(0, 1, 2), 3);
    EXPECT_EQ(state->status(0, 2)->input, (std::vector<int16_t> { 3, 3 })); // at once
    steps(1); // the confirming poll comes before anything else
    EXPECT_EQ(port->sent, (QStringList { "H002003003", "Y002" }));
    const JournalEntry e = *journal.find(id);
    EXPECT_EQ(e.state, EntryState::Confirmed);
    EXPECT_EQ(e.summary, QStringLiteral("MON2 <- CAM3/VIDEO, CAM3/AUDIO"));
    EXPECT_GT(e.settledAt, 0);
}

TEST_F(LineFixture, take_contradictedRefusedAndFailed)
{
    HubLine &l = line();
    steps(6);
    // Someone else routes the output between the acknowledgement and the poll.
    port->afterSend = [&] {
        if (port->sent.last().startsWith(QLatin1Char('H')))
            port->emu.setCrosspoint(0, 1, 1, 4);
    };
    const int64_t contradicted = l.submitTake(TakeRequest { 0, 1, { 2, 0 } }, who());
    steps(2);
    port->afterSend = {};
    EXPECT_EQ(journal.find(contradicted)->state, EntryState::Contradicted);
    EXPECT_TRUE(journal.find(contradicted)->note.contains(QStringLiteral("level 1 shows input 4")));

    port->emu.setLock(0, 3, true);
    QString reply;
    const int64_t refused
        = l.submitTake(TakeRequest { 0, 3, { 1, 1 } }, who(), [&](const JournalEntry &e) { reply = e.reply; });
    steps(1);
    EXPECT_EQ(journal.find(refused)->state, EntryState::Refused);
    EXPECT_EQ(reply, QStringLiteral("L"));
    EXPECT_EQ(port->emu.crosspoint(0, 1, 3), 0);

    port->silent = true;
    bool called = false;
    const int64_t failed
        = l.submitTake(TakeRequest { 0, 4, { 1, 1 } }, who(), [&](const JournalEntry &) { called = true; });
    steps(1);
    EXPECT_TRUE(called); // the client hears of it: never lost silently
    EXPECT_EQ(journal.find(failed)->state, EntryState::Failed);
    EXPECT_EQ(journal.find(failed)->note, QStringLiteral("no answer from the controller"));
}

TEST_F(LineFixture, offlineLine_failsTakesAtOnceWithoutSending)
{
    HubLine &l = line();
    port->fake.offline = true;
    steps(1); // a poll notices the line is offline
    EXPECT_FALSE(l.online());
    EXPECT_FALSE(state->lineOnline(QStringLiteral("main")));
    port->sent.clear();
    JournalEntry got;
    l.submitTake(TakeRequest { 0, 1, { 2, 2 } }, who(), [&](const JournalEntry &e) { got = e; });
    EXPECT_EQ(got.state, EntryState::Failed);
    EXPECT_EQ(got.note, QStringLiteral("line offline"));
    EXPECT_EQ(journal.find(got.id)->state, EntryState::Failed);
    steps(1);
    EXPECT_FALSE(port->sent.join(u' ').contains(QLatin1Char('H')));
    port->fake.offline = false;
    steps(1);
    EXPECT_TRUE(l.online());
    EXPECT_TRUE(log.join(u'\n').contains(QStringLiteral("line main: offline")));
    EXPECT_TRUE(log.join(u'\n').contains(QStringLiteral("line main: online")));
}

TEST_F(LineFixture, work_order_commandsConfirmsAskedWatchedThenSweep)
{
    LineOptions o;
    o.lockShare = 0;
    HubLine &l = line(o);
    steps(4); // one sweep
    port->sent.clear();
    l.watch(0, 4);
    l.requestStatus(0, 3);
    l.submitTake(TakeRequest { 0, 1, { 2, 2 } }, who());
    l.submitTake(TakeRequest { 0, 2, { 1, 1 } }, who());
    clock.advance(1000); // the watched output is due again
    steps(6);
    // Each take's confirmation follows it; then what a client waits for, then
    // what it watches.
    EXPECT_EQ(port->sent, (QStringList { "H001002002", "Y001", "H002001001", "Y002", "Y003", "Y004" }));
}

TEST_F(LineFixture, reentry_aClientSubmittingDuringACommandWaitsForTheNext)
{
    HubLine &l = line();
    int nested = 0;
    // Events a wait lets through land here: a take arrives, and the line is
    // asked to step again while the first command is still on it.
    port->afterSend = [&] {
        if (nested++ == 0) {
            l.submitTake(TakeRequest { 0, 1, { 3, 3 } }, who());
            EXPECT_FALSE(l.step());
        }
    };
    steps(1);
    EXPECT_EQ(port->sent.size(), 1);
    port->afterSend = {};
    steps(1);
    EXPECT_EQ(port->sent.last(), QStringLiteral("H001003003"));
}

TEST_F(LineFixture, closedPort_failsQueuedAndReopensAtItsPace)
{
    LineOptions o;
    o.reopenMs = 5000;
    HubLine &l = line(o);
    const int64_t id = l.submitTake(TakeRequest { 0, 1, { 2, 2 } }, who());
    port->open = false;
    port->openOnReopen = false;
    steps(1);
    EXPECT_EQ(journal.find(id)->state, EntryState::Failed);
    EXPECT_EQ(port->reopens, 1);
    steps(3);
    EXPECT_EQ(port->reopens, 1);
    clock.advance(5000);
    port->openOnReopen = true;
    steps(1);
    EXPECT_EQ(port->reopens, 2);
    EXPECT_TRUE(l.online());
    EXPECT_TRUE(port->sent.isEmpty());
}

TEST_F(LineFixture, lockToggle_confirmedByTheLockTable)
{
    HubLine &l = line();
    steps(6); // lock table read on the way
    ASSERT_GE(state->locksReadAt(0), 0);
    const int64_t id = l.submitLockToggle(0, 2, who());
    steps(1);
    EXPECT_TRUE(port->emu.locked(0, 2));
    EXPECT_TRUE(state->locks(0)->at(1));
    steps(1);
    EXPECT_EQ(port->sent.last(), QStringLiteral("WS"));
    EXPECT_EQ(journal.find(id)->state, EntryState::Confirmed);
    EXPECT_EQ(journal.find(id)->previous, (std::vector<int16_t> { 0 }));
}

TEST_F(LineFixture, lockTables_stayWithinTheirShareOfTheLine)
{
    LineOptions o;
    o.lockShare = 0.1;
    o.lockRefreshMs = 0;
    HubLine &l = line(o);
    steps(400);
    int lockChars = 0;
    int allChars = 0;
    for (const QString &c : port->sent) {
        // question + checksum + CR LF, and its answer
        const int q = static_cast<int>(c.size()) + 4;
        const int a = c == QLatin1String("WS") ? 8 + 4 : 3 + 2 + 6 + 4;
        allChars += q + a;
        if (c == QLatin1String("WS"))
            lockChars += q + a;
    }
    EXPECT_GT(lockChars, 0);
    EXPECT_LE(lockChars, allChars * 0.11);
    EXPECT_EQ(l.wireChars(), allChars);
}

TEST_F(LineFixture, burstOfTakes_eachConfirmedByThePollAfterIt)
{
    // Panels that take again as soon as they are answered keep the queue
    // full; the confirming polls must still come, one after each take.
    HubLine &l = line();
    steps(6);
    port->sent.clear();
    for (int i = 1; i <= 4; ++i)
        l.submitTake(TakeRequest { 0, i, { static_cast<int16_t>(i), static_cast<int16_t>(i) } }, who());
    steps(8);
    EXPECT_EQ(port->sent,
        (QStringList { "H001001001", "Y001", "H002002002", "Y002", "H003003003", "Y003", "H004004004", "Y004" }));
    for (const JournalEntry &e : journal.list(0))
        EXPECT_EQ(e.state, EntryState::Confirmed) << e.id;
}
