// Hayes command set emulation: the subset that dialing software relies on.
#include "hayesmodem.h"

#include <cctype>

namespace modememu {

HayesModem::HayesModem(const exel::Clock &clock)
    : m_clock(clock)
    , m_s(100, 0)
{
    m_s[2] = '+';
    m_s[3] = '\r';
    m_s[4] = '\n';
    m_s[5] = 8;
    m_s[7] = 50;
}

bool HayesModem::parseOutcome(std::string_view text, Outcome &outcome)
{
    if (text == "connect")
        outcome = Outcome::Connect;
    else if (text == "no-carrier")
        outcome = Outcome::NoCarrier;
    else if (text == "no-dialtone")
        outcome = Outcome::NoDialtone;
    else if (text == "busy")
        outcome = Outcome::Busy;
    else if (text == "silence")
        outcome = Outcome::Silence;
    else
        return false;
    return true;
}

void HayesModem::result(Result r)
{
    if (m_quiet)
        return;
    if (!m_verbose) {
        m_toDte += std::to_string(int(r)) + "\r";
        return;
    }
    const char *text = "OK";
    switch (r) {
    case Ok:
        text = "OK";
        break;
    case Connect:
        text = "CONNECT";
        break;
    case Ring:
        text = "RING";
        break;
    case NoCarrier:
        text = "NO CARRIER";
        break;
    case Error:
        text = "ERROR";
        break;
    case NoDialtone:
        text = "NO DIALTONE";
        break;
    case Busy:
        text = "BUSY";
        break;
    }
    m_toDte += "\r\n";
    m_toDte += text;
    if (r == Connect)
        m_toDte += " " + std::to_string(m_speed);
    m_toDte += "\r\n";
}

void HayesModem::fromDte(std::string_view bytes)
{
    const int64_t now = m_clock.nowMs();
    for (const char ch : bytes) {
        if (m_state == State::Online) {
            if (ch == char(m_s[2])) {
                const bool guarded = m_plusCount == 0 ? now - m_lastDteMs >= m_guardMs : now - m_lastPlusMs < m_guardMs;
                if (guarded && m_plusCount < 3) {
                    ++m_plusCount;
                    m_lastPlusMs = now;
                    m_lastDteMs = now;
                    continue;
                }
            }
            releaseEscape();
            m_toLine += ch;
            m_lastDteMs = now;
            continue;
        }
        m_lastDteMs = now;
        if (m_state == State::Dialing) {
            // Any character aborts a dial in progress.
            m_state = State::Command;
            if (m_outcome != Outcome::Silence)
                result(NoCarrier);
            continue;
        }
        commandByte(ch);
    }
}

void HayesModem::releaseEscape()
{
    m_toLine.append(size_t(m_plusCount), char(m_s[2]));
    m_plusCount = 0;
}

void HayesModem::commandByte(char ch)
{
    if (m_echo)
        m_toDte += ch;
    if (ch == char(m_s[3])) {
        std::string line;
        line.swap(m_line);
        runLine(line);
        return;
    }
    if (ch == char(m_s[5])) {
        if (!m_line.empty())
            m_line.pop_back();
        return;
    }
    if (ch == '\n' || m_line.size() >= 255)
        return;
    m_line += ch;
}

void HayesModem::runLine(const std::string &raw)
{
    std::string line;
    for (const char c : raw) {
        if (c != ' ')
            line += c;
    }
    if (line.size() < 2 || std::toupper(static_cast<unsigned char>(line[0])) != 'A'
        || std::toupper(static_cast<unsigned char>(line[1])) != 'T') {
        if (!line.empty())
            result(Error);
        return;
    }
    const std::string cmds = line.substr(2);
    m_commands.push_back(cmds);
    if (runCommands(cmds))
        result(Ok);
}

// Runs the commands of one line; false when the result was already given.
bool HayesModem::runCommands(const std::string &cmds)
{
    size_t i = 0;
    auto number = [&](int fallback) {
        if (i >= cmds.size() || !std::isdigit(static_cast<unsigned char>(cmds[i])))
            return fallback;
        int v = 0;
        while (i < cmds.size() && std::isdigit(static_cast<unsigned char>(cmds[i])) && v < 100000)
            v = v * 10 + (cmds[i++] - '0');
        return v;
    };
    while (i < cmds.size()) {
        const char c = char(std::toupper(static_cast<unsigned char>(cmds[i++])));
        switch (c) {
        case 'E':
            m_echo = number(0) != 0;
            break;
        case 'V':
            m_verbose = number(0) != 0;
            break;
        case 'Q':
            m_quiet = number(0) != 0;
            break;
        case 'X':
        case 'L':
        case 'M':
        case 'B':
        case 'W':
        case 'Y':
        case 'N':
            number(0);
            break;
        case 'I':
            number(0);
            m_toDte += "\r\nHayes modem emulator\r\n";
            break;
        case 'Z':
            number(0);
            m_echo = true;
            m_verbose = true;
            m_quiet = false;
            m_dtrMode = 2;
            m_s.assign(100, 0);
            m_s[2] = '+';
            m_s[3] = '\r';
            m_s[4] = '\n';
            m_s[5] = 8;
            m_s[7] = 50;
            break;
        case 'H':
            if (number(0) != 0)
                return result(Error), false;
            hangUp();
            break;
        case 'O':
            number(0);
            if (!carrier())
                return result(NoCarrier), false;
            m_state = State::Online;
            result(Connect);
            return false;
        case 'A':
            if (carrier())
                return result(Error), false;
            if (!m_ringing)
                return result(NoCarrier), false;
            connect();
            return false;
        case 'D': {
            if (carrier())
                return result(Error), false;
            std::string number;
            for (; i < cmds.size(); ++i) {
                const char d = char(std::toupper(static_cast<unsigned char>(cmds[i])));
                if (std::isdigit(static_cast<unsigned char>(d)) || d == '*' || d == '#' || d == ',' || d == 'W'
                    || d == '@' || d == '!')
                    number += d;
                else if (d == 'T' || d == 'P' || d == '-' || d == '(' || d == ')')
                    continue;
                else if (d == ';')
                    break;
                else
                    return result(Error), false;
            }
            m_dialed = number;
            m_state = State::Dialing;
            m_dialAt = m_clock.nowMs() + m_dialDelayMs;
            poll();
            return false;
        }
        case 'S': {
            const int reg = number(-1);
            if (reg < 0 || reg >= 100)
                return result(Error), false;
            if (i < cmds.size() && cmds[i] == '=') {
                ++i;
                m_s[size_t(reg)] = number(0) & 0xFF;
            } else if (i < cmds.size() && cmds[i] == '?') {
                ++i;
                char buf[16];
                snprintf(buf, sizeof buf, "\r\n%03d\r\n", m_s[size_t(reg)]);
                m_toDte += buf;
            } else {
                return result(Error), false;
            }
            break;
        }
        case '&': {
            if (i >= cmds.size())
                return result(Error), false;
            const char what = char(std::toupper(static_cast<unsigned char>(cmds[i++])));
            const int v = number(0);
            if (what == 'D')
                m_dtrMode = v;
            else if (!std::isalpha(static_cast<unsigned char>(what)))
                return result(Error), false;
            break;
        }
        case '\\':
        case '%':
            if (i < cmds.size())
                ++i;
            number(0);
            break;
        case '+':
            // Extended commands are accepted as a whole.
            i = cmds.size();
            break;
        default:
            return result(Error), false;
        }
    }
    return true;
}

void HayesModem::connect()
{
    m_state = State::Online;
    m_ringing = false;
    m_plusCount = 0;
    m_lastDteMs = m_clock.nowMs();
    result(Connect);
}

void HayesModem::hangUp()
{
    if (m_state == State::Online || m_state == State::OnlineCommand || m_state == State::Dialing)
        m_state = State::Command;
    m_plusCount = 0;
}

void HayesModem::poll()
{
    const int64_t now = m_clock.nowMs();
    if (m_state == State::Dialing && now >= m_dialAt) {
        switch (m_outcome) {
        case Outcome::Connect:
            connect();
            break;
        case Outcome::NoCarrier:
            m_state = State::Command;
            result(NoCarrier);
            break;
        case Outcome::NoDialtone:
            m_state = State::Command;
            result(NoDialtone);
            break;
        case Outcome::Busy:
            m_state = State::Command;
            result(Busy);
            break;
        case Outcome::Silence:
            break; // stays dialing until a key aborts it
        }
    }
    if (m_state == State::Online && m_plusCount == 3 && now - m_lastPlusMs >= m_guardMs) {
        m_plusCount = 0;
        m_state = State::OnlineCommand;
        result(Ok);
    }
}

void HayesModem::fromLine(std::string_view bytes)
{
    if (m_state == State::Online)
        m_toDte.append(bytes);
}

void HayesModem::setDtr(bool on)
{
    if (!on && m_dtrMode == 2 && carrier()) {
        m_state = State::Command;
        m_plusCount = 0;
        result(NoCarrier);
    }
}

void HayesModem::lineDropped()
{
    if (carrier()) {
        m_state = State::Command;
        m_plusCount = 0;
        result(NoCarrier);
    }
}

void HayesModem::incomingCall()
{
    if (carrier())
        return;
    m_ringing = true;
    result(Ring);
    if (m_s[0] > 0)
        connect();
}

std::string HayesModem::takeToDte()
{
    std::string out;
    out.swap(m_toDte);
    return out;
}

std::string HayesModem::takeToLine()
{
    std::string out;
    out.swap(m_toLine);
    return out;
}

} // namespace modememu
