// The link's windows with the real comm control, and whole conversations
// with the controller emulator over a pseudo-terminal.
#include "emulatedcontroller.h"
#include "frmconnect.h"
#include "frmhublink.h"
#include "testsupport.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

#include <gtest/gtest.h>

using namespace exel;
using exel::test::EmulatedController;
using exel::test::FastClock;

namespace {

std::unique_ptr<SettingsStore> freshSettings()
{
    static int n = 0;
    const QString dir = test::tempHome() + QStringLiteral("/linkui-%1").arg(++n);
    QDir().mkpath(dir);
    return std::make_unique<SettingsStore>(dir);
}

const QStringList kRouter = {
    "CTL,MAIN,1,2",         "LVL,VID,MAIN,1,16,16", "LVL,AUD,MAIN,2,16,16", "SRC,CAM1,VID,1", "SRC,CAM1,AUD,1",
    "SRC,CAM2,VID,2",       "SRC,CAM2,AUD,2",       "DST,MON1,VID,1",       "DST,MON1,AUD,1", "DST,MON2,VID,2",
    "DST,MON2,AUD,2",
};

} // namespace

TEST(LinkWindows, settingsDialogGreysOutTheModemForTheSimulator)
{
    auto settings = freshSettings();
    settings->SaveSetting(kAppName, kVarsSection, QStringLiteral("ModemEnable"), QStringLiteral("TRUE"));
    FormConfig dlg(*settings);
    EXPECT_TRUE(dlg.CommSelect[0]->isChecked());
    EXPECT_TRUE(dlg.chkRemote->isChecked());
    EXPECT_TRUE(dlg.cmbModem->isEnabled());
    ASSERT_GE(dlg.cmbModem->count(), 1);
    EXPECT_EQ(dlg.cmbModem->itemText(0), QStringLiteral("Hayes Compatible"));
    EXPECT_EQ(dlg.CommSelect[4]->text(), QStringLiteral("Simulator"));

    dlg.CommSelect[4]->click();
    EXPECT_FALSE(dlg.chkRemote->isChecked());
    EXPECT_FALSE(dlg.chkRemote->isEnabled());
    EXPECT_FALSE(dlg.txtInitString->isEnabled());
    dlg.cmdOK->click();
    EXPECT_EQ(settings->GetSetting(kAppName, kVarsSection, QStringLiteral("CommPort")), QStringLiteral("5"));
    EXPECT_EQ(settings->GetSetting(kAppName, kVarsSection, QStringLiteral("ModemEnable")), QStringLiteral("FALSE"));
}

TEST(LinkWindows, choosingAModemFillsInItsDefaultStrings)
{
    auto settings = freshSettings();
    settings->SaveSetting(kAppName, kVarsSection, QStringLiteral("ModemEnable"), QStringLiteral("TRUE"));
    FormConfig dlg(*settings);
    ASSERT_GE(dlg.cmbModem->count(), 2) << "MODEM.LST beside the engine library lists modems";
    dlg.cmbModem->setCurrentIndex(0);
    emit dlg.cmbModem->activated(0);
    EXPECT_EQ(dlg.txtInitString->text(), QStringLiteral("ATX4E1V1S7=60&C1^M"));
    EXPECT_EQ(dlg.txtModHangup->text(), QStringLiteral("~~+++~~ATH0^M"));
}

TEST(LinkWindows, connectionBookCaptionAndEveryCloseWritesTheList)
{
    auto settings = freshSettings();
    ScriptedDialogs dialogs;
    settings->SaveSetting(kAppName, kVarsSection, QStringLiteral("ModConnect0"), QStringLiteral("Studio"));
    settings->SaveSetting(kAppName, kVarsSection, QStringLiteral("ModPhone0"), QStringLiteral("123"));
    settings->SaveSetting(kAppName, kVarsSection, QStringLiteral("ModLastConnect"), QStringLiteral("Studio"));
    frmConnect book(*settings, dialogs);
    EXPECT_EQ(book.windowTitle(), QStringLiteral("32-Bit Xelvard Connect"));
    EXPECT_EQ(book.lblNumber->text(), QStringLiteral("Phone Number: 123"));
    book.btnConnect->click();
    EXPECT_TRUE(HublinkCore::connectRequested);
    EXPECT_EQ(settings->GetSetting(kAppName, kVarsSection, QStringLiteral("ModLastPhone")), QStringLiteral("123"));
    frmConnect again(*settings, dialogs);
    again.btnCancel->click();
    EXPECT_FALSE(HublinkCore::connectRequested);
}

