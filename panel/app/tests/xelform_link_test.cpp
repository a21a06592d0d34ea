// The main window over the real link logic (a stand-in control answers): its
// guards against unloading or reusing the link while one of the link's waits
// (a command, a dial, a hang-up) lets window events run, and what it shows
// when the link goes offline.
#include "../../link/tests/fakecomm.h"
#include "hublinkcore.h"
#include "hublinkprotocol.h"
#include "panelfixture.h"

#include <QPushButton>
#include <QRegularExpression>

#include <gtest/gtest.h>

using namespace exel;
using exel::test::FakeComm;

namespace {

struct BookUi : HublinkUi {
    bool connect = true;
    int books = 0;
    bool showConnectionBook() override
    {
        ++books;
        return connect;
    }
    QStringList fillModemCombo(QObject *) override { return { QStringLiteral("Hayes Compatible") }; }
    void showModemStatus(const QString &) override { }
    void setModemStatus(const QString &) override { }
    void closeModemStatus() override { }
};

// Owns one link over the shared control. Deleting it while one of the link's
// methods runs is the fault these tests guard against: it is recorded (and
// under the sanitizers it is the use after free itself).
class CoreLinkHost : public LinkHost {
public:
    CoreLinkHost(FakeComm &comm, SettingsStore &settings, Dialogs &dialogs, Clock &clock, HublinkUi &ui,
        const int &engineWaits, bool &deletedInWait)
        : m_core(&comm, settings, dialogs, clock, &ui)
        , m_engineWaits(engineWaits)
        , m_deletedInWait(deletedInWait)
    {
        m_core.OpenLink();
    }
    ~CoreLinkHost() override
    {
        if (m_engineWaits > 0 || m_core.isCPUBusy())
            m_deletedInWait = true;
        m_core.CloseLink();
    }
    Hublink &link() override { return m_core; }
    bool simulator() const override { return m_core.simulator(); }
    void setStateListener(std::function<void()> listener) override
    {
        QObject::disconnect(m_listening);
        if (listener)
            m_listening = QObject::connect(
                &m_core, &HublinkCore::offlineChanged, [listener = std::move(listener)](bool) { listener(); });
    }
    HublinkCore &core() { return m_core; }

private:
    HublinkCore m_core;
    const int &m_engineWaits;
    bool &m_deletedInWait;
    QMetaObject::Connection m_listening;
};

struct CorePanel : test::PanelUnderTest {
    FakeClock clock;
    FakeComm comm { clock };
    BookUi ui;
    int engineWaits = 0; // inside one of the control's waits (InitModem, Dial, HangUp)
    bool deletedInWait = false;
    CoreLinkHost *current = nullptr;

    CorePanel()
        : test::PanelUnderTest(nullptr)
    {
        comm.responder = [](const QString &line) {
            return line.startsWith(QLatin1Char('H')) ? QStringLiteral("G\r\n") : QString();
        };
    }
    PanelEnvironment env()
    {
        PanelEnvironment e = environment();
        e.linkFactory = [this](QWidget *) -> std::unique_ptr<LinkHost> {
            ++linkLoads;
            auto host = std::make_unique<CoreLinkHost>(comm, *settings, dialogs, clock, ui, engineWaits, deletedInWait);
            current = host.get();
            return host;
        };
        return e;
    }
    XelForm &startShown()
    {
        form = std::make_unique<XelForm>(env());
        form->show();
        form->Form_Load();
        return *form;
    }
    void modem(const char *phone = "5551234")
    {
        setting(QStringLiteral("ModemEnable"), QStringLiteral("TRUE"));
        setting(QStringLiteral("ModLastPhone"), QString::fromLatin1(phone));
    }
    // Runs what arrives while the control waits inside InitModem.
    void duringInit(std::function<void()> events)
    {
        comm.onInitModem = [this, events = std::move(events)] {
            comm.onInitModem = nullptr;
            ++engineWaits;
            events();
            --engineWaits;
            return true;
        };
    }
    QStringList takesWritten() const { return comm.written.filter(QRegularExpression(QStringLiteral("^H"))); }
};

} // namespace

// Guards against the crash on exit during the start-up dial, and against the
// process left running without a window: the close waits for the dial and
// then happens.
TEST(XelFormLink, closeDuringTheStartUpDialClosesOnceTheDialHasReturned)
{
    CorePanel p;
    p.modem();
    bool visibleInDial = false;
    bool busyInDial = false;
    p.duringInit([&] {
        busyInDial = p.form->link().isCPUBusy();
        p.form->close();
        visibleInDial = p.form->isVisible();
    });
    XelForm &f = p.startShown();
    EXPECT_TRUE(busyInDial);
    EXPECT_TRUE(visibleInDial);
    EXPECT_FALSE(p.deletedInWait);
    EXPECT_TRUE(f.closeRequested());
    EXPECT_EQ(p.current->core().modemState(), HublinkCore::ModemConnected);
    EXPECT_TRUE(f.isVisible());
    f.Timer2_Timer();
    EXPECT_FALSE(f.isVisible()) << "the window closes once the link is idle";
    EXPECT_FALSE(p.deletedInWait);
    EXPECT_EQ(p.comm.hangUps, 1) << "the link window's unload hung the line up";
}

