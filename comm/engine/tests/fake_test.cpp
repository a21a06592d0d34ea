// Behaviour that needs modem lines, line errors and queue counts: the
// polling timer, its events and thresholds, device state, re-entrancy and
// destroying an object from inside its own event, on the fake driver.
#include "enginetest.h"

#include <dialogs.h>

#include <QCoreApplication>
#include <QElapsedTimer>

using namespace enginetest;
using tolcom::FakePort;

namespace {

class FakeTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        clearLog();
        Recorder::reset();
        h = CreateCommObject(nullptr);
        ASSERT_NE(h, 0u);
        SetEventHandler(h, &Recorder::handler);
        SetInterval(h, 10);
        SetCommPort(h, 3);
    }
    void TearDown() override
    {
        DestroyCommObject(h);
        Recorder::reset();
    }
    FakePort &port() { return *fake.port; }
    // Runs the event loop until at least n events arrived (or a second passed).
    void runEvents(size_t n)
    {
        QElapsedTimer t;
        t.start();
        while (Recorder::events().size() < n && t.elapsed() < 1000)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
    }
    void runFor(int ms)
    {
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < ms)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
    }
    FakeDriverScope fake;
    uint32_t h = 0;
};

TEST_F(FakeTest, opensTheSecondNameWhenTheFirstFails)
{
    port().openable = { "/dev/ttyS2" };
    EXPECT_EQ(SetPortOpen(h, 1), 1);
    ASSERT_EQ(port().openAttempts.size(), 2u);
    EXPECT_EQ(port().openAttempts[0].substr(port().openAttempts[0].size() - 5), "/COM3");
    EXPECT_EQ(port().openAttempts[1], "/dev/ttyS2");
}

// Guards against a busy or forbidden port being silently replaced by /dev/ttyS<n-1>.
TEST_F(FakeTest, aBusyOrForbiddenPortFailsWithItsReasonAndNoOtherDeviceIsTried)
{
    const struct {
        int err;
        const char *hint;
    } cases[] = { { EBUSY, "Device or resource busy (the port is in use by another program)" },
        { EACCES, "Permission denied (is the user in the dialout group?)" } };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.err);
        port().openAttempts.clear();
        port().openable = { "/dev/ttyS2" };
        port().openErrors.clear();
        const std::string first = qEnvironmentVariable("TOLCOM_DEVICE_DIR", "/dev").toStdString() + "/COM3";
        port().openErrors[first] = c.err;
        EXPECT_EQ(SetPortOpen(h, 1), 0);
        EXPECT_EQ(GetPortOpen(h), 0);
        EXPECT_EQ(port().openAttempts, std::vector<std::string> { first });
        char reason[256] = {};
        EXPECT_EQ(GetLastOpenError(h, reason, sizeof reason), c.err);
        EXPECT_EQ(std::string(reason), "Cannot open " + first + ": " + c.hint);
    }
    // A second name that exists but is forbidden is the reason given when the first is missing.
    port().openAttempts.clear();
    port().openErrors = { { "/dev/ttyS2", EACCES } };
    port().openable = { "/nowhere" };
    EXPECT_EQ(SetPortOpen(h, 1), 0);
    EXPECT_EQ(port().openAttempts.size(), 2u);
    char reason[256] = {};
    EXPECT_EQ(GetLastOpenError(h, reason, sizeof reason), EACCES);
    EXPECT_EQ(std::string(reason), "Cannot open /dev/ttyS2: Permission denied (is the user in the dialout group?)");
}

TEST_F(FakeTest, openAppliesTheDeviceStateAndRaisesTheLines)
{
    SetSettings(h, "2400,e,7,2");
    SetHandshaking(h, 3);
    EXPECT_EQ(port().setStateCalls, 0); // only while open
    ASSERT_EQ(SetPortOpen(h, 1), 1);
    EXPECT_EQ(port().state.baud, 2400);
    EXPECT_EQ(port().state.parity, 2);
    EXPECT_EQ(port().state.dataBits, 7);
    EXPECT_EQ(port().state.stopBits, 2);
    EXPECT_TRUE(port().state.ctsFlow);
    EXPECT_TRUE(port().state.xonXoff);
    EXPECT_TRUE(port().state.parityCheck);
    EXPECT_TRUE(port().dtr);
    EXPECT_TRUE(port().rts);
    SetParityReplace(h, 0);
    EXPECT_FALSE(port().state.parityCheck);
    SetHandshaking(h, 2);
    EXPECT_FALSE(port().state.xonXoff);
    SetNullDiscard(h, 1);
    EXPECT_TRUE(port().state.nullStrip);
    // Closing empties both queues and drops DTR.
    const int purges = port().purges;
    SetPortOpen(h, 0);
    EXPECT_GT(port().purges, purges);
    EXPECT_FALSE(port().dtr);
    EXPECT_FALSE(port().open);
}

