// Key banks: scroll-bar states, the paging arithmetic that keeps a chosen
// destination in view, selection rules, level keys and the status rows.
#include "keybanks.h"
#include "testsystems.h"

#include <gtest/gtest.h>

using namespace exel;
using namespace exel::keystest;

namespace {

struct Bank {
    StatandConfig m;
    KeyBanks k { m };
    Bank(int dests, int sources, int levels)
    {
        buildUniform(m, dests, sources, levels);
        k.LoadSystem(0);
    }
};

struct ScrollCase {
    int dests, sources, levels;
    bool dstVisible;
    int dstMax;
    bool srcVisible;
    int srcMax;
    bool levVisible;
    int levMax;
    bool statusVisible;
    int statusMax;
};

} // namespace

TEST(KeyBanksScroll, barsFollowTheCounts)
{
    const ScrollCase cases[] = {
        { 0, 0, 1, false, 0, false, 0, false, 0, false, 0 },
        { 6, 16, 4, false, 0, false, 0, false, 0, false, 0 },
        { 7, 17, 5, false, 0, true, 1, true, 1, true, 1 },
        { 16, 3, 4, false, 0, false, 0, false, 0, true, 10 },
        { 17, 40, 8, true, 1, true, 24, true, 4, true, 11 },
        { 100, 1, 2, true, 84, false, 0, false, 0, true, 94 },
    };
    for (const ScrollCase &c : cases) {
        SCOPED_TRACE(testing::Message() << c.dests << " dests, " << c.sources << " sources, " << c.levels << " levels");
        Bank b(c.dests, c.sources, c.levels);
        const KeyBanks &k = b.k;
        EXPECT_EQ(k.destinationScroll().visible, c.dstVisible);
        EXPECT_EQ(k.destinationScroll().enabled, c.dstVisible);
        if (c.dstVisible) {
            EXPECT_EQ(k.destinationScroll().maximum, c.dstMax);
        }
        EXPECT_EQ(k.sourceScroll().visible, c.srcVisible);
        if (c.srcVisible) {
            EXPECT_EQ(k.sourceScroll().maximum, c.srcMax);
        }
        EXPECT_EQ(k.levelScroll().visible, c.levVisible);
        if (c.levVisible) {
            EXPECT_EQ(k.levelScroll().maximum, c.levMax);
            EXPECT_EQ(k.levelScroll().largeChange, 4);
        }
        EXPECT_EQ(k.statusScroll().visible, c.statusVisible);
        if (c.statusVisible) {
            EXPECT_EQ(k.statusScroll().maximum, c.statusMax);
            EXPECT_EQ(k.statusScroll().largeChange, 6);
        }
    }
}

TEST(KeyBanksScroll, handlersMoveTheBanksAndClampToTheBar)
{
    Bank b(40, 40, 6);
    b.k.scrlDestination_Scroll(10);
    EXPECT_EQ(b.k.destinationKeys()[0].caption, "D11");
    b.k.scrlDestination_Change(99);
    EXPECT_EQ(b.k.destinationOffset(), 24);
    EXPECT_EQ(b.k.destinationKeys()[15].caption, "D40");
    b.k.scrlSource_Scroll(-3);
    EXPECT_EQ(b.k.sourceOffset(), 0);
    b.k.scrlLevel_Scroll(2);
    EXPECT_EQ(b.k.levelKeys()[0].caption, "L3");
    EXPECT_EQ(b.k.levelKeys()[3].caption, "L6");
    b.k.scrlDestStatus_Scroll(50);
    EXPECT_EQ(b.k.statusOffset(), 34);
    EXPECT_EQ(b.k.statusRows()[5].caption, "D40");
    EXPECT_EQ(b.k.statusScroll().value, 34);
}

