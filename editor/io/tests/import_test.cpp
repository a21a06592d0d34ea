// Import: keyword rules, failures and their one box, the version question,
// progress display and file errors.
#include "iotestsupport.h"

#include <QSqlQuery>

using namespace exel;
using namespace exel::test;

namespace {

using Import = IoFixture;

const QStringList kSmall { "VER,1.0", "CTL,A,1,2", "LVL,VID,A,1,8,8", "LVL,AUD,A,2,8,8", "SRC,CAM1,VID,1",
    "SRC,CAM1,AUD,2", "DST,MON1,VID,3", "SNS,SET1,CAM1", "SND,SET1,MON1" };

TEST_F(Import, smallFile_loadsAndBecomesCurrent)
{
    const QString path = file("SITE.A.CFG", kSmall);
    ASSERT_TRUE(m_io->LoadConfigurationFile(path)) << m_io->lastFailure().toStdString();
    EXPECT_EQ(m_dialogs.count(), 0);
    EXPECT_EQ(m_db->currentTitle(), "SITE");
    EXPECT_EQ(m_db->currentPath(), path);
    const QList<GroupInfo> sources = m_db->Groups("SRC");
    ASSERT_EQ(sources.size(), 1);
    EXPECT_EQ(sources[0].numbers, QList<int>({ 1, 2 }));
    EXPECT_EQ(m_db->Groups("DST")[0].numbers, QList<int>({ 3, 0 })); // never given: 0
    EXPECT_EQ(m_settings->GetSetting(kAppName, kVarsSection, "ConfigFile"), QString()); // a load stores nothing
}

TEST_F(Import, lowerCaseAndBlanks_areUpperCasedAndTrimmed)
{
    ASSERT_TRUE(m_io->LoadConfigurationFile(file("x.cfg", { "ctl, a ,1,2", "lvl,v,a,1,4,4", "src,s,v,2" })));
    EXPECT_EQ(m_db->Controllers(), QStringList { "A" });
    EXPECT_EQ(m_db->ControllerNumberLevels(m_db->ControllerID("A").toLongLong()), 2);
    EXPECT_EQ(m_db->Groups("SRC")[0].numbers, QList<int> { 2 });
}

TEST_F(Import, commentsBlankLinesAndUnknownKeywords_areSkipped)
{
    ASSERT_TRUE(m_io->LoadConfigurationFile(
        file("x.cfg", { "* comment", "", "XYZ,1,2", "CTL,A,1,1", "*,still,comment", "SRC,ONLY" })));
    EXPECT_EQ(m_dialogs.count(), 0);
    EXPECT_EQ(m_db->Groups("SRC")[0].name, "ONLY");
}

TEST_F(Import, failures_showOneBoxAndLeaveTheDefault)
{
    struct Case {
        QStringList lines;
        QString failure;
    } cases[] = {
        { { "CTL,A,1,1", "JUSTONEWORDHERE_AND_MORE" }, "Unknown Data in Configuration File: JUSTONEWORDHERE_AND_" },
        { { " *x" }, "Unknown Data in Configuration File:  *x" }, // a blank first: no comment
        { { "CTL,A,1" }, "Insufficient Controller Definition" },
        { { "CTL,A,1,1", "LVL,V,A,1,4" }, "Insufficient Level Definition" },
        { { "CTL,A,1,1", "SRC,S,NOLEVEL,1" }, "Invalid Source Definition" },
        { { "CTL,A,1,1", "DST,D,NOLEVEL,1" }, "Invalid Source Definition" },
        { { "VER,1" }, "Invalid Version Definition" },
        { { "CTL,A,1,1", "LVL,V,A,1,4,4", "SRC,S,V,40000" }, "Error #  6\nOverflow" },
        { { "CTL,A,1,1", "LVL,V,A,1,4,4", "SRC,S,V,5" }, "Source:S, Input 5,on V level is not in level range:0 to 4" },
        { { "CTL,A,1,1", "SNS,SET,NOBODY" }, "Nameset:SET, Source:NOBODY could not be added." },
        { { "CTL,A,1,1", "CTL,A,2,1" }, "Controller Name, A, is not Unique." },
    };
    for (const Case &c : cases) {
        m_dialogs.clear();
        EXPECT_FALSE(m_io->LoadConfigurationFile(file("bad.cfg", c.lines))) << c.failure.toStdString();
        ASSERT_EQ(m_dialogs.count(), 1);
        EXPECT_EQ(m_dialogs.lastText(), "Invalid Information in Configuration File\n" + c.failure);
        EXPECT_TRUE(isDefault()) << c.failure.toStdString();
        EXPECT_EQ(m_db->currentTitle(), "<Default>");
        EXPECT_EQ(m_db->Levels().size(), 4);
    }
}

TEST_F(Import, outputsInUse_areRefusedPerLevelDuringTheImportAndAfterIt)
{
    // A destination's output may not repeat on its level; sources and other
    // levels may share numbers. The import keeps that check in memory, and
    // the database's own check takes over again once it is done.
    const QStringList base { "CTL,A,1,2", "LVL,VID,A,1,8,8", "LVL,AUD,A,2,8,8", "SRC,CAM1,VID,3", "DST,MON1,VID,3",
        "DST,MON1,AUD,4", "DST,MON2,AUD,3" };
    EXPECT_FALSE(m_io->LoadConfigurationFile(file("dup.cfg", base + QStringList { "DST,MON3,AUD,4" })));
    EXPECT_EQ(m_dialogs.lastText(),
        "Invalid Information in Configuration File\nDestination: MON3, Output for AUD level is not unique.");
    EXPECT_TRUE(isDefault());
    ASSERT_TRUE(m_io->LoadConfigurationFile(file("ok.cfg", base))) << m_io->lastFailure().toStdString();
    EXPECT_EQ(m_db->Groups("DST").size(), 2);
    QString message;
    EXPECT_FALSE(m_db->AddRecordFromFile("DST", { "MON9", "3" }, message));
    EXPECT_EQ(message, "Destination: MON9, Output for VID level is not unique.");
    EXPECT_TRUE(m_db->AddRecordFromFile("DST", { "MON9", "5", "5" }, message)) << message.toStdString();
}

TEST_F(Import, replacingAConfiguration_leavesNoStrayRowsAndForeignKeysOn)
{
    // The rebuild clears the tables with foreign keys off: whether it loads
    // or fails, nothing may refer to a row of the configuration before, and
    // deletes cascade again afterwards.
    auto check = [&](const char *when) {
        QSqlQuery q(m_db->database());
        ASSERT_TRUE(q.exec("PRAGMA foreign_keys") && q.next()) << when;
        EXPECT_EQ(q.value(0).toInt(), 1) << when;
        ASSERT_TRUE(q.exec("PRAGMA foreign_key_check")) << when;
        EXPECT_FALSE(q.next()) << when;
    };
    ASSERT_TRUE(m_io->LoadConfigurationFile(file("a.cfg", kSmall))) << m_io->lastFailure().toStdString();
    check("after the first load");
    const QStringList other { "CTL,B,2,1", "LVL,ONLY,B,1,4,4", "SRC,CAM9,ONLY,4", "SNS,SET9,CAM9" };
    ASSERT_TRUE(m_io->LoadConfigurationFile(file("b.cfg", other))) << m_io->lastFailure().toStdString();
    check("after the second");
    EXPECT_EQ(m_db->Controllers(), QStringList { "B" });
    EXPECT_EQ(m_db->GetNameSets(), QStringList { "SET9" });
    EXPECT_EQ(m_db->nameSetMembers(m_db->nameSetID("SET9"), "SRC"), QStringList { "CAM9" });
    EXPECT_FALSE(m_io->LoadConfigurationFile(file("c.cfg", { "CTL,A,1,1", "SNS,SET,NOBODY" })));
    check("after a failed load");
    EXPECT_TRUE(isDefault());
    QSqlQuery q(m_db->database());
    ASSERT_TRUE(q.exec("DELETE FROM Lvl WHERE LVNAME = 'LEVEL1'"));
    ASSERT_TRUE(q.exec("SELECT COUNT(*) FROM GrpDfn") && q.next());
    EXPECT_EQ(q.value(0).toInt(), 32 * 3);
}

TEST_F(Import, laterVersion_asksAndCancelLeavesDefault)
{
    const QStringList lines { "VER,9.03", "CTL,A,1,1" };
    m_dialogs.queueAnswer(MsgAnswer::Cancel);
    EXPECT_FALSE(m_io->LoadConfigurationFile(file("v.cfg", lines)));
    ASSERT_EQ(m_dialogs.count(), 2);
    EXPECT_EQ(m_dialogs.shown()[0].text,
        "Attempting to load a later revision configuration!\n"
        "The currently loading configuration version is V9.3\n"
        "The program's current version is V1.0\n"
        "Do you wish to continue?");
    EXPECT_EQ(m_dialogs.shown()[0].buttons, MsgButtons::OkCancel);
    EXPECT_EQ(m_dialogs.lastText(), "Invalid Information in Configuration File\nImproper Configuration Version");
    EXPECT_TRUE(isDefault());

    m_dialogs.clear();
    m_dialogs.queueAnswer(MsgAnswer::Ok);
    EXPECT_TRUE(m_io->LoadConfigurationFile(file("v.cfg", lines)));
    EXPECT_EQ(m_dialogs.count(), 1);
    EXPECT_EQ(m_db->Controllers(), QStringList { "A" });
}

TEST_F(Import, sameOrEarlierVersion_doesNotAsk)
{
    for (const char *ver : { "VER,1.0", "VER,0.9", "VER,1.00" }) {
        m_dialogs.clear();
        EXPECT_TRUE(m_io->LoadConfigurationFile(file("v.cfg", { ver, "CTL,A,1,1" }))) << ver;
        EXPECT_EQ(m_dialogs.count(), 0) << ver;
    }
    m_dialogs.clear();
    m_dialogs.queueAnswer(MsgAnswer::Cancel);
    EXPECT_FALSE(m_io->LoadConfigurationFile(file("v.cfg", { "VER,1.1", "CTL,A,1,1" })));
    EXPECT_EQ(m_dialogs.count(), 2);
}

TEST_F(Import, srcLines_bareNameAndLaterLineOverwrites)
{
    ASSERT_TRUE(m_io->LoadConfigurationFile(file("x.cfg",
        { "CTL,A,1,2", "LVL,V,A,1,9,9", "LVL,K,A,2,9,9", "SRC,BARE", "SRC,TWICE,V,3", "SRC,TWICE,V,4",
            "SRC,NONUM,K" })));
    const QList<GroupInfo> s = m_db->Groups("SRC");
    ASSERT_EQ(s.size(), 3);
    EXPECT_EQ(s[0].name, "BARE");
    EXPECT_EQ(s[0].numbers, QList<int>({ 0, 0 }));
    EXPECT_EQ(s[1].numbers, QList<int>({ 0, 0 }));
    EXPECT_EQ(s[2].numbers, QList<int>({ 4, 0 }));
}

TEST_F(Import, progress_titlesAndBar)
{
    ASSERT_TRUE(m_io->LoadConfigurationFile(file("SITE.CFG", kSmall)));
    EXPECT_EQ(m_thermo.titles,
        QStringList({ "Opening configuration SITE...", "Loading SRC", "Loading DST", "Loading SNS", "Loading SND" }));
    EXPECT_EQ(m_thermo.values.last(), 100);
    EXPECT_EQ(m_thermo.shown, 1);
    EXPECT_EQ(m_thermo.closed, 1);
    for (int v : m_thermo.values) {
        EXPECT_GE(v, 0);
        EXPECT_LE(v, 100);
    }
}

TEST_F(Import, missingFile_showsOsErrorAndLoadsDefault)
{
    m_io->LoadConfigurationFile(file("ok.cfg", { "CTL,A,1,1" }));
    const QString path = m_dir + "/missing.cfg";
    EXPECT_FALSE(m_io->LoadConfigurationFile(path));
    ASSERT_EQ(m_dialogs.count(), 1);
    EXPECT_EQ(m_dialogs.lastText(),
        "Unable to Open Configuration File:" + path + "\nError #  2\n" + errorFromErrno(2).description);
    EXPECT_EQ(m_dialogs.shown()[0].icon, MsgIcon::Exclamation);
    EXPECT_TRUE(isDefault());
}

TEST_F(Import, startup_usesStoredConfigFileElseDefault)
{
    EXPECT_TRUE(m_io->LoadStartupConfiguration());
    EXPECT_TRUE(isDefault());
    const QString path = file("START.CFG", kSmall);
    m_settings->SaveSetting(kAppName, kVarsSection, "configfile", path);
    EXPECT_TRUE(m_io->LoadStartupConfiguration());
    EXPECT_EQ(m_db->currentTitle(), "START");
}

TEST_F(Import, chooseFileToOpen_filterAndCancel)
{
    EXPECT_FALSE(m_io->ChooseFileToOpen()); // cancelled: nothing happens
    ASSERT_EQ(m_dialogs.count(), 1);
    EXPECT_EQ(m_dialogs.shown()[0].filter, "Config Files (*.CFG)|*.CFG|All files (*.*)|*.*");
    m_dialogs.queueFile(file("PICK.CFG", kSmall));
    EXPECT_TRUE(m_io->ChooseFileToOpen());
    EXPECT_EQ(m_db->currentTitle(), "PICK");
}

} // namespace
