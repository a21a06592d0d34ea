// The panel's main window: start-up, loading, timers, keys and menus.
#include "xelform.h"

#include "configr7x0.h"
#include "configreader.h"
#include "frmabout.h"
#include "frmpreset.h"
#include "helpwindow.h"
#include "programfolder.h"
#include "salvofiles.h"

#include <QAction>
#include <QCloseEvent>
#include <QComboBox>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace exel {

namespace {
const QString kConfigFileKey = QStringLiteral("ConfigFile");
const QString kPanelFilter = QStringLiteral("Data Files (*.DAT)|*.DAT|Config Files (*.CFG)|*.CFG|All files (*.*)|*.*");

// Stands in while no link window exists (before start-up and between a
// settings change and the link's reload): nothing is connected, nothing sent.
class NoLink : public Hublink {
public:
    QString SendHublinkCmd(const QString &, float &t) override
    {
        if (t <= 0)
            t = 2;
        return QString();
    }
    int CPUYCmd(int16_t, int16_t, std::vector<int16_t> &s, std::vector<bool> &e) override
    {
        s.assign(2, 0);
        e.assign(2, false);
        return 0;
    }
    std::vector<bool> CPUWCmd(int16_t) override { return std::vector<bool>(2, false); }
    QString CPUHCmd(int16_t, int16_t, int16_t, const std::vector<int16_t> &) override { return QString(); }
    QString CPULCmd(int16_t, int16_t) override { return QString(); }
    bool isComError() const override { return true; }
    bool isComOffline() const override { return true; }
    bool isCPUBusy() const override { return false; }
    bool isHublinkConnected() const override { return true; }
    QString getDescriptionString() const override { return QStringLiteral("No Link"); }
    void ConnectModem() override { }
    void disconnectModem() override { }
};
NoLink g_noLink;
} // namespace

XelForm::XelForm(PanelEnvironment env, QWidget *parent)
    : QMainWindow(parent)
    , m_env(std::move(env))
    , m_banks(m_model)
{
    setObjectName(QStringLiteral("XelForm"));
    m_timer1.setInterval(StatusPoller::kOnlineInterval);
    // Each tick re-arms Timer1 at its end (see Timer1_Timer).
    m_timer1.setSingleShot(true);
    m_timer2.setInterval(100);
    connect(&m_timer1, &QTimer::timeout, this, &XelForm::Timer1_Timer);
    connect(&m_timer2, &QTimer::timeout, this, &XelForm::Timer2_Timer);
    m_poller = std::make_unique<StatusPoller>(m_model, g_noLink);
    m_takes = std::make_unique<TakeAndLocks>(m_model, g_noLink, m_banks, this);
    buildWidgets();
    buildMenus();
}

XelForm::~XelForm()
{
    Form_Unload();
    delete imgLockPic;
}

Hublink &XelForm::link()
{
    return m_linkHost ? m_linkHost->link() : static_cast<Hublink &>(g_noLink);
}

void XelForm::openLink()
{
    m_linkHost = m_env.linkFactory ? m_env.linkFactory(this) : nullptr;
    m_model.setSimulator(m_linkHost && m_linkHost->simulator());
    if (m_linkHost)
        m_linkHost->setStateListener([this] { linkStateChanged(); });
    const bool enabled = m_poller && m_poller->timerEnabled();
    m_poller = std::make_unique<StatusPoller>(m_model, link());
    m_poller->setLocalLock(m_localLock);
    if (enabled)
        m_poller->TurnOnTimer();
    m_takes = std::make_unique<TakeAndLocks>(m_model, link(), m_banks, this);
    m_takes->setLocalLock(m_localLock);
}

void XelForm::closeLink()
{
    // The poller and the take logic hold the link: move them to the stand-in first.
    const bool enabled = m_poller && m_poller->timerEnabled();
    m_poller = std::make_unique<StatusPoller>(m_model, g_noLink);
    m_poller->setLocalLock(m_localLock);
    if (enabled)
        m_poller->TurnOnTimer();
    m_takes = std::make_unique<TakeAndLocks>(m_model, g_noLink, m_banks, this);
    m_takes->setLocalLock(m_localLock);
    // A link that is still inside a wait outlives this window (its host
    // unloads it once it returns): it must not call back into the window.
    if (m_linkHost)
        m_linkHost->setStateListener(nullptr);
    m_linkHost.reset();
}

