// The port map reader: any text gives entries that are well formed (a port in
// range, a host, a TCP port) and one problem line per ignored line.
#include "portmap.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string_view text(reinterpret_cast<const char *>(data), size);
    const tolcom::PortMap map = tolcom::parsePortMap(text);
    for (const auto &[com, target] : map.ports) {
        if (com < 1 || com > 32767 || target.host.empty() || target.port == 0 || target.line < 1)
            std::abort();
        // What the settings dialog shows must read back as the same entry.
        int again = 0;
        tolcom::PortTarget back;
        std::string why;
        const std::string line = "COM" + std::to_string(com) + "=" + target.url();
        if (tolcom::parsePortMapLine(line, again, back, why) != tolcom::MapLine::Entry || again != com
            || back.url() != target.url())
            std::abort();
    }
    return 0;
}
