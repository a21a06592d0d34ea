// The connection book's storage and buttons, and the communication settings.
#include "connectionbook.h"
#include "testsupport.h"

#include <gtest/gtest.h>

using namespace exel;

namespace {
class BookTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        static int n = 0;
        const QString dir = test::tempHome() + QStringLiteral("/book-%1").arg(++n);
        QDir().mkpath(dir);
        settings = std::make_unique<SettingsStore>(dir);
    }
    void set(const QString &key, const QString &value) { settings->SaveSetting(kAppName, kVarsSection, key, value); }
    QString get(const QString &key) { return settings->GetSetting(kAppName, kVarsSection, key, QStringLiteral("<none>")); }

    std::unique_ptr<SettingsStore> settings;
    ScriptedDialogs dialogs;
};
} // namespace

TEST_F(BookTest, loadStopsAtTheFirstGapAndTheNextCloseRenumbers)
{
    set("ModConnect0", "Studio A");
    set("ModPhone0", "100");
    set("ModConnect1", "Studio B");
    set("ModPhone1", "200");
    set("ModConnect3", "Lost");
    set("ModPhone3", "400");
    set("ModLastConnect", "Studio B");
    ConnectionBook book(*settings, dialogs);
    book.LoadConnections();
    EXPECT_EQ(book.names(), (QStringList{"Studio A", "Studio B"}));
    EXPECT_EQ(book.selected(), 1);
    EXPECT_EQ(book.ShowPhoneNumber(), QStringLiteral("Phone Number: 200"));
    book.writeConnections();
    EXPECT_EQ(get("ModLastPhone"), QStringLiteral("200"));
    EXPECT_EQ(get("ModConnect1"), QStringLiteral("Studio B"));
    // The entry behind the gap is not part of the list any more; only entries
    // up to the first missing number are rewritten.
    ConnectionBook again(*settings, dialogs);
    again.LoadConnections();
    EXPECT_EQ(again.names().size(), 2);
}

TEST_F(BookTest, newEditDeleteWithTheirMessages)
{
    ConnectionBook book(*settings, dialogs);
    book.LoadConnections();
    EXPECT_EQ(book.ShowPhoneNumber(), QStringLiteral("Phone Number: "));

    dialogs.queueInput(QStringLiteral("North"));
    dialogs.queueInput(QStringLiteral("555-0100"));
    EXPECT_TRUE(book.btnNew_Click());
    dialogs.queueInput(QStringLiteral("South"));
    dialogs.queueInput(QStringLiteral("555-0200"));
    EXPECT_TRUE(book.btnNew_Click());
    EXPECT_EQ(dialogs.shown()[0].text, QStringLiteral("Please Enter New Connection Name."));
    EXPECT_EQ(dialogs.shown()[1].text, QStringLiteral("Please Enter the phone number for North"));

    dialogs.queueInput(QStringLiteral("North"));
    EXPECT_FALSE(book.btnNew_Click());
    EXPECT_EQ(dialogs.lastText(), QStringLiteral("The Connection North already exists!"));
    dialogs.queueInput(QString()); // empty name stops
    EXPECT_FALSE(book.btnNew_Click());

    book.select(1);
    dialogs.queueInput(QStringLiteral("North"));
    EXPECT_FALSE(book.btnEdit_Click());
    EXPECT_EQ(dialogs.lastText(), QStringLiteral("The Connection North already exists elsewhere!"));
    EXPECT_EQ(book.names()[1], QStringLiteral("South"));
    dialogs.queueInput(QStringLiteral("West"));
    dialogs.queueInput(QStringLiteral("555-0300"));
    EXPECT_TRUE(book.btnEdit_Click());
    EXPECT_EQ(book.names(), (QStringList{"North", "West"}));

    book.select(0);
    dialogs.queueAnswer(MsgAnswer::Cancel);
    EXPECT_FALSE(book.btnDelete_Click());
    EXPECT_EQ(dialogs.lastText(), QStringLiteral("Are you sure you want to\ndelete this connection?"));
    EXPECT_TRUE(book.btnDelete_Click());
    EXPECT_EQ(book.names(), QStringList{"West"});
    EXPECT_EQ(book.phones(), QStringList{"555-0300"}); // numbers move down with their names
}