void XelForm::Form_Load()
{
    if (m_env.showSplash)
        showSplash(kAppTitle);
    m_pendingFile.clear();
    m_pendingSystem = -1;
    m_pendingSource = -1;
    m_pendingLock = 0;
    m_defaultRequested = m_forceLoadRequested = m_salvoTakeRequested = m_hangupRequested = false;
    setWindowTitle(kAppTitle);

    openLink();
    if (link().isComError()) {
        closeSplash();
        mnuCfgSettings_Click();
    }

    SettingsStore &s = *m_env.settings;
    m_localLock = s.GetFlag(kAppName, kVarsSection, QStringLiteral("LocalLock"));
    m_poller->setLocalLock(m_localLock);
    m_takes->setLocalLock(m_localLock);
    action(QStringLiteral("mnuLocalLock"))->setChecked(m_localLock);
    m_autoLoad = s.GetFlag(kAppName, kVarsSection, QStringLiteral("AutoLoad")) && !m_model.simulator();
    action(QStringLiteral("mnuAutoLoad"))->setChecked(m_autoLoad);
    action(QStringLiteral("mnuForceLoad"))->setVisible(m_autoLoad);

    setRemoteMenu();
    SetSrcDstFormPosition();
    m_banks.BlankDisplay();
    m_model.ClearSystemTables();
    m_model.SizeStatusTables();

    bool loaded = false;
    if (m_autoLoad) {
        AutoConfigure();
        loaded = m_model.levelCount() > 0;
    } else {
        // The default system stands in only when no file is named or it
        // cannot be read: a file without records is an empty system.
        const QString file = s.GetSetting(kAppName, kVarsSection, kConfigFileKey);
        if (!file.isEmpty())
            loaded = LoadXelConfig(file);
    }
    if (!loaded)
        m_model.BuildDefaultSystem();
    load1stSystem();
    InitPresets();

    if (!link().isHublinkConnected())
        link().ConnectModem();
    m_started = true;
    TurnOnTimer();
    m_timer2.start();
    UpdateWindowCaption();
    linkStateChanged();
}

bool XelForm::LoadXelConfig(const QString &strFileName)
{
    const ConfigLoadResult r = LoadConfigFile(m_model, strFileName);
    m_banks.BlankDisplay();
    if (r.status == ConfigLoadResult::Status::OpenFailed) {
        m_env.dialogs->messageBox(
            configOpenErrorText(strFileName, r.error), MsgButtons::Ok, MsgIcon::Exclamation, kAppTitle);
    } else if (r.status == ConfigLoadResult::Status::BadLine) {
        // The box reads the fixed sentence; where and why are its detail.
        m_env.dialogs->messageBoxWithDetail(
            kInvalidConfigText, configBadLineDetail(r), MsgButtons::Ok, MsgIcon::None, kConfigLoadTitle);
    }
    load1stSystem();
    return r.status != ConfigLoadResult::Status::OpenFailed;
}

void XelForm::load1stSystem()
{
    const QStringList names = m_banks.load1stSystem();
    // A new system: the editor's table was sized for the old one.
    if (m_presetEditor)
        m_presetEditor->refreshSystem();
    m_painting = true;
    cmbSystem->clear();
    cmbSystem->addItems(names);
    if (!names.isEmpty())
        cmbSystem->setCurrentIndex(0);
    m_painting = false;
    paintAll();
}

void XelForm::LoadSystem(int intSysOffset)
{
    m_banks.LoadSystem(intSysOffset);
    if (m_presetEditor)
        m_presetEditor->refreshLists();
    paintAll();
}

void XelForm::cmbSystem_Click(int index)
{
    if (!m_painting && index >= 0)
        m_pendingSystem = index;
}

void XelForm::UpdateWindowCaption()
{
    const QString caption = kAppTitle + QStringLiteral(" - ") + m_model.configurationName() + QStringLiteral(": ")
        + link().getDescriptionString();
    if (windowTitle() != caption)
        setWindowTitle(caption);
}

bool XelForm::TurnOffTimer()
{
    const bool stopped = m_poller->TurnOffTimer();
    if (stopped)
        m_timer1.stop();
    return stopped;
}

