// The configuration database on a fresh temporary file: schema, records,
// look-ups, cascades, grid writers and the default database.
#include "dialogs.h"
#include "testsupport.h"
#include "xelcfgdb.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <gtest/gtest.h>

using namespace exel;

namespace {

class XelCfgDbTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_path = test::tempHome() + QStringLiteral("/db-%1.mdb").arg(++s_serial);
        QFile::remove(m_path);
        m_db = std::make_unique<XelCfgDb>(&m_dialogs, m_path);
        ASSERT_TRUE(m_db->Init()) << m_db->lastError().toStdString();
    }

    bool add(const QString &key, const QStringList &fields)
    {
        QString message;
        const bool ok = m_db->AddRecordFromFile(key, fields, message);
        m_message = message;
        return ok;
    }

    int count(const QString &sql)
    {
        QSqlQuery q(m_db->database());
        if (!q.exec(sql) || !q.next())
            return -1;
        return q.value(0).toInt();
    }

    void smallSystem()
    {
        ASSERT_TRUE(add("CTL", { "C1", "1", "2" })) << m_message.toStdString();
        ASSERT_TRUE(add("LVL", { "VID", "C1", "1", "8", "4" })) << m_message.toStdString();
        ASSERT_TRUE(add("LVL", { "AUD", "C1", "2", "8", "4" })) << m_message.toStdString();
        ASSERT_TRUE(add("SRC", { "CAM1", "1", "1" })) << m_message.toStdString();
        ASSERT_TRUE(add("SRC", { "CAM2", "2", "0" })) << m_message.toStdString();
        ASSERT_TRUE(add("DST", { "MON1", "1", "1" })) << m_message.toStdString();
        ASSERT_TRUE(add("SNS", { "STUDIO", "CAM1", "CAM2" })) << m_message.toStdString();
        ASSERT_TRUE(add("SND", { "STUDIO", "MON1" })) << m_message.toStdString();
    }

    static inline int s_serial = 0;
    QString m_path;
    QString m_message;
    ScriptedDialogs m_dialogs;
    std::unique_ptr<XelCfgDb> m_db;
};

TEST_F(XelCfgDbTest, init_createsSchemaOnceAndReopensExistingFile)
{
    smallSystem();
    m_db.reset();
    XelCfgDb again(&m_dialogs, m_path);
    ASSERT_TRUE(again.Init());
    EXPECT_EQ(again.numberOfLevels(), 2);
    EXPECT_EQ(again.NumberOfGroups("SRC"), 2);
    QSqlQuery q(again.database());
    ASSERT_TRUE(q.exec("PRAGMA foreign_keys"));
    ASSERT_TRUE(q.next());
    EXPECT_EQ(q.value(0).toInt(), 1);
}

TEST_F(XelCfgDbTest, init_refusesAFileThatIsNotADatabase)
{
    const QString bad = test::tempHome() + "/garbage.mdb";
    ASSERT_TRUE(test::writeFile(bad, QByteArray(4096, 'x')));
    XelCfgDb db(&m_dialogs, bad);
    EXPECT_FALSE(db.Init());
    EXPECT_FALSE(db.lastError().isEmpty());
}

TEST_F(XelCfgDbTest, twoInstancesUseTheirOwnConnections)
{
    XelCfgDb other(&m_dialogs, test::tempHome() + "/other.mdb");
    ASSERT_TRUE(other.Init());
    smallSystem();
    EXPECT_EQ(other.numberOfLevels(), 0);
    EXPECT_EQ(m_db->numberOfLevels(), 2);
}

