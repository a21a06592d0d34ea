// First run on a machine without the controller's port: the panel's own link
// window fails to open it, and the communication settings dialog that follows
// says which device was tried and why, and points to the simulator.
#include "frmconnect.h"
#include "panelfixture.h"
#include "panelhost.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QRadioButton>
#include <QTimer>

#include <memory>

namespace exel {
namespace {

struct DialogSeen {
    bool shown = false;
    bool infoVisible = false;
    QString info;
    bool simulatorFocused = false;
};

// Reads the settings dialog once it is up, then cancels it.
// Shared, so that a timer still pending after a skipped test reads into
// nothing that has gone.
void readAndCancelSettingsDialog(const std::shared_ptr<DialogSeen> &seenPtr, int triesLeft = 200)
{
    QTimer::singleShot(10, qApp, [seenPtr, triesLeft] {
        DialogSeen &seen = *seenPtr;
        auto *dlg = qobject_cast<FormConfig *>(QApplication::activeModalWidget());
        if (!dlg) {
            if (triesLeft > 0)
                readAndCancelSettingsDialog(seenPtr, triesLeft - 1);
            return;
        }
        seen.shown = true;
        seen.infoVisible = !dlg->lblPortInfo->isHidden();
        seen.info = dlg->lblPortInfo->text();
        seen.simulatorFocused = dlg->focusWidget() == dlg->CommSelect[4];
        dlg->cmdCancel->click();
    });
}

// The program's own link window and settings dialog over the test's settings.
struct RealLinkPanel : test::PanelUnderTest {
    RealLinkPanel()
        : test::PanelUnderTest(nullptr)
    {
    }
    PanelEnvironment realEnvironment()
    {
        PanelEnvironment env = environment();
        env.linkFactory = hublinkFactory(*settings, dialogs);
        env.settingsDialog = communicationsDialog(*settings);
        return env;
    }
};

TEST(FirstRun, portThatWillNotOpenLeadsToTheSettingsDialogWithTheReasonAndTheSimulator)
{
    const QString empty = test::freshFolder(QStringLiteral("no-devices"));
    RealLinkPanel p;
    // Port 4 in an empty device folder: COM4 is missing there, and /dev/ttyS3
    // is missing or unusable on the machines here.
    p.setting(QStringLiteral("CommPort"), QStringLiteral("4"));
    qputenv("TOLCOM_DEVICE_DIR", empty.toLocal8Bit());
    auto seenPtr = std::make_shared<DialogSeen>();
    const DialogSeen &seen = *seenPtr;
    readAndCancelSettingsDialog(seenPtr);
    XelForm &form = p.start(p.realEnvironment());
    qunsetenv("TOLCOM_DEVICE_DIR");
    if (!form.link().isComError())
        GTEST_SKIP() << "/dev/ttyS3 opened on this machine";

    ASSERT_TRUE(seen.shown) << "no settings dialog after the port error";
    EXPECT_TRUE(seen.infoVisible);
    EXPECT_TRUE(seen.info.contains(empty + QStringLiteral("/COM4"))) << seen.info.toStdString();
    EXPECT_TRUE(seen.info.contains(QStringLiteral("Simulator"))) << seen.info.toStdString();
    EXPECT_TRUE(seen.simulatorFocused);
    // The operator saw the port error itself first, with the same reason.
    ASSERT_GE(p.dialogs.count(), 1);
    EXPECT_EQ(p.dialogs.shown().front().text, QStringLiteral("Serial COM Port Error.\nUnable to open COM4"));
    const QString reason = p.dialogs.shown().front().detail;
    EXPECT_FALSE(reason.isEmpty());
    EXPECT_TRUE(seen.info.startsWith(reason)) << seen.info.toStdString();
    // Cancel changed nothing: the port stays as it was.
    EXPECT_EQ(p.setting(QStringLiteral("CommPort")), QStringLiteral("4"));
}

TEST(FirstRun, settingsDialogOverAWorkingLinkShowsNoProblem)
{
    RealLinkPanel p;
    p.setting(QStringLiteral("CommPort"), QStringLiteral("5")); // simulator
    XelForm &form = p.start(p.realEnvironment());
    ASSERT_FALSE(form.link().isComError());
    auto seenPtr = std::make_shared<DialogSeen>();
    const DialogSeen &seen = *seenPtr;
    readAndCancelSettingsDialog(seenPtr);
    form.mnuCfgSettings_Click();
    ASSERT_TRUE(seen.shown);
    EXPECT_FALSE(seen.infoVisible);
    EXPECT_TRUE(seen.info.isEmpty());
}

TEST(FirstRun, hintKeepsTheReasonAndOffersTheSimulator)
{
    EXPECT_TRUE(portProblemHint(QString()).isEmpty());
    EXPECT_TRUE(portProblemHint(QStringLiteral("  ")).isEmpty());
    const QString hint = portProblemHint(QStringLiteral("Cannot open /dev/COM1: permission denied "));
    EXPECT_TRUE(hint.startsWith(QStringLiteral("Cannot open /dev/COM1: permission denied\n"))) << hint.toStdString();
    EXPECT_TRUE(hint.contains(QStringLiteral("Simulator")));
}

} // namespace
} // namespace exel
