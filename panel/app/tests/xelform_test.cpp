// The main window with a scripted link: start-up paths, the two timers and
// their guards, the menus and their stored settings, the key banks as painted.
#include "fakehublink.h"
#include "panelfixture.h"
#include "panelhost.h"
#include "qtdialogs.h"

#include <QAction>
#include <QComboBox>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

using namespace exel;
using exel::testing::FakeHublink;
using Kind = FakeHublink::Kind;

namespace {

// A router of two controllers: video and two audio levels on MAIN (address
// 0), timecode on TCR (address 3). Twenty sources and destinations; name set
// STUDIO holds all of them, EDIT three.
QStringList routerLines()
{
    QStringList l = { "* test router", "CTL,MAIN,0,3", "CTL,TCR,3,1", "LVL,VID,MAIN,1,32,32", "LVL,AUD1,MAIN,2,32,32",
        "LVL,AUD2,MAIN,3,32,32", "LVL,TC,TCR,1,8,8" };
    for (int i = 1; i <= 20; ++i) {
        const QString n = QString::number(i);
        const QString s = QStringLiteral("SRC%1").arg(i, 2, 10, QLatin1Char('0'));
        const QString d = QStringLiteral("DST%1").arg(i, 2, 10, QLatin1Char('0'));
        l << "SRC," + s + ",VID," + n << "SRC," + s + ",AUD1," + n;
        l << "DST," + d + ",VID," + n << "DST," + d + ",AUD1," + n;
    }
    // DST01 also has AUD2 output 4 (not 1) and timecode output 1.
    l << "SRC,SRC01,AUD2,1"
      << "DST,DST01,AUD2,4"
      << "SRC,SRC01,TC,1"
      << "DST,DST01,TC,1";
    for (int i = 1; i <= 20; ++i) {
        l << QStringLiteral("SNS,STUDIO,SRC%1").arg(i, 2, 10, QLatin1Char('0'));
        l << QStringLiteral("SND,STUDIO,DST%1").arg(i, 2, 10, QLatin1Char('0'));
    }
    l << "SNS,EDIT,SRC01"
      << "SNS,EDIT,SRC02"
      << "SND,EDIT,DST01"
      << "SND,EDIT,DST02"
      << "SND,EDIT,DST03";
    return l;
}

struct FakePanel : test::PanelUnderTest {
    FakeHublink link;
    explicit FakePanel(bool simulator = false)
        : test::PanelUnderTest(&link, simulator)
    {
    }
    QString router() { return test::writeConfig(folder, QStringLiteral("ROUTER.CFG"), routerLines()); }
    XelForm &startWithRouter()
    {
        setting(QStringLiteral("ConfigFile"), router());
        return start();
    }
};

bool isGreen(const QPushButton *b)
{
    return b->styleSheet().contains(QStringLiteral("#00ff00"));
}
bool isYellow(const QPushButton *b)
{
    return b->styleSheet().contains(QStringLiteral("#ffff00"));
}

} // namespace

// ---------------------------------------------------------------- start-up

TEST(XelFormStartUp, withoutConfigFileShowsTheDefaultSystem)
{
    FakePanel p;
    XelForm &f = p.start();
    ASSERT_EQ(f.systemCombo()->count(), 1);
    EXPECT_EQ(f.systemCombo()->itemText(0), QStringLiteral("System 1"));
    EXPECT_EQ(f.model().levelCount(), 4);
    for (int i = 0; i < 16; ++i) {
        EXPECT_FALSE(f.destinationKey(i)->text().isEmpty()) << i;
        EXPECT_TRUE(f.sourceKey(i)->isEnabled()) << i;
    }
    for (int i = 0; i < 4; ++i)
        EXPECT_TRUE(isGreen(f.levelKey(i))) << "no destination selected: every level active";
    EXPECT_TRUE(p.dialogs.shown().empty());
    EXPECT_TRUE(f.timer1Active());
    EXPECT_TRUE(f.timer2Active());
    EXPECT_EQ(f.timer1Interval(), 500);
    EXPECT_EQ(f.windowTitle(), QStringLiteral("32-Bit Xelvard - <default>: COM1 Online"));
    EXPECT_EQ(p.link.count(Kind::Connect), 0) << "a connected link is not dialled";
    EXPECT_EQ(p.linkLoads, 1);
}

