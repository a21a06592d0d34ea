// Status polling: questions asked per controller and output, the fold of the
// answers into the model, the lock table, and the cursors of one Timer1 tick.
#include "fakehublink.h"
#include "statuspoller.h"

#include <gtest/gtest.h>

using namespace exel;
using exel::testing::FakeHublink;
using Kind = FakeHublink::Kind;

namespace {

// Controller 1 with three levels and controller 2 with one. MON1 sits on the
// same output of VID and AUD1, another output on AUD2, and on controller 2.
struct TwoControllers {
    StatandConfig m;
    int vid, aud1, aud2, tc, cam1, cam2, vtr, mon1, mon2;

    TwoControllers()
    {
        m.SizeForLoad(SystemCounts { 4, 3, 2, 0 });
        m.AddController({ "MAIN", 1, 3 });
        m.AddController({ "TC", 2, 1 });
        vid = m.FillLevelSlot({ "VID", 1, 0, 8, 8 });
        aud1 = m.FillLevelSlot({ "AUD1", 1, 1, 8, 8 });
        aud2 = m.FillLevelSlot({ "AUD2", 1, 2, 8, 8 });
        tc = m.FillLevelSlot({ "TC", 2, 0, 8, 8 });
        cam1 = m.TakeSourceSlot("CAM1");
        cam2 = m.TakeSourceSlot("CAM2");
        vtr = m.TakeSourceSlot("VTR");
        for (int l : { vid, aud1, aud2, tc }) {
            m.SetSourceNumber(cam1, l, 0);
            m.SetSourceNumber(cam2, l, 1);
        }
        m.SetSourceNumber(vtr, vid, 5);
        mon1 = m.TakeDestinationSlot("MON1");
        mon2 = m.TakeDestinationSlot("MON2");
        m.SetDestinationNumber(mon1, vid, 3);
        m.SetDestinationNumber(mon1, aud1, 3);
        m.SetDestinationNumber(mon1, aud2, 4);
        m.SetDestinationNumber(mon1, tc, 3);
        m.SetDestinationNumber(mon2, vid, 6);
        m.SizeStatusTables();
    }
};

std::vector<ListEntry> entries(int n)
{
    std::vector<ListEntry> out;
    for (int i = 0; i < n; ++i)
        out.push_back(ListEntry { static_cast<int16_t>(i), false });
    return out;
}

std::vector<int> polledOutputs(const FakeHublink &link)
{
    std::vector<int> out;
    for (const auto &c : link.callsOf(Kind::Y))
        out.push_back(c.dst);
    return out;
}

} // namespace

TEST(PollDestination, asksOncePerControllerAndOutput)
{
    TwoControllers s;
    FakeHublink link;
    StatusPoller p(s.m, link);
    p.PollDestination(s.mon1);
    const auto ys = link.callsOf(Kind::Y);
    ASSERT_EQ(ys.size(), 3u); // VID+AUD1 on output 3, AUD2 on output 4, TC on controller 2
    EXPECT_EQ(ys[0].id, 1);
    EXPECT_EQ(ys[0].dst, 3);
    EXPECT_EQ(ys[1].id, 1);
    EXPECT_EQ(ys[1].dst, 4);
    EXPECT_EQ(ys[2].id, 2);
    EXPECT_EQ(ys[2].dst, 3);
}

TEST(PollDestination, foldsEveryEntryOfTheAnswer)
{
    TwoControllers s;
    FakeHublink link;
    link.setReportedLevels(1, 3);
    link.setCrosspoint(1, 3, 0, 1); // VID: CAM2
    link.setCrosspoint(1, 3, 1, 0, true); // AUD1: CAM1, flagged
    StatusPoller p(s.m, link);
    p.PollDestination(s.mon1);
    EXPECT_EQ(s.m.Status(s.vid, s.mon1).source, s.cam2);
    EXPECT_EQ(s.m.Status(s.vid, s.mon1).flag, 0);
    EXPECT_EQ(s.m.Status(s.aud1, s.mon1).source, s.cam1);
    EXPECT_NE(s.m.Status(s.aud1, s.mon1).flag, 0);
    // The answer for output 3 says nothing of AUD2, which MON1 has on output 4.
    EXPECT_EQ(s.m.Status(s.aud2, s.mon1).source, -1);
    EXPECT_TRUE(p.repaintRequested());
}

TEST(PollDestination, skipsWhatTheModelDoesNotKnow)
{
    TwoControllers s;
    FakeHublink link;
    link.setReportedLevels(1, 6); // more controller levels than the panel has
    link.setCrosspoint(1, 6, 0, 7); // output 6 on VID is MON2, input 7 no source
    link.setCrosspoint(1, 6, 1, 0); // output 6 on AUD1: no destination
    link.setCrosspoint(1, 6, 5, 0); // controller level 5: no panel level
    StatusPoller p(s.m, link);
    p.PollDestination(s.mon2);
    EXPECT_EQ(s.m.Status(s.vid, s.mon2).source, -1);
    EXPECT_EQ(s.m.Status(s.aud1, s.mon1).source, -1);
    EXPECT_FALSE(p.repaintRequested());
}

