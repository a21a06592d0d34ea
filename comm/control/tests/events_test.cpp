// Engine events become OnComm plus one specific event, through the fake driver.
#include "controltest.h"

#include <QSignalSpy>

#include <cerrno>

#include <gtest/gtest.h>

using namespace controltest;
using Events = std::vector<std::string>;

namespace {

class TolCommEvents : public ::testing::Test {
protected:
    void SetUp() override
    {
        comm.setProperty("CommPort", 1);
        comm.setProperty("Interval", 10);
        ASSERT_TRUE(comm.setProperty("PortOpen", true));
        ASSERT_TRUE(comm.property("PortOpen").toBool());
    }
    bool waitEvents(size_t n)
    {
        return waitFor([&] { return log.events.size() >= n; });
    }

    enginetest::FakeDriverScope fake;
    TolComm comm;
    EventLog log { comm };
};

} // namespace

TEST_F(TolCommEvents, carrier_change_raises_OnComm_then_CarrierChanged)
{
    fake.port->lines |= tolcom::kLineCarrier;
    ASSERT_TRUE(waitEvents(2));
    EXPECT_EQ(log.events, (Events { "OnComm", "CarrierChanged" }));
    EXPECT_EQ(comm.property("CommEvent").toInt(), TolComm::Event_Carrier);
    EXPECT_TRUE(comm.property("CDHolding").toBool());
}

TEST_F(TolCommEvents, ignore_on_comm_leaves_only_the_specific_event)
{
    comm.setProperty("IgnoreOnComm", true);
    fake.port->lines |= tolcom::kLineCarrier;
    ASSERT_TRUE(waitEvents(1));
    // Let a few more ticks pass: nothing else may come.
    waitFor([] { return false; }, 60);
    EXPECT_EQ(log.events, (Events { "CarrierChanged" }));
    fake.port->lines &= ~tolcom::kLineCarrier;
    ASSERT_TRUE(waitEvents(2));
    EXPECT_EQ(log.events, (Events { "CarrierChanged", "CarrierChanged" }));
    EXPECT_FALSE(comm.property("CDHolding").toBool());
}

TEST_F(TolCommEvents, line_signals_map_to_their_own_events)
{
    fake.port->lines |= tolcom::kLineCts;
    ASSERT_TRUE(waitEvents(2));
    fake.port->lines |= tolcom::kLineDsr;
    ASSERT_TRUE(waitEvents(4));
    fake.port->lines |= tolcom::kLineRing;
    ASSERT_TRUE(waitEvents(6));
    EXPECT_EQ(log.events, (Events { "OnComm", "CTSChanged", "OnComm", "DSRChanged", "OnComm", "Ring" }));
    EXPECT_TRUE(comm.property("CTSHolding").toBool());
    EXPECT_TRUE(comm.property("DSRHolding").toBool());
}

TEST_F(TolCommEvents, line_error_raises_OnComm_only)
{
    fake.port->errors = tolcom::kErrFrame;
    // Receive events drive the error processing of the engine.
    comm.setProperty("RThreshold", 1);
    fake.port->received = "x";
    ASSERT_TRUE(waitFor([&] { return comm.property("CommEvent").toInt() == TolComm::Error_FrameError; }));
    comm.setProperty("RThreshold", 0);
    waitFor([] { return false; }, 40);
    Events withoutReceive;
    for (const auto &e : log.events)
        if (e != "Receive")
            withoutReceive.push_back(e);
    // Each receive event comes with its OnComm; the error brings one more OnComm and nothing else.
    const auto receives = log.events.size() - withoutReceive.size();
    EXPECT_EQ(withoutReceive.size(), receives + 1);
    for (const auto &e : withoutReceive)
        EXPECT_EQ(e, "OnComm");
}

// Guards against a vanished device closing the port with no event for the host.
TEST_F(TolCommEvents, vanished_device_raises_CarrierChanged_and_a_runtime_error)
{
    QSignalSpy errors(&comm, &TolComm::RuntimeError);
    fake.port->hungUp = true;
    ASSERT_TRUE(waitFor([&] { return errors.count() > 0; }));
    EXPECT_EQ(log.events, (Events { "OnComm", "CarrierChanged" }));
    EXPECT_FALSE(comm.property("PortOpen").toBool());
    ASSERT_EQ(errors.count(), 1);
    EXPECT_EQ(errors.at(0).at(0).toInt(), EIO);
    EXPECT_EQ(errors.at(0).at(1).toString(), "COM1: The device has gone away (Input/output error); the port is closed");
    EXPECT_EQ(comm.lastError(), EIO);
}

