// The panel's own logic against the emulator through the in-process link:
// auto-configuration reads the emulator's query answers into a configuration
// the panel loads, and polling folds its status and lock answers into the model.
#include "configr7x0.h"
#include "configreader.h"
#include "dialogs.h"
#include "emulatorhublink.h"
#include "hublinkprotocol.h"
#include "statuspoller.h"
#include "testsupport.h"
#include "xelemulator.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace exel;

namespace {

QString routerFile()
{
    return test::sourceDir() + QStringLiteral("/tools/xelemu/tests/data/router.cfg");
}

StatandConfig loaded(const QString &path)
{
    StatandConfig model;
    QString error;
    EXPECT_TRUE(XelEmulator::loadModel(path, model, error)) << error.toStdString();
    return model;
}

} // namespace

TEST(PanelWithEmulator, auto_configuration_rebuilds_the_controllers_router)
{
    XelEmulator emu(loaded(routerFile()));
    EmulatorHublink link(emu);
    ScriptedDialogs dialogs;
    QTemporaryDir dir;
    QStringList loads;
    ConfigR7x0 cfg(link, dialogs, dir.path(), [&](const QString &f) { loads << f; });
    cfg.AutoConfigure();
    ASSERT_EQ(dialogs.count(), 0) << dialogs.lastText().toStdString();
    ASSERT_EQ(loads.size(), 1);
    EXPECT_EQ(QFileInfo(loads[0]).fileName(), QStringLiteral("MAIN.cfg"));

    const StatandConfig m = loaded(loads[0]);
    ASSERT_EQ(m.controllerCount(), 1);
    EXPECT_EQ(m.controller(0).numLevels, 3);
    ASSERT_EQ(m.levelCount(), 3);
    EXPECT_EQ(m.LevelName(0), QStringLiteral("VID"));
    EXPECT_EQ(m.LevelName(2), QStringLiteral("TC"));
    auto src = [&](const char *name) { return m.SourceNumbers(m.FindSource(QString::fromLatin1(name))); };
    auto dst = [&](const char *name) { return m.DestinationNumbers(m.FindDestination(QString::fromLatin1(name))); };
    EXPECT_EQ(src("CAM1"), (std::vector<int16_t> { 0, 0, 0 }));
    EXPECT_EQ(src("VTR"), (std::vector<int16_t> { 2, 2, -1 }));
    EXPECT_EQ(src("TIE"), (std::vector<int16_t> { 6, 6, 6 }));
    EXPECT_EQ(dst("MON1"), (std::vector<int16_t> { 0, 0, 0 }));
    EXPECT_EQ(dst("TIE"), (std::vector<int16_t> { 8, 8, 8 }));
    // A source numbered apart on one level comes back through its extra-level
    // record under its first number: the query records carry one number per source.
    EXPECT_EQ(src("CAM2"), (std::vector<int16_t> { 1, 1, -1 }));
    EXPECT_EQ(m.FindSource(QStringLiteral("XCAM")), -1); // on the other controller
    // Every question the run asked went out unprefixed, to address 0.
    for (const QString &c : link.sent())
        EXPECT_TRUE(c.startsWith(QLatin1Char('K')) || c == QLatin1String("QSR")) << c.toStdString();
}

TEST(PanelWithEmulator, auto_configuration_survives_a_lost_continuation_through_qsr)
{
    XelEmulator emu(loaded(routerFile()));
    EmulatorHublink link(emu);
    ScriptedDialogs dialogs;
    QTemporaryDir dir;
    QStringList loads;
    ConfigR7x0 cfg(link, dialogs, dir.path(), [&](const QString &f) { loads << f; });
    // The answer to the first bare "KQ" is lost on the line: the run asks
    // "QSR" for it and carries on. The log line comes before the answer goes out.
    const QString firstKq = QStringLiteral("rx KQ") + HublinkChecksumChars(u"KQ") + QStringLiteral(" ");
    int continuations = 0;
    emu.setLogger([&](const QString &l) {
        if (l.startsWith(firstKq) && ++continuations == 1)
            emu.injectFault(EmuFault::Silence, 1);
    });
    cfg.AutoConfigure();
    EXPECT_EQ(dialogs.count(), 0) << dialogs.lastText().toStdString();
    ASSERT_EQ(loads.size(), 1);
    EXPECT_TRUE(link.sent().contains(QStringLiteral("QSR")));
    EXPECT_EQ(loaded(loads[0]).levelCount(), 3);
}

