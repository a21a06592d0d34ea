// The link over a stand-in control: opening, simulator, the wait for answers,
// the no-response count and offline state, the take retry and the modem.
#include "fakecomm.h"
#include "hublinkcore.h"
#include "hublinkprotocol.h"
#include "testsupport.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

using namespace exel;
using exel::test::FakeComm;

namespace {

class ScriptedUi : public HublinkUi {
public:
    bool connect = true;
    QStringList modems{"Hayes Compatible", "US Robotics", "Zoom"};
    QStringList statusTexts;
    bool statusOpen = false;
    std::function<void()> onShowStatus;
    std::function<void()> onBook;

    bool showConnectionBook() override
    {
        if (onBook)
            onBook();
        return connect;
    }
    QStringList fillModemCombo(QObject *) override { return modems; }
    void showModemStatus(const QString &text) override
    {
        statusOpen = true;
        statusTexts << text;
        if (onShowStatus)
            onShowStatus();
    }
    void setModemStatus(const QString &text) override { statusTexts << text; }
    void closeModemStatus() override { statusOpen = false; }
};

class LinkTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        static int n = 0;
        dir = test::tempHome() + QStringLiteral("/link-%1").arg(++n);
        QDir().mkpath(dir);
        settings = std::make_unique<SettingsStore>(dir);
        comm = std::make_unique<FakeComm>(clock);
    }

    HublinkCore &open()
    {
        link = std::make_unique<HublinkCore>(comm.get(), *settings, dialogs, clock, &ui);
        link->OpenLink();
        return *link;
    }

    void set(const char *key, const char *value)
    {
        settings->SaveSetting(kAppName, kVarsSection, QString::fromLatin1(key), QString::fromLatin1(value));
    }

    QString send(const QString &cmd)
    {
        float timeout = 0;
        return link->SendHublinkCmd(cmd, timeout);
    }

    QString dir;
    FakeClock clock;
    ScriptedDialogs dialogs;
    ScriptedUi ui;
    std::unique_ptr<SettingsStore> settings;
    std::unique_ptr<FakeComm> comm;
    std::unique_ptr<HublinkCore> link;
};

QString answer(const QString &body)
{
    return HublinkFrame(body);
}

} // namespace

TEST_F(LinkTest, opensPortOneAsNineSixHundredEightTwoByDefault)
{
    HublinkCore &l = open();
    EXPECT_EQ(comm->commPort, 1);
    EXPECT_EQ(comm->settings, QStringLiteral("9600,N,8,2"));
    EXPECT_FALSE(comm->autoReceive);
    EXPECT_EQ(comm->inputLen, 0);
    EXPECT_TRUE(comm->rtsEnable);
    EXPECT_TRUE(comm->open);
    EXPECT_TRUE(l.linkEnabled());
    EXPECT_FALSE(l.isComError());
    EXPECT_EQ(l.getDescriptionString(), QStringLiteral("COM1 Online"));
    EXPECT_EQ(dialogs.count(), 0);
}

TEST_F(LinkTest, portThatWillNotOpenIsAPortErrorAndSendsNothing)
{
    comm->canOpen = false;
    set("CommPort", "3");
    HublinkCore &l = open();
    EXPECT_EQ(dialogs.lastText(), QStringLiteral("Serial COM Port Error.\nUnable to open COM3"));
    EXPECT_EQ(dialogs.shown().back().icon, MsgIcon::Exclamation);
    EXPECT_TRUE(l.isComError());
    EXPECT_TRUE(l.isComOffline());
    EXPECT_EQ(send(QStringLiteral("Y001")), QString());
    EXPECT_TRUE(comm->written.isEmpty());
    EXPECT_EQ(l.getDescriptionString(), QStringLiteral("COM3 Offline"));
}

TEST_F(LinkTest, simulatorSendsNothingAndSaysSo)
{
    set("CommPort", "5");
    HublinkCore &l = open();
    EXPECT_TRUE(l.simulator());
    EXPECT_FALSE(comm->open);
    EXPECT_EQ(comm->commPort, 0); // the control is left untouched
    EXPECT_EQ(send(QStringLiteral("Y001")), QString());
    EXPECT_TRUE(comm->written.isEmpty());
    EXPECT_EQ(l.getDescriptionString(), QStringLiteral("Simulator"));
    EXPECT_FALSE(l.isCPUBusy());
}

