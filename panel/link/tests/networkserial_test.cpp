// The link to a controller behind a network serial server: Debian's ser2net
// serves the controller emulator's pseudo-terminal on a loopback port, raw and
// with RFC 2217, and the panel reaches it as COM1 through the port map with
// its ordinary settings.
#include "emulatedcontroller.h"
#include "frmconnect.h"
#include "frmhublink.h"
#include "ser2netserver.h"
#include "testsupport.h"

#include <QLabel>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

using namespace exel;
using exel::test::EmulatedController;
using exel::test::FastClock;
using exel::test::Ser2netServer;

namespace {

const QStringList kRouter = {
    "CTL,MAIN,1,2",   "LVL,VID,MAIN,1,16,16", "LVL,AUD,MAIN,2,16,16", "SRC,CAM1,VID,1", "SRC,CAM1,AUD,1", "SRC,CAM2,VID,2",
    "SRC,CAM2,AUD,2", "DST,MON1,VID,1",       "DST,MON1,AUD,1",       "DST,MON2,VID,2", "DST,MON2,AUD,2",
};

std::unique_ptr<SettingsStore> freshSettings()
{
    static int n = 0;
    const QString dir = test::tempHome() + QStringLiteral("/netlink-%1").arg(++n);
    QDir().mkpath(dir);
    return std::make_unique<SettingsStore>(dir);
}

class NetworkSerial : public ::testing::TestWithParam<Ser2netServer::Mode> {
protected:
    void SetUp() override
    {
        if (Ser2netServer::program().isEmpty())
            GTEST_SKIP() << "ser2net is not installed (scripts/setup installs it)";
        controller = std::make_unique<EmulatedController>(kRouter);
        // No device folder: COM1 can only be the server.
        qunsetenv("TOLCOM_DEVICE_DIR");
        server = std::make_unique<Ser2netServer>(controller->ptyPath(), GetParam());
        const QString why = server->start();
        ASSERT_TRUE(why.isEmpty()) << why.toStdString();
        server->writePortMap(1);
    }
    void TearDown() override
    {
        server.reset();
        Ser2netServer::removePortMap();
    }
    // ser2net copies bytes between the socket and the device in its own
    // time; the link's waits run on real time here (FastClock would make a
    // loaded machine's answers look late).
    std::unique_ptr<EmulatedController> controller;
    std::unique_ptr<Ser2netServer> server;
};

} // namespace

TEST_P(NetworkSerial, statusTakeLockOfflineAndRecoveryThroughTheServer)
{
    auto settings = freshSettings();
    ScriptedDialogs dialogs;
    frmHublink form(*settings, dialogs);
    HublinkCore &link = form.link();
    ASSERT_FALSE(link.isComError()) << dialogs.lastText().toStdString();
    EXPECT_EQ(link.getDescriptionString(), QStringLiteral("COM1 Online"));

    EXPECT_EQ(link.CPUHCmd(1, 2, 0, {1, 1}), QStringLiteral("G"));
    EXPECT_EQ(controller->emu().crosspoint(1, 1, 1), 2);
    EXPECT_EQ(controller->emu().crosspoint(1, 2, 1), 2);
    std::vector<int16_t> src;
    std::vector<bool> err;
    ASSERT_EQ(link.CPUYCmd(1, 0, src, err), 2);
    EXPECT_EQ(src[0], 1);
    EXPECT_EQ(src[1], 1);

    EXPECT_FALSE(link.CPUWCmd(1)[1]);
    link.CPULCmd(1, 1);
    EXPECT_TRUE(controller->emu().locked(1, 2));
    EXPECT_TRUE(link.CPUWCmd(1)[1]);

    // Three silent questions take the link offline with one message; three
    // answers bring it back.
    controller->emu().injectFault(EmuFault::Silence, 3);
    for (int i = 0; i < 3; ++i)
        link.CPUYCmd(1, 0, src, err);
    EXPECT_TRUE(link.isComOffline());
    EXPECT_EQ(dialogs.messageTexts(), QStringList{"No Response from Controller."});
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(link.CPUYCmd(1, 0, src, err), 2);
    EXPECT_FALSE(link.isComOffline());
    EXPECT_GE(controller->count(QStringLiteral("Y")), 7) << "every request went through the server";
}