TEST(LinkWindows, statusTakeAndLockThroughTheControlAndTheEmulator)
{
    EmulatedController controller(kRouter);
    auto settings = freshSettings();
    ScriptedDialogs dialogs;
    FastClock clock;
    frmHublink form(*settings, dialogs, clock);
    HublinkCore &link = form.link();
    ASSERT_FALSE(link.isComError()) << dialogs.lastText().toStdString();
    EXPECT_EQ(link.getDescriptionString(), QStringLiteral("COM1 Online"));

    // Take CAM2 to MON1 on both levels, then read it back.
    EXPECT_EQ(link.CPUHCmd(1, 2, 0, {1, 1}), QStringLiteral("G"));
    EXPECT_EQ(controller.emu().crosspoint(1, 1, 1), 2);
    EXPECT_EQ(controller.emu().crosspoint(1, 2, 1), 2);
    std::vector<int16_t> src;
    std::vector<bool> err;
    ASSERT_EQ(link.CPUYCmd(1, 0, src, err), 2);
    EXPECT_EQ(src[0], 1);
    EXPECT_EQ(src[1], 1);

    // Lock table read and toggle.
    EXPECT_FALSE(link.CPUWCmd(1)[1]);
    link.CPULCmd(1, 1);
    EXPECT_TRUE(controller.emu().locked(1, 2));
    EXPECT_TRUE(link.CPUWCmd(1)[1]);

    // Three silent questions: offline with one message; answers bring it back.
    controller.emu().injectFault(EmuFault::Silence, 3);
    for (int i = 0; i < 3; ++i)
        link.CPUYCmd(1, 0, src, err);
    EXPECT_TRUE(link.isComOffline());
    EXPECT_EQ(dialogs.messageTexts(), QStringList{"No Response from Controller."});
    EXPECT_EQ(link.getDescriptionString(), QStringLiteral("COM1 Offline"));
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(link.CPUYCmd(1, 0, src, err), 2);
    EXPECT_FALSE(link.isComOffline());
}

TEST(LinkWindows, aPortThatCannotBeOpenedSaysWhichDeviceAndWhy)
{
    const QString empty = test::tempHome() + QStringLiteral("/no-devices");
    QDir().mkpath(empty);
    auto settings = freshSettings();
    ScriptedDialogs dialogs;
    // Port 4 with an empty device folder: <folder>/COM4 is missing, and
    // /dev/ttyS3 is missing or unusable on the machines here.
    settings->SaveSetting(kAppName, kVarsSection, QStringLiteral("CommPort"), QStringLiteral("4"));
    qputenv("TOLCOM_DEVICE_DIR", empty.toLocal8Bit());
    frmHublink form(*settings, dialogs);
    qunsetenv("TOLCOM_DEVICE_DIR");
    if (!form.link().isComError())
        GTEST_SKIP() << "/dev/ttyS3 opened on this machine";
    ASSERT_GE(dialogs.count(), 1);
    // The box reads the fixed text; the device's reason is its detail.
    EXPECT_EQ(dialogs.lastText(), QStringLiteral("Serial COM Port Error.\nUnable to open COM4"));
    const QString detail = dialogs.shown().back().detail;
    EXPECT_TRUE(detail.startsWith(QStringLiteral("Cannot open "))) << detail.toStdString();
    EXPECT_TRUE(detail.contains(empty + QStringLiteral("/COM4"))) << detail.toStdString();
    EXPECT_EQ(form.link().openProblem(), detail);
}