TEST_F(LinkTest, commandsAreFramedWithTheirChecksumAndGoodAnswersReturnTheBody)
{
    open();
    comm->responder = [](const QString &) { return answer(QStringLiteral("001R")); };
    float timeout = 0;
    EXPECT_EQ(link->SendHublinkCmd(QStringLiteral("Y001"), timeout), QStringLiteral("001R"));
    EXPECT_EQ(timeout, 2.0f); // 0 selects two seconds, and the caller sees it
    ASSERT_EQ(comm->written.size(), 1);
    EXPECT_EQ(comm->written[0], QStringLiteral("Y001>:\r\n"));
    EXPECT_GE(comm->inClears, 1); // input discarded before the command went out

    comm->responder = [](const QString &) { return QStringLiteral("G\r\n"); };
    EXPECT_EQ(send(QStringLiteral("H001002")), QStringLiteral("G"));
    timeout = -3;
    link->SendHublinkCmd(QStringLiteral("WS"), timeout);
    EXPECT_EQ(timeout, 2.0f);
}

TEST_F(LinkTest, badChecksumAndUnterminatedTextAreNotAnswersNorSilence)
{
    open();
    comm->responder = [](const QString &) { return QStringLiteral("001R00\r\n"); };
    EXPECT_EQ(send(QStringLiteral("Y001")), QString());
    EXPECT_EQ(link->noResponseCount(), 0);
    comm->responder = [](const QString &) { return QStringLiteral("001R"); };
    EXPECT_EQ(send(QStringLiteral("Y001")), QString());
    EXPECT_EQ(link->noResponseCount(), 0);
    EXPECT_EQ(dialogs.count(), 0);
}

TEST_F(LinkTest, silentTimeoutsCountUpThenGoOfflineWithOneMessageAndRecover)
{
    open();
    bool silent = true;
    comm->responder = [&](const QString &) { return silent ? QString() : answer(QStringLiteral("OK")); };

    const int64_t t0 = clock.nowMs();
    EXPECT_EQ(send(QStringLiteral("Y001")), QString());
    EXPECT_GE(clock.nowMs() - t0, 2000); // waited the whole two seconds
    EXPECT_LT(clock.nowMs() - t0, 2100);
    EXPECT_EQ(link->noResponseCount(), 1);
    send(QStringLiteral("Y001"));
    EXPECT_EQ(link->noResponseCount(), 2);
    silent = false;
    EXPECT_EQ(send(QStringLiteral("Y001")), QStringLiteral("OK"));
    EXPECT_EQ(link->noResponseCount(), 1); // 1, 2, 1
    EXPECT_EQ(dialogs.count(), 0);

    silent = true;
    send(QStringLiteral("Y001"));
    send(QStringLiteral("Y001"));
    EXPECT_EQ(link->noResponseCount(), 3);
    EXPECT_TRUE(link->isComOffline());
    ASSERT_EQ(dialogs.count(), 1);
    EXPECT_EQ(dialogs.lastText(), QStringLiteral("No Response from Controller."));
    EXPECT_EQ(dialogs.shown()[0].buttons, MsgButtons::OkCancel);
    EXPECT_EQ(link->getDescriptionString(), QStringLiteral("COM1 Offline"));

    // While offline further silence says nothing more and does not count.
    send(QStringLiteral("Y001"));
    send(QStringLiteral("Y001"));
    EXPECT_EQ(dialogs.count(), 1);
    EXPECT_EQ(link->noResponseCount(), 3);

    silent = false;
    send(QStringLiteral("Y001"));
    send(QStringLiteral("Y001"));
    EXPECT_TRUE(link->isComOffline());
    send(QStringLiteral("Y001"));
    EXPECT_FALSE(link->isComOffline()); // three good answers after the message
    EXPECT_EQ(link->getDescriptionString(), QStringLiteral("COM1 Online"));
}

TEST_F(LinkTest, partialAnswerAtTimeoutIsNotCountedAsSilence)
{
    open();
    comm->responder = [](const QString &) { return QStringLiteral("00"); };
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(send(QStringLiteral("Y001")), QString());
    EXPECT_EQ(link->noResponseCount(), 0);
    EXPECT_FALSE(link->isComOffline());
}

