// Run-time errors: refused settings (380), input while a look-up runs (70),
// and the values the control refuses instead of letting them through.
#include "controltest.h"

#include <QPointer>
#include <QSignalSpy>
#include <QTimer>

#include <gtest/gtest.h>

using namespace controltest;

namespace {

const char kInputBusy[]
    = "Cannot read from the comm port while a LookUp or Input operation.  After you choose Break, select View | "
      "Call Stack to see what other TolComm properties were accessed.";

} // namespace

TEST(TolCommErrors, unparsable_settings_raise_380_and_change_nothing)
{
    TolComm comm;
    QSignalSpy errors(&comm, &TolComm::RuntimeError);
    comm.setProperty("Settings", "9600,N,8,2");
    ASSERT_EQ(comm.property("Settings").toString(), "9600,n,8,2");
    for (const char *bad : { "9600,x,8,1", "9600,n,8,1 more", "9600,none,8,1", "9600,n,9,1" }) {
        SCOPED_TRACE(bad);
        comm.clearError();
        comm.setProperty("Settings", bad);
        EXPECT_EQ(comm.lastError(), 380);
        EXPECT_EQ(comm.lastErrorDescription(), "Invalid property value");
        EXPECT_EQ(comm.property("Settings").toString(), "9600,n,8,2");
    }
    EXPECT_EQ(errors.count(), 4);
    comm.clearError();
    comm.setProperty("Settings", ",e,7,");
    EXPECT_EQ(comm.lastError(), 0);
    EXPECT_EQ(comm.property("Settings").toString(), "9600,e,7,2");
}

TEST(TolCommErrors, refused_values_keep_the_previous_value)
{
    enginetest::FakeDriverScope fake;
    TolComm comm;
    struct Case {
        const char *member;
        QVariant good;
        QVariant bad;
    };
    const Case cases[] = {
        { "Handshaking", 2, 4 },
        { "Handshaking", 3, -1 },
        { "CommPort", 5, 0 },
        { "InputLen", 8, -1 },
        { "RThreshold", 3, -2 },
        { "ParityReplace", 63, 256 },
        { "Interval", 100, 0 },
        { "DialMode", 1, 2 },
        { "Emulation", 4, 5 },
        { "ModemInitCommand", "AT&F^M", "AT\tZ" },
        { "ModemHangUpCommand", "ATH^M", QString("ATH\r") },
        // Longer than the engine can keep: refused, not cut at 199.
        { "ModemInitCommand", QString(199, 'I'), QString(200, 'I') },
        { "LookUpSeparator", "|", "||" },
        { "Columns", 132, 0 },
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.member);
        comm.clearError();
        ASSERT_TRUE(comm.setProperty(c.member, c.good));
        ASSERT_EQ(comm.lastError(), 0);
        comm.setProperty(c.member, c.bad);
        EXPECT_EQ(comm.lastError(), 380);
        if (c.good.typeId() == QMetaType::Int)
            EXPECT_EQ(comm.property(c.member).toInt(), c.good.toInt());
        else
            EXPECT_EQ(comm.property(c.member).toString(), c.good.toString());
    }
}

TEST(TolCommErrors, port_settings_fixed_while_open_are_refused)
{
    enginetest::FakeDriverScope fake;
    TolComm comm;
    comm.setProperty("CommPort", 2);
    comm.setProperty("PortOpen", true);
    ASSERT_TRUE(comm.property("PortOpen").toBool());
    comm.setProperty("CommPort", 3);
    EXPECT_EQ(comm.lastError(), 380);
    EXPECT_EQ(comm.property("CommPort").toInt(), 2);
    comm.clearError();
    comm.setProperty("InBufferSize", 4096);
    EXPECT_EQ(comm.lastError(), 380);
    EXPECT_EQ(comm.property("InBufferSize").toInt(), 2048);
}

TEST(TolCommErrors, output_on_a_closed_port_is_an_error_not_silence)
{
    TolComm comm;
    comm.setProperty("Output", "ATZ\r");
    EXPECT_EQ(comm.lastError(), 8018);
    comm.clearError();
    comm.setProperty("OutputLine", "");
    EXPECT_EQ(comm.lastError(), 8018);
}

TEST(TolCommErrors, failing_write_reports_the_device_error)
{
    enginetest::FakeDriverScope fake;
    TolComm comm;
    comm.setProperty("PortOpen", true);
    fake.port->failWrites = true;
    comm.setProperty("Output", "x");
    EXPECT_EQ(comm.lastError(), EIO);
    EXPECT_FALSE(comm.lastErrorDescription().isEmpty());
}

