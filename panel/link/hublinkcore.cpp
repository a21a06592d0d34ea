// The controller link over a comm control driven by member name.
#include "hublinkcore.h"

#include "hublinkprotocol.h"
#include "numberrules.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>
#include <QVariant>

#include <algorithm>
#include <utility>

namespace exel {

bool HublinkCore::connectRequested = false;

static_assert(kHublinkMaxWireNumberOnLink == kHublinkMaxWireNumber, "the panel's logic and the protocol agree");

namespace {
constexpr int kNoResponseLimit = 3;
// Unanswered questions remembered for the late-answer check; the controller
// answers in order, so only the last few can still be answered.
constexpr qsizetype kMaxUnanswered = 4;
// Longest single pause of the wait loop; the control's own wait returns as
// soon as input arrives, so this only bounds how stale the clock reading gets.
constexpr int64_t kWaitSliceMs = 50;
} // namespace

HublinkCore::HublinkCore(QObject *comm, SettingsStore &settings, Dialogs &dialogs, Clock &clock, HublinkUi *ui,
                         QObject *parent)
    : QObject(parent)
    , m_comm(comm)
    , m_settings(settings)
    , m_dialogs(dialogs)
    , m_clock(clock)
    , m_ui(ui)
{
    if (m_comm) {
        const QMetaObject *mo = m_comm->metaObject();
        if (mo->indexOfSignal("CarrierChanged()") >= 0)
            connect(m_comm, SIGNAL(CarrierChanged()), this, SLOT(comHublink_CarrierChanged()));
        if (mo->indexOfSignal("RuntimeError(int,QString)") >= 0)
            connect(m_comm, SIGNAL(RuntimeError(int,QString)), this, SLOT(onRuntimeError(int,QString)));
    }
}

// Marks the link busy for the lifetime of one of its methods. Every wait of
// the link lets window events run; the busy state is what keeps those events
// from starting another command, a dial or an unload of the link meanwhile.
class HublinkCore::BusyScope {
public:
    explicit BusyScope(HublinkCore &core)
        : m_core(&core)
    {
        ++core.m_busyDepth;
    }
    ~BusyScope()
    {
        // The link may have been deleted by an owner that did not wait for it;
        // then there is nothing left to mark.
        if (!m_core)
            return;
        // The tasks run from the event loop, once this method has returned;
        // they are posted to the application, not to the link, since a task
        // may delete the link.
        if (--m_core->m_busyDepth == 0 && !m_core->m_idleTasks.empty())
            QMetaObject::invokeMethod(
                QCoreApplication::instance(),
                [core = m_core] {
                    if (core)
                        core->runIdleTasks();
                },
                Qt::QueuedConnection);
    }
    BusyScope(const BusyScope &) = delete;
    BusyScope &operator=(const BusyScope &) = delete;
    // False once the link was deleted during a wait: the caller must return
    // at once without touching it.
    bool alive() const { return !m_core.isNull(); }

private:
    QPointer<HublinkCore> m_core;
};

HublinkCore::~HublinkCore() = default;

void HublinkCore::whenIdle(std::function<void()> task)
{
    if (!task)
        return;
    if (m_busyDepth == 0) {
        task();
        return;
    }
    m_idleTasks.push_back(std::move(task));
}

void HublinkCore::runIdleTasks()
{
    // Busy again before the queued call came: the end of that call queues it anew.
    if (m_busyDepth > 0 || m_idleTasks.empty())
        return;
    // A task may delete the link: nothing of it is touched after the first one runs.
    const std::vector<std::function<void()>> tasks = std::exchange(m_idleTasks, {});
    for (const auto &task : tasks)
        task();
}

void HublinkCore::setOffline(bool on)
{
    if (m_offline == on)
        return;
    m_offline = on;
    emit offlineChanged(on);
}

void HublinkCore::onRuntimeError(int number, const QString &description)
{
    m_lastRuntimeError = ErrorInfo{number, description};
}

ErrorInfo HublinkCore::setMember(const char *name, const QVariant &value)
{
    m_lastRuntimeError = ErrorInfo{};
    if (!m_comm)
        return ErrorInfo{91, QStringLiteral("Object variable or With block variable not set")};
    if (!m_comm->setProperty(name, value) && m_comm->metaObject()->indexOfProperty(name) < 0)
        return ErrorInfo{438, QStringLiteral("Object doesn't support this property or method")};
    return m_lastRuntimeError;
}

QVariant HublinkCore::getMember(const char *name, ErrorInfo *error)
{
    m_lastRuntimeError = ErrorInfo{};
    if (!m_comm) {
        if (error)
            *error = ErrorInfo{91, QStringLiteral("Object variable or With block variable not set")};
        return {};
    }
    const QVariant v = m_comm->property(name);
    if (error)
        *error = m_lastRuntimeError;
    return v;
}

void HublinkCore::portError(const ErrorInfo &error)
{
    m_dialogs.message(QStringLiteral("Serial COM Port Error.\n") + errorLines(error), MsgIcon::Exclamation);
    m_linkEnabled = false;
    m_portError = true;
    setOffline(true);
}

QString HublinkCore::controlOpenError()
{
    QString reason;
    if (m_comm && m_comm->metaObject()->indexOfMethod("lastOpenError()") >= 0)
        QMetaObject::invokeMethod(m_comm, "lastOpenError", Qt::DirectConnection, Q_RETURN_ARG(QString, reason));
    return reason;
}

void HublinkCore::OpenLink()
{
    // A new open: an error of an earlier one no longer stands.
    m_portError = false;
    m_openProblem.clear();
    const QString portText = m_settings.GetSetting(kAppName, kVarsSection, QStringLiteral("CommPort"), QStringLiteral("1"));
    const auto port = numericInt16(portText);
    if (!port) {
        portError(overflowError());
        m_port = 1;
    } else {
        m_port = *port;
    }

    if (m_port == kSimulatorPort) {
        m_simulator = true;
        m_modemState = DirectCable;
    } else {
        m_modemState = m_settings.GetSetting(kAppName, kVarsSection, QStringLiteral("ModemEnable"),
                                             QStringLiteral("FALSE"))
                == QLatin1String("TRUE")
            ? ModemDisconnected
            : DirectCable;
        m_simulator = false;
    }
    emit simulatorChanged(m_simulator);
    setOffline(false);
    m_noResponse = 0;
    m_unanswered.clear();
    m_linkEnabled = true;

    if (m_port >= 1 && m_port <= 4) {
        // Each step's error is trapped and reported, and the next step still runs.
        const std::pair<const char *, QVariant> steps[] = {
            {"CommPort", int(m_port)}, {"Settings", kPortSettings}, {"AutoReceive", false},
            {"InputLen", 0},           {"RTSEnable", true},         {"PortOpen", true},
        };
        for (const auto &[name, value] : steps) {
            const ErrorInfo e = setMember(name, value);
            if (e.isError())
                portError(e);
        }
        if (!getMember("PortOpen").toBool()) {
            // The control knows which device it tried and why it failed; the
            // operator gets that as the box's detail, under the fixed text.
            const QString reason = controlOpenError();
            m_openProblem = reason;
            m_dialogs.messageBoxWithDetail(
                QStringLiteral("Serial COM Port Error.\nUnable to open COM") + getMember("CommPort").toString(), reason,
                MsgButtons::Ok, MsgIcon::Exclamation, QString());
            m_linkEnabled = false;
            m_portError = true;
            setOffline(true);
        }
    }
}

void HublinkCore::CloseLink()
{
    if (m_port < 1 || m_port > 4 || !m_linkEnabled || !getMember("PortOpen").toBool())
        return;
    disconnectModem();
    setMember("Handshaking", 0);
    setMember("OutBufferCount", 0);
    setMember("InBufferCount", 0);
    setMember("PortOpen", false);
}

void HublinkCore::waitForInput(int64_t ms)
{
    ms = std::clamp<int64_t>(ms, 0, kWaitSliceMs);
    if (m_comm && m_comm->metaObject()->indexOfMethod("WaitForInput(int)") >= 0) {
        int queued = 0;
        const int64_t before = m_clock.nowMs();
        QMetaObject::invokeMethod(m_comm, "WaitForInput", Qt::DirectConnection, Q_RETURN_ARG(int, queued),
                                  Q_ARG(int, static_cast<int>(ms)));
        // A control whose port has closed under it (the line hung up) returns
        // at once with nothing queued: pause for the rest of the slice here
        // rather than spin on the processor until the time-out.
        const int64_t waited = m_clock.nowMs() - before;
        if (queued == 0 && waited < ms)
            QThread::msleep(static_cast<unsigned long>(ms - waited));
        return;
    }
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    QThread::msleep(static_cast<unsigned long>(ms));
}

bool HublinkCore::lateAnswer(const QString &command, const HublinkAnswer &answer) const
{
    return answer.good() && HublinkLateAnswer(command, answer.body, m_unanswered);
}

QString HublinkCore::SendHublinkCmd(const QString &strCmd, float &sglTimeout)
{
    if (sglTimeout <= 0)
        sglTimeout = kHublinkDefaultTimeout;
    // A command is never sent while another wait of the link runs (an answer,
    // a dial, a hang-up): those waits let other events run, and a caller that
    // ignored isCPUBusy must not interleave two conversations on the line.
    if (isCPUBusy())
        return QString();
    BusyScope busy(*this);
    QString result;

    if (!m_linkEnabled)
        return result;
    if (m_modemState == ModemDisconnected) {
        ConnectModem();
        if (!busy.alive() || m_modemState == ModemDisconnected)
            return result;
    }
    const QString line = HublinkFrame(strCmd);
    if (m_port < 1 || m_port > 4)
        return result;

    setMember("InBufferCount", 0);
    setMember("Output", line);
    emit commandSent(line);
    const int64_t timeoutMs = static_cast<int64_t>(static_cast<double>(sglTimeout) * 1000.0);
    const int64_t start = m_clock.nowMs();
    HublinkReceiveBuffer received;
    bool answered = false;

    for (;;) {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        if (!busy.alive())
            return QString();
        if (!m_comm)
            break;
        if (getMember("InBufferCount").toInt() != 0) {
            bool complete = received.append(getMember("ComInput").toString());
            // The late answer to an earlier, unanswered question is not this
            // one's: it is dropped and the wait goes on, so answers never slip
            // one place.
            while (complete && lateAnswer(strCmd, received.answer())) {
                received.dropFirstLine();
                complete = received.hasLineEnd();
            }
            if (complete) {
                const HublinkAnswer answer = received.answer();
                // A garbled answer is still this question's: nothing more will come for it.
                answered = true;
                if (answer.good()) {
                    result = answer.body;
                    if (m_noResponse > 0)
                        --m_noResponse;
                    if (m_offline && m_noResponse == 0)
                        setOffline(false);
                }
                break;
            }
        }
        const int64_t now = m_clock.nowMs();
        if (now - start >= timeoutMs) {
            if (!received.isEmpty() || m_offline)
                break;
            ++m_noResponse;
            if (m_noResponse < kNoResponseLimit)
                break;
            setMember("OutBufferCount", 0);
            setMember("InBufferCount", 0);
            // The window shows the offline state before the box holds it up.
            setOffline(true);
            if (!busy.alive())
                return QString();
            m_dialogs.messageBox(QStringLiteral("No Response from Controller."), MsgButtons::OkCancel,
                                 MsgIcon::Exclamation, QString());
            // The box waits for the operator with window events running.
            if (!busy.alive())
                return QString();
            break;
        }
        waitForInput(start + timeoutMs - now);
        if (!busy.alive())
            return QString();
    }
    if (answered) {
        m_unanswered.clear();
    } else {
        m_unanswered.append(strCmd);
        if (m_unanswered.size() > kMaxUnanswered)
            m_unanswered.removeFirst();
    }
    return result;
}

int HublinkCore::CPUYCmd(int16_t intID, int16_t intDst, std::vector<int16_t> &intSrc, std::vector<bool> &bolErr)
{
    intSrc.assign(2, 0);
    bolErr.assign(2, false);
    const HublinkCommand cmd = HublinkYCommand(intID, intDst);
    if (!cmd.ok)
        return 0;
    float timeout = 0;
    const QString reply = SendHublinkCmd(cmd.text, timeout);
    HublinkStatus status;
    ErrorInfo error;
    if (!HublinkDecodeStatus(reply, status, error))
        return 0;
    intSrc = std::move(status.intSrc);
    bolErr = std::move(status.bolErr);
    return status.levels;
}

std::vector<bool> HublinkCore::CPUWCmd(int16_t intID)
{
    std::vector<bool> locks(2, false);
    const HublinkCommand cmd = HublinkWCommand(intID);
    if (!cmd.ok)
        return locks;
    float timeout = 0;
    const QString reply = SendHublinkCmd(cmd.text, timeout);
    ErrorInfo error;
    if (!HublinkDecodeLocks(reply, locks, error))
        locks.assign(2, false);
    return locks;
}

QString HublinkCore::CPUHCmd(int16_t intID, int16_t intNumLevs, int16_t intDst, const std::vector<int16_t> &intSrc)
{
    const HublinkCommand cmd = HublinkHCommand(intID, intNumLevs, intDst, intSrc);
    if (!cmd.ok)
        return QString();
    float timeout = 0;
    QString reply = SendHublinkCmd(cmd.text, timeout);
    if (!reply.startsWith(QLatin1Char('G'))) {
        timeout = 0;
        reply = SendHublinkCmd(cmd.text, timeout);
    }
    return reply;
}

QString HublinkCore::CPULCmd(int16_t intID, int16_t intDst)
{
    const HublinkCommand cmd = HublinkLCommand(intID, intDst);
    if (!cmd.ok)
        return QString();
    float timeout = 0;
    return SendHublinkCmd(cmd.text, timeout);
}

QString HublinkCore::getDescriptionString() const
{
    if (m_port == kSimulatorPort)
        return QStringLiteral("Simulator");
    QString text = QStringLiteral("COM") + QString::number(m_port);
    if (m_modemState == ModemDisconnected)
        return text + QStringLiteral(" Remote Disconnect");
    if (m_modemState == ModemConnected)
        text += QStringLiteral(" Remote");
    return text + (m_offline ? QStringLiteral(" Offline") : QStringLiteral(" Online"));
}

void HublinkCore::ConnectModem()
{
    // One dial at a time: a second request during the dial's waits (a command
    // sent meanwhile, Call Remote again) must not open another connection book
    // over it.
    if (m_connecting)
        return;
    BusyScope busy(*this);
    m_connecting = true;
    dialModem(busy);
    if (busy.alive())
        m_connecting = false;
}

void HublinkCore::dialModem(const BusyScope &busy)
{
    // Every wait below (the modal connection book, the engine's InitModem,
    // Dial and HangUp) lets window events run: after each one the link is
    // re-checked before it is touched again.
    connectRequested = false;
    if (m_ui) {
        const bool chosen = m_ui->showConnectionBook();
        if (!busy.alive())
            return;
        connectRequested = chosen;
    }
    if (m_modemState != ModemDisconnected || !connectRequested)
        return;

    const QString modemType = m_settings.GetSetting(kAppName, kVarsSection, QStringLiteral("ModemType"));
    const QStringList modems = m_ui ? m_ui->fillModemCombo(m_comm) : QStringList();
    const int index = static_cast<int>(modems.indexOf(modemType));
    setMember("ModemIndex", index < 0 ? 0 : index);
    const QString init = m_settings.GetSetting(kAppName, kVarsSection, QStringLiteral("ModemInit"));
    if (!init.isEmpty())
        setMember("ModemInitCommand", init);
    const QString hang = m_settings.GetSetting(kAppName, kVarsSection, QStringLiteral("ModemHang"));
    if (!hang.isEmpty())
        setMember("ModemHangUpCommand", hang);

    const QString number = m_settings.GetSetting(kAppName, kVarsSection, QStringLiteral("ModLastPhone"));
    if (number.isEmpty()) {
        m_dialogs.message(QStringLiteral("No Phone Number to Call!"));
        return;
    }

    bolModemStatFlag = true;
    if (m_ui)
        m_ui->showModemStatus(QStringLiteral("Initializing Modem..."));
    const bool initialised = getMember("InitModem").toBool();
    if (!busy.alive())
        return;
    if (initialised && bolModemStatFlag) {
        if (m_ui)
            m_ui->setModemStatus(QStringLiteral("Dialing ") + number + QStringLiteral("..."));
        setMember("Dial", number);
        if (!busy.alive())
            return;
        const QVariant dial = getMember("Dial");
        if (!busy.alive())
            return;
        bool ok;
        if (dial.typeId() == QMetaType::QString) {
            const QString text = dial.toString();
            ok = text.isEmpty() || text.toUpper() == QLatin1String("CONNECTED");
        } else {
            ok = dial.toInt() == 0;
        }
        if (!ok) {
            m_dialogs.message(QStringLiteral("Dialing ") + number + QStringLiteral(" failed!"));
        } else if (bolModemStatFlag) {
            m_modemState = ModemConnected;
        } else {
            getMember("HangUp");
            if (!busy.alive())
                return;
        }
    } else {
        m_dialogs.message(QStringLiteral("Cannot Initialize the modem!"));
    }
    if (m_ui)
        m_ui->closeModemStatus();
}

void HublinkCore::cancelModemStat()
{
    if (m_ui)
        m_ui->setModemStatus(QStringLiteral("Canceling.."));
    bolModemStatFlag = false;
    abortModem();
}

void HublinkCore::abortModem()
{
    setMember("OutputLine", QString());
}

void HublinkCore::disconnectModem()
{
    if (m_modemState != ModemConnected)
        return;
    BusyScope busy(*this);
    getMember("HangUp");
    // The hang-up waits for the modem with window events running.
    if (!busy.alive())
        return;
    m_modemState = ModemDisconnected;
    setOffline(true);
}

void HublinkCore::comHublink_CarrierChanged()
{
    if (m_modemState == ModemConnected && !getMember("CDHolding").toBool()) {
        m_modemState = ModemDisconnected;
        setOffline(true);
        m_dialogs.message(QStringLiteral("Modem Has gone Offline"));
    } else if (m_modemState == DirectCable && m_linkEnabled && m_port >= 1 && m_port <= 4
               && !getMember("PortOpen").toBool()) {
        // The device went away under the open port (a USB adapter pulled
        // out, a network serial server gone): the link is down now, not after
        // three silent time-outs. The state changes before the box opens, and
        // the box counts as a wait of the link, so nothing unloads it meanwhile.
        m_linkEnabled = false;
        m_portError = true;
        setOffline(true);
        m_openProblem = controlOpenError();
        BusyScope busy(*this);
        m_dialogs.messageBoxWithDetail(QStringLiteral("Serial COM Port Error."), m_openProblem, MsgButtons::Ok,
                                       MsgIcon::Exclamation, QString());
    }
}

void HublinkCore::LoadModemData(QObject *lstTarget)
{
    if (lstTarget)
        setMember("FillModemList", QVariant::fromValue(lstTarget));
}

} // namespace exel
