// The engine's real data path over pseudo-terminal pairs: handles, opening,
// settings, output, counted and line input, look-ups, flushes, a vanishing
// device, and the diagnostic log.
#include "enginetest.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <thread>
#include <vector>

using namespace enginetest;

namespace {

class PtyTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(pty.ok());
        clearLog();
        Recorder::reset();
        h = CreateCommObject(nullptr);
        ASSERT_NE(h, 0u);
        SetEventHandler(h, &Recorder::handler);
    }
    void TearDown() override
    {
        DestroyCommObject(h);
        SetPortWatch(0, 0);
    }
    void open()
    {
        ASSERT_EQ(SetCommPort(h, pty.port()), 0);
        ASSERT_EQ(SetPortOpen(h, 1), 1);
    }
    PtyPort pty { 1 };
    uint32_t h = 0;
};

TEST_F(PtyTest, invalidZeroStaleAndRandomHandlesAreRefusedAndLogged)
{
    const uint32_t stale = CreateCommObject(nullptr);
    ASSERT_EQ(DestroyCommObject(stale), 1);
    for (uint32_t bad : { 0u, stale, 0xDEADBEEFu, 1u }) {
        clearLog();
        EXPECT_EQ(SetSettings(bad, "9600,n,8,1"), 0);
        EXPECT_EQ(GetInterval(bad), 0);
        char buf[8] = "x";
        EXPECT_EQ(GetInput(bad, buf, 8), 0);
        EXPECT_EQ(logTexts(0), (std::vector<std::string>(3, "Comm Object handle invalid!")));
    }
    EXPECT_EQ(DestroyCommObject(stale), 0);
    EXPECT_TRUE(logHas("DestroyCommObject(): Object does not exist anymore"));
    // Handles are never handed out twice.
    const uint32_t next = CreateCommObject(nullptr);
    EXPECT_NE(next, stale);
    EXPECT_GT(next, stale);
    DestroyCommObject(next);
}

TEST_F(PtyTest, newObjectHasTheDocumentedDefaults)
{
    char buf[32];
    EXPECT_EQ(GetSettings(h, buf, sizeof buf), 10);
    EXPECT_STREQ(buf, "9600,n,8,1");
    EXPECT_EQ(GetCommPort(h), 1);
    EXPECT_EQ(GetInBufferSize(h), 2048);
    EXPECT_EQ(GetOutBufferSize(h), 2048);
    EXPECT_EQ(GetInterval(h), 55);
    EXPECT_EQ(GetParityReplace(h), -1);
    EXPECT_EQ(GetDTR(h), -1);
    EXPECT_EQ(GetRTS(h), -1);
    EXPECT_EQ(GetLookUpTimeOut(h), 10000);
    EXPECT_EQ(GetDialTimeOut(h), 30000);
    EXPECT_EQ(GetPortOpen(h), 0);
    EXPECT_EQ(GetCommID(h), -1);
    // A short buffer gets a cut, terminated text.
    EXPECT_EQ(GetSettings(h, buf, 5), 4);
    EXPECT_STREQ(buf, "9600");
    EXPECT_EQ(GetSettings(h, nullptr, 5), 0);
}

TEST_F(PtyTest, openingNeedsAPortNumberFirst)
{
    EXPECT_EQ(SetPortOpen(h, 1), 0);
    EXPECT_EQ(GetPortOpen(h), 0);
}

