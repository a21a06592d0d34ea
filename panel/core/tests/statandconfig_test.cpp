// The system model: default system, lookups, adders and the active-levels rule.
#include "statandconfig.h"

#include <gtest/gtest.h>

using namespace exel;

TEST(StatandConfig, defaultSystemIsFourLevelsOfSixteen)
{
    StatandConfig m;
    m.BuildDefaultSystem();
    ASSERT_EQ(m.controllerCount(), 1);
    EXPECT_EQ(m.controller(0).name, QStringLiteral("DefSystem"));
    EXPECT_EQ(m.controller(0).address, 0);
    EXPECT_EQ(m.controller(0).numLevels, 4);
    ASSERT_EQ(m.levelCount(), 4);
    EXPECT_EQ(m.LevelName(0), QStringLiteral("Level1"));
    EXPECT_EQ(m.LevelName(3), QStringLiteral("Level4"));
    EXPECT_EQ(m.level(2).levelNumber, 2);
    EXPECT_EQ(m.level(2).numInputs, 16);
    ASSERT_EQ(m.sourceCount(), 16);
    ASSERT_EQ(m.destinationCount(), 16);
    EXPECT_EQ(m.SourceName(0), QStringLiteral("Input1"));
    EXPECT_EQ(m.DestinationName(15), QStringLiteral("Outpt16"));
    // Source i (1-based) has input number i on every level, stored 0-based.
    EXPECT_EQ(m.SourceNumbers(4), (std::vector<int16_t>{4, 4, 4, 4}));
    EXPECT_EQ(m.DestinationNumber(15, 3), 15);
    ASSERT_EQ(m.nameSetCount(), 1);
    EXPECT_EQ(m.NameSetName(0), QStringLiteral("System 1"));
    EXPECT_EQ(m.NameSetSourceList(0).size(), 16u);
    EXPECT_EQ(m.NameSetDestinationList(0)[3], (ListEntry{3, false}));
    EXPECT_EQ(m.Status(1, 5).source, -1);
    EXPECT_EQ(m.Status(1, 5).flag, 0);
    EXPECT_FALSE(m.Locked(5));
    EXPECT_EQ(m.configurationName(), QStringLiteral("<default>"));
}

TEST(StatandConfig, clearedTablesAnswerNothing)
{
    StatandConfig m;
    m.BuildDefaultSystem();
    m.ClearSystemTables();
    EXPECT_EQ(m.levelCount() + m.sourceCount() + m.destinationCount() + m.nameSetCount() + m.controllerCount(), 0);
    EXPECT_EQ(m.FindSource(QStringLiteral("Input1")), -1);
    EXPECT_EQ(m.FindLevel(QStringLiteral("Level1")), -1);
    EXPECT_EQ(m.FindController(QStringLiteral("DefSystem")), -1);
    EXPECT_EQ(m.FindNameSet(QStringLiteral("System 1")), -1);
    EXPECT_EQ(m.FindSource(QString()), -1); // no unused slot either
    EXPECT_TRUE(m.Locked(0));               // invalid index counts as locked
    EXPECT_EQ(m.SourceName(0), QString());
}

TEST(StatandConfig, lookupsFindTheFirstExactMatchAndEmptyNameFindsFirstFreeSlot)
{
    StatandConfig m;
    ASSERT_TRUE(m.SizeForLoad(SystemCounts{1, 4, 1, 1}));
    EXPECT_EQ(m.FindSource(QString()), 0);
    EXPECT_EQ(m.TakeSourceSlot(QStringLiteral("CAM1")), 0);
    EXPECT_EQ(m.TakeSourceSlot(QStringLiteral("CAM1")), 1); // a second slot of the same name
    EXPECT_EQ(m.FindSource(QStringLiteral("CAM1")), 0);
    EXPECT_EQ(m.FindSource(QStringLiteral("cam1")), -1); // case counts
    EXPECT_EQ(m.FindSource(QString()), 2);
    EXPECT_EQ(m.TakeSourceSlot(QStringLiteral("VTR")), 2);
    EXPECT_EQ(m.TakeSourceSlot(QStringLiteral("GFX")), 3);
    EXPECT_EQ(m.TakeSourceSlot(QStringLiteral("MORE")), -1); // table full
    EXPECT_EQ(m.FindSource(QString()), -1);
}

