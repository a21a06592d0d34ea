// Takes and locks against the scripted link: which commands go out, in what
// order, what the model shows at once, and the busy, simulator and local-lock
// rules.
#include "fakehublink.h"
#include "keybanks.h"
#include "takeandlocks.h"
#include "testsystems.h"

#include <gtest/gtest.h>

using namespace exel;
using namespace exel::keystest;
using exel::testing::FakeHublink;
using Kind = FakeHublink::Kind;

namespace {

// Records the bracket around each action next to the link's calls.
struct RecordingGate : PollingGate {
    FakeHublink &link;
    std::vector<std::string> log;
    explicit RecordingGate(FakeHublink &l)
        : link(l)
    {
    }
    bool TurnOffTimer() override
    {
        log.push_back("off@" + std::to_string(link.calls().size()));
        return true;
    }
    void TurnOnTimer() override { log.push_back("on@" + std::to_string(link.calls().size())); }
};

struct Panel {
    House h;
    FakeHublink link;
    KeyBanks banks { h.m };
    RecordingGate gate { link };
    TakeAndLocks ops { h.m, link, banks, &gate };

    Panel() { banks.LoadSystem(0); }
};

std::vector<int16_t> v(std::initializer_list<int16_t> l)
{
    return l;
}

} // namespace

TEST(Take, noDestinationSelectedSendsNothing)
{
    Panel p;
    EXPECT_EQ(p.ops.btnSource_Click(0), KeyAction::Done);
    EXPECT_EQ(p.link.count(Kind::H), 0);
    for (int l = 0; l < p.h.m.levelCount(); ++l)
        for (int d = 0; d < p.h.m.destinationCount(); ++d)
            EXPECT_EQ(p.h.m.Status(l, d).source, -1);
}

TEST(Take, oneCommandPerControllerAndOutputWithLevelsFolded)
{
    Panel p;
    p.banks.btnDestination_Click(0); // MON1: VID+AUD1 on output 3, AUD2 on 4, TC on controller 2
    ASSERT_EQ(p.ops.btnSource_Click(1), KeyAction::Done); // CAM2, input 1 everywhere
    const auto hs = p.link.callsOf(Kind::H);
    ASSERT_EQ(hs.size(), 3u);
    EXPECT_EQ(hs[0].id, 1);
    EXPECT_EQ(hs[0].numLevs, 3);
    EXPECT_EQ(hs[0].dst, 3);
    EXPECT_EQ(hs[0].src, v({ 1, 1, -1 }));
    EXPECT_EQ(hs[1].dst, 4);
    EXPECT_EQ(hs[1].src, v({ -1, -1, 1 }));
    EXPECT_EQ(hs[2].id, 2);
    EXPECT_EQ(hs[2].numLevs, 1);
    EXPECT_EQ(hs[2].src, v({ 1 }));
    // The panel shows the take at once, before any poll.
    for (int l : { p.h.vid, p.h.aud1, p.h.aud2, p.h.tc }) {
        EXPECT_EQ(p.h.m.Status(l, p.h.mon1).source, p.h.cam2);
        EXPECT_EQ(p.h.m.Status(l, p.h.mon1).flag, 0);
    }
    EXPECT_EQ(p.banks.statusRows()[0].sources[0].caption, "CAM2");
    EXPECT_EQ(p.gate.log, (std::vector<std::string> { "off@0", "on@3" }));
}

TEST(Take, onlyActiveLevelsAndLevelsCarryingTheSource)
{
    Panel p;
    p.banks.btnDestination_Click(0); // MON1
    p.banks.btnLevel_Click(1); // AUD1 off
    p.banks.btnLevel_Click(3); // TC off
    p.ops.btnSource_Click(1);
    auto hs = p.link.callsOf(Kind::H);
    ASSERT_EQ(hs.size(), 2u);
    EXPECT_EQ(hs[0].src, v({ 1, -1, -1 }));
    EXPECT_EQ(hs[1].src, v({ -1, -1, 1 }));
    EXPECT_EQ(p.h.m.Status(p.h.aud1, p.h.mon1).source, -1);

    p.link.clearCalls();
    p.banks.btnSelectAll_Click();
    p.ops.btnSource_Click(2); // VTR lives on VID only
    hs = p.link.callsOf(Kind::H);
    ASSERT_EQ(hs.size(), 1u);
    EXPECT_EQ(hs[0].dst, 3);
    EXPECT_EQ(hs[0].src, v({ 5, -1, -1 }));
}

