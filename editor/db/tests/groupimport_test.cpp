// The group phase of an import (GroupImport) and whole rebuilds: records go in
// whole or not at all without a savepoint each, the rules see what is in the
// database, and foreign keys are enforced again afterwards.
#include "dialogs.h"
#include "testsupport.h"
#include "xelcfgdb.h"

#include <QFile>
#include <QSqlQuery>
#include <gtest/gtest.h>

using namespace exel;

namespace {

class GroupImportTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_path = test::tempHome() + QStringLiteral("/gi-%1.mdb").arg(++s_serial);
        QFile::remove(m_path);
        m_db = std::make_unique<XelCfgDb>(&m_dialogs, m_path);
        ASSERT_TRUE(m_db->Init()) << m_db->lastError().toStdString();
        ASSERT_TRUE(add("CTL", { "C1", "1", "2" })) << m_message.toStdString();
        ASSERT_TRUE(add("LVL", { "VID", "C1", "1", "8", "4" })) << m_message.toStdString();
        ASSERT_TRUE(add("LVL", { "AUD", "C1", "2", "8", "4" })) << m_message.toStdString();
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

    // Makes the database refuse the rows a test names, the way a full disk
    // or a broken file would refuse them halfway through a record.
    void refuse(const QString &table, const QString &when)
    {
        QSqlQuery q(m_db->database());
        ASSERT_TRUE(q.exec(QStringLiteral("CREATE TRIGGER refuse_%1 BEFORE INSERT ON %1 WHEN %2 "
                                          "BEGIN SELECT RAISE(ABORT, 'refused'); END")
                               .arg(table, when)));
    }

    static inline int s_serial = 0;
    QString m_path;
    QString m_message;
    ScriptedDialogs m_dialogs;
    std::unique_ptr<XelCfgDb> m_db;
};

TEST_F(GroupImportTest, groupRefusedOnItsSecondLevel_leavesNoRowsAndItsNameFree)
{
    const qint64 aud = m_db->levelId("AUD");
    refuse("GrpDfn", QStringLiteral("NEW.GDLVID = %1 AND NEW.GDIONUMBER = 3").arg(aud));
    XelCfgDb::Transaction t(*m_db);
    {
        XelCfgDb::GroupImport import(*m_db);
        ASSERT_TRUE(add("SRC", { "CAM1", "1", "1" })) << m_message.toStdString();
        EXPECT_FALSE(add("SRC", { "CAM2", "2", "3" }));
        EXPECT_EQ(m_message, "Source could not be added to database.");
        EXPECT_EQ(count("SELECT COUNT(*) FROM Grp"), 1);
        EXPECT_EQ(count("SELECT COUNT(*) FROM GrpDfn"), 2);
        // The failed name was never taken: the same record with a number the
        // database accepts goes in, and a name set finds it.
        ASSERT_TRUE(add("SRC", { "CAM2", "2", "2" })) << m_message.toStdString();
        ASSERT_TRUE(add("SNS", { "STUDIO", "CAM1", "CAM2" })) << m_message.toStdString();
    }
    ASSERT_TRUE(t.commit());
    const QList<GroupInfo> sources = m_db->Groups("SRC");
    ASSERT_EQ(sources.size(), 2);
    EXPECT_EQ(sources[1].numbers, QList<int>({ 2, 2 }));
    EXPECT_EQ(m_db->nameSetMembers(m_db->nameSetID("STUDIO"), "SRC"), QStringList({ "CAM1", "CAM2" }));
}

TEST_F(GroupImportTest, nameSetRefusedOnAMember_keepsWhatEarlierLinesAdded)
{
    XelCfgDb::Transaction t(*m_db);
    {
        XelCfgDb::GroupImport import(*m_db);
        for (const char *name : { "CAM1", "CAM2", "CAM3" })
            ASSERT_TRUE(add("SRC", { name, "1", "1" })) << m_message.toStdString();
        ASSERT_TRUE(add("SNS", { "STUDIO", "CAM1" }));
        const qint64 cam3 = m_db->grpId("SRC", "CAM3");
        refuse("GrpSetDfn", QStringLiteral("NEW.GNGPID = %1").arg(cam3));
        // CAM1 is already a member, CAM2 is added by this line, CAM3 is refused:
        // the line's own member goes, the earlier line's stays.
        EXPECT_FALSE(add("SNS", { "STUDIO", "CAM1", "CAM2", "CAM3" }));
        EXPECT_EQ(m_message, "Name set, STUDIO, could not be added.");
        EXPECT_EQ(m_db->nameSetMembers(m_db->nameSetID("STUDIO"), "SRC"), QStringList({ "CAM1" }));
        // A new set whose only member is refused is not left behind empty.
        EXPECT_FALSE(add("SNS", { "WINGS", "CAM3" }));
        EXPECT_EQ(m_db->nameSetID("WINGS"), -1);
        EXPECT_TRUE(add("SNS", { "WINGS", "CAM2" })) << m_message.toStdString();
    }
    ASSERT_TRUE(t.commit());
    EXPECT_EQ(m_db->GetNameSets(), QStringList({ "STUDIO", "WINGS" }));
    EXPECT_EQ(count("SELECT COUNT(*) FROM GrpSetDfn"), 2);
}