TEST(XelFormStartUp, storedFileIsLoadedAndItsFirstNameSetShown)
{
    FakePanel p;
    XelForm &f = p.startWithRouter();
    EXPECT_TRUE(p.dialogs.shown().empty()) << p.dialogs.lastText().toStdString();
    ASSERT_EQ(f.systemCombo()->count(), 2);
    EXPECT_EQ(f.systemCombo()->currentText(), QStringLiteral("STUDIO"));
    EXPECT_EQ(f.destinationKey(0)->text(), QStringLiteral("DST01"));
    EXPECT_EQ(f.destinationKey(15)->text(), QStringLiteral("DST16"));
    EXPECT_EQ(f.windowTitle(), QStringLiteral("32-Bit Xelvard - ROUTER: COM1 Online"));
}

TEST(XelFormStartUp, fileThatCannotBeOpenedIsReportedAndTheDefaultSystemShown)
{
    FakePanel p;
    const QString missing = p.folder + QStringLiteral("/GONE.CFG");
    p.setting(QStringLiteral("ConfigFile"), missing);
    XelForm &f = p.start();
    ASSERT_EQ(p.dialogs.count(), 1);
    const auto &shown = p.dialogs.shown().front();
    EXPECT_EQ(shown.text,
        QStringLiteral("Unable to Open Configuarion File:") + missing
            + QStringLiteral("\nError #  2\nNo such file or directory"));
    EXPECT_EQ(shown.icon, MsgIcon::Exclamation);
    EXPECT_EQ(shown.title, XelForm::kAppTitle);
    EXPECT_EQ(f.systemCombo()->currentText(), QStringLiteral("System 1"));
}

TEST(XelFormStartUp, badLineStopsReadingAndKeepsWhatWasRead)
{
    FakePanel p;
    QStringList lines = routerLines();
    lines.insert(lines.indexOf(QStringLiteral("SRC,SRC03,VID,3")), QStringLiteral("SRC,BROKEN"));
    p.setting(QStringLiteral("ConfigFile"), test::writeConfig(p.folder, QStringLiteral("BAD.CFG"), lines));
    XelForm &f = p.start();
    ASSERT_EQ(p.dialogs.count(), 1);
    // The box reads the fixed sentence exactly; where and why are its detail.
    EXPECT_EQ(p.dialogs.lastText(), QStringLiteral("Invalid Information in Configuration File"));
    EXPECT_TRUE(p.dialogs.shown().front().detail.startsWith(QStringLiteral("Line 16: SRC,BROKEN")))
        << p.dialogs.shown().front().detail.toStdString();
    EXPECT_EQ(p.dialogs.shown().front().title, QStringLiteral("File Open"));
    EXPECT_EQ(f.model().levelCount(), 4) << "the lines before the bad one stay loaded";
    EXPECT_GE(f.model().FindSource(QStringLiteral("SRC02")), 0);
    EXPECT_EQ(f.model().FindSource(QStringLiteral("SRC03")), -1);
}

TEST(XelFormStartUp, linkErrorOpensTheSettingsDialogAndADisconnectedLinkIsDialled)
{
    FakePanel p;
    p.link.comError = true;
    p.link.connected = false;
    p.settingsDialogAnswer = true;
    XelForm &f = p.start();
    EXPECT_EQ(p.settingsDialogs, 1);
    EXPECT_EQ(p.linkLoads, 2) << "new settings reload the link window";
    EXPECT_GE(p.link.count(Kind::Connect), 1);
    EXPECT_TRUE(f.timer1Active());
}

TEST(XelFormStartUp, storedFlagsSetTheMenusAndThePanelOrder)
{
    FakePanel p;
    p.setting(QStringLiteral("LocalLock"), QStringLiteral("TRUE"));
    p.setting(QStringLiteral("flipSrcDst"), QStringLiteral("TRUE"));
    p.setting(QStringLiteral("ModemEnable"), QStringLiteral("TRUE"));
    p.setting(QStringLiteral("autoload"), QStringLiteral("True")); // only exactly "TRUE" counts
    XelForm &f = p.start();
    EXPECT_TRUE(f.action(QStringLiteral("mnuLocalLock"))->isChecked());
    EXPECT_TRUE(f.localLock());
    EXPECT_TRUE(f.destinationPanelAbove());
    EXPECT_TRUE(f.action(QStringLiteral("mnuCallRemote"))->isEnabled());
    EXPECT_TRUE(f.action(QStringLiteral("mnuHangup"))->isEnabled());
    EXPECT_FALSE(f.action(QStringLiteral("mnuAutoLoad"))->isChecked());
    EXPECT_FALSE(f.action(QStringLiteral("mnuForceLoad"))->isVisible());
    EXPECT_TRUE(p.link.sentCommands().isEmpty()) << "no auto-configuration";
}

