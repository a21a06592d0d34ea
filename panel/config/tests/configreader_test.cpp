// The panel's configuration reader: record checks, the two passes, file errors
// and a large generated system compared record by record.
#include "configreader.h"
#include "sysgen.h"
#include "testsupport.h"

#include <gtest/gtest.h>

#include <cerrno>

using namespace exel;

namespace {

const QStringList kBase = {
    "CTL,MAIN,1,2",
    "LVL,VID,MAIN,1,8,8",
    "LVL,AUD,MAIN,2,8,8",
    "SRC,CAM1,VID,1",
    "SRC,CAM1,AUD,3",
    "SRC,CAM2,VID,2",
    "DST,MON1,VID,1",
    "DST,MON1,AUD,0",
};

StatandConfig loaded(const QStringList &extra = {})
{
    StatandConfig m;
    const ConfigLoadResult r = LoadConfigLines(m, kBase + extra, QStringLiteral("T"));
    EXPECT_TRUE(r.ok()) << r.reason.toStdString() << " at line " << r.lineNumber;
    return m;
}

struct LineCase {
    const char *line;
    bool ok;
};

} // namespace

TEST(ConfigReader, recordChecksOnAFreshLine)
{
    // Each line is parsed against the base system plus its own counted names.
    const LineCase cases[] = {
        {"", true},
        {"* comment, with, commas", true},
        {" *X", false},                  // not a comment: one field
        {"JUNK", false},                 // one field
        {"VER,1.0", true},               // ignored
        {"XYZ,1,2,3", true},             // unknown keyword ignored
        {"ctl,B,2,1", true},             // lower-case keyword: not a record, ignored
        {"CTL,B,7,1", true},
        {"CTL,B,8,1", false},            // address past 7
        {"CTL,B,-1,1", false},
        {"CTL,B,2,0", false},            // no levels
        {"CTL,B,2", false},              // too few fields
        {"CTL,MAIN,3,1", false},         // name known
        {"CTL,B,2,99999", false},        // overflow
        {"LVL,TC,MAIN,2,4,4", true},     // level numbers may repeat in the panel
        {"LVL,TC,MAIN,3,4,4", false},    // controller has two levels
        {"LVL,TC,MAIN,0,4,4", false},
        {"LVL,TC,NONE,1,4,4", false},    // unknown controller
        {"LVL,VID,MAIN,1,4,4", false},   // level name known
        {"LVL,TC,MAIN,1,0,4", false},
        {"LVL,TC,MAIN,1,4,0", false},
        {"LVL,TC,MAIN,1,4", false},
        {"SRC,CAM3", false},             // count 2
        {"SRC,CAM3,VID", true},          // count 3 records nothing
        {"SRC,CAM3,VID,4", true},
        {"SRC,CAM3,VID,0", true},
        {"SRC,CAM3,NOPE,4", false},
        {"SRC,CAM3,VID,-2", false},
        {"SRC,CAM3,VID,40000", false},
        {" SRC , CAM3 , VID , 4 ", true}, // blanks around fields do not matter
        {"DST,MON2,AUD,2", true},
        {"DST,MON2,NOPE,2", false},
        {"SNS,STUDIO,CAM1", true},
        {"SNS,STUDIO", true},
        {"SNS,STUDIO,", true},
        {"SNS,STUDIO,NOBODY", false},
        {"SND,STUDIO,MON1", true},
        {"SND,STUDIO,CAM1", false},      // a source is no destination
        {"SRC,,VID,1", false},           // empty names are refused
        {"SNS,,CAM1", false},
    };
    for (const auto &c : cases) {
        StatandConfig m;
        const QString line = QString::fromLatin1(c.line);
        const ConfigLoadResult r = LoadConfigLines(m, kBase + QStringList{line}, QStringLiteral("T"));
        EXPECT_EQ(r.ok(), c.ok) << c.line << " -> " << r.reason.toStdString();
        if (!r.ok()) {
            EXPECT_EQ(r.lineNumber, kBase.size() + 1) << c.line;
        }
    }
}