TEST_F(TolCommEvents, receive_threshold_raises_Receive_until_input_is_read)
{
    comm.setProperty("RThreshold", 2);
    fake.port->received = "ab";
    ASSERT_TRUE(waitEvents(4)); // repeats while the bytes wait
    EXPECT_EQ((Events { log.events[0], log.events[1] }), (Events { "OnComm", "Receive" }));
    EXPECT_EQ(comm.property("ComInput").toString(), QStringLiteral("ab"));
    log.events.clear();
    waitFor([] { return false; }, 60);
    EXPECT_TRUE(log.events.empty());
}

// Transfer status -> event; status 7 raises OnComm only.
struct TransferCase {
    int status;
    const char *event; // nullptr: none
};

class TolCommTransferEvents : public ::testing::TestWithParam<TransferCase> { };

TEST_P(TolCommTransferEvents, transfer_event_is_raised_by_status)
{
    TolComm comm;
    EventLog log(comm);
    comm.noteTransferStatus(GetParam().status);
    comm.HandleEvent(0, TolComm::Event_Transfer);
    Events want { "OnComm" };
    if (GetParam().event)
        want.push_back(GetParam().event);
    EXPECT_EQ(log.events, want);
    EXPECT_EQ(comm.property("CommEvent").toInt(), 100);
}

INSTANTIATE_TEST_SUITE_P(AllStatuses, TolCommTransferEvents,
    ::testing::Values(TransferCase { -1, "AbortFileTransfer" }, TransferCase { 0, "FinishFileTransfer" },
        TransferCase { 1, "WaitForFile" }, TransferCase { 2, "PrepareFile" }, TransferCase { 3, "StartFile" },
        TransferCase { 4, "TransferBlock" }, TransferCase { 5, "AbortFile" }, TransferCase { 6, "FinishFile" },
        TransferCase { 7, nullptr }));

TEST(TolCommHandleEvent, codes_map_to_one_specific_event_and_errors_to_none)
{
    TolComm comm;
    EventLog log(comm);
    const std::pair<int, const char *> cases[] = { { 1, "Send" }, { 2, "Receive" }, { 3, "CTSChanged" },
        { 4, "DSRChanged" }, { 5, "CarrierChanged" }, { 6, "Ring" }, { 7, "EOFChar" } };
    for (const auto &[code, name] : cases) {
        log.events.clear();
        QMetaObject::invokeMethod(&comm, "HandleEvent", Q_ARG(int, 0), Q_ARG(int, code));
        EXPECT_EQ(log.events, (Events { "OnComm", name })) << code;
    }
    for (int code = 1001; code <= 1010; ++code) {
        log.events.clear();
        comm.HandleEvent(0, code);
        EXPECT_EQ(log.events, (Events { "OnComm" })) << code;
    }
    comm.setProperty("IgnoreOnComm", true);
    log.events.clear();
    comm.HandleEvent(0, 1009);
    EXPECT_TRUE(log.events.empty());
}

TEST(TolCommHandleEvent, control_destroyed_in_OnComm_raises_nothing_more)
{
    enginetest::FakeDriverScope fake;
    auto *comm = new TolComm;
    comm->setProperty("Interval", 10);
    comm->setProperty("PortOpen", true);
    bool carrier = false;
    QObject::connect(comm, &TolComm::OnComm, comm, [&] {
        delete comm;
        comm = nullptr;
    });
    QObject::connect(comm, &TolComm::CarrierChanged, [&] { carrier = true; });
    fake.port->lines |= tolcom::kLineCarrier;
    ASSERT_TRUE(waitFor([&] { return comm == nullptr; }));
    waitFor([] { return false; }, 40);
    EXPECT_FALSE(carrier);
    EXPECT_FALSE(fake.port->open);
}
