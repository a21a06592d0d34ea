// The link's windows with the real comm control, and whole conversations
// with the controller emulator over a pseudo-terminal.
#include "frmconnect.h"
#include "frmhublink.h"
#include "testsupport.h"
#include "xelemulator.h"

#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSocketNotifier>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

using namespace exel;

namespace {

// Real time, running twenty times faster, so two-second waits take 100 ms.
class FastClock : public Clock {
public:
    FastClock() { m_timer.start(); }
    int64_t nowMs() const override { return m_timer.elapsed() * 20; }

private:
    QElapsedTimer m_timer;
};

std::unique_ptr<SettingsStore> freshSettings()
{
    static int n = 0;
    const QString dir = test::tempHome() + QStringLiteral("/linkui-%1").arg(++n);
    QDir().mkpath(dir);
    return std::make_unique<SettingsStore>(dir);
}

// The controller emulator answering on the master side of a pty whose slave
// is reachable as COM1 in a private device folder.
class EmulatedController {
public:
    explicit EmulatedController(const QStringList &config)
    {
        const QString cfg = test::tempHome() + QStringLiteral("/emu.cfg");
        test::writeFile(cfg, config.join(QStringLiteral("\r\n")).toLatin1());
        QString error;
        XelEmulator::loadModel(cfg, m_model, error);
        m_emu = std::make_unique<XelEmulator>(m_model);
        char name[256] = {};
        openpty(&m_master, &m_slave, name, nullptr, nullptr);
        termios t {};
        tcgetattr(m_slave, &t);
        cfmakeraw(&t);
        tcsetattr(m_slave, TCSANOW, &t);
        fcntl(m_master, F_SETFL, fcntl(m_master, F_GETFL) | O_NONBLOCK);
        m_devDir = test::tempHome() + QStringLiteral("/dev-%1").arg(m_master);
        QDir().mkpath(m_devDir);
        QFile::remove(m_devDir + QStringLiteral("/COM1"));
        QFile::link(QString::fromLatin1(name), m_devDir + QStringLiteral("/COM1"));
        qputenv("TOLCOM_DEVICE_DIR", m_devDir.toLocal8Bit());
        m_notifier = std::make_unique<QSocketNotifier>(m_master, QSocketNotifier::Read);
        QObject::connect(m_notifier.get(), &QSocketNotifier::activated, [this] { serve(); });
    }
    ~EmulatedController()
    {
        m_notifier.reset();
        ::close(m_slave);
        ::close(m_master);
        qunsetenv("TOLCOM_DEVICE_DIR");
    }
    XelEmulator &emu() { return *m_emu; }
    QStringList received;

private:
    void serve()
    {
        char buf[512];
        const ssize_t n = ::read(m_master, buf, sizeof buf);
        if (n <= 0)
            return;
        received << QString::fromLatin1(buf, static_cast<int>(n));
        for (const EmuReply &r : m_emu->receive(QByteArray(buf, static_cast<int>(n))))
            if (!r.bytes.isEmpty() && !r.hangup)
                (void)!::write(m_master, r.bytes.constData(), static_cast<size_t>(r.bytes.size()));
    }
    StatandConfig m_model;
    std::unique_ptr<XelEmulator> m_emu;
    int m_master = -1;
    int m_slave = -1;
    QString m_devDir;
    std::unique_ptr<QSocketNotifier> m_notifier;
};

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
    const QString text = dialogs.lastText();
    EXPECT_TRUE(text.startsWith(QStringLiteral("Serial COM Port Error.\nUnable to open COM4\nCannot open ")))
        << text.toStdString();
    EXPECT_TRUE(text.contains(empty + QStringLiteral("/COM4"))) << text.toStdString();
    EXPECT_EQ(form.link().openProblem(), text.section(QLatin1Char('\n'), 2));
}