TEST(ConfigReader, sourceNumbersAndAbsence)
{
    StatandConfig m = loaded({"SRC,CAM3,VID", "SNS,ALL,CAM2", "SNS,ALL,CAM1", "SND,ALL,MON1"});
    const int cam1 = m.FindSource(QStringLiteral("CAM1"));
    EXPECT_EQ(m.SourceNumbers(cam1), (std::vector<int16_t>{0, 2}));
    EXPECT_EQ(m.SourceNumbers(m.FindSource(QStringLiteral("CAM2"))), (std::vector<int16_t>{1, -1}));
    // "SRC,CAM3,VID" counted a slot but recorded nothing.
    EXPECT_EQ(m.sourceCount(), 3);
    EXPECT_EQ(m.FindSource(QStringLiteral("CAM3")), -1);
    const int mon1 = m.FindDestination(QStringLiteral("MON1"));
    EXPECT_TRUE(m.DestinationOnLevel(mon1, 0));
    EXPECT_FALSE(m.DestinationOnLevel(mon1, 1)); // output 0 = absent
    const LevelRecord &aud = m.level(m.FindLevel(QStringLiteral("AUD")));
    EXPECT_EQ(aud.levelNumber, 1);
    EXPECT_EQ(aud.controllerAddress, 1);
    const auto set = m.NameSetSourceList(m.FindNameSet(QStringLiteral("ALL")));
    ASSERT_EQ(set.size(), 2u);
    EXPECT_EQ(set[0].index, m.FindSource(QStringLiteral("CAM2")));
    EXPECT_EQ(m.NameSetDestinationList(0).size(), 1u);
    EXPECT_EQ(m.Status(1, mon1).source, -1);
    EXPECT_EQ(m.configurationName(), QStringLiteral("T"));
}

TEST(ConfigReader, commentsAndBlankLinesOnlyGiveAnEmptySystem)
{
    StatandConfig m;
    m.BuildDefaultSystem();
    const ConfigLoadResult r = LoadConfigLines(m, {"* nothing here", "", "*", ""}, QStringLiteral("EMPTY"));
    EXPECT_TRUE(r.ok());
    EXPECT_EQ(m.controllerCount() + m.levelCount() + m.sourceCount() + m.destinationCount() + m.nameSetCount(), 0);
}

TEST(ConfigReader, aBadLineStopsTheLoadAndKeepsWhatCameBefore)
{
    StatandConfig m;
    const ConfigLoadResult r =
        LoadConfigLines(m, kBase + QStringList{"SRC,CAM9,VID,5", "CTL,X,9,1", "SRC,CAM10,VID,6"}, QStringLiteral("T"));
    ASSERT_EQ(r.status, ConfigLoadResult::Status::BadLine);
    EXPECT_EQ(r.lineNumber, 10);
    EXPECT_EQ(r.line, QStringLiteral("CTL,X,9,1"));
    EXPECT_GE(m.FindSource(QStringLiteral("CAM9")), 0);
    EXPECT_EQ(m.FindSource(QStringLiteral("CAM10")), -1);
    EXPECT_EQ(m.configurationName(), QStringLiteral("T"));
    EXPECT_TRUE(configBadLineText(r).startsWith(QStringLiteral("Invalid Information in Configuration File\nLine 10:")));
}

TEST(ConfigReader, fileErrorsLeaveTheModelAsItWas)
{
    StatandConfig m;
    m.BuildDefaultSystem();
    const QString missing = test::tempHome() + QStringLiteral("/missing.cfg");
    ConfigLoadResult r = LoadConfigFile(m, missing);
    ASSERT_EQ(r.status, ConfigLoadResult::Status::OpenFailed);
    EXPECT_EQ(r.error.number, ENOENT);
    EXPECT_EQ(m.sourceCount(), 16);
    EXPECT_EQ(configOpenErrorText(missing, r.error),
              QStringLiteral("Unable to Open Configuarion File:") + missing + QStringLiteral("\nError #  2\n")
                  + r.error.description);
    r = LoadConfigFile(m, test::tempHome());
    EXPECT_EQ(r.error.number, EISDIR);
    EXPECT_EQ(m.configurationName(), QStringLiteral("<default>"));
}