TEST_P(NetworkSerial, aLostServerIsACarrierLossAndTheNextOpenReconnects)
{
    auto settings = freshSettings();
    ScriptedDialogs dialogs;
    FastClock clock; // the silent waits after the loss take a fifth of their time
    auto form = std::make_unique<frmHublink>(*settings, dialogs, clock);
    ASSERT_FALSE(form->link().isComError()) << dialogs.lastText().toStdString();
    QObject *comm = form->findChild<QObject *>(QStringLiteral("comHublink"));
    ASSERT_NE(comm, nullptr);
    QSignalSpy carrier(comm, SIGNAL(CarrierChanged()));
    std::vector<int16_t> src;
    std::vector<bool> err;
    ASSERT_EQ(form->link().CPUYCmd(1, 0, src, err), 2);

    server->stop();
    // The engine's timer notices the closed connection.
    for (int i = 0; i < 100 && comm->property("PortOpen").toBool(); ++i)
        QTest::qWait(20);
    EXPECT_FALSE(comm->property("PortOpen").toBool());
    EXPECT_GE(carrier.count(), 1);
    // The link reports the lost connection at once, as a port error with the
    // reason under it, and sends nothing more until the port is opened again.
    EXPECT_TRUE(form->link().isComOffline());
    EXPECT_TRUE(form->link().isComError());
    EXPECT_EQ(dialogs.messageTexts(), QStringList{"Serial COM Port Error."});
    EXPECT_FALSE(dialogs.shown().back().detail.isEmpty());
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(form->link().CPUYCmd(1, 0, src, err), 0);
    EXPECT_EQ(dialogs.messageTexts(), QStringList{"Serial COM Port Error."});

    // Once the server is back, the operator's next open (the settings
    // dialog's OK reloads the link) connects again.
    ASSERT_TRUE(server->start().isEmpty());
    form.reset();
    dialogs.clear();
    frmHublink again(*settings, dialogs);
    ASSERT_FALSE(again.link().isComError()) << dialogs.lastText().toStdString();
    EXPECT_EQ(again.link().CPUYCmd(1, 0, src, err), 2);
}

TEST_P(NetworkSerial, theSettingsDialogSaysWhereTheMappedPortLeads)
{
    auto settings = freshSettings();
    FormConfig dlg(*settings);
    EXPECT_EQ(dlg.CommSelect[0]->text(), QStringLiteral("Com1 \u2192 127.0.0.1:%1").arg(server->port()));
    EXPECT_EQ(dlg.CommSelect[1]->text(), QStringLiteral("Com2"));
}

INSTANTIATE_TEST_SUITE_P(Ser2net, NetworkSerial, ::testing::Values(Ser2netServer::Raw, Ser2netServer::Rfc2217),
                         [](const auto &info) { return info.param == Ser2netServer::Raw ? "raw" : "rfc2217"; });

TEST(NetworkSerialMap, anUnreachableServerTakesThePortErrorPathWithItsReason)
{
    // Nothing listens on this loopback port: the open fails at once.
    Ser2netServer nobody(QStringLiteral("/dev/null"), Ser2netServer::Raw);
    QFile f(qEnvironmentVariable("XDG_CONFIG_HOME") + QStringLiteral("/tolcom-ports.conf"));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write("# studio rack\nCOM1 = tcp://127.0.0.1:1\nCOM2 tcp://nowhere\n");
    f.close();
    auto settings = freshSettings();
    ScriptedDialogs dialogs;
    frmHublink form(*settings, dialogs);
    EXPECT_TRUE(form.link().isComError());
    ASSERT_EQ(dialogs.messageTexts().size(), 1);
    EXPECT_EQ(dialogs.messageTexts()[0], QStringLiteral("Serial COM Port Error.\nUnable to open COM1"));
    EXPECT_EQ(dialogs.shown().back().detail,
        QStringLiteral("Cannot open COM1 (tcp://127.0.0.1:1): cannot connect to 127.0.0.1:1: Connection refused"));
    FormConfig dlg(*settings);
    EXPECT_EQ(dlg.CommSelect[0]->text(), QStringLiteral("Com1 \u2192 127.0.0.1:1"));
    auto *problems = dlg.findChild<QLabel *>(QStringLiteral("lblPortMap"));
    ASSERT_NE(problems, nullptr);
    EXPECT_TRUE(problems->text().contains(QStringLiteral("tolcom-ports.conf line 3:"))) << problems->text().toStdString();
    Ser2netServer::removePortMap();
}