void XelForm::TurnOnTimer()
{
    m_poller->TurnOnTimer();
    // Inside a tick the tick's own end re-arms Timer1; a tick must never start
    // within another one.
    if (m_started && !m_unloaded && !inTick())
        m_timer1.start();
}

void XelForm::Timer1_Timer()
{
    if (!m_poller->timerEnabled() || m_unloaded || inTick())
        return;
    // The tick runs with Timer1 stopped and re-arms it when it ends, so the
    // line rests a whole interval between two ticks however long this one
    // talked to the controller.
    m_timer1.stop();
    const StatusPoller::TickResult r = m_poller->Timer1_Timer(m_banks.destinationList(), m_banks.statusOffset());
    if (r.repaint)
        UpdateAllStatus();
    UpdateWindowCaption();
    linkStateChanged();
    if (!m_unloaded)
        m_timer1.start(r.interval);
    // A key pressed while this tick talked to the controller was left for
    // Timer2: serve it as soon as the tick is over rather than on the next
    // 100 ms beat, so a take never waits longer than the tick in flight.
    if (m_pendingSource != -1 || m_pendingLock != 0 || m_salvoTakeRequested || m_pendingBlock || m_closeRequested
        || m_reloadLinkRequested || m_callRemoteRequested)
        QTimer::singleShot(0, this, &XelForm::Timer2_Timer);
}

void XelForm::linkStateChanged()
{
    if (m_unloaded)
        return;
    UpdateWindowCaption();
    const bool stale = !m_model.simulator() && link().isComOffline();
    if (stale != m_statusStale) {
        m_statusStale = stale;
        paintAll();
    }
}

void XelForm::Timer2_Timer()
{
    // Never inside itself: a request it serves may hold a modal box up (a bad
    // configuration line, the auto-configuration's messages), and both its own
    // beat and the call Timer1 posts arrive while that box waits.
    if (m_unloaded || m_inTimer2 || link().isCPUBusy() || m_poller->inTick())
        return;
    struct InTimer2 {
        bool &flag;
        explicit InTimer2(bool &f)
            : flag(f)
        {
            flag = true;
        }
        ~InTimer2() { flag = false; }
    } inTimer2(m_inTimer2);
    if (m_closeRequested) {
        close();
        return;
    }
    if (m_reloadLinkRequested) {
        m_reloadLinkRequested = false;
        reloadLink();
    }
    if (m_pendingSystem != -1) {
        const int system = m_pendingSystem;
        m_pendingSystem = -1;
        LoadSystem(system);
    }
    if (m_forceLoadRequested) {
        m_forceLoadRequested = false;
        AutoConfigure();
    } else if (!m_pendingFile.isEmpty()) {
        const QString file = m_pendingFile;
        m_pendingFile.clear();
        LoadXelConfig(file);
        m_env.settings->SaveSetting(kAppName, kVarsSection, kConfigFileKey, file);
    } else if (m_defaultRequested) {
        m_defaultRequested = false;
        m_model.BuildDefaultSystem();
        load1stSystem();
    }
    if (m_pendingLock == 1) {
        m_pendingLock = 0;
        btnLock_Click();
    } else if (m_pendingLock == 2) {
        m_pendingLock = 0;
        btnUnlock_Click();
    }
    if (m_pendingSource != -1) {
        const int source = m_pendingSource;
        m_pendingSource = -1;
        btnSource_Click(source);
    }
    if (m_salvoTakeRequested) {
        m_salvoTakeRequested = false;
        btnTakePreset_Click();
    }
    if (m_pendingBlock) {
        const SalvoBlock b = std::move(*m_pendingBlock);
        m_pendingBlock.reset();
        takeSalvoBlock(b.table, b.firstRow, b.firstColumn, b.lastRow, b.lastColumn);
    }
    if (m_callRemoteRequested) {
        m_callRemoteRequested = false;
        mnuCallRemote_Click();
    }
    if (m_hangupRequested) {
        TurnOffTimer();
        link().disconnectModem();
        TurnOnTimer();
        m_hangupRequested = false;
    }
}

void XelForm::AutoConfigure()
{
    ConfigR7x0 auto7x0(
        link(), *m_env.dialogs, m_env.programFolder, [this](const QString &file) { LoadXelConfig(file); });
    auto7x0.AutoConfigure();
}

