// TolComm persistence: creating a new control and saving and reading its
// properties in the hosting form's property bag.
#include "tolcomm.h"

#include <QMetaProperty>

namespace {

struct Persisted {
    const char *key; // key in the property bag
    const char *member; // property name
};

// Every persisted member, in member order. Runtime-only members (queues,
// input, dialing, selection, transfer state, the trace switches shared by the
// whole process) are not kept in a form.
constexpr Persisted kPersisted[] = {
    { "BackColor", "BackColor" },
    { "BorderStyle", "BorderStyle" },
    { "Enabled", "Enabled" },
    { "Font", "Font" },
    { "ForeColor", "ForeColor" },
    { "hWnd", "hwnd" },
    { "AutoReceive", "AutoReceive" },
    { "AutoScroll", "AutoScroll" },
    { "AutoSend", "AutoSend" },
    { "AutoScrollColumn", "AutoScrollColumn" },
    { "AutoScrollKeyboard", "AutoScrollKeyboard" },
    { "AutoScrollRow", "AutoScrollRow" },
    { "AutoSize", "AutoSize" },
    { "CaptureMode", "CaptureMode" },
    { "CDTimeOut", "CDTimeOut" },
    { "ColorFilter", "ColorFilter" },
    { "Columns", "Columns" },
    { "CommPort", "CommPort" },
    { "CTSTimeOut", "CTSTimeOut" },
    { "DialMode", "DialMode" },
    { "DSRTimeOut", "DSRTimeOut" },
    { "DTRHolding", "DTRHolding" },
    { "Echo", "Echo" },
    { "CommEcho", "CommEcho" },
    { "Emulation", "Emulation" },
    { "Handshaking", "Handshaking" },
    { "InBufferSize", "InBufferSize" },
    { "InputEcho", "InputEcho" },
    { "InputLen", "InputLen" },
    { "Interval", "Interval" },
    { "InTimeOut", "InTimeOut" },
    { "LookUpInputLen", "LookUpInputLen" },
    { "LookUpSeparator", "LookUpSeparator" },
    { "LookUpText", "LookUpText" },
    { "LookUpTimeOut", "LookUpTimeOut" },
    { "ModemAnswerCommand", "ModemAnswerCommand" },
    { "ModemDialPulseCommand", "ModemDialPulseCommand" },
    { "ModemDialtoneCommand", "ModemDialToneCommand" },
    { "ModemHangUpCommand", "ModemHangUpCommand" },
    { "ModemIndex", "ModemIndex" },
    { "ModemInitCommand", "ModemInitCommand" },
    { "ModemTitle", "ModemTitle" },
    { "NullDiscard", "NullDiscard" },
    { "OutBufferSize", "OutBufferSize" },
    { "ParityReplace", "ParityReplace" },
    { "PortOpen", "PortOpen" },
    { "Rows", "Rows" },
    { "RThreshold", "RThreshold" },
    { "ScrollRows", "ScrollRows" },
    { "Settings", "Settings" },
    { "SThreshold", "SThreshold" },
    { "XferProtocol", "XferProtocol" },
    { "XferStatusDialog", "XferStatusDialog" },
    { "AutoProcess", "AutoProcess" },
    { "BackSpace", "BackSpace" },
    { "DialTimeOut", "DialTimeOut" },
    { "EndOfLineMode", "EndOfLineMode" },
    { "IgnoreOnComm", "IgnoreOnComm" },
    { "Notification", "Notification" },
    { "RTSEnable", "RTSEnable" },
};

// Values of a new control, and of a key the bag does not hold.
QVariant defaultFor(const QString &member)
{
    static const QHash<QString, QVariant> defaults = {
        { "BackColor", QColor(Qt::white) },
        { "BorderStyle", int(TolComm::BorderStyle_None) },
        { "Enabled", true },
        { "ForeColor", QColor(Qt::black) },
        { "AutoReceive", false },
        { "AutoScroll", true },
        { "AutoSend", false },
        { "AutoScrollColumn", 0 },
        { "AutoScrollKeyboard", true },
        { "AutoScrollRow", 0 },
        { "AutoSize", int(TolComm::AutoSize_None) },
        { "CaptureMode", int(TolComm::Capture_Standard) },
        { "CDTimeOut", 0 },
        { "ColorFilter", int(TolComm::ColorFilter_Full) },
        { "Columns", 80 },
        { "CommPort", 1 },
        { "CTSTimeOut", 0 },
        { "DialMode", int(TolComm::Dial_Tone) },
        { "DSRTimeOut", 0 },
        { "DTRHolding", true },
        { "Echo", false },
        { "CommEcho", false },
        { "Emulation", int(TolComm::Emulation_TTY) },
        { "Handshaking", int(TolComm::Handshaking_None) },
        { "InBufferSize", 2048 },
        { "InputEcho", false },
        { "InputLen", 0 },
        { "Interval", 55 },
        { "InTimeOut", 0 },
        { "LookUpInputLen", 1024 },
        { "LookUpSeparator", QString() },
        { "LookUpText", QString() },
        { "LookUpTimeOut", 10000 },
        { "ModemAnswerCommand", QStringLiteral("ATS0=2^M") },
        { "ModemDialPulseCommand", QStringLiteral("ATDP") },
        { "ModemDialToneCommand", QStringLiteral("ATDT") },
        { "ModemHangUpCommand", QStringLiteral("~~~ATH^M") },
        { "ModemIndex", 0 },
        { "ModemInitCommand", QStringLiteral("ATZ^M") },
        { "ModemTitle", QStringLiteral("Generic modem") },
        { "NullDiscard", false },
        { "OutBufferSize", 2048 },
        { "ParityReplace", -1 },
        { "PortOpen", false },
        { "Rows", 25 },
        { "RThreshold", 0 },
        { "ScrollRows", 100 },
        { "Settings", QStringLiteral("9600,n,8,1") },
        { "SThreshold", 0 },
        { "XferProtocol", int(TolComm::Protocol_ZModem) },
        { "XferStatusDialog", int(TolComm::XferDialog_Hidden) },
        { "AutoProcess", 0 },
        { "BackSpace", int(TolComm::BackSpace_Destructive) },
        { "DialTimeOut", 30000 },
        { "EndOfLineMode", int(TolComm::EndOfLineMode_NextLine) },
        { "IgnoreOnComm", false },
        { "Notification", 0 },
        { "RTSEnable", true },
    };
    return defaults.value(member);
}

} // namespace