TEST_F(PtyTest, opensSetsAndClosesThePort)
{
    ASSERT_EQ(SetSettings(h, "9600,N,8,2"), 0);
    open();
    EXPECT_EQ(GetPortOpen(h), 1);
    EXPECT_GE(GetCommID(h), 0);
    EXPECT_EQ(SetSettings(h, "19200,x,8,1"), 380);
    char buf[32];
    GetSettings(h, buf, sizeof buf);
    EXPECT_STREQ(buf, "9600,n,8,2");
    EXPECT_EQ(SetSettings(h, "19200"), 0);
    GetSettings(h, buf, sizeof buf);
    EXPECT_STREQ(buf, "19200,n,8,2");

    EXPECT_EQ(SetPortOpen(h, 1), 1);
    EXPECT_TRUE(logHas("SetPortOpen(TRUE): Port already open"));
    // Port number, and buffer sizes, are fixed while open.
    EXPECT_EQ(SetCommPort(h, 7), 380);
    EXPECT_EQ(GetCommPort(h), 1);
    EXPECT_TRUE(logHas("SetPortTol(7): Port already open"));
    EXPECT_EQ(SetInBufferSize(h, 100), 380);
    EXPECT_EQ(GetInBufferSize(h), 2048);
    EXPECT_TRUE(logHas("SetInBufferSize(100): Cannot set size while the port is open."));

    EXPECT_EQ(SetPortOpen(h, 0), 1);
    EXPECT_EQ(GetPortOpen(h), 0);
    EXPECT_EQ(GetCommID(h), -1);
    EXPECT_EQ(SetPortOpen(h, 0), 1);
    EXPECT_TRUE(logHas("SetPortOpen(FALSE): Port is not open"));
    // And it opens again.
    EXPECT_EQ(SetPortOpen(h, 1), 1);
}

TEST_F(PtyTest, aPortThatCannotBeOpenedSaysWhyAndStaysClosed)
{
    ASSERT_EQ(SetCommPort(h, 93), 0);
    EXPECT_EQ(SetPortOpen(h, 1), 0);
    EXPECT_EQ(GetPortOpen(h), 0);
    bool found = false;
    for (const auto &t : logTexts(0))
        found = found || t.rfind("SetPortOpen(TRUE): Cannot open ", 0) == 0;
    EXPECT_TRUE(found);
}

TEST_F(PtyTest, twoObjectsCannotShareOnePort)
{
    // A port number without a /dev/ttyS fallback, so only the busy first name is tried.
    PtyPort high(60);
    ASSERT_EQ(SetCommPort(h, 60), 0);
    ASSERT_EQ(SetPortOpen(h, 1), 1);
    const uint32_t other = CreateCommObject(nullptr);
    SetCommPort(other, 60);
    EXPECT_EQ(SetPortOpen(other, 1), 0);
    DestroyCommObject(other);
}

// Guards against a busy COM1 opening /dev/ttyS0 (a different device) instead of failing.
TEST_F(PtyTest, aBusyPortWithASecondNameStillFailsAsBusy)
{
    open();
    const uint32_t other = CreateCommObject(nullptr);
    SetCommPort(other, pty.port());
    EXPECT_EQ(SetPortOpen(other, 1), 0);
    EXPECT_EQ(GetPortOpen(other), 0);
    char reason[256] = {};
    EXPECT_EQ(GetLastOpenError(other, reason, sizeof reason), EBUSY);
    EXPECT_NE(std::string(reason).find("/COM1: Device or resource busy"), std::string::npos) << reason;
    DestroyCommObject(other);
}

TEST_F(PtyTest, outputReachesTheFarEndAndEchoShowsIt)
{
    SetEcho(h, 1);
    EXPECT_EQ(Output(h, "AB", 2), 0); // closed: echoed, not sent
    EXPECT_TRUE(logHas("Output(): Port not open"));
    open();
    EXPECT_EQ(Output(h, "ATZ\r", 4), 4);
    EXPECT_EQ(ComOutput(h, "xy", 2), 2);
    EXPECT_EQ(pty.receive(6), "ATZ\rxy");
    char term[64];
    GetTerminalContents(h, term, sizeof term);
    EXPECT_STREQ(term, "ABATZ\r"); // ComOutput does not echo
    EXPECT_EQ(Output(h, "x", -1), 0);
    EXPECT_EQ(Output(h, nullptr, 5), 0);
    EXPECT_EQ(Output(h, "", 0), 0);
}

