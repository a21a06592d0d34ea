// Modem dialing against the Hayes modem emulator (wired to the fake driver so
// that carrier follows the call), the modem list, and filling boxes.
#include "enginetest.h"
#include "hayesmodem.h"

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QFile>
#include <QGroupBox>
#include <QListWidget>
#include <QProcess>
#include <QRadioButton>
#include <QTimer>

using namespace enginetest;
using modememu::HayesModem;

namespace {

// The emulator on the far side of the fake port; serviced on every turn of a wait.
struct ModemRig {
    explicit ModemRig(FakeDriverScope &fake, const exel::Clock &clock)
        : port(*fake.port)
        , modem(clock)
        , clock(clock)
    {
        port.onWrite = [this](const std::string &bytes) {
            writes.push_back({ this->clock.nowMs(), bytes });
            modem.fromDte(bytes);
            service();
        };
        port.onDtr = [this](bool on) {
            modem.setDtr(on);
            service();
        };
        modem.setGuardMs(1000);
        modem.setDialDelayMs(3000);
    }
    void service()
    {
        modem.poll();
        port.received += modem.takeToDte();
        port.lines = modem.carrier() ? (tolcom::kLineCarrier | tolcom::kLineDsr | tolcom::kLineCts) : 0;
    }
    std::string written() const { return port.written; }
    int64_t timeOf(char ch) const
    {
        for (const auto &[t, bytes] : writes) {
            if (bytes.find(ch) != std::string::npos)
                return t;
        }
        return -1;
    }
    tolcom::FakePort &port;
    HayesModem modem;
    const exel::Clock &clock;
    std::vector<std::pair<int64_t, std::string>> writes;
};

ModemRig *g_rig = nullptr;

class ModemTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        clearLog();
        Recorder::reset();
        time = std::make_unique<FrozenTime>(0);
        rig = std::make_unique<ModemRig>(fake, time->clock);
        g_rig = rig.get();
        h = CreateCommObject(nullptr);
        SetEventHandler(h, &Recorder::handler);
        SetIdleLoop(h, [](uint32_t) {
            if (g_rig)
                g_rig->service();
        });
        SetCommPort(h, 2);
        ASSERT_EQ(SetPortOpen(h, 1), 1);
    }
    void TearDown() override
    {
        DestroyCommObject(h);
        g_rig = nullptr;
        Recorder::reset();
        tolcom::setModemListPath("");
    }
    void connect()
    {
        rig->modem.setOutcome(HayesModem::Outcome::Connect);
        ASSERT_EQ(Dial(h, "5551234"), 0);
        ASSERT_TRUE(rig->modem.carrier());
        rig->port.written.clear();
        rig->writes.clear();
    }
    FakeDriverScope fake;
    std::unique_ptr<FrozenTime> time;
    std::unique_ptr<ModemRig> rig;
    uint32_t h = 0;
};

TEST_F(ModemTest, initSendsTheInitCommandAndWaitsForOk)
{
    EXPECT_EQ(InitModem(h), 1);
    // No carrier, so the hang-up before it sent nothing.
    EXPECT_EQ(rig->written(), "ATX4E1V1S7=60&C1\r");
    EXPECT_EQ(rig->modem.commands().back(), "X4E1V1S7=60&C1");
    EXPECT_EQ(CheckModem(h), 1);
    EXPECT_EQ(GetLookUpTimeOut(h), 10000); // restored
}

TEST_F(ModemTest, anErrorAnswerOrSilenceIsNotOk)
{
    OutputModem(h, "ATJUNK^M");
    EXPECT_EQ(WaitForOk(h), 0);
    const int64_t before = time->clock.nowMs();
    EXPECT_EQ(WaitForOk(h), 0); // nothing more comes: the 8 s time-out
    EXPECT_GE(time->clock.nowMs() - before, 8000);
    EXPECT_LT(time->clock.nowMs() - before, 8200);
}

TEST_F(ModemTest, initForAnswerSendsBothCommands)
{
    EXPECT_EQ(InitModemForAnswer(h), 1);
    EXPECT_EQ(rig->written(), "ATX4E1V1S7=60&C1\rATS0=2\r");
    EXPECT_EQ(rig->modem.sRegister(0), 2);
    rig->modem.incomingCall();
    rig->service();
    EXPECT_TRUE(rig->modem.carrier());
}