TEST(PollDestination, reportedInputReplacesOrClearsAKnownSource)
{
    TwoControllers s;
    FakeHublink link;
    link.setReportedLevels(1, 1);
    StatusPoller p(s.m, link);
    s.m.SetStatus(s.vid, s.mon1, { 0, static_cast<int16_t>(s.cam1) });

    link.setCrosspoint(1, 3, 0, 5); // VTR
    p.PollDestination(s.mon1);
    EXPECT_EQ(s.m.Status(s.vid, s.mon1).source, s.vtr);

    link.setCrosspoint(1, 3, 0, 6); // an input no source of the model has
    p.PollDestination(s.mon1);
    EXPECT_EQ(s.m.Status(s.vid, s.mon1).source, -1);
}

TEST(PollDestination, unchangedAnswerRequestsNoRepaint)
{
    TwoControllers s;
    FakeHublink link;
    link.setReportedLevels(1, 1);
    link.setCrosspoint(1, 3, 0, 0);
    StatusPoller p(s.m, link);
    p.PollDestination(s.mon1);
    ASSERT_TRUE(p.repaintRequested());
    StatusPoller p2(s.m, link);
    p2.PollDestination(s.mon1);
    EXPECT_FALSE(p2.repaintRequested());
}

TEST(PollDestination, simulatorAndInvalidIndexAskNothing)
{
    TwoControllers s;
    FakeHublink link;
    StatusPoller p(s.m, link);
    p.PollDestination(-1);
    p.PollDestination(s.m.destinationCount());
    s.m.setSimulator(true);
    p.PollDestination(s.mon1);
    EXPECT_TRUE(link.calls().empty());
}

TEST(PollLocks, lockedWhenAnyLevelsOutputIsLocked)
{
    TwoControllers s;
    FakeHublink link;
    link.setLocks(1, { false, false, false, false, true }); // output 4: MON1 on AUD2
    StatusPoller p(s.m, link);
    p.PollLocks();
    EXPECT_EQ(link.count(Kind::W), 2);
    EXPECT_TRUE(s.m.Locked(s.mon1));
    EXPECT_FALSE(s.m.Locked(s.mon2)); // output 6 is past the reply: unlocked
    EXPECT_TRUE(p.repaintRequested());

    link.setLocks(1, {});
    p.PollLocks();
    EXPECT_FALSE(s.m.Locked(s.mon1));
}

TEST(PollLocks, neverAskedInLocalLockOrSimulatorMode)
{
    TwoControllers s;
    FakeHublink link;
    link.setLocks(1, { true, true, true, true, true, true, true });
    StatusPoller p(s.m, link);
    s.m.SetLocked(s.mon2, true);
    p.setLocalLock(true);
    p.PollLocks();
    s.m.setSimulator(true);
    p.setLocalLock(false);
    p.PollLocks();
    EXPECT_EQ(link.count(Kind::W), 0);
    EXPECT_FALSE(s.m.Locked(s.mon1));
    EXPECT_TRUE(s.m.Locked(s.mon2)); // the panel's own lock stays
}

TEST(Timer1Tick, locksAreReadOnEveryThirdTick)
{
    StatandConfig m;
    m.BuildDefaultSystem();
    FakeHublink link;
    StatusPoller p(m, link);
    p.TurnOnTimer();
    std::vector<int> wAfterTick;
    for (int t = 0; t < 7; ++t) {
        p.Timer1_Timer(entries(16), 0);
        wAfterTick.push_back(link.count(Kind::W));
    }
    EXPECT_EQ(wAfterTick, (std::vector<int> { 0, 0, 1, 1, 1, 2, 2 }));
}

TEST(Timer1Tick, sixRowsThenOneBackgroundDestinationSkippingTheRows)
{
    StatandConfig m;
    m.BuildDefaultSystem(); // destination j answers on output j
    FakeHublink link;
    StatusPoller p(m, link);
    p.TurnOnTimer();
    const auto list = entries(10);
    std::vector<int> background;
    for (int t = 0; t < 6; ++t) {
        link.clearCalls();
        p.Timer1_Timer(list, 2);
        const auto polled = polledOutputs(link);
        ASSERT_EQ(polled.size(), 7u);
        EXPECT_EQ(std::vector<int>(polled.begin(), polled.begin() + 6), (std::vector<int> { 2, 3, 4, 5, 6, 7 }));
        background.push_back(polled.back());
    }
    // 0 and 1 lie above the rows; 2 jumps past them to 8; after 9 it wraps to 0.
    EXPECT_EQ(background, (std::vector<int> { 0, 1, 8, 9, 0, 1 }));
}

