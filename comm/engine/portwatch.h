// The engine's diagnostic log portwatch.log: diagnostics, call traces, status
// dumps, data dumps and event records in one binary file.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tolcom::portwatch {

enum Kind : uint16_t { Diagnostic = 0, CallTrace = 1, Dump = 2, Event = 4 };

// Process-wide trace switches (SetPortWatch).
enum Switch : int32_t { Warnings = 1, Calls = 2, Input = 4, Output = 8, Events = 16 };

constexpr uint32_t kMagic = 0xA9300565u;
constexpr uint32_t kVersion = 0x00010000u;
constexpr uint32_t kHeaderSize = 16;

void setSwitches(int32_t flags);
int32_t switches();
inline bool on(Switch s)
{
    return (switches() & s) != 0;
}

// Folder: $TOLCOM_LOG_DIR, else $XDG_STATE_HOME, else ~/.local/state.
std::string logPath();

// Appends one record. A file that is not ours is left alone.
void write(Kind kind, std::string_view objectName, std::string_view text, std::string_view data = {});

inline void diag(std::string_view objectName, std::string_view text)
{
    write(Diagnostic, objectName, text);
}

// "Ouput: %d bytes " / "Input: %d bytes " and two hex digits and a blank per
// byte, a new record after about 50 characters.
void hexDump(std::string_view objectName, std::string_view label, const char *bytes, size_t len);

} // namespace tolcom::portwatch