TEST_F(XelCfgDbTest, records_lookupsAndCounts)
{
    smallSystem();
    EXPECT_FALSE(m_db->controllerNameUnique("C1"));
    EXPECT_FALSE(m_db->controllerNameUnique("c1")); // names are kept upper case
    EXPECT_TRUE(m_db->controllerNameUnique("C2"));
    EXPECT_FALSE(m_db->controllerAddressUnique(1));
    EXPECT_TRUE(m_db->controllerAddressUnique(2));
    EXPECT_FALSE(m_db->levelNameUnique("AUD"));
    EXPECT_FALSE(m_db->groupNameUnique("SRC", "CAM1"));
    EXPECT_TRUE(m_db->groupNameUnique("DST", "CAM1"));
    const qint64 c1 = m_db->ControllerID("C1").toLongLong();
    EXPECT_EQ(m_db->ControllerID("NOPE"), QString());
    EXPECT_FALSE(m_db->levelOffSetUnique(c1, 2));
    EXPECT_EQ(m_db->ControllerNumberLevels(c1), 2);
    EXPECT_EQ(m_db->ControllerLevels(c1), QStringList({ "VID", "AUD" }));
    EXPECT_EQ(m_db->NumberOfZeroControllers(), 0);
    EXPECT_EQ(m_db->NumberOfGroups("DST"), 1);
    EXPECT_EQ(m_db->GetNameSets(), QStringList { "STUDIO" });
    const qint64 set = m_db->nameSetID("STUDIO");
    EXPECT_EQ(m_db->nameSetName(set), "STUDIO");
    EXPECT_FALSE(m_db->nameSetNameUnique("STUDIO"));
    EXPECT_TRUE(m_db->nameSetNameUnique("STUDIO", set));
    EXPECT_EQ(m_db->nameSetMembers(set, "SRC"), QStringList({ "CAM1", "CAM2" }));
    // Every group has exactly one number per level.
    EXPECT_EQ(count("SELECT COUNT(*) FROM GrpDfn"), 3 * 2);
    const QList<GroupInfo> sources = m_db->Groups("SRC");
    ASSERT_EQ(sources.size(), 2);
    EXPECT_EQ(sources[1].name, "CAM2");
    EXPECT_EQ(sources[1].numbers, QList<int>({ 2, 0 }));
}

TEST_F(XelCfgDbTest, rangeTests_boundariesAndUnknownLevel)
{
    smallSystem();
    QString range;
    EXPECT_TRUE(m_db->InputInLevelRange("VID", 8, range));
    EXPECT_FALSE(m_db->InputInLevelRange("VID", 9, range));
    EXPECT_EQ(range, "0 to 8");
    EXPECT_TRUE(m_db->InputInLevelRange("VID", 0, range));
    EXPECT_FALSE(m_db->InputInLevelRange("VID", -1, range));
    EXPECT_EQ(range, "0 to 0");
    EXPECT_FALSE(m_db->OutputInLevelRange("NOPE", 1, range));
    EXPECT_EQ(range, "0 to 0");
    EXPECT_FALSE(m_db->OutputInLevelRange("AUD", 5, range));
    EXPECT_EQ(range, "0 to 4");
    const qint64 vid = m_db->levelId("VID");
    EXPECT_FALSE(m_db->OutputUniqueForLevel(vid, 1));
    EXPECT_TRUE(m_db->OutputUniqueForLevel(vid, 1, m_db->grpId("DST", "MON1")));
    EXPECT_TRUE(m_db->OutputUniqueForLevel(vid, 0));
}

TEST_F(XelCfgDbTest, deletes_cascadeToLevelsNumbersAndMembers)
{
    smallSystem();
    // Deleting a source removes its numbers and its name-set memberships.
    ASSERT_TRUE(m_db->UpdateGrpTable("Delete", "SRC", m_db->grpId("SRC", "CAM1")));
    EXPECT_EQ(count("SELECT COUNT(*) FROM GrpDfn"), 2 * 2);
    EXPECT_EQ(count("SELECT COUNT(*) FROM GrpSetDfn"), 2);
    // Deleting the controller removes its levels and every number on them.
    ASSERT_TRUE(m_db->UpdateControllerTable("Delete", m_db->ControllerID("C1").toLongLong()));
    EXPECT_EQ(m_db->numberOfLevels(), 0);
    EXPECT_EQ(count("SELECT COUNT(*) FROM GrpDfn"), 0);
    EXPECT_EQ(m_db->NumberOfGroups("SRC"), 1);
    // Deleting the name set removes its members, never the members' groups.
    ASSERT_TRUE(m_db->UpdateGrpSetTable("Delete", m_db->nameSetID("STUDIO")));
    EXPECT_EQ(count("SELECT COUNT(*) FROM GrpSetDfn"), 0);
    EXPECT_EQ(m_db->NumberOfGroups("DST"), 1);
    EXPECT_EQ(m_dialogs.count(), 0);
}

TEST_F(XelCfgDbTest, renameOnly_keepsTheNumbers)
{
    smallSystem();
    ASSERT_TRUE(m_db->UpdateGrpTable("Edit", "SRC", m_db->grpId("SRC", "CAM2"), "cam3"));
    const QList<GroupInfo> sources = m_db->Groups("SRC");
    EXPECT_EQ(sources[1].name, "CAM3");
    EXPECT_EQ(sources[1].numbers, QList<int>({ 2, 0 }));
    ASSERT_TRUE(m_db->UpdateGrpTable("Edit", "SRC", sources[1].id, "CAM3", { 0, 7 }));
    EXPECT_EQ(m_db->Groups("SRC")[1].numbers, QList<int>({ 0, 7 }));
}