TEST(KeyBanksPaging, AdjustDestBtnDisplayPutsTheEntryOnTheNinthKeyOrTheEnd)
{
    struct Case {
        int count, offset, entry, expected;
    } cases[] = {
        { 40, 0, 5, 0 }, // already on a key
        { 40, 0, 15, 0 }, // last key
        { 40, 0, 16, 8 }, // ninth key
        { 40, 0, 20, 12 },
        { 40, 0, 32, 24 }, // count - entry = 8: end of the list
        { 40, 0, 39, 24 },
        { 40, 24, 8, 0 }, // 8 or less: top
        { 40, 24, 9, 1 },
        { 40, 24, 23, 15 },
        { 17, 0, 16, 1 },
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << "count " << c.count << " offset " << c.offset << " entry " << c.entry);
        Bank b(c.count, 4, 2);
        b.k.scrlDestination_Scroll(c.offset);
        b.k.AdjustDestBtnDisplay(c.entry);
        EXPECT_EQ(b.k.destinationOffset(), c.expected);
        EXPECT_EQ(b.k.destinationScroll().value, c.expected);
        EXPECT_EQ(b.k.destinationKeys()[static_cast<size_t>(c.entry - c.expected)].caption,
            QStringLiteral("D%1").arg(c.entry + 1));
    }
}

TEST(KeyBanksPaging, AdjustStatusDisplayKeepsTheEntryOnARow)
{
    struct Case {
        int count, dstOffset, statusOffset, key, expected;
    } cases[] = {
        { 6, 0, 0, 5, 0 }, // fewer than 7: never moves
        { 20, 0, 0, 3, 0 }, // on a row
        { 20, 0, 0, 5, 0 },
        { 20, 0, 0, 6, 3 }, // 20 - 6 > 3
        { 20, 0, 10, 2, 0 }, // 3 or less: top
        { 20, 0, 10, 4, 1 },
        { 20, 0, 0, 15, 12 },
        { 20, 4, 0, 13, 14 }, // entry 17: three follow it, so the end of the list
        { 20, 4, 0, 15, 14 },
        { 7, 0, 0, 6, 1 },
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << "count " << c.count << " key " << c.key << " status " << c.statusOffset);
        Bank b(c.count, 4, 2);
        b.k.scrlDestination_Scroll(c.dstOffset);
        b.k.scrlDestStatus_Scroll(c.statusOffset);
        b.k.AdjustStatusDisplay(c.key);
        EXPECT_EQ(b.k.statusOffset(), c.expected);
        const int entry = c.dstOffset + c.key;
        if (c.count >= 7) {
            EXPECT_EQ(b.k.statusRows()[static_cast<size_t>(entry - c.expected)].caption,
                QStringLiteral("D%1").arg(entry + 1));
        }
    }
}

TEST(KeyBanksDraw, keysShowEntriesAndBlankTheRest)
{
    Bank b(5, 3, 2);
    const auto &d = b.k.destinationKeys();
    EXPECT_EQ(d[4].caption, "D5");
    EXPECT_TRUE(d[4].enabled);
    EXPECT_EQ(d[4].colour, KeyColour::Unselected);
    EXPECT_EQ(d[4].text, TextColour::LightBlue);
    EXPECT_EQ(d[5].caption, "");
    EXPECT_FALSE(d[5].enabled);
    EXPECT_EQ(d[5].colour, KeyColour::ButtonFace);
    EXPECT_EQ(b.k.sourceKeys()[2].caption, "S3");
    EXPECT_TRUE(b.k.sourceKeys()[2].enabled);
    EXPECT_FALSE(b.k.sourceKeys()[3].enabled);
    EXPECT_EQ(b.k.levelKeys()[1].colour, KeyColour::Selected);
    EXPECT_EQ(b.k.levelKeys()[2].colour, KeyColour::ButtonFace);
    EXPECT_FALSE(b.k.levelKeys()[2].enabled);

    b.m.SetLocked(2, true);
    b.k.UpdateDestLockStatus();
    EXPECT_EQ(d[2].text, TextColour::LightRed);
    EXPECT_EQ(d[1].text, TextColour::LightBlue);
}

TEST(KeyBanksSelect, singleModeMovesAndClearsTheSelection)
{
    House h;
    KeyBanks k(h.m);
    k.LoadSystem(0);
    k.btnDestination_Click(2); // REC1: video only
    EXPECT_EQ(k.selectedDestinations(), (std::vector<int16_t> { int16_t(h.rec1) }));
    EXPECT_EQ(k.destinationKeys()[2].colour, KeyColour::Selected);
    ASSERT_EQ(k.levelCount(), 1);
    EXPECT_EQ(k.levelKeys()[0].caption, "VID");

    k.btnDestination_Click(1); // MON2 replaces REC1
    EXPECT_EQ(k.selectedDestinations(), (std::vector<int16_t> { int16_t(h.mon2) }));
    EXPECT_EQ(k.levelCount(), 2);

    k.btnDestination_Click(1); // again: nothing selected, levels of every listed destination
    EXPECT_TRUE(k.selectedDestinations().empty());
    EXPECT_EQ(k.levelCount(), 4);
    EXPECT_EQ(k.destinationKeys()[1].colour, KeyColour::Unselected);
}

