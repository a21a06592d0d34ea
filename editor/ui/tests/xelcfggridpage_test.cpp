// Grid rules, delete marking and Apply/Cancel of the editor's pages.
#include "dialogs.h"
#include "testsupport.h"
#include "xelcfggridpage.h"

#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <gtest/gtest.h>

using namespace exel;

namespace {

class GridPage : public ::testing::Test {
protected:
    void SetUp() override
    {
        const QString path = test::tempHome() + QStringLiteral("/grid-%1.mdb").arg(++s_serial);
        QFile::remove(path);
        m_db = std::make_unique<XelCfgDb>(&m_dialogs, path);
        ASSERT_TRUE(m_db->Init());
        ASSERT_TRUE(m_db->LoadDefaultDatabase());
    }
    std::unique_ptr<XelCfgGridPage> page(GridKind kind)
    {
        auto p = std::make_unique<XelCfgGridPage>(kind, *m_db, m_dialogs);
        EXPECT_TRUE(p->reload());
        return p;
    }
    bool edit(XelCfgGridPage &p, int row, int column, const QString &value)
    {
        return p.model()->setData(p.model()->index(row, column), value, Qt::EditRole);
    }
    static inline int s_serial = 0;
    ScriptedDialogs m_dialogs;
    std::unique_ptr<XelCfgDb> m_db;
};

TEST_F(GridPage, controllerEdits_refusedWithDataEntryError)
{
    auto p = page(GridKind::Controller);
    ASSERT_EQ(p->model()->rowCount(), 1);
    EXPECT_EQ(p->model()->headerData(4, Qt::Horizontal).toString(), "Controller");
    const int r = p->addRow();
    struct Case {
        int column;
        QString value, message;
    } cases[] = {
        { 4, "CNTRL1", "Controller Name is not unique." },
        { 4, "NINECHARS", "Max name length is 8." },
        { 5, "0", "Controller Address is not unique." },
        { 5, "300", "Invalid Address" },
        { 5, "7", "A controller address of zero indicates a single drop controller." },
        { 6, "0", "Number of Levels must be in range 1 to 32767." },
    };
    for (const Case &c : cases) {
        m_dialogs.clear();
        EXPECT_FALSE(edit(*p, r, c.column, c.value)) << c.value.toStdString();
        ASSERT_EQ(m_dialogs.count(), 1);
        EXPECT_EQ(m_dialogs.lastText(), c.message);
        EXPECT_EQ(m_dialogs.shown()[0].title, "Data Entry Error");
    }
    // Four levels sit on offsets 1..4: the controller cannot shrink below that.
    m_dialogs.clear();
    EXPECT_FALSE(edit(*p, 0, 6, "3"));
    EXPECT_TRUE(m_dialogs.lastText().startsWith("Level Offset must be in range 1 to 3"));
    EXPECT_TRUE(edit(*p, 0, 4, " main "));
    EXPECT_EQ(p->model()->cell(0, 4), "MAIN");
}

TEST_F(GridPage, controllerApply_addEditDeleteWithWarning)
{
    auto p = page(GridKind::Controller);
    // The single-drop controller goes; two addressed ones replace it.
    m_dialogs.queueAnswer(MsgAnswer::Cancel);
    EXPECT_FALSE(p->toggleDelete(0));
    EXPECT_EQ(m_dialogs.shown()[0].title, "Delete Warning");
    EXPECT_EQ(m_dialogs.lastText(),
        "Deleting controller will also delete  the following levels:\n"
        "LEVEL1\nLEVEL2\nLEVEL3\nLEVEL4\nContinue?");
    EXPECT_FALSE(p->model()->isMarkedDelete(0));
    EXPECT_TRUE(p->toggleDelete(0)); // default answer OK
    const int a = p->addRow();
    ASSERT_TRUE(edit(*p, a, 4, "A"));
    ASSERT_TRUE(edit(*p, a, 5, "1"));
    const int b = p->addRow();
    ASSERT_TRUE(edit(*p, b, 4, "B"));
    ASSERT_TRUE(edit(*p, b, 5, "2"));
    ASSERT_TRUE(edit(*p, b, 6, "3"));
    ASSERT_TRUE(p->Apply());
    EXPECT_EQ(m_db->Controllers(), QStringList({ "A", "B" }));
    EXPECT_EQ(m_db->numberOfLevels(), 0); // cascaded with CNTRL1
    EXPECT_EQ(m_db->ControllerNumberLevels(m_db->ControllerID("B").toLongLong()), 3);
    EXPECT_FALSE(p->model()->hasPendingChanges());
}

TEST_F(GridPage, apply_refusesAnIncompleteNewRowAndWritesNothing)
{
    ASSERT_TRUE(m_db->ReinitDatabase());
    QString m;
    ASSERT_TRUE(m_db->AddRecordFromFile("CTL", { "CNTRL1", "1", "1" }, m));
    auto p = page(GridKind::Controller);
    ASSERT_TRUE(edit(*p, 0, 4, "RENAMED"));
    p->addRow(); // no name, no address
    m_dialogs.clear();
    EXPECT_FALSE(p->Apply());
    EXPECT_EQ(p->failedRow(), 1);
    EXPECT_EQ(m_dialogs.lastText(), "Name required.");
    EXPECT_EQ(m_db->Controllers(), QStringList { "CNTRL1" });
}

TEST_F(GridPage, unmarkDelete_refusedWhenItWouldClash)
{
    auto p = page(GridKind::Level);
    ASSERT_TRUE(p->toggleDelete(0)); // LEVEL1 marked
    ASSERT_TRUE(edit(*p, 1, 5, "LEVEL1")); // LEVEL2 takes its name
    m_dialogs.clear();
    EXPECT_TRUE(p->toggleDelete(0)); // stays marked
    EXPECT_EQ(m_dialogs.lastText(), "Cannot Unmark Delete because Level Name is not unique.");
}

TEST_F(GridPage, levelRules)
{
    auto p = page(GridKind::Level);
    ASSERT_EQ(p->model()->rowCount(), 4);
    struct Case {
        int column;
        QString value, message;
    } cases[] = {
        { 5, "LEVEL2", "Level Name is not unique." },
        { 6, "5", "Valid range for Level is 1 to 4" },
        { 8, "2", "Level Offset is not unique for associated controller." },
        { 8, "5", "Level Offset must be in range 1 to 4" },
        { 7, "NOPE", "Controller, NOPE, for Level, LEVEL1, is not valid." },
        { 9, "0", "Invalid number of inputs for level, LEVEL1" },
    };
    for (const Case &c : cases) {
        m_dialogs.clear();
        EXPECT_FALSE(edit(*p, 0, c.column, c.value)) << c.value.toStdString();
        EXPECT_EQ(m_dialogs.lastText(), c.message);
    }
}

TEST_F(GridPage, levelApply_reorderAndLowerCounts)
{
    auto p = page(GridKind::Level);
    // Typing LEVEL2's number into LEVEL1 swaps them; LEVEL1 shrinks to 8 inputs.
    ASSERT_TRUE(edit(*p, 0, 6, "2"));
    EXPECT_EQ(p->model()->cell(1, 6), "1");
    EXPECT_TRUE(p->model()->isChanged(1));
    ASSERT_TRUE(edit(*p, 0, 9, "8"));
    ASSERT_TRUE(p->Apply());
    const QList<LevelInfo> levels = m_db->Levels();
    EXPECT_EQ(levels[0].name, "LEVEL2");
    EXPECT_EQ(levels[1].name, "LEVEL1");
    EXPECT_EQ(levels[1].inputs, 8);
    int present = 0;
    for (const GroupInfo &g : m_db->Groups("SRC"))
        present += g.numbers[1] != 0 ? 1 : 0;
    EXPECT_EQ(present, 8); // SOURCE9..16 are absent on LEVEL1 now
}

TEST_F(GridPage, sourceAndDestinationNumbers)
{
    auto s = page(GridKind::Source);
    ASSERT_EQ(s->model()->rowCount(), 16);
    ASSERT_EQ(s->model()->columnCount(), 4 + 1 + 4);
    EXPECT_EQ(s->model()->headerData(5, Qt::Horizontal).toString(), "LEVEL1");
    m_dialogs.clear();
    EXPECT_FALSE(edit(*s, 0, 5, "17"));
    EXPECT_EQ(m_dialogs.lastText(), "Valid range for Level is 0 to 16");
    EXPECT_FALSE(edit(*s, 0, 5, "x"));
    EXPECT_EQ(m_dialogs.lastText(), "Not a valid input.");
    EXPECT_TRUE(edit(*s, 0, 5, "16")); // sources may share an input
    const int r = s->addRow();
    ASSERT_TRUE(edit(*s, r, 4, "NEWSRC"));
    ASSERT_TRUE(edit(*s, r, 6, "3"));
    ASSERT_TRUE(s->Apply());
    const qint64 id = m_db->grpId("SRC", "NEWSRC");
    ASSERT_GE(id, 0);
    for (const GroupInfo &g : m_db->Groups("SRC")) {
        if (g.id == id) {
            EXPECT_EQ(g.numbers, QList<int>({ 0, 3, 0, 0 }));
        }
    }

    auto d = page(GridKind::Destination);
    m_dialogs.clear();
    EXPECT_FALSE(edit(*d, 0, 5, "2"));
    EXPECT_EQ(m_dialogs.lastText(), "Output is not unique on that level.");
    EXPECT_FALSE(edit(*d, 0, 5, "y"));
    EXPECT_EQ(m_dialogs.lastText(), "Not a valid output.");
    EXPECT_TRUE(edit(*d, 0, 5, "0"));
    EXPECT_TRUE(edit(*d, 1, 5, "0")); // 0 may repeat
    EXPECT_FALSE(edit(*d, 2, 4, "DEST4"));
    EXPECT_EQ(m_dialogs.lastText(), "Destination Name, DEST4, is not Unique.");
}

TEST_F(GridPage, nameSetList_uniqueAndDelete)
{
    auto p = page(GridKind::NameSetList);
    const int r = p->addRow();
    m_dialogs.clear();
    EXPECT_FALSE(edit(*p, r, 4, "all"));
    EXPECT_EQ(m_dialogs.lastText(), "Name Set name is not unique.");
    ASSERT_TRUE(edit(*p, r, 4, "news"));
    ASSERT_TRUE(p->toggleDelete(0));
    ASSERT_TRUE(p->Apply());
    EXPECT_EQ(m_db->GetNameSets(), QStringList { "NEWS" });
    EXPECT_EQ(m_db->NumberOfGroups("SRC"), 16); // members stay
}

// Guards against New Row writing into a grid whose query failed (a crash): a
// database another program has locked.
TEST_F(GridPage, newRow_onAPageThatCouldNotBeRead_addsNothingAndSaysWhy)
{
    QString other = QStringLiteral("locker-%1").arg(s_serial);
    {
        QSqlDatabase locker = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), other);
        locker.setDatabaseName(m_db->path());
        ASSERT_TRUE(locker.open());
        QSqlQuery lock(locker);
        ASSERT_TRUE(lock.exec(QStringLiteral("BEGIN EXCLUSIVE")));
        m_db->setBusyTimeout(0);

