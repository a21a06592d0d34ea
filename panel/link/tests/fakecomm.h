// A stand-in for the comm control with the members the link drives by name.
// Written lines go to a responder that decides what comes back; time passes
// on a fake clock while the link waits.
#pragma once

#include "clock.h"

#include <QObject>
#include <QStringList>
#include <QVariant>

#include <deque>
#include <functional>

namespace exel::test {

class FakeComm : public QObject {
    Q_OBJECT
    Q_PROPERTY(int CommPort MEMBER commPort)
    Q_PROPERTY(QString Settings MEMBER settings)
    Q_PROPERTY(bool AutoReceive MEMBER autoReceive)
    Q_PROPERTY(int InputLen MEMBER inputLen)
    Q_PROPERTY(bool RTSEnable MEMBER rtsEnable)
    Q_PROPERTY(bool PortOpen READ portOpen WRITE setPortOpen)
    Q_PROPERTY(int Handshaking MEMBER handshaking)
    Q_PROPERTY(int InBufferCount READ inBufferCount WRITE setInBufferCount)
    Q_PROPERTY(int OutBufferCount READ outBufferCount WRITE setOutBufferCount)
    Q_PROPERTY(QString ComInput READ comInput)
    Q_PROPERTY(QString Output READ writeOnly WRITE setOutput)
    Q_PROPERTY(QString OutputLine READ writeOnly WRITE setOutputLine)
    Q_PROPERTY(bool CDHolding MEMBER cdHolding)
    Q_PROPERTY(bool InitModem READ initModem)
    Q_PROPERTY(QString Dial READ dial WRITE setDial)
    Q_PROPERTY(bool HangUp READ hangUp)
    Q_PROPERTY(int ModemIndex MEMBER modemIndex)
    Q_PROPERTY(QString ModemInitCommand MEMBER modemInitCommand)
    Q_PROPERTY(QString ModemHangUpCommand MEMBER modemHangUpCommand)

public:
    explicit FakeComm(FakeClock &clock) : m_clock(clock) {}

    // Called for every line written; returns what the controller answers
    // (appended to the input queue at once), or nothing for silence.
    std::function<QString(const QString &)> responder;
    // Called when the link reads InitModem / Dial, so tests can cancel meanwhile.
    std::function<bool()> onInitModem;
    std::function<QString(const QString &)> onDial;
    // Called while the link reads HangUp (the hang-up's wait).
    std::function<void()> onHangUp;
    // What the control says about a port that would not open ("" for nothing).
    QString openError;

    int commPort = 0;
    QString settings;
    bool autoReceive = true;
    int inputLen = -1;
    bool rtsEnable = false;
    int handshaking = -1;
    bool cdHolding = false;
    int modemIndex = -1;
    QString modemInitCommand;
    QString modemHangUpCommand;
    bool canOpen = true;
    bool open = false;
    QString input;
    QStringList written;
    QStringList outputLines;
    int inClears = 0;
    int outClears = 0;
    int hangUps = 0;
    QString dialledNumber;
    QString dialResult;

    QString writeOnly() const { return QString(); }
    bool portOpen() const { return open; }
    void setPortOpen(bool on) { open = on && canOpen; }
    int inBufferCount() const { return static_cast<int>(input.size()); }
    void setInBufferCount(int) { input.clear(); ++inClears; }
    int outBufferCount() const { return 0; }
    void setOutBufferCount(int) { ++outClears; }
    QString comInput()
    {
        QString all = input;
        input.clear();
        return all;
    }
    void setOutput(const QString &line)
    {
        written << line;
        if (responder)
            input += responder(line);
    }
    void setOutputLine(const QString &line) { outputLines << line; }
    // The hooks are called through copies: a hook may replace itself.
    bool initModem()
    {
        const auto hook = onInitModem;
        return hook ? hook() : true;
    }
    QString dial() const { return dialResult; }
    void setDial(const QString &number)
    {
        dialledNumber = number;
        const auto hook = onDial;
        dialResult = hook ? hook(number) : QString();
    }
    bool hangUp()
    {
        ++hangUps;
        if (const auto hook = onHangUp)
            hook();
        return true;
    }
    Q_INVOKABLE QString lastOpenError() const { return openError; }

    Q_INVOKABLE int WaitForInput(int ms)
    {
        ++waitCalls;
        // A control whose port has closed under it cannot wait: it returns at once.
        if (!waitBlocks)
            return 0;
        m_clock.advance(ms);
        return inBufferCount();
    }
    int waitCalls = 0;
    bool waitBlocks = true;

    void raiseCarrierChange(bool carrier)
    {
        cdHolding = carrier;
        emit CarrierChanged();
    }

signals:
    void CarrierChanged();

private:
    FakeClock &m_clock;
};

} // namespace exel::test