TEST(KeyBanksSelect, gangAccumulatesAndSwitchingModesClears)
{
    House h;
    KeyBanks k(h.m);
    k.LoadSystem(0);
    k.btnGang_Click();
    k.btnDestination_Click(2);
    k.btnDestination_Click(1);
    EXPECT_EQ(k.selectedDestinations(), (std::vector<int16_t> { int16_t(h.mon2), int16_t(h.rec1) }));
    EXPECT_EQ(k.levelCount(), 2);
    k.btnSingle_Click();
    EXPECT_TRUE(k.selectedDestinations().empty());
    k.btnDestination_Click(0);
    k.btnGang_Click();
    EXPECT_TRUE(k.selectedDestinations().empty());
    EXPECT_TRUE(k.gang());
}

TEST(KeyBanksSelect, levelKeysDecideWhichSourcesCanBeTaken)
{
    House h;
    KeyBanks k(h.m);
    k.LoadSystem(0);
    k.btnDestination_Click(0); // MON1: VID, AUD1, AUD2, TC
    ASSERT_EQ(k.levelCount(), 4);
    EXPECT_TRUE(k.sourceKeys()[2].enabled); // VTR on VID
    k.btnLevel_Click(0); // VID off
    EXPECT_EQ(k.levelKeys()[0].colour, KeyColour::Unselected);
    EXPECT_FALSE(k.sourceKeys()[2].enabled);
    EXPECT_TRUE(k.sourceKeys()[0].enabled);
    k.btnClearAll_Click();
    for (const KeyState &s : k.sourceKeys())
        EXPECT_FALSE(s.enabled);
    k.btnSelectAll_Click();
    EXPECT_TRUE(k.sourceKeys()[2].enabled);
    for (const KeyState &l : k.levelKeys())
        EXPECT_EQ(l.colour, KeyColour::Selected);
}

TEST(KeyBanksSelect, keysAndRowsWithoutAnEntryDoNothing)
{
    House h;
    KeyBanks k(h.m);
    k.LoadSystem(0);
    k.btnDestination_Click(0);
    const auto before = k.selectedDestinations();
    k.btnDestination_Click(3);
    k.btnDestination_Click(-1);
    k.btnDestination_Click(16);
    k.LabelDstStatus_Click(4);
    k.btnLevel_Click(7);
    EXPECT_EQ(k.selectedDestinations(), before);
    EXPECT_EQ(k.sourceOnKey(3), -1);
    EXPECT_EQ(k.sourceOnKey(2), h.vtr);
}

TEST(KeyBanksSelect, statusRowOffTheKeysScrollsTheBankAndSelects)
{
    Bank b(40, 4, 2);
    b.k.scrlDestStatus_Scroll(20);
    b.k.LabelDstStatus_Click(0); // entry 20
    EXPECT_EQ(b.k.destinationOffset(), 12);
    EXPECT_EQ(b.k.destinationKeys()[8].caption, "D21");
    EXPECT_EQ(b.k.destinationKeys()[8].colour, KeyColour::Selected);
    EXPECT_EQ(b.k.selectedDestinations(), (std::vector<int16_t> { 20 }));
    EXPECT_EQ(b.k.statusOffset(), 20); // already on a row: rows stay

    b.k.scrlDestStatus_Scroll(34);
    b.k.LabelDstStatus_Click(5); // entry 39: the end of the list
    EXPECT_EQ(b.k.destinationOffset(), 24);
    EXPECT_EQ(b.k.destinationKeys()[15].colour, KeyColour::Selected);
}