        for (GridKind kind : { GridKind::Source, GridKind::Controller, GridKind::Level }) {
            XelCfgGridPage p(kind, *m_db, m_dialogs);
            EXPECT_FALSE(p.reload());
            EXPECT_EQ(p.model()->rowCount(), 0);
            m_dialogs.clear();
            EXPECT_EQ(p.addRow(), -1);
            EXPECT_EQ(p.model()->rowCount(), 0);
            ASSERT_EQ(m_dialogs.count(), 1);
            EXPECT_EQ(m_dialogs.shown()[0].title, "Database Error");
            EXPECT_TRUE(m_dialogs.lastText().startsWith("Unable to read this page from the configuration database.\n"
                                                        "Error #  5\n"))
                << m_dialogs.lastText().toStdString();
        }
        // Once the other program lets go, New Row reads the page and adds its row.
        XelCfgGridPage p(GridKind::Source, *m_db, m_dialogs);
        EXPECT_FALSE(p.reload());
        ASSERT_TRUE(lock.exec(QStringLiteral("ROLLBACK")));
        m_dialogs.clear();
        EXPECT_EQ(p.addRow(), 16);
        EXPECT_EQ(m_dialogs.count(), 0);
        EXPECT_EQ(p.model()->cell(16, 5), "0");
        locker.close();
    }
    QSqlDatabase::removeDatabase(other);
}

