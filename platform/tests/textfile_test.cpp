// Text file reading (line ends, errors) and the atomic writer.
#include "textfile.h"
#include "testsupport.h"

#include <gtest/gtest.h>

#include <cerrno>

using namespace exel;

TEST(TextFile, everyLineEndStyleSplitsLines)
{
    const QString path = test::tempHome() + QStringLiteral("/lines.txt");
    ASSERT_TRUE(test::writeFile(path, "a\r\nb\nc\rd\r\n\r\ne"));
    QStringList lines;
    ErrorInfo err;
    ASSERT_TRUE(readTextLines(path, lines, err));
    EXPECT_EQ(lines, (QStringList{"a", "b", "c", "d", "", "e"}));
}

TEST(TextFile, viewsOfTheWholeTextFollowTheSameLineRules)
{
    const QString path = test::tempHome() + QStringLiteral("/views.txt");
    ASSERT_TRUE(test::writeFile(path, QByteArray("a\r\nb\nc\rd\r\n\r\n\xe9", 13)));
    QString text;
    std::vector<QStringView> views;
    ErrorInfo err;
    ASSERT_TRUE(readTextView(path, text, views, err));
    QStringList lines;
    for (QStringView v : views)
        lines << v.toString();
    EXPECT_EQ(lines, (QStringList{"a", "b", "c", "d", "", QString(QChar(0xe9))}));
    QStringList viaLines;
    ASSERT_TRUE(readTextLines(path, viaLines, err));
    EXPECT_EQ(viaLines, lines);
    // A failed read leaves nothing behind from an earlier one.
    EXPECT_FALSE(readTextView(test::tempHome() + QStringLiteral("/nope.cfg"), text, views, err));
    EXPECT_EQ(err.number, ENOENT);
    EXPECT_TRUE(views.empty());
    EXPECT_TRUE(text.isEmpty());
}

TEST(TextFile, bytesOutsideAsciiSurviveAsLatin1)
{
    const QString path = test::tempHome() + QStringLiteral("/latin.txt");
    ASSERT_TRUE(test::writeFile(path, QByteArray("CAM\xe9\xff\x01", 6)));
    QStringList lines;
    ErrorInfo err;
    ASSERT_TRUE(readTextLines(path, lines, err));
    ASSERT_EQ(lines.size(), 1);
    EXPECT_EQ(lines[0].toLatin1(), QByteArray("CAM\xe9\xff\x01", 6));
}

TEST(TextFile, folderMissingFileAndEmptyNameReportTheOsError)
{
    QStringList lines;
    ErrorInfo err;
    EXPECT_FALSE(readTextLines(test::tempHome(), lines, err));
    EXPECT_EQ(err.number, EISDIR);
    EXPECT_FALSE(readTextLines(test::tempHome() + QStringLiteral("/nope.cfg"), lines, err));
    EXPECT_EQ(err.number, ENOENT);
    EXPECT_FALSE(err.description.isEmpty());
    EXPECT_FALSE(readTextLines(QString(), lines, err));
    EXPECT_EQ(err.number, ENOENT);
}

TEST(TextFile, atomicWriteReplacesAndLeavesOldFileOnFailure)
{
    const QString path = test::tempHome() + QStringLiteral("/out.cfg");
    ErrorInfo err;
    ASSERT_TRUE(writeFileAtomic(path, crlfText({"VER,1.0", "CTL,A,1,2"}), err));
    EXPECT_EQ(test::readFile(path), QByteArray("VER,1.0\r\nCTL,A,1,2\r\n"));
    ASSERT_TRUE(writeFileAtomic(path, QByteArray("new"), err));
    EXPECT_EQ(test::readFile(path), QByteArray("new"));
    // A target in a missing folder fails with its errno and writes nothing.
    EXPECT_FALSE(writeFileAtomic(test::tempHome() + QStringLiteral("/no/such/dir/x.cfg"), "x", err));
    EXPECT_EQ(err.number, ENOENT);
    EXPECT_EQ(QDir(test::tempHome()).entryList({"out.cfg.*"}, QDir::Files).size(), 0);
}
