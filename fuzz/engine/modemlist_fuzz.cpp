// Fuzzes the modem list line reader and the record's text form: lines stay
// within their length, and every record survives its own text form.
#include "textforms.h"

#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    using namespace tolcom;
    const std::string_view content(reinterpret_cast<const char *>(data), size);
    for (const std::string &line : readModemListLines(content)) {
        if (line.size() > kModemLineMax || line.find('\n') != std::string::npos)
            std::abort();
        const ModemOptions m = ModemOptions::fromText(line);
        if (!(ModemOptions::fromText(m.toText()) == m))
            std::abort();
    }
    return 0;
}