TEST(PanelWithEmulator, polling_follows_routes_and_locks_made_by_another_panel)
{
    StatandConfig model = loaded(routerFile());
    XelEmulator emu(model);
    EmulatorHublink link(emu);
    StatusPoller poller(model, link);
    const int mon1 = model.FindDestination(QStringLiteral("MON1"));
    const int tie = model.FindDestination(QStringLiteral("TIE"));
    const int vid = model.FindLevel(QStringLiteral("VID"));
    const int aud = model.FindLevel(QStringLiteral("AUD"));
    ASSERT_EQ(emu.control(QStringLiteral("route 0 1 1 3")).lines.last(), QStringLiteral("OK"));
    ASSERT_EQ(emu.control(QStringLiteral("route 0 2 1 5")).lines.last(), QStringLiteral("OK"));
    ASSERT_EQ(emu.control(QStringLiteral("flag 0 2 1 on")).lines.last(), QStringLiteral("OK"));

    poller.PollDestination(mon1);
    // MON1 is output 1 on all three levels of one controller: one question.
    EXPECT_EQ(link.sent(), QStringList { QStringLiteral("Y001") });
    EXPECT_EQ(model.Status(vid, mon1).source, model.FindSource(QStringLiteral("VTR")));
    EXPECT_EQ(model.Status(aud, mon1).source, model.FindSource(QStringLiteral("CAM2"))); // input 5 on AUD
    EXPECT_NE(model.Status(aud, mon1).flag, 0);
    EXPECT_EQ(model.Status(vid, mon1).flag, 0);

    ASSERT_EQ(emu.control(QStringLiteral("lock 0 9 on")).lines.last(), QStringLiteral("OK locked"));
    poller.PollLocks();
    EXPECT_TRUE(model.Locked(tie));
    EXPECT_FALSE(model.Locked(mon1));

    // A take from this panel lands in the emulator's table, level by level.
    EXPECT_EQ(link.CPUHCmd(0, 3, 0, { 0, -1, -1 }), QStringLiteral("G"));
    EXPECT_EQ(emu.crosspoint(0, 1, 1), 1);
    EXPECT_EQ(emu.crosspoint(0, 2, 1), 5);
    // On a locked output the controller refuses; the link asks once more.
    const qsizetype before = link.sent().size();
    EXPECT_EQ(link.CPUHCmd(0, 3, 8, { 0, 0, 0 }), QStringLiteral("L"));
    EXPECT_EQ(link.sent().size(), before + 2);
}

TEST(PanelWithEmulator, demo_router_round_trips_through_auto_configuration)
{
    const StatandConfig original = loaded(test::sourceDir() + QStringLiteral("/tools/xelemu/demo.cfg"));
    XelEmulator emu(original);
    EmulatorHublink link(emu);
    ScriptedDialogs dialogs;
    QTemporaryDir dir;
    QStringList loads;
    ConfigR7x0 cfg(link, dialogs, dir.path(), [&](const QString &f) { loads << f; });
    cfg.AutoConfigure();
    ASSERT_EQ(loads.size(), 1) << dialogs.lastText().toStdString();
    const StatandConfig m = loaded(loads[0]);
    ASSERT_EQ(m.levelCount(), original.levelCount());
    ASSERT_EQ(m.sourceCount(), original.sourceCount());
    ASSERT_EQ(m.destinationCount(), original.destinationCount());
    for (int s = 0; s < original.sourceCount(); ++s) {
        const int t = m.FindSource(original.SourceName(s));
        ASSERT_GE(t, 0) << original.SourceName(s).toStdString();
        EXPECT_EQ(m.SourceNumbers(t), original.SourceNumbers(s)) << original.SourceName(s).toStdString();
    }
    for (int d = 0; d < original.destinationCount(); ++d) {
        const int t = m.FindDestination(original.DestinationName(d));
        ASSERT_GE(t, 0);
        EXPECT_EQ(m.DestinationNumbers(t), original.DestinationNumbers(d));
    }
}