TEST_F(FakeTest, dtrRtsAndBreakFollowTheirSetters)
{
    EXPECT_EQ(SetBreak(h, 1), 0);
    EXPECT_TRUE(logHas("SetBreak(1): Port not open"));
    SetPortOpen(h, 1);
    SetDTR(h, 0);
    EXPECT_FALSE(port().dtr);
    EXPECT_EQ(GetDTR(h), 0);
    SetDTR(h, -1);
    EXPECT_TRUE(port().dtr);
    EXPECT_EQ(GetDTR(h), -1);
    SetRTS(h, 0);
    EXPECT_FALSE(port().rts);
    SetBreak(h, 1);
    EXPECT_TRUE(port().brk);
    SetBreak(h, 0);
    EXPECT_FALSE(port().brk);
}

TEST_F(FakeTest, liveLinesAreReadFromTheDriver)
{
    EXPECT_EQ(GetCarrier(h), 0);
    EXPECT_TRUE(logHas("GetCarrier: Port not open"));
    SetPortOpen(h, 1);
    port().lines = tolcom::kLineCarrier | tolcom::kLineDsr;
    EXPECT_EQ(GetCarrier(h), 1);
    EXPECT_EQ(GetDSR(h), 1);
    EXPECT_EQ(GetCTS(h), 0);
    port().hasLines = false; // a device without lines reads as low
    EXPECT_EQ(GetCarrier(h), 0);
}

TEST_F(FakeTest, lineChangesRaiseTheirEventsAndRingOnlyOnTheRisingEdge)
{
    SetPortOpen(h, 1);
    port().lines = tolcom::kLineCts;
    runEvents(1);
    port().lines = tolcom::kLineCts | tolcom::kLineDsr;
    runEvents(2);
    port().lines |= tolcom::kLineRing;
    runEvents(3);
    port().lines &= ~tolcom::kLineRing; // falling ring: nothing
    runFor(60);
    port().lines |= tolcom::kLineCarrier;
    runEvents(4);
    EXPECT_EQ(Recorder::codes(), (std::vector<int32_t> { 3, 4, 6, 5 }));
    EXPECT_EQ(Recorder::events().front().handle, h);
    EXPECT_EQ(GetLastCommEvent(h), 5);
}

TEST_F(FakeTest, lineErrorsRaiseEventsInTheirOrder)
{
    SetPortOpen(h, 1);
    port().errors = tolcom::kErrParity | tolcom::kErrBreak | tolcom::kErrRxOver | tolcom::kErrFrame
        | tolcom::kErrOverrun | tolcom::kErrTxFull;
    runEvents(6);
    EXPECT_EQ(Recorder::codes(), (std::vector<int32_t> { 1001, 1004, 1006, 1008, 1009, 1010 }));
    EXPECT_EQ(uint32_t(GetLastCommError(h)), 0x011Fu);
}

TEST_F(FakeTest, receiveEventRepeatsUntilTheInputIsRead)
{
    SetPortOpen(h, 1);
    SetRThreshold(h, 1);
    port().received = "x";
    runEvents(3);
    EXPECT_EQ(Recorder::codes(), (std::vector<int32_t> { 2, 2, 2 }));
    char buf[4];
    EXPECT_EQ(GetInput(h, buf, sizeof buf), 1);
    Recorder::reset();
    runFor(60);
    EXPECT_TRUE(Recorder::events().empty());
}

TEST_F(FakeTest, sendEventWhileTheTransmitQueueIsAtOrBelowTheThreshold)
{
    SetPortOpen(h, 1);
    port().outQueue = 100;
    SetSThreshold(h, 10);
    runFor(60);
    EXPECT_TRUE(Recorder::events().empty());
    port().outQueue = 10;
    runEvents(2);
    EXPECT_EQ(Recorder::codes(), (std::vector<int32_t> { 1, 1 }));
}

TEST_F(FakeTest, autoProcessRoutesInputToTheTerminal)
{
    SetPortOpen(h, 1);
    SetRThreshold(h, 1);
    SetAutoProcess(h, 1);
    port().received = "hello";
    runFor(60);
    char term[16];
    GetTerminalContents(h, term, sizeof term);
    EXPECT_STREQ(term, "hello");
    EXPECT_TRUE(Recorder::events().empty()); // no receive events while auto-processing
    char buf[4];
    GetInput(h, buf, sizeof buf);
    EXPECT_TRUE(logHas("Input while serial autoprocess is on"));
}