TEST_F(PtyTest, countedInputTakesExactlyInputLenOrNothing)
{
    open();
    char buf[16] = {};
    SetInputLen(h, 4);
    pty.send("abc");
    ASSERT_TRUE(waitQueued(h, 3));
    EXPECT_EQ(GetInput(h, buf, sizeof buf), 0);
    pty.send("de");
    ASSERT_TRUE(waitQueued(h, 5));
    EXPECT_EQ(GetInput(h, buf, sizeof buf), 4);
    EXPECT_EQ(std::string(buf, 4), "abcd");
    EXPECT_EQ(GetInBufferCount(h), 1);
    // InputLen 0 takes everything, but never more than the buffer.
    SetInputLen(h, 0);
    pty.send("fghij");
    ASSERT_TRUE(waitQueued(h, 6));
    EXPECT_EQ(GetInput(h, buf, 3), 3);
    EXPECT_EQ(std::string(buf, 3), "efg");
    EXPECT_EQ(GetInput(h, buf, sizeof buf), 3);
    EXPECT_EQ(std::string(buf, 3), "hij");
    EXPECT_EQ(GetInput(h, buf, 0), 0);
    EXPECT_EQ(GetInput(h, nullptr, 10), 0);
}

TEST_F(PtyTest, nullDiscardAndInputEcho)
{
    open();
    SetNullDiscard(h, 1);
    SetInputEcho(h, 1);
    pty.send(std::string("a\0b", 3));
    ASSERT_TRUE(waitQueued(h, 3));
    char buf[8];
    EXPECT_EQ(GetInput(h, buf, sizeof buf), 2);
    EXPECT_EQ(std::string(buf, 2), "ab");
    GetTerminalContents(h, buf, sizeof buf);
    EXPECT_STREQ(buf, "ab");
}

TEST_F(PtyTest, commEchoSendsReceivedBytesBack)
{
    open();
    SetCommEcho(h, 1);
    pty.send("ping");
    ASSERT_TRUE(waitQueued(h, 4));
    char buf[8];
    EXPECT_EQ(GetInput(h, buf, sizeof buf), 4);
    EXPECT_EQ(pty.receive(4), "ping");
}

TEST_F(PtyTest, lineInputStopsAtCarriageReturnAndDropsLineFeed)
{
    FrozenTime time;
    open();
    SetInputTimeOut(h, 1000);
    pty.send("ok\r\ncd\r");
    ASSERT_TRUE(waitQueued(h, 7));
    char line[16];
    EXPECT_EQ(GetLineInput(h, line, sizeof line), 2);
    EXPECT_STREQ(line, "ok");
    EXPECT_EQ(GetInBufferCount(h), 4); // LF still queued
    EXPECT_EQ(GetLineInput(h, line, sizeof line), 2);
    EXPECT_STREQ(line, "cd");
    // Nothing more: the time-out passes on the frozen clock.
    const int64_t before = time.clock.nowMs();
    EXPECT_EQ(GetLineInput(h, line, sizeof line), 0);
    EXPECT_STREQ(line, "");
    EXPECT_GE(time.clock.nowMs() - before, 1000);
    EXPECT_LT(time.clock.nowMs() - before, 1100);
}

TEST_F(PtyTest, lineInputWithZeroTimeOutReturnsAtOnceAndBufferLimitsTheLine)
{
    FrozenTime time;
    open();
    pty.send("abcdef\r");
    ASSERT_TRUE(waitQueued(h, 7));
    char line[4];
    EXPECT_EQ(GetLineInput(h, line, sizeof line), 0); // InTimeOut 0
    SetInputTimeOut(h, 500);
    EXPECT_EQ(GetLineInput(h, line, sizeof line), 3);
    EXPECT_STREQ(line, "abc");
}