QList<QPair<QString, QString>> TolComm::persistedMembers()
{
    QList<QPair<QString, QString>> out;
    for (const Persisted &p : kPersisted)
        out.append({ QString::fromLatin1(p.key), QString::fromLatin1(p.member) });
    return out;
}

void TolComm::InitProperties()
{
    ReadProperties(PropertyBag());
}

void TolComm::ReadProperties(const PropertyBag &bag)
{
    if (!m_core->getCommHandle())
        return;
    m_core->closeForProperties();

    bool wantOpen = false;
    bool wantAutoReceive = false;
    int wantAutoProcess = 0;
    int firstError = 0;
    QString firstErrorText;
    // Each refused value is reported once, as one error after the whole bag.
    const int savedError = m_core->lastError();
    const QString savedErrorText = m_core->lastErrorDescription();
    m_core->setErrorsCollected(true);
    for (const Persisted &p : kPersisted) {
        const QString key = QString::fromLatin1(p.key);
        const QString member = QString::fromLatin1(p.member);
        const QVariant def = defaultFor(member);
        if (member == u"hwnd")
            continue; // a window handle means nothing to another run
        const QVariant value = bag.read(key, def);
        if (member == u"Font") {
            // Absent: the font the control inherits from its form. A form file
            // keeps it as QFont::toString() text.
            QFont f = font();
            if (value.metaType().id() == QMetaType::QFont)
                setFont(value.value<QFont>());
            else if (value.isValid() && f.fromString(value.toString()))
                setFont(f);
            else if (value.isValid() && !firstError) {
                firstError = kErrInvalidValue;
                firstErrorText = QStringLiteral("Invalid property value");
            }
            continue;
        }
        // Opening and auto-processing come last, once every setting is in place.
        if (member == u"PortOpen") {
            wantOpen = value.toBool();
            continue;
        }
        if (member == u"AutoReceive") {
            wantAutoReceive = value.toBool();
            continue;
        }
        if (member == u"AutoProcess") {
            wantAutoProcess = value.toInt();
            continue;
        }
        if (member == u"ModemIndex") {
            // The index is kept as it was saved; the strings saved beside it
            // are the ones the modem gets (they may have been edited).
            m_core->keepModemIndex(value.toInt());
            continue;
        }
        m_core->clearError();
        const bool written = setProperty(p.member, value);
        if (!written || m_core->lastError()) {
            if (!firstError) {
                firstError = m_core->lastError() ? m_core->lastError() : kErrInvalidValue;
                firstErrorText
                    = m_core->lastError() ? m_core->lastErrorDescription() : QStringLiteral("Invalid property value");
            }
            setProperty(p.member, def);
        }
    }
    m_core->setErrorsCollected(false);
    m_core->restoreError(savedError, savedErrorText);
    m_core->startFromProperties(wantAutoProcess, wantAutoReceive, wantOpen);
    followTerminalRouting();
    if (firstError)
        raiseError(firstError, firstErrorText);
}

void TolComm::WriteProperties(PropertyBag &bag)
{
    for (const Persisted &p : kPersisted) {
        const QString member = QString::fromLatin1(p.member);
        QVariant value;
        if (member == u"hwnd")
            value = 0;
        else if (member == u"PortOpen")
            value = getPortOpen();
        else if (member == u"ModemIndex")
            value = getModemIndex();
        else
            value = property(p.member);
        // Enumerations are kept as their numbers.
        if (value.metaType().flags() & QMetaType::IsEnumeration)
            value = value.toInt();
        bag.write(QString::fromLatin1(p.key), value);
    }
}
