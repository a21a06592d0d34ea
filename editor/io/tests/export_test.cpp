// Export: record order and sorting, the empty-level and empty-source forms,
// the default question and file errors.
#include "iotestsupport.h"

#include <QFileInfo>

using namespace exel;
using namespace exel::test;

namespace {

using Export = IoFixture;

TEST_F(Export, orderSortingAndLineEnds)
{
    QString m;
    ASSERT_TRUE(m_db->ReinitDatabase());
    for (auto [k, f] : std::initializer_list<std::pair<const char *, QStringList>> {
             { "CTL", { "ZED", "2", "2" } },
             { "CTL", { "ABC", "1", "1" } },
             { "LVL", { "VID", "ZED", "2", "8", "8" } },
             { "LVL", { "AUD", "ABC", "1", "8", "8" } },
             { "SRC", { "CAM2", "2", "0" } },
             { "SRC", { "CAM1", "1", "3" } },
             { "DST", { "MON1", "4", "4" } },
             { "SNS", { "SETB", "CAM2", "CAM1" } },
             { "SNS", { "SETA", "CAM2" } },
             { "SND", { "SETB", "MON1" } },
         })
        ASSERT_TRUE(m_db->AddRecordFromFile(k, f, m)) << m.toStdString();
    const QString path = m_dir + "/OUT.CFG";
    m_dialogs.queueAnswer(MsgAnswer::Cancel);
    ASSERT_TRUE(m_io->SaveConfigurationFile(path));
    EXPECT_EQ(readFile(path),
        QByteArray("VER,1.0\r\n"
                   "CTL,ABC,1,1\r\n"
                   "CTL,ZED,2,2\r\n"
                   "LVL,VID,ZED,2,8,8\r\n"
                   "LVL,AUD,ABC,1,8,8\r\n"
                   "SRC,CAM1,VID,1\r\n"
                   "SRC,CAM1,AUD,3\r\n"
                   "SRC,CAM2,VID,2\r\n"
                   "SRC,CAM2,AUD,0\r\n"
                   "DST,MON1,VID,4\r\n"
                   "DST,MON1,AUD,4\r\n"
                   "SNS,SETA,CAM2\r\n"
                   "SNS,SETB,CAM1\r\n"
                   "SNS,SETB,CAM2\r\n"
                   "SND,SETB,MON1\r\n"));
}

TEST_F(Export, noLevels_writesNameTwoCommasAndABlank_andImportsAgain)
{
    QString m;
    ASSERT_TRUE(m_db->ReinitDatabase());
    ASSERT_TRUE(m_db->AddRecordFromFile("CTL", { "A", "1", "1" }, m));
    ASSERT_TRUE(m_db->AddRecordFromFile("SRC", { "S1" }, m));
    ASSERT_TRUE(m_db->AddRecordFromFile("DST", { "D1" }, m));
    const QString path = m_dir + "/NOLEV.CFG";
    m_dialogs.queueAnswer(MsgAnswer::Cancel);
    ASSERT_TRUE(m_io->SaveConfigurationFile(path));
    const QByteArray text = readFile(path);
    EXPECT_TRUE(text.contains("\r\nSRC,S1,, \r\n")) << text.constData();
    EXPECT_TRUE(text.contains("\r\nDST,D1,, \r\n"));
    m_dialogs.clear();
    ASSERT_TRUE(m_io->LoadConfigurationFile(path)) << m_io->lastFailure().toStdString();
    EXPECT_EQ(m_dialogs.count(), 0);
    EXPECT_EQ(m_db->NumberOfGroups("SRC"), 1);
    EXPECT_EQ(m_db->NumberOfGroups("DST"), 1);
}

TEST_F(Export, noSources_writesEverySetWithAnEmptyMember)
{
    QString m;
    ASSERT_TRUE(m_db->ReinitDatabase());
    ASSERT_TRUE(m_db->AddRecordFromFile("DST", { "D1" }, m));
    ASSERT_TRUE(m_db->AddRecordFromFile("SND", { "SETB", "D1" }, m));
    ASSERT_TRUE(m_db->AddRecordFromFile("SNS", { "SETA" }, m));
    const QString path = m_dir + "/NOSRC.CFG";
    m_dialogs.queueAnswer(MsgAnswer::Cancel);
    ASSERT_TRUE(m_io->SaveConfigurationFile(path));
    const QByteArray text = readFile(path);
    EXPECT_TRUE(text.contains("\r\nSNS,SETA,\r\nSNS,SETB,\r\nSND,SETB,D1\r\n")) << text.constData();
    ASSERT_TRUE(m_io->LoadConfigurationFile(path)) << m_io->lastFailure().toStdString();
    EXPECT_EQ(m_db->GetNameSets(), QStringList({ "SETA", "SETB" }));
}

TEST_F(Export, defaultQuestion_okStoresConfigFileCancelChangesNothing)
{
    ASSERT_TRUE(m_db->LoadDefaultDatabase());
    const QString path = m_dir + "/MINE.CFG";
    m_dialogs.queueAnswer(MsgAnswer::Cancel);
    ASSERT_TRUE(m_io->SaveConfigurationFile(path));
    EXPECT_EQ(m_dialogs.lastText(), "Do you wish this to become the default configuration?");
    EXPECT_EQ(m_dialogs.shown().back().buttons, MsgButtons::OkCancel);
    EXPECT_EQ(m_dialogs.shown().back().icon, MsgIcon::Question);
    EXPECT_EQ(m_db->currentTitle(), "<Default>");
    EXPECT_FALSE(m_settings->hasSetting(kAppName, kVarsSection, "ConfigFile"));

    m_dialogs.queueAnswer(MsgAnswer::Ok);
    ASSERT_TRUE(m_io->SaveConfigurationFile(path));
    EXPECT_EQ(m_settings->GetSetting(kAppName, kVarsSection, "ConfigFile"), path);
    EXPECT_EQ(m_db->currentTitle(), "MINE");
    EXPECT_EQ(m_db->currentPath(), path);
}

TEST_F(Export, unwritableFolder_showsErrorKeepsOldFileAndAsksNothing)
{
    ASSERT_TRUE(m_db->LoadDefaultDatabase());
    const QString path = m_dir + "/nofolder/X.CFG";
    EXPECT_FALSE(m_io->SaveConfigurationFile(path));
    ASSERT_EQ(m_dialogs.count(), 1);
    EXPECT_EQ(m_dialogs.lastText(),
        "Unable to Save Configuarion File:" + path + "\nError #  2\n" + errorFromErrno(2).description);
    EXPECT_EQ(m_db->currentTitle(), "<Default>");
}

TEST_F(Export, replacesAnOldFileWhole)
{
    const QString path = file("OLD.CFG", QStringList(500, "* old line that is long enough to matter"));
    ASSERT_TRUE(m_db->LoadDefaultDatabase());
    m_dialogs.queueAnswer(MsgAnswer::Cancel);
    ASSERT_TRUE(m_io->SaveConfigurationFile(path));
    const QByteArray text = readFile(path);
    EXPECT_TRUE(text.startsWith("VER,1.0\r\n"));
    EXPECT_FALSE(text.contains("old line"));
    // No temporary file is left beside it.
    EXPECT_EQ(QDir(m_dir).entryList({ "OLD.CFG*" }, QDir::Files), QStringList { "OLD.CFG" });
}

TEST_F(Export, chooseFileToSave_proposesCurrentPath)
{
    const QString path = file("SITE.CFG", { "CTL,A,1,1" });
    ASSERT_TRUE(m_io->LoadConfigurationFile(path));
    m_dialogs.clear();
    EXPECT_FALSE(m_io->ChooseFileToSave());
    ASSERT_EQ(m_dialogs.count(), 1);
    EXPECT_EQ(m_dialogs.shown()[0].kind, ScriptedDialogs::Kind::SaveFile);
    EXPECT_EQ(m_dialogs.shown()[0].defaultText, path);
}

} // namespace
