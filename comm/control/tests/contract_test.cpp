// The control's contract: every member name, kind and access, every
// enumeration and every event signature, in the interface's order, as a host
// that drives the control by name sees them through the meta-object; and the
// window-free core's share of it.
#include "tolcomm.h"
#include "tolcommcore.h"

#include <QMetaEnum>
#include <QMetaMethod>
#include <QMetaProperty>

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace {

enum Kind { RW, RO, WO, M };

struct Member {
    const char *name;
    Kind kind;
};

// The main interface in its own order.
const std::vector<Member> kMembers = {
    { "BackColor", RW },
    { "BorderStyle", RW },
    { "Enabled", RW },
    { "Font", RW },
    { "ForeColor", RW },
    { "hwnd", RW },
    { "AbortTransfer", RW },
    { "About", M },
    { "AutoReceive", RW },
    { "AutoScroll", RW },
    { "AutoSend", RW },
    { "AutoScrollColumn", RW },
    { "AutoScrollKeyboard", RW },
    { "AutoScrollRow", RW },
    { "AutoSize", RW },
    { "Break", RW },
    { "CaptureFilename", RW },
    { "CaptureMode", RW },
    { "CDHolding", RO },
    { "CDTimeOut", RW },
    { "ColorFilter", RW },
    { "Columns", RW },
    { "CommError", RO },
    { "CommID", RW },
    { "CommPort", RW },
    { "Contents", RW },
    { "CTSHolding", RO },
    { "CTSTimeOut", RW },
    { "CursorColumn", RW },
    { "CursorRow", RW },
    { "Dial", RW },
    { "DialMode", RW },
    { "Display", WO },
    { "DisplayLine", WO },
    { "Download", WO },
    { "DSRHolding", RO },
    { "DSRTimeOut", RW },
    { "DTRHolding", RW },
    { "Echo", RW },
    { "CommEcho", RW },
    { "Emulation", RW },
    { "FillModemCombo", WO },
    { "FillModemList", WO },
    { "Handshaking", RW },
    { "HangUp", RO },
    { "InBufferCount", RW },
    { "InBufferSize", RW },
    { "InitModem", RO },
    { "InitModemForAnswer", RO },
    { "ComInput", RO },
    { "InputEcho", RW },
    { "InputLen", RW },
    { "Interval", RW },
    { "InTimeOut", RW },
    { "ComLineInput", RO },
    { "LookUp", RO },
    { "LookUpInput", RO },
    { "LookUpInputLen", RW },
    { "LookUpSeparator", RW },
    { "LookUpText", RW },
    { "LookUpTimeOut", RW },
    { "ModemAnswerCommand", RW },
    { "ModemDialPulseCommand", RW },
    { "ModemDialToneCommand", RW },
    { "ModemHangUpCommand", RW },
    { "ModemIndex", RW },
    { "ModemInitCommand", RW },
    { "ModemTitle", RW },
    { "NullDiscard", RW },
    { "OutBufferCount", RW },
    { "OutBufferSize", RW },
    { "Output", WO },
    { "OutputLine", WO },
    { "OutputModem", WO },
    { "ParityReplace", RW },
    { "PortOpen", RW },
    { "Rows", RW },
    { "RThreshold", RW },
    { "ScrollContents", RO },
    { "ScrollRows", RW },
    { "SelLength", RW },
    { "SelStart", RW },
    { "SelText", RW },
    { "Settings", RW },
    { "SThreshold", RW },
    { "Upload", WO },
    { "XferDestFilename", RW },
    { "XferFileSize", RO },
    { "XferMessage", RO },
    { "XferProtocol", RW },
    { "XferSourceFilename", RO },
    { "XferStatus", RO },
    { "XferStatusDialog", RW },
    { "XferTransferred", RO },
    { "AutoProcess", RW },
    { "HandleCommEvent", M },
    { "BackSpace", RW },
    { "Busy", RO },
    { "CommEvent", RW },
    { "DialTimeOut", RW },
    { "EndOfLineMode", RW },
    { "IgnoreOnComm", RW },
    { "Notification", RW },
    { "Pause", WO },
    { "RTSEnable", RW },
    { "ShutDown", RW },
    { "PortWatch", RW },
    { "HandleEvent", M },
    { "PortWatchInput", RW },
    { "PortWatchOutput", RW },
    { "PortWatchEvents", RW },
    { "PortWatchWarnings", RW },
    { "PortWatchProperties", RW },
    { "CommHandle", RO },
};

const std::map<std::string, std::string> kMethodSignatures = {
    { "About", "About()" },
    { "HandleCommEvent", "HandleCommEvent()" },
    { "HandleEvent", "HandleEvent(int,int)" },
};

const std::vector<std::string> kEvents = {
    "AbortFile()",
    "AbortFileTransfer()",
    "CarrierChanged()",
    "CTSChanged()",
    "DSRChanged()",
    "EOFChar()",
    "FinishFile()",
    "FinishFileTransfer()",
    "OnComm()",
    "PrepareFile()",
    "Ring()",
    "Receive()",
    "Send()",
    "StartFile()",
    "TransferBlock()",
    "WaitForFile()",
    "Click()",
    "DblClick()",
    "Hide()",
    "KeyDown(int,int)",
    "KeyPress(int)",
    "KeyUp(int,int)",
    "MouseDown(int,int,int,int)",
    "MouseMove(int,int,int,int)",
    "MouseUp(int,int,int,int)",
    "Paint()",
    "Show()",
};

using Enum = std::vector<std::pair<std::string, int>>;

Enum comPorts()
{
    Enum e;
    for (int i = 1; i <= 64; ++i)
        e.emplace_back("COM" + std::to_string(i), i);
    return e;
}

const std::vector<std::pair<std::string, Enum>> kEnums = {
    { "CommPort", comPorts() },
    { "Handshaking",
        { { "Handshaking_None", 0 }, { "Handshaking_XonXoff", 1 }, { "Handshaking_Hardware", 2 },
            { "Handshaking_Both", 3 } } },
    { "CommEvent",
        { { "Event_Send", 1 }, { "Event_Receive", 2 }, { "Event_Cts", 3 }, { "Event_Dsr", 4 }, { "Event_Carrier", 5 },
            { "Event_Ring", 6 }, { "Event_Eof", 7 }, { "Event_Transfer", 100 } } },
    { "CommError",
        { { "Error_Break", 1001 }, { "Error_CtsTimeOut", 1002 }, { "Error_DsrTimeOut", 1003 },
            { "Error_FrameError", 1004 }, { "Error_InputTimeOut", 1005 }, { "Error_DataOverrun", 1006 },
            { "Error_CarrierTimeOut", 1007 }, { "Error_ReceiveBufferOverflow", 1008 }, { "Error_Parity", 1009 },
            { "Error_SendBufferOverflow", 1010 } } },
    { "DialMode", { { "Dial_Tone", 0 }, { "Dial_Pulse", 1 } } },
    { "Emulation",
        { { "Emulation_None", 0 }, { "Emulation_TTY", 1 }, { "Emulation_Ansi", 2 }, { "Emulation_VT52", 3 },
            { "Emulation_VT100", 4 } } },
    { "AutoSize", { { "AutoSize_None", 0 }, { "AutoSize_Terminal", 1 }, { "AutoSize_Parent", 2 } } },
    { "EndOfLineMode",
        { { "EndOfLineMode_NextLine", 0 }, { "EndOfLineMode_DoNothing", 1 }, { "EndOfLineMode_WrapLine", 2 },
            { "EndOfLineMode_WrapScreen", 3 } } },
    { "ColorFilter", { { "ColorFilter_Full", 0 }, { "ColorFilter_BW", 1 }, { "ColorFilter_Gray", 2 } } },
    { "CaptureMode", { { "Capture_Standard", 0 }, { "Capture_Binary", 1 }, { "Capture_Visible", 2 } } },
    { "BackSpace", { { "BackSpace_Destructive", 0 }, { "BackSpace_NonDestructive", 1 } } },
    { "BorderStyle", { { "BorderStyle_None", 0 }, { "BorderStyle_FixedSingle", 1 } } },
    { "TerminalColor",
        { { "Black", 0 }, { "Blue", 1 }, { "Green", 2 }, { "Cyan", 4 }, { "Magenta", 5 }, { "Brown", 6 },
            { "LightGray", 7 }, { "DarkGray", 8 }, { "LightBlue", 9 }, { "LightGreen", 10 }, { "LightCyan", 11 },
            { "LightRed", 12 }, { "LightMagenta", 13 }, { "Yellow", 14 }, { "White", 15 } } },
    { "XferStatusDialog", { { "XferDialog_Hidden", 0 }, { "XferDialog_Modal", 1 }, { "XferDialog_Modeless", 2 } } },
    { "XferProtocol",
        { { "Protocol_XModemChecksum", 0 }, { "Protocol_XModemCRC", 1 }, { "Protocol_XModem1K", 2 },
            { "Protocol_YModem", 3 }, { "Protocol_YModemG", 4 }, { "Protocol_ZModem", 5 }, { "Protocol_Kermit", 6 } } },
    { "XferStatus",
        { { "TransferStatus_Failure", -1 }, { "TransferStatus_Success", 0 }, { "TransferStatus_WaitForFile", 1 },
            { "TransferStatus_Prepare", 2 }, { "TransferStatus_Starting", 3 }, { "TransferStatus_Transfering", 4 },
            { "TransferStatus_FileAbort", 5 }, { "TransferStatus_TransferAborting", 6 },
            { "TransferStatus_EndOfFile", 7 } } },
};

// Properties typed by one of the enumerations.
const std::map<std::string, std::string> kEnumTyped = {
    { "BorderStyle", "BorderStyle" },
    { "AutoSize", "AutoSize" },
    { "CaptureMode", "CaptureMode" },
    { "ColorFilter", "ColorFilter" },
    { "DialMode", "DialMode" },
    { "Emulation", "Emulation" },
    { "Handshaking", "Handshaking" },
    { "XferProtocol", "XferProtocol" },
    { "XferStatus", "XferStatus" },
    { "XferStatusDialog", "XferStatusDialog" },
    { "BackSpace", "BackSpace" },
    { "EndOfLineMode", "EndOfLineMode" },
};

const QMetaObject &meta()
{
    return TolComm::staticMetaObject;
}

} // namespace

