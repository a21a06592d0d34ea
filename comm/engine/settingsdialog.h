// Pure helpers of the port settings dialog, kept apart so tests drive them
// without showing the dialog.
#pragma once

#include <cstdint>
#include <string>

namespace tolcom {

extern const int32_t kDialogBauds[8];
// Radio button of a rate; any other rate shows as 38400.
int dialogBaudIndex(int32_t baud);
// "%ld,%c,%d,%s": what OK hands to SetSettings.
std::string dialogSettingsText(int32_t baud, int32_t parity, int32_t dataBits, int32_t stopBits);
// Flow choice (0 Xon/Xoff, 1 Hardware, 2 None) to the Handshaking value.
int32_t dialogHandshaking(int flowChoice);

} // namespace tolcom
