// The key banks, takes, locks and polling together against the controller
// emulator, acting as an operator would; what the router did is read from the
// emulator's own tables, never from the panel's idea of them.
#include "configreader.h"
#include "emulatorhublink.h"
#include "keybanks.h"
#include "statuspoller.h"
#include "takeandlocks.h"
#include "testsupport.h"
#include "xelemulator.h"

#include <gtest/gtest.h>

using namespace exel;

namespace {

QString houseFile()
{
    return test::sourceDir() + QStringLiteral("/panel/keys/tests/data/house.cfg");
}

StatandConfig routerModel()
{
    StatandConfig m;
    QString error;
    EXPECT_TRUE(XelEmulator::loadModel(houseFile(), m, error)) << error.toStdString();
    return m;
}

// Destination keys of the STUDIO set, in list order.
enum Key { MON1, MON2, REC1, REC2, TX, PVW, EDIT1, EDIT2 };
enum SrcKey { CAM1, CAM2, VTR, GFX };

struct Operator {
    XelEmulator emu { routerModel() };
    EmulatorHublink link { emu };
    StatandConfig model;
    KeyBanks banks { model };
    StatusPoller poller { model, link };
    TakeAndLocks ops { model, link, banks, &poller };

    Operator()
    {
        const ConfigLoadResult r = LoadConfigFile(model, houseFile());
        EXPECT_TRUE(r.ok()) << r.reason.toStdString();
        EXPECT_EQ(banks.load1stSystem(), QStringList { "STUDIO" });
        poller.TurnOnTimer();
    }
    // One Timer1 tick as the window runs it.
    void tick()
    {
        if (poller.Timer1_Timer(banks.destinationList(), banks.statusOffset()).repaint)
            banks.UpdateAllStatus();
    }
    int sentCount(QChar command) const
    {
        int n = 0;
        for (const QString &c : link.sent()) {
            QString body = c;
            while (!body.isEmpty() && body[0].isDigit())
                body.remove(0, 1);
            n += body.startsWith(command) ? 1 : 0;
        }
        return n;
    }
};

} // namespace

TEST(KeysWithEmulator, singleTakeRoutesEveryLevelOfTheDestination)
{
    Operator op;
    op.banks.btnDestination_Click(MON1);
    ASSERT_EQ(op.ops.btnSource_Click(CAM2), KeyAction::Done);
    // Wire numbers: controller level, output, input (1-based).
    EXPECT_EQ(op.emu.crosspoint(0, 1, 1), 2);
    EXPECT_EQ(op.emu.crosspoint(0, 2, 1), 2);
    EXPECT_EQ(op.emu.crosspoint(0, 3, 4), 2);
    EXPECT_EQ(op.emu.crosspoint(3, 1, 1), 2);
    // VID+AUD1 share output 1: one command; AUD2 on output 4; TC on the other router.
    EXPECT_EQ(op.link.sent(), (QStringList { "H001002002000", "H004000000002", "3H001002" }));
    EXPECT_EQ(op.banks.statusRows()[0].sources[0].caption, "CAM2");
}

TEST(KeysWithEmulator, gangTakeOnChosenLevels)
{
    Operator op;
    op.banks.btnGang_Click();
    op.banks.btnDestination_Click(TX);
    op.banks.btnDestination_Click(REC2);
    op.banks.btnDestination_Click(REC1);
    ASSERT_EQ(op.banks.levelCount(), 4);
    op.banks.btnLevel_Click(2); // AUD2 off
    op.banks.btnLevel_Click(3); // TC off
    op.ops.btnSource_Click(VTR);
    EXPECT_EQ(op.emu.crosspoint(0, 1, 3), 5); // REC1 video
    EXPECT_EQ(op.emu.crosspoint(0, 1, 5), 5); // REC2 video
    EXPECT_EQ(op.emu.crosspoint(0, 2, 5), 6); // REC2 AUD1
    EXPECT_EQ(op.emu.crosspoint(0, 3, 5), 0); // AUD2 left alone
    EXPECT_EQ(op.emu.crosspoint(0, 1, 6), 5); // TX
    EXPECT_EQ(op.emu.crosspoint(3, 1, 6), 0); // TX timecode left alone
    EXPECT_EQ(op.sentCount('H'), 3); // one per destination, in list order
    EXPECT_TRUE(op.link.sent()[0].startsWith("H003"));
    EXPECT_TRUE(op.link.sent()[2].startsWith("H006"));
}