TEST(TolCommContract, properties_appear_in_interface_order_with_their_access)
{
    const QMetaObject &mo = meta();
    int lastIndex = -1;
    int properties = 0;
    for (const Member &m : kMembers) {
        if (m.kind == M)
            continue;
        ++properties;
        SCOPED_TRACE(m.name);
        const int index = mo.indexOfProperty(m.name);
        ASSERT_GE(index, mo.propertyOffset()) << "missing property";
        EXPECT_GT(index, lastIndex) << "out of order";
        lastIndex = index;
        const QMetaProperty p = mo.property(index);
        EXPECT_STREQ(p.name(), m.name); // exact case
        EXPECT_EQ(p.isReadable(), m.kind != WO);
        EXPECT_EQ(p.isWritable(), m.kind != RO);
        const auto typed = kEnumTyped.find(m.name);
        if (typed != kEnumTyped.end()) {
            EXPECT_TRUE(p.isEnumType());
            EXPECT_STREQ(p.enumerator().name(), typed->second.c_str());
        }
    }
    EXPECT_EQ(properties, 111);
    // Only the platform's own addition follows the interface's members.
    EXPECT_EQ(mo.propertyCount() - mo.propertyOffset(), properties + 1);
    EXPECT_GE(mo.indexOfProperty("UserMode"), lastIndex);
}