TEST_F(LinkTest, takeIsRetriedOnceWhenTheAnswerIsNotG)
{
    open();
    QStringList replies{answer(QStringLiteral("NO")), answer(QStringLiteral("NO2")), answer(QStringLiteral("G"))};
    comm->responder = [&](const QString &) { return replies.isEmpty() ? QString() : replies.takeFirst(); };
    EXPECT_EQ(link->CPUHCmd(2, 3, 4, {0, -1, 9}), QStringLiteral("NO2"));
    ASSERT_EQ(comm->written.size(), 2);
    EXPECT_TRUE(comm->written[0].startsWith(QStringLiteral("2H005001000010")));
    EXPECT_EQ(comm->written[0], comm->written[1]);

    comm->written.clear();
    replies = {QStringLiteral("G\r\n")};
    EXPECT_EQ(link->CPUHCmd(0, 2, 0, {-1, -1}), QStringLiteral("G"));
    ASSERT_EQ(comm->written.size(), 1);
    EXPECT_TRUE(comm->written[0].startsWith(QStringLiteral("H001000000")));
}

TEST_F(LinkTest, statusAndLockRepliesAreDecoded)
{
    open();
    comm->responder = [](const QString &line) {
        if (line.startsWith(QStringLiteral("1Y")))
            return answer(QStringLiteral("003") + QStringLiteral("40") + QStringLiteral("005000007012"));
        if (line.startsWith(QStringLiteral("1WS")))
            return answer(QStringLiteral("0100"));
        return QString();
    };
    std::vector<int16_t> src;
    std::vector<bool> err;
    ASSERT_EQ(link->CPUYCmd(1, 2, src, err), 4);
    EXPECT_EQ(src, (std::vector<int16_t>{4, -1, 6, 11, 0}));
    EXPECT_EQ(err, (std::vector<bool>{true, false, false, false, false}));
    EXPECT_TRUE(comm->written.back().startsWith(QStringLiteral("1Y003")));
    EXPECT_EQ(link->CPUWCmd(1), (std::vector<bool>{false, true, false, false, false}));
    // Silence: empty results, never stale ones.
    EXPECT_EQ(link->CPUYCmd(2, 2, src, err), 0);
    EXPECT_EQ(src.size(), 2u);
    EXPECT_EQ(link->CPUWCmd(2), (std::vector<bool>{false, false}));
}

// A controller that answers after the wait has ended: its answer arrives
// while the next question waits, just ahead of that question's own answer.
TEST_F(LinkTest, lateAnswerToAnEarlierQuestionIsNotTakenForThisOne)
{
    open();
    QString late; // what the controller still owes: sent after the next question
    comm->responder = [&](const QString &line) {
        QString own;
        if (line.startsWith(QStringLiteral("Y001")))
            late = answer(QStringLiteral("0014000900")); // too slow: comes with the next question
        else if (line.startsWith(QStringLiteral("Y002")))
            own = answer(QStringLiteral("0024000500"));
        else if (line.startsWith(QStringLiteral("WS")))
            own = answer(QStringLiteral("0100"));
        else if (line.startsWith(QStringLiteral("H")))
            own = QStringLiteral("G\r\n");
        else if (line.startsWith(QStringLiteral("KCI")))
            own = answer(QStringLiteral("R740*0*D*R740"));
        const QString out
            = (line.startsWith(QStringLiteral("Y001")) ? QString() : std::exchange(late, QString())) + own;
        return out;
    };
    std::vector<int16_t> src;
    std::vector<bool> err;
    const auto unansweredY001 = [&] {
        EXPECT_EQ(link->CPUYCmd(0, 0, src, err), 0); // times out; its answer comes later
    };
    unansweredY001();
    ASSERT_EQ(link->CPUYCmd(0, 1, src, err), 2);
    EXPECT_EQ(src[0], 4); // output 2's own answer, not output 1's
    unansweredY001();
    EXPECT_EQ(link->CPUWCmd(0), (std::vector<bool>{false, true, false, false, false}));
    unansweredY001();
    EXPECT_EQ(link->CPUHCmd(0, 1, 4, {2}), QStringLiteral("G"));
    EXPECT_FALSE(comm->written.back().startsWith(QStringLiteral("Y"))) << "no retry: the take's own G came";
    unansweredY001();
    float timeout = 0;
    EXPECT_EQ(link->SendHublinkCmd(QStringLiteral("KCI"), timeout), QStringLiteral("R740*0*D*R740"));

    // Only a late answer and then nothing: this question went unanswered.
    unansweredY001();
    EXPECT_EQ(link->CPUYCmd(0, 6, src, err), 0);
}

