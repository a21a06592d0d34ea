// The real main window over the real link window (engine, comm control, link
// logic) against the controller emulator on a pseudo-terminal, driven as an
// operator drives it. What the router did is read from the emulator's own
// tables, never from the panel's idea of them.
#include "emulatedcontroller.h"
#include "panelfixture.h"
#include "panelhost.h"

#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

#include <gtest/gtest.h>

using namespace exel;

namespace {

// One controller at address 1 with video and audio. MON1 has equal output
// numbers on both levels, MON2 different ones, MON3 is on video only.
const QStringList kRouter = {
    "CTL,MAIN,1,2",
    "LVL,VID,MAIN,1,16,16",
    "LVL,AUD,MAIN,2,16,16",
    "SRC,CAM1,VID,1",
    "SRC,CAM1,AUD,1",
    "SRC,CAM2,VID,2",
    "SRC,CAM2,AUD,2",
    "SRC,VTR,VID,3",
    "SRC,VTR,AUD,5",
    "SRC,GFX,VID,4",
    "DST,MON1,VID,1",
    "DST,MON1,AUD,1",
    "DST,MON2,VID,2",
    "DST,MON2,AUD,3",
    "DST,MON3,VID,4",
    "DST,PGM,VID,6",
    "DST,PGM,AUD,6",
    "SNS,STUDIO,CAM1",
    "SNS,STUDIO,CAM2",
    "SNS,STUDIO,VTR",
    "SNS,STUDIO,GFX",
    "SND,STUDIO,MON1",
    "SND,STUDIO,MON2",
    "SND,STUDIO,MON3",
    "SND,STUDIO,PGM",
};
enum Dst { MON1, MON2, MON3, PGM };
enum Src { CAM1, CAM2, VTR, GFX };

struct LivePanel : test::PanelUnderTest {
    test::EmulatedController controller { kRouter };
    test::FastClock clock;

    explicit LivePanel(bool loadRouter = true)
        : test::PanelUnderTest(nullptr)
    {
        if (loadRouter)
            setting(QStringLiteral("ConfigFile"), test::writeConfig(folder, QStringLiteral("HOUSE.CFG"), kRouter));
    }
    XelForm &startLive()
    {
        PanelEnvironment env = environment();
        env.linkFactory = hublinkFactory(*settings, dialogs, clock);
        XelForm &f = start(std::move(env));
        EXPECT_FALSE(f.link().isComError()) << dialogs.lastText().toStdString();
        return f;
    }
    XelEmulator &emu() { return controller.emu(); }
    // Crosspoint at the emulator (wire numbers, 1-based; 0 none).
    int xpt(int level, int output) { return emu().crosspoint(1, level, output); }
};

} // namespace

TEST(PanelWithEmulator, singleTakeOnEveryLevelReachesTheRouter)
{
    LivePanel p;
    XelForm &f = p.startLive();
    EXPECT_EQ(f.windowTitle(), QStringLiteral("32-Bit Xelvard - HOUSE: COM1 Online"));
    f.destinationKey(MON2)->click();
    f.sourceKey(VTR)->click();
    EXPECT_EQ(p.xpt(1, 2), 3);
    EXPECT_EQ(p.xpt(2, 3), 5);
    EXPECT_EQ(p.xpt(1, 1), 0) << "nothing else moved";
    EXPECT_EQ(f.statusSource(0 * 4 + 0)->text(), QString()) << "MON1 untouched";
    EXPECT_EQ(f.statusRow(1)->text(), QStringLiteral("MON2"));
    EXPECT_EQ(f.statusSource(1 * 4 + 0)->text(), QStringLiteral("VTR"));
    EXPECT_EQ(f.statusSource(1 * 4 + 1)->text(), QStringLiteral("VTR"));
    EXPECT_TRUE(f.timer1Active());
}