TEST(TolCommContract, methods_are_invokable_by_name_with_their_arguments)
{
    const QMetaObject &mo = meta();
    for (const auto &[name, signature] : kMethodSignatures) {
        SCOPED_TRACE(name);
        const int index = mo.indexOfMethod(signature.c_str());
        ASSERT_GE(index, 0);
        EXPECT_EQ(mo.method(index).methodType(), QMetaMethod::Method);
        EXPECT_EQ(mo.method(index).access(), QMetaMethod::Public);
    }
    // The interface's methods come in its order.
    EXPECT_LT(mo.indexOfMethod("About()"), mo.indexOfMethod("HandleCommEvent()"));
    EXPECT_LT(mo.indexOfMethod("HandleCommEvent()"), mo.indexOfMethod("HandleEvent(int,int)"));
    EXPECT_GE(mo.indexOfMethod("WaitForInput(int)"), 0);
}

TEST(TolCommContract, events_are_signals_in_event_interface_order)
{
    const QMetaObject &mo = meta();
    int last = -1;
    for (const std::string &sig : kEvents) {
        SCOPED_TRACE(sig);
        const int index = mo.indexOfSignal(sig.c_str());
        ASSERT_GE(index, mo.methodOffset());
        EXPECT_GT(index, last);
        last = index;
    }
    // Key and mouse events carry named arguments.
    const QMetaMethod mouse = mo.method(mo.indexOfSignal("MouseDown(int,int,int,int)"));
    EXPECT_EQ(mouse.parameterNames().size(), 4);
}