// Guards against answers the protocol allows being dropped as late: a lock
// table marked with "L", a query answer that starts with the controller's
// name, and a long take or lock answer.
TEST_F(LinkTest, answersThatFitTheProtocolAreTakenWhateverTheirCharacters)
{
    open();
    QString reply;
    comm->responder = [&](const QString &) { return answer(reply); };
    reply = QStringLiteral("0L00LL");
    EXPECT_EQ(link->CPUWCmd(0), (std::vector<bool> { false, true, false, false, true, true, false }));
    reply = QStringLiteral("R740*E*D*(LEV,VIDEO,1)");
    EXPECT_EQ(send(QStringLiteral("KQLEV")), reply);
    reply = QStringLiteral("NO SUCH SOURCE");
    EXPECT_EQ(link->CPULCmd(0, 3), reply);
    reply = QStringLiteral("GOOD TAKE");
    EXPECT_EQ(link->CPUHCmd(0, 1, 3, { 1 }), QStringLiteral("GOOD TAKE"));
    EXPECT_EQ(link->noResponseCount(), 0);
    EXPECT_FALSE(link->isComOffline());
    EXPECT_TRUE(link->unansweredCommands().isEmpty());
}

// After the line hung up the control's port is closed and its wait returns
// at once: the link must still pause between looks, not spin for the whole
// time-out.
TEST_F(LinkTest, waitOnAControlThatCannotWaitDoesNotSpin)
{
    HublinkCore real(comm.get(), *settings, dialogs, SystemClock::instance(), &ui);
    real.OpenLink();
    comm->waitBlocks = false;
    comm->responder = [](const QString &) { return QString(); };
    float timeout = 0.3f;
    EXPECT_EQ(real.SendHublinkCmd(QStringLiteral("Y001"), timeout), QString());
    EXPECT_EQ(real.noResponseCount(), 1);
    EXPECT_LT(comm->waitCalls, 40); // about one look per 50 ms slice
}

TEST_F(LinkTest, lowerCaseTrueDoesNotEnableTheModem)
{
    set("ModemEnable", "true");
    EXPECT_TRUE(open().isHublinkConnected());
    EXPECT_EQ(link->modemState(), HublinkCore::DirectCable);
}

TEST_F(LinkTest, modemDialConnectsWithTheStoredStrings)
{
    set("ModemEnable", "TRUE");
    set("ModemType", "Zoom");
    set("ModemInit", "ATZ&F^M");
    set("ModLastPhone", "5551234");
    HublinkCore &l = open();
    EXPECT_FALSE(l.isHublinkConnected());
    EXPECT_EQ(l.getDescriptionString(), QStringLiteral("COM1 Remote Disconnect"));
    l.ConnectModem();
    EXPECT_EQ(comm->modemIndex, 2);
    EXPECT_EQ(comm->modemInitCommand, QStringLiteral("ATZ&F^M"));
    EXPECT_TRUE(comm->modemHangUpCommand.isEmpty()); // not stored: left alone
    EXPECT_EQ(comm->dialledNumber, QStringLiteral("5551234"));
    EXPECT_EQ(l.modemState(), HublinkCore::ModemConnected);
    EXPECT_EQ(ui.statusTexts, (QStringList{"Initializing Modem...", "Dialing 5551234..."}));
    EXPECT_FALSE(ui.statusOpen);
    EXPECT_EQ(l.getDescriptionString(), QStringLiteral("COM1 Remote Online"));

    // Carrier loss while connected: offline, disconnected, one message.
    comm->raiseCarrierChange(false);
    EXPECT_EQ(l.modemState(), HublinkCore::ModemDisconnected);
    EXPECT_TRUE(l.isComOffline());
    EXPECT_EQ(dialogs.lastText(), QStringLiteral("Modem Has gone Offline"));
}

TEST_F(LinkTest, modemFailuresAndCancels)
{
    set("ModemEnable", "TRUE");
    HublinkCore &l = open();
    l.ConnectModem();
    EXPECT_EQ(dialogs.lastText(), QStringLiteral("No Phone Number to Call!"));

    set("ModLastPhone", "100");
    comm->onDial = [](const QString &) { return QStringLiteral("BUSY"); };
    l.ConnectModem();
    EXPECT_EQ(dialogs.lastText(), QStringLiteral("Dialing 100 failed!"));
    EXPECT_EQ(l.modemState(), HublinkCore::ModemDisconnected);

    // Cancel during initialisation.
    comm->onInitModem = [&] {
        l.cancelModemStat();
        return true;
    };
    l.ConnectModem();
    EXPECT_EQ(dialogs.lastText(), QStringLiteral("Cannot Initialize the modem!"));
    EXPECT_EQ(comm->outputLines, QStringList{QString()}); // abortModem: a bare carriage return
    EXPECT_EQ(l.modemState(), HublinkCore::ModemDisconnected);

    // Cancel after a successful dial hangs the line up again.
    comm->onInitModem = nullptr;
    comm->onDial = [&](const QString &) {
        l.bolModemStatFlag = false;
        return QStringLiteral("CONNECTED");
    };
    const int hangUps = comm->hangUps;
    l.ConnectModem();
    EXPECT_EQ(comm->hangUps, hangUps + 1);
    EXPECT_EQ(l.modemState(), HublinkCore::ModemDisconnected);

    // Cancel in the connection book: nothing happens.
    ui.connect = false;
    comm->dialledNumber.clear();
    l.ConnectModem();
    EXPECT_TRUE(comm->dialledNumber.isEmpty());
}