// ---------------------------------------------------------------- timers

TEST(XelFormTimers, timer2ServesOneLoadRequestPerTickInPriorityOrder)
{
    FakePanel p;
    XelForm &f = p.start();
    const QString file = p.router();
    p.dialogs.clear();

    p.link.clearCalls();
    f.mnuFileDefault_Click();
    p.dialogs.queueFile(file);
    f.mnuFileOpen_Click();
    f.mnuForceLoad_Click();
    f.mnuHangup_Click();

    f.Timer2_Timer(); // force load first: the controller is asked (and does not answer)
    EXPECT_TRUE(p.link.sentCommands().contains(QStringLiteral("KCI")));
    EXPECT_EQ(p.dialogs.lastText(), QStringLiteral("Unable to load controller configuration."));
    EXPECT_TRUE(p.setting(QStringLiteral("ConfigFile")).isEmpty());
    EXPECT_EQ(p.link.count(Kind::Disconnect), 1) << "hang-up is served in the same tick";

    f.Timer2_Timer(); // then the file
    EXPECT_EQ(p.setting(QStringLiteral("ConfigFile")), file);
    EXPECT_EQ(f.systemCombo()->currentText(), QStringLiteral("STUDIO"));

    f.Timer2_Timer(); // then the default system
    EXPECT_EQ(f.systemCombo()->currentText(), QStringLiteral("System 1"));

    p.link.clearCalls();
    f.Timer2_Timer();
    f.Timer2_Timer();
    EXPECT_TRUE(p.link.calls().empty()) << "every request was served once";
}

TEST(XelFormTimers, nameSetSwitchComesBeforeTheFileLoadOfTheSameTick)
{
    FakePanel p;
    XelForm &f = p.startWithRouter();
    f.cmbSystem_Click(1);
    EXPECT_EQ(f.pendingSystem(), 1);
    f.requestFile(p.router());
    f.Timer2_Timer();
    // Loading after the switch shows the new file's first name set.
    EXPECT_EQ(f.systemCombo()->currentText(), QStringLiteral("STUDIO"));
    EXPECT_EQ(f.pendingSystem(), -1);

    f.cmbSystem_Click(1);
    f.Timer2_Timer();
    EXPECT_EQ(f.systemCombo()->currentText(), QStringLiteral("EDIT"));
    EXPECT_EQ(f.destinationKey(2)->text(), QStringLiteral("DST03"));
    EXPECT_TRUE(f.destinationKey(3)->text().isEmpty());
    EXPECT_FALSE(f.destinationKey(3)->isEnabled());
}

TEST(XelFormTimers, timer2WaitsWhileTheLinkIsBusyOrTimer1IsInItsTick)
{
    FakePanel p;
    XelForm &f = p.startWithRouter();
    f.cmbSystem_Click(1);

    p.link.busy = true;
    f.Timer2_Timer();
    EXPECT_EQ(f.pendingSystem(), 1);
    p.link.busy = false;

    // A Timer2 tick and a TurnOffTimer arriving while Timer1 polls.
    bool stoppedInTick = true;
    int tries = 0;
    p.link.afterCall = [&](const FakeHublink::Call &c) {
        if (c.kind == Kind::Y && tries++ == 0) {
            f.Timer2_Timer();
            f.TurnOffTimer(stoppedInTick);
        }
    };
    f.Timer1_Timer();
    p.link.afterCall = nullptr;
    ASSERT_GT(tries, 0);
    EXPECT_EQ(f.pendingSystem(), 1) << "nothing served inside a Timer1 tick";
    EXPECT_FALSE(stoppedInTick);
    EXPECT_TRUE(f.timer1Active());

    f.Timer2_Timer();
    EXPECT_EQ(f.pendingSystem(), -1);
    EXPECT_EQ(f.systemCombo()->currentText(), QStringLiteral("EDIT"));
}