TEST(TolCommContract, enumerations_have_exactly_their_names_and_values)
{
    const QMetaObject &mo = meta();
    EXPECT_EQ(mo.enumeratorCount() - mo.enumeratorOffset(), int(kEnums.size()));
    for (const auto &[name, values] : kEnums) {
        SCOPED_TRACE(name);
        const int index = mo.indexOfEnumerator(name.c_str());
        ASSERT_GE(index, 0);
        const QMetaEnum e = mo.enumerator(index);
        ASSERT_EQ(e.keyCount(), int(values.size()));
        for (int i = 0; i < e.keyCount(); ++i) {
            EXPECT_STREQ(e.key(i), values[size_t(i)].first.c_str());
            EXPECT_EQ(e.value(i), values[size_t(i)].second) << e.key(i);
        }
    }
}

namespace {

// The members only a window has: they stay on TolComm.
const std::vector<std::string> kWindowOnly = { "BackColor", "BorderStyle", "Enabled", "Font", "ForeColor", "hwnd",
    "AutoScroll", "AutoSend", "AutoScrollColumn", "AutoScrollKeyboard", "AutoScrollRow", "AutoSize", "CaptureFilename",
    "CaptureMode", "ColorFilter", "Columns", "Contents", "CursorColumn", "CursorRow", "Display", "DisplayLine",
    "Emulation", "FillModemCombo", "FillModemList", "Rows", "ScrollContents", "ScrollRows", "SelLength", "SelStart",
    "SelText", "BackSpace", "EndOfLineMode" };

bool windowOnly(const char *name)
{
    return std::find(kWindowOnly.begin(), kWindowOnly.end(), name) != kWindowOnly.end();
}

} // namespace

