// Fuzzes the settings string: a refused text changes nothing, an accepted one
// leaves values inside their tables and prints back to an equal setting.
#include "textforms.h"

#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    using namespace tolcom;
    const std::string_view text(reinterpret_cast<const char *>(data), size);
    SerialSettings s;
    const SerialSettings before = s;
    if (!parseSettings(text, s)) {
        if (s.baud != before.baud || s.parity != before.parity || s.dataBits != before.dataBits
            || s.stopBits != before.stopBits)
            std::abort();
        return 0;
    }
    if (s.baud < 0 || s.parity < 0 || s.parity > 4 || s.dataBits < 4 || s.dataBits > 8 || s.stopBits < 0
        || s.stopBits > 2)
        std::abort();
    const std::string printed = formatSettings(s);
    if (printed.size() <= 19) {
        SerialSettings again;
        if (!parseSettings(printed, again) || again.baud != s.baud || again.parity != s.parity
            || again.dataBits != s.dataBits || again.stopBits != s.stopBits)
            std::abort();
    }
    return 0;
}