TEST(XelFormTimers, keyPressedDuringAPollIsTakenRightAfterTheTick)
{
    FakePanel p;
    XelForm &f = p.startWithRouter();
    f.destinationKey(1)->click();
    bool pressed = false;
    p.link.afterCall = [&](const FakeHublink::Call &c) {
        if (c.kind == Kind::Y && !pressed) {
            pressed = true;
            p.link.busy = true; // the key event arrives while the poll waits
            f.btnSource_Click(2);
            p.link.busy = false;
        }
    };
    f.Timer1_Timer();
    p.link.afterCall = nullptr;
    EXPECT_EQ(f.pendingSource(), 2);
    EXPECT_EQ(p.link.count(Kind::H), 0);
    QCoreApplication::processEvents(); // no 100 ms beat has passed
    EXPECT_EQ(f.pendingSource(), -1);
    ASSERT_EQ(p.link.count(Kind::H), 1);
    EXPECT_EQ(p.link.callsOf(Kind::H).front().dst, 1);
}

TEST(XelFormTimers, timer1SlowsWhileOfflineAndSpeedsUpAgain)
{
    FakePanel p;
    XelForm &f = p.startWithRouter();
    p.link.offline = true;
    p.link.description = QStringLiteral("COM1 Offline");
    f.Timer1_Timer();
    EXPECT_EQ(f.timer1Interval(), 2000);
    EXPECT_TRUE(f.windowTitle().endsWith(QStringLiteral("COM1 Offline")));
    p.link.offline = false;
    p.link.description = QStringLiteral("COM1 Online");
    f.Timer1_Timer();
    EXPECT_EQ(f.timer1Interval(), 500);
    EXPECT_TRUE(f.windowTitle().endsWith(QStringLiteral("COM1 Online")));
}

TEST(XelFormTimers, captionIsWrittenOnlyWhenItChanges)
{
    FakePanel p;
    XelForm &f = p.startWithRouter();
    QSignalSpy spy(&f, &QWidget::windowTitleChanged);
    for (int i = 0; i < 4; ++i)
        f.Timer1_Timer();
    EXPECT_EQ(spy.count(), 0);
    p.link.description = QStringLiteral("COM1 Offline");
    f.Timer1_Timer();
    f.Timer1_Timer();
    EXPECT_EQ(spy.count(), 1);
}

TEST(XelFormTimers, simulatorAndStoppedTimerPollNothing)
{
    FakePanel sim(true);
    sim.startWithRouter();
    sim.form->Timer1_Timer();
    EXPECT_EQ(sim.link.count(Kind::Y), 0);

    FakePanel p;
    XelForm &f = p.startWithRouter();
    EXPECT_TRUE(f.TurnOffTimer());
    f.Timer1_Timer();
    EXPECT_EQ(p.link.count(Kind::Y), 0);
    f.TurnOnTimer();
    f.Timer1_Timer();
    // Six rows and one background poll; DST01 costs three questions (VID and
    // AUD1 share output 1, AUD2 has output 4, TC is another controller).
    EXPECT_EQ(p.link.count(Kind::Y), 3 + 5 + 1);
}

// ---------------------------------------------------------------- menus

TEST(XelFormMenus, autoLoadIsRefusedInSimulatorMode)
{
    FakePanel p(true);
    XelForm &f = p.start();
    f.mnuAutoLoad_Click();
    EXPECT_EQ(p.dialogs.lastText(), QStringLiteral("Simulator Mode does not allow Autoload feature."));
    EXPECT_FALSE(f.action(QStringLiteral("mnuAutoLoad"))->isChecked());
    EXPECT_FALSE(f.action(QStringLiteral("mnuForceLoad"))->isVisible());
    EXPECT_FALSE(f.autoLoad());
    EXPECT_TRUE(p.setting(QStringLiteral("AutoLoad")).isEmpty());
    f.Timer2_Timer();
    EXPECT_TRUE(p.link.sentCommands().isEmpty());
}

TEST(XelFormMenus, autoLoadOnStoresItAndConfiguresAtOnceOffHidesForceLoad)
{
    FakePanel p;
    XelForm &f = p.start();
    f.mnuAutoLoad_Click();
    EXPECT_TRUE(f.action(QStringLiteral("mnuAutoLoad"))->isChecked());
    EXPECT_TRUE(f.action(QStringLiteral("mnuForceLoad"))->isVisible());
    EXPECT_EQ(p.setting(QStringLiteral("AutoLoad")), QStringLiteral("TRUE"));
    EXPECT_TRUE(p.link.sentCommands().isEmpty()) << "the run waits for Timer2";
    f.Timer2_Timer();
    EXPECT_EQ(p.link.sentCommands().value(0), QStringLiteral("KCI"));

    f.mnuAutoLoad_Click();
    EXPECT_FALSE(f.action(QStringLiteral("mnuAutoLoad"))->isChecked());
    EXPECT_FALSE(f.action(QStringLiteral("mnuForceLoad"))->isVisible());
    EXPECT_EQ(p.setting(QStringLiteral("AutoLoad")), QStringLiteral("FALSE"));
}