TEST_F(BookTest, closingWithNothingSelectedForgetsTheLastConnection)
{
    set("ModConnect0", "A");
    set("ModPhone0", "1");
    set("ModLastConnect", "A");
    set("ModLastPhone", "1");
    ConnectionBook book(*settings, dialogs);
    book.LoadConnections();
    book.select(-1);
    book.writeConnections();
    EXPECT_EQ(get("ModLastConnect"), QStringLiteral("<none>"));
    EXPECT_EQ(get("ModLastPhone"), QStringLiteral("<none>"));
    EXPECT_EQ(get("ModConnect0"), QStringLiteral("A"));
}

TEST_F(BookTest, simulatorChoiceDisablesTheModemAndOkStoresOnlyWhatIsEnabled)
{
    set("ModemEnable", "TRUE");
    set("ModemInit", "ATZ^M");
    set("ModemType", "Zoom");
    CommSettingsForm form(*settings);
    form.load();
    EXPECT_TRUE(form.modemEnabled());
    form.CommSelect_Click(4);
    EXPECT_FALSE(form.modemEnabled());
    EXPECT_FALSE(form.remoteCheckEnabled());
    EXPECT_FALSE(form.modemFieldsEnabled());
    CommSettingsForm::settingsChanged = false;
    form.cmdOK_Click(QStringLiteral("Other"), QStringLiteral("AT&F^M"), QString());
    EXPECT_TRUE(CommSettingsForm::settingsChanged);
    EXPECT_EQ(get("CommPort"), QStringLiteral("5"));
    EXPECT_EQ(get("ModemEnable"), QStringLiteral("FALSE"));
    EXPECT_EQ(get("ModemInit"), QStringLiteral("ATZ^M")); // left as it was
    EXPECT_EQ(get("ModemType"), QStringLiteral("Zoom"));

    form.CommSelect_Click(1);
    form.chkRemote_Click(true);
    form.cmdOK_Click(QStringLiteral("US Robotics"), QStringLiteral("AT&F^M"), QStringLiteral("+++ATH^M"));
    EXPECT_EQ(get("CommPort"), QStringLiteral("2"));
    EXPECT_EQ(get("ModemEnable"), QStringLiteral("TRUE"));
    EXPECT_EQ(get("ModemType"), QStringLiteral("US Robotics"));
    EXPECT_EQ(get("ModemHang"), QStringLiteral("+++ATH^M"));
}

// Guards against losing the whole book to an interruption: it was removed
// and stored again as many separate writes of the settings file.
TEST_F(BookTest, theWholeBookIsStoredInOneWrite)
{
    for (int i = 0; i < 5; ++i) {
        set(QStringLiteral("ModConnect%1").arg(i), QStringLiteral("Site %1").arg(i));
        set(QStringLiteral("ModPhone%1").arg(i), QStringLiteral("10%1").arg(i));
    }
    set("ModLastConnect", "Site 3");
    set("ModLastPhone", "103");
    set("Other", "kept");
    ConnectionBook book(*settings, dialogs);
    book.LoadConnections();
    ASSERT_EQ(book.selected(), 3);
    dialogs.queueAnswer(MsgAnswer::Ok);
    ASSERT_TRUE(book.btnDelete_Click()); // Site 3 goes; Site 4 moves up and is selected
    const int before = settings->writeCount();
    book.writeConnections();
    EXPECT_EQ(settings->writeCount() - before, 1);

    SettingsStore fresh(settings->configDir());
    const auto read = [&](const char *k) { return fresh.GetSetting(kAppName, kVarsSection, k, "<none>"); };
    EXPECT_EQ(read("ModConnect3"), QStringLiteral("Site 4"));
    EXPECT_EQ(read("ModPhone3"), QStringLiteral("104"));
    EXPECT_EQ(read("ModConnect4"), QStringLiteral("<none>"));
    EXPECT_EQ(read("ModPhone4"), QStringLiteral("<none>"));
    EXPECT_EQ(read("ModLastConnect"), QStringLiteral("Site 4"));
    EXPECT_EQ(read("ModLastPhone"), QStringLiteral("104"));
    EXPECT_EQ(read("Other"), QStringLiteral("kept"));
}
