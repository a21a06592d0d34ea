// The controller link: opens the port (or the simulator, or a dial-up modem),
// sends controller commands and waits for their answers, counts silent
// time-outs into the offline state, and keeps the modem connection state.
// It drives its comm control only by member name, as any automation host does.
#pragma once

#include "clock.h"
#include "dialogs.h"
#include "errorinfo.h"
#include "hublink.h"
#include "hublinkprotocol.h"
#include "settingsstore.h"

#include <QObject>
#include <QPointer>
#include <QStringList>

#include <functional>
#include <vector>

namespace exel {

// The windows the link needs while connecting a modem: the connection book,
// the hidden modem combo and the modem status dialog. The link window
// implements it with real windows; tests script it.
class HublinkUi {
public:
    virtual ~HublinkUi() = default;
    // Shows the connection book modally; true when the operator chose Connect.
    virtual bool showConnectionBook() = 0;
    // Fills the hidden modem combo through the control's FillModemCombo and
    // returns its item texts in order.
    virtual QStringList fillModemCombo(QObject *comm) = 0;
    // The modeless modem status dialog with its status line.
    virtual void showModemStatus(const QString &text) = 0;
    virtual void setModemStatus(const QString &text) = 0;
    virtual void closeModemStatus() = 0;
};

class HublinkCore : public QObject, public Hublink {
    Q_OBJECT
public:
    enum ModemState : int16_t { DirectCable = 0, ModemConnected = 1, ModemDisconnected = 2 };
    static constexpr int kSimulatorPort = 5;
    static inline const QString kPortSettings = QStringLiteral("9600,N,8,2");

    // comm: the comm control, driven by member name (not owned). The link
    // follows its CarrierChanged() signal.
    HublinkCore(QObject *comm, SettingsStore &settings, Dialogs &dialogs, Clock &clock, HublinkUi *ui = nullptr,
                QObject *parent = nullptr);
    ~HublinkCore() override;

    // Run when the link window loads and unloads.
    void OpenLink();
    void CloseLink();

    // Hublink
    QString SendHublinkCmd(const QString &strCmd, float &sglTimeout) override;
    int CPUYCmd(int16_t intID, int16_t intDst, std::vector<int16_t> &intSrc, std::vector<bool> &bolErr) override;
    std::vector<bool> CPUWCmd(int16_t intID) override;
    QString CPUHCmd(int16_t intID, int16_t intNumLevs, int16_t intDst, const std::vector<int16_t> &intSrc) override;
    QString CPULCmd(int16_t intID, int16_t intDst) override;
    bool isComError() const override { return m_portError; }
    bool isComOffline() const override { return m_offline; }
    // True while any method of the link waits: for an answer, or inside the
    // engine's modem initialisation, dial or hang-up, or the connection book.
    // Those waits let window events run; callers must not start another
    // command, dial or settings change then, nor delete the link.
    bool isCPUBusy() const override { return m_busyDepth > 0; }
    bool isHublinkConnected() const override { return m_modemState != ModemDisconnected; }
    QString getDescriptionString() const override;
    void ConnectModem() override;
    void disconnectModem() override;

    // Interrupts a dial in progress: a bare carriage return makes the modem give up.
    void abortModem();
    // The Cancel button of the modem status dialog.
    void cancelModemStat();
    // Fills a list widget with the modem names through the control.
    void LoadModemData(QObject *lstTarget);

    // Runs task once no method of the link is on the stack: at once when the
    // link is idle, otherwise from the event loop after the outermost call has
    // returned. The task may delete the link (its owner's deferred unload).
    void whenIdle(std::function<void()> task);

    // Commands that went unanswered since the last good answer: their answers
    // may still arrive while a later question waits.
    const QStringList &unansweredCommands() const { return m_unanswered; }

    // True while a modem dial may proceed; cleared by the modem status dialog's Cancel.
    bool bolModemStatFlag = false;

    // The connect-requested flag the connection book sets (Connect) or clears (Cancel).
    static bool connectRequested;

    int16_t portNumber() const { return m_port; }
    bool linkEnabled() const { return m_linkEnabled; }
    int16_t modemState() const { return m_modemState; }
    int16_t noResponseCount() const { return m_noResponse; }
    bool simulator() const { return m_simulator; }
    QObject *comm() const { return m_comm; }
    // Why the port could not be opened ("" when it opened or was never tried).
    QString openProblem() const { return m_openProblem; }

signals:
    // The simulator flag as the link decided it at open.
    void simulatorChanged(bool on);
    // A command line went out (for traces and tests).
    void commandSent(const QString &line);
    // The offline flag changed. Emitted before the "No Response from
    // Controller." box opens, so a window can show the state first.
    void offlineChanged(bool offline);

public slots:
    void comHublink_CarrierChanged();

private slots:
    void onRuntimeError(int number, const QString &description);
    void runIdleTasks();

private:
    class BusyScope;
    friend class BusyScope;

    // Member access by name. A run-time error the control reports while the
    // member runs is returned (number 0: none).
    ErrorInfo setMember(const char *name, const QVariant &value);
    QVariant getMember(const char *name, ErrorInfo *error = nullptr);
    void portError(const ErrorInfo &error);
    // Why the control's port is not open, as the control words it ("" when it cannot say).
    QString controlOpenError();
    void waitForInput(int64_t ms);
    void setOffline(bool on);
    void dialModem(const BusyScope &busy);
    bool lateAnswer(const QString &command, const HublinkAnswer &answer) const;

    QPointer<QObject> m_comm;
    SettingsStore &m_settings;
    Dialogs &m_dialogs;
    Clock &m_clock;
    HublinkUi *m_ui;

    int16_t m_port = 1;
    bool m_linkEnabled = false;
    int16_t m_modemState = DirectCable;
    int16_t m_noResponse = 0;
    bool m_offline = false;
    bool m_portError = false;
    int m_busyDepth = 0;
    bool m_connecting = false;
    bool m_simulator = false;
    QStringList m_unanswered;
    std::vector<std::function<void()>> m_idleTasks;
    ErrorInfo m_lastRuntimeError;
    QString m_openProblem;
};

} // namespace exel