TEST(PanelWithEmulator, gangTakeOnTheChosenLevelOnly)
{
    LivePanel p;
    XelForm &f = p.startLive();
    QRadioButton *gang = nullptr;
    for (QRadioButton *b : f.findChildren<QRadioButton *>())
        if (b->text() == QStringLiteral("Gang"))
            gang = b;
    ASSERT_NE(gang, nullptr);
    gang->click();
    f.destinationKey(MON1)->click();
    f.destinationKey(PGM)->click();
    ASSERT_EQ(f.levelKey(1)->text(), QStringLiteral("AUD"));
    f.levelKey(1)->click(); // audio off: video only
    f.sourceKey(CAM2)->click();
    EXPECT_EQ(p.xpt(1, 1), 2);
    EXPECT_EQ(p.xpt(1, 6), 2);
    EXPECT_EQ(p.xpt(2, 1), 0);
    EXPECT_EQ(p.xpt(2, 6), 0);
    EXPECT_EQ(p.xpt(1, 2), 0) << "MON2 was not selected";
}

TEST(PanelWithEmulator, aChangeAtTheRouterAppearsWithinThePollingCycle)
{
    LivePanel p;
    XelForm &f = p.startLive();
    p.emu().setCrosspoint(1, 1, 4, 4); // MON3 video from GFX, as by another panel
    p.emu().setCrosspoint(1, 2, 1, 5); // MON1 audio from VTR
    EXPECT_TRUE(QTest::qWaitFor([&] { return f.statusSource(2 * 4 + 0)->text() == QStringLiteral("GFX"); }, 3000));
    EXPECT_EQ(f.statusSource(0 * 4 + 1)->text(), QStringLiteral("VTR"));
}

TEST(PanelWithEmulator, lockAndUnlockReachTheRouterAndALockRefusesTakes)
{
    LivePanel p;
    XelForm &f = p.startLive();
    f.destinationKey(MON2)->click();
    f.btnLock_Click();
    EXPECT_TRUE(p.emu().locked(1, 2));
    EXPECT_TRUE(p.emu().locked(1, 3)) << "MON2 is output 3 on audio";
    EXPECT_FALSE(p.emu().locked(1, 1));
    EXPECT_TRUE(f.destinationKey(MON2)->styleSheet().contains(QStringLiteral("color: #ff0000")));

    f.sourceKey(CAM1)->click();
    EXPECT_EQ(p.xpt(1, 2), 0) << "a locked destination is not taken";

    f.btnUnlock_Click();
    EXPECT_FALSE(p.emu().locked(1, 2));
    EXPECT_FALSE(p.emu().locked(1, 3));
    f.sourceKey(CAM1)->click();
    EXPECT_EQ(p.xpt(1, 2), 1);

    // A lock set at the router shows up through the lock poll.
    p.emu().setLock(1, 1, true);
    EXPECT_TRUE(QTest::qWaitFor([&] { return f.model().Locked(MON1); }, 4000));
}

TEST(PanelWithEmulator, localLockModeSendsNothingForLocks)
{
    LivePanel p;
    XelForm &f = p.startLive();
    f.mnuLocalLock_Click();
    EXPECT_TRUE(f.TurnOffTimer());
    p.controller.log.clear();
    f.TurnOnTimer();
    f.destinationKey(MON1)->click();
    f.btnLock_Click();
    for (int i = 0; i < 4; ++i)
        f.Timer1_Timer();
    EXPECT_EQ(p.controller.count(QStringLiteral("WS")), 0);
    EXPECT_EQ(p.controller.count(QStringLiteral("LS")), 0);
    EXPECT_FALSE(p.emu().locked(1, 1));
    f.sourceKey(CAM2)->click();
    EXPECT_EQ(p.xpt(1, 1), 0) << "the panel's own lock refuses the take";
}

TEST(PanelWithEmulator, offlineAfterThreeSilentQuestionsAndBackAgain)
{
    LivePanel p;
    XelForm &f = p.startLive();
    p.emu().injectFault(EmuFault::Silence, 3);
    for (int i = 0; i < 5 && !f.link().isComOffline(); ++i)
        f.Timer1_Timer();
    ASSERT_TRUE(f.link().isComOffline());
    EXPECT_TRUE(p.dialogs.messageTexts().contains(QStringLiteral("No Response from Controller.")));
    EXPECT_EQ(f.windowTitle(), QStringLiteral("32-Bit Xelvard - HOUSE: COM1 Offline"));
    EXPECT_EQ(f.timer1Interval(), 2000);

    for (int i = 0; i < 8 && f.link().isComOffline(); ++i)
        f.Timer1_Timer();
    EXPECT_FALSE(f.link().isComOffline());
    f.Timer1_Timer();
    EXPECT_EQ(f.windowTitle(), QStringLiteral("32-Bit Xelvard - HOUSE: COM1 Online"));
    EXPECT_EQ(f.timer1Interval(), 500);
}

