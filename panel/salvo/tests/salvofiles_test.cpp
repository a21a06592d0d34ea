// Salvo files (round trips, comments, unknown names, the name rule) and firing.
#include "configreader.h"
#include "fakehublink.h"
#include "salvofiles.h"
#include "testsupport.h"

#include <gtest/gtest.h>

using namespace exel;
using exel::testing::FakeHublink;

namespace {

// Two controllers: VID and KEY on controller 1, AUD on controller 2.
StatandConfig router()
{
    StatandConfig m;
    const ConfigLoadResult r = LoadConfigLines(
        m,
        {"CTL,C1,1,2", "CTL,C2,2,1", "LVL,VID,C1,1,8,8", "LVL,KEY,C1,2,8,8", "LVL,AUD,C2,1,8,8", "SRC,CAM1,VID,1",
         "SRC,CAM1,KEY,1", "SRC,CAM1,AUD,1", "SRC,CAM2,VID,2", "SRC,CAM2,AUD,2", "DST,MON1,VID,1", "DST,MON1,KEY,1",
         "DST,MON1,AUD,1", "DST,MON2,VID,2", "DST,MON2,AUD,2", "DST,MON3,VID,3"},
        QStringLiteral("R"));
    EXPECT_TRUE(r.ok()) << r.reason.toStdString();
    return m;
}

QString folder()
{
    static int n = 0;
    const QString dir = test::tempHome() + QStringLiteral("/salvos-%1").arg(++n);
    QDir().mkpath(dir);
    return dir;
}

} // namespace

TEST(Salvo, nameRule)
{
    for (const char *ok : {"A", "Morning News", "12345678901234567890", "news-1_b"})
        EXPECT_TRUE(isValidSalvoName(QString::fromLatin1(ok))) << ok;
    for (const char *bad : {"", "123456789012345678901", "a:b", "../x", "a/b", "a\\b", "a.b", "a*", "a?", "a|b",
                            "a<b", "a>b", "\"a\""})
        EXPECT_FALSE(isValidSalvoName(QString::fromLatin1(bad))) << bad;
}

TEST(Salvo, roundTripThroughAFile)
{
    const StatandConfig m = router();
    SalvoTable t = SalvoTable::forSystem(m);
    t.set(0, 1, 1); // MON1 VID <- CAM2
    t.set(0, 3, 0); // MON1 AUD <- CAM1
    t.set(2, 1, 0); // MON3 VID <- CAM1
    const QString dir = folder();
    ScriptedDialogs d;
    ASSERT_TRUE(DoPresetSave(QStringLiteral("News"), t, dir, m, d));
    EXPECT_EQ(test::readFile(dir + QStringLiteral("/News.PRE")),
              QByteArray("MON1, CAM2, VID\r\nMON1, CAM1, AUD\r\nMON3, CAM1, VID\r\n"));
    SalvoTable back;
    ASSERT_TRUE(LoadPresetFile(dir + QStringLiteral("/News.PRE"), m, back));
    EXPECT_EQ(back.cells, t.cells);
    EXPECT_EQ(listSalvoNames(dir), QStringList{"News"});
}

TEST(Salvo, readerSkipsCommentsUnknownNamesAndLastLineWins)
{
    const StatandConfig m = router();
    const QString path = folder() + QStringLiteral("/X.PRE");
    test::writeFile(path, "* MON1, CAM1, VID\r\n\r\nMON1,CAM1,VID\nMON1 , CAM2 , VID\nGONE, CAM1, VID\n"
                          "MON2, CAM1, NOLEVEL\nMON2, CAM2\nMON2,,AUD\n  MON2, CAM1, AUD  \n");
    SalvoTable t;
    ASSERT_TRUE(LoadPresetFile(path, m, t));
    EXPECT_EQ(t.at(0, 1), 1); // last line for MON1 VID
    EXPECT_EQ(t.at(1, 3), 0);
    EXPECT_EQ(t.at(1, 1), -1);
    int d, s, l;
    ParsePresetLine(u"MON1, CAM2", m, d, s, l);
    EXPECT_EQ(d + s + l, -3);
    ParsePresetLine(u"MON9, CAM2, VID", m, d, s, l);
    EXPECT_EQ(d, -1);
    EXPECT_EQ(s, 1);
    EXPECT_FALSE(LoadPresetFile(folder() + QStringLiteral("/missing.PRE"), m, t));
}