struct DialCase {
    HayesModem::Outcome outcome;
    int32_t result;
};

class DialResults : public ModemTest, public ::testing::WithParamInterface<DialCase> { };

TEST_P(DialResults, mapTheModemAnswer)
{
    rig->modem.setOutcome(GetParam().outcome);
    SetDialTimeOut(h, 20000);
    const int64_t before = time->clock.nowMs();
    EXPECT_EQ(Dial(h, "5551234"), GetParam().result);
    EXPECT_EQ(rig->modem.dialed(), "5551234");
    EXPECT_EQ(GetLookUpTimeOut(h), 10000);
    const std::string written = rig->written();
    EXPECT_EQ(written.rfind("ATDT5551234\r", 0), 0u) << written;
    if (GetParam().result == 4) {
        // Time-out: one more carriage return makes the modem give up.
        EXPECT_EQ(written, "ATDT5551234\r\r");
        EXPECT_GE(time->clock.nowMs() - before, 20000);
    } else {
        EXPECT_EQ(written, "ATDT5551234\r");
    }
}

INSTANTIATE_TEST_SUITE_P(Outcomes, DialResults,
    ::testing::Values(DialCase { HayesModem::Outcome::Connect, 0 }, DialCase { HayesModem::Outcome::NoCarrier, 1 },
        DialCase { HayesModem::Outcome::NoDialtone, 2 }, DialCase { HayesModem::Outcome::Busy, 3 },
        DialCase { HayesModem::Outcome::Silence, 4 }));

TEST_F(ModemTest, pulseDialModeSendsATDP)
{
    SetDialMode(h, 1);
    EXPECT_EQ(Dial(h, "12"), 0);
    EXPECT_EQ(rig->written().rfind("ATDP12\r", 0), 0u);
    EXPECT_EQ(SetDialMode(h, 2), 380);
}

TEST_F(ModemTest, dataPassesOnceConnected)
{
    connect();
    Output(h, "route 1", 7);
    EXPECT_EQ(rig->modem.takeToLine(), "route 1");
    rig->modem.fromLine("answer\r");
    rig->service();
    SetInputTimeOut(h, 1000);
    char line[32];
    // Skip what the CONNECT line left behind.
    ClearInputBuffer(h);
    rig->modem.fromLine("answer\r");
    rig->service();
    EXPECT_EQ(GetLineInput(h, line, sizeof line), 6);
    EXPECT_STREQ(line, "answer");
}

TEST_F(ModemTest, hangUpWithoutCarrierSendsNothing)
{
    EXPECT_EQ(HangUp(h), 1);
    EXPECT_EQ(rig->written(), "");
}

TEST_F(ModemTest, hangUpDropsDtrAndStopsThereWhenTheModemHangsUp)
{
    connect(); // the modem hangs up on DTR loss (&D2)
    EXPECT_EQ(HangUp(h), 1);
    EXPECT_FALSE(rig->modem.carrier());
    EXPECT_EQ(rig->written(), "");
    EXPECT_TRUE(rig->port.dtr); // restored
}

TEST_F(ModemTest, hangUpEscapesWithGuardTimesWhenDtrIsIgnored)
{
    OutputModem(h, "AT&D0^M");
    ASSERT_EQ(WaitForOk(h), 1);
    connect();
    const int64_t start = time->clock.nowMs();
    EXPECT_EQ(HangUp(h), 1);
    EXPECT_FALSE(rig->modem.carrier());
    EXPECT_EQ(rig->written(), "+++ATH0\r");
    // 200 ms of DTR drop, 200 ms before the command, two seconds of guard.
    const int64_t plus = rig->timeOf('+');
    const int64_t letters = rig->timeOf('A');
    EXPECT_GE(plus - start, 2400);
    EXPECT_GE(letters - plus, 2000);
    EXPECT_EQ(rig->modem.commands().back(), "H0");
}