TEST(PanelWithEmulator, oneQuestionAndOneTakePerControllerAndOutput)
{
    LivePanel p;
    XelForm &f = p.startLive();
    ASSERT_TRUE(f.TurnOffTimer());

    p.controller.log.clear();
    f.poller().PollDestination(f.model().FindDestination(QStringLiteral("MON1")));
    EXPECT_EQ(p.controller.count(QStringLiteral("Y")), 1) << "equal output numbers: one question";
    p.controller.log.clear();
    f.poller().PollDestination(f.model().FindDestination(QStringLiteral("MON2")));
    EXPECT_EQ(p.controller.count(QStringLiteral("Y")), 2) << "different output numbers: two";

    f.TurnOnTimer();
    f.destinationKey(MON1)->click();
    p.controller.log.clear();
    f.sourceKey(CAM2)->click();
    EXPECT_EQ(p.controller.count(QStringLiteral("H")), 1);
    f.destinationKey(MON2)->click();
    p.controller.log.clear();
    f.sourceKey(CAM2)->click();
    EXPECT_EQ(p.controller.count(QStringLiteral("H")), 2);
    EXPECT_EQ(p.xpt(1, 2), 2);
    EXPECT_EQ(p.xpt(2, 3), 2);
}

TEST(PanelWithEmulator, autoLoadAtStartConfiguresFromTheRouter)
{
    LivePanel p(false);
    p.setting(QStringLiteral("AutoLoad"), QStringLiteral("TRUE"));
    XelForm &f = p.startLive();
    EXPECT_TRUE(f.action(QStringLiteral("mnuAutoLoad"))->isChecked());
    EXPECT_TRUE(f.action(QStringLiteral("mnuForceLoad"))->isVisible());
    EXPECT_TRUE(QFile::exists(p.folder + QStringLiteral("/MAIN.cfg")));
    EXPECT_EQ(f.systemCombo()->currentText(), QStringLiteral("ALL"));
    EXPECT_GE(f.model().FindDestination(QStringLiteral("PGM")), 0);
    EXPECT_GE(f.model().FindSource(QStringLiteral("GFX")), 0);
    EXPECT_TRUE(f.windowTitle().startsWith(QStringLiteral("32-Bit Xelvard - MAIN: ")));
    EXPECT_TRUE(p.dialogs.shown().empty()) << p.dialogs.lastText().toStdString();

    // The generated configuration drives the router. (The query records carry
    // one number per name, so only uniformly numbered routes survive: MON1.)
    auto keyWith = [](auto key, const QString &caption) {
        for (int i = 0; i < 16; ++i)
            if (key(i)->text() == caption)
                return key(i);
        return static_cast<QPushButton *>(nullptr);
    };
    QPushButton *mon1 = keyWith([&](int i) { return f.destinationKey(i); }, QStringLiteral("MON1"));
    QPushButton *cam2 = keyWith([&](int i) { return f.sourceKey(i); }, QStringLiteral("CAM2"));
    ASSERT_TRUE(mon1 && cam2);
    mon1->click();
    cam2->click();
    EXPECT_EQ(p.xpt(1, 1), 2);
    EXPECT_EQ(p.xpt(2, 1), 2);
}

TEST(PanelWithEmulator, forceLoadReplacesTheDefaultSystem)
{
    LivePanel p(false);
    XelForm &f = p.startLive();
    ASSERT_EQ(f.systemCombo()->currentText(), QStringLiteral("System 1"));
    f.mnuForceLoad_Click();
    f.Timer2_Timer();
    EXPECT_EQ(f.systemCombo()->currentText(), QStringLiteral("ALL"));
    EXPECT_EQ(f.model().levelCount(), 2);
    EXPECT_TRUE(p.dialogs.shown().empty()) << p.dialogs.lastText().toStdString();
}