TEST_F(XelCfgDbTest, writer_missingRecordShowsNotFound)
{
    EXPECT_FALSE(m_db->UpdateControllerTable("Edit", 999, "X", "1", "1"));
    ASSERT_GE(m_dialogs.count(), 2);
    EXPECT_EQ(m_dialogs.messageTexts()[0], "Record to EditNot Found");
    EXPECT_EQ(m_dialogs.messageTexts()[1], "Controller table update was not successful.");
}

TEST_F(XelCfgDbTest, newLevel_givesEveryGroupANumberZero)
{
    smallSystem();
    ASSERT_TRUE(m_db->UpdateControllerTable("Edit", m_db->ControllerID("C1").toLongLong(), "C1", "1", "3"));
    ASSERT_TRUE(m_db->UpdateLevelTable("Add", -1, "KEY", "C1", "3", "4", "4"));
    const QList<LevelInfo> levels = m_db->Levels();
    ASSERT_EQ(levels.size(), 3);
    EXPECT_EQ(levels[2].name, "KEY");
    EXPECT_EQ(levels[2].order, 3);
    EXPECT_EQ(
        count("SELECT COUNT(*) FROM GrpDfn WHERE GDIONUMBER = 0 AND GDLVID = " + QString::number(levels[2].id)), 3);
}

TEST_F(XelCfgDbTest, loweredInputCount_makesHigherNumbersAbsent)
{
    smallSystem();
    const qint64 vid = m_db->levelId("VID");
    ASSERT_TRUE(m_db->UpdateLevelTable("Edit", vid, "VID", "C1", "1", "1", "4", "1"));
    const QList<GroupInfo> sources = m_db->Groups("SRC");
    EXPECT_EQ(sources[0].numbers[0], 1); // CAM1 input 1 stays
    EXPECT_EQ(sources[1].numbers[0], 0); // CAM2 input 2 is gone
    EXPECT_EQ(m_db->Groups("DST")[0].numbers[0], 1);
}

TEST_F(XelCfgDbTest, levelOrdering_renumbersConsecutively)
{
    smallSystem();
    ASSERT_TRUE(m_db->UpdateControllerTable("Edit", m_db->ControllerID("C1").toLongLong(), "C1", "1", "3"));
    ASSERT_TRUE(m_db->UpdateLevelTable("Add", -1, "KEY", "C1", "3", "4", "4"));
    ASSERT_TRUE(m_db->UpdateLevelTable("Delete", m_db->levelId("VID")));
    EXPECT_FALSE(m_db->ValidLevelOrder());
    EXPECT_EQ(m_db->HighLevelOrderNumber(), 3);
    ASSERT_TRUE(m_db->UpdateLevelOrdering());
    EXPECT_TRUE(m_db->ValidLevelOrder());
    const QList<LevelInfo> levels = m_db->Levels();
    EXPECT_EQ(levels[0].name, "AUD");
    EXPECT_EQ(levels[1].name, "KEY");
    EXPECT_EQ(levels[1].order, 2);
}

TEST_F(XelCfgDbTest, convertDataType_typesAndLimits)
{
    QVariant v;
    QString message;
    EXPECT_TRUE(m_db->ConvertDataType("Controller", "CNADDRESS", "255", v, message));
    EXPECT_EQ(v.toInt(), 255);
    EXPECT_FALSE(m_db->ConvertDataType("Controller", "CNADDRESS", "256", v, message));
    EXPECT_EQ(message, "Overflow");
    EXPECT_TRUE(m_db->ConvertDataType("Lvl", "LVNUMBERINS", "32767", v, message));
    EXPECT_FALSE(m_db->ConvertDataType("Lvl", "LVNUMBERINS", "32768", v, message));
    EXPECT_FALSE(m_db->ConvertDataType("Lvl", "LVNUMBERINS", "12abc", v, message));
    EXPECT_FALSE(m_db->ConvertDataType("Lvl", "NOSUCH", "1", v, message));
    EXPECT_EQ(message, "Type Not Supported by ConvertDataType");
    EXPECT_FALSE(m_db->ConvertDataType("Grp", "GPNAME", "NINECHARS", v, message));
}

