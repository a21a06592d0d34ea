// The panel's main window: key banks, status rows, salvo panel, menus and
// the two timers that drive everything that talks to the controller.
#pragma once

#include "dialogs.h"
#include "hublink.h"
#include "keybanks.h"
#include "salvofiles.h"
#include "settingsstore.h"
#include "statandconfig.h"
#include "statuspoller.h"
#include "takeandlocks.h"

#include <QMainWindow>
#include <QTimer>

#include <array>
#include <functional>
#include <memory>
#include <optional>

class QAction;
class QComboBox;
class QFrame;
class QGroupBox;
class QLabel;
class QPushButton;
class QRadioButton;
class QScrollBar;
class QVBoxLayout;

namespace exel {

class ClickLabel;
class frmPreset;

// What the window needs of its link window: the link, and whether it runs
// in simulator mode. The program's host is frmHublink; tests use a fake.
class LinkHost {
public:
    virtual ~LinkHost() = default;
    virtual Hublink &link() = 0;
    virtual bool simulator() const = 0;
    // Called whenever the link's state changes between two window events (it
    // went offline, or came back): the window shows it at once rather than on
    // its next tick. A host without such notice leaves it to the ticks.
    virtual void setStateListener(std::function<void()> listener) { (void)listener; }
};
using LinkFactory = std::function<std::unique_ptr<LinkHost>(QWidget *parent)>;

// Opens the communication settings dialog modally; true when OK stored new settings.
using SettingsDialogRunner = std::function<bool(QWidget *parent)>;

struct PanelEnvironment {
    SettingsStore *settings = nullptr;
    Dialogs *dialogs = nullptr;
    QString programFolder;
    LinkFactory linkFactory;
    SettingsDialogRunner settingsDialog;
    bool showSplash = true;
};

class XelForm : public QMainWindow, public PollingGate {
    Q_OBJECT
public:
    explicit XelForm(PanelEnvironment env, QWidget *parent = nullptr);
    ~XelForm() override;

    static inline const QString kAppTitle = QStringLiteral("32-Bit Xelvard");

    // ---- start-up, loading, name sets
    void Form_Load();
    // True when the file could be read (even when a bad line stopped it, or
    // it held no records); false when it could not be opened or read.
    bool LoadXelConfig(const QString &strFileName);
    void load1stSystem();
    void LoadSystem(int intSysOffset);
    void cmbSystem_Click(int index);
    void setRemoteMenu();
    void InitPresets();

    // ---- timers
    bool TurnOffTimer() override;
    void TurnOnTimer() override;
    // TurnOffTimer as the design writes it: the answer through the out-argument.
    void TurnOffTimer(bool &stopped) { stopped = TurnOffTimer(); }

    // ---- keys (the window's handlers)
    void btnSource_Click(int Index);
    void btnLock_Click();
    void btnUnlock_Click();
    void btnTakePreset_Click();
    void btnPreset_Click();
    // The salvo editor's Take All / Take Selected: the routes of a block of
    // its table, deferred to Timer2 while the link is busy.
    KeyAction takeSalvoBlock(const SalvoTable &table, int firstRow, int firstColumn, int lastRow, int lastColumn);

    // ---- menus
    void mnuFileOpen_Click();
    void mnuFileDefault_Click() { m_defaultRequested = true; }
    void mnuAutoLoad_Click();
    void mnuForceLoad_Click() { m_forceLoadRequested = true; }
    void mnuSrcDstSwap_Click();
    void mnuLocalLock_Click();
    void mnuCfgSettings_Click();
    void mnuCallRemote_Click();
    void mnuHangup_Click() { m_hangupRequested = true; }
    void mnuContents_Click();
    void mnuAbout_Click();

    // ---- state for tests and the salvo editor
    StatandConfig &model() { return m_model; }
    KeyBanks &banks() { return m_banks; }
    Hublink &link();
    StatusPoller &poller() { return *m_poller; }
    bool inTick() const { return m_poller && m_poller->inTick(); }
    int timer1Interval() const { return m_timer1.interval(); }
    bool timer1Active() const { return m_poller && m_poller->timerEnabled(); }
    // Whether Timer1's next tick is armed (a tick re-arms it when it ends).
    bool timer1Armed() const { return m_timer1.isActive(); }
    bool inTimer2() const { return m_inTimer2; }
    // The status rows hold the last known state: the link is offline.
    bool statusStale() const { return m_statusStale; }
    bool timer2Active() const { return m_timer2.isActive(); }
    bool localLock() const { return m_localLock; }
    bool autoLoad() const { return m_autoLoad; }
    bool destinationPanelAbove() const;
    QString programFolder() const { return m_env.programFolder; }
    Dialogs &dialogs() { return *m_env.dialogs; }
    QComboBox *systemCombo() const { return cmbSystem; }
    QComboBox *presetCombo() const { return cmbPreset; }
    QPushButton *destinationKey(int i) const { return btnDestination[static_cast<size_t>(i)]; }
    QPushButton *sourceKey(int i) const { return btnSource[static_cast<size_t>(i)]; }
    QPushButton *levelKey(int i) const { return btnLevel[static_cast<size_t>(i)]; }
    QLabel *statusRow(int i) const;
    QLabel *statusSource(int i) const;
    QAction *action(const QString &name) const;