TEST_F(LinkTest, carrierLossWhileDirectlyCabledDoesNothingAndHangupOnlyWhenConnected)
{
    HublinkCore &l = open();
    comm->raiseCarrierChange(false);
    EXPECT_EQ(dialogs.count(), 0);
    l.disconnectModem();
    EXPECT_EQ(comm->hangUps, 0);
    EXPECT_EQ(l.modemState(), HublinkCore::DirectCable);
}

// Guards against a vanished device going unreported until three commands
// had timed out, and against its port error outliving the next good open.
TEST_F(LinkTest, aDeviceThatVanishesIsAPortErrorAtOnceAndAReopenClearsIt)
{
    HublinkCore &l = open();
    std::vector<bool> offlineSeen;
    QObject::connect(&l, &HublinkCore::offlineChanged, [&](bool on) {
        // The window redraws from this signal: the state must already be down.
        EXPECT_FALSE(l.linkEnabled());
        offlineSeen.push_back(on);
    });
    comm->open = false;
    comm->openError = QStringLiteral("COM1: The device has gone away");
    comm->raiseCarrierChange(false);
    ASSERT_EQ(dialogs.count(), 1);
    EXPECT_EQ(dialogs.lastText(), QStringLiteral("Serial COM Port Error."));
    EXPECT_EQ(dialogs.shown().back().detail, comm->openError);
    EXPECT_TRUE(l.isComError());
    EXPECT_TRUE(l.isComOffline());
    EXPECT_EQ(offlineSeen, std::vector<bool>{true});
    float t = 0;
    const int before = int(comm->written.size());
    EXPECT_EQ(l.SendHublinkCmd(QStringLiteral("Y001"), t), QString());
    EXPECT_EQ(int(comm->written.size()), before);

    // A second carrier notice of the same loss says nothing more.
    comm->raiseCarrierChange(false);
    EXPECT_EQ(dialogs.count(), 1);

    comm->openError.clear();
    l.OpenLink();
    EXPECT_TRUE(comm->open);
    EXPECT_FALSE(l.isComError());
    EXPECT_FALSE(l.isComOffline());
    EXPECT_TRUE(l.openProblem().isEmpty());
}

TEST_F(LinkTest, commandWhileModemDisconnectedOffersTheConnectionBookFirst)
{
    set("ModemEnable", "TRUE");
    HublinkCore &l = open();
    ui.connect = false;
    EXPECT_EQ(send(QStringLiteral("Y001")), QString());
    EXPECT_TRUE(comm->written.isEmpty());
    set("ModLastPhone", "42");
    ui.connect = true;
    comm->responder = [](const QString &) { return QStringLiteral("G\r\n"); };
    EXPECT_EQ(send(QStringLiteral("Y001")), QStringLiteral("G"));
    EXPECT_EQ(l.modemState(), HublinkCore::ModemConnected);
}

TEST_F(LinkTest, closeLinkEmptiesQueuesAndClosesThePort)
{
    open();
    link->CloseLink();
    EXPECT_FALSE(comm->open);
    EXPECT_EQ(comm->handshaking, 0);
    EXPECT_GE(comm->outClears, 1);
}

