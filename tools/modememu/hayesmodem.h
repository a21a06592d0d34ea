// The core of the Hayes modem emulator: AT commands, dialing with a scripted
// outcome, the "+++" escape with guard times, and data passing once connected.
// No I/O of its own: the caller feeds bytes in and takes bytes out, so the
// same class runs in the emulator program and inside tests.
#pragma once

#include <clock.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace modememu {

class HayesModem {
public:
    enum class Outcome { Connect, NoCarrier, NoDialtone, Busy, Silence };
    enum class State { Command, Dialing, Online, OnlineCommand };

    explicit HayesModem(const exel::Clock &clock);

    void setOutcome(Outcome outcome) { m_outcome = outcome; }
    // Time between the dial command and its result.
    void setDialDelayMs(int ms) { m_dialDelayMs = ms; }
    // Guard time around "+++" (register S12, in ms here).
    void setGuardMs(int ms) { m_guardMs = ms; }
    void setConnectSpeed(int bps) { m_speed = bps; }

    // Bytes from the computer (the serial port side).
    void fromDte(std::string_view bytes);
    // Bytes from the far end; passed on only while online.
    void fromLine(std::string_view bytes);
    // Time-driven steps: dial results, the guard time after "+++".
    void poll();
    // DTR from the computer; with &D2 (the default) dropping it hangs up.
    void setDtr(bool on);
    // The far end went away.
    void lineDropped();
    // A call comes in: "RING", answered at once when S0 is not 0.
    void incomingCall();

    std::string takeToDte();
    std::string takeToLine();

    State state() const { return m_state; }
    bool carrier() const { return m_state == State::Online || m_state == State::OnlineCommand; }
    // Every command line received, without the "AT".
    const std::vector<std::string> &commands() const { return m_commands; }
    std::string dialed() const { return m_dialed; }
    int sRegister(int n) const { return (n >= 0 && n < 100) ? m_s[size_t(n)] : 0; }
    bool echo() const { return m_echo; }

    static bool parseOutcome(std::string_view text, Outcome &outcome);

private:
    enum Result { Ok = 0, Connect = 1, Ring = 2, NoCarrier = 3, Error = 4, NoDialtone = 6, Busy = 7 };
    void result(Result r);
    void commandByte(char ch);
    void runLine(const std::string &line);
    bool runCommands(const std::string &cmds);
    void hangUp();
    void connect();
    void releaseEscape();

    const exel::Clock &m_clock;
    Outcome m_outcome = Outcome::Connect;
    State m_state = State::Command;
    int m_dialDelayMs = 0;
    int m_guardMs = 1000;
    int m_speed = 9600;
    bool m_echo = true;
    bool m_verbose = true;
    bool m_quiet = false;
    int m_dtrMode = 2;
    bool m_ringing = false;
    int64_t m_dialAt = 0;
    std::string m_line;
    std::string m_toDte;
    std::string m_toLine;
    std::string m_dialed;
    std::vector<std::string> m_commands;
    std::vector<int> m_s;
    // Escape detection.
    int64_t m_lastDteMs = -1000000;
    int m_plusCount = 0;
    int64_t m_lastPlusMs = 0;
};

} // namespace modememu