    // Pending requests (Timer2 serves them).
    int pendingSystem() const { return m_pendingSystem; }
    int pendingSource() const { return m_pendingSource; }
    int pendingLock() const { return m_pendingLock; }
    bool salvoTakeRequested() const { return m_salvoTakeRequested; }
    bool closeRequested() const { return m_closeRequested; }
    void requestFile(const QString &path) { m_pendingFile = path; }

    // Redraws every key, bar and status row from the key-bank state.
    void paintAll();
    void UpdateAllStatus();

public slots:
    void Timer1_Timer();
    void Timer2_Timer();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void buildWidgets();
    void buildMenus();
    void openLink();
    void closeLink();
    void AutoConfigure();
    void UpdateWindowCaption();
    void flipSrcDst();
    void SetSrcDstFormPosition();
    void Form_Unload();
    void paintKey(QPushButton *button, const KeyState &state, bool lockColour);
    void paintScroll(QScrollBar *bar, const ScrollState &state);
    void afterBankClick();
    void reloadLink();
    void linkStateChanged();
    void showTakeProblem(const QString &problem);
    bool linkIdle() { return !link().isCPUBusy() && !inTick(); }

    PanelEnvironment m_env;
    StatandConfig m_model;
    KeyBanks m_banks;
    std::unique_ptr<LinkHost> m_linkHost;
    std::unique_ptr<StatusPoller> m_poller;
    std::unique_ptr<TakeAndLocks> m_takes;
    QTimer m_timer1;
    QTimer m_timer2;
    bool m_unloaded = false;
    bool m_painting = false;
    bool m_started = false; // Form_Load has started the timers
    bool m_inTimer2 = false;
    bool m_statusStale = false;

    // Requests left by keys and menus for Timer2.
    int m_pendingSystem = -1;
    QString m_pendingFile;
    bool m_defaultRequested = false;
    bool m_forceLoadRequested = false;
    int m_pendingLock = 0;
    int m_pendingSource = -1;
    bool m_salvoTakeRequested = false;
    bool m_hangupRequested = false;
    // Waiting for the link to fall idle: the window's close, the link
    // window's reload after new settings, a dial, and a take from the salvo
    // editor.
    bool m_closeRequested = false;
    bool m_reloadLinkRequested = false;
    bool m_callRemoteRequested = false;
    struct SalvoBlock {
        SalvoTable table;
        int firstRow = 0, firstColumn = 0, lastRow = -1, lastColumn = -1;
    };
    std::optional<SalvoBlock> m_pendingBlock;

    bool m_localLock = false;
    bool m_autoLoad = false;

    // Widgets, under the design's names.
    QFrame *framMainPanel = nullptr;
    QGroupBox *framSource = nullptr;
    QGroupBox *framDest = nullptr;
    QVBoxLayout *m_bankColumn = nullptr;
    QComboBox *cmbSystem = nullptr;
    std::array<QPushButton *, KeyBanks::kDestKeys> btnDestination {};
    std::array<QPushButton *, KeyBanks::kSourceKeys> btnSource {};
    std::array<QPushButton *, KeyBanks::kLevelKeys> btnLevel {};
    QScrollBar *scrlDestination = nullptr;
    QScrollBar *scrlSource = nullptr;
    QScrollBar *scrlLevel = nullptr;
    QScrollBar *scrlDestStatus = nullptr;
    QPushButton *btnSelectAll = nullptr;
    QPushButton *btnClearAll = nullptr;
    QRadioButton *btnGang = nullptr;
    QRadioButton *btnSingle = nullptr;
    QPushButton *btnLock = nullptr;
    QPushButton *btnUnlock = nullptr;
    std::array<ClickLabel *, KeyBanks::kStatusRows> LabelDstStatus {};
    std::array<QLabel *, KeyBanks::kStatusRows * KeyBanks::kStatusColumns> LabelSrcStatus {};
    std::array<QLabel *, KeyBanks::kStatusColumns> m_statusHeader {};
    std::array<QLabel *, KeyBanks::kStatusRows> m_lockPicture {};
    QGroupBox *m_statusPanel = nullptr;
    QComboBox *cmbPreset = nullptr;
    QPushButton *btnTakePreset = nullptr;
    QPushButton *btnPreset = nullptr;
    QPixmap *imgLockPic = nullptr;
    frmPreset *m_presetEditor = nullptr;
    QMap<QString, QAction *> m_actions;
};

} // namespace exel