TEST_F(FakeTest, destroyingTheObjectInsideItsOwnEventEndsTheTick)
{
    SetPortOpen(h, 1);
    SetRThreshold(h, 1);
    SetSThreshold(h, 5);
    port().received = "x";
    port().lines = tolcom::kLineCts | tolcom::kLineDsr;
    Recorder::action() = [](uint32_t handle, int32_t) { EXPECT_EQ(DestroyCommObject(handle), 1); };
    runEvents(1);
    runFor(40);
    // Only the receive event: the send and line events of the same tick never ran.
    EXPECT_EQ(Recorder::codes(), (std::vector<int32_t> { 2 }));
    EXPECT_EQ(GetPortOpen(h), 0); // handle now invalid
    EXPECT_FALSE(port().open);
}

TEST_F(FakeTest, aLookUpFromAnEventDuringALookUpIsRefused)
{
    exel::ScriptedDialogs dialogs;
    exel::setDialogs(&dialogs);
    FrozenTime time(5); // each turn of a wait takes 5 ms of real time, so the timer ticks
    SetPortOpen(h, 1);
    SetLookUpTimeOut(h, 2000);
    int32_t inner = 99;
    Recorder::action() = [&](uint32_t handle, int32_t code) {
        if (code != 4 || inner != 99)
            return;
        const std::string list = lookups({ "X" });
        inner = DiscardUntilLookUp(handle, list.data(), int32_t(list.size()));
        char buf[4];
        EXPECT_EQ(GetInput(handle, buf, sizeof buf), 0);
        EXPECT_EQ(DestroyCommObject(handle), 0);
    };
    port().lines = tolcom::kLineDsr; // the first tick inside the wait raises event 4
    const std::string list = lookups({ "OK" });
    EXPECT_EQ(InputUntilLookUp(h, list.data(), int32_t(list.size()), nullptr, 0), -1);
    exel::setDialogs(nullptr);
    EXPECT_EQ(inner, -1);
    ASSERT_EQ(dialogs.count(), 1);
    EXPECT_EQ(dialogs.shown().front().text, "Control is busy");
    EXPECT_EQ(dialogs.shown().front().title, "LookUp");
    EXPECT_TRUE(logHas("   Control is busy"));
    EXPECT_TRUE(logHas("DestroyCommObject(): Called when object is busy."));
    EXPECT_TRUE(logHas("GetInput(): Control is busy doing something else."));
    EXPECT_EQ(GetPortOpen(h), 1); // the object survived
}

// Events go to the parent as a command event when no handler is installed.
class ParentSink : public QObject {
public:
    bool event(QEvent *e) override
    {
        if (e->type() == QEvent::Type(TOLCOM_COMMAND_EVENT)) {
            auto *c = static_cast<TolCommCommandEvent *>(e);
            got.push_back({ c->handle(), c->controlId(), c->code() });
            lParams.push_back(c->lParam());
            return true;
        }
        return QObject::event(e);
    }
    std::vector<Event> got;
    std::vector<uint32_t> lParams;
};

TEST_F(FakeTest, withoutAHandlerEventsGoToTheParent)
{
    auto *parent = new ParentSink;
    const uint32_t child = CreateCommObject(parent);
    SetInterval(child, 10);
    SetCommPort(child, 3);
    SetPortOpen(child, 1);
    port().lines = tolcom::kLineDsr;
    QElapsedTimer t;
    t.start();
    while (parent->got.empty() && t.elapsed() < 1000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
    ASSERT_EQ(parent->got.size(), 1u);
    EXPECT_EQ(parent->got[0].handle, child);
    EXPECT_EQ(parent->got[0].code, 4);
    EXPECT_EQ(parent->lParams[0], (child & 0xFFFF) | (4u << 16));
    // Once the parent is gone, the event is logged instead.
    delete parent;
    port().lines = 0;
    runFor(60);
    EXPECT_TRUE(logHas("Comm. Control has no parent window!"));
    DestroyCommObject(child);
}

TEST_F(FakeTest, aFailedWriteReturnsMinusOne)
{
    SetPortOpen(h, 1);
    port().failWrites = true;
    EXPECT_EQ(Output(h, "abc", 3), -1);
}

TEST_F(FakeTest, theIdleCallbackReplacesThePump)
{
    FrozenTime time;
    SetPortOpen(h, 1);
    static int calls = 0;
    calls = 0;
    SetIdleLoop(h, [](uint32_t) { ++calls; });
    EXPECT_EQ(ComPause(h, 500), 1);
    EXPECT_EQ(calls, 10); // one call per 50 ms turn
}

} // namespace
