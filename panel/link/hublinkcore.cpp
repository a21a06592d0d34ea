// The controller link over a comm control driven by member name.
#include "hublinkcore.h"

#include "hublinkprotocol.h"
#include "numberrules.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>
#include <QVariant>

#include <algorithm>

namespace exel {

bool HublinkCore::connectRequested = false;

namespace {
constexpr int kNoResponseLimit = 3;
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

HublinkCore::~HublinkCore() = default;

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
    m_offline = true;
    m_portError = true;
}

void HublinkCore::OpenLink()
{
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
    m_offline = false;
    m_noResponse = 0;
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
            // operator gets that on the line after the fixed text.
            QString reason;
            if (m_comm && m_comm->metaObject()->indexOfMethod("lastOpenError()") >= 0)
                QMetaObject::invokeMethod(m_comm, "lastOpenError", Qt::DirectConnection, Q_RETURN_ARG(QString, reason));
            m_openProblem = reason;
            m_dialogs.message(QStringLiteral("Serial COM Port Error.\nUnable to open COM")
                                  + getMember("CommPort").toString() + (reason.isEmpty() ? QString() : QLatin1Char('\n') + reason),
                              MsgIcon::Exclamation);
            m_linkEnabled = false;
            m_offline = true;
            m_portError = true;
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

QString HublinkCore::SendHublinkCmd(const QString &strCmd, float &sglTimeout)
{
    if (sglTimeout <= 0)
        sglTimeout = kHublinkDefaultTimeout;
    // A command is never sent while another one waits for its answer: the
    // wait lets other events run, and a caller that ignored isCPUBusy must not
    // interleave two conversations on the line.
    if (m_busy)
        return QString();
    m_busy = true;
    QString result;

    auto finish = [&] {
        m_busy = false;
        return result;
    };

    if (!m_linkEnabled)
        return finish();
    if (m_modemState == ModemDisconnected) {
        ConnectModem();
        if (m_modemState == ModemDisconnected)
            return finish();
    }
    const QString line = HublinkFrame(strCmd);
    if (m_port < 1 || m_port > 4)
        return finish();

    setMember("InBufferCount", 0);
    setMember("Output", line);
    emit commandSent(line);
    const int64_t timeoutMs = static_cast<int64_t>(static_cast<double>(sglTimeout) * 1000.0);
    const int64_t start = m_clock.nowMs();
    HublinkReceiveBuffer received;

    for (;;) {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        if (!m_comm)
            break;
        if (getMember("InBufferCount").toInt() != 0) {
            bool complete = received.append(getMember("ComInput").toString());
            // A late answer to an earlier question is not this one's: it is
            // dropped and the wait goes on, so answers never slip one place.
            while (complete && received.answer().good() && !HublinkAnswerFits(strCmd, received.answer().body)) {
                received.dropFirstLine();
                complete = received.hasLineEnd();
            }
            if (complete) {
                const HublinkAnswer answer = received.answer();
                if (answer.good()) {
                    result = answer.body;
                    if (m_noResponse > 0)
                        --m_noResponse;
                    if (m_offline && m_noResponse == 0)
                        m_offline = false;
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
            m_offline = true;
            m_dialogs.messageBox(QStringLiteral("No Response from Controller."), MsgButtons::OkCancel,
                                 MsgIcon::Exclamation, QString());
            break;
        }
        waitForInput(start + timeoutMs - now);
    }
    return finish();
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
    connectRequested = false;
    if (m_ui)
        connectRequested = m_ui->showConnectionBook();
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
    if (getMember("InitModem").toBool() && bolModemStatFlag) {
        if (m_ui)
            m_ui->setModemStatus(QStringLiteral("Dialing ") + number + QStringLiteral("..."));
        setMember("Dial", number);
        const QVariant dial = getMember("Dial");
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
    getMember("HangUp");
    m_modemState = ModemDisconnected;
    m_offline = true;
}

void HublinkCore::comHublink_CarrierChanged()
{
    if (m_modemState == ModemConnected && !getMember("CDHolding").toBool()) {
        m_offline = true;
        m_modemState = ModemDisconnected;
        m_dialogs.message(QStringLiteral("Modem Has gone Offline"));
    }
}

void HublinkCore::LoadModemData(QObject *lstTarget)
{
    if (lstTarget)
        setMember("FillModemList", QVariant::fromValue(lstTarget));
}

} // namespace exel