// Guards against the other way in: a legal level name with "]" emptied the
// Sources page, and New Row then wrote into an empty grid.
TEST_F(GridPage, newRow_onSourcesWithABracketInALevelName)
{
    ASSERT_TRUE(m_db->UpdateLevelTable("Edit", m_db->levelId("LEVEL2"), "L]2", "CNTRL1", "2", "16", "16", "2"));
    ASSERT_TRUE(m_db->UpdateLevelTable("Edit", m_db->levelId("LEVEL3"), "Q\"3", "CNTRL1", "3", "16", "16", "3"));
    auto p = page(GridKind::Source);
    ASSERT_EQ(p->model()->rowCount(), 16);
    EXPECT_EQ(p->model()->headerData(6, Qt::Horizontal).toString(), "L]2");
    EXPECT_EQ(p->model()->headerData(7, Qt::Horizontal).toString(), "Q\"3");
    const int r = p->addRow();
    ASSERT_EQ(r, 16);
    ASSERT_TRUE(edit(*p, r, 4, "NEWSRC"));
    ASSERT_TRUE(edit(*p, r, 6, "7"));
    ASSERT_TRUE(p->Apply());
    const qint64 id = m_db->grpId("SRC", "NEWSRC");
    for (const GroupInfo &g : m_db->Groups("SRC")) {
        if (g.id == id) {
            EXPECT_EQ(g.numbers, QList<int>({ 0, 7, 0, 0 }));
        }
    }
}