TEST_F(XelCfgDbTest, failedRecord_leavesNothingBehind)
{
    smallSystem();
    // MON2 passes the first level and fails on the second: no Grp row stays.
    EXPECT_FALSE(add("DST", { "MON2", "2", "9" }));
    EXPECT_TRUE(m_db->groupNameUnique("DST", "MON2"));
    EXPECT_EQ(count("SELECT COUNT(*) FROM GrpDfn"), 3 * 2);
}

TEST_F(XelCfgDbTest, nameSetMembers_addedOnceAndDeleted)
{
    smallSystem();
    ASSERT_TRUE(add("SNS", { "STUDIO", "CAM1" })); // existing set is reused, member not doubled
    const qint64 set = m_db->nameSetID("STUDIO");
    EXPECT_EQ(m_db->nameSetMembers(set, "SRC"), QStringList({ "CAM1", "CAM2" }));
    ASSERT_TRUE(m_db->UpdateGrpSetDfnTable("Delete", set, { m_db->grpId("SRC", "CAM2") }));
    EXPECT_EQ(m_db->nameSetMembers(set, "SRC"), QStringList({ "CAM1" }));
    EXPECT_EQ(m_db->GetNameSets(), QStringList({ "STUDIO" }));
}

TEST_F(XelCfgDbTest, defaultDatabase_builtInSystem)
{
    smallSystem();
    m_db->setCurrent("SITE", "/x/SITE.CFG");
    ASSERT_TRUE(m_db->LoadDefaultDatabase()) << m_db->lastError().toStdString();
    EXPECT_EQ(m_db->currentTitle(), "<Default>");
    EXPECT_EQ(m_db->Controllers(), QStringList { "CNTRL1" });
    EXPECT_EQ(m_db->NumberOfZeroControllers(), 1);
    const QList<LevelInfo> levels = m_db->Levels();
    ASSERT_EQ(levels.size(), 4);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(levels[i].name, QString("LEVEL%1").arg(i + 1));
        EXPECT_EQ(levels[i].offset, i + 1);
        EXPECT_EQ(levels[i].inputs, 16);
    }
    const QList<GroupInfo> dests = m_db->Groups("DST");
    ASSERT_EQ(dests.size(), 16);
    EXPECT_EQ(m_db->NumberOfGroups("SRC"), 16);
    EXPECT_EQ(dests[0].name, "DEST1");
    EXPECT_EQ(dests[0].numbers, QList<int>({ 1, 1, 1, 1 }));
    const qint64 all = m_db->nameSetID("ALL");
    EXPECT_EQ(m_db->nameSetMembers(all, "SRC").size(), 16);
    EXPECT_EQ(m_db->nameSetMembers(all, "DST").size(), 16);
}

TEST_F(XelCfgDbTest, recordsForFile_orderAndEmptyForms)
{
    ASSERT_TRUE(add("CTL", { "ZED", "2", "1" }));
    ASSERT_TRUE(add("CTL", { "ABC", "1", "1" }));
    ASSERT_TRUE(add("SRC", { "S2" }));
    ASSERT_TRUE(add("SRC", { "S1" }));
    ASSERT_TRUE(add("SNS", { "SETB" }));
    QStringList texts;
    ASSERT_TRUE(m_db->GetRecordsForFile("CTL", texts));
    EXPECT_EQ(texts, QStringList({ "ABC,1,1", "ZED,2,1" }));
    ASSERT_TRUE(m_db->GetRecordsForFile("SRC", texts));
    EXPECT_EQ(texts, QStringList({ "S1,, ", "S2,, " }));
    EXPECT_FALSE(m_db->GetRecordsForFile("DST", texts));
    EXPECT_FALSE(m_db->GetRecordsForFile("SNS", texts)); // sources exist, set has no source member
    ASSERT_TRUE(m_db->GetRecordsForFile("SND", texts)); // no destinations: one line per set
    EXPECT_EQ(texts, QStringList({ "SETB," }));
    EXPECT_FALSE(m_db->GetRecordsForFile("XYZ", texts));
}

TEST_F(XelCfgDbTest, gridQueries_runOnSQLite)
{
    smallSystem();
    for (const QString &sql : { m_db->CntrlGridEntries(), m_db->LevelGridEntries(), m_db->GrpSetListGridEntries(),
             m_db->GrpGridEntries("SRC"), m_db->GrpSetGridEntries("DST"), m_db->GrpSetDfnSQL(m_db->nameSetID("STUDIO")),
             m_db->GroupArrayEntries("SRC") }) {
        QSqlQuery q(m_db->database());
        EXPECT_TRUE(q.exec(sql)) << sql.toStdString();
        EXPECT_TRUE(q.next()) << sql.toStdString();
    }
    QSqlQuery q(m_db->database());
    ASSERT_TRUE(q.exec(m_db->GrpGridEntries("SRC")));
    ASSERT_TRUE(q.next());
    EXPECT_EQ(q.value(4).toString(), "CAM1");
    EXPECT_EQ(q.value(5).toInt(), 1);
    EXPECT_EQ(m_db->GroupFormatString("DST"), "Destination|VID|AUD");
}