// Guards against a take sent, and a second connection book opened, over a
// running dial; new settings and a second Call Remote wait for it too.
TEST(XelFormLink, keysMenusAndSettingsDuringCallRemoteWaitForTheDial)
{
    CorePanel p;
    p.modem();
    p.ui.connect = false; // the start-up book is cancelled
    XelForm &f = p.startShown();
    ASSERT_EQ(p.ui.books, 1);
    ASSERT_FALSE(f.link().isHublinkConnected());
    p.ui.connect = true;
    p.settingsDialogAnswer = true;
    QStringList writtenInDial;
    p.duringInit([&] {
        f.destinationKey(0)->click();
        f.btnSource_Click(1);
        f.mnuCallRemote_Click();
        f.mnuCfgSettings_Click();
        writtenInDial = p.comm.written;
    });
    f.mnuCallRemote_Click();
    EXPECT_TRUE(writtenInDial.isEmpty()) << writtenInDial.join('|').toStdString();
    EXPECT_EQ(p.ui.books, 2) << "no second connection book over the running dial";
    EXPECT_EQ(p.linkLoads, 1) << "the link is not reloaded under its own dial";
    EXPECT_FALSE(p.deletedInWait);
    EXPECT_EQ(f.pendingSource(), 1);
    EXPECT_TRUE(f.link().isHublinkConnected());

    // Once idle, the requests are served in their order: the reload (which
    // dials the new link), the take, then the second Call Remote.
    for (int i = 0; i < 3; ++i)
        f.Timer2_Timer();
    EXPECT_EQ(p.linkLoads, 2);
    EXPECT_FALSE(p.deletedInWait);
    EXPECT_EQ(f.pendingSource(), -1);
    ASSERT_EQ(p.takesWritten().size(), 1);
    EXPECT_TRUE(p.takesWritten().front().startsWith(QStringLiteral("H001002")));
}

// Guards against the write into a freed link after a hang-up: Exit and new
// settings chosen during Timer2's hang-up wait for it.
TEST(XelFormLink, exitAndSettingsDuringTheHangUpWaitForIt)
{
    CorePanel p;
    p.modem();
    XelForm &f = p.startShown();
    ASSERT_EQ(p.current->core().modemState(), HublinkCore::ModemConnected);
    p.settingsDialogAnswer = true;
    bool visibleInHangUp = false;
    p.comm.onHangUp = [&] {
        p.comm.onHangUp = nullptr;
        ++p.engineWaits;
        f.mnuCfgSettings_Click();
        f.close();
        visibleInHangUp = f.isVisible();
        --p.engineWaits;
    };
    f.mnuHangup_Click();
    f.Timer2_Timer();
    EXPECT_TRUE(visibleInHangUp);
    EXPECT_FALSE(p.deletedInWait);
    EXPECT_EQ(p.current->core().modemState(), HublinkCore::ModemDisconnected);
    EXPECT_EQ(p.linkLoads, 1);
    f.Timer2_Timer();
    EXPECT_FALSE(f.isVisible());
    EXPECT_EQ(p.linkLoads, 1) << "closing first: no reload for a window that is going";
    EXPECT_FALSE(p.deletedInWait);
}

// Guards against the caption reading Online while "No Response from
// Controller." is up: the window shows Offline, and greys its rows, first.
TEST(XelFormLink, captionAndRowsShowOfflineBeforeTheNoResponseBox)
{
    CorePanel p;
    XelForm &f = p.startShown();
    ASSERT_EQ(f.windowTitle(), QStringLiteral("32-Bit Xelvard - <default>: COM1 Online"));
    QString titleWhenShown;
    bool staleWhenShown = false;
    p.dialogs.whileShown = [&](const ScriptedDialogs::Shown &s) {
        if (s.text == QLatin1String("No Response from Controller.")) {
            titleWhenShown = f.windowTitle();
            staleWhenShown = f.statusStale();
        }
    };
    f.Timer1_Timer(); // three silent questions in the tick's row polls
    ASSERT_EQ(p.dialogs.lastText(), QStringLiteral("No Response from Controller."));
    EXPECT_EQ(titleWhenShown, QStringLiteral("32-Bit Xelvard - <default>: COM1 Offline"));
    EXPECT_TRUE(staleWhenShown);
    EXPECT_EQ(f.timer1Interval(), 2000);
}
