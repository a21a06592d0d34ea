// The property bag: keys and order, defaults of a new control and of absent
// keys, round trips, design mode, refused values; and destruction.
#include "controltest.h"

#include <QPointer>
#include <QSignalSpy>
#include <QTimer>

#include <gtest/gtest.h>

using namespace controltest;

namespace {

QStringList keysOf(const QList<QPair<QString, QString>> &members)
{
    QStringList out;
    for (const auto &m : members)
        out << m.first;
    return out;
}

} // namespace

TEST(TolCommPersistence, bag_keys_follow_member_order_with_their_own_two_forms)
{
    TolComm comm;
    comm.InitProperties();
    PropertyBag bag;
    comm.WriteProperties(bag);
    EXPECT_EQ(bag.keys(), keysOf(TolComm::persistedMembers()));
    EXPECT_TRUE(bag.contains("hWnd"));
    EXPECT_TRUE(bag.contains("ModemDialtoneCommand"));
    EXPECT_FALSE(bag.contains("ModemDialToneCommand"));
    EXPECT_FALSE(bag.contains("hwnd"));
    // Keys come in the order of the interface's members.
    const QMetaObject &mo = TolComm::staticMetaObject;
    int last = -1;
    for (const auto &[key, member] : TolComm::persistedMembers()) {
        const int index = mo.indexOfProperty(member.toLatin1().constData());
        ASSERT_GE(index, 0) << member.toStdString();
        EXPECT_GT(index, last) << member.toStdString();
        last = index;
    }
}

TEST(TolCommPersistence, new_control_has_its_own_modem_strings_and_settings)
{
    TolComm comm;
    comm.InitProperties();
    EXPECT_EQ(comm.property("ModemInitCommand").toString(), "ATZ^M");
    EXPECT_EQ(comm.property("ModemDialToneCommand").toString(), "ATDT");
    EXPECT_EQ(comm.property("ModemDialPulseCommand").toString(), "ATDP");
    EXPECT_EQ(comm.property("ModemAnswerCommand").toString(), "ATS0=2^M");
    EXPECT_EQ(comm.property("ModemHangUpCommand").toString(), "~~~ATH^M");
    EXPECT_EQ(comm.property("ModemTitle").toString(), "Generic modem");
    EXPECT_EQ(comm.property("Settings").toString(), "9600,n,8,1");
    EXPECT_FALSE(comm.property("PortOpen").toBool());
}

TEST(TolCommPersistence, absent_keys_take_the_defaults)
{
    TolComm comm;
    comm.setProperty("Settings", "1200,e,7,2");
    comm.setProperty("ModemTitle", "Other");
    PropertyBag bag;
    bag.write("CommPort", 4);
    comm.ReadProperties(bag);
    EXPECT_EQ(comm.property("CommPort").toInt(), 4);
    EXPECT_EQ(comm.property("Settings").toString(), "9600,n,8,1");
    EXPECT_EQ(comm.property("ModemTitle").toString(), "Generic modem");
    EXPECT_EQ(comm.property("ModemHangUpCommand").toString(), "~~~ATH^M");
    EXPECT_EQ(comm.lastError(), 0);
}

TEST(TolCommPersistence, round_trip_through_the_text_form)
{
    TolComm a;
    a.InitProperties();
    a.setProperty("CommPort", 3);
    a.setProperty("Settings", "19200,E,7,2");
    a.setProperty("Handshaking", TolComm::Handshaking_Hardware);
    a.setProperty("ModemInitCommand", "AT&F^M");
    a.setProperty("ModemDialToneCommand", "ATDT9,");
    a.setProperty("IgnoreOnComm", true);
    a.setProperty("InputLen", 4);
    a.setProperty("Rows", 30);
    a.setProperty("LookUpText", "OK|ERROR");
    a.setProperty("LookUpSeparator", "|");
    a.setProperty("RTSEnable", false);
    a.setProperty("BackColor", QColor(Qt::blue));
    a.setProperty("Font", QFont("DejaVu Sans Mono", 11));
    ASSERT_EQ(a.lastError(), 0) << a.lastErrorDescription().toStdString();
    PropertyBag saved;
    a.WriteProperties(saved);

    const PropertyBag loaded = PropertyBag::fromText(saved.toText());
    TolComm b;
    b.ReadProperties(loaded);
    EXPECT_EQ(b.lastError(), 0) << b.lastErrorDescription().toStdString();
    PropertyBag again;
    b.WriteProperties(again);
    EXPECT_EQ(again.toText(), saved.toText());
    EXPECT_EQ(b.property("Settings").toString(), "19200,e,7,2");
    EXPECT_EQ(b.property("Handshaking").toInt(), 2);
    EXPECT_EQ(b.property("ModemDialToneCommand").toString(), "ATDT9,");
    EXPECT_TRUE(b.property("IgnoreOnComm").toBool());
    EXPECT_FALSE(b.property("RTSEnable").toBool());
    EXPECT_EQ(b.property("Font").value<QFont>().pointSize(), 11);
    EXPECT_EQ(b.property("BackColor").value<QColor>(), QColor(Qt::blue));
}