TEST(StatandConfig, numbersAndStatusIgnoreOutOfRangeIndices)
{
    StatandConfig m;
    m.BuildDefaultSystem();
    m.SetSourceNumber(99, 0, 3);
    m.SetSourceNumber(0, -1, 3);
    m.SetStatus(7, 0, DestinationStatus{1, 2});
    m.SetLocked(-1, true);
    EXPECT_EQ(m.SourceNumber(99, 0), -1);
    EXPECT_EQ(m.SourceNumber(0, 9), -1);
    EXPECT_FALSE(m.SourceOnLevel(0, 4));
    EXPECT_EQ(m.Status(7, 0).source, -1);
    EXPECT_EQ(m.SourceWithNumber(2, 7), 7);
    EXPECT_EQ(m.SourceWithNumber(2, 70), -1);
    EXPECT_EQ(m.DestinationWithNumber(9, 1), -1);
}

TEST(StatandConfig, nameSetListIgnoresMembersOnceFull)
{
    StatandConfig m;
    ASSERT_TRUE(m.SizeForLoad(SystemCounts{1, 2, 1, 1}));
    const int a = m.TakeSourceSlot(QStringLiteral("A"));
    const int b = m.TakeSourceSlot(QStringLiteral("B"));
    const int set = m.TakeNameSetSlot(QStringLiteral("ALL"));
    EXPECT_TRUE(m.AddNameSetSource(set, b));
    EXPECT_TRUE(m.AddNameSetSource(set, a));
    EXPECT_FALSE(m.AddNameSetSource(set, a)); // list as long as the source table
    const auto list = m.NameSetSourceList(set);
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].index, b); // membership order, not table order
    EXPECT_EQ(list[1].index, a);
}

namespace {
// Three levels; destination 0 on level 0, destination 1 on levels 1 and 2,
// destination 2 on no level.
StatandConfig activeLevelsModel()
{
    StatandConfig m;
    m.SizeForLoad(SystemCounts{3, 1, 3, 1});
    for (int l = 0; l < 3; ++l)
        m.FillLevelSlot(LevelRecord{QStringLiteral("L%1").arg(l), 0, static_cast<int16_t>(l), 4, 4});
    for (const char *n : {"D0", "D1", "D2"})
        m.TakeDestinationSlot(QString::fromLatin1(n));
    m.SetDestinationNumber(0, 0, 0);
    m.SetDestinationNumber(1, 1, 1);
    m.SetDestinationNumber(1, 2, 1);
    return m;
}
std::vector<int> levelsOf(const std::vector<ListEntry> &entries)
{
    std::vector<int> out;
    for (const ListEntry &e : entries) {
        EXPECT_TRUE(e.flag);
        out.push_back(e.index);
    }
    return out;
}
} // namespace

TEST(StatandConfig, activeLevelsFollowTheSelectedDestinations)
{
    const StatandConfig m = activeLevelsModel();
    EXPECT_EQ(levelsOf(m.ActiveLevels({{0, true}, {1, false}, {2, false}})), (std::vector<int>{0}));
    EXPECT_EQ(levelsOf(m.ActiveLevels({{0, false}, {1, true}, {2, false}})), (std::vector<int>{1, 2}));
    EXPECT_EQ(levelsOf(m.ActiveLevels({{0, true}, {1, true}})), (std::vector<int>{0, 1, 2}));
    // Nothing selected: the levels of every listed destination.
    EXPECT_EQ(levelsOf(m.ActiveLevels({{0, false}, {1, false}})), (std::vector<int>{0, 1, 2}));
    EXPECT_EQ(levelsOf(m.ActiveLevels({{1, false}})), (std::vector<int>{1, 2}));
    // The only selected destination is on no level: fall back to the whole list.
    EXPECT_EQ(levelsOf(m.ActiveLevels({{0, false}, {2, true}})), (std::vector<int>{0}));
    EXPECT_TRUE(m.ActiveLevels({{2, true}}).empty());
    EXPECT_TRUE(m.ActiveLevels({}).empty());
}

TEST(StatandConfig, sizingRefusesTablesPastTheLimits)
{
    StatandConfig m;
    EXPECT_FALSE(m.SizeForLoad(SystemCounts{1, 32768, 1, 1}));
    EXPECT_FALSE(m.SizeForLoad(SystemCounts{-1, 1, 1, 1}));
    EXPECT_FALSE(m.SizeForLoad(SystemCounts{30000, 30000, 1, 1})); // 900 million cells
    EXPECT_EQ(m.levelCount(), 0);
    EXPECT_TRUE(m.SizeForLoad(SystemCounts{16, 2000, 2000, 40}));
}