TEST_F(PtyTest, longLinesAreTakenWholeAndWhatFollowsTheirEndStaysQueued)
{
    // Lines longer than one piece of input: line feeds and NULs inside them
    // dropped, every byte echoed once, and neither the next line nor the
    // bytes past a full buffer consumed.
    FrozenTime time;
    open();
    SetInputTimeOut(h, 1000);
    SetNullDiscard(h, 1);
    SetInputEcho(h, 1);
    std::string line;
    for (int i = 0; i < 1500; ++i)
        line += char('a' + i % 26);
    std::string sent = line.substr(0, 700) + "\n" + std::string(1, '\0') + line.substr(700) + "\r\nnext\r";
    pty.send(sent);
    ASSERT_TRUE(waitQueued(h, int32_t(sent.size())));
    std::vector<char> buf(4096);
    EXPECT_EQ(GetLineInput(h, buf.data(), int32_t(buf.size())), 1500);
    EXPECT_EQ(std::string(buf.data()), line);
    EXPECT_EQ(GetInBufferCount(h), 6); // "\nnext\r"
    std::vector<char> term(4096);
    GetTerminalContents(h, term.data(), int32_t(term.size()));
    EXPECT_EQ(std::string(term.data()), line.substr(0, 700) + "\n" + line.substr(700) + "\r");
    EXPECT_EQ(GetLineInput(h, buf.data(), int32_t(buf.size())), 4);
    EXPECT_STREQ(buf.data(), "next");
    // A buffer shorter than the line takes only what it can hold.
    pty.send(line + "\r");
    ASSERT_TRUE(waitQueued(h, 1501));
    char small[600];
    EXPECT_EQ(GetLineInput(h, small, sizeof small), 599);
    EXPECT_EQ(std::string(small), line.substr(0, 599));
    EXPECT_EQ(GetInBufferCount(h), 1501 - 599);
}

TEST_F(PtyTest, lookUpMatchesIgnoringCaseAndFillsTheBuffer)
{
    FrozenTime time;
    open();
    pty.send("AT\r\r\nok\r\n");
    ASSERT_TRUE(waitQueued(h, 9));
    const std::string list = lookups({ "OK", "ERROR" });
    char buf[32];
    EXPECT_EQ(InputUntilLookUp(h, list.data(), int32_t(list.size()), buf, sizeof buf), 0);
    EXPECT_STREQ(buf, "AT\r\r\nok");
    EXPECT_EQ(GetInBufferCount(h), 2); // the rest stays queued
    EXPECT_EQ(GetInput(h, buf, sizeof buf), 2);
    EXPECT_EQ(std::string(buf, 2), "\r\n");
    // What a look-up left behind is emptied with the receive queue.
    pty.send("OKxyz");
    ASSERT_TRUE(waitQueued(h, 5));
    EXPECT_EQ(InputUntilLookUp(h, list.data(), int32_t(list.size()), buf, sizeof buf), 0);
    EXPECT_EQ(GetInBufferCount(h), 3);
    EXPECT_EQ(ClearInputBuffer(h), 1);
    EXPECT_EQ(GetInBufferCount(h), 0);
}

TEST_F(PtyTest, lookUpTimesOutOnPartialText)
{
    FrozenTime time;
    open();
    SetLookUpTimeOut(h, 3000);
    pty.send("err");
    ASSERT_TRUE(waitQueued(h, 3));
    const std::string list = lookups({ "OK", "ERROR" });
    const int64_t before = time.clock.nowMs();
    EXPECT_EQ(DiscardUntilLookUp(h, list.data(), int32_t(list.size())), -1);
    EXPECT_GE(time.clock.nowMs() - before, 3000);
    EXPECT_LT(time.clock.nowMs() - before, 3100);
    EXPECT_EQ(GetInBufferCount(h), 0);
}

TEST_F(PtyTest, lookUpEndsWhenTheBufferIsFull)
{
    FrozenTime time;
    open();
    pty.send("0123456789OK");
    ASSERT_TRUE(waitQueued(h, 12));
    const std::string list = lookups({ "OK" });
    char buf[5];
    EXPECT_EQ(InputUntilLookUp(h, list.data(), int32_t(list.size()), buf, sizeof buf), -1);
    EXPECT_STREQ(buf, "0123");
}

