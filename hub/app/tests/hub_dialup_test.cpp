// The hub on a dial-up line: the real modem emulator program on a
// pseudo-terminal, its far end the controller emulator; the hub's line is
// dialled through the modem before its first command, and panels are served
// over the connection as over a cable.
#include "hubharness.h"
#include "scriptedpanel.h"

#include <QElapsedTimer>
#include <QProcess>

#include <gtest/gtest.h>

using namespace exel;
using namespace exel::hub;

namespace {

// The modem emulator with its COM1 link in its own folder, passing data to
// and from the controller emulator's device once connected.
class ModemProgram {
public:
    bool start(const QString &linkDir, const QByteArray &linePath)
    {
        m_proc.start(QStringLiteral(MODEMEMU_BINARY),
            { QStringLiteral("--link-dir"), linkDir, QStringLiteral("--port"), QStringLiteral("1"),
                QStringLiteral("--line"), QString::fromLocal8Bit(linePath), QStringLiteral("--dial-delay-ms"),
                QStringLiteral("300") });
        if (!m_proc.waitForStarted(5000))
            return false;
        QByteArray out;
        while (!out.contains("link ")) {
            if (!m_proc.waitForReadyRead(5000))
                return false;
            out += m_proc.readAllStandardOutput();
        }
        return true;
    }
    ~ModemProgram()
    {
        m_proc.terminate();
        if (!m_proc.waitForFinished(3000))
            m_proc.kill();
        m_proc.waitForFinished(1000);
    }

private:
    QProcess m_proc;
};

} // namespace

TEST(HubDialUp, theLineIsDialledThroughTheModem_thenPanelsAreServedAndTakesReachTheController)
{
    hubtest::HubHarness h(QStringLiteral("phone = 5551234"));
    ASSERT_TRUE(h.startEmulator());
    const QString modemDir = h.dir + QStringLiteral("/modem");
    QDir().mkpath(modemDir);
    ModemProgram modem;
    ASSERT_TRUE(modem.start(modemDir, h.emulator.path()));
    // The hub's COM1 is the modem, not the controller.
    qputenv("TOLCOM_DEVICE_DIR", modemDir.toLocal8Bit());
    QString error;
    ASSERT_TRUE(h.startHub(&error)) << qPrintable(error);

    hubtest::ScriptedPanel p;
    ASSERT_TRUE(p.connectTo(h.port()));
    // The first question waits for the dial and the controller's answer.
    QElapsedTimer t;
    t.start();
    QString answer;
    while (answer.isEmpty() && t.elapsed() < 20000)
        answer = p.ask(QStringLiteral("Y003"), 3000);
    ASSERT_TRUE(answer.startsWith(QStringLiteral("003"))) << "no answer through the modem";
    EXPECT_EQ(answer.size(), 17);
    EXPECT_TRUE(h.line().online());
    EXPECT_EQ(p.ask(QStringLiteral("H003007007007007")), QStringLiteral("G"));
    EXPECT_TRUE(hubtest::emulatorConversation(h.control, "dump").contains("X 0 1 3 7 "));
    EXPECT_EQ(p.ask(QStringLiteral("Y003")), QStringLiteral("00300007007007007"));
}