TEST(XelFormMenus, hangupChosenOnceDisconnectsOnce)
{
    FakePanel p;
    XelForm &f = p.start();
    f.mnuHangup_Click();
    p.link.busy = true;
    f.Timer2_Timer();
    EXPECT_EQ(p.link.count(Kind::Disconnect), 0);
    p.link.busy = false;
    for (int i = 0; i < 3; ++i)
        f.Timer2_Timer();
    EXPECT_EQ(p.link.count(Kind::Disconnect), 1);
    EXPECT_TRUE(f.timer1Active());
}

TEST(XelFormMenus, localLockingKeepsLocksInThePanel)
{
    FakePanel p;
    XelForm &f = p.startWithRouter();
    f.mnuLocalLock_Click();
    EXPECT_EQ(p.setting(QStringLiteral("LocalLock")), QStringLiteral("TRUE"));
    EXPECT_TRUE(f.action(QStringLiteral("mnuLocalLock"))->isChecked());

    f.destinationKey(1)->click();
    p.link.clearCalls();
    f.btnLock_Click();
    EXPECT_TRUE(p.link.calls().empty()) << "nothing sent for a local lock";
    EXPECT_TRUE(f.model().Locked(1));
    EXPECT_TRUE(f.destinationKey(1)->styleSheet().contains(QStringLiteral("color: #ff0000")));
    EXPECT_TRUE(f.destinationKey(0)->styleSheet().contains(QStringLiteral("color: #0000ff")));

    // The lock table is never read, and a take to the locked destination is refused.
    for (int i = 0; i < 3; ++i)
        f.Timer1_Timer();
    EXPECT_EQ(p.link.count(Kind::W), 0);
    f.btnSource_Click(4);
    EXPECT_EQ(p.link.count(Kind::H), 0);

    f.mnuLocalLock_Click();
    EXPECT_EQ(p.setting(QStringLiteral("LocalLock")), QStringLiteral("FALSE"));
    for (int i = 0; i < 3; ++i)
        f.Timer1_Timer();
    EXPECT_GE(p.link.count(Kind::W), 1);
}

TEST(XelFormMenus, swapMovesThePanelsAndStoresTheOrder)
{
    FakePanel p;
    XelForm &f = p.start();
    EXPECT_FALSE(f.destinationPanelAbove());
    f.mnuSrcDstSwap_Click();
    EXPECT_TRUE(f.destinationPanelAbove());
    EXPECT_EQ(p.setting(QStringLiteral("flipSrcDst")), QStringLiteral("TRUE"));
    f.mnuSrcDstSwap_Click();
    EXPECT_FALSE(f.destinationPanelAbove());
    EXPECT_EQ(p.setting(QStringLiteral("flipSrcDst")), QStringLiteral("FALSE"));
}

TEST(XelFormMenus, communicationsReloadsTheLinkOnlyWhenSettingsChanged)
{
    FakePanel p;
    XelForm &f = p.start();
    f.mnuCfgSettings_Click();
    EXPECT_EQ(p.settingsDialogs, 1);
    EXPECT_EQ(p.linkLoads, 1);
    p.settingsDialogAnswer = true;
    p.setting(QStringLiteral("ModemEnable"), QStringLiteral("TRUE"));
    p.link.connected = false;
    f.mnuCfgSettings_Click();
    EXPECT_EQ(p.linkLoads, 2);
    EXPECT_EQ(p.link.count(Kind::Connect), 1);
    EXPECT_TRUE(f.action(QStringLiteral("mnuHangup"))->isEnabled());
    EXPECT_TRUE(f.timer1Active());
}