TEST_F(PtyTest, badLookUpListsAreRefused)
{
    FrozenTime time;
    open();
    pty.send("OK");
    ASSERT_TRUE(waitQueued(h, 2));
    const char unterminated[] = { 'O', 'K', '\0' };
    EXPECT_EQ(DiscardUntilLookUp(h, unterminated, sizeof unterminated), -1);
    EXPECT_TRUE(logHas("InputUntilLookUp(): The look-up list does not end with an empty string"));
    EXPECT_EQ(DiscardUntilLookUp(h, nullptr, 10), -1);
    const std::string empty = lookups({});
    EXPECT_EQ(DiscardUntilLookUp(h, empty.data(), int32_t(empty.size())), -1);
    EXPECT_EQ(GetInBufferCount(h), 2); // nothing consumed
    SetLookUpTimeOut(h, 0);
    const std::string list = lookups({ "OK" });
    EXPECT_EQ(DiscardUntilLookUp(h, list.data(), int32_t(list.size())), -1);
    // More than 50 strings: the first 50 are used, and it is logged.
    SetLookUpTimeOut(h, 1000);
    std::string many;
    for (int i = 0; i < 55; ++i)
        many += "x" + std::to_string(i) + '\0';
    many = "OK" + std::string(1, '\0') + many + '\0';
    EXPECT_EQ(DiscardUntilLookUp(h, many.data(), int32_t(many.size())), 0);
    EXPECT_TRUE(logHas("InputUntilLookUp(): More than 50 look-up strings; the first 50 are used"));
}

TEST_F(PtyTest, shutDownEndsAWaitAtOnce)
{
    FrozenTime time;
    open();
    SetShutDown(h, 1);
    const std::string list = lookups({ "OK" });
    EXPECT_EQ(DiscardUntilLookUp(h, list.data(), int32_t(list.size())), -1);
    EXPECT_EQ(ComPause(h, 5000), 0);
    EXPECT_LT(time.pauses, 100);
}

TEST_F(PtyTest, clearAndFlushTheInputQueue)
{
    FrozenTime time;
    EXPECT_EQ(ClearInputBuffer(h), 0);
    EXPECT_TRUE(logHas("ClearInputBuffer(): Port not open"));
    open();
    pty.send("junk");
    ASSERT_TRUE(waitQueued(h, 4));
    EXPECT_EQ(FlushInputBuffer(h, 200), 0); // data stays: not empty in time
    EXPECT_EQ(ClearInputBuffer(h), 1);
    EXPECT_EQ(GetInBufferCount(h), 0);
    EXPECT_EQ(FlushInputBuffer(h, 200), 1);
    EXPECT_EQ(FlushOutputBuffer(h, 200), 1);
    EXPECT_EQ(GetOutBufferCount(h), 0);
}

TEST_F(PtyTest, waitForInputReturnsAsSoonAsBytesArrive)
{
    open();
    QElapsedTimer t;
    t.start();
    EXPECT_EQ(WaitForInput(h, 60), 0);
    EXPECT_GE(t.elapsed(), 55);
    pty.send("r");
    t.restart();
    EXPECT_EQ(WaitForInput(h, 5000), 1);
    EXPECT_LT(t.elapsed(), 1000);
}

TEST_F(PtyTest, aVanishingDeviceClosesThePortWithoutHangingAWait)
{
    open();
    pty.closeMaster();
    QElapsedTimer t;
    t.start();
    const std::string list = lookups({ "OK" });
    EXPECT_EQ(DiscardUntilLookUp(h, list.data(), int32_t(list.size())), -1);
    EXPECT_LT(t.elapsed(), 2000);
    EXPECT_EQ(GetPortOpen(h), 0);
    bool found = false;
    for (const auto &text : logTexts(0))
        found = found || text.find("The device has gone away") != std::string::npos;
    EXPECT_TRUE(found);
    EXPECT_EQ(Output(h, "x", 1), 0);
}