TEST(KeysWithEmulator, routeMadeElsewhereAppearsWithinAPollingCycle)
{
    Operator op;
    ASSERT_TRUE(op.emu.setCrosspoint(0, 1, 2, 9)); // MON2 video from GFX
    ASSERT_TRUE(op.emu.setFlag(0, 2, 2, true));
    op.tick();
    EXPECT_EQ(op.banks.statusRows()[1].caption, "MON2");
    EXPECT_EQ(op.banks.statusRows()[1].sources[0].caption, "GFX");
    EXPECT_EQ(op.banks.statusRows()[1].sources[1].text, TextColour::LightRed);

    // EDIT2 is below the six rows: the background poll reaches it within
    // (list length - 6) ticks.
    ASSERT_TRUE(op.emu.setCrosspoint(0, 1, 10, 1));
    const int edit2 = op.model.FindDestination("EDIT2");
    for (int t = 0; t < 2 && op.model.Status(0, edit2).source == -1; ++t)
        op.tick();
    EXPECT_EQ(op.model.SourceName(op.model.Status(0, edit2).source), "CAM1");
}

TEST(KeysWithEmulator, lockReachesTheRouterAndRefusesTakes)
{
    Operator op;
    op.banks.btnDestination_Click(MON1);
    ASSERT_EQ(op.ops.btnLock_Click(), KeyAction::Done);
    EXPECT_TRUE(op.emu.locked(0, 1));
    EXPECT_TRUE(op.emu.locked(0, 4));
    EXPECT_TRUE(op.emu.locked(3, 1));
    EXPECT_EQ(op.banks.destinationKeys()[MON1].text, TextColour::LightRed);

    const qsizetype before = op.link.sent().size();
    op.ops.btnSource_Click(CAM1);
    EXPECT_EQ(op.link.sent().size(), before);
    EXPECT_EQ(op.emu.crosspoint(0, 1, 1), 0);

    ASSERT_EQ(op.ops.btnUnlock_Click(), KeyAction::Done);
    EXPECT_FALSE(op.emu.locked(0, 1));
    EXPECT_FALSE(op.emu.locked(0, 4));
    EXPECT_FALSE(op.emu.locked(3, 1));
    op.ops.btnSource_Click(CAM1);
    EXPECT_EQ(op.emu.crosspoint(0, 1, 1), 1);
}

TEST(KeysWithEmulator, lockFromAnotherPanelShowsAfterThreeTicks)
{
    Operator op;
    ASSERT_TRUE(op.emu.setLock(0, 6, true)); // TX
    op.tick();
    op.tick();
    EXPECT_FALSE(op.banks.statusRows()[4].lockPicture);
    op.tick();
    EXPECT_TRUE(op.banks.statusRows()[4].lockPicture);
    EXPECT_EQ(op.banks.destinationKeys()[TX].text, TextColour::LightRed);
}

TEST(KeysWithEmulator, localLockingSendsNothing)
{
    Operator op;
    op.ops.setLocalLock(true);
    op.poller.setLocalLock(true);
    op.banks.btnDestination_Click(PVW);
    op.ops.btnLock_Click();
    EXPECT_TRUE(op.link.sent().isEmpty());
    EXPECT_FALSE(op.emu.locked(0, 7));
    for (int t = 0; t < 6; ++t)
        op.tick();
    EXPECT_EQ(op.sentCount('W'), 0);
    EXPECT_TRUE(op.model.Locked(op.model.FindDestination("PVW")));
}

TEST(KeysWithEmulator, equalOutputsCostOneQuestionDifferentOutputsTwo)
{
    Operator op;
    op.poller.PollDestination(op.model.FindDestination("MON2")); // VID 2, AUD1 2
    EXPECT_EQ(op.link.sent(), QStringList { "Y002" });
    op.banks.btnDestination_Click(MON2);
    op.ops.btnSource_Click(CAM1);
    EXPECT_EQ(op.sentCount('H'), 1);

    op.poller.PollDestination(op.model.FindDestination("MON1")); // AUD2 on its own output
    EXPECT_EQ(op.sentCount('Y'), 1 + 3);
}
