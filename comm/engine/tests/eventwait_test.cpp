// Waits served by the event loop (SetEventWait) over a pseudo-terminal pair:
// other event sources run while the device is silent, input and a hang-up
// end the wait as in the plain one, and a readable device outside a wait
// does not keep the event loop awake.
#include "enginetest.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <thread>

using namespace enginetest;

namespace {

class EventWaitTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(pty.ok());
        h = CreateCommObject(nullptr);
        ASSERT_NE(h, 0u);
        ASSERT_EQ(SetCommPort(h, pty.port()), 0);
        ASSERT_EQ(SetPortOpen(h, 1), 1);
        ASSERT_EQ(SetEventWait(0, 1), 0);
    }
    void TearDown() override
    {
        EXPECT_EQ(SetEventWait(0, 0), 1);
        DestroyCommObject(h);
    }
    PtyPort pty { 1 };
    uint32_t h = 0;
};

} // namespace

TEST_F(EventWaitTest, aSilentDeviceLetsATimerRunAtItsOwnPace)
{
    // In the plain wait events run once per 50 ms turn: two or three ticks
    // in this wait. Served by the event loop, the timer keeps its pace.
    int ticks = 0;
    QTimer timer;
    timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer, &QTimer::timeout, [&] { ++ticks; });
    timer.start(2);
    QElapsedTimer t;
    t.start();
    EXPECT_EQ(WaitForInput(h, 200), 0);
    EXPECT_GE(t.elapsed(), 195);
    EXPECT_GE(ticks, 20);
}

TEST_F(EventWaitTest, inputEndsTheWaitAtOnce_aHangUpClosesThePortInsteadOfSpinning)
{
    std::thread far([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        pty.send("ab");
    });
    QElapsedTimer t;
    t.start();
    const int32_t got = WaitForInput(h, 5000);
    far.join();
    EXPECT_GE(got, 1);
    EXPECT_LT(t.elapsed(), 1000);
    char buf[8] = {};
    EXPECT_EQ(GetInput(h, buf, 8), 2);

    pty.closeMaster();
    t.restart();
    EXPECT_EQ(WaitForInput(h, 5000), 0);
    EXPECT_LT(t.elapsed(), 2000);
    EXPECT_EQ(GetPortOpen(h), 0);
}

// Guards against the device's notifier left on after a wait: unread input
// would then wake the event loop over and over, a processor spinning.
TEST_F(EventWaitTest, unreadInputOutsideAWaitDoesNotKeepTheEventLoopAwake)
{
    EXPECT_EQ(WaitForInput(h, 20), 0);
    pty.send("unread");
    QTimer stop;
    stop.setSingleShot(true);
    stop.start(100);
    int turns = 0;
    while (stop.isActive() && turns < 100000) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        ++turns;
    }
    EXPECT_LT(turns, 20);
    // The input is still there for the next wait, which sees it at once.
    EXPECT_EQ(WaitForInput(h, 1000), 6);
}
