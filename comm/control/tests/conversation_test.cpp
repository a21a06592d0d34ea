// A conversation over a real pseudo-terminal, driven only by member name the
// way the panel's link window drives its control; and the modem members over
// the Hayes modem emulator.
#include "controlfactory.h"
#include "controltest.h"

#include <hayesmodem.h>

#include <QComboBox>
#include <QListWidget>

#include <gtest/gtest.h>

using namespace controltest;

namespace {

int waitForInput(QObject *comm, int ms)
{
    int n = -1;
    QMetaObject::invokeMethod(comm, "WaitForInput", Q_RETURN_ARG(int, n), Q_ARG(int, ms));
    return n;
}

} // namespace

TEST(TolCommConversation, panel_link_sequence_over_a_pty)
{
    enginetest::PtyPort pty(2);
    ASSERT_TRUE(pty.ok());
    QWidget host;
    QObject *comm = exel::createControl("TolLinkware.TolComm", &host);
    ASSERT_NE(comm, nullptr);
    // The link window connects the carrier event by its signature.
    ASSERT_TRUE(QObject::connect(comm, SIGNAL(CarrierChanged()), &host, SLOT(update())));

    comm->setProperty("CommPort", 2);
    comm->setProperty("Settings", "9600,N,8,2");
    comm->setProperty("AutoReceive", false);
    comm->setProperty("InputLen", 0);
    comm->setProperty("RTSEnable", true);
    comm->setProperty("PortOpen", true);
    ASSERT_TRUE(comm->property("PortOpen").toBool());
    EXPECT_EQ(comm->property("Settings").toString(), "9600,n,8,2");
    EXPECT_FALSE(comm->property("CDHolding").toBool()); // a pty has no carrier

    // A command and its answer.
    comm->setProperty("InBufferCount", 0);
    comm->setProperty("Output", "S 001\r");
    EXPECT_EQ(pty.receive(6), "S 001\r");
    pty.send("OK 001\r");
    EXPECT_GE(waitForInput(comm, 2000), 1);
    ASSERT_TRUE(enginetest::waitQueued(comm->property("CommHandle").toUInt(), 7));
    EXPECT_EQ(comm->property("InBufferCount").toInt(), 7);
    EXPECT_EQ(comm->property("ComInput").toString(), "OK 001\r");
    EXPECT_EQ(comm->property("InBufferCount").toInt(), 0);
    EXPECT_EQ(comm->property("ComInput").toString(), "");

    // Setting InBufferCount throws away what waits.
    pty.send("stale");
    ASSERT_TRUE(enginetest::waitQueued(comm->property("CommHandle").toUInt(), 5));
    comm->setProperty("InBufferCount", 0);
    EXPECT_EQ(comm->property("InBufferCount").toInt(), 0);
    comm->setProperty("OutBufferCount", 0);
    EXPECT_EQ(comm->property("OutBufferCount").toInt(), 0);

    // InputLen: a read takes exactly that many bytes or nothing.
    comm->setProperty("InputLen", 4);
    pty.send("abc");
    ASSERT_TRUE(enginetest::waitQueued(comm->property("CommHandle").toUInt(), 3));
    EXPECT_EQ(comm->property("ComInput").toString(), "");
    pty.send("de");
    ASSERT_TRUE(enginetest::waitQueued(comm->property("CommHandle").toUInt(), 5));
    EXPECT_EQ(comm->property("ComInput").toString(), "abcd");
    EXPECT_EQ(comm->property("InBufferCount").toInt(), 1);

    // Every byte value survives both ways.
    comm->setProperty("InputLen", 0);
    comm->setProperty("InBufferCount", 0);
    QString all;
    for (int i = 0; i < 256; ++i)
        all += QChar(i);
    comm->setProperty("Output", all);
    const std::string echoed = pty.receive(256);
    ASSERT_EQ(echoed.size(), 256u);
    pty.send(echoed);
    ASSERT_TRUE(enginetest::waitQueued(comm->property("CommHandle").toUInt(), 256));
    EXPECT_EQ(comm->property("ComInput").toString(), all);

    comm->setProperty("OutputLine", "");
    EXPECT_EQ(pty.receive(1), "\r");
    comm->setProperty("Handshaking", 0);
    int error = -1;
    QMetaObject::invokeMethod(comm, "lastError", Q_RETURN_ARG(int, error));
    EXPECT_EQ(error, 0);

    comm->setProperty("PortOpen", false);
    EXPECT_FALSE(comm->property("PortOpen").toBool());
    EXPECT_EQ(waitForInput(comm, 10), 0);
}

TEST(TolCommConversation, line_input_and_look_up_input)
{
    enginetest::PtyPort pty(4);
    ASSERT_TRUE(pty.ok());
    TolComm comm;
    comm.setProperty("CommPort", 4);
    comm.setProperty("PortOpen", true);
    ASSERT_TRUE(comm.property("PortOpen").toBool());
    const uint h = comm.property("CommHandle").toUInt();

    pty.send("ab\r\n");
    ASSERT_TRUE(enginetest::waitQueued(h, 4));
    comm.setProperty("InTimeOut", 1000);
    EXPECT_EQ(comm.property("ComLineInput").toString(), "ab");

    comm.setProperty("InBufferCount", 0);
    comm.setProperty("LookUpText", "OK;ERROR");
    comm.setProperty("LookUpSeparator", ";");
    comm.setProperty("LookUpTimeOut", 3000);
    pty.send("xx error");
    EXPECT_EQ(comm.property("LookUp").toInt(), 1);
    pty.send("CONNECT 9600\r\nOK");
    EXPECT_EQ(comm.property("LookUpInput").toString(), "CONNECT 9600\r\nOK");
}