TEST(Take, gangTakesEveryUnlockedSelectedDestinationInListOrder)
{
    Panel p;
    p.banks.btnGang_Click();
    p.banks.btnDestination_Click(2);
    p.banks.btnDestination_Click(1);
    p.banks.btnDestination_Click(0);
    p.h.m.SetLocked(p.h.mon2, true);
    p.ops.btnSource_Click(0); // CAM1
    std::vector<int> outputs;
    for (const auto &c : p.link.callsOf(Kind::H))
        outputs.push_back(c.dst);
    EXPECT_EQ(outputs, (std::vector<int> { 3, 4, 3, 7 })); // MON1 x3, REC1; MON2 skipped
    EXPECT_EQ(p.h.m.Status(p.h.vid, p.h.mon2).source, -1);
    EXPECT_EQ(p.h.m.Status(p.h.vid, p.h.rec1).source, p.h.cam1);
}

TEST(Take, busyLinkDefersAndTouchesNothing)
{
    Panel p;
    p.banks.btnDestination_Click(0);
    p.link.busy = true;
    EXPECT_EQ(p.ops.btnSource_Click(0), KeyAction::Deferred);
    EXPECT_EQ(p.ops.btnLock_Click(), KeyAction::Deferred);
    EXPECT_EQ(p.ops.btnUnlock_Click(), KeyAction::Deferred);
    EXPECT_TRUE(p.link.calls().empty());
    EXPECT_TRUE(p.gate.log.empty());
    EXPECT_EQ(p.h.m.Status(p.h.vid, p.h.mon1).source, -1);
    p.link.busy = false;
    EXPECT_EQ(p.ops.btnSource_Click(5), KeyAction::Ignored); // no source on key 5
    EXPECT_TRUE(p.gate.log.empty());
}

TEST(Take, simulatorShowsTheTakeButSendsNothing)
{
    Panel p;
    p.h.m.setSimulator(true);
    p.banks.btnDestination_Click(2);
    p.ops.btnSource_Click(2);
    EXPECT_EQ(p.link.count(Kind::H), 0);
    EXPECT_EQ(p.h.m.Status(p.h.vid, p.h.rec1).source, p.h.vtr);
}

TEST(Take, sameOutputOnTwoLevelsIsOneCommandDifferentOutputsTwo)
{
    House h;
    FakeHublink link;
    TakeRequest r { int16_t(h.mon2), false, v({ int16_t(h.cam1), int16_t(h.cam1), -1, -1 }) };
    SendTakeCommands(h.m, link, r);
    ASSERT_EQ(link.count(Kind::H), 1);
    EXPECT_EQ(link.calls()[0].src, v({ 0, 0, -1 }));

    h.m.SetDestinationNumber(h.mon2, h.aud1, 9);
    link.clearCalls();
    SendTakeCommands(h.m, link, r);
    ASSERT_EQ(link.count(Kind::H), 2);
    EXPECT_EQ(link.calls()[0].dst, 6);
    EXPECT_EQ(link.calls()[1].dst, 9);
    EXPECT_EQ(link.calls()[1].src, v({ -1, 0, -1 }));
}

TEST(Take, levelsOfOneRequestMayCarryDifferentSources)
{
    House h;
    FakeHublink link;
    TakeRequest r { int16_t(h.mon1), false, v({ int16_t(h.vtr), int16_t(h.cam2), -1, -1 }) };
    EXPECT_TRUE(TakeToDestination(h.m, link, r));
    ASSERT_EQ(link.count(Kind::H), 1);
    EXPECT_EQ(link.calls()[0].src, v({ 5, 1, -1 }));
    EXPECT_FALSE(TakeToDestination(h.m, link, TakeRequest { -1, false, r.sources }));
    EXPECT_FALSE(TakeToDestination(h.m, link, TakeRequest { 99, false, r.sources }));
    EXPECT_EQ(link.count(Kind::H), 1);
}

TEST(Lock, readsTheTableAndTogglesOnlyWhereItDiffers)
{
    Panel p;
    p.link.setLocks(1, { false, false, false, false, true }); // output 4 (MON1 on AUD2) already locked
    p.banks.btnDestination_Click(0);
    ASSERT_EQ(p.ops.btnLock_Click(), KeyAction::Done);
    const auto ws = p.link.callsOf(Kind::W);
    ASSERT_EQ(ws.size(), 2u); // controllers 1 and 2, once each
    const auto ls = p.link.callsOf(Kind::L);
    ASSERT_EQ(ls.size(), 2u);
    EXPECT_EQ(ls[0].id, 1);
    EXPECT_EQ(ls[0].dst, 3); // VID and AUD1 share output 3: one toggle
    EXPECT_EQ(ls[1].id, 2);
    EXPECT_EQ(ls[1].dst, 3);
    EXPECT_TRUE(p.h.m.Locked(p.h.mon1));
    EXPECT_EQ(p.banks.destinationKeys()[0].text, TextColour::LightRed);
    EXPECT_TRUE(p.banks.statusRows()[0].lockPicture);
    EXPECT_EQ(p.link.locks(1), (std::vector<bool> { false, false, false, true, true }));

    // Unlocking toggles both outputs of controller 1 back.
    p.link.clearCalls();
    p.ops.btnUnlock_Click();
    EXPECT_EQ(p.link.count(Kind::L), 3);
    EXPECT_FALSE(p.h.m.Locked(p.h.mon1));
    EXPECT_EQ(p.banks.destinationKeys()[0].text, TextColour::LightBlue);
    EXPECT_EQ(p.gate.log.size(), 4u);
}