void XelForm::showTakeProblem(const QString &problem)
{
    if (!problem.isEmpty())
        m_env.dialogs->message(problem, MsgIcon::Exclamation, kAppTitle);
}

void XelForm::btnSource_Click(int Index)
{
    if (m_takes->btnSource_Click(Index) == KeyAction::Deferred) {
        m_pendingSource = Index;
        return;
    }
    paintAll();
    showTakeProblem(m_takes->problem());
}

void XelForm::btnLock_Click()
{
    if (m_takes->btnLock_Click() == KeyAction::Deferred) {
        m_pendingLock = 1;
        return;
    }
    paintAll();
    showTakeProblem(m_takes->problem());
}

void XelForm::btnUnlock_Click()
{
    if (m_takes->btnUnlock_Click() == KeyAction::Deferred) {
        m_pendingLock = 2;
        return;
    }
    paintAll();
    showTakeProblem(m_takes->problem());
}

void XelForm::btnTakePreset_Click()
{
    QString problem;
    if (FireSalvo(cmbPreset->currentText(), m_env.programFolder, m_model, link(), this, *m_env.dialogs, &problem)
        == KeyAction::Deferred) {
        m_salvoTakeRequested = true;
        return;
    }
    UpdateAllStatus();
    showTakeProblem(problem);
}

KeyAction XelForm::takeSalvoBlock(const SalvoTable &table, int firstRow, int firstColumn, int lastRow, int lastColumn)
{
    // The editor's buttons work while a status question waits for its answer;
    // the link would refuse the takes then, and the status rows would show
    // routes the router never got.
    if (link().isCPUBusy()) {
        m_pendingBlock = SalvoBlock { table, firstRow, firstColumn, lastRow, lastColumn };
        return KeyAction::Deferred;
    }
    TurnOffTimer();
    QString problem;
    TakeSalvoRows(table, firstRow, firstColumn, lastRow, lastColumn, m_model, link(), &problem);
    UpdateAllStatus();
    TurnOnTimer();
    showTakeProblem(problem);
    return KeyAction::Done;
}

void XelForm::btnPreset_Click()
{
    if (!m_presetEditor)
        m_presetEditor = new frmPreset(*this);
    // An editor already open holds the salvo being edited: bring it forward
    // as it is. A closed one opens afresh for the system loaded now.
    if (!m_presetEditor->isVisible())
        m_presetEditor->refreshSystem();
    m_presetEditor->show();
    m_presetEditor->raise();
    m_presetEditor->activateWindow();
}

void XelForm::InitPresets()
{
    const QString current = cmbPreset->currentText();
    cmbPreset->clear();
    for (const QString &name : listSalvoNames(m_env.programFolder))
        if (!name.isEmpty())
            cmbPreset->addItem(name);
    const int keep = cmbPreset->findText(current);
    if (keep >= 0)
        cmbPreset->setCurrentIndex(keep);
    btnTakePreset->setEnabled(cmbPreset->count() > 0);
}

void XelForm::setRemoteMenu()
{
    const bool on = m_env.settings->GetFlag(kAppName, kVarsSection, QStringLiteral("ModemEnable"));
    action(QStringLiteral("mnuCallRemote"))->setEnabled(on);
    action(QStringLiteral("mnuHangup"))->setEnabled(on);
}

void XelForm::mnuFileOpen_Click()
{
    FileDialogRequest req;
    req.title = QStringLiteral("Open");
    req.filter = kPanelFilter;
    req.hideReadOnly = true;
    req.folder = m_env.programFolder;
    const QString file = m_env.dialogs->openFileName(req);
    if (!file.isEmpty())
        m_pendingFile = file;
}

void XelForm::mnuAutoLoad_Click()
{
    QAction *autoLoad = action(QStringLiteral("mnuAutoLoad"));
    if (!m_autoLoad) {
        if (m_model.simulator()) {
            autoLoad->setChecked(false);
            m_env.dialogs->message(QStringLiteral("Simulator Mode does not allow Autoload feature."));
            return;
        }
        m_autoLoad = true;
        autoLoad->setChecked(true);
        action(QStringLiteral("mnuForceLoad"))->setVisible(true);
        m_env.settings->SaveSetting(kAppName, kVarsSection, QStringLiteral("Autoload"), QStringLiteral("TRUE"));
        m_forceLoadRequested = true;
    } else {
        m_autoLoad = false;
        autoLoad->setChecked(false);
        action(QStringLiteral("mnuForceLoad"))->setVisible(false);
        m_env.settings->SaveSetting(kAppName, kVarsSection, QStringLiteral("Autoload"), QStringLiteral("FALSE"));
    }
}