TEST(XelFormMenus, exitAndNewSettingsWhileACommandWaitsWaitForTheLink)
{
    // Both arrive through the event loop a waiting command runs; unloading the
    // link window under that wait would free the link it is running in.
    FakePanel p;
    XelForm &f = p.start();
    f.show();
    p.link.busy = true;
    p.settingsDialogAnswer = true;
    f.mnuCfgSettings_Click();
    EXPECT_EQ(p.linkLoads, 1);
    f.close();
    EXPECT_TRUE(f.isVisible());
    EXPECT_TRUE(f.closeRequested());
    f.Timer2_Timer();
    EXPECT_TRUE(f.isVisible()) << "still busy";

    p.link.busy = false;
    f.Timer2_Timer();
    EXPECT_FALSE(f.isVisible());
    EXPECT_EQ(p.linkLoads, 1) << "closing first: no reload for a window that is going";

    FakePanel q;
    XelForm &g = q.start();
    q.link.busy = true;
    q.settingsDialogAnswer = true;
    g.mnuCfgSettings_Click();
    g.mnuCallRemote_Click();
    EXPECT_EQ(q.link.count(Kind::Connect), 0) << "no dialling in the middle of a command";
    q.link.busy = false;
    g.Timer2_Timer();
    g.Timer2_Timer();
    EXPECT_EQ(q.linkLoads, 2);
    EXPECT_EQ(q.link.count(Kind::Connect), 1);
    EXPECT_TRUE(g.timer1Active());
}

TEST(XelFormMenus, fileOpenOffersTheDesignFilterAndCancelChangesNothing)
{
    FakePanel p;
    XelForm &f = p.start();
    f.mnuFileOpen_Click(); // cancelled
    ASSERT_EQ(p.dialogs.count(), 1);
    EXPECT_EQ(p.dialogs.shown().front().filter,
        QStringLiteral("Data Files (*.DAT)|*.DAT|Config Files (*.CFG)|*.CFG|All files (*.*)|*.*"));
    f.Timer2_Timer();
    EXPECT_EQ(f.systemCombo()->currentText(), QStringLiteral("System 1"));
    EXPECT_TRUE(p.setting(QStringLiteral("ConfigFile")).isEmpty());
}

// ---------------------------------------------------------------- keys as painted

TEST(XelFormKeys, destinationPagingAndSelectionAsPainted)
{
    FakePanel p;
    XelForm &f = p.startWithRouter();
    // 20 destinations: the bar pages by four.
    const ScrollState &s = f.banks().destinationScroll();
    EXPECT_TRUE(s.visible);
    EXPECT_EQ(s.maximum, 4);

    f.destinationKey(2)->click();
    EXPECT_TRUE(isGreen(f.destinationKey(2)));
    EXPECT_TRUE(isYellow(f.destinationKey(1)));
    f.destinationKey(3)->click(); // Single: the first is released
    EXPECT_FALSE(isGreen(f.destinationKey(2)));
    EXPECT_TRUE(isGreen(f.destinationKey(3)));
    // DST04 is on VID and AUD1 only: two level keys, both active.
    EXPECT_EQ(f.levelKey(0)->text(), QStringLiteral("VID"));
    EXPECT_EQ(f.levelKey(1)->text(), QStringLiteral("AUD1"));
    EXPECT_TRUE(f.levelKey(2)->text().isEmpty());
    EXPECT_FALSE(f.levelKey(2)->isEnabled());

    // Clicking status row 5 (DST06) when the bank shows it selects it.
    QTest::mouseClick(f.statusRow(5), Qt::LeftButton);
    EXPECT_TRUE(isGreen(f.destinationKey(5)));

    // A level switched off disables sources present only there.
    f.levelKey(0)->click();
    f.levelKey(1)->click();
    for (int i = 0; i < 16; ++i)
        EXPECT_FALSE(f.sourceKey(i)->isEnabled()) << i;
}

TEST(XelFormKeys, statusRowsFollowTheModelAndTheLevelKeys)
{
    FakePanel p;
    XelForm &f = p.startWithRouter();
    p.link.setReportedLevels(0, 3);
    p.link.setCrosspoint(0, 0, 0, 4); // DST01 VID from input 5 (SRC05)
    p.link.setCrosspoint(0, 0, 1, 6, true); // AUD1 from SRC07, flagged
    f.Timer1_Timer();
    EXPECT_EQ(f.statusRow(0)->text(), QStringLiteral("DST01"));
    EXPECT_EQ(f.statusSource(0)->text(), QStringLiteral("SRC05"));
    EXPECT_EQ(f.statusSource(1)->text(), QStringLiteral("SRC07"));
    EXPECT_TRUE(f.statusSource(1)->styleSheet().contains(QStringLiteral("#ff0000")));
    EXPECT_TRUE(f.statusSource(0)->styleSheet().contains(QStringLiteral("#000000")));
}

