// Auto-configuration run by the main window (AutoLoad at start, Force Load
// from Timer2) against a scripted controller: continuations and the "QSR"
// re-ask, a controller that stops answering half-way, records out of range,
// and the controller's name as a file name.
#include "fakehublink.h"
#include "panelfixture.h"

#include <QComboBox>
#include <QDir>

#include <gtest/gtest.h>

using namespace exel;
using exel::testing::FakeHublink;

namespace {

// Answers the configuration queries one record per answer, "M" while more
// follow, as a controller does. Queries in `silent` get no answer at all.
struct ScriptedController {
    QString name = QStringLiteral("R740");
    QMap<QString, QStringList> records {
        { "KQLEV", { "(LEV,VIDEO,1)", "(LEV,AUDIO,2)" } },
        { "KQDST", { "(DST,MON1,1,1,1)", "(DST,MON2,2,2,)", "(DST,REC,3,3,3)" } },
        { "KQSRC", { "(SRC,CAM1,1,1,1)", "(SRC,CAM2,2,2,2)" } },
        { "KQRTY", {} },
        { "KQSTL", {} },
    };
    QStringList silent;
    int dropContinuations = 0; // answers to "KQ" lost on the line
    QStringList pending;
    QString last;

    QString answer(const QString &cmd)
    {
        if (cmd == QLatin1String("KCI"))
            return last = QStringLiteral("K*E*D*%1,1,2").arg(name);
        if (cmd == QLatin1String("QSR"))
            return last;
        if (cmd == QLatin1String("KQ")) {
            last = next();
            if (dropContinuations > 0) {
                --dropContinuations;
                return QString();
            }
            return last;
        }
        if (silent.contains(cmd))
            return QString();
        pending = records.value(cmd);
        return last = next();
    }
    QString next()
    {
        if (pending.isEmpty())
            return QStringLiteral("K*E*N");
        const QString r = pending.takeFirst();
        return (pending.isEmpty() ? QStringLiteral("K*E*D*") : QStringLiteral("K*M*D*")) + r;
    }
};

struct AutoPanel : test::PanelUnderTest {
    FakeHublink link;
    ScriptedController controller;
    AutoPanel()
        : test::PanelUnderTest(&link)
    {
        link.onSend = [this](const QString &cmd) { return controller.answer(cmd); };
    }
    QStringList tempFiles() const { return QDir(folder).entryList({ QStringLiteral("*.tmp") }, QDir::Files); }
};

} // namespace

TEST(AutoConfigWindow, autoLoadAtStartFollowsContinuationsAndReasksOnce)
{
    AutoPanel p;
    p.setting(QStringLiteral("AutoLoad"), QStringLiteral("TRUE"));
    p.controller.dropContinuations = 1;
    XelForm &f = p.start();
    EXPECT_TRUE(p.dialogs.shown().empty()) << p.dialogs.lastText().toStdString();
    const QStringList sent = p.link.sentCommands();
    EXPECT_EQ(sent.mid(0, 4), (QStringList { "KCI", "KQLEV", "KQ", "QSR" }));
    EXPECT_EQ(sent.count(QStringLiteral("QSR")), 1);
    EXPECT_EQ(f.systemCombo()->currentText(), QStringLiteral("ALL"));
    EXPECT_EQ(f.model().levelCount(), 2);
    EXPECT_EQ(f.model().destinationCount(), 3);
    EXPECT_FALSE(f.model().DestinationOnLevel(f.model().FindDestination(QStringLiteral("MON2")), 1));
    EXPECT_TRUE(QFile::exists(p.folder + QStringLiteral("/R740.cfg")));
    EXPECT_TRUE(p.tempFiles().isEmpty());
    EXPECT_TRUE(f.windowTitle().startsWith(QStringLiteral("32-Bit Xelvard - R740: ")));
}

TEST(AutoConfigWindow, controllerThatStopsAfterTheLevelsChangesNothing)
{
    AutoPanel p;
    p.setting(QStringLiteral("ConfigFile"),
        test::writeConfig(p.folder, QStringLiteral("OLD.CFG"),
            { "CTL,MAIN,0,1", "LVL,VID,MAIN,1,8,8", "SRC,A,VID,1", "DST,B,VID,1", "SNS,OLD,A", "SND,OLD,B" }));
    XelForm &f = p.start();
    p.controller.silent << QStringLiteral("KQDST");
    f.mnuForceLoad_Click();
    f.Timer2_Timer();
    EXPECT_EQ(p.dialogs.lastText(), QStringLiteral("Unable to load controller configuration."));
    EXPECT_EQ(p.link.sentCommands().count(QStringLiteral("KQDST")), 2) << "asked once more, then given up";
    EXPECT_FALSE(p.link.sentCommands().contains(QStringLiteral("KQSRC")));
    EXPECT_TRUE(p.tempFiles().isEmpty());
    EXPECT_FALSE(QFile::exists(p.folder + QStringLiteral("/R740.cfg")));
    EXPECT_EQ(f.systemCombo()->currentText(), QStringLiteral("OLD"));
}

TEST(AutoConfigWindow, recordsOutOfRangeStopTheTransferAndKeepTheLoadedSystem)
{
    // A destination numbered 0 would index before the tables; one past the
    // 16-bit range must not wrap into them.
    for (const QString &bad : { QStringLiteral("(DST,BAD,0,1,1)"), QStringLiteral("(DST,BAD,70000,1,1)"),
             QStringLiteral("(SRC,BAD,1,,,,,1)(LEV,X,-3)") }) {
        AutoPanel p;
        XelForm &f = p.start();
        p.controller.records[QStringLiteral("KQDST")] << bad;
        f.mnuForceLoad_Click();
        f.Timer2_Timer();
        EXPECT_EQ(p.dialogs.lastText(), QStringLiteral("Error in converting configuration!")) << bad.toStdString();
        EXPECT_EQ(f.systemCombo()->currentText(), QStringLiteral("System 1")) << bad.toStdString();
        EXPECT_TRUE(p.tempFiles().isEmpty());
    }
}

TEST(AutoConfigWindow, controllerNameNeverLeavesTheProgramFolder)
{
    for (const QString &name : { QStringLiteral("../../escape"), QStringLiteral("/tmp/abs"), QStringLiteral(".."),
             QStringLiteral("a/b\\c:d") }) {
        AutoPanel p;
        p.controller.name = name;
        XelForm &f = p.start();
        const QStringList before = QDir(p.folder + QStringLiteral("/..")).entryList(QDir::Files);
        f.mnuForceLoad_Click();
        f.Timer2_Timer();
        EXPECT_TRUE(p.dialogs.shown().empty()) << p.dialogs.lastText().toStdString();
        EXPECT_EQ(QDir(p.folder + QStringLiteral("/..")).entryList(QDir::Files), before) << name.toStdString();
        const QStringList written = QDir(p.folder).entryList({ QStringLiteral("*.cfg") }, QDir::Files);
        ASSERT_EQ(written.size(), 1) << name.toStdString();
        EXPECT_FALSE(written.front().startsWith(QLatin1Char('.')));
        EXPECT_EQ(f.systemCombo()->currentText(), QStringLiteral("ALL"));
    }
}
