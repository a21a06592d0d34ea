// The take journal: round trips through SQLite, what a restart after a kill
// finds, bounds, and the look-ups later clients need (undo).
#include "journal.h"
#include "testsupport.h"

#include <QDir>

#include <gtest/gtest.h>

using namespace exel::hub;

namespace {

JournalEntry take(const QString &dest, int output, std::vector<int16_t> inputs)
{
    JournalEntry e;
    e.line = QStringLiteral("main");
    e.output = output;
    e.destination = dest;
    e.inputs = std::move(inputs);
    e.summary = dest + QStringLiteral(" <- x");
    e.origin = Origin { QStringLiteral("panel"), QStringLiteral("127.0.0.1:5000"), QString() };
    return e;
}

QString freshFolder()
{
    static int n = 0;
    const QString dir = exel::test::tempHome() + QStringLiteral("/journal-%1").arg(++n);
    QDir(dir).removeRecursively();
    return dir;
}

} // namespace

TEST(Journal, levelsText_roundTripsAndRefusesJunk)
{
    EXPECT_EQ(encodeLevels({ 3, 0, -1 }), QStringLiteral("1:3,2:0,3:-1"));
    EXPECT_EQ(decodeLevels(QStringLiteral("1:3,2:0,3:-1")), (std::vector<int16_t> { 3, 0, -1 }));
    EXPECT_TRUE(decodeLevels(QString()).empty());
    for (const char *bad : { "1:x", "0:3", "1:40000", "3", "1:3,,2:1", "1000:1" })
        EXPECT_TRUE(decodeLevels(QString::fromLatin1(bad)).empty()) << bad;
}

TEST(Journal, entries_roundTripAndFilter)
{
    Journal j;
    int64_t now = 1'000'000;
    j.setWallClock([&] { return now; });
    QString error;
    ASSERT_TRUE(j.open(freshFolder(), {}, &error)) << qPrintable(error);
    JournalEntry a = take(QStringLiteral("MON1"), 1, { 2, 2 });
    ASSERT_TRUE(j.add(a));
    now += 1000;
    JournalEntry b = take(QStringLiteral("MON2"), 2, { 3, 0 });
    ASSERT_TRUE(j.add(b));
    EXPECT_GT(b.id, a.id);
    b.state = EntryState::Acknowledged;
    b.previous = { 1, -1 };
    b.reply = QStringLiteral("G");
    b.sentAt = now;
    ASSERT_TRUE(j.update(b));

    const auto found = j.find(b.id);
    ASSERT_TRUE(found);
    EXPECT_EQ(found->state, EntryState::Acknowledged);
    EXPECT_EQ(found->previous, (std::vector<int16_t> { 1, -1 }));
    EXPECT_EQ(found->inputs, (std::vector<int16_t> { 3, 0 }));
    EXPECT_EQ(found->origin.address, QStringLiteral("127.0.0.1:5000"));
    EXPECT_EQ(j.list(0).size(), 2u);
    EXPECT_EQ(j.list(now).size(), 1u);
    ASSERT_EQ(j.list(0, QStringLiteral("mon1")).size(), 1u); // names match case-blind
    EXPECT_EQ(j.list(0, QStringLiteral("mon1")).front().id, a.id);
    // Undo looks for the newest take the controller acknowledged on an output.
    EXPECT_FALSE(j.lastTake(QStringLiteral("main"), 0, 1)); // a is still queued
    ASSERT_TRUE(j.lastTake(QStringLiteral("main"), 0, 2));
    EXPECT_EQ(j.lastTake(QStringLiteral("main"), 0, 2)->previous.front(), 1);
}

TEST(Journal, reopenAfterKill_marksWhatWasLeftOpen)
{
    const QString folder = freshFolder();
    int64_t queued = 0, sent = 0, acked = 0, confirmed = 0;
    {
        Journal j;
        ASSERT_TRUE(j.open(folder, {}, nullptr));
        JournalEntry e = take(QStringLiteral("MON1"), 1, { 1 });
        j.add(e);
        queued = e.id;
        e = take(QStringLiteral("MON2"), 2, { 1 });
        j.add(e);
        e.state = EntryState::Sent;
        j.update(e);
        sent = e.id;
        e = take(QStringLiteral("MON3"), 3, { 1 });
        j.add(e);
        e.state = EntryState::Acknowledged;
        j.update(e);
        acked = e.id;
        e = take(QStringLiteral("MON4"), 4, { 1 });
        j.add(e);
        e.state = EntryState::Confirmed;
        j.update(e);
        confirmed = e.id;
        // No close: the process "dies" here; the next open must cope.
    }
    Journal again;
    ASSERT_TRUE(again.open(folder, {}, nullptr));
    EXPECT_EQ(again.recovered(), 3);
    EXPECT_EQ(again.find(queued)->state, EntryState::Failed);
    EXPECT_TRUE(again.find(queued)->interrupted);
    EXPECT_EQ(again.find(sent)->state, EntryState::Sent);
    EXPECT_TRUE(again.find(sent)->note.contains(QStringLiteral("not confirmed")));
    EXPECT_EQ(again.find(acked)->state, EntryState::Acknowledged);
    EXPECT_TRUE(again.find(acked)->interrupted);
    EXPECT_FALSE(again.find(confirmed)->interrupted);
    // A second restart does not count them again.
    Journal third;
    ASSERT_TRUE(third.open(folder, {}, nullptr));
    EXPECT_EQ(third.recovered(), 0);
}

TEST(Journal, bounds_byCountAndAge)
{
    Journal j;
    int64_t now = 10 * 86400000LL;
    j.setWallClock([&] { return now; });
    ASSERT_TRUE(j.open(freshFolder(), JournalLimits { 5, 2 }, nullptr));
    for (int i = 0; i < 8; ++i) {
        JournalEntry e = take(QStringLiteral("MON1"), 1, { 1 });
        j.add(e);
    }
    EXPECT_EQ(j.prune(), 3);
    EXPECT_EQ(j.list(0).size(), 5u);
    now += 3 * 86400000LL; // all of them now older than two days
    JournalEntry fresh = take(QStringLiteral("MON2"), 2, { 1 });
    j.add(fresh);
    EXPECT_EQ(j.prune(), 5);
    ASSERT_EQ(j.list(0).size(), 1u);
    EXPECT_EQ(j.list(0).front().id, fresh.id);
}

TEST(Journal, unusableFolder_isRefusedWithAReason)
{
    const QString file = exel::test::tempHome() + QStringLiteral("/not-a-folder");
    exel::test::writeFile(file, "x");
    Journal j;
    QString error;
    EXPECT_FALSE(j.open(file + QStringLiteral("/sub"), {}, &error));
    EXPECT_FALSE(error.isEmpty());
}