// ---------------------------------------------------------------- hardening

// Guards against a file of comments only loading as the built-in default system.
TEST(XelFormStartUp, fileWithoutRecordsLoadsAsAnEmptySystem)
{
    FakePanel p;
    p.setting(QStringLiteral("ConfigFile"),
        test::writeConfig(p.folder, QStringLiteral("EMPTY.CFG"), { "* nothing here yet", "", "* still nothing" }));
    XelForm &f = p.start();
    EXPECT_TRUE(p.dialogs.shown().empty()) << p.dialogs.lastText().toStdString();
    EXPECT_EQ(f.systemCombo()->count(), 0);
    EXPECT_EQ(f.model().levelCount(), 0);
    EXPECT_EQ(f.model().sourceCount(), 0);
    EXPECT_EQ(f.model().destinationCount(), 0);
    EXPECT_EQ(f.windowTitle(), QStringLiteral("32-Bit Xelvard - EMPTY: COM1 Online"));
}

// Guards against Timer2 running inside itself while one of its own boxes is up.
TEST(XelFormTimers, timer2IsNeverNestedInsideItsOwnBox)
{
    FakePanel p;
    XelForm &f = p.start();
    QStringList bad = routerLines();
    bad << QStringLiteral("SRC,BROKEN");
    const QString badFile = test::writeConfig(p.folder, QStringLiteral("BAD.CFG"), bad);
    const QString good = p.router();
    p.dialogs.clear();
    f.requestFile(badFile);
    QStringList storedWhileShown;
    bool nested = false;
    p.dialogs.whileShown = [&](const ScriptedDialogs::Shown &) {
        p.dialogs.whileShown = nullptr;
        nested = f.inTimer2();
        // What arrives while the box waits: another request, a Timer1 tick
        // (which posts an immediate Timer2 call for a pending request) and
        // Timer2's own beat.
        f.requestFile(good);
        p.link.busy = true;
        f.btnSource_Click(1); // left for Timer2
        p.link.busy = false;
        f.Timer1_Timer();
        QCoreApplication::processEvents();
        f.Timer2_Timer();
        storedWhileShown << p.setting(QStringLiteral("ConfigFile"));
    };
    f.Timer2_Timer();
    EXPECT_TRUE(nested) << "the box came from Timer2";
    EXPECT_EQ(storedWhileShown, QStringList { QString() }) << "nothing served inside the box";
    EXPECT_EQ(p.dialogs.count(), 1);
    EXPECT_EQ(p.setting(QStringLiteral("ConfigFile")), badFile);
    EXPECT_FALSE(f.inTimer2());

    f.Timer2_Timer(); // the next beat serves the file that waited
    EXPECT_EQ(p.setting(QStringLiteral("ConfigFile")), good);
    EXPECT_EQ(f.systemCombo()->currentText(), QStringLiteral("STUDIO"));
}

// Guards against Timer1 keeping a fixed period: the tick runs with the timer
// stopped and re-arms it for a whole interval when it ends.
TEST(XelFormTimers, timer1IsReArmedAtTheEndOfEachTick)
{
    FakePanel p;
    XelForm &f = p.startWithRouter();
    EXPECT_TRUE(f.timer1Armed());
    std::vector<bool> armedDuringTick;
    p.link.afterCall = [&](const FakeHublink::Call &c) {
        if (c.kind == Kind::Y)
            armedDuringTick.push_back(f.timer1Armed());
    };
    f.Timer1_Timer();
    ASSERT_FALSE(armedDuringTick.empty());
    EXPECT_EQ(std::count(armedDuringTick.begin(), armedDuringTick.end(), true), 0);
    EXPECT_TRUE(f.timer1Armed());
    EXPECT_EQ(f.timer1Interval(), 500);

    p.link.offline = true;
    f.Timer1_Timer();
    EXPECT_TRUE(f.timer1Armed());
    EXPECT_EQ(f.timer1Interval(), 2000);

    EXPECT_TRUE(f.TurnOffTimer());
    EXPECT_FALSE(f.timer1Armed());
    f.Timer1_Timer(); // a stale tick of a stopped timer does nothing
    EXPECT_FALSE(f.timer1Armed());
    f.TurnOnTimer();
    EXPECT_TRUE(f.timer1Armed());
}

