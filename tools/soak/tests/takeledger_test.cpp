// The rule that decides whether the router kept the takes it acknowledged.
#include "takeledger.h"

#include <gtest/gtest.h>

#include <map>

using namespace exel::soak;

namespace {

struct Router {
    std::map<Crosspoint, int> table;
    std::function<int(const Crosspoint &)> view()
    {
        return [this](const Crosspoint &x) {
            const auto it = table.find(x);
            return it == table.end() ? 0 : it->second;
        };
    }
};

} // namespace

TEST(TakeLedger, acknowledgedTakeMustBeInTheTable)
{
    TakeLedger ledger;
    Router router;
    ledger.record(0, 5, { { 1, 3 }, { 2, 3 } }, true);
    router.table[{ 0, 1, 5 }] = 3;
    router.table[{ 0, 2, 5 }] = 3;
    TakeLedger::Result r = ledger.check(router.view());
    EXPECT_TRUE(r.ok());
    EXPECT_EQ(r.checked, 2);
    EXPECT_EQ(r.confirmed, 2);

    // One level lost its route: that crosspoint, and only it, fails.
    router.table[{ 0, 2, 5 }] = 7;
    r = ledger.check(router.view());
    ASSERT_EQ(r.failures.size(), 1);
    EXPECT_TRUE(r.failures[0].startsWith("address 0 level 2 output 5: router has input 7, acknowledged 3"));
}

TEST(TakeLedger, laterTakesToTheSameOutputMayReplaceIt)
{
    TakeLedger ledger;
    Router router;
    ledger.record(3, 1, { { 1, 2 } }, true);
    ledger.record(3, 1, { { 1, 4 } }, false); // answer lost: may have been applied
    router.table[{ 3, 1, 1 }] = 4;
    TakeLedger::Result r = ledger.check(router.view());
    EXPECT_TRUE(r.ok());
    EXPECT_EQ(r.replacedLater, 1);
    router.table[{ 3, 1, 1 }] = 2; // or not applied
    EXPECT_TRUE(ledger.check(router.view()).ok());
    router.table[{ 3, 1, 1 }] = 9; // but never anything else
    EXPECT_FALSE(ledger.check(router.view()).ok());

    // A later acknowledged take supersedes both.
    ledger.record(3, 1, { { 1, 6 } }, true);
    EXPECT_EQ(ledger.superseded(), 1);
    router.table[{ 3, 1, 1 }] = 4;
    EXPECT_FALSE(ledger.check(router.view()).ok());
    router.table[{ 3, 1, 1 }] = 6;
    EXPECT_TRUE(ledger.check(router.view()).ok());
}

TEST(TakeLedger, unacknowledgedOnlyIsNotChecked)
{
    TakeLedger ledger;
    Router router;
    ledger.record(0, 2, { { 1, 5 } }, false); // before any acknowledged take: nothing promised
    ledger.record(0, 3, { { 1, 5 } }, true);
    router.table[{ 0, 1, 3 }] = 5;
    const TakeLedger::Result r = ledger.check(router.view());
    EXPECT_TRUE(r.ok());
    EXPECT_EQ(r.checked, 1);
    EXPECT_EQ(ledger.takes(), 2);
    EXPECT_EQ(ledger.acknowledgedTakes(), 1);
}
