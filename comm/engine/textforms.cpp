// Pure text forms of the engine: settings string, look-up lists, modem records.
#include "textforms.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace tolcom {
namespace {

constexpr const char *kParityLetters[] = { "n", "o", "e", "m", "s" };
constexpr const char *kStopNames[] = { "1", "1.5", "2" };

char lower(char c)
{
    return char(std::tolower(static_cast<unsigned char>(c)));
}

class Cursor {
public:
    explicit Cursor(std::string s)
        : m_s(std::move(s))
    {
    }
    void skipBlanks()
    {
        while (m_pos < m_s.size() && (m_s[m_pos] == ' ' || m_s[m_pos] == '\t'))
            ++m_pos;
    }
    bool atEnd() const { return m_pos >= m_s.size(); }
    // An empty field: the next character is the separator, or the text ended.
    bool fieldEmpty() const { return atEnd() || m_s[m_pos] == ','; }
    bool take(std::string_view token)
    {
        if (m_s.compare(m_pos, token.size(), token) == 0) {
            m_pos += token.size();
            return true;
        }
        return false;
    }
    char peek() const { return atEnd() ? '\0' : m_s[m_pos]; }
    void advance() { ++m_pos; }
    // After a field: blanks, then a comma (consumed) or the end.
    bool endField()
    {
        skipBlanks();
        if (atEnd())
            return true;
        if (m_s[m_pos] == ',') {
            ++m_pos;
            return true;
        }
        return false;
    }

private:
    std::string m_s;
    size_t m_pos = 0;
};

} // namespace

bool parseSettings(std::string_view text, SerialSettings &settings)
{
    std::string s(text.substr(0, std::min<size_t>(text.size(), 19)));
    // A NUL inside the text ends it, as it would for a C string.
    if (const auto nul = s.find('\0'); nul != std::string::npos)
        s.resize(nul);
    std::transform(s.begin(), s.end(), s.begin(), lower);
    Cursor c(std::move(s));
    SerialSettings next = settings;

    // Baud: a run of digits.
    c.skipBlanks();
    if (!c.fieldEmpty()) {
        if (!std::isdigit(static_cast<unsigned char>(c.peek())))
            return false;
        int64_t baud = 0;
        while (std::isdigit(static_cast<unsigned char>(c.peek()))) {
            baud = baud * 10 + (c.peek() - '0');
            // A rate past the 32-bit range would wrap: refuse it.
            if (baud > INT32_MAX)
                return false;
            c.advance();
        }
        next.baud = int32_t(baud);
    }
    if (!c.endField())
        return false;

    // Parity: one letter; only that letter is consumed.
    c.skipBlanks();
    if (!c.fieldEmpty()) {
        int parity = -1;
        for (int i = 0; i < 5; ++i) {
            if (c.take(kParityLetters[i])) {
                parity = i;
                break;
            }
        }
        if (parity < 0)
            return false;
        next.parity = parity;
    }
    if (!c.endField())
        return false;

    // Data bits.
    c.skipBlanks();
    if (!c.fieldEmpty()) {
        const char d = c.peek();
        if (d < '4' || d > '8')
            return false;
        next.dataBits = d - '0';
        c.advance();
    }
    if (!c.endField())
        return false;

    // Stop bits: "1.5" before "1", or "1" would leave ".5" behind.
    c.skipBlanks();
    if (!c.fieldEmpty()) {
        if (c.take("1.5"))
            next.stopBits = 1;
        else if (c.take("1"))
            next.stopBits = 0;
        else if (c.take("2"))
            next.stopBits = 2;
        else
            return false;
    }
    c.skipBlanks();
    if (!c.atEnd())
        return false;
    settings = next;
    return true;
}

std::string formatSettings(const SerialSettings &s)
{
    std::string out = std::to_string(s.baud);
    out += ',';
    if (s.parity >= 0 && s.parity <= 4)
        out += kParityLetters[s.parity];
    out += ',';
    if (s.dataBits >= 4 && s.dataBits <= 8)
        out += char('0' + s.dataBits);
    out += ',';
    if (s.stopBits >= 0 && s.stopBits <= 2)
        out += kStopNames[s.stopBits];
    return out;
}

LookUpListStatus readLookUpList(const char *block, size_t size, std::vector<std::string> &out)
{
    out.clear();
    if (!block)
        return LookUpListStatus::Unterminated;
    size_t pos = 0;
    while (pos < size) {
        const void *nul = std::memchr(block + pos, '\0', size - pos);
        if (!nul)
            break;
        const size_t len = size_t(static_cast<const char *>(nul) - (block + pos));
        if (len == 0)
            return LookUpListStatus::Ok;
        if (out.size() == kMaxLookUps)
            return LookUpListStatus::TooMany;
        out.emplace_back(block + pos, len);
        pos += len + 1;
    }
    out.clear();
    return LookUpListStatus::Unterminated;
}

LookUpMatcher::LookUpMatcher(std::vector<std::string> strings)
    : m_strings(std::move(strings))
{
    for (auto &s : m_strings) {
        std::transform(s.begin(), s.end(), s.begin(), lower);
        m_maxLen = std::max(m_maxLen, s.size());
    }
    m_window.reserve(m_maxLen + 1);
}

int LookUpMatcher::feed(char byte)
{
    if (m_maxLen == 0)
        return -1;
    if (m_window.size() == m_maxLen)
        m_window.erase(m_window.begin());
    m_window.push_back(lower(byte));
    for (size_t i = 0; i < m_strings.size(); ++i) {
        const std::string &s = m_strings[i];
        if (s.empty() || s.size() > m_window.size())
            continue;
        if (m_window.compare(m_window.size() - s.size(), s.size(), s) == 0)
            return int(i);
    }
    return -1;
}

ModemOptions ModemOptions::builtIn()
{
    ModemOptions m;
    m.fields = { "Hayes Compatible", "ATX4E1V1S7=60&C1^M", "ATDT", "ATDP", "ATS0=2^M", "~~+++~~ATH0^M", "14400" };
    return m;
}

ModemOptions ModemOptions::fromText(std::string_view text)
{
    ModemOptions m;
    size_t field = 0;
    for (const char ch : text) {
        if (static_cast<unsigned char>(ch) < 32) {
            if (++field == FieldCount)
                break;
            continue;
        }
        if (m.fields[field].size() < kModemLineMax)
            m.fields[field] += ch;
    }
    return m;
}

std::string ModemOptions::toText() const
{
    std::string out;
    for (size_t i = 0; i < FieldCount; ++i) {
        if (i)
            out += '\t';
        out += fields[i];
    }
    return out;
}

std::vector<std::string> readModemListLines(std::string_view content)
{
    std::vector<std::string> lines;
    size_t pos = 0;
    while (pos < content.size()) {
        size_t end = pos;
        while (end < content.size() && content[end] != '\n' && content[end] != '\r')
            ++end;
        lines.emplace_back(content.substr(pos, std::min(end - pos, kModemLineMax)));
        if (end < content.size() && content[end] == '\r' && end + 1 < content.size() && content[end + 1] == '\n')
            ++end;
        pos = end + 1;
    }
    return lines;
}

} // namespace tolcom