TEST_F(ModemTest, withoutModemLinesCarrierFollowsTheConversation)
{
    rig->port.hasLines = false;
    rig->port.onDtr = nullptr; // no lines: the modem never sees DTR either
    EXPECT_EQ(GetCarrier(h), 0);
    connect();
    EXPECT_EQ(GetCarrier(h), 1);
    EXPECT_EQ(HangUp(h), 1); // DTR means nothing here: the escape and ATH0 do it
    EXPECT_EQ(rig->written(), "+++ATH0\r");
    EXPECT_FALSE(rig->modem.carrier());
    EXPECT_EQ(GetCarrier(h), 0);
    // A busy line never raises it, and closing drops it.
    rig->modem.setOutcome(HayesModem::Outcome::Busy);
    EXPECT_EQ(Dial(h, "1"), 3);
    EXPECT_EQ(GetCarrier(h), 0);
    // The far end hanging up shows as the modem's NO CARRIER in the data.
    connect();
    Recorder::reset();
    rig->modem.lineDropped();
    rig->service();
    char buf[64];
    EXPECT_GT(GetInput(h, buf, sizeof buf), 0);
    EXPECT_EQ(GetCarrier(h), 0);
    connect();
    SetPortOpen(h, 0);
    SetPortOpen(h, 1);
    EXPECT_EQ(GetCarrier(h), 0);
}

TEST_F(ModemTest, hangUpDuringADialStopsTheDial)
{
    rig->modem.setOutcome(HayesModem::Outcome::Silence);
    SetDialTimeOut(h, 5000);
    int32_t hung = -1;
    Recorder::action() = [&](uint32_t handle, int32_t code) {
        if (code == 2 && hung < 0)
            hung = HangUp(handle);
    };
    // The idle service raises a receive event through the timer only with a
    // real tick; drive the event from the idle loop instead.
    SetIdleLoop(h, [](uint32_t handle) {
        static bool done = false;
        if (GetBusy(handle) && !done && g_rig->modem.state() == HayesModem::State::Dialing) {
            done = true;
            Recorder::handler(handle, int32_t(handle), 2);
        }
        g_rig->service();
    });
    EXPECT_EQ(Dial(h, "99"), 4);
    EXPECT_EQ(hung, 1);
    // The hang-up's CR went out during the dial, and the time-out sent its own.
    EXPECT_EQ(rig->written(), "ATDT99\r\r\r");
}

TEST_F(ModemTest, dialingOnAClosedPortWritesNothing)
{
    SetPortOpen(h, 0);
    EXPECT_EQ(Dial(h, "1"), 4);
    EXPECT_EQ(rig->written(), "");
}

TEST_F(ModemTest, outputModemTranslatesCaretsAndPauses)
{
    const int64_t start = time->clock.nowMs();
    OutputModem(h, "A^M~B^J^");
    EXPECT_EQ(rig->written(), "A\rB\n");
    EXPECT_GE(rig->timeOf('B') - start, 1200);
    EXPECT_LT(rig->timeOf('A') - start, 400);
}

class ModemListTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        h = CreateCommObject(nullptr);
        path = exel::test::tempHome() + QStringLiteral("/MODEM.LST");
        ASSERT_TRUE(exel::test::writeFile(path,
            "Zoom 56K\tATZ^M\tATDT\tATDP\tATA^M\t~~+++~~ATH^M\t56000\r\n"
            "US Robotics\tAT&F^M\tATDT\tATDP\tATS0=1^M\tATH^M\t33600\r\n"));
        tolcom::setModemListPath(path.toStdString());
    }
    void TearDown() override
    {
        DestroyCommObject(h);
        tolcom::setModemListPath("");
    }
    std::string options()
    {
        char buf[512];
        GetModemOptions(h, buf, sizeof buf);
        return buf;
    }
    QString path;
    uint32_t h = 0;
};

TEST_F(ModemListTest, loadsEntriesByLineAndKeepsOptionsOnAMissingLine)
{
    EXPECT_EQ(options(), "Hayes Compatible\tATX4E1V1S7=60&C1^M\tATDT\tATDP\tATS0=2^M\t~~+++~~ATH0^M\t14400");
    EXPECT_EQ(LoadModemOptions(h, 2), 1);
    EXPECT_EQ(options(), "US Robotics\tAT&F^M\tATDT\tATDP\tATS0=1^M\tATH^M\t33600");
    EXPECT_EQ(LoadModemOptions(h, 3), 0);
    EXPECT_EQ(LoadModemOptions(h, -1), 0);
    EXPECT_EQ(options().rfind("US Robotics\t", 0), 0u);
    EXPECT_EQ(LoadModemOptions(h, 0), 1);
    EXPECT_EQ(options().rfind("Hayes Compatible\t", 0), 0u);
    tolcom::setModemListPath((path + QStringLiteral(".missing")).toStdString());
    EXPECT_EQ(LoadModemOptions(h, 1), 0);
}