// Guards against a level name holding "]" or a quote ending the column alias
// early, so the Sources and Destinations grids came up empty.
TEST_F(XelCfgDbTest, grpGridEntries_anyLegalLevelNameIsItsColumn)
{
    smallSystem();
    ASSERT_TRUE(m_db->UpdateLevelTable("Edit", m_db->levelId("VID"), "V]1", "C1", "1", "8", "4", "1"));
    ASSERT_TRUE(m_db->UpdateLevelTable("Edit", m_db->levelId("AUD"), "A\"[2'", "C1", "2", "8", "4", "2"));
    QSqlQuery q(m_db->database());
    ASSERT_TRUE(q.exec(m_db->GrpGridEntries("SRC"))) << q.lastError().text().toStdString();
    ASSERT_EQ(q.record().count(), 4 + 1 + 2);
    EXPECT_EQ(q.record().fieldName(5), "V]1");
    // (Qt's driver drops double quotes from column names; the grid takes its
    // captions from the levels themselves.)
    ASSERT_TRUE(q.next());
    EXPECT_EQ(q.value(4).toString(), "CAM1");
    EXPECT_EQ(q.value(5).toInt(), 1);
    EXPECT_EQ(q.value(6).toInt(), 1);
}

// Guards against two editors on one database: both could store the same
// controller name past their own uniqueness checks.
TEST_F(XelCfgDbTest, init_oneEditorPerDatabase)
{
    XelCfgDb second(&m_dialogs, m_path);
    EXPECT_FALSE(second.Init());
    EXPECT_FALSE(second.isOpen());
    ASSERT_TRUE(second.heldElsewhere());
    EXPECT_TRUE(second.holder().startsWith(QStringLiteral("process %1 (").arg(QCoreApplication::applicationPid())))
        << second.holder().toStdString();
    EXPECT_TRUE(second.lastError().contains(m_path));

    // A database of its own is no conflict; the first one closing frees this one.
    XelCfgDb other(&m_dialogs, m_path + ".other");
    EXPECT_TRUE(other.Init());
    m_db.reset();
    EXPECT_TRUE(second.Init()) << second.lastError().toStdString();
    EXPECT_FALSE(second.heldElsewhere());

    // An in-memory database (the import fuzzer's) belongs to its connection alone.
    XelCfgDb memory1(&m_dialogs, ":memory:"), memory2(&m_dialogs, ":memory:");
    EXPECT_TRUE(memory1.Init());
    EXPECT_TRUE(memory2.Init());
    EXPECT_FALSE(QFileInfo::exists(":memory:.lock"));
}

// Guards against applied work going unnoticed: only committed grid edits
// count as unsaved, and loading the default counts as saved.
TEST_F(XelCfgDbTest, unsavedChanges_followCommittedEdits)
{
    ASSERT_TRUE(m_db->LoadDefaultDatabase());
    EXPECT_FALSE(m_db->hasUnsavedChanges());
    {
        XelCfgDb::Transaction t(*m_db);
        ASSERT_TRUE(m_db->UpdateControllerTable("Edit", m_db->ControllerID("CNTRL1").toLongLong(), "MAIN", "0", "4"));
        EXPECT_FALSE(m_db->hasUnsavedChanges()) << "not before the outer commit";
        t.rollback();
    }
    EXPECT_FALSE(m_db->hasUnsavedChanges()) << "a rolled-back edit changed nothing";
    ASSERT_TRUE(m_db->UpdateGrpSetTable("Add", -1, "NEWSET"));
    EXPECT_TRUE(m_db->hasUnsavedChanges());
    m_db->markSaved();
    EXPECT_FALSE(m_db->hasUnsavedChanges());
    ASSERT_TRUE(m_db->UpdateGrpSetDfnTable("Add", m_db->nameSetID("NEWSET"), { m_db->grpId("SRC", "SOURCE1") }));
    EXPECT_TRUE(m_db->hasUnsavedChanges());
    ASSERT_TRUE(m_db->LoadDefaultDatabase());
    EXPECT_FALSE(m_db->hasUnsavedChanges());
}

} // namespace