TEST(ConfigReader, fileWithMixedLineEndsLoadsAndIsNamedFromItsPath)
{
    const QString path = test::tempHome() + QStringLiteral("/MAIN.A.CFG");
    ASSERT_TRUE(test::writeFile(path, "CTL,C,0,1\r\nLVL,V,C,1,2,2\nSRC,A,V,1\rDST,B,V,2\r\nSND,S,B"));
    StatandConfig m;
    const ConfigLoadResult r = LoadConfigFile(m, path);
    ASSERT_TRUE(r.ok()) << r.reason.toStdString();
    EXPECT_EQ(m.configurationName(), QStringLiteral("MAIN"));
    EXPECT_EQ(m.DestinationNumber(0, 0), 1);
    EXPECT_EQ(ConfigurationNameFromPath(QStringLiteral("C:\\CFG\\STUDIO.CFG")), QStringLiteral("STUDIO"));
    EXPECT_EQ(ConfigurationNameFromPath(QStringLiteral("D:X.DAT")), QStringLiteral("X"));
    EXPECT_EQ(ConfigurationNameFromPath(QStringLiteral("/home/op/site.v2.cfg")), QStringLiteral("site"));
}

TEST(ConfigReader, largeGeneratedSystemLoadsRecordByRecord)
{
    const QStringList lines = generateSystemConfig(300, 200, 6, 2, 50);
    StatandConfig m;
    const ConfigLoadResult r = LoadConfigLines(m, lines, QStringLiteral("BIG"));
    ASSERT_TRUE(r.ok()) << r.reason.toStdString() << " line " << r.lineNumber;
    ASSERT_EQ(m.controllerCount(), 2);
    ASSERT_EQ(m.levelCount(), 6);
    ASSERT_EQ(m.sourceCount(), 300);
    ASSERT_EQ(m.destinationCount(), 200);
    ASSERT_EQ(m.nameSetCount(), 6);
    // Every record line of the file is reflected in the tables.
    for (const QString &line : lines) {
        const QStringList f = SplitConfigFields(line);
        if (f[0] == u"SRC") {
            const int s = m.FindSource(f[1]);
            ASSERT_GE(s, 0);
            EXPECT_EQ(m.SourceNumber(s, m.FindLevel(f[2])), f[3].toInt() - 1) << line.toStdString();
        } else if (f[0] == u"DST") {
            EXPECT_EQ(m.DestinationNumber(m.FindDestination(f[1]), m.FindLevel(f[2])), f[3].toInt() - 1);
        } else if (f[0] == u"LVL") {
            const LevelRecord &l = m.level(m.FindLevel(f[1]));
            EXPECT_EQ(l.levelNumber, f[3].toInt() - 1);
            EXPECT_EQ(l.controllerAddress, m.controller(m.FindController(f[2])).address);
        }
    }
    EXPECT_EQ(m.NameSetSourceList(m.FindNameSet(QStringLiteral("SET006"))).size(), 50u);
    EXPECT_EQ(m.NameSetDestinationList(m.FindNameSet(QStringLiteral("SET005"))).size(), 0u);
    EXPECT_EQ(m.NameSetDestinationList(m.FindNameSet(QStringLiteral("SET004"))).size(), 50u);
}

TEST(ConfigReader, tooManyNamesAreReportedNotWrapped)
{
    QStringList lines = {"CTL,C,0,1", "LVL,V,C,1,2,2"};
    for (int i = 0; i < 32768; ++i)
        lines << QStringLiteral("SRC,S%1,V").arg(i);
    StatandConfig m;
    const ConfigLoadResult r = LoadConfigLines(m, lines, QStringLiteral("HUGE"));
    ASSERT_EQ(r.status, ConfigLoadResult::Status::BadLine);
    EXPECT_EQ(r.lineNumber, lines.size());
    EXPECT_EQ(m.sourceCount(), 0);
}

