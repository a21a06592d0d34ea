// Pure text forms of the engine: the settings string, look-up lists and their
// matching, modem records and the modem list. No device, no Qt.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tolcom {

// Framing fields of a comm object, as the settings string sets them.
struct SerialSettings {
    int32_t baud = 9600;
    int32_t parity = 0; // 0 n, 1 o, 2 e, 3 m, 4 s
    int32_t dataBits = 8; // 4..8
    int32_t stopBits = 0; // 0 one, 1 one and a half, 2 two
};

// Parses "baud,parity,data,stop" into settings; empty fields keep their value.
// Returns false, leaving settings untouched, when any part does not parse.
bool parseSettings(std::string_view text, SerialSettings &settings);
// "9600,n,8,2"; a value outside the tables prints as an empty field.
std::string formatSettings(const SerialSettings &settings);

// Most strings one look-up list contributes.
constexpr size_t kMaxLookUps = 50;

enum class LookUpListStatus { Ok, TooMany, Unterminated };

// Reads a block of NUL-terminated strings ended by an empty string, at most
// size bytes of it. TooMany: the first kMaxLookUps were taken and the rest
// ignored. Unterminated: the block ran past size without its empty string;
// out is then empty.
LookUpListStatus readLookUpList(const char *block, size_t size, std::vector<std::string> &out);

// Sliding-window matcher: feed received bytes one by one; each call answers
// the index of the first string (in list order, ignoring case) that the last
// received bytes spell, or -1.
class LookUpMatcher {
public:
    explicit LookUpMatcher(std::vector<std::string> strings);
    int feed(char byte);
    void reset() { m_window.clear(); }
    size_t windowLength() const { return m_maxLen; }

private:
    std::vector<std::string> m_strings;
    std::string m_window;
    size_t m_maxLen = 0;
};

// Modem record: title, init, tone dial, pulse dial, answer, hang-up, max speed.
struct ModemOptions {
    enum Field { Title, Init, ToneDial, PulseDial, Answer, HangUp, MaxSpeed, FieldCount };
    std::array<std::string, FieldCount> fields;

    static ModemOptions builtIn();
    // Every byte below 32 (tab, CR, LF included) ends a field; missing fields are empty.
    static ModemOptions fromText(std::string_view text);
    std::string toText() const;
    bool operator==(const ModemOptions &) const = default;
};

// Longest line of the modem list; the rest of a longer line is dropped.
constexpr size_t kModemLineMax = 199;

// Splits the modem list into lines (LF, CR LF or CR), each cut at kModemLineMax.
// A final line without a line end counts; an empty file has no lines.
std::vector<std::string> readModemListLines(std::string_view content);

} // namespace tolcom