// Guards against offline rows that look live: they are greyed and the
// status panel says they hold the last known state.
TEST(XelFormKeys, statusRowsShowTheLastKnownStateWhileOffline)
{
    FakePanel p;
    XelForm &f = p.startWithRouter();
    p.link.setReportedLevels(0, 3);
    p.link.setCrosspoint(0, 0, 0, 4);
    p.link.setCrosspoint(0, 0, 1, 6, true);
    f.Timer1_Timer();
    ASSERT_EQ(f.statusSource(0)->text(), QStringLiteral("SRC05"));
    EXPECT_FALSE(f.statusStale());
    EXPECT_TRUE(f.statusSource(1)->styleSheet().contains(QStringLiteral("#ff0000")));

    p.link.offline = true;
    p.link.description = QStringLiteral("COM1 Offline");
    f.Timer1_Timer();
    EXPECT_TRUE(f.statusStale());
    EXPECT_EQ(f.statusSource(0)->text(), QStringLiteral("SRC05")) << "the last known source stays";
    for (int i : { 0, 1 })
        EXPECT_TRUE(f.statusSource(i)->styleSheet().contains(QStringLiteral("#808080"))) << i;
    EXPECT_TRUE(f.statusRow(0)->styleSheet().contains(QStringLiteral("#808080")));
    auto *panel = qobject_cast<QGroupBox *>(f.statusRow(0)->parentWidget());
    ASSERT_NE(panel, nullptr);
    EXPECT_EQ(panel->title(), QStringLiteral("Status (last known, offline)"));

    p.link.offline = false;
    p.link.description = QStringLiteral("COM1 Online");
    f.Timer1_Timer();
    EXPECT_FALSE(f.statusStale());
    EXPECT_TRUE(f.statusSource(0)->styleSheet().contains(QStringLiteral("#000000")));
    EXPECT_TRUE(f.statusSource(1)->styleSheet().contains(QStringLiteral("#ff0000")));
    EXPECT_EQ(panel->title(), QStringLiteral("Status"));
}

// Guards against a take to output 1200 showing as taken although it could
// not be sent, with no word to the operator.
TEST(XelFormKeys, outputTheLinkCannotAddressIsReportedOnceAndNotShownAsTaken)
{
    FakePanel p;
    QStringList lines = routerLines();
    lines.insert(lines.indexOf(QStringLiteral("SNS,STUDIO,SRC01")), QStringLiteral("DST,BIG,VID,1200"));
    lines << QStringLiteral("SNS,WIDE,SRC01") << QStringLiteral("SND,WIDE,BIG");
    p.setting(QStringLiteral("ConfigFile"), test::writeConfig(p.folder, QStringLiteral("WIDE.CFG"), lines));
    XelForm &f = p.start();
    ASSERT_TRUE(p.dialogs.shown().empty()) << p.dialogs.lastText().toStdString();
    f.cmbSystem_Click(2);
    f.Timer2_Timer();
    ASSERT_EQ(f.destinationKey(0)->text(), QStringLiteral("BIG"));
    f.destinationKey(0)->click();
    p.link.clearCalls();
    f.btnSource_Click(0);
    EXPECT_EQ(p.link.count(Kind::H), 0);
    ASSERT_EQ(p.dialogs.count(), 1);
    EXPECT_EQ(p.dialogs.lastText(), QStringLiteral("Output 1200 cannot be addressed on this link."));
    EXPECT_TRUE(f.statusSource(0)->text().isEmpty()) << "the row is left as the controller last reported it";
    for (int i = 0; i < 4; ++i)
        f.Timer1_Timer();
    EXPECT_EQ(p.dialogs.count(), 1) << "polling says nothing more";
}

// Guards against " — 32-Bit Xelvard" after the caption on X11: Qt appends the
// application display name to every window title when one is set.
TEST(XelFormStartUp, programLeavesTheDisplayNameUnsetSoTheCaptionIsExact)
{
    const QString name = QCoreApplication::applicationName();
    QtDialogs dialogs;
    initPanelApplication(dialogs, QStringLiteral("9.9"));
    EXPECT_EQ(QGuiApplication::applicationDisplayName(), QCoreApplication::applicationName());
    EXPECT_EQ(QCoreApplication::applicationName(), QStringLiteral("velmor_xel"));
    QCoreApplication::setApplicationName(name);
}