void XelForm::mnuLocalLock_Click()
{
    m_localLock = !m_localLock;
    action(QStringLiteral("mnuLocalLock"))->setChecked(m_localLock);
    m_poller->setLocalLock(m_localLock);
    m_takes->setLocalLock(m_localLock);
    m_env.settings->SaveFlag(kAppName, kVarsSection, QStringLiteral("LocalLock"), m_localLock);
}

void XelForm::mnuCfgSettings_Click()
{
    if (!m_env.settingsDialog || !m_env.settingsDialog(this))
        return;
    // The menu is served while a command may wait for its answer inside the
    // link: the link window must not be replaced under it. Timer2 reloads it
    // once the link is idle.
    if (!linkIdle()) {
        m_reloadLinkRequested = true;
        return;
    }
    reloadLink();
}

void XelForm::reloadLink()
{
    TurnOffTimer();
    closeLink();
    openLink();
    if (!link().isHublinkConnected())
        link().ConnectModem();
    setRemoteMenu();
    TurnOnTimer();
    UpdateWindowCaption();
}

void XelForm::mnuCallRemote_Click()
{
    // Dialling writes to the port: never in the middle of another command.
    if (!linkIdle()) {
        m_callRemoteRequested = true;
        return;
    }
    TurnOffTimer();
    link().ConnectModem();
    TurnOnTimer();
}

void XelForm::mnuContents_Click()
{
    HelpWindow::showHelp(shippedFile(QStringLiteral("VelmorXel.hlp"), m_env.programFolder));
}

void XelForm::mnuAbout_Click()
{
    frmAbout about(this);
    about.exec();
}

void XelForm::mnuSrcDstSwap_Click()
{
    SettingsStore &s = *m_env.settings;
    const SwapDecision d = exel::mnuSrcDstSwap_Click(
        s.GetSetting(kAppName, kVarsSection, QStringLiteral("flipSrcDst"), QStringLiteral("FALSE")),
        destinationPanelAbove());
    if (d.flip)
        flipSrcDst();
    if (!d.store.isEmpty())
        s.SaveSetting(kAppName, kVarsSection, QStringLiteral("flipSrcDst"), d.store);
}

void XelForm::SetSrcDstFormPosition()
{
    const SwapDecision d = exel::SetSrcDstFormPosition(
        m_env.settings->GetSetting(kAppName, kVarsSection, QStringLiteral("flipSrcDst"), QStringLiteral("FALSE")),
        destinationPanelAbove());
    if (d.flip)
        flipSrcDst();
}

bool XelForm::destinationPanelAbove() const
{
    return m_bankColumn->indexOf(framDest) < m_bankColumn->indexOf(framSource);
}

void XelForm::flipSrcDst()
{
    const int dest = m_bankColumn->indexOf(framDest);
    const int src = m_bankColumn->indexOf(framSource);
    m_bankColumn->removeWidget(framDest);
    m_bankColumn->removeWidget(framSource);
    if (dest < src) {
        m_bankColumn->insertWidget(dest, framSource, 1);
        m_bankColumn->insertWidget(src, framDest, 1);
    } else {
        m_bankColumn->insertWidget(src, framDest, 1);
        m_bankColumn->insertWidget(dest, framSource, 1);
    }
}

void XelForm::closeEvent(QCloseEvent *event)
{
    // Exit chosen while a command waits for its answer (the wait lets window
    // events through) must not unload the link under that wait: the window
    // closes from Timer2 as soon as the link is idle.
    if (!m_unloaded && !linkIdle()) {
        m_closeRequested = true;
        event->ignore();
        return;
    }
    Form_Unload();
    event->accept();
}

void XelForm::Form_Unload()
{
    if (m_unloaded)
        return;
    m_unloaded = true;
    HelpWindow::closeHelp();
    TurnOffTimer();
    m_timer1.stop();
    m_timer2.stop();
    if (m_presetEditor)
        m_presetEditor->close();
    closeLink();
}

} // namespace exel
