// The settings store: case-blind keys and sections, flags, deletion, the INI file.
#include "settingsstore.h"
#include "testsupport.h"

#include <gtest/gtest.h>

using namespace exel;

namespace {
SettingsStore freshStore()
{
    static int n = 0;
    const QString dir = test::tempHome() + QStringLiteral("/settings-%1").arg(++n);
    QDir().mkpath(dir);
    return SettingsStore(dir);
}
} // namespace

TEST(SettingsStore, absentKeyGivesDefault)
{
    SettingsStore s = freshStore();
    EXPECT_EQ(s.GetSetting(kAppName, kVarsSection, QStringLiteral("CommPort"), QStringLiteral("1")),
              QStringLiteral("1"));
    EXPECT_FALSE(s.hasSetting(kAppName, kVarsSection, QStringLiteral("CommPort")));
}

TEST(SettingsStore, keysAndSectionsAreFoundWhateverTheirCase)
{
    SettingsStore s = freshStore();
    s.SaveSetting(kAppName, kVarsSection, QStringLiteral("Autoload"), QStringLiteral("TRUE"));
    EXPECT_EQ(s.GetSetting(kAppName, kVarsSection, QStringLiteral("AutoLoad")), QStringLiteral("TRUE"));
    EXPECT_EQ(s.GetSetting(kAppName, QStringLiteral("vars"), QStringLiteral("AUTOLOAD")), QStringLiteral("TRUE"));

    // A write under another case replaces the one value, it does not add a second.
    s.SaveSetting(kAppName, kVarsSection, QStringLiteral("AutoLoad"), QStringLiteral("FALSE"));
    EXPECT_EQ(s.GetSetting(kAppName, kVarsSection, QStringLiteral("autoload")), QStringLiteral("FALSE"));
    const QByteArray ini = test::readFile(s.filePath(kAppName));
    EXPECT_EQ(ini.toLower().count("autoload="), 1) << ini.constData();
}

TEST(SettingsStore, flagsAreTrueOnlyForExactUpperCaseTrue)
{
    SettingsStore s = freshStore();
    const QString key = QStringLiteral("ModemEnable");
    EXPECT_FALSE(s.GetFlag(kAppName, kVarsSection, key));
    for (const char *text : {"true", "True", "1", "TRUE ", "yes"}) {
        s.SaveSetting(kAppName, kVarsSection, key, QString::fromLatin1(text));
        EXPECT_FALSE(s.GetFlag(kAppName, kVarsSection, key)) << text;
    }
    s.SaveFlag(kAppName, kVarsSection, key, true);
    EXPECT_EQ(s.GetSetting(kAppName, kVarsSection, key), QStringLiteral("TRUE"));
    EXPECT_TRUE(s.GetFlag(kAppName, kVarsSection, key));
}

TEST(SettingsStore, deleteRemovesEveryCaseVariantAndValuesRoundTrip)
{
    SettingsStore s = freshStore();
    s.SaveSetting(kAppName, kVarsSection, QStringLiteral("ModConnect0"), QStringLiteral("Studio, A \\ B"));
    EXPECT_EQ(s.GetSetting(kAppName, kVarsSection, QStringLiteral("modconnect0")),
              QStringLiteral("Studio, A \\ B"));
    s.DeleteSetting(kAppName, kVarsSection, QStringLiteral("MODCONNECT0"));
    EXPECT_FALSE(s.hasSetting(kAppName, kVarsSection, QStringLiteral("ModConnect0")));
    s.DeleteSetting(kAppName, kVarsSection, QStringLiteral("NeverThere"));
}

TEST(SettingsStore, handWrittenValueWithCommaReadsAsText)
{
    SettingsStore s = freshStore();
    ASSERT_TRUE(test::writeFile(s.filePath(kAppName), "[VARS]\nConfigFile=/a,b.cfg\n"));
    EXPECT_EQ(s.GetSetting(kAppName, kVarsSection, QStringLiteral("configfile")), QStringLiteral("/a,b.cfg"));
}