TEST(TolCommPersistence, refused_value_in_the_bag_takes_the_default_and_is_reported_once)
{
    TolComm comm;
    QSignalSpy errors(&comm, &TolComm::RuntimeError);
    PropertyBag bag;
    bag.write("Settings", "fast,please");
    bag.write("Handshaking", 9);
    bag.write("Interval", "soon");
    bag.write("CommPort", 2);
    comm.ReadProperties(bag);
    EXPECT_EQ(comm.property("Settings").toString(), "9600,n,8,1");
    EXPECT_EQ(comm.property("Handshaking").toInt(), 0);
    EXPECT_EQ(comm.property("Interval").toInt(), 55);
    EXPECT_EQ(comm.property("CommPort").toInt(), 2);
    ASSERT_EQ(errors.count(), 1);
    EXPECT_EQ(errors.at(0).at(0).toInt(), 380);
    EXPECT_EQ(comm.lastError(), 380);
}

TEST(TolCommPersistence, designer_keeps_PortOpen_without_opening_the_port)
{
    enginetest::FakeDriverScope fake;
    PropertyBag bag;
    bag.write("PortOpen", true);
    bag.write("AutoReceive", true);
    TolComm comm;
    comm.setProperty("UserMode", false);
    comm.ReadProperties(bag);
    EXPECT_FALSE(fake.port->open);
    EXPECT_EQ(GetPortOpen(comm.property("CommHandle").toUInt()), 0);
    EXPECT_EQ(GetAutoProcess(comm.property("CommHandle").toUInt()), 0);
    EXPECT_TRUE(comm.property("PortOpen").toBool());
    PropertyBag saved;
    comm.WriteProperties(saved);
    EXPECT_TRUE(saved.read("PortOpen").toBool());
    EXPECT_TRUE(saved.read("AutoReceive").toBool());
}

TEST(TolCommPersistence, program_opens_the_port_and_switches_auto_receive_on_after_the_settings)
{
    enginetest::FakeDriverScope fake;
    PropertyBag bag;
    bag.write("CommPort", 2);
    bag.write("PortOpen", true);
    bag.write("AutoReceive", true);
    bag.write("Settings", "4800,o,7,1");
    TolComm comm;
    comm.ReadProperties(bag);
    ASSERT_TRUE(fake.port->open);
    const uint32_t h = comm.property("CommHandle").toUInt();
    EXPECT_EQ(GetAutoProcess(h) & 1, 1);
    EXPECT_EQ(GetRThreshold(h), 1);
    // The port was opened with the bag's settings in place.
    EXPECT_EQ(fake.port->state.baud, 4800);
    EXPECT_EQ(fake.port->state.parity, 1);
    ASSERT_FALSE(fake.port->openAttempts.empty());
    EXPECT_TRUE(QString::fromStdString(fake.port->openAttempts.front()).endsWith("COM2"));
}

TEST(TolCommLifetime, destruction_closes_the_port_and_frees_the_engine_object)
{
    enginetest::FakeDriverScope fake;
    uint32_t h = 0;
    {
        TolComm comm;
        comm.setProperty("PortOpen", true);
        ASSERT_TRUE(fake.port->open);
        h = comm.property("CommHandle").toUInt();
        ASSERT_NE(h, 0u);
        EXPECT_EQ(GetCommPort(h), 1);
    }
    EXPECT_FALSE(fake.port->open);
    EXPECT_EQ(GetCommPort(h), 0); // stale handle
}

TEST(TolCommLifetime, one_engine_object_per_control)
{
    TolComm a, b;
    const uint a1 = a.property("CommHandle").toUInt();
    EXPECT_NE(a1, 0u);
    EXPECT_EQ(a.property("CommHandle").toUInt(), a1);
    EXPECT_NE(b.property("CommHandle").toUInt(), a1);
    a.ReadProperties(PropertyBag());
    EXPECT_EQ(a.property("CommHandle").toUInt(), a1);
}

// Guards against a use-after-free when the host deletes the control from an
// event that runs inside the control's own look-up wait.
TEST(TolCommLifetime, control_deleted_during_its_own_look_up_frees_the_engine_object_afterwards)
{
    enginetest::PtyPort pty(6);
    ASSERT_TRUE(pty.ok());
    auto *comm = new TolComm;
    QPointer<TolComm> guard(comm);
    comm->setProperty("CommPort", 6);
    comm->setProperty("PortOpen", true);
    ASSERT_TRUE(comm->property("PortOpen").toBool());
    comm->setProperty("LookUpText", "never");
    comm->setProperty("LookUpTimeOut", 60000);
    const uint32_t h = comm->property("CommHandle").toUInt();
    QTimer::singleShot(20, [&] { delete comm; });
    EXPECT_EQ(comm->property("LookUp").toInt(), -1); // ended by the shutdown, not the time-out
    EXPECT_TRUE(guard.isNull());
    ASSERT_TRUE(waitFor([&] { return GetCommPort(h) == 0; }));
}