// Guards against the use after free on exit during a dial: every wait of the
// link (connection book, InitModem, Dial, HangUp) counts as busy, nothing else
// is sent or dialled meanwhile, and a link released meanwhile goes only once
// its method has returned.
TEST_F(LinkTest, everyWaitOfTheLinkIsBusyAndTheLinkOutlivesItsOwnMethods)
{
    set("ModemEnable", "TRUE");
    set("ModLastPhone", "5551234");
    int books = 0;
    ui.onBook = [&] { ++books; };
    HublinkCore *core = &open();
    std::vector<bool> busyIn;
    bool released = false;
    ui.onBook = [&] {
        ++books;
        busyIn.push_back(core->isCPUBusy());
    };
    comm->onInitModem = [&] {
        busyIn.push_back(core->isCPUBusy());
        // Events that arrive while the modem initialises: a command, a second
        // dial, and the owner asking to unload the link.
        EXPECT_EQ(send(QStringLiteral("H001002")), QString());
        core->ConnectModem();
        core->whenIdle([&] {
            released = true;
            link.reset();
        });
        return true;
    };
    comm->onDial = [&](const QString &) {
        busyIn.push_back(core->isCPUBusy());
        return QString();
    };

    core->ConnectModem();
    EXPECT_EQ(busyIn, (std::vector<bool> { true, true, true }));
    EXPECT_EQ(books, 1) << "no second connection book over the running dial";
    EXPECT_TRUE(comm->written.isEmpty()) << "nothing sent during the dial";
    EXPECT_FALSE(released) << "not while its own method ran";
    ASSERT_TRUE(link);
    EXPECT_EQ(link->modemState(), HublinkCore::ModemConnected);
    EXPECT_FALSE(link->isCPUBusy());
    QCoreApplication::processEvents();
    EXPECT_TRUE(released);
    EXPECT_FALSE(link);
}

TEST_F(LinkTest, hangUpIsBusyAndARequestMadeMeanwhileWaitsForIt)
{
    set("ModemEnable", "TRUE");
    set("ModLastPhone", "42");
    HublinkCore &l = open();
    l.ConnectModem();
    ASSERT_EQ(l.modemState(), HublinkCore::ModemConnected);
    bool busyDuringHangUp = false;
    bool ranDuringHangUp = false;
    bool ran = false;
    comm->onHangUp = [&] {
        busyDuringHangUp = l.isCPUBusy();
        l.whenIdle([&] { ran = true; });
        ranDuringHangUp = ran;
    };
    l.disconnectModem();
    EXPECT_TRUE(busyDuringHangUp);
    EXPECT_FALSE(ranDuringHangUp);
    EXPECT_EQ(l.modemState(), HublinkCore::ModemDisconnected);
    EXPECT_TRUE(l.isComOffline());
    QCoreApplication::processEvents();
    EXPECT_TRUE(ran);
    bool immediately = false;
    l.whenIdle([&] { immediately = true; });
    EXPECT_TRUE(immediately) << "an idle link runs the request at once";
}

// Guards against the caption still reading Online while "No Response from
// Controller." is up: the state change is announced before the box opens.
TEST_F(LinkTest, offlineIsAnnouncedBeforeTheNoResponseBoxOpens)
{
    HublinkCore &l = open();
    comm->responder = [](const QString &) { return QString(); };
    QList<bool> announced;
    QObject::connect(&l, &HublinkCore::offlineChanged, [&](bool on) { announced << on; });
    bool offlineWhenShown = false;
    int announcedWhenShown = -1;
    dialogs.whileShown = [&](const ScriptedDialogs::Shown &) {
        offlineWhenShown = l.isComOffline();
        announcedWhenShown = static_cast<int>(announced.size());
    };
    for (int i = 0; i < 3; ++i)
        send(QStringLiteral("Y001"));
    ASSERT_EQ(dialogs.lastText(), QStringLiteral("No Response from Controller."));
    EXPECT_TRUE(offlineWhenShown);
    EXPECT_EQ(announcedWhenShown, 1);
    comm->responder = [](const QString &) { return answer(QStringLiteral("0010000000")); };
    for (int i = 0; i < 3; ++i)
        send(QStringLiteral("Y001"));
    EXPECT_EQ(announced, (QList<bool> { true, false }));
}

// The device's reason goes under the fixed text, not into it.
TEST_F(LinkTest, portOpenFailureKeepsTheFixedTextAndGivesTheReasonAsDetail)
{
    comm->canOpen = false;
    comm->openError = QStringLiteral("/dev/ttyS1: Permission denied (add the user to the dialout group)");
    set("CommPort", "2");
    open();
    ASSERT_EQ(dialogs.count(), 1);
    EXPECT_EQ(dialogs.lastText(), QStringLiteral("Serial COM Port Error.\nUnable to open COM2"));
    EXPECT_EQ(dialogs.shown().back().detail, comm->openError);
    EXPECT_EQ(link->openProblem(), comm->openError);
}
