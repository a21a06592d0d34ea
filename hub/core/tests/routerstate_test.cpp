// The router state: what a read changes and announces, acknowledged takes and
// locks that follow at once, and names from the configuration.
#include "hubtesting.h"
#include "routerstate.h"

#include <QSignalSpy>

#include <gtest/gtest.h>

using namespace exel;
using namespace exel::hub;

namespace {

struct StateFixture : ::testing::Test {
    StateFixture() { hubtest::loadModel(model, hubtest::smallRouter()); }
    StatandConfig model;
};

} // namespace

TEST_F(StateFixture, read_announcesOnlyLevelsThatChanged)
{
    RouterState state(model);
    std::vector<std::tuple<int, int, int, int>> seen; // output, level, input, previous
    QObject::connect(
        &state, &RouterState::crosspointChanged, [&](int16_t, int output, int level, int input, bool, int previous) {
            seen.emplace_back(output, level, input, previous);
        });
    state.statusRead(0, 2, { 3, 0 }, { false, false }, 100);
    ASSERT_EQ(seen.size(), 2u); // first read: every level is news
    EXPECT_EQ(seen[0], std::make_tuple(2, 1, 3, -1));
    EXPECT_EQ(seen[1], std::make_tuple(2, 2, 0, -1));
    seen.clear();
    state.statusRead(0, 2, { 3, 0 }, { false, false }, 200);
    EXPECT_TRUE(seen.empty());
    EXPECT_EQ(state.status(0, 2)->readAt, 200);
    state.statusRead(0, 2, { 3, 4 }, { false, true }, 300);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0], std::make_tuple(2, 2, 4, 0));
    // Outputs and controllers the configuration does not have are not stored.
    state.statusRead(0, 9, { 1, 1 }, { false, false }, 300);
    state.statusRead(5, 1, { 1, 1 }, { false, false }, 300);
    EXPECT_EQ(state.status(0, 9), nullptr);
    EXPECT_EQ(state.status(5, 1), nullptr);
    EXPECT_EQ(state.status(0, 0), nullptr);
}

TEST_F(StateFixture, acknowledgedTake_followsAtOnceUnconfirmedUntilRead)
{
    RouterState state(model);
    state.takeAcknowledged(0, 1, { 2, 2 }); // never read: nothing to follow
    EXPECT_FALSE(state.status(0, 1)->known());
    state.statusRead(0, 1, { 1, 1 }, { false, false }, 10);
    QSignalSpy changed(&state, &RouterState::crosspointChanged);
    state.takeAcknowledged(0, 1, { 3, 0 }); // level 2 left as it is
    EXPECT_EQ(changed.count(), 1);
    EXPECT_EQ(state.status(0, 1)->input, (std::vector<int16_t> { 3, 1 }));
    EXPECT_EQ(state.status(0, 1)->unconfirmed, (std::vector<bool> { true, false }));
    EXPECT_EQ(state.status(0, 1)->readAt, 10); // following a take is not a read
    state.statusRead(0, 1, { 3, 1 }, { false, false }, 20);
    EXPECT_EQ(state.status(0, 1)->unconfirmed, (std::vector<bool> { false, false }));
}

TEST_F(StateFixture, locks_readToggledAndAnnounced)
{
    RouterState state(model);
    state.lockToggled(0, 1); // table never read: the toggle cannot be followed
    EXPECT_EQ(state.locksReadAt(0), -1);
    QSignalSpy changed(&state, &RouterState::lockChanged);
    state.locksRead(0, { false, true, false, false, false, false, false, false }, 50);
    ASSERT_EQ(changed.count(), 1); // only the locked one is news at the first read
    EXPECT_EQ(changed.at(0).at(1).toInt(), 2);
    state.lockToggled(0, 2);
    EXPECT_FALSE(state.locks(0)->at(1));
    EXPECT_EQ(changed.count(), 2);
    // A short table leaves the outputs it does not cover free.
    state.locksRead(0, { true }, 60);
    EXPECT_TRUE(state.locks(0)->at(0));
    EXPECT_FALSE(state.locks(0)->at(7));
}

TEST_F(StateFixture, names_comeFromTheConfiguration)
{
    RouterState state(model);
    EXPECT_EQ(state.destinationName(0, 3), QStringLiteral("MON3"));
    EXPECT_EQ(state.destinationName(0, 7), QString()); // output without a destination
    EXPECT_EQ(state.sourceName(0, 2, 4), QStringLiteral("CAM4"));
    EXPECT_EQ(state.sourceName(0, 2, 0), QString());
    EXPECT_EQ(state.levelName(0, 1), QStringLiteral("VIDEO"));
    ASSERT_NE(state.defaultController(), nullptr);
    EXPECT_EQ(state.defaultController()->outputs, 8);
    QSignalSpy line(&state, &RouterState::lineStateChanged);
    state.setLineOnline(QStringLiteral("main"), true);
    state.setLineOnline(QStringLiteral("main"), true);
    state.setLineOnline(QStringLiteral("main"), false);
    EXPECT_EQ(line.count(), 2);
}