TEST_F(ModemListTest, setAndGetTheRecordInItsTextForm)
{
    EXPECT_EQ(SetModemOptions(h, "Mine\tATZ^M\tATDT\tATDP\tATA^M\tATH^M\t9600"), 0);
    EXPECT_EQ(options(), "Mine\tATZ^M\tATDT\tATDP\tATA^M\tATH^M\t9600");
    EXPECT_EQ(SetModemOptions(h, nullptr), 380);
    char small[6];
    EXPECT_EQ(GetModemOptions(h, small, sizeof small), 5);
    EXPECT_STREQ(small, "Mine\t");
}

// Guards against a modem field longer than the engine keeps being cut short without a word.
TEST_F(ModemListTest, aFieldLongerThanAListLineIsRefusedAndTheRecordKept)
{
    ASSERT_EQ(SetModemOptions(h, "Mine\tATZ^M\tATDT\tATDP\tATA^M\tATH^M\t9600"), 0);
    const std::string longest(199, 'A');
    EXPECT_EQ(SetModemOptions(h, ("Mine\t" + longest + "\tATDT").c_str()), 0);
    EXPECT_EQ(options(), "Mine\t" + longest + "\tATDT\t\t\t\t");
    const std::string before = options();
    EXPECT_EQ(SetModemOptions(h, ("Mine\t" + longest + "A\tATDT").c_str()), 380);
    EXPECT_EQ(options(), before);
    EXPECT_TRUE(logHas("SetModemOptions(): A field is longer than 199 characters"));
}

TEST_F(ModemListTest, fillsAComboBoxWithTitlesAndLineNumbers)
{
    LoadModemOptions(h, 2);
    QComboBox combo;
    combo.addItem(QStringLiteral("stale"));
    EXPECT_EQ(FillComboWithModemNames(h, &combo), 1);
    ASSERT_EQ(combo.count(), 3);
    EXPECT_EQ(combo.itemText(0), QStringLiteral("Hayes Compatible"));
    EXPECT_EQ(combo.itemData(0).toInt(), 0);
    EXPECT_EQ(combo.itemText(2), QStringLiteral("US Robotics"));
    EXPECT_EQ(combo.itemData(2).toInt(), 2);
    EXPECT_EQ(combo.currentIndex(), 2);
}

TEST_F(ModemListTest, aMissingListLeavesOnlyTheBuiltInEntry)
{
    tolcom::setModemListPath((path + QStringLiteral(".missing")).toStdString());
    QListWidget list;
    EXPECT_EQ(FillListWithModemNames(h, &list), 0);
    ASSERT_EQ(list.count(), 1);
    EXPECT_EQ(list.item(0)->text(), QStringLiteral("Hayes Compatible"));
    EXPECT_EQ(list.currentRow(), 0);
    EXPECT_EQ(FillListWithModemNames(h, nullptr), 0);
}

TEST(ShippedModemList, sitsBesideTheLibraryAndEveryLineLoads)
{
    tolcom::setModemListPath("");
    const std::string path = tolcom::modemListPath();
    ASSERT_TRUE(QFile::exists(QString::fromStdString(path))) << path;
    const uint32_t h = CreateCommObject(nullptr);
    EXPECT_EQ(LoadModemOptions(h, 1), 1);
    char buf[512];
    GetModemOptions(h, buf, sizeof buf);
    const auto fields = QString::fromLatin1(buf).split(QLatin1Char('\t'));
    EXPECT_EQ(fields.size(), 7);
    EXPECT_TRUE(fields[1].endsWith(QStringLiteral("^M")));
    DestroyCommObject(h);
}

