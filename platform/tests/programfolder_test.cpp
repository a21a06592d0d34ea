// Where the program's data goes and where shipped files are found, for a
// build tree, an installed program and an $EXEL_HOME override.
#include "programfolder.h"
#include "testsupport.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <unistd.h>

namespace exel {
namespace {

// A fake install tree <root>/usr/{bin,share/exel} and a build-tree folder.
struct Trees {
    QTemporaryDir root { test::tempHome() + QStringLiteral("/trees-XXXXXX") };
    QString bin() const { return root.path() + QStringLiteral("/usr/bin"); }
    QString share() const { return root.path() + QStringLiteral("/usr/share/exel"); }
    QString build() const { return root.path() + QStringLiteral("/build/panel/app"); }
    QString data() const { return root.path() + QStringLiteral("/data"); }
    Trees()
    {
        QDir().mkpath(bin());
        QDir().mkpath(share());
        QDir().mkpath(build());
    }
};

// Sets or clears an environment variable for one scope.
class EnvGuard {
public:
    EnvGuard(const char *name, const QByteArray *value)
        : m_name(name)
        , m_had(qEnvironmentVariableIsSet(name))
    {
        m_old = qgetenv(name);
        if (value)
            qputenv(name, *value);
        else
            qunsetenv(name);
    }
    ~EnvGuard()
    {
        if (m_had)
            qputenv(m_name, m_old);
        else
            qunsetenv(m_name);
    }

private:
    const char *m_name;
    bool m_had;
    QByteArray m_old;
};

TEST(ProgramFolder, ExelHomeWinsEvenForAnInstalledProgram)
{
    Trees t;
    EXPECT_EQ(programFolderFor(QStringLiteral("/srv/exel"), t.bin(), t.data(), QStringLiteral("/home/op")),
        QStringLiteral("/srv/exel"));
    EXPECT_EQ(programFolderFor(QStringLiteral("/srv/exel"), t.build(), {}, QStringLiteral("/home/op")),
        QStringLiteral("/srv/exel"));
}

TEST(ProgramFolder, BuildTreeKeepsItsOwnFolder)
{
    Trees t;
    EXPECT_FALSE(isInstalledFolder(t.build()));
    EXPECT_EQ(programFolderFor({}, t.build(), t.data(), QStringLiteral("/home/op")), t.build());
    EXPECT_EQ(shippedFolderFor(t.build()), t.build());
}

TEST(ProgramFolder, InstalledProgramWritesToThePerUserDataFolder)
{
    Trees t;
    // An extracted package is writable and outside /usr: its layout gives it away.
    EXPECT_TRUE(isInstalledFolder(t.bin()));
    EXPECT_EQ(programFolderFor({}, t.bin(), t.data(), QStringLiteral("/home/op")), t.data() + QStringLiteral("/exel"));
    // XDG_DATA_HOME unset, or relative (which the rules say to ignore): ~/.local/share.
    EXPECT_EQ(
        programFolderFor({}, t.bin(), {}, QStringLiteral("/home/op")), QStringLiteral("/home/op/.local/share/exel"));
    EXPECT_EQ(programFolderFor({}, t.bin(), QStringLiteral("rel/data"), QStringLiteral("/home/op")),
        QStringLiteral("/home/op/.local/share/exel"));
    EXPECT_EQ(QFileInfo(shippedFolderFor(t.bin())).canonicalFilePath(), QFileInfo(t.share()).canonicalFilePath());
}

TEST(ProgramFolder, SystemProgramFoldersAreInstalledSourceTreesUnderUsrAreNot)
{
    for (const char *dir : { "/usr/bin", "/usr/local/bin", "/usr/lib/exel", "/usr/lib/x86_64-linux-gnu/exel",
             "/usr/libexec/exel", "/usr/bin/" })
        EXPECT_TRUE(isInstalledFolder(QString::fromLatin1(dir))) << dir;
    EXPECT_FALSE(isInstalledFolder(QStringLiteral("/usr/src/exel/build/panel/app")));
    EXPECT_FALSE(isInstalledFolder(QStringLiteral("/usr/local/src/exel/build")));
    EXPECT_FALSE(isInstalledFolder(QStringLiteral("/usr/binaries/exel")));
    EXPECT_FALSE(isInstalledFolder(QStringLiteral("/usrlocal/bin")));
    EXPECT_FALSE(isInstalledFolder(QString()));
}

TEST(ProgramFolder, ReadOnlyFolderIsInstalled)
{
    if (::geteuid() == 0)
        GTEST_SKIP() << "root can write to any folder";
    Trees t;
    const QString ro = t.root.path() + QStringLiteral("/opt/exel");
    QDir().mkpath(ro);
    QFile::setPermissions(ro, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    EXPECT_TRUE(isInstalledFolder(ro));
    QFile::setPermissions(ro, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
}

TEST(ProgramFolder, ShippedFilePrefersTheProgramFolderCopyAndNamesItWhenMissing)
{
    Trees t;
    const QString data = t.data();
    QDir().mkpath(data);
    const QString name = QStringLiteral("shipped-%1.hlp").arg(QCoreApplication::applicationPid());
    // Missing everywhere: the program folder path, so the message names it.
    EXPECT_EQ(shippedFile(name, data), data + QLatin1Char('/') + name);
    ASSERT_TRUE(test::writeFile(data + QLatin1Char('/') + name, "<html></html>"));
    EXPECT_EQ(shippedFile(name, data), data + QLatin1Char('/') + name);
    // A folder name is not a file.
    QDir().mkpath(data + QStringLiteral("/dir.hlp"));
    EXPECT_EQ(shippedFile(QStringLiteral("dir.hlp"), data), data + QStringLiteral("/dir.hlp"));
}

TEST(ProgramFolder, ShippedFileFallsBackToTheExecutableFolder)
{
    Trees t;
    QDir().mkpath(t.data());
    const QString name = QStringLiteral("beside-%1.hlp").arg(QCoreApplication::applicationPid());
    const QString beside = QCoreApplication::applicationDirPath() + QLatin1Char('/') + name;
    ASSERT_TRUE(test::writeFile(beside, "<html></html>"));
    EXPECT_EQ(shippedFile(name, t.data()), beside);
    QFile::remove(beside);
}

TEST(ProgramFolder, WithoutExelHomeABuildTreeProgramUsesItsOwnFolderAndCreatesNothing)
{
    Trees t;
    const QByteArray xdg = t.data().toLocal8Bit();
    EnvGuard home("EXEL_HOME", nullptr);
    EnvGuard data("XDG_DATA_HOME", &xdg);
    if (isInstalledFolder(QCoreApplication::applicationDirPath()))
        GTEST_SKIP() << "this build tree sits where an install would";
    EXPECT_EQ(programFolder(), QCoreApplication::applicationDirPath());
    EXPECT_EQ(inProgramFolder(QStringLiteral("CFGDB.mdb")),
        QCoreApplication::applicationDirPath() + QStringLiteral("/CFGDB.mdb"));
    EXPECT_FALSE(QFileInfo::exists(t.data() + QStringLiteral("/exel")));
}

TEST(ProgramFolder, InstalledProgramCreatesItsPrivateDataFolderOnFirstUse)
{
    Trees t;
    const QByteArray xdg = t.data().toLocal8Bit();
    EnvGuard home("EXEL_HOME", nullptr);
    EnvGuard data("XDG_DATA_HOME", &xdg);
    const QString expected = t.data() + QStringLiteral("/exel");
    ASSERT_FALSE(QFileInfo::exists(expected));
    EXPECT_EQ(programFolderOf(t.bin()), expected);
    const QFileInfo made(expected);
    ASSERT_TRUE(made.isDir());
    EXPECT_EQ(made.permissions() & (QFileDevice::ReadGroup | QFileDevice::ReadOther | QFileDevice::WriteOther), 0);
    // A second start keeps what the first one left there.
    ASSERT_TRUE(test::writeFile(expected + QStringLiteral("/A.PRE"), "x"));
    EXPECT_EQ(programFolderOf(t.bin()), expected);
    EXPECT_TRUE(QFileInfo::exists(expected + QStringLiteral("/A.PRE")));
}

TEST(ProgramFolder, ExelHomeFromTheEnvironment)
{
    const QByteArray dir = (test::tempHome() + QStringLiteral("/elsewhere")).toLocal8Bit();
    EnvGuard home("EXEL_HOME", &dir);
    EXPECT_EQ(programFolder(), QString::fromLocal8Bit(dir));
    EXPECT_EQ(inProgramFolder(QStringLiteral("A.PRE")), QString::fromLocal8Bit(dir) + QStringLiteral("/A.PRE"));
}

} // namespace
} // namespace exel
