// The entry rules and every record-rule message, in the order the rules apply.
#include "dialogs.h"
#include "testsupport.h"
#include "xelcfgdb.h"
#include "xelcfgutilities.h"

#include <QFile>
#include <gtest/gtest.h>

using namespace exel;
using namespace exel::XelCfgUtilities;

namespace {

TEST(EntryRules, checkName)
{
    struct Case {
        QString in, out;
        bool ok;
        QString message;
    } cases[] = {
        { "  ABCDEFGH ", "ABCDEFGH", true, "" },
        { "ABCDEFGHI", "ABCDEFGHI", false, "Max name length is 8." },
        { "    ", "", false, "Name required." },
        { "", "", false, "Name required." },
        { "A,B", "A,B", false, "Name cannot include commas." },
    };
    for (Case c : cases) {
        const RuleResult r = CheckName(c.in);
        EXPECT_EQ(r.ok, c.ok) << c.out.toStdString();
        EXPECT_EQ(r.message, c.message);
        EXPECT_EQ(c.in, c.out);
    }
}

TEST(EntryRules, addressCountAndNumber)
{
    EXPECT_TRUE(CheckAddress("255").ok);
    EXPECT_TRUE(CheckAddress("0").ok);
    EXPECT_EQ(CheckAddress("256").message, "Invalid Address");
    EXPECT_EQ(CheckAddress("-1").message, "Invalid Address");
    EXPECT_EQ(CheckAddress("1x").message, "Invalid Address");
    EXPECT_EQ(CheckAddress(" ").message, "Address Required.");
    EXPECT_TRUE(CheckCount("1").ok);
    EXPECT_TRUE(CheckCount("32767").ok);
    EXPECT_FALSE(CheckCount("32768").ok);
    EXPECT_FALSE(CheckCount("0").ok);
    EXPECT_FALSE(CheckCount("").ok);
    EXPECT_TRUE(CheckIONumber("0").ok);
    EXPECT_FALSE(CheckIONumber("-1").ok);
    EXPECT_FALSE(CheckIONumber("99999999999999999999").ok);
}

class RecordRules : public ::testing::Test {
protected:
    void SetUp() override
    {
        const QString path = test::tempHome() + QStringLiteral("/rules-%1.mdb").arg(++s_serial);
        QFile::remove(path);
        m_db = std::make_unique<XelCfgDb>(&m_dialogs, path);
        ASSERT_TRUE(m_db->Init());
        QString m;
        ASSERT_TRUE(m_db->AddRecordFromFile("CTL", { "C1", "1", "2" }, m));
        ASSERT_TRUE(m_db->AddRecordFromFile("LVL", { "VID", "C1", "1", "16", "8" }, m));
        ASSERT_TRUE(m_db->AddRecordFromFile("SRC", { "CAM1", "1" }, m));
        ASSERT_TRUE(m_db->AddRecordFromFile("DST", { "MON1", "5" }, m));
        ASSERT_TRUE(m_db->AddRecordFromFile("SNS", { "SET1", "CAM1" }, m));
    }
    static inline int s_serial = 0;
    ScriptedDialogs m_dialogs;
    std::unique_ptr<XelCfgDb> m_db;
};

TEST_F(RecordRules, everyMessageInRuleOrder)
{
    struct Case {
        const char *key;
        QStringList fields;
        QString message; // "" = accepted
    } cases[] = {
        // Controllers
        { "CTL", { "", "2", "1" }, "Controller, :Name required." },
        { "CTL", { "TOOLONGNAME", "2", "1" }, "Controller, TOOLONGNAME:Max name length is 8." },
        { "CTL", { "C1", "2", "1" }, "Controller Name, C1, is not Unique." },
        { "CTL", { "C2", "", "1" }, "Controller Address, :Address Required." },
        { "CTL", { "C2", "256", "1" }, "Controller Address, 256:Invalid Address" },
        { "CTL", { "C2", "1", "1" }, "Controller Address, 1, is not Unique." },
        { "CTL", { "C2", "2", "0" }, "Number of levels, 0, for Controller, C2, is not valid." },
        { "CTL", { "C2", "2", "32768" }, "Number of levels, 32768, for Controller, C2, is not valid." },
        { "CTL", { "C2", "255", "1" }, "" },
        // Levels
        { "LVL", { "A,B", "C1", "2", "1", "1" }, "Level, A,B:Name cannot include commas." },
        { "LVL", { "VID", "C1", "2", "1", "1" }, "Level Name, VID, is not Unique." },
        { "LVL", { "AUD", "CX", "2", "1", "1" }, "Controller, CX, for Level, AUD, is not valid." },
        { "LVL", { "AUD", "C1", "0", "1", "1" }, "Level: AUD, Controller Level Offset, 0, is out of range." },
        { "LVL", { "AUD", "C1", "3", "1", "1" },
            "Level: AUD, Controller Level Offset, 3 is not in range for that controller." },
        { "LVL", { "AUD", "C1", "1", "1", "1" },
            "Level: AUD, Controller Level Offset, 1, is not unique for that controller." },
        { "LVL", { "AUD", "C1", "2", "0", "1" }, "Invalid number of inputs for level, AUD" },
        { "LVL", { "AUD", "C1", "2", "1", "x" }, "Invalid number of outputs for level, AUD" },
        // Sources and destinations
        { "SRC", { "NINECHARS", "1" }, "Source:NINECHARS is not valid.  Error:Max name length is 8." },
        { "SRC", { "CAM1", "1" }, "Source Name, CAM1, is not Unique." },
        { "DST", { "MON1", "1" }, "Destination Name, MON1, is not Unique." },
        { "SRC", { "CAM2", "17" }, "Source:CAM2, Input 17,on VID level is not in level range:0 to 16" },
        { "SRC", { "CAM2", "-1" }, "Source:CAM2, Input -1,on VID level is not in level range:0 to 16" },
        { "DST", { "MON2", "9" }, "Destination:MON2, Output 9,on VID level is not in level range:0 to 8" },
        { "DST", { "MON2", "5" }, "Destination: MON2, Output for VID level is not unique." },
        { "SRC", { "CAM2", "16", "99" }, "" }, // numbers past the last level are cut
        { "DST", { "MON2", "0" }, "" },
        { "DST", { "MON3", "0" }, "" }, // output 0 may repeat
        // Name sets
        { "SNS", { "", "CAM1" }, "NameSet, :Name required." },
        { "SNS", { "SET1", "NOPE" }, "Nameset:SET1, Source:NOPE could not be added." },
        { "SND", { "SET1", "CAM1" }, "Nameset:SET1, Destination:CAM1 could not be added." },
        { "SND", { "SET1", "MON1" }, "" },
    };
    for (const Case &c : cases) {
        QString message;
        const bool ok = m_db->AddRecordFromFile(c.key, c.fields, message);
        EXPECT_EQ(ok, c.message.isEmpty()) << c.key << " " << c.fields.join(',').toStdString();
        EXPECT_EQ(message, c.message) << c.key << " " << c.fields.join(',').toStdString();
    }
    QString message;
    EXPECT_FALSE(m_db->AddRecordFromFile("XYZ", { "A" }, message));
    EXPECT_TRUE(message.isEmpty());
}

TEST_F(RecordRules, singleDropControllerExcludesAllOthers)
{
    QString m;
    ASSERT_TRUE(m_db->UpdateControllerTable("Delete", m_db->ControllerID("C1").toLongLong()));
    ASSERT_TRUE(m_db->AddRecordFromFile("CTL", { "ZERO", "0", "1" }, m)) << m.toStdString();
    EXPECT_FALSE(m_db->AddRecordFromFile("CTL", { "OTHER", "7", "1" }, m));
    EXPECT_EQ(m,
        "The database contains a controller with an address of 0.\n"
        "This indicates a single drop controller.\n"
        "Only one controller is allowed in this case.");
}

TEST_F(RecordRules, numbersWithoutLevels)
{
    QString m;
    ASSERT_TRUE(m_db->UpdateControllerTable("Delete", m_db->ControllerID("C1").toLongLong()));
    EXPECT_FALSE(m_db->AddRecordFromFile("SRC", { "CAM9", "1" }, m));
    EXPECT_EQ(m, "Level Definitions exist for Source:CAM9, but no levels exist.");
    EXPECT_TRUE(m_db->AddRecordFromFile("SRC", { "CAM9" }, m));
}

TEST_F(RecordRules, namesAreStoredUpperCase)
{
    QString m;
    ASSERT_TRUE(m_db->AddRecordFromFile("SRC", { "cam7", "3" }, m));
    EXPECT_GE(m_db->grpId("SRC", "CAM7"), 0);
    EXPECT_FALSE(m_db->AddRecordFromFile("SRC", { "CAM7" }, m));
}

} // namespace