TEST(Timer1Tick, shortListPollsEveryRowAndRestartsTheBackground)
{
    StatandConfig m;
    m.BuildDefaultSystem();
    FakeHublink link;
    StatusPoller p(m, link);
    p.TurnOnTimer();
    for (int t = 0; t < 3; ++t) {
        link.clearCalls();
        p.Timer1_Timer(entries(3), 0);
        EXPECT_EQ(polledOutputs(link), (std::vector<int> { 0, 1, 2, 0 }));
    }
}

TEST(Timer1Tick, offlineStopsTheRowsAndSlowsTheTimer)
{
    StatandConfig m;
    m.BuildDefaultSystem();
    FakeHublink link;
    bool dropped = false;
    link.afterCall = [&](const FakeHublink::Call &c) {
        if (!dropped && c.kind == Kind::Y && link.count(Kind::Y) == 2)
            dropped = link.offline = true;
    };
    StatusPoller p(m, link);
    p.TurnOnTimer();
    const auto r = p.Timer1_Timer(entries(16), 0);
    EXPECT_EQ(polledOutputs(link), (std::vector<int> { 0, 1 }));
    EXPECT_EQ(r.interval, 2000);
    EXPECT_EQ(p.pollCursor(), 2); // the next tick goes on from the third row

    link.offline = false;
    link.clearCalls();
    EXPECT_EQ(p.Timer1_Timer(entries(16), 0).interval, 500);
    EXPECT_EQ(polledOutputs(link), (std::vector<int> { 2, 3, 4, 5, 0, 1, 6 }));
}

TEST(Timer1Tick, noWorkWhenBusyDisconnectedSimulatorOrEmpty)
{
    StatandConfig m;
    m.BuildDefaultSystem();
    FakeHublink link;
    StatusPoller p(m, link);
    p.TurnOnTimer();
    link.busy = true;
    EXPECT_FALSE(p.Timer1_Timer(entries(4), 0).polled);
    link.busy = false;
    link.connected = false;
    EXPECT_FALSE(p.Timer1_Timer(entries(4), 0).polled);
    link.connected = true;
    EXPECT_FALSE(p.Timer1_Timer({}, 0).polled);
    m.setSimulator(true);
    EXPECT_FALSE(p.Timer1_Timer(entries(4), 0).polled);
    EXPECT_TRUE(link.calls().empty());
    EXPECT_EQ(p.tickCounter(), 0);
}

TEST(Timer1Tick, repaintIsReportedOnceAndCleared)
{
    StatandConfig m;
    m.BuildDefaultSystem();
    FakeHublink link;
    link.setReportedLevels(0, 4);
    link.setCrosspoint(0, 1, 2, 5);
    StatusPoller p(m, link);
    p.TurnOnTimer();
    EXPECT_TRUE(p.Timer1_Timer(entries(3), 0).repaint);
    EXPECT_EQ(m.Status(2, 1).source, 5);
    EXPECT_FALSE(p.repaintRequested());
    EXPECT_FALSE(p.Timer1_Timer(entries(3), 0).repaint);
}

TEST(Timer1Tick, staleStatusOffsetNeverIndexesPastTheList)
{
    StatandConfig m;
    m.BuildDefaultSystem();
    FakeHublink link;
    StatusPoller p(m, link);
    p.TurnOnTimer();
    p.Timer1_Timer(entries(4), 30);
    EXPECT_EQ(polledOutputs(link), (std::vector<int> { 0, 1, 2, 3, 0 }));
}

TEST(TimerBracket, turnOffRefusedInsideATickAndTurnOnResetsCursors)
{
    StatandConfig m;
    m.BuildDefaultSystem();
    FakeHublink link;
    StatusPoller p(m, link);
    p.TurnOnTimer();
    bool refused = false;
    link.afterCall = [&](const FakeHublink::Call &) { refused = refused || !p.TurnOffTimer(); };
    p.Timer1_Timer(entries(10), 0);
    EXPECT_TRUE(refused);
    EXPECT_TRUE(p.timerEnabled());
    link.afterCall = nullptr;
    p.Timer1_Timer(entries(10), 0);
    EXPECT_GT(p.backgroundCursor(), 0);
    EXPECT_TRUE(p.TurnOffTimer());
    EXPECT_FALSE(p.timerEnabled());
    p.TurnOnTimer();
    EXPECT_TRUE(p.timerEnabled());
    EXPECT_EQ(p.tickCounter(), 0);
    EXPECT_EQ(p.pollCursor(), 0);
    EXPECT_EQ(p.backgroundCursor(), 0);
}