TEST(ConfigReader, interleavedNamesFromAFileLandOnTheirOwnEntriesAndOutliveTheText)
{
    // Runs of one name and names coming back after others, through the whole
    // load of a file and through the record pass line by line: both agree.
    const QStringList lines = {"CTL,C,1,2",       "LVL,V,C,1,9,9",    "LVL,A,C,2,9,9",    "SRC,S1,V,1",
                               "SRC,S2,V,2",      "SRC,S1,A,3",       "SRC,S2,A,4",       "SRC,S1,V,5",
                               "DST,D1,V,1",      "DST,D2,A,2",       "DST,D1,A,3",       "SNS,X,S1",
                               "SNS,Y,S2",        "SNS,X,S2",         "SND,Y,D1",         "SND,X,D2"};
    const QString path = test::tempHome() + QStringLiteral("/INTER.CFG");
    ASSERT_TRUE(test::writeFile(path, lines.join(QStringLiteral("\r\n")).toLatin1()));
    StatandConfig fromFile;
    ASSERT_TRUE(LoadConfigFile(fromFile, path).ok());
    StatandConfig byLine;
    ASSERT_TRUE(byLine.SizeForLoad(CountConfigLines(lines)));
    for (const QString &line : lines)
        ASSERT_TRUE(ParseConfigLine(byLine, line).ok) << line.toStdString();
    for (const StatandConfig *m : {&fromFile, &byLine}) {
        // The file's text is gone by now: every name must be the model's own copy.
        EXPECT_EQ(m->SourceName(0), QStringLiteral("S1"));
        EXPECT_EQ(m->SourceName(1), QStringLiteral("S2"));
        EXPECT_EQ(m->DestinationName(1), QStringLiteral("D2"));
        EXPECT_EQ(m->LevelName(1), QStringLiteral("A"));
        EXPECT_EQ(m->NameSetName(0), QStringLiteral("X"));
        EXPECT_EQ(m->controller(0).name, QStringLiteral("C"));
        EXPECT_EQ(m->SourceNumbers(0), (std::vector<int16_t>{4, 2}));
        EXPECT_EQ(m->SourceNumbers(1), (std::vector<int16_t>{1, 3}));
        EXPECT_EQ(m->DestinationNumbers(0), (std::vector<int16_t>{0, 2}));
        EXPECT_EQ(m->DestinationNumbers(1), (std::vector<int16_t>{-1, 1}));
        const auto x = m->NameSetSourceList(m->FindNameSet(QStringLiteral("X")));
        ASSERT_EQ(x.size(), 2u);
        EXPECT_EQ(x[0].index, 0);
        EXPECT_EQ(x[1].index, 1);
        EXPECT_EQ(m->NameSetDestinationList(m->FindNameSet(QStringLiteral("Y"))).size(), 1u);
    }
}

TEST(ConfigReader, aKnownNameAtTheLimitIsCountedAndTheFirstNewOneIsReported)
{
    QStringList lines = {"CTL,C,0,1", "LVL,V,C,1,2,2"};
    for (int i = 0; i < StatandConfig::kMaxCount; ++i)
        lines << QStringLiteral("SRC,S%1,V").arg(i);
    lines << QStringLiteral("SRC,S5,V") << QStringLiteral("SRC,NEW,V") << QStringLiteral("SRC,NEW,V")
          << QStringLiteral("SRC,S6,V") << QStringLiteral("SRC,LATER,V");
    int tooMany = 0;
    const SystemCounts counts = CountConfigLines(lines, &tooMany);
    EXPECT_EQ(counts.sources, StatandConfig::kMaxCount);
    EXPECT_EQ(tooMany, 2 + StatandConfig::kMaxCount + 2);
}