TEST(HayesEmulator, escapeNeedsItsGuardTimes)
{
    exel::FakeClock clock;
    HayesModem m(clock);
    m.setGuardMs(1000);
    m.fromDte("ATD1\r");
    m.poll();
    ASSERT_TRUE(m.carrier());
    m.takeToDte();
    // Pluses inside data are data.
    m.fromDte("a+++");
    clock.advance(1500);
    m.poll();
    EXPECT_EQ(m.state(), HayesModem::State::Online);
    EXPECT_EQ(m.takeToLine(), "a+++");
    // With silence around them they escape to command mode.
    clock.advance(1500);
    m.fromDte("+++");
    clock.advance(500);
    m.poll();
    EXPECT_EQ(m.state(), HayesModem::State::Online);
    clock.advance(600);
    m.poll();
    EXPECT_EQ(m.state(), HayesModem::State::OnlineCommand);
    EXPECT_EQ(m.takeToDte(), "\r\nOK\r\n");
    EXPECT_EQ(m.takeToLine(), "");
    m.fromDte("ATO\r");
    EXPECT_EQ(m.state(), HayesModem::State::Online);
    m.fromDte("+++x");
    EXPECT_EQ(m.takeToLine(), "+++x"); // no guard before: data
}

TEST(HayesEmulator, answersCommandsAndRefusesJunk)
{
    exel::FakeClock clock;
    HayesModem m(clock);
    m.fromDte("ATE0\r");
    EXPECT_EQ(m.takeToDte(), "ATE0\r\r\nOK\r\n");
    m.fromDte("ATS7=45S7?\r");
    EXPECT_EQ(m.takeToDte(), "\r\n045\r\n\r\nOK\r\n");
    m.fromDte("ATQ\x08"
              "Z\r");
    EXPECT_EQ(m.takeToDte(), "\r\nOK\r\n"); // backspace edited Q away; Z turns echo back on
    EXPECT_TRUE(m.echo());
    m.fromDte("hello\r");
    EXPECT_NE(m.takeToDte().find("ERROR"), std::string::npos);
    m.fromDte("ATV0\r");
    EXPECT_EQ(m.takeToDte(), "ATV0\r0\r");
    m.fromDte("ATH0\r");
    EXPECT_EQ(m.takeToDte(), "ATH0\r0\r");
    m.fromDte("ATA\r");
    EXPECT_EQ(m.takeToDte(), "ATA\r3\r"); // nobody calling: NO CARRIER
}

} // namespace

namespace {

// The emulator program on its own pseudo-terminal, driven through the real
// termios path: init, dial and hang-up as the panel would do them.
TEST(ModemEmulatorProcess, initDialAndHangUpOverAPseudoTerminal)
{
    const QString dir = exel::test::tempHome() + QStringLiteral("/modemdev");
    QDir().mkpath(dir);
    QProcess emu;
    emu.start(QStringLiteral(MODEMEMU_PATH),
        { QStringLiteral("--link-dir"), dir, QStringLiteral("--port"), QStringLiteral("4"),
            QStringLiteral("--dial-delay-ms"), QStringLiteral("100"), QStringLiteral("--outcome"),
            QStringLiteral("busy") });
    ASSERT_TRUE(emu.waitForStarted(5000));
    QByteArray out;
    while (!out.contains("link ") && emu.waitForReadyRead(5000))
        out += emu.readAllStandardOutput();
    ASSERT_TRUE(out.contains("link ")) << out.constData();
    qputenv("TOLCOM_DEVICE_DIR", dir.toLocal8Bit());
    const uint32_t h = CreateCommObject(nullptr);
    SetCommPort(h, 4);
    SetSettings(h, "9600,n,8,1");
    ASSERT_EQ(SetPortOpen(h, 1), 1);
    EXPECT_EQ(InitModem(h), 1);
    EXPECT_EQ(Dial(h, "5551234"), 3);
    EXPECT_EQ(GetCarrier(h), 0);
    EXPECT_EQ(HangUp(h), 1); // nothing to hang up
    DestroyCommObject(h);
    emu.terminate();
    emu.waitForFinished(5000);
}

} // namespace

