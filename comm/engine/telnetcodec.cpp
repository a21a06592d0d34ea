// Telnet with the COM-port option (see telnetcodec.h).
#include "telnetcodec.h"

namespace tolcom {
namespace {

constexpr size_t kLongestSub = 256;
// A server that asks about the same option more often than this is looping;
// further requests are not answered.
constexpr int kMostAnswers = 16;
constexpr size_t kLongestSignature = 64;

std::string bytes(std::initializer_list<uint8_t> list)
{
    std::string s;
    for (uint8_t b : list)
        s.push_back(char(b));
    return s;
}

} // namespace

std::string TelnetCodec::greeting()
{
    m_us[OptComPort] = m_us[OptBinary] = m_us[OptSga] = true;
    m_him[OptBinary] = m_him[OptSga] = true;
    return bytes({IAC, WILL, OptComPort, IAC, WILL, OptBinary, IAC, DO, OptBinary, IAC, WILL, OptSga, IAC, DO, OptSga});
}

bool TelnetCodec::weWill(uint8_t option)
{
    return option == OptBinary || option == OptSga || option == OptComPort;
}

bool TelnetCodec::heMay(uint8_t option)
{
    // Never ECHO: the server would send our commands back as answers.
    return option == OptBinary || option == OptSga;
}

void TelnetCodec::negotiate(uint8_t verb, uint8_t option, std::string &reply)
{
    // Answer only a change of state (RFC 1143's rule, simplified): a request
    // for what is already so is an acknowledgement and gets no answer, which
    // is what keeps two ends from answering each other for ever.
    auto answer = [&](uint8_t v) {
        if (++m_answers[option] > kMostAnswers) {
            ++m_refused;
            return;
        }
        reply += bytes({IAC, v, option});
    };
    switch (verb) {
    case DO:
        if (option == OptComPort && !m_comPortAccepted) {
            m_comPortAccepted = true;
            m_comPortRefused = false;
            // Subnegotiation is allowed only once both ends agreed to the
            // option (RFC 855): the notice masks go now, and again each time
            // the server agrees anew, never before.
            reply += comPortCommand(CpSetLineStateMask, kLineStateMask);
            reply += comPortCommand(CpSetModemStateMask, kModemStateMask);
        }
        if (weWill(option)) {
            if (!m_us[option]) {
                m_us[option] = true;
                answer(WILL);
            }
        } else {
            answer(WONT);
        }
        break;
    case DONT:
        if (option == OptComPort) {
            m_comPortRefused = true;
            m_comPortAccepted = false;
        }
        if (m_us[option]) {
            m_us[option] = false;
            answer(WONT);
        }
        break;
    case WILL:
        if (heMay(option)) {
            if (!m_him[option]) {
                m_him[option] = true;
                answer(DO);
            }
        } else {
            answer(DONT);
        }
        break;
    case WONT:
        if (m_him[option]) {
            m_him[option] = false;
            answer(DONT);
        }
        break;
    default:
        break;
    }
}

void TelnetCodec::subnegotiation(std::string &reply)
{
    if (m_subOverflow || m_sub.size() < 2 || uint8_t(m_sub[0]) != OptComPort)
        return;
    const uint8_t cmd = uint8_t(m_sub[1]);
    const std::string value = m_sub.substr(2);
    switch (cmd) {
    case CpSignature + 100:
        // The server's own codes are the client's plus 100. Without text it
        // asks who we are, and the answer goes in the client's code, 0; with
        // text it tells us who it is.
        if (value.empty())
            reply += comPortCommand(CpSignature, std::string(kSignature));
        else
            m_serverSignature = value.substr(0, kLongestSignature);
        break;
    case CpSetBaud + 100:
        if (value.size() == 4) {
            m_confirmedBaud = uint32_t(uint8_t(value[0])) << 24 | uint32_t(uint8_t(value[1])) << 16
                | uint32_t(uint8_t(value[2])) << 8 | uint32_t(uint8_t(value[3]));
        }
        break;
    case CpNotifyLineState + 100:
        if (!value.empty())
            m_lineState |= uint8_t(value[0]);
        break;
    case CpNotifyModemState + 100:
        if (!value.empty()) {
            m_modemState = uint8_t(value[0]);
            m_modemStateKnown = true;
        }
        break;
    default:
        break;
    }
}

void TelnetCodec::feed(const char *in, size_t len, std::string &data, std::string &reply)
{
    for (size_t i = 0; i < len; ++i) {
        const uint8_t b = uint8_t(in[i]);
        switch (m_state) {
        case State::Data:
            if (b == IAC)
                m_state = State::Iac;
            else
                data.push_back(char(b));
            break;
        case State::Iac:
            if (b == IAC) {
                data.push_back(char(b));
                m_state = State::Data;
            } else if (b == WILL || b == WONT || b == DO || b == DONT) {
                m_verb = b;
                m_state = State::Verb;
            } else if (b == SB) {
                m_sub.clear();
                m_subOverflow = false;
                m_state = State::Sub;
            } else {
                // NOP, GA, AYT and the rest carry nothing for a serial line.
                m_state = State::Data;
            }
            break;
        case State::Verb:
            negotiate(m_verb, b, reply);
            m_state = State::Data;
            break;
        case State::Sub:
            if (b == IAC) {
                m_state = State::SubIac;
            } else if (m_sub.size() < kLongestSub) {
                m_sub.push_back(char(b));
            } else {
                m_subOverflow = true;
            }
            break;
        case State::SubIac:
            if (b == SE) {
                subnegotiation(reply);
                m_state = State::Data;
            } else {
                // IAC IAC is a 255 inside the value; anything else is kept
                // as it comes, as lenient servers expect.
                if (m_sub.size() < kLongestSub)
                    m_sub.push_back(char(b));
                else
                    m_subOverflow = true;
                m_state = State::Sub;
            }
            break;
        }
    }
}

std::string TelnetCodec::escape(const char *in, size_t len)
{
    std::string out;
    out.reserve(len + 8);
    for (size_t i = 0; i < len; ++i) {
        out.push_back(in[i]);
        if (uint8_t(in[i]) == IAC)
            out.push_back(in[i]);
    }
    return out;
}

std::string TelnetCodec::comPortCommand(uint8_t cmd, const std::string &value)
{
    std::string s = bytes({IAC, SB, OptComPort, cmd});
    s += escape(value.data(), value.size());
    s += bytes({IAC, SE});
    return s;
}

std::string TelnetCodec::comPortCommand(uint8_t cmd, uint8_t value)
{
    return comPortCommand(cmd, std::string(1, char(value)));
}

std::string TelnetCodec::baudCommand(uint32_t baud)
{
    std::string v;
    v.push_back(char(baud >> 24));
    v.push_back(char(baud >> 16));
    v.push_back(char(baud >> 8));
    v.push_back(char(baud));
    return comPortCommand(CpSetBaud, v);
}

} // namespace tolcom
