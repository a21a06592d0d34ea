// The settings string, look-up lists and matching, modem records and the modem list.
#include "settingsdialog.h"
#include "textforms.h"

#include <gtest/gtest.h>

using namespace tolcom;

namespace {

struct SettingsCase {
    const char *text;
    bool ok;
    SerialSettings expected; // when ok; start is always 9600,n,8,1
};

class SettingsParse : public ::testing::TestWithParam<SettingsCase> { };

TEST_P(SettingsParse, matchesTable)
{
    const SettingsCase &c = GetParam();
    SerialSettings s; // 9600, n, 8, one stop bit
    EXPECT_EQ(parseSettings(c.text, s), c.ok) << c.text;
    const SerialSettings want = c.ok ? c.expected : SerialSettings {};
    EXPECT_EQ(s.baud, want.baud) << c.text;
    EXPECT_EQ(s.parity, want.parity) << c.text;
    EXPECT_EQ(s.dataBits, want.dataBits) << c.text;
    EXPECT_EQ(s.stopBits, want.stopBits) << c.text;
}

INSTANTIATE_TEST_SUITE_P(Table, SettingsParse,
    ::testing::Values(SettingsCase { "9600,N,8,2", true, { 9600, 0, 8, 2 } },
        SettingsCase { ",e,7,", true, { 9600, 2, 7, 0 } }, SettingsCase { "19200,n,8,1.5", true, { 19200, 0, 8, 1 } },
        SettingsCase { "", true, { 9600, 0, 8, 0 } }, SettingsCase { "  1200 , O , 5 , 2  ", true, { 1200, 1, 5, 2 } },
        SettingsCase { "300,m,4,1", true, { 300, 3, 4, 0 } }, SettingsCase { "300,S", true, { 300, 4, 8, 0 } },
        SettingsCase { "\t4800,,,2", true, { 4800, 0, 8, 2 } },
        // Only the first 19 characters count: the junk beyond is never seen.
        SettingsCase { "115200,n,8,1"
                       "       x",
            true, { 115200, 0, 8, 0 } },
        SettingsCase { "115200,n,8,1"
                       "      x",
            false, {} },
        SettingsCase { "9600,x,8,1", false, {} }, SettingsCase { "9600,n,8,1 more", false, {} },
        SettingsCase { "9600,none,8,1", false, {} }, SettingsCase { "9600,n,9,1", false, {} },
        SettingsCase { "9600,n,3,1", false, {} }, SettingsCase { "9600,n,8,3", false, {} },
        SettingsCase { "9600,n,8,1.", false, {} }, SettingsCase { "9600;n;8;1", false, {} },
        SettingsCase { "abc", false, {} }, SettingsCase { "99999999999,n,8,1", false, {} }, // would wrap past 32 bits
        SettingsCase { "9600,n,8,1,", false, {} }));

TEST(SettingsFormat, printsLowerCaseAndEmptyForUnknownValues)
{
    EXPECT_EQ(formatSettings({ 9600, 0, 8, 2 }), "9600,n,8,2");
    EXPECT_EQ(formatSettings({ 19200, 4, 7, 1 }), "19200,s,7,1.5");
    EXPECT_EQ(formatSettings({ 300, 9, 12, 5 }), "300,,,");
}

TEST(SettingsDialogText, buildsWhatSetSettingsTakes)
{
    EXPECT_EQ(dialogSettingsText(9600, 2, 7, 1), "9600,e,7,1.5");
    EXPECT_EQ(dialogBaudIndex(9600), 3);
    EXPECT_EQ(dialogBaudIndex(57600), 7); // shows as 38400
    EXPECT_EQ(dialogHandshaking(0), 1);
    EXPECT_EQ(dialogHandshaking(1), 2);
    EXPECT_EQ(dialogHandshaking(2), 0);
    SerialSettings s;
    EXPECT_TRUE(parseSettings(dialogSettingsText(38400, 3, 5, 2), s));
    EXPECT_EQ(s.parity, 3);
}

TEST(LookUpList, readsStringsUntilTheEmptyOne)
{
    const char block[] = "OK\0ERROR\0\0ignored\0";
    std::vector<std::string> out;
    EXPECT_EQ(readLookUpList(block, sizeof block, out), LookUpListStatus::Ok);
    EXPECT_EQ(out, (std::vector<std::string> { "OK", "ERROR" }));
}

TEST(LookUpList, refusesABlockWithoutItsEmptyStringWithinTheSize)
{
    const char block[] = { 'O', 'K', '\0', 'E', 'R' };
    std::vector<std::string> out;
    EXPECT_EQ(readLookUpList(block, sizeof block, out), LookUpListStatus::Unterminated);
    EXPECT_TRUE(out.empty());
    EXPECT_EQ(readLookUpList(nullptr, 10, out), LookUpListStatus::Unterminated);
    EXPECT_EQ(readLookUpList("OK\0", 3, out), LookUpListStatus::Unterminated);
}

TEST(LookUpList, takesAtMostFiftyStrings)
{
    std::string block;
    for (int i = 0; i < 60; ++i)
        block += "s" + std::to_string(i) + '\0';
    block += '\0';
    std::vector<std::string> out;
    EXPECT_EQ(readLookUpList(block.data(), block.size(), out), LookUpListStatus::TooMany);
    ASSERT_EQ(out.size(), 50u);
    EXPECT_EQ(out.back(), "s49");
}

TEST(LookUpMatcher, matchesTheLastBytesIgnoringCaseInListOrder)
{
    LookUpMatcher m({ "OK", "ERROR" });
    int idx = -1;
    for (char c : std::string("AT\r\r\nok"))
        idx = m.feed(c);
    EXPECT_EQ(idx, 0);

    LookUpMatcher partial({ "OK", "ERROR" });
    for (char c : std::string("err"))
        idx = partial.feed(c);
    EXPECT_EQ(idx, -1);

    // Both end here: the earlier string in the list wins.
    LookUpMatcher order({ "CARRIER", "NO CARRIER" });
    for (char c : std::string("NO CARRIER"))
        idx = order.feed(c);
    EXPECT_EQ(idx, 0);
}

TEST(LookUpMatcher, slidesPastLongerNoise)
{
    LookUpMatcher m({ "BUSY", "CONNECT" });
    int idx = -1;
    for (char c : std::string("CONNEC CONNECXCONNECT"))
        idx = idx >= 0 ? idx : m.feed(c);
    EXPECT_EQ(idx, 1);
}

TEST(ModemRecord, builtInEntryAndRoundTrip)
{
    const ModemOptions b = ModemOptions::builtIn();
    EXPECT_EQ(b.toText(), "Hayes Compatible\tATX4E1V1S7=60&C1^M\tATDT\tATDP\tATS0=2^M\t~~+++~~ATH0^M\t14400");
    EXPECT_EQ(ModemOptions::fromText(b.toText()), b);
}

TEST(ModemRecord, controlBytesEndFieldsAndMissingFieldsAreEmpty)
{
    const ModemOptions m = ModemOptions::fromText("Zoom\tATZ^M\r\n");
    EXPECT_EQ(m.fields[ModemOptions::Title], "Zoom");
    EXPECT_EQ(m.fields[ModemOptions::Init], "ATZ^M");
    EXPECT_EQ(m.fields[ModemOptions::ToneDial], "");
    EXPECT_EQ(m.fields[ModemOptions::MaxSpeed], "");
}

TEST(ModemList, splitsLinesOfEveryEndingAndCutsLongOnes)
{
    const std::string longLine(300, 'x');
    const auto lines = readModemListLines("a\r\nb\nc\r" + longLine + "\nlast");
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[0], "a");
    EXPECT_EQ(lines[2], "c");
    EXPECT_EQ(lines[3].size(), kModemLineMax);
    EXPECT_EQ(lines[4], "last");
    EXPECT_TRUE(readModemListLines("").empty());
}

} // namespace