// Guards against a vanished device closing the port without any event.
TEST_F(PtyTest, aVanishingDeviceRaisesTheCarrierEventAndSaysWhy)
{
    open();
    SetInterval(h, 10);
    pty.closeMaster();
    QElapsedTimer t;
    t.start();
    while (GetPortOpen(h) && t.elapsed() < 2000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
    EXPECT_EQ(GetPortOpen(h), 0);
    EXPECT_EQ(Recorder::codes(), std::vector<int32_t> { TOLCOM_EV_CD });
    char reason[256] = {};
    EXPECT_EQ(GetLastOpenError(h, reason, sizeof reason), EIO);
    EXPECT_STREQ(reason, "COM1: The device has gone away (Input/output error); the port is closed");
}

TEST_F(PtyTest, tracesGoToTheLogOnlyWhenSwitchedOn)
{
    open();
    Output(h, "ABC", 3);
    EXPECT_TRUE(logTexts(2).empty());
    SetPortWatch(0, TOLCOM_WATCH_OUTPUT | TOLCOM_WATCH_CALLS);
    Output(h, "ABC", 3);
    const auto dumps = readLog();
    bool sawOutput = false, sawCall = false;
    for (const auto &r : dumps) {
        if (r.kind == 2 && r.text == "Ouput: 3 bytes 41 42 43 ") {
            sawOutput = true;
            EXPECT_EQ(r.data, "ABC");
        }
        sawCall = sawCall || (r.kind == 1 && r.text == "Output()");
    }
    EXPECT_TRUE(sawOutput);
    EXPECT_TRUE(sawCall);
    // Long dumps are split into records of about 50 characters.
    clearLog();
    const std::string many(40, 'z');
    Output(h, many.data(), int32_t(many.size()));
    const auto texts = logTexts(2);
    ASSERT_GE(texts.size(), 3u);
    for (const auto &t : texts)
        EXPECT_LE(t.size(), 52u);
}

TEST_F(PtyTest, objectNamesAreWrittenIntoTheLog)
{
    const uint32_t named = CreateCommObjectName(nullptr, "Hublink");
    SetBreak(named, 1);
    const auto records = readLog();
    ASSERT_FALSE(records.empty());
    EXPECT_EQ(records.back().name, "Hublink");
    EXPECT_EQ(records.back().text, "SetBreak(1): Port not open");
    DestroyCommObject(named);
    const uint32_t unnamed = CreateCommObject(nullptr);
    GetCarrier(unnamed);
    EXPECT_EQ(readLog().back().text, "GetCarrier: Port not open");
    EXPECT_EQ(readLog().back().name.rfind("TolComm", 0), 0u);
    DestroyCommObject(unnamed);
}

TEST_F(PtyTest, aForeignLogFileIsLeftAlone)
{
    const QByteArray foreign("not a portwatch log at all");
    ASSERT_TRUE(exel::test::writeFile(QString::fromStdString(logFile()), foreign));
    SetPortOpen(h, 1);
    GetCarrier(h);
    EXPECT_EQ(exel::test::readFile(QString::fromStdString(logFile())), foreign);
}

TEST_F(PtyTest, statusDumpListsProperties)
{
    SetHandshaking(h, 3);
    DumpCommStatus(h);
    const auto texts = logTexts(2);
    ASSERT_FALSE(texts.empty());
    EXPECT_EQ(texts.front(), "Comm Control Dump");
    auto has = [&](const std::string &s) { return std::find(texts.begin(), texts.end(), s) != texts.end(); };
    EXPECT_TRUE(has("     Handshaking=3 -- Xon/Xoff and Hardware"));
    EXPECT_TRUE(has("     PortOpen=FALSE"));
    EXPECT_TRUE(has("     Settings=\"9600,n,8,1\""));
    EXPECT_TRUE(has("     Interval=55"));
}

TEST_F(PtyTest, outOfRangeValuesAreLoggedAndStoredOrRefused)
{
    EXPECT_EQ(SetHandshaking(h, 7), 0);
    EXPECT_EQ(GetHandshaking(h), 7);
    SetInBufferSize(h, -5);
    SetOutBufferSize(h, -6);
    SetCarrierTimeOut(h, -1);
    SetInterval(h, -2);
    SetNotification(h, 4);
    SetParityReplace(h, -9);
    EXPECT_EQ(GetParityReplace(h), -1);
    EXPECT_EQ(SetRThreshold(h, -1), 380);
    EXPECT_EQ(GetRThreshold(h), 0);
    SetCommPort(h, 0);
    EXPECT_EQ(GetCommPort(h), 0);
    for (const char *text : { "SetHandshaking(7): Invalid value", "SetInBufferSize(-5): Should be between 0 en 32K",
             "SetOutBufferSize(-6): Should be between 0 en 32K", "SetCarrierTimeOut(-1): Invalid value.",
             "SetInterval(-2): Interval should be positive", "SetNotification(4): Should be between 0 and 1",
             "ParityReplace(-9): Should be between -1 and 255.", "SetRThreshold(-1): Cannot be negative value",
             "SetPortTol(0): Invalid port number" })
        EXPECT_TRUE(logHas(text)) << text;
}

TEST_F(PtyTest, adoptingADescriptorMakesTheObjectOpen)
{
    open();
    const int fd = dup(GetCommID(h));
    SetPortOpen(h, 0);
    const uint32_t other = CreateCommObject(nullptr);
    EXPECT_EQ(SetCommID(other, fd), 0);
    EXPECT_EQ(GetPortOpen(other), 1);
    EXPECT_EQ(Output(other, "hi", 2), 2);
    EXPECT_EQ(pty.receive(2), "hi");
    SetCommID(other, -1);
    EXPECT_EQ(GetPortOpen(other), 0);
    DestroyCommObject(other);
}

// Guards against an adopted blocking descriptor making reads and writes ignore their deadlines.
TEST_F(PtyTest, anAdoptedBlockingDescriptorIsMadeNonBlockingAndGetsItsFlagsBack)
{
    const std::string path = QFile::symLinkTarget(qEnvironmentVariable("TOLCOM_DEVICE_DIR") + "/COM1").toStdString();
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(fd, 0);
    // The caller keeps a copy that shares the open file, and with it the flags.
    const int mine = dup(fd);
    ASSERT_EQ(fcntl(mine, F_GETFL) & O_NONBLOCK, 0);
    ASSERT_EQ(SetCommID(h, fd), 0);
    ASSERT_NE(fcntl(mine, F_GETFL) & O_NONBLOCK, 0);
    {
        // With nothing to read, a look-up ends at its time-out instead of
        // sitting in read() for ever.
        FrozenTime frozen;
        SetLookUpTimeOut(h, 300);
        const std::string list = lookups({ "OK" });
        EXPECT_EQ(DiscardUntilLookUp(h, list.data(), int32_t(list.size())), -1);
        EXPECT_GE(frozen.pauses, 300);
    }
    SetCommID(h, -1);
    EXPECT_EQ(fcntl(mine, F_GETFL) & O_NONBLOCK, 0);
    ::close(mine);
}

TEST_F(PtyTest, fileTransfersFailWithAReason)
{
    EXPECT_EQ(Upload(h, 5, "x.bin"), -1);
    EXPECT_TRUE(logHas("Upload(): File transfers are not available in this engine"));
}

} // namespace

namespace {

TEST(EngineThreads, callsFromAnotherThreadAreRefused)
{
    const uint32_t h = CreateCommObject(nullptr);
    SetLookUpTimeOut(h, 1234);
    int32_t seen = -1;
    int32_t set = -1;
    std::thread other([&] {
        seen = GetLookUpTimeOut(h);
        set = SetLookUpTimeOut(h, 5);
    });
    other.join();
    EXPECT_EQ(seen, 0);
    EXPECT_EQ(set, 0);
    EXPECT_EQ(GetLookUpTimeOut(h), 1234);
    EXPECT_TRUE(logHas("GetLookUpTimeOut(): Called from another thread"));
    EXPECT_EQ(SetCommID(h, 987654), 380); // not an open descriptor
    EXPECT_EQ(GetPortOpen(h), 0);
    DestroyCommObject(h);
}

} // namespace