TEST(KeyBanksStatus, rowsShowNameLockAndSourcesOfTheShownLevels)
{
    Bank b(8, 4, 6);
    b.m.SetStatus(0, 1, { 0, 2 });
    b.m.SetStatus(4, 1, { 1, 3 });
    b.m.SetLocked(1, true);
    b.k.UpdateAllStatus();
    const StatusRow &r = b.k.statusRows()[1];
    EXPECT_EQ(r.caption, "D2");
    EXPECT_TRUE(r.lockPicture);
    EXPECT_EQ(r.sources[0].caption, "S3");
    EXPECT_EQ(r.sources[0].text, TextColour::Black);
    EXPECT_EQ(r.sources[1].caption, ""); // unknown
    EXPECT_FALSE(b.k.statusRows()[0].lockPicture);

    b.k.scrlLevel_Scroll(2); // columns now show L3..L6
    EXPECT_EQ(b.k.statusRows()[1].sources[2].caption, "S4");
    EXPECT_EQ(b.k.statusRows()[1].sources[2].text, TextColour::LightRed);
    EXPECT_EQ(b.k.statusRows()[1].sources[0].caption, "");
}

TEST(KeyBanksStatus, anotherNameSetBlanksRowsAndKeysPastItsLists)
{
    StatandConfig m;
    m.SizeForLoad(SystemCounts { 1, 2, 8, 2 });
    m.AddController({ "MAIN", 1, 1 });
    m.FillLevelSlot({ "VID", 1, 0, 8, 8 });
    const int big = m.TakeNameSetSlot("BIG");
    const int small = m.TakeNameSetSlot("SMALL");
    for (int d = 0; d < 8; ++d) {
        const int i = m.TakeDestinationSlot(QStringLiteral("D%1").arg(d + 1));
        m.SetDestinationNumber(i, 0, static_cast<int16_t>(d));
        m.AddNameSetDestination(big, i);
        if (d >= 6)
            m.AddNameSetDestination(small, i);
    }
    m.SizeStatusTables();
    KeyBanks k(m);
    k.LoadSystem(big);
    k.scrlDestStatus_Scroll(2);
    EXPECT_EQ(k.statusRows()[5].caption, "D8");
    k.LoadSystem(small);
    EXPECT_EQ(k.currentNameSet(), small);
    EXPECT_EQ(k.statusOffset(), 0);
    EXPECT_EQ(k.statusRows()[0].caption, "D7");
    EXPECT_EQ(k.statusRows()[2].caption, "");
    EXPECT_EQ(k.statusRows()[5].caption, "");
    EXPECT_FALSE(k.statusScroll().visible);
    EXPECT_FALSE(k.destinationKeys()[2].enabled);
    // Rows past the end are left alone by later redraws.
    k.btnDestination_Click(1);
    EXPECT_EQ(k.statusRows()[2].caption, "");
}

TEST(KeyBanksLoad, firstSystemListsEveryNameSetAndShowsTheFirst)
{
    StatandConfig m;
    m.BuildDefaultSystem();
    KeyBanks k(m);
    EXPECT_EQ(k.load1stSystem(), QStringList { "System 1" });
    EXPECT_EQ(k.currentNameSet(), 0);
    EXPECT_EQ(k.destinationKeys()[15].caption, "Outpt16");
    EXPECT_EQ(k.sourceKeys()[0].caption, "Input1");
    EXPECT_EQ(k.levelKeys()[3].caption, "Level4");
    EXPECT_FALSE(k.destinationScroll().visible);

    StatandConfig empty;
    KeyBanks e(empty);
    EXPECT_TRUE(e.load1stSystem().isEmpty());
    EXPECT_EQ(e.currentNameSet(), -1);
}

TEST(PanelSwap, flipDecisions)
{
    struct Case {
        const char *stored;
        bool destAbove;
        bool startFlip;
        bool menuFlip;
        const char *menuStore;
    } cases[] = {
        { "TRUE", true, false, true, "FALSE" }, // menu: above -> below
        { "TRUE", false, true, false, "FALSE" },
        { "FALSE", false, false, true, "TRUE" }, // menu: below -> above
        { "FALSE", true, true, false, "TRUE" },
        { "", false, false, false, "FALSE" }, // anything but "FALSE" goes below
        { "true", true, true, true, "FALSE" },
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << c.stored << " above=" << c.destAbove);
        EXPECT_EQ(SetSrcDstFormPosition(c.stored, c.destAbove).flip, c.startFlip);
        const SwapDecision d = mnuSrcDstSwap_Click(c.stored, c.destAbove);
        EXPECT_EQ(d.flip, c.menuFlip);
        EXPECT_EQ(d.store, QString(c.menuStore));
    }
}
