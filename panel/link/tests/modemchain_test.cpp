// Dial-up path for real: the link initialises and dials the Hayes modem
// emulator through the engine and the control, then talks to the controller
// emulator behind it; busy and silent lines give their messages.
#include "frmhublink.h"
#include "hayesmodem.h"
#include "testsupport.h"
#include "xelemulator.h"

#include <QSocketNotifier>
#include <QTimer>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

using namespace exel;

namespace {

// The modem on the master side of a pty (its DTE side), the controller
// emulator on its line side.
class ModemLine {
public:
    explicit ModemLine(modememu::HayesModem::Outcome outcome)
        : m_modem(SystemClock::instance())
    {
        const QString cfg = test::tempHome() + QStringLiteral("/modem-emu.cfg");
        test::writeFile(cfg, "CTL,MAIN,1,1\r\nLVL,VID,MAIN,1,8,8\r\nSRC,CAM1,VID,1\r\nSRC,CAM2,VID,2\r\n"
                             "DST,MON1,VID,1\r\nDST,MON2,VID,2\r\n");
        QString error;
        XelEmulator::loadModel(cfg, m_model, error);
        m_emu = std::make_unique<XelEmulator>(m_model);
        m_modem.setOutcome(outcome);
        m_modem.setDialDelayMs(50);
        m_modem.setGuardMs(200);
        char name[256] = {};
        openpty(&m_master, &m_slave, name, nullptr, nullptr);
        termios t {};
        tcgetattr(m_slave, &t);
        cfmakeraw(&t);
        tcsetattr(m_slave, TCSANOW, &t);
        fcntl(m_master, F_SETFL, fcntl(m_master, F_GETFL) | O_NONBLOCK);
        m_devDir = test::tempHome() + QStringLiteral("/modemdev-%1").arg(m_master);
        QDir().mkpath(m_devDir);
        QFile::link(QString::fromLatin1(name), m_devDir + QStringLiteral("/COM2"));
        qputenv("TOLCOM_DEVICE_DIR", m_devDir.toLocal8Bit());
        m_notifier = std::make_unique<QSocketNotifier>(m_master, QSocketNotifier::Read);
        QObject::connect(m_notifier.get(), &QSocketNotifier::activated, [this] { pump(); });
        QObject::connect(&m_tick, &QTimer::timeout, [this] { pump(); });
        m_tick.start(10);
    }
    ~ModemLine()
    {
        m_tick.stop();
        m_notifier.reset();
        ::close(m_slave);
        ::close(m_master);
        qunsetenv("TOLCOM_DEVICE_DIR");
    }
    modememu::HayesModem &modem() { return m_modem; }
    XelEmulator &emu() { return *m_emu; }

private:
    void pump()
    {
        char buf[512];
        const ssize_t n = ::read(m_master, buf, sizeof buf);
        if (n > 0)
            m_modem.fromDte(std::string_view(buf, static_cast<size_t>(n)));
        m_modem.poll();
        const std::string toLine = m_modem.takeToLine();
        if (!toLine.empty())
            for (const EmuReply &r : m_emu->receive(QByteArray(toLine.data(), static_cast<int>(toLine.size()))))
                if (!r.bytes.isEmpty())
                    m_modem.fromLine(std::string_view(r.bytes.constData(), static_cast<size_t>(r.bytes.size())));
        const std::string out = m_modem.takeToDte();
        if (!out.empty())
            (void)!::write(m_master, out.data(), out.size());
    }
    modememu::HayesModem m_modem;
    StatandConfig m_model;
    std::unique_ptr<XelEmulator> m_emu;
    int m_master = -1;
    int m_slave = -1;
    QString m_devDir;
    std::unique_ptr<QSocketNotifier> m_notifier;
    QTimer m_tick;
};

std::unique_ptr<SettingsStore> modemSettings()
{
    static int n = 0;
    const QString dir = test::tempHome() + QStringLiteral("/modem-%1").arg(++n);
    QDir().mkpath(dir);
    auto s = std::make_unique<SettingsStore>(dir);
    s->SaveSetting(kAppName, kVarsSection, QStringLiteral("CommPort"), QStringLiteral("2"));
    s->SaveSetting(kAppName, kVarsSection, QStringLiteral("ModemEnable"), QStringLiteral("TRUE"));
    s->SaveSetting(kAppName, kVarsSection, QStringLiteral("ModLastPhone"), QStringLiteral("5551234"));
    return s;
}

} // namespace

TEST(ModemChain, dialsConnectsAndTalksToTheControllerBehindTheModem)
{
    ModemLine line(modememu::HayesModem::Outcome::Connect);
    auto settings = modemSettings();
    ScriptedDialogs dialogs;
    frmHublink form(*settings, dialogs);
    form.connectionBookOverride = [] { return true; };
    HublinkCore &link = form.link();
    ASSERT_FALSE(link.isComError()) << dialogs.lastText().toStdString();
    EXPECT_EQ(link.getDescriptionString(), QStringLiteral("COM2 Remote Disconnect"));

    link.ConnectModem();
    EXPECT_EQ(dialogs.count(), 0) << dialogs.lastText().toStdString();
    EXPECT_EQ(line.modem().dialed(), "5551234");
    ASSERT_EQ(link.modemState(), HublinkCore::ModemConnected);
    EXPECT_EQ(link.getDescriptionString(), QStringLiteral("COM2 Remote Online"));

    EXPECT_EQ(link.CPUHCmd(1, 1, 1, {0}), QStringLiteral("G"));
    EXPECT_EQ(line.emu().crosspoint(1, 1, 2), 1);
    std::vector<int16_t> src;
    std::vector<bool> err;
    EXPECT_EQ(link.CPUYCmd(1, 1, src, err), 1);
    EXPECT_EQ(src[0], 0);
}

TEST(ModemChain, busyLineAndFailedInitialisationAreReported)
{
    ModemLine line(modememu::HayesModem::Outcome::Busy);
    auto settings = modemSettings();
    ScriptedDialogs dialogs;
    frmHublink form(*settings, dialogs);
    form.connectionBookOverride = [] { return true; };
    form.link().ConnectModem();
    EXPECT_EQ(dialogs.lastText(), QStringLiteral("Dialing 5551234 failed!"))
        << "modem saw: " << line.modem().commands().size() << " commands, last state "
        << static_cast<int>(line.modem().state()) << "; messages: " << dialogs.messageTexts().join(" | ").toStdString();
    EXPECT_EQ(form.link().modemState(), HublinkCore::ModemDisconnected);

    // A command while disconnected offers the connection book first; Cancel sends nothing.
    form.connectionBookOverride = [] { return false; };
    float timeout = 0;
    EXPECT_EQ(form.link().SendHublinkCmd(QStringLiteral("Y001"), timeout), QString());
}
