// Import -> export -> import round trips compared database to database, and
// the panel's reader loading what the editor writes.
#include "configreader.h"
#include "iotestsupport.h"
#include "statandconfig.h"
#include "sysgen.h"

using namespace exel;
using namespace exel::test;

namespace {

using RoundTrip = IoFixture;

const QStringList kStudio {
    "* Studio A router",
    "VER,1.0",
    "CTL,MAIN,1,3",
    "CTL,AUX,2,1",
    "LVL,SDI,MAIN,1,32,16",
    "LVL,AES1,MAIN,2,32,16",
    "LVL,AES2,MAIN,3,16,8",
    "LVL,TC,AUX,1,4,4",
    "SRC,CAM1,SDI,1",
    "SRC,CAM1,AES1,1",
    "SRC,CAM1,AES2,0",
    "SRC,CAM1,TC,0",
    "SRC,VTR1,SDI,5",
    "SRC,VTR1,AES1,5",
    "SRC,VTR1,AES2,5",
    "SRC,VTR1,TC,1",
    "SRC,BARS,SDI,32",
    "SRC,TONE,AES1,32",
    "SRC,TONE,AES2,16",
    "DST,PGM,SDI,1",
    "DST,PGM,AES1,1",
    "DST,PGM,AES2,1",
    "DST,MON1,SDI,16",
    "DST,REC1,SDI,2",
    "DST,REC1,TC,4",
    "SNS,CAMS,CAM1",
    "SNS,ALL,CAM1",
    "SNS,ALL,VTR1",
    "SNS,ALL,BARS",
    "SNS,ALL,TONE",
    "SND,ALL,PGM",
    "SND,ALL,MON1",
    "SND,ALL,REC1",
    "SND,CAMS,MON1",
};

// Imports lines, exports them, imports the export into a second database and
// checks that both databases hold the same system and both exports are equal.
void roundTrip(IoFixture &f, XelCfgDb &first, XelCfgLoadUtilities &io, ScriptedDialogs &dialogs,
    SettingsStore &settings, const QString &dir, const QStringList &lines)
{
    const QString in = dir + "/IN.CFG";
    ASSERT_TRUE(writeFile(in, crlfText(lines)));
    ASSERT_TRUE(io.LoadConfigurationFile(in)) << io.lastFailure().toStdString();
    const QString out = dir + "/OUT.CFG";
    dialogs.queueAnswer(MsgAnswer::Cancel);
    ASSERT_TRUE(io.SaveConfigurationFile(out));

    XelCfgDb second(&dialogs, dir + "/second.mdb");
    ASSERT_TRUE(second.Init());
    XelCfgLoadUtilities io2(second, dialogs, settings);
    ASSERT_TRUE(io2.LoadConfigurationFile(out)) << io2.lastFailure().toStdString();
    EXPECT_EQ(IoFixture::dump(first), IoFixture::dump(second));
    for (const char *type : { "SRC", "DST" }) {
        const QList<GroupInfo> a = first.Groups(type), b = second.Groups(type);
        ASSERT_EQ(a.size(), b.size());
        for (int i = 0; i < a.size(); ++i) {
            EXPECT_EQ(a[i].name, b[i].name);
            EXPECT_EQ(a[i].numbers, b[i].numbers);
        }
    }
    const QString again = dir + "/AGAIN.CFG";
    dialogs.queueAnswer(MsgAnswer::Cancel);
    ASSERT_TRUE(XelCfgLoadUtilities(second, dialogs, settings).SaveConfigurationFile(again));
    EXPECT_EQ(readFile(out), readFile(again));
    Q_UNUSED(f);
}

TEST_F(RoundTrip, realisticStudio)
{
    roundTrip(*this, *m_db, *m_io, m_dialogs, *m_settings, m_dir, kStudio);
    EXPECT_EQ(m_db->Levels().size(), 4);
    EXPECT_EQ(m_db->nameSetMembers(m_db->nameSetID("ALL"), "SRC").size(), 4);
}

TEST_F(RoundTrip, generated34000Lines)
{
    const QStringList lines = generateSystemConfig(1000, 1000, 16, 2, 100);
    ASSERT_GE(lines.size(), 34000);
    roundTrip(*this, *m_db, *m_io, m_dialogs, *m_settings, m_dir, lines);
    EXPECT_EQ(m_db->NumberOfGroups("SRC"), 1000);
    EXPECT_EQ(m_db->NumberOfGroups("DST"), 1000);
    EXPECT_EQ(m_db->GetNameSets().size(), 10);
    // The panel reads the large export too.
    StatandConfig model;
    const ConfigLoadResult r = LoadConfigFile(model, m_dir + "/OUT.CFG");
    ASSERT_TRUE(r.ok()) << r.reason.toStdString() << " line " << r.lineNumber;
    EXPECT_EQ(model.sourceCount(), 1000);
    EXPECT_EQ(model.levelCount(), 16);
    EXPECT_EQ(model.DestinationNumber(model.FindDestination("D01000"), model.FindLevel("LEV16")), 999);
}

TEST_F(RoundTrip, panelReaderLoadsTheExport)
{
    const QString in = file("IN.CFG", kStudio);
    ASSERT_TRUE(m_io->LoadConfigurationFile(in));
    const QString out = m_dir + "/PANEL.CFG";
    m_dialogs.queueAnswer(MsgAnswer::Cancel);
    ASSERT_TRUE(m_io->SaveConfigurationFile(out));

    StatandConfig model;
    const ConfigLoadResult r = LoadConfigFile(model, out);
    ASSERT_TRUE(r.ok()) << r.reason.toStdString() << " line " << r.lineNumber << ": " << r.line.toStdString();
    EXPECT_EQ(model.controllerCount(), 2);
    EXPECT_EQ(model.levelCount(), 4);
    EXPECT_EQ(model.sourceCount(), 4);
    EXPECT_EQ(model.destinationCount(), 3);
    EXPECT_EQ(model.nameSetCount(), 2);
    const int vtr = model.FindSource("VTR1");
    const int tc = model.FindLevel("TC");
    ASSERT_GE(vtr, 0);
    ASSERT_GE(tc, 0);
    EXPECT_EQ(model.SourceNumber(vtr, tc), 0); // input 1 stored 0-based
    EXPECT_FALSE(model.SourceOnLevel(model.FindSource("CAM1"), model.FindLevel("AES2")));
    EXPECT_EQ(model.DestinationNumber(model.FindDestination("MON1"), model.FindLevel("SDI")), 15);
}

TEST_F(RoundTrip, panelReaderLoadsTheDefaultExport)
{
    ASSERT_TRUE(m_db->LoadDefaultDatabase());
    const QString out = m_dir + "/DEFAULT.CFG";
    m_dialogs.queueAnswer(MsgAnswer::Cancel);
    ASSERT_TRUE(m_io->SaveConfigurationFile(out));
    StatandConfig model;
    const ConfigLoadResult r = LoadConfigFile(model, out);
    ASSERT_TRUE(r.ok()) << r.reason.toStdString() << " line " << r.lineNumber;
    EXPECT_EQ(model.levelCount(), 4);
    EXPECT_EQ(model.sourceCount(), 16);
    EXPECT_EQ(model.destinationCount(), 16);
}

} // namespace