// Guards against writing the run-time error into a control deleted by an event raised inside Output.
TEST(TolCommErrors, control_deleted_by_an_event_of_its_own_failing_write_is_left_alone)
{
    enginetest::FakeDriverScope fake;
    QPointer<TolComm> comm = new TolComm;
    comm->setProperty("PortOpen", true);
    ASSERT_TRUE(comm->property("PortOpen").toBool());
    int errors = 0;
    QObject::connect(comm, &TolComm::OnComm, [&] { delete comm.data(); });
    QObject::connect(comm, &TolComm::RuntimeError, [&] { ++errors; });
    // The write fails and the line error it leaves is raised from inside Output.
    fake.port->failWrites = true;
    fake.port->errors = tolcom::kErrFrame;
    comm->setProperty("Output", "x");
    EXPECT_TRUE(comm.isNull());
    EXPECT_EQ(errors, 0);
    EXPECT_FALSE(fake.port->open);
}

TEST(TolCommErrors, text_outside_latin1_is_refused_not_mangled)
{
    enginetest::FakeDriverScope fake;
    TolComm comm;
    comm.setProperty("PortOpen", true);
    comm.setProperty("Output", QString::fromUtf8("caf\u00e9 \u20ac"));
    EXPECT_EQ(comm.lastError(), 380);
    EXPECT_TRUE(fake.port->written.empty());
    comm.clearError();
    comm.setProperty("Output", QString::fromLatin1("caf\xe9\xff"));
    EXPECT_EQ(comm.lastError(), 0);
    EXPECT_EQ(fake.port->written, std::string("caf\xe9\xff"));
}

TEST(TolCommErrors, dial_number_with_a_line_end_is_refused_and_never_reads_as_connected)
{
    enginetest::FakeDriverScope fake;
    TolComm comm;
    comm.setProperty("PortOpen", true);
    comm.setProperty("Dial", "555\rATH");
    EXPECT_EQ(comm.lastError(), 380);
    EXPECT_TRUE(fake.port->written.empty());
    const QString result = comm.property("Dial").toString();
    EXPECT_FALSE(result.isEmpty());
    EXPECT_NE(result.toUpper(), "CONNECTED");
}

TEST(TolCommErrors, com_input_during_a_look_up_raises_70)
{
    enginetest::PtyPort pty(7);
    ASSERT_TRUE(pty.ok());
    TolComm comm;
    comm.setProperty("CommPort", 7);
    comm.setProperty("PortOpen", true);
    ASSERT_TRUE(comm.property("PortOpen").toBool());
    comm.setProperty("LookUpText", "OK");
    comm.setProperty("LookUpTimeOut", 5000);
    QSignalSpy errors(&comm, &TolComm::RuntimeError);

    QString readDuring = "unset";
    QTimer::singleShot(30, &comm, [&] {
        readDuring = comm.property("ComInput").toString();
        pty.send("OK");
    });
    EXPECT_EQ(comm.property("LookUp").toInt(), 0);
    EXPECT_TRUE(readDuring.isEmpty());
    ASSERT_EQ(errors.count(), 1);
    EXPECT_EQ(errors.at(0).at(0).toInt(), 70);
    EXPECT_EQ(errors.at(0).at(1).toString(), QString::fromLatin1(kInputBusy));
    // Once the look-up is over, input is allowed again.
    comm.clearError();
    pty.send("hello");
    ASSERT_TRUE(enginetest::waitQueued(comm.property("CommHandle").toUInt(), 5));
    EXPECT_EQ(comm.property("ComInput").toString(), "hello");
    EXPECT_EQ(comm.lastError(), 0);
}

TEST(TolCommErrors, transfers_fail_with_a_clear_error_and_their_event)
{
    TolComm comm;
    EventLog log(comm);
    comm.setProperty("Upload", exel::test::tempHome() + "/nothing.bin");
    EXPECT_EQ(comm.lastError(), ENOTSUP);
    EXPECT_EQ(comm.property("XferStatus").toInt(), -1);
    EXPECT_FALSE(comm.property("XferMessage").toString().isEmpty());
    EXPECT_EQ(log.events, (std::vector<std::string> { "OnComm", "AbortFileTransfer" }));
}