namespace {

// Picks a radio button by its group's title and its own text.
void pick(QWidget *dialog, const QString &group, const QString &text)
{
    for (auto *box : dialog->findChildren<QGroupBox *>()) {
        if (box->title() != group)
            continue;
        for (auto *radio : box->findChildren<QRadioButton *>()) {
            if (radio->text() == text)
                radio->setChecked(true);
        }
    }
}

TEST(PortSettingsDialogWindow, okAppliesTheChoicesAndCancelChangesNothing)
{
    const uint32_t h = CreateCommObject(nullptr);
    QTimer::singleShot(0, [] {
        QWidget *dialog = QApplication::activeModalWidget();
        ASSERT_NE(dialog, nullptr);
        EXPECT_EQ(dialog->windowTitle(), QStringLiteral("Settings"));
        pick(dialog, QStringLiteral("Baud rate"), QStringLiteral("19200"));
        pick(dialog, QStringLiteral("Parity"), QStringLiteral("Even"));
        pick(dialog, QStringLiteral("Data bits"), QStringLiteral("7"));
        pick(dialog, QStringLiteral("Stop bits"), QStringLiteral("2"));
        pick(dialog, QStringLiteral("Flow control"), QStringLiteral("Hardware"));
        static_cast<QDialog *>(dialog)->accept();
    });
    EXPECT_EQ(PortSettingsDialog(h, nullptr), 1);
    char buf[32];
    GetSettings(h, buf, sizeof buf);
    EXPECT_STREQ(buf, "19200,e,7,2");
    EXPECT_EQ(GetHandshaking(h), 2);

    QTimer::singleShot(0, [] {
        QWidget *dialog = QApplication::activeModalWidget();
        ASSERT_NE(dialog, nullptr);
        pick(dialog, QStringLiteral("Baud rate"), QStringLiteral("1200"));
        static_cast<QDialog *>(dialog)->reject();
    });
    EXPECT_EQ(PortSettingsDialog(h, nullptr), 0);
    GetSettings(h, buf, sizeof buf);
    EXPECT_STREQ(buf, "19200,e,7,2");
    DestroyCommObject(h);
}

} // namespace

namespace {

// A whole call through the emulator program: connect, data both ways with
// the far end on the emulator's second pty, then the escape and ATH0.
TEST(ModemEmulatorProcess, connectPassDataAndHangUp)
{
    const QString dir = exel::test::tempHome() + QStringLiteral("/modemdev2");
    QDir().mkpath(dir);
    QProcess emu;
    emu.start(QStringLiteral(MODEMEMU_PATH),
        { QStringLiteral("--link-dir"), dir, QStringLiteral("--port"), QStringLiteral("5"),
            QStringLiteral("--dial-delay-ms"), QStringLiteral("50"), QStringLiteral("--guard-ms"),
            QStringLiteral("300"), QStringLiteral("--line-pty") });
    ASSERT_TRUE(emu.waitForStarted(5000));
    QByteArray out;
    while (!out.contains("line ") && emu.waitForReadyRead(5000))
        out += emu.readAllStandardOutput();
    const int at = out.indexOf("line ");
    ASSERT_GE(at, 0) << out.constData();
    const QByteArray linePath = out.mid(at + 5).split('\n').front().trimmed();
    const int far = ::open(linePath.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(far, 0);
    termios raw {};
    tcgetattr(far, &raw);
    cfmakeraw(&raw);
    tcsetattr(far, TCSANOW, &raw);

    qputenv("TOLCOM_DEVICE_DIR", dir.toLocal8Bit());
    const uint32_t h = CreateCommObject(nullptr);
    SetCommPort(h, 5);
    ASSERT_EQ(SetPortOpen(h, 1), 1);
    ASSERT_EQ(Dial(h, "5551234"), 0);
    EXPECT_EQ(GetCarrier(h), 1);
    ClearInputBuffer(h);
    ASSERT_EQ(::write(far, "hello\r", 6), 6);
    SetInputTimeOut(h, 3000);
    char line[32];
    EXPECT_EQ(GetLineInput(h, line, sizeof line), 5);
    EXPECT_STREQ(line, "hello");
    EXPECT_EQ(Output(h, "back", 4), 4);
    std::string got;
    for (int i = 0; i < 300 && got.size() < 4; ++i) {
        char buf[16];
        const ssize_t n = ::read(far, buf, sizeof buf);
        if (n > 0)
            got.append(buf, size_t(n));
        else
            QThread::msleep(5);
    }
    EXPECT_EQ(got, "back");
    EXPECT_EQ(HangUp(h), 1);
    EXPECT_EQ(GetCarrier(h), 0);
    DestroyCommObject(h);
    ::close(far);
    emu.terminate();
    emu.waitForFinished(5000);
}

} // namespace