TEST(Salvo, saveAsksBeforeOverwritingAndRefusesNamesOutsideTheFolder)
{
    const StatandConfig m = router();
    const QString dir = folder();
    ScriptedDialogs d;
    const SalvoTable empty = SalvoTable::forSystem(m);
    ASSERT_TRUE(DoPresetSave(QStringLiteral("E"), empty, dir, m, d));
    EXPECT_EQ(test::readFile(dir + QStringLiteral("/E.PRE")), QByteArray()); // empty salvo, empty file

    d.queueAnswer(MsgAnswer::No);
    EXPECT_FALSE(DoPresetSave(QStringLiteral("E"), empty, dir, m, d));
    ASSERT_GE(d.count(), 2);
    EXPECT_EQ(d.shown()[0].text, QStringLiteral("File Exists.\nDo You wish to overwrite file?"));
    EXPECT_EQ(d.shown()[0].title, QStringLiteral("Salvo Save"));
    EXPECT_EQ(d.lastText(), QStringLiteral("Salvo Save Failed\nDuplicate File Name"));

    d.clear();
    EXPECT_FALSE(DoPresetSave(QStringLiteral("../../escape"), empty, dir, m, d));
    EXPECT_EQ(d.lastText(), QStringLiteral("Invalid Salvo Name"));
    EXPECT_FALSE(QFileInfo::exists(dir + QStringLiteral("/../../escape.PRE")));

    // A write that fails reports the path.
    d.clear();
    EXPECT_FALSE(DoPresetSave(QStringLiteral("N"), empty, dir + QStringLiteral("/no/such"), m, d));
    EXPECT_EQ(d.lastText(), QStringLiteral("Salvo Save Failed\nError in Saving Salvo ") + dir
                                + QStringLiteral("/no/such/N.PRE"));
}

TEST(Salvo, deleteAppliesTheNameRuleAndReportsErrors)
{
    const QString dir = folder();
    test::writeFile(dir + QStringLiteral("/B.PRE"), "");
    test::writeFile(dir + QStringLiteral("/a.pre"), "");
    test::writeFile(dir + QStringLiteral("/notes.txt"), "");
    EXPECT_EQ(listSalvoNames(dir), (QStringList{"a", "B"}));
    ScriptedDialogs d;
    DoPresetDelete(QStringLiteral("123456789012345678901"), dir, d);
    EXPECT_EQ(d.lastText(), QStringLiteral("Invalid Salvo Name"));
    EXPECT_EQ(d.shown().back().title, QStringLiteral("Salvo Delete"));
    DoPresetDelete(QStringLiteral("B"), dir, d);
    EXPECT_EQ(listSalvoNames(dir), QStringList{"a"});
    DoPresetDelete(QStringLiteral("B"), dir, d);
    EXPECT_TRUE(d.lastText().startsWith(QStringLiteral("Delete Salvo File Error.\nError #  2\n")));
}

TEST(Salvo, firingTakesEachDestinationPerControllerAndLeavesOtherLevels)
{
    StatandConfig m = router();
    FakeHublink link;
    const QString dir = folder();
    test::writeFile(dir + QStringLiteral("/K.PRE"), "MON1, CAM1, KEY\r\nMON2, CAM2, AUD\r\n");
    ScriptedDialogs d;
    EXPECT_EQ(FireSalvo(QStringLiteral("K"), dir, m, link, nullptr, d), KeyAction::Done);
    EXPECT_EQ(d.lastText(), QStringLiteral("Taking Salvo K\nAre you Sure?"));
    const auto takes = link.callsOf(FakeHublink::Kind::H);
    ASSERT_EQ(takes.size(), 2u);
    EXPECT_EQ(takes[0].id, 1);
    EXPECT_EQ(takes[0].src, (std::vector<int16_t>{-1, 0})); // VID left unchanged: "000" on the wire
    EXPECT_EQ(takes[1].id, 2);
    EXPECT_EQ(takes[1].dst, 1);
    EXPECT_EQ(m.Status(1, 0).source, 0);
    EXPECT_EQ(m.Status(0, 0).source, -1);

    // Cancel sends nothing; a missing file says so; busy defers.
    FakeHublink quiet;
    d.queueAnswer(MsgAnswer::Cancel);
    FireSalvo(QStringLiteral("K"), dir, m, quiet, nullptr, d);
    EXPECT_TRUE(quiet.calls().empty());
    FireSalvo(QStringLiteral("None"), dir, m, quiet, nullptr, d);
    EXPECT_EQ(d.lastText(), QStringLiteral("Cannot Fire Salvo None.  File Format Error!"));
    quiet.busy = true;
    EXPECT_EQ(FireSalvo(QStringLiteral("K"), dir, m, quiet, nullptr, d), KeyAction::Deferred);
    EXPECT_TRUE(quiet.calls().empty());
}