TEST_F(GroupImportTest, rulesSeeRowsAlreadyInTheDatabase)
{
    ASSERT_TRUE(add("SRC", { "CAM1", "1", "1" }));
    ASSERT_TRUE(add("DST", { "MON1", "1", "1" }));
    ASSERT_TRUE(add("SNS", { "STUDIO", "CAM1" }));
    XelCfgDb::Transaction t(*m_db);
    {
        XelCfgDb::GroupImport import(*m_db);
        EXPECT_FALSE(add("SRC", { "CAM1", "2", "2" }));
        EXPECT_EQ(m_message, "Source Name, CAM1, is not Unique.");
        // The same name as the other kind is no clash.
        EXPECT_TRUE(add("DST", { "CAM1", "2", "2" })) << m_message.toStdString();
        EXPECT_FALSE(add("DST", { "MON2", "1", "0" }));
        EXPECT_EQ(m_message, "Destination: MON2, Output for VID level is not unique.");
        EXPECT_FALSE(add("SND", { "STUDIO", "MON1", "CAM9" }));
        EXPECT_EQ(m_message, "Nameset:STUDIO, Destination:CAM9 could not be added.");
        // An existing set is added to, not made twice.
        EXPECT_TRUE(add("SND", { "STUDIO", "MON1", "CAM1" })) << m_message.toStdString();
    }
    ASSERT_TRUE(t.commit());
    EXPECT_EQ(m_db->GetNameSets(), QStringList({ "STUDIO" }));
    const qint64 set = m_db->nameSetID("STUDIO");
    EXPECT_EQ(m_db->nameSetMembers(set, "SRC"), QStringList({ "CAM1" }));
    EXPECT_EQ(m_db->nameSetMembers(set, "DST"), QStringList({ "CAM1", "MON1" }));
}

TEST_F(GroupImportTest, rebuild_clearsWholeThenEnforcesForeignKeysAgain)
{
    ASSERT_TRUE(add("SRC", { "CAM1", "1", "1" }));
    ASSERT_TRUE(add("SNS", { "STUDIO", "CAM1" }));
    {
        XelCfgDb::Rebuild rebuild(*m_db);
        EXPECT_EQ(count("PRAGMA foreign_keys"), 0);
        XelCfgDb::Transaction t(*m_db);
        ASSERT_TRUE(m_db->ReinitDatabase());
        EXPECT_EQ(count("SELECT (SELECT COUNT(*) FROM Grp) + (SELECT COUNT(*) FROM GrpDfn) + (SELECT COUNT(*) FROM "
                        "GrpSetDfn) + (SELECT COUNT(*) FROM Lvl)"),
            0);
        // Inside a transaction SQLite keeps the setting as it is: a nested
        // rebuild must not claim to have changed it, nor turn it on early.
        {
            XelCfgDb::Rebuild nested(*m_db);
        }
        EXPECT_EQ(count("PRAGMA foreign_keys"), 0);
        t.rollback();
    }
    EXPECT_EQ(count("PRAGMA foreign_keys"), 1);
    EXPECT_EQ(m_db->Groups("SRC").size(), 1); // the rolled-back clear left all as it was
    // Deleting a level cascades to the numbers again.
    ASSERT_TRUE(m_db->exec("DELETE FROM Lvl WHERE LVNAME = 'AUD'"));
    EXPECT_EQ(count("SELECT COUNT(*) FROM GrpDfn"), 1);
    EXPECT_TRUE(m_db->LoadDefaultDatabase()) << m_db->lastError().toStdString();
    EXPECT_EQ(count("PRAGMA foreign_keys"), 1);
}

} // namespace