TEST(TolCommCoreContract, core_has_every_non_visual_property_in_the_same_order_and_access)
{
    const QMetaObject &widget = TolComm::staticMetaObject;
    const QMetaObject &core = TolCommCore::staticMetaObject;
    std::vector<std::string> expected;
    for (int i = widget.propertyOffset(); i < widget.propertyCount(); ++i) {
        if (!windowOnly(widget.property(i).name()))
            expected.push_back(widget.property(i).name());
    }
    std::vector<std::string> got;
    for (int i = core.propertyOffset(); i < core.propertyCount(); ++i)
        got.push_back(core.property(i).name());
    EXPECT_EQ(got, expected);
    for (const std::string &name : got) {
        SCOPED_TRACE(name);
        const QMetaProperty w = widget.property(widget.indexOfProperty(name.c_str()));
        const QMetaProperty c = core.property(core.indexOfProperty(name.c_str()));
        EXPECT_EQ(c.isReadable(), w.isReadable());
        EXPECT_EQ(c.isWritable(), w.isWritable());
        EXPECT_EQ(c.isEnumType(), w.isEnumType());
        if (c.isEnumType())
            EXPECT_STREQ(c.enumerator().name(), w.enumerator().name());
        else
            EXPECT_EQ(c.metaType(), w.metaType());
    }
}

TEST(TolCommCoreContract, core_methods_signals_and_enumerations_match_the_control)
{
    const QMetaObject &widget = TolComm::staticMetaObject;
    const QMetaObject &core = TolCommCore::staticMetaObject;
    for (const char *method : { "HandleCommEvent()", "HandleEvent(int,int)", "WaitForInput(int)", "lastError()",
             "lastErrorDescription()", "clearError()", "lastOpenError()" }) {
        SCOPED_TRACE(method);
        EXPECT_GE(core.indexOfMethod(method), core.methodOffset());
        EXPECT_GE(widget.indexOfMethod(method), widget.methodOffset());
    }
    EXPECT_LT(core.indexOfMethod("About()"), 0);
    // The comm events, in the event interface's order, then the run-time error.
    int last = -1;
    for (const std::string &sig : kEvents) {
        const int index = core.indexOfSignal(sig.c_str());
        if (sig == "Click()")
            break;
        SCOPED_TRACE(sig);
        ASSERT_GE(index, core.methodOffset());
        EXPECT_GT(index, last);
        last = index;
    }
    EXPECT_GT(core.indexOfSignal("RuntimeError(int,QString)"), last);
    EXPECT_LT(core.indexOfSignal("Click()"), 0);
    for (int i = core.enumeratorOffset(); i < core.enumeratorCount(); ++i) {
        const QMetaEnum c = core.enumerator(i);
        SCOPED_TRACE(c.name());
        const int wi = widget.indexOfEnumerator(c.name());
        ASSERT_GE(wi, 0);
        const QMetaEnum w = widget.enumerator(wi);
        ASSERT_EQ(c.keyCount(), w.keyCount());
        for (int k = 0; k < c.keyCount(); ++k) {
            EXPECT_STREQ(c.key(k), w.key(k));
            EXPECT_EQ(c.value(k), w.value(k));
        }
    }
}

TEST(TolCommCoreContract, the_widget_keeps_no_state_of_its_own_for_the_cores_members)
{
    TolComm comm;
    TolCommCore *core = comm.core();
    ASSERT_NE(core, nullptr);
    EXPECT_EQ(comm.property("CommHandle").toUInt(), core->property("CommHandle").toUInt());
    comm.setProperty("Settings", "19200,e,7,1");
    comm.setProperty("LookUpText", "OK|ERROR");
    comm.setProperty("IgnoreOnComm", true);
    EXPECT_EQ(core->property("Settings").toString(), "19200,e,7,1");
    EXPECT_EQ(core->property("LookUpText").toString(), "OK|ERROR");
    EXPECT_TRUE(core->property("IgnoreOnComm").toBool());
    core->setProperty("Handshaking", 2);
    EXPECT_EQ(comm.property("Handshaking").toInt(), 2);
    // A run-time error raised on either shows on both, and reaches the widget's signal once.
    int raised = 0;
    QObject::connect(&comm, &TolComm::RuntimeError, [&] { ++raised; });
    core->setProperty("Interval", 0);
    EXPECT_EQ(comm.lastError(), 380);
    comm.setProperty("Columns", 0);
    EXPECT_EQ(core->lastError(), 380);
    EXPECT_EQ(raised, 2);
}