TEST(Salvo, takeSelectedBlockIsClippedAndRowsWithoutRoutesSendNothing)
{
    StatandConfig m = router();
    SalvoTable t = SalvoTable::forSystem(m);
    t.set(1, 1, 0); // MON2 VID <- CAM1
    t.set(1, 3, 1); // MON2 AUD <- CAM2
    FakeHublink link;
    TakeSalvoRows(t, 0, 0, 99, 99, m, link); // column 0 -> 1, bounds clipped
    EXPECT_EQ(link.callsOf(FakeHublink::Kind::H).size(), 2u); // MON2 on two controllers; MON1, MON3 empty
    FakeHublink block;
    TakeSalvoRows(t, 1, 3, 1, 3, m, block); // only the AUD cell
    ASSERT_EQ(block.callsOf(FakeHublink::Kind::H).size(), 1u);
    EXPECT_EQ(block.callsOf(FakeHublink::Kind::H)[0].id, 2);
    FakeHublink none;
    TakeSalvoRows(t, 2, 1, 1, 3, m, none); // last row before first
    TakeSalvoRows(t, -1, 1, 1, 3, m, none);
    EXPECT_TRUE(none.calls().empty());
}

// Guards against a listed "night.pre" that could not be fired ("File Format
// Error!"), deleted, or saved without making a second "night.PRE".
TEST(Salvo, fileWithALowerCaseExtensionIsTheListedSalvo)
{
    StatandConfig m = router();
    const QString dir = folder();
    ASSERT_TRUE(test::writeFile(dir + QStringLiteral("/night.pre"), "MON2, CAM1, VID\r\n"));
    ASSERT_EQ(listSalvoNames(dir), QStringList { "night" });
    EXPECT_EQ(salvoPath(dir, QStringLiteral("night")), dir + QStringLiteral("/night.pre"));
    EXPECT_EQ(salvoPath(dir, QStringLiteral("new")), dir + QStringLiteral("/new.PRE"));

    FakeHublink link;
    ScriptedDialogs d;
    EXPECT_EQ(FireSalvo(QStringLiteral("night"), dir, m, link, nullptr, d), KeyAction::Done);
    EXPECT_EQ(d.lastText(), QStringLiteral("Taking Salvo night\nAre you Sure?"));
    ASSERT_EQ(link.count(FakeHublink::Kind::H), 1);
    EXPECT_EQ(link.callsOf(FakeHublink::Kind::H).front().dst, 1);

    SalvoTable t = SalvoTable::forSystem(m);
    t.set(0, 1, 1);
    d.clear();
    ASSERT_TRUE(DoPresetSave(QStringLiteral("night"), t, dir, m, d));
    EXPECT_EQ(d.lastText(), QStringLiteral("File Exists.\nDo You wish to overwrite file?"));
    EXPECT_EQ(QDir(dir).entryList(QDir::Files), QStringList { "night.pre" }) << "no second file";
    EXPECT_EQ(test::readFile(dir + QStringLiteral("/night.pre")), QByteArray("MON1, CAM2, VID\r\n"));

    d.clear();
    DoPresetDelete(QStringLiteral("night"), dir, d);
    EXPECT_EQ(d.count(), 0) << d.lastText().toStdString();
    EXPECT_TRUE(QDir(dir).entryList(QDir::Files).isEmpty());
}

// Guards against a listed name longer than the rule allows being refused:
// a file the folder holds can be fired and saved under its own name.
TEST(Salvo, namesTheFolderHoldsAreUsableWhateverTheirLength)
{
    StatandConfig m = router();
    const QString dir = folder();
    const QString longName = QStringLiteral("Evening News Opening Titles");
    ASSERT_TRUE(test::writeFile(dir + QLatin1Char('/') + longName + QStringLiteral(".PRE"), "MON1, CAM1, VID\r\n"));
    EXPECT_TRUE(isUsableSalvoName(longName, dir));
    EXPECT_FALSE(isUsableSalvoName(QStringLiteral("Evening News Closing Titles"), dir)) << "a new name keeps the rule";
    EXPECT_FALSE(isUsableSalvoName(QString(), dir));
    ScriptedDialogs d;
    SalvoTable t = SalvoTable::forSystem(m);
    t.set(1, 1, 0);
    EXPECT_TRUE(DoPresetSave(longName, t, dir, m, d));
    EXPECT_EQ(
        test::readFile(dir + QLatin1Char('/') + longName + QStringLiteral(".PRE")), QByteArray("MON2, CAM1, VID\r\n"));
}