namespace {

// The emulator on the far side of the fake port; serviced on every pause of a wait.
struct ModemRig {
    explicit ModemRig(enginetest::FakeDriverScope &fake)
        : port(*fake.port)
        , modem(clock)
    {
        port.onWrite = [this](const std::string &bytes) {
            modem.fromDte(bytes);
            service();
        };
        port.onDtr = [this](bool on) {
            modem.setDtr(on);
            service();
        };
        modem.setGuardMs(1000);
        modem.setDialDelayMs(2000);
        tolcom::setEngineClock(&clock);
        tolcom::setPauseHook([this](int ms) {
            clock.advance(ms);
            service();
            return 0;
        });
    }
    ~ModemRig()
    {
        tolcom::setEngineClock(nullptr);
        tolcom::setPauseHook(nullptr);
    }
    void service()
    {
        modem.poll();
        port.received += modem.takeToDte();
        port.lines = modem.carrier() ? (tolcom::kLineCarrier | tolcom::kLineDsr | tolcom::kLineCts) : 0;
    }
    exel::FakeClock clock;
    tolcom::FakePort &port;
    modememu::HayesModem modem;
};

} // namespace

TEST(TolCommModem, init_dial_carrier_and_hang_up_by_member_name)
{
    enginetest::FakeDriverScope fake;
    ModemRig rig(fake);
    TolComm comm;
    comm.InitProperties();
    comm.setProperty("Interval", 10);
    comm.setProperty("PortOpen", true);
    ASSERT_TRUE(comm.property("PortOpen").toBool());
    EventLog log(comm);

    comm.setProperty("ModemInitCommand", "ATE0V1^M");
    EXPECT_TRUE(comm.property("InitModem").toBool());
    EXPECT_NE(fake.port->written.find("ATE0V1\r"), std::string::npos);

    comm.setProperty("Dial", "5551234");
    EXPECT_EQ(comm.property("Dial").toString(), "CONNECTED");
    EXPECT_NE(fake.port->written.find("ATDT5551234\r"), std::string::npos);
    EXPECT_TRUE(comm.property("CDHolding").toBool());
    ASSERT_TRUE(
        waitFor([&] { return std::find(log.events.begin(), log.events.end(), "CarrierChanged") != log.events.end(); }));

    EXPECT_TRUE(comm.property("HangUp").toBool());
    EXPECT_FALSE(comm.property("CDHolding").toBool());

    rig.modem.setOutcome(modememu::HayesModem::Outcome::Busy);
    comm.setProperty("Dial", "5550000");
    EXPECT_EQ(comm.property("Dial").toString(), "BUSY");
}

TEST(TolCommModem, modem_list_fills_boxes_and_index_loads_its_strings)
{
    const QString list = exel::test::tempHome() + "/MODEM.LST";
    ASSERT_TRUE(exel::test::writeFile(list,
        "Alpha 2400\tATZ1^M\tATDT\tATDP\tATS0=1^M\t~~+++~~ATH0^M\t2400\r\n"
        "Beta 56K\tAT&F^M\tATDT\tATDP\tATS0=2^M\t~~+++~~ATH^M\t57600\r\n"));
    tolcom::setModemListPath(list.toStdString());
    TolComm comm;
    comm.InitProperties();
    QComboBox combo;
    comm.setProperty("FillModemCombo", QVariant::fromValue(&combo));
    ASSERT_EQ(combo.count(), 3);
    EXPECT_EQ(combo.itemText(0), "Hayes Compatible");
    EXPECT_EQ(combo.itemText(2), "Beta 56K");
    QListWidget listBox;
    comm.setProperty("FillModemList", QVariant::fromValue(&listBox));
    EXPECT_EQ(listBox.count(), 3);

    comm.setProperty("ModemIndex", 2);
    EXPECT_EQ(comm.property("ModemIndex").toInt(), 2);
    EXPECT_EQ(comm.property("ModemInitCommand").toString(), "AT&F^M");
    EXPECT_EQ(comm.property("ModemHangUpCommand").toString(), "~~+++~~ATH^M");
    EXPECT_EQ(comm.property("ModemTitle").toString(), "Beta 56K");

    comm.setProperty("ModemIndex", 3); // beyond the list
    EXPECT_EQ(comm.lastError(), 380);
    EXPECT_EQ(comm.property("ModemIndex").toInt(), 2);
    EXPECT_EQ(comm.property("ModemInitCommand").toString(), "AT&F^M");

    comm.clearError();
    comm.setProperty("FillModemCombo", QVariant::fromValue(&listBox)); // not a combo box
    EXPECT_EQ(comm.lastError(), 380);
    tolcom::setModemListPath(std::string());
}
