// The Telnet side of a network serial server that speaks the COM-port option
// (RFC 2217): option negotiation, the data stream with its IAC escapes, the
// commands that set the remote port, and the line- and modem-state notices
// that come back. Pure byte work, no sockets, so it can be tested and fuzzed
// alone.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace tolcom {

class TelnetCodec {
public:
    // Telnet bytes and options used here.
    enum : uint8_t {
        IAC = 255,
        DONT = 254,
        DO = 253,
        WONT = 252,
        WILL = 251,
        SB = 250,
        SE = 240,
        OptBinary = 0,
        OptEcho = 1,
        OptSga = 3,
        OptComPort = 44,
    };
    // COM-port option commands (client to server; the server's own codes,
    // answers and requests alike, are these plus 100).
    enum : uint8_t {
        CpSignature = 0,
        CpSetBaud = 1,
        CpSetDataSize = 2,
        CpSetParity = 3,
        CpSetStopSize = 4,
        CpSetControl = 5,
        CpNotifyLineState = 6,
        CpNotifyModemState = 7,
        CpFlowSuspend = 8,
        CpFlowResume = 9,
        CpSetLineStateMask = 10,
        CpSetModemStateMask = 11,
        CpPurgeData = 12,
    };
    // SET-CONTROL values.
    enum : uint8_t {
        CtlNoFlow = 1,
        CtlXonXoff = 2,
        CtlHardware = 3,
        CtlBreakOn = 5,
        CtlBreakOff = 6,
        CtlDtrOn = 8,
        CtlDtrOff = 9,
        CtlRtsOn = 11,
        CtlRtsOff = 12,
    };

    // What a client sends first: it will do the COM-port option and binary
    // transmission both ways, and suppress go-ahead.
    std::string greeting();

    // Takes bytes from the server: data goes to data (escapes undone), the
    // replies negotiation needs go to reply (send them). Never grows without
    // bound: a subnegotiation longer than any real one is cut.
    void feed(const char *bytes, size_t len, std::string &data, std::string &reply);

    // Data for the server, with IAC doubled.
    static std::string escape(const char *bytes, size_t len);
    // IAC SB COM-PORT cmd value... IAC SE, with IAC in the value doubled.
    static std::string comPortCommand(uint8_t cmd, const std::string &value);
    static std::string comPortCommand(uint8_t cmd, uint8_t value);
    static std::string baudCommand(uint32_t baud);

    // Every line-state error (break, framing, parity, overrun) and every
    // modem-line change: the masks sent once the server agrees.
    static constexpr uint8_t kLineStateMask = 0x1e;
    static constexpr uint8_t kModemStateMask = 0xff;
    // What the client answers when the server asks for its signature.
    static constexpr const char *kSignature = "tolcom32";

    // The server agreed to the COM-port option (it sent DO COM-PORT). Until
    // then no COM-port command may go to it; when it does, feed() puts the
    // notice masks into the reply.
    bool comPortAccepted() const { return m_comPortAccepted; }
    // The server refused it (DONT COM-PORT).
    bool comPortRefused() const { return m_comPortRefused; }
    // Latest NOTIFY-MODEMSTATE byte (bit 7 carrier, 6 ring, 5 DSR, 4 CTS).
    bool modemStateKnown() const { return m_modemStateKnown; }
    uint8_t modemState() const { return m_modemState; }
    // NOTIFY-LINESTATE bits seen since the last call (bit 4 break, 3 framing,
    // 2 parity, 1 overrun).
    uint8_t takeLineState()
    {
        const uint8_t s = m_lineState;
        m_lineState = 0;
        return s;
    }
    // The signature text the server sent of its own accord ("" before any).
    const std::string &serverSignature() const { return m_serverSignature; }
    // Baud rate the server last confirmed (0 before any).
    uint32_t confirmedBaud() const { return m_confirmedBaud; }
    // Negotiation replies refused because the server kept asking (a loop).
    int refusedRequests() const { return m_refused; }

private:
    enum class State { Data, Iac, Verb, Sub, SubIac };
    void negotiate(uint8_t verb, uint8_t option, std::string &reply);
    void subnegotiation(std::string &reply);
    static bool weWill(uint8_t option);
    static bool heMay(uint8_t option);

    State m_state = State::Data;
    uint8_t m_verb = 0;
    std::string m_sub;
    bool m_subOverflow = false;
    bool m_us[256] = {}; // options we do
    bool m_him[256] = {}; // options the server does
    int m_answers[256] = {}; // replies sent per option, to stop a loop
    int m_refused = 0;
    bool m_comPortAccepted = false;
    bool m_comPortRefused = false;
    bool m_modemStateKnown = false;
    uint8_t m_modemState = 0;
    uint8_t m_lineState = 0;
    uint32_t m_confirmedBaud = 0;
    std::string m_serverSignature;
};

} // namespace tolcom