// Guards against deleting a controller leaving a gap in the level numbers
// (the levels left kept 2..n) when the delete is applied.
TEST_F(GridPage, controllerDelete_closesUpTheLevelNumbers)
{
    ASSERT_TRUE(m_db->ReinitDatabase());
    QString m;
    for (const QStringList &ctl : { QStringList { "C1", "1", "2" }, QStringList { "C2", "2", "2" } })
        ASSERT_TRUE(m_db->AddRecordFromFile("CTL", ctl, m)) << m.toStdString();
    for (const QStringList &lvl : { QStringList { "A", "C1", "1", "4", "4" }, QStringList { "B", "C2", "1", "4", "4" },
             QStringList { "C", "C1", "2", "4", "4" }, QStringList { "D", "C2", "2", "4", "4" } })
        ASSERT_TRUE(m_db->AddRecordFromFile("LVL", lvl, m)) << m.toStdString();
    auto p = page(GridKind::Controller);
    ASSERT_EQ(p->model()->cell(0, 4), "C1");
    ASSERT_TRUE(p->toggleDelete(0)); // the warning answered OK
    ASSERT_TRUE(p->Apply());
    const QList<LevelInfo> levels = m_db->Levels();
    ASSERT_EQ(levels.size(), 2);
    EXPECT_EQ(levels[0].name, "B");
    EXPECT_EQ(levels[0].order, 1);
    EXPECT_EQ(levels[1].name, "D");
    EXPECT_EQ(levels[1].order, 2);
    EXPECT_TRUE(m_db->ValidLevelOrder());
}

// Guards against New Row on the Levels page proposing an offset its own rule
// refuses (offset 2 on a one-level controller).
TEST_F(GridPage, newLevelRow_proposesAnOffsetTheRuleAccepts)
{
    ASSERT_TRUE(m_db->ReinitDatabase());
    QString m;
    ASSERT_TRUE(m_db->AddRecordFromFile("CTL", { "ONE", "1", "1" }, m));
    ASSERT_TRUE(m_db->AddRecordFromFile("LVL", { "VID", "ONE", "1", "4", "4" }, m));
    {
        auto p = page(GridKind::Level);
        const int r = p->addRow();
        EXPECT_EQ(p->model()->cell(r, 7), "ONE");
        EXPECT_EQ(p->model()->cell(r, 8), "") << "no free offset: none proposed";
    }
    // A second controller with room: the new level goes there, at its first free offset.
    ASSERT_TRUE(m_db->AddRecordFromFile("CTL", { "TWO", "2", "3" }, m));
    ASSERT_TRUE(m_db->AddRecordFromFile("LVL", { "AUD", "TWO", "1", "4", "4" }, m));
    auto p = page(GridKind::Level);
    const int r = p->addRow();
    EXPECT_EQ(p->model()->cell(r, 7), "TWO");
    EXPECT_EQ(p->model()->cell(r, 8), "2");
    QString offset = p->model()->cell(r, 8);
    EXPECT_TRUE(p->validate(r, 8, offset).ok);
    ASSERT_TRUE(edit(*p, r, 5, "TC"));
    ASSERT_TRUE(edit(*p, r, 9, "4"));
    ASSERT_TRUE(edit(*p, r, 10, "4"));
    EXPECT_TRUE(p->Apply()) << m_dialogs.lastText().toStdString();
}

} // namespace