TEST(Lock, unlockingAnUnlockedDestinationSendsNoToggle)
{
    Panel p;
    p.banks.btnDestination_Click(2); // REC1
    p.ops.btnUnlock_Click();
    EXPECT_EQ(p.link.count(Kind::W), 1);
    EXPECT_EQ(p.link.count(Kind::L), 0);
}

TEST(Lock, localLockSendsNothingAndRefusesLaterTakes)
{
    Panel p;
    p.ops.setLocalLock(true);
    p.banks.btnDestination_Click(2); // REC1
    p.ops.btnLock_Click();
    EXPECT_TRUE(p.link.calls().empty());
    EXPECT_TRUE(p.h.m.Locked(p.h.rec1));
    EXPECT_EQ(p.banks.destinationKeys()[2].text, TextColour::LightRed);
    p.ops.btnSource_Click(0);
    EXPECT_EQ(p.link.count(Kind::H), 0);
    EXPECT_EQ(p.h.m.Status(p.h.vid, p.h.rec1).source, -1);
}

TEST(Lock, simulatorAndInvalidDestination)
{
    House h;
    FakeHublink link;
    h.m.setSimulator(true);
    SetDestinationLock(h.m, link, h.mon1, true, false);
    EXPECT_TRUE(link.calls().empty());
    EXPECT_TRUE(h.m.Locked(h.mon1));
    h.m.setSimulator(false);
    SetDestinationLock(h.m, link, -1, true, false);
    SetDestinationLock(h.m, link, 3, true, false);
    EXPECT_TRUE(link.calls().empty());
}

// Guards against a take to output 1000 or above showing as taken while it
// was never sent (three digits cannot carry it), and against its silence.
TEST(Take, numbersTheLinkCannotCarryAreNeitherSentNorShownAndAreReported)
{
    Panel p;
    p.h.m.SetDestinationNumber(p.h.mon1, p.h.aud2, 1199); // output 1200 on AUD2
    p.h.m.SetStatus(p.h.aud2, p.h.mon1, DestinationStatus { 0, static_cast<int16_t>(p.h.cam1) });
    p.banks.btnDestination_Click(0); // MON1
    ASSERT_EQ(p.ops.btnSource_Click(1), KeyAction::Done); // CAM2
    EXPECT_EQ(p.ops.problem(), QStringLiteral("Output 1200 cannot be addressed on this link."));
    const auto hs = p.link.callsOf(Kind::H);
    ASSERT_EQ(hs.size(), 2u); // VID+AUD1 on output 3, TC; nothing for output 1200
    for (const auto &h : hs)
        EXPECT_NE(h.dst, 1199);
    EXPECT_EQ(p.h.m.Status(p.h.aud2, p.h.mon1).source, p.h.cam1) << "the row keeps what the controller reported";
    EXPECT_EQ(p.h.m.Status(p.h.vid, p.h.mon1).source, p.h.cam2);

    // An input above 999: that level is left out of the command, the others go.
    p.h.m.SetSourceNumber(p.h.cam2, p.h.aud1, 1499);
    p.link.clearCalls();
    ASSERT_EQ(p.ops.btnSource_Click(1), KeyAction::Done);
    EXPECT_EQ(p.ops.problem(), QStringLiteral("Input 1500 cannot be addressed on this link."))
        << "the first problem of the action, in level order";
    const auto again = p.link.callsOf(Kind::H);
    ASSERT_FALSE(again.empty());
    EXPECT_EQ(again[0].src, v({ 1, -1, -1 }));

    // Lock: output 1200 cannot be toggled; the model's lock is left as it was.
    p.link.clearCalls();
    ASSERT_EQ(p.ops.btnLock_Click(), KeyAction::Done);
    EXPECT_EQ(p.ops.problem(), QStringLiteral("Output 1200 cannot be addressed on this link."));
    for (const auto &l : p.link.callsOf(Kind::L))
        EXPECT_NE(l.dst, 1199);
    EXPECT_FALSE(p.h.m.Locked(p.h.mon1));

    // A clean action clears the problem.
    p.banks.btnDestination_Click(0);
    p.banks.btnDestination_Click(1); // MON2 only
    ASSERT_EQ(p.ops.btnSource_Click(0), KeyAction::Done); // CAM1
    EXPECT_TRUE(p.ops.problem().isEmpty());
    EXPECT_TRUE(unaddressableText("Output", 999).isEmpty());
    EXPECT_EQ(unaddressableText("Input", 1000), QStringLiteral("Input 1000 cannot be addressed on this link."));
}
